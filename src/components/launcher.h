#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

namespace qmt {

// Outside programs and documents are started through this interface, so the tests can record
// what the program would have started instead of starting it.
class AbstractLauncher
{
public:
    struct RunResult {
        bool started = false;
        int exitCode = -1;
        QString output; // standard output and error together
    };

    virtual ~AbstractLauncher() = default;

    // A document (or folder) with the desktop's default application.
    virtual bool openDocument(const QUrl &url) = 0;
    // A program, detached from ours.
    virtual bool startDetached(const QString &program, const QStringList &arguments) = 0;
    // A helper command run to its end (wallpaper tools and the like); killed after timeoutMs.
    virtual RunResult run(const QString &program, const QStringList &arguments, int timeoutMs) = 0;
    // Whether a program of this name can be found on PATH.
    virtual bool hasProgram(const QString &program) = 0;
};

AbstractLauncher &launcher();
// Installs a launcher (not owned); nullptr brings back the system one.
void setLauncher(AbstractLauncher *launcher);

} // namespace qmt
