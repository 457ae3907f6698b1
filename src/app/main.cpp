#include "app/frmmain.h"
#include "app/handover.h"
#include "app/instanceserver.h"
#include "app/qtprompts.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "components/memorypolicy.h"
#include "components/sessionthumbnails.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

// A second start waits this long at most for the running program to take its command line.
constexpr int kHandOverTimeoutMs = 1500;

} // namespace

int main(int argc, char *argv[])
{
    qmt::applyMemoryPolicy();

    // A second start hands its command line to the running program and ends at once, silently,
    // whether or not the running program took it. It needs no window system for that.
    qmt::SingleInstance instance;
    if (!instance.acquire()) {
        QCoreApplication core(argc, argv);
        qmt::handOverStart(qmt::SingleInstance::socketPath(),
                           {QDir::currentPath(), qmt::commandLineFrom(core.arguments())},
                           kHandOverTimeoutMs);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(QMT_VERSION));

    // QMT_NONINTERACTIVE runs without any dialog: every question gets its cautious answer.
    qmt::QtPrompts qtPrompts;
    if (qEnvironmentVariableIsEmpty("QMT_NONINTERACTIVE"))
        qmt::setPrompts(&qtPrompts);

    const QString commandLine = qmt::commandLineFrom(app.arguments());
    // A start that only runs a switch ends soon: later starts are not handed to it.
    qmt::InstanceServer server;
    if (!qmt::decideStartup(commandLine).endsAtOnce())
        server.listen(qmt::SingleInstance::socketPath());

    qmt::frmMain::setProcessEnder([&instance, &server] {
        // The socket goes before the lock, so that it is never a newer program's socket that
        // is removed.
        server.close();
        instance.release();
        // Thumbnails kept for the session in private folders go with it.
        qmt::SessionThumbnails::removeAllFolders();
        std::fflush(nullptr);
        std::_Exit(0);
    });

    qmt::frmMain::PreloadCommandLinePicture(commandLine);
    if (!qmt::decideStartup(commandLine).endsAtOnce())
        qmt::warmUpInBackground();
    qmt::frmMain window;
    QObject::connect(&server, &qmt::InstanceServer::commandLineReceived, &window,
                     &qmt::frmMain::openHandedOver);
    if (!window.Load(commandLine))
        return 0;
    return app.exec();
}
