#include "shell/modmain.h"
#include "support/sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace qmt;

class ModMainTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void saveFormat_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<int>("code");
        const int untouched = -77;
        QTest::newRow("0") << 0 << QString() << untouched;
        QTest::newRow("1 jpg") << 1 << "jpg" << 1;
        QTest::newRow("2 png") << 2 << "png" << 2;
        QTest::newRow("3 psd") << 3 << "psd" << 9;
        QTest::newRow("4 tif") << 4 << "tif" << 3;
        QTest::newRow("5 pcx") << 5 << "pcx" << 4;
        QTest::newRow("6 tga") << 6 << "tga" << 5;
        QTest::newRow("7 wbmp") << 7 << "wbmp" << 10;
        QTest::newRow("8 bmp") << 8 << "bmp" << 6;
        QTest::newRow("9 wmf") << 9 << "wmf" << 7;
        QTest::newRow("10 emf") << 10 << "emf" << 8;
        QTest::newRow("11") << 11 << QString() << untouched;
        QTest::newRow("negative") << -1 << QString() << untouched;
    }
    void saveFormat()
    {
        QFETCH(int, position);
        QFETCH(QString, extension);
        QFETCH(int, code);
        int formatCode = -77;
        QCOMPARE(GetSaveFormat(position, formatCode), extension);
        QCOMPARE(formatCode, code);
    }

    void imageFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("image");
        QTest::newRow("photo.JPG") << "/p/photo.JPG" << true;
        QTest::newRow("readme") << "/p/readme" << false;
        QTest::newRow("a.cur") << "/p/a.cur" << true;
        QTest::newRow("a.jp (substring)") << "/p/a.jp" << true;
        QTest::newRow("a.mp (substring)") << "/p/a.mp" << true;
        QTest::newRow("a.txt") << "/p/a.txt" << false;
        QTest::newRow("a.jpeg") << "/p/a.jpeg" << false;
        QTest::newRow("trailing dot") << "/p/a." << false;
        QTest::newRow("dot in folder only") << "/p.jpg/readme" << false;
        QTest::newRow("wbmp") << "/p/a.WBMP" << true;
        QTest::newRow("webp") << "/p/a.webp" << true;
        QTest::newRow("AVIF") << "/p/a.AVIF" << true;
        QTest::newRow("Heic") << "/p/a.Heic" << true;
        QTest::newRow("heif") << "/p/a.heif" << true;
        QTest::newRow("JXL") << "/p/a.JXL" << true;
        QTest::newRow("a.jpx") << "/p/a.jpx" << false;
    }
    void imageFile()
    {
        QFETCH(QString, path);
        QFETCH(bool, image);
        QCOMPARE(IsImageFile(path), image);
    }

    void desktopFolder()
    {
        test::Sandbox sandbox;
        const QString home = sandbox.file(QStringLiteral("home"));
        // No desktop folder: nothing.
        QCOMPARE(GetSpecialFolder(CsidlDesktop), QString());
        QVERIFY(QDir().mkpath(home + QStringLiteral("/Desktop")));
        QCOMPARE(GetSpecialFolder(CsidlDesktop), home + QStringLiteral("/Desktop/"));

        // The user's folder list can point the desktop elsewhere, or nowhere.
        QFile dirs(sandbox.file(QStringLiteral("config/user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
        dirs.close();
        QCOMPARE(GetSpecialFolder(CsidlDesktop), QString());
        QVERIFY(QDir().mkpath(home + QStringLiteral("/Schreibtisch")));
        QCOMPARE(GetSpecialFolder(CsidlDesktop), home + QStringLiteral("/Schreibtisch/"));

        QCOMPARE(GetSpecialFolder(12345), QString());
    }

    void windowsFolder()
    {
        test::Sandbox sandbox;
        const QString folder = GetWindowsFolder();
        QVERIFY(folder.endsWith(QLatin1Char('/')));
        QVERIFY(!folder.endsWith(QLatin1String("//")));
        QVERIFY2(folder.startsWith(sandbox.file(QStringLiteral("data"))), qPrintable(folder));
        QVERIFY(QFileInfo(folder).isDir());
    }

    void attributes()
    {
        test::Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("attrs"));
        auto make = [&](const QString &name) {
            QFile file(folder + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        };
        make(QStringLiteral("plain.png"));
        make(QStringLiteral(".hidden.png"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/.hiddenfolder")));
        QCOMPARE(fileAttributes(folder + QStringLiteral("/plain.png")), 32);
        QCOMPARE(fileAttributes(folder + QStringLiteral("/.hidden.png")), 34);
        QCOMPARE(fileAttributes(folder + QStringLiteral("/.hiddenfolder")), 18);
        QCOMPARE(fileAttributes(folder + QStringLiteral("/none.png")), -1);
    }
};

QTEST_GUILESS_MAIN(ModMainTest)
#include "modmaintest.moc"
