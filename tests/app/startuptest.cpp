#include "app/startup.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

// The start-up's reading of its command line and the path helpers it uses.
class StartupTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_folder;
    QString m_image;

    void touch(const QString &path)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_folder = m_dir.filePath(QStringLiteral("holiday pictures"));
        QVERIFY(QDir().mkpath(m_folder));
        m_image = m_folder + QStringLiteral("/beach 1.jpg");
        touch(m_image);
        touch(m_folder + QStringLiteral("/.hidden.png"));
    }

    void commandLineJoinsArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing") << QStringList{"qmt"} << QString();
        QTest::newRow("one") << QStringList{"qmt", "/Associate"} << "/Associate";
        QTest::newRow("unquoted spaces") << QStringList{"qmt", "/a/my", "photo.jpg"}
                                         << "/a/my photo.jpg";
        QTest::newRow("inner spaces kept") << QStringList{"qmt", " a ", "b"} << " a  b";
    }
    void commandLineJoinsArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, expected);
        QCOMPARE(commandLineFrom(arguments), expected);
    }

    void dispatch_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("path");
        QTest::newRow("empty") << QString() << int(StartupDecision::Browse) << true << QString();
        QTest::newRow("deassociate") << "/DeAssociate" << int(StartupDecision::RemoveAssociations)
                                     << false << QString();
        QTest::newRow("associate") << "/Associate" << int(StartupDecision::CheckAssociations)
                                   << true << QString();
        QTest::newRow("associate lower case") << "/associate" << int(StartupDecision::Browse)
                                              << true << QString();
        QTest::newRow("deassociate upper case") << "/DEASSOCIATE" << int(StartupDecision::Browse)
                                                << true << QString();
        QTest::newRow("switch with a space") << "/Associate " << int(StartupDecision::Browse)
                                             << true << QString();
        QTest::newRow("missing path") << m_folder + "/nothing.jpg" << int(StartupDecision::Browse)
                                      << true << QString();
        QTest::newRow("quoted path") << "\"" + m_image + "\"" << int(StartupDecision::Browse)
                                     << true << QString();
        QTest::newRow("file") << m_image << int(StartupDecision::OpenViewer) << true << m_image;
        QTest::newRow("doubled separators") << m_folder + "//beach 1.jpg"
                                            << int(StartupDecision::OpenViewer) << true << m_image;
        QTest::newRow("folder") << m_folder << int(StartupDecision::BrowseFolder) << true
                                << m_folder;
        QTest::newRow("folder with slash") << m_folder + "/" << int(StartupDecision::BrowseFolder)
                                           << true << m_folder;
        QTest::newRow("root") << "/" << int(StartupDecision::BrowseFolder) << true << "/";
        QTest::newRow("pattern") << m_folder + "/*.jpg" << int(StartupDecision::Browse) << true
                                 << QString();
    }
    void dispatch()
    {
        QFETCH(QString, commandLine);
        QFETCH(int, action);
        QFETCH(bool, check);
        QFETCH(QString, path);
        const StartupDecision decision = decideStartup(commandLine);
        QCOMPARE(int(decision.action), action);
        QCOMPARE(decision.checkAssociations, check);
        QCOMPARE(decision.path, path);
        QCOMPARE(decision.endsAtOnce(), action == StartupDecision::RemoveAssociations ||
                                            action == StartupDecision::CheckAssociations);
    }

    void relativePathBecomesAbsolute()
    {
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folder));
        const StartupDecision decision = decideStartup(QStringLiteral("beach 1.jpg"));
        QDir::setCurrent(before);
        QCOMPARE(int(decision.action), int(StartupDecision::OpenViewer));
        QCOMPARE(decision.path, m_image);
    }

    void pathExists_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("root") << "/" << true;
        QTest::newRow("file") << m_image << true;
        QTest::newRow("folder") << m_folder << true;
        QTest::newRow("hidden file") << m_folder + "/.hidden.png" << true;
        QTest::newRow("missing") << m_folder + "/beach 2.jpg" << false;
        QTest::newRow("pattern that matches") << m_folder + "/be*.jpg" << true;
        QTest::newRow("single wildcard") << m_folder + "/beach ?.jpg" << true;
        QTest::newRow("pattern that does not") << m_folder + "/*.gif" << false;
        QTest::newRow("missing folder") << m_dir.filePath("none/beach 1.jpg") << false;
    }
    void pathExists()
    {
        QFETCH(QString, path);
        QFETCH(bool, exists);
        QCOMPARE(PathExists(path), exists);
    }

    void findImageIndex_data()
    {
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("index");
        const QStringList list{"/p/a.jpg", "/p/b.jpg", "/p/c.jpg", "/p/b.jpg"};
        QTest::newRow("first") << list << "/p/a.jpg" << 0;
        QTest::newRow("middle") << list << "/p/c.jpg" << 2;
        QTest::newRow("first of two equal") << list << "/p/b.jpg" << 1;
        QTest::newRow("other case is no match") << list << "/p/C.jpg" << 0;
        QTest::newRow("missing") << list << "/p/z.jpg" << 0;
        QTest::newRow("empty list") << QStringList() << "/p/a.jpg" << 0;
    }
    void findImageIndex()
    {
        QFETCH(QStringList, list);
        QFETCH(QString, path);
        QFETCH(int, index);
        QCOMPARE(FindImageIndex(list, path), index);
    }

    void findImageIndexStopsAtTheIndexLimit()
    {
        QStringList list;
        for (int i = 0; i < 32770; ++i)
            list.append(QStringLiteral("/p/%1.jpg").arg(i));
        QCOMPARE(FindImageIndex(list, QStringLiteral("/p/32767.jpg")), 32767);
        QCOMPARE(FindImageIndex(list, QStringLiteral("/p/32768.jpg")), 0);
    }

    void parentFolder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("parent");
        QTest::newRow("file") << "/home/ann/a.jpg" << "/home/ann";
        QTest::newRow("folder with slash") << "/home/ann/" << "/home/ann";
        QTest::newRow("in root") << "/a.jpg" << "";
        QTest::newRow("root") << "/" << "";
        QTest::newRow("bare name") << "a.jpg" << "";
    }
    void parentFolder()
    {
        QFETCH(QString, path);
        QFETCH(QString, parent);
        QCOMPARE(parentFolderName(path), parent);
    }

    void nameOrder()
    {
        QStringList names{"img10.jpg", "Img2.jpg", "img1.jpg", "IMG2.jpg", "b.jpg", "A.jpg"};
        std::sort(names.begin(), names.end(), nameLess);
        QCOMPARE(names, (QStringList{"A.jpg", "b.jpg", "img1.jpg", "IMG2.jpg", "Img2.jpg",
                                     "img10.jpg"}));
    }

    void viewerStart_data()
    {
        QTest::addColumn<QStringList>("folderList");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("list");
        QTest::addColumn<int>("index");
        const QStringList folder{"/p/a.jpg", "/p/c.jpg", "/p/e.jpg"};
        QTest::newRow("listed") << folder << "/p/c.jpg" << folder << 1;
        QTest::newRow("unlisted type in the middle")
            << folder << "/p/d.jpeg" << QStringList{"/p/a.jpg", "/p/c.jpg", "/p/d.jpeg", "/p/e.jpg"}
            << 2;
        QTest::newRow("unlisted at the end")
            << folder << "/p/z.tla" << QStringList{"/p/a.jpg", "/p/c.jpg", "/p/e.jpg", "/p/z.tla"}
            << 3;
        QTest::newRow("other case") << folder << "/p/A.JPG"
                                    << QStringList{"/p/A.JPG", "/p/a.jpg", "/p/c.jpg", "/p/e.jpg"}
                                    << 0;
        QTest::newRow("empty folder list") << QStringList() << "/p/x.jpeg"
                                           << QStringList{"/p/x.jpeg"} << 0;
    }
    void viewerStart()
    {
        QFETCH(QStringList, folderList);
        QFETCH(QString, file);
        QFETCH(QStringList, list);
        QFETCH(int, index);
        const ViewerStart start = viewerStartFor(file, folderList);
        QCOMPARE(start.list, list);
        QCOMPARE(start.index, index);
        QCOMPARE(start.list.at(start.index), file);
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "startuptest.moc"
