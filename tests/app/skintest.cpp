#include "components/skin.h"
#include "components/splash.h"

#include <QCryptographicHash>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

// The skin, splash and icon files the program ships, and what it does with damaged ones.
class SkinTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    static QString shipped(const QString &name)
    {
        return qEnvironmentVariable("QMT_BUILD_DIR") + QLatin1Char('/') + name;
    }

private Q_SLOTS:
    void loading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("loads");
        QTest::newRow("rule") << QByteArray("QLabel { color: red; }") << true;
        QTest::newRow("comment with brace") << QByteArray("/* { */ QLabel { color: red; }") << true;
        QTest::newRow("string with brace") << QByteArray("QLabel[a=\"}\"] { color: red; }") << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no rule") << QByteArray("just words") << false;
        QTest::newRow("unclosed") << QByteArray("QLabel { color: red;") << false;
        QTest::newRow("nested") << QByteArray("QLabel { QLabel { } }") << false;
        QTest::newRow("stray close") << QByteArray("} QLabel { }") << false;
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0{}", 14) << false;
        QTest::newRow("bad utf-8") << QByteArray("QLabel { color: \xff\xfe; }") << false;
        QTest::newRow("open comment") << QByteArray("QLabel { } /* ") << false;
    }
    void loading()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, loads);
        Skin skin;
        QCOMPARE(skin.load(write(QStringLiteral("t.skn"), bytes)), loads);
        QCOMPARE(skin.isLoaded(), loads);
        QCOMPARE(skin.styleSheet().isEmpty(), !loads);
    }

    void missingSkinLeavesThePlainLook()
    {
        Skin skin;
        QVERIFY(!skin.load(m_dir.filePath(QStringLiteral("none.skn"))));
        QWidget window;
        window.setStyleSheet(QStringLiteral("QWidget { color: blue; }"));
        skin.applyToWindow(&window);
        QCOMPARE(window.styleSheet(), QStringLiteral("QWidget { color: blue; }"));
    }

    void elementsSelectTheirRules()
    {
        Skin skin;
        QVERIFY(skin.load(write(QStringLiteral("e.skn"),
                                "QLabel[skinElement=\"Label\"] { color: #123456; }\n"
                                "QLabel[skinElement=\"label\"] { color: #654321; }\n")));
        QWidget window;
        auto *big = new QLabel(QStringLiteral("a"), &window);
        auto *small = new QLabel(QStringLiteral("b"), &window);
        auto *plain = new QLabel(QStringLiteral("c"), &window);
        skin.applyToWindow(&window);
        Skin::applyElement(big, QStringLiteral("Label"));
        Skin::applyElement(small, QStringLiteral("label"));
        window.ensurePolished();
        big->ensurePolished();
        small->ensurePolished();
        plain->ensurePolished();
        QCOMPARE(big->property("skinElement").toString(), QStringLiteral("Label"));
        QCOMPARE(big->palette().color(QPalette::WindowText), QColor(0x12, 0x34, 0x56));
        QCOMPARE(small->palette().color(QPalette::WindowText), QColor(0x65, 0x43, 0x21));
        QVERIFY(plain->palette().color(QPalette::WindowText) != QColor(0x12, 0x34, 0x56));
    }

    void shippedSkinLoadsAndNamesEveryElement()
    {
        Skin skin;
        QVERIFY(skin.load(shipped(QStringLiteral("QMTMain.skn"))));
        for (const char *name : {"Toolbar", "StatusBar", "Statusbar", "smallform", "Button",
                                 "Label", "label", "CheckBox", "Radio"})
            QVERIFY2(skin.styleSheet().contains(
                         QStringLiteral("skinElement=\"%1\"").arg(QLatin1String(name))),
                     name);
    }

    void splashPicture()
    {
        QVERIFY(!loadSplashPicture(shipped(QStringLiteral("viewer.spl"))).isNull());
        QVERIFY(loadSplashPicture(m_dir.filePath(QStringLiteral("none.spl"))).isNull());
        QVERIFY(
            loadSplashPicture(write(QStringLiteral("bad.spl"), "not a picture at all")).isNull());
        // A PNG cut short after its header.
        QFile good(shipped(QStringLiteral("viewer.spl")));
        QVERIFY(good.open(QIODevice::ReadOnly));
        QVERIFY(loadSplashPicture(write(QStringLiteral("cut.spl"), good.read(200))).isNull());
        // Any format the platform reads, whether known by its first bytes or found by probing.
        QImage picture(40, 30, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        for (const char *format : {"jpeg", "bmp", "tiff", "ppm"}) {
            const QString path = m_dir.filePath(QStringLiteral("other.spl"));
            QVERIFY(picture.save(path, format));
            QCOMPARE(loadSplashPicture(path).size(), picture.size());
        }
    }

    void typeIconsAreDistinctAndMultiSize()
    {
        const QStringList names{"jpg", "gif", "bmp",  "dib", "png", "psd", "tif",
                                "pcx", "tga", "wbmb", "wmf", "ico", "emf", "icon"};
        QSet<QByteArray> seen;
        for (const QString &name : names) {
            const QString path = shipped(QStringLiteral("icons/%1.ico").arg(name));
            QImageReader reader(path);
            QVERIFY2(reader.canRead(), qPrintable(path));
            QList<int> sizes;
            for (int i = 0; i < reader.imageCount(); ++i) {
                QVERIFY(reader.jumpToImage(i));
                const QImage image = reader.read();
                QVERIFY2(!image.isNull(), qPrintable(path));
                QCOMPARE(image.width(), image.height());
                sizes.append(image.width());
                if (image.width() == 256)
                    seen.insert(QCryptographicHash::hash(
                        QByteArray(reinterpret_cast<const char *>(image.constBits()),
                                   image.sizeInBytes()),
                        QCryptographicHash::Sha1));
            }
            std::sort(sizes.begin(), sizes.end());
            QCOMPARE(sizes, (QList<int>{16, 32, 48, 256}));
        }
        QCOMPARE(seen.size(), names.size());
    }
};

QTEST_MAIN(SkinTest)
#include "skintest.moc"
