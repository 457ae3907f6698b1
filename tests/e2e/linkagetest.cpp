#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

// What the programs load when they start: the libraries of the modern picture formats and their
// HEVC and AV1 decoders belong to the module that is loaded on demand, never to a program.
class LinkageTest : public QObject
{
    Q_OBJECT

private:
    static QString built(const QString &name)
    {
        return qEnvironmentVariable("QMT_BUILD_DIR") + QLatin1Char('/') + name;
    }

    // The output of a tool run on `file`, or a failure.
    static QString run(const QString &tool, const QStringList &arguments)
    {
        QProcess process;
        process.start(tool, arguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return QString();
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

    static QStringList needed(const QString &file)
    {
        QStringList names;
        const QRegularExpression entry(QStringLiteral(R"(\(NEEDED\).*\[(.+)\])"));
        for (const QString &line : run(QStringLiteral("readelf"), {"-d", "-W", file}).split('\n')) {
            const QRegularExpressionMatch match = entry.match(line);
            if (match.hasMatch())
                names << match.captured(1);
        }
        return names;
    }

    static QStringList loaded(const QString &file)
    {
        QStringList names;
        for (const QString &line : run(QStringLiteral("ldd"), {file}).split('\n')) {
            const QString name = line.trimmed().section(QLatin1Char(' '), 0, 0);
            if (!name.isEmpty())
                names << name;
        }
        return names;
    }

private Q_SLOTS:
    void codecLibrariesOnlyInTheModule_data();
    void codecLibrariesOnlyInTheModule();
};

void LinkageTest::codecLibrariesOnlyInTheModule_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    const QStringList codecs = {"libwebp",        "libwebpdemux", "libheif", "libavif",  "libjxl",
                                "libjxl_threads", "libdav1d",     "libaom",  "libde265", "libx265"};
    QTest::newRow("qmt") << "qmt" << QStringList{"libQt6Widgets", "libjpeg"} << codecs;
    QTest::newRow("qmt-imgtool") << "qmt-imgtool" << QStringList{"libQt6Gui"} << codecs;
    QTest::newRow("qmt-bench") << "qmt-bench" << QStringList{"libQt6Widgets"} << codecs;
    QTest::newRow("module") << "codecs/qmt-modern-codecs.so"
                            << QStringList{"libwebp", "libwebpdemux", "libheif",
                                           "libavif", "libjxl",       "libjxl_threads"}
                            << QStringList{"libQt6Widgets"};
}

void LinkageTest::codecLibrariesOnlyInTheModule()
{
    QFETCH(QString, file);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    const QString path = built(file);
    QVERIFY2(QFileInfo(path).isFile(), qPrintable(path));
    const QStringList direct = needed(path);
    const QStringList all = loaded(path);
    QVERIFY2(!direct.isEmpty() && !all.isEmpty(), "readelf or ldd gave nothing");
    const auto names = [](const QStringList &libraries, const QString &stem) {
        return libraries.filter(
            QRegularExpression(QStringLiteral("^%1\\.so").arg(QRegularExpression::escape(stem))));
    };
    for (const QString &stem : present)
        QVERIFY2(!names(direct, stem).isEmpty(), qPrintable(stem + " is not linked"));
    for (const QString &stem : absent) {
        QVERIFY2(names(direct, stem).isEmpty(), qPrintable(stem + " is linked"));
        QVERIFY2(names(all, stem).isEmpty(), qPrintable(stem + " is loaded at start"));
    }
}

QTEST_GUILESS_MAIN(LinkageTest)
#include "linkagetest.moc"
