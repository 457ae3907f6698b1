#include "components/launcher.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace qmt {
namespace {

class SystemLauncher final : public AbstractLauncher
{
public:
    bool openDocument(const QUrl &url) override { return QDesktopServices::openUrl(url); }

    bool startDetached(const QString &program, const QStringList &arguments) override
    {
        return QProcess::startDetached(program, arguments);
    }

    RunResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        RunResult result;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForStarted(timeoutMs))
            return result;
        result.started = true;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(1000);
            result.output = QString::fromLocal8Bit(process.readAll());
            return result;
        }
        result.output = QString::fromLocal8Bit(process.readAll());
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return result;
    }

    bool hasProgram(const QString &program) override
    {
        return !QStandardPaths::findExecutable(program).isEmpty();
    }
};

AbstractLauncher *&installed()
{
    static AbstractLauncher *current = nullptr;
    return current;
}

} // namespace

AbstractLauncher &launcher()
{
    static SystemLauncher system;
    return installed() ? *installed() : system;
}

void setLauncher(AbstractLauncher *launcher) { installed() = launcher; }

} // namespace qmt
