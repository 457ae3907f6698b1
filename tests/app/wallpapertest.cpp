#include "shell/wallpaper.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "shell/cregister.h"
#include "shell/modmain.h"
#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"
#include "viewer/frmviwer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QTest>

using namespace qmt;

// The wallpaper command against stand-in desktop tools put first on PATH: each records its
// arguments in a log, so the test sees exactly what the desktop was told.
class WallpaperTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    QString m_bin;
    QString m_log;
    QByteArray m_path;

    void tool(const QString &name, const QByteArray &body)
    {
        const QString file = m_bin + QLatin1Char('/') + name;
        QFile script(file);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"" + name.toUtf8() + " $*\" >> '" + m_log.toUtf8() + "'\n" +
                     body);
        script.close();
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QStringList logged()
    {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QString makeImage(const QString &name)
    {
        const QString path =
            m_sandbox->makeDir(QStringLiteral("pictures")) + QLatin1Char('/') + name;
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 40));
        image.save(path, "PNG");
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // No session bus: the desktop portal cannot answer, the desktop's own tools are used.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pictavo-test-bus");
        m_path = qgetenv("PATH");
    }

    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_bin = m_sandbox->makeDir(QStringLiteral("bin"));
        m_log = m_sandbox->file(QStringLiteral("tools.log"));
        qputenv("PATH", (m_bin + QStringLiteral(":/usr/bin:/bin")).toUtf8());
        qunsetenv("DISPLAY");
        qunsetenv("SWAYSOCK");
    }

    void cleanup()
    {
        qputenv("PATH", m_path);
        m_sandbox.reset();
    }

    void gnome()
    {
        qputenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
        tool(QStringLiteral("gsettings"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;

        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral("x.png"))));
        SetWallpaper(&image);

        const QString copy = GetWindowsFolder() + QStringLiteral("x.png");
        QVERIFY(QFile::exists(copy));
        QImageReader reader(copy);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("png"));
        QCOMPARE(reader.size(), QSize(40, 30));

        const QString uri = QUrl::fromLocalFile(copy).toString(QUrl::FullyEncoded);
        QCOMPARE(
            logged(),
            (QStringList{"gsettings set org.gnome.desktop.background picture-uri " + uri,
                         "gsettings set org.gnome.desktop.background picture-uri-dark " + uri}));
        QVERIFY(prompts.asked().isEmpty());
    }

    void xfceEveryBackdrop()
    {
        qputenv("XDG_CURRENT_DESKTOP", "XFCE");
        tool(QStringLiteral("xfconf-query"),
             "case \"$*\" in *' -l'*) printf '%s\\n' "
             "/backdrop/screen0/monitor0/workspace0/last-image "
             "/backdrop/screen0/monitor0/workspace0/image-style "
             "/backdrop/screen0/monitorHDMI-1/workspace1/last-image ;; esac\nexit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;

        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral("y.png"))));
        SetWallpaper(&image);

        const QString copy = GetWindowsFolder() + QStringLiteral("y.png");
        QCOMPARE(logged(),
                 (QStringList{"xfconf-query -c xfce4-desktop -l",
                              "xfconf-query -c xfce4-desktop -p "
                              "/backdrop/screen0/monitor0/workspace0/last-image -s " +
                                  copy,
                              "xfconf-query -c xfce4-desktop -p "
                              "/backdrop/screen0/monitorHDMI-1/workspace1/last-image -s " +
                                  copy}));
        QVERIFY(prompts.asked().isEmpty());
    }

    void kde()
    {
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        tool(QStringLiteral("plasma-apply-wallpaperimage"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;
        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral("k.png"))));
        SetWallpaper(&image);
        QCOMPARE(logged(),
                 QStringList{"plasma-apply-wallpaperimage " + GetWindowsFolder() + "k.png"});
        QVERIFY(prompts.asked().isEmpty());
    }

    void failingToolIsTold()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        tool(QStringLiteral("gsettings"), "exit 1\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;
        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral("z.png"))));
        SetWallpaper(&image);
        QCOMPARE(prompts.asked().size(), 1);
        QVERIFY(prompts.asked().first().text.contains(QLatin1String("could not be changed")));
        QCOMPARE(prompts.asked().first().icon, PromptIcon::Exclamation);
    }

    void plainX11FallsBackToFeh()
    {
        qputenv("XDG_CURRENT_DESKTOP", "");
        qputenv("DISPLAY", ":99");
        tool(QStringLiteral("feh"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;
        QStringList tried;
        QVERIFY(applyDesktopWallpaper(QStringLiteral("/tmp/w.png"), &tried));
        QCOMPARE(logged(), QStringList{"feh --bg-fill /tmp/w.png"});
        QCOMPARE(tried, (QStringList{"desktop portal", "feh"}));
    }

    void hiddenCopyRefuses()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        tool(QStringLiteral("gsettings"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;

        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral(".secret.png"))));
        // A hidden copy from an earlier time is in the way.
        const QString copy = GetWindowsFolder() + QStringLiteral(".secret.png");
        QFile old(copy);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();

        SetWallpaper(&image);
        QCOMPARE(prompts.asked().size(), 1);
        QCOMPARE(
            prompts.asked().first().text,
            QStringLiteral("this picture is hidden or system file.we can not put it as wallpaper"));
        QCOMPARE(prompts.asked().first().buttons, PromptButtons::Ok);
        QVERIFY(logged().isEmpty());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
    }

    void hiddenNameWithoutCopyGoesOn()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        tool(QStringLiteral("gsettings"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;
        ImageDocument image;
        QVERIFY(image.LoadImageFile(makeImage(QStringLiteral(".first.png"))));
        SetWallpaper(&image);
        QVERIFY(prompts.asked().isEmpty());
        QCOMPARE(logged().size(), 2);
    }

    // Icons, cursors and headerless bitmaps reach the viewer as pictures; they become the
    // wallpaper like any other file, and each new wallpaper replaces the copy of the last one.
    void viewerPicturesReplaceTheCopy()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        tool(QStringLiteral("gsettings"), "exit 0\n");
        test::RecordingLauncher launcher;
        launcher.setPassThrough(true);
        test::ScriptedPrompts prompts;
        CRegister().REGSaveSetting(kSettingsRoot, QString(kSettingsSection), "FullScreen", "0");
        frmViwer *viewer = frmViwer::instance();
        const QString folder = m_sandbox->makeDir(QStringLiteral("pictures"));
        QImage image(32, 32, QImage::Format_ARGB32);
        image.fill(QColor(10, 120, 200));
        QStringList copies;
        for (const char *name : {"a.ico", "b.cur", "c.dib", "d.JPG"}) {
            const QString path = folder + QLatin1Char('/') + QLatin1String(name);
            const QByteArray extension = QByteArray(name).mid(2).toLower();
            QVERIFY(image.save(path, extension == "cur"   ? "ico"
                                     : extension == "dib" ? "bmp"
                                                          : extension.constData()));
            if (extension == "cur") { // an icon file becomes a cursor file by its type field
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(2));
                file.write(QByteArray("\x02\x00", 2));
            }
            viewer->ViewImage({path}, 0);
            viewer->findChild<QAction *>(QStringLiteral("mnuSetAsWallpaper"))->trigger();
            QVERIFY2(prompts.asked().isEmpty(), qPrintable(prompts.asked().value(0).text));
            const QString copy = GetWindowsFolder() + wallpaperCopyName(QString::fromLatin1(name));
            QImageReader reader(copy);
            reader.setDecideFormatFromContent(true);
            QCOMPARE(reader.format(), QByteArray("png"));
            QCOMPARE(reader.size(), QSize(32, 32));
            QVERIFY(
                logged().last().endsWith(QUrl::fromLocalFile(copy).toString(QUrl::FullyEncoded)));
            // Only the copy in use is kept.
            QCOMPARE(QDir(GetWindowsFolder()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{QFileInfo(copy).fileName()});
            copies.append(QFileInfo(copy).fileName());
        }
        QCOMPARE(copies, (QStringList{"a.png", "b.png", "c.png", "d.png"}));
        frmViwer::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void noImageDoesNothing()
    {
        qputenv("XDG_CURRENT_DESKTOP", "GNOME");
        tool(QStringLiteral("gsettings"), "exit 0\n");
        test::RecordingLauncher launcher;
        test::ScriptedPrompts prompts;
        ImageDocument image;
        SetWallpaper(&image);
        SetWallpaper(static_cast<const ImageDocument *>(nullptr));
        QVERIFY(prompts.asked().isEmpty());
        QVERIFY(launcher.calls().isEmpty());
    }
};

QTEST_MAIN(WallpaperTest)
#include "wallpapertest.moc"
