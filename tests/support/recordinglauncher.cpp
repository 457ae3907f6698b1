#include "support/recordinglauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace qmt::test {

RecordingLauncher::RecordingLauncher() { setLauncher(this); }
RecordingLauncher::~RecordingLauncher() { setLauncher(nullptr); }

bool RecordingLauncher::openDocument(const QUrl &url)
{
    m_calls.append({Call::Open, url.toString(), {}});
    return m_openResult;
}

bool RecordingLauncher::startDetached(const QString &program, const QStringList &arguments)
{
    m_calls.append({Call::Detached, program, arguments});
    return m_detachedResult;
}

AbstractLauncher::RunResult RecordingLauncher::run(const QString &program,
                                                   const QStringList &arguments, int timeoutMs)
{
    m_calls.append({Call::Run, program, arguments});
    if (m_runResults.contains(program))
        return m_runResults.value(program);
    RunResult result;
    if (!m_passThrough)
        return result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs))
        return result;
    result.started = true;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitCode();
    return result;
}

bool RecordingLauncher::hasProgram(const QString &program)
{
    if (m_availableSet)
        return m_available.contains(program);
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace qmt::test
