// update: tells the user which version of Pictavo is installed and how this installation is
// brought up to date. With --print the text goes to standard output instead of a window.
#include "updateinfo.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

#include <cstring>

#ifndef QMT_VERSION
#define QMT_VERSION "1.7.0.1"
#endif

int main(int argc, char **argv)
{
    bool print = false;
    for (int i = 1; i < argc; ++i)
        print = print || std::strcmp(argv[i], "--print") == 0;

    if (print) {
        QCoreApplication app(argc, argv);
        const QString folder = QFileInfo(QCoreApplication::applicationDirPath()).path();
        const UpdateInfo info = inspectInstallation(folder, QStringLiteral(QMT_VERSION), dpkgOwner);
        QTextStream(stdout) << info.message() << '\n';
        return 0;
    }
    QApplication app(argc, argv);
    const QString folder = QFileInfo(QCoreApplication::applicationDirPath()).path();
    const UpdateInfo info = inspectInstallation(folder, QStringLiteral(QMT_VERSION), dpkgOwner);
    QMessageBox box(QMessageBox::Information, QStringLiteral("Pictavo Update"), info.message(),
                    QMessageBox::Ok);
    box.exec();
    return 0;
}
