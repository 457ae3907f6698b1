#include "app/frmmain.h"
#include "app/qtprompts.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "components/memorypolicy.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    qmt::applyMemoryPolicy();
    QApplication app(argc, argv);

    // A second start ends at once, silently.
    qmt::SingleInstance instance;
    if (!instance.acquire())
        return 0;

    // QMT_NONINTERACTIVE runs without any dialog: every question gets its cautious answer.
    qmt::QtPrompts qtPrompts;
    if (qEnvironmentVariableIsEmpty("QMT_NONINTERACTIVE"))
        qmt::setPrompts(&qtPrompts);

    qmt::frmMain::setProcessEnder([&instance] {
        instance.release();
        std::fflush(nullptr);
        std::_Exit(0);
    });

    const QString commandLine = qmt::commandLineFrom(app.arguments());
    qmt::frmMain::PreloadCommandLinePicture(commandLine);
    qmt::frmMain window;
    if (!window.Load(commandLine))
        return 0;
    return app.exec();
}
