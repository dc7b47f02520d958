#include "app/configstore.h"
#include "support/recordingsink.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

class TestConfigStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void pathIsInTheHomeDirectory();
    void firstRunCreatesAnEmptyMap();
    void saveThenLoadRoundTrip();
    void nonObjectContentLoadsEmpty_data();
    void nonObjectContentLoadsEmpty();
    void readOnlyFileIsReportedAtLoad();
    void directoryInPlaceOfTheFile();
    void missingDirectoryCannotBeCreated();
    void failedSaveKeepsTheOldFileWhole();
    void oversizedFileIsNotRead();

private:
    QString path() const { return m_dir->filePath("kestrolune.json"); }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingSink m_sink;
};

void TestConfigStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sink.boxes.clear();
}

void TestConfigStore::pathIsInTheHomeDirectory()
{
    QCOMPARE(ConfigStore::defaultPath(), QDir::homePath() + "/kestrolune.json");
}

void TestConfigStore::firstRunCreatesAnEmptyMap()
{
    bool opened = false;
    QCOMPARE(ConfigStore(m_sink, path()).load(&opened), QJsonObject());
    QVERIFY(opened);
    QCOMPARE(read(path()), QByteArray("{}"));
    QVERIFY(m_sink.boxes.isEmpty());
}

void TestConfigStore::saveThenLoadRoundTrip()
{
    const QJsonObject map{{"dev/1", QJsonObject{{"tray", true}, {"listen", false}, {"extra", "kept"}}},
                          {"名字", QJsonObject{{"listen", true}}}};
    ConfigStore store(m_sink, path());
    QVERIFY(store.save(map));
    QCOMPARE(read(path()), QJsonDocument(map).toJson()); // the indented form
    QCOMPARE(store.load(), map);
    QVERIFY(m_sink.boxes.isEmpty());
}

void TestConfigStore::nonObjectContentLoadsEmpty_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("array") << QByteArray("[]");
    QTest::newRow("invalid JSON") << QByteArray("{\"a\": ");
    QTest::newRow("invalid UTF-8") << QByteArray("{\"a\xff\xfe\": 1}");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("deeply nested") << QByteArray(10000, '[') + QByteArray(10000, ']');
    QTest::newRow("NUL bytes") << QByteArray("{\"a\":\0true}", 11);
}

void TestConfigStore::nonObjectContentLoadsEmpty()
{
    QFETCH(QByteArray, content);
    write(path(), content);
    bool opened = false;
    ConfigStore store(m_sink, path());
    QCOMPARE(store.load(&opened), QJsonObject());
    QVERIFY(opened);
    QVERIFY(m_sink.boxes.isEmpty());
    QCOMPARE(read(path()), content); // left alone until the next save
    QVERIFY(store.save({{"x", QJsonObject{{"tray", true}}}}));
    QCOMPARE(store.load().value("x").toObject().value("tray").toBool(), true);
}

void TestConfigStore::readOnlyFileIsReportedAtLoad()
{
    if (::geteuid() == 0)
        QSKIP("root opens read-only files for writing");
    write(path(), R"({"x":{"listen":true}})");
    QFile::setPermissions(path(), QFile::ReadOwner);
    bool opened = true;
    QCOMPARE(ConfigStore(m_sink, path()).load(&opened), QJsonObject());
    QVERIFY(!opened);
    QCOMPARE(m_sink.titles(), QStringList{"read Config failed"});
    QCOMPARE(m_sink.boxes.first().second, QStringLiteral("read data failed,Please check permissions"));
    QVERIFY(!ConfigStore(m_sink, path()).save({}));
    QCOMPARE(m_sink.titles().last(), QStringLiteral("Save config failed"));
    QCOMPARE(read(path()), QByteArray(R"({"x":{"listen":true}})"));
}

void TestConfigStore::directoryInPlaceOfTheFile()
{
    QVERIFY(QDir().mkpath(path()));
    bool opened = true;
    ConfigStore store(m_sink, path());
    QCOMPARE(store.load(&opened), QJsonObject());
    QVERIFY(!opened);
    QCOMPARE(m_sink.titles(), QStringList{"read Config failed"});
    QVERIFY(!store.save({{"x", QJsonObject()}}));
    QCOMPARE(m_sink.titles(), QStringList({"read Config failed", "Save config failed"}));
    QCOMPARE(m_sink.boxes.last().second, QStringLiteral("Save data failed,Please check permissions and contact sales"));
    QVERIFY(QFileInfo(path()).isDir());
}

void TestConfigStore::missingDirectoryCannotBeCreated()
{
    const QString inside = m_dir->filePath("no/such/home/kestrolune.json");
    bool opened = true;
    QCOMPARE(ConfigStore(m_sink, inside).load(&opened), QJsonObject());
    QVERIFY(!opened);
    QCOMPARE(m_sink.titles(), QStringList{"create Config failed"});
    QCOMPARE(m_sink.boxes.first().second, QStringLiteral("create data failed,Please check permissions"));
    // Each failed save shows its box once.
    ConfigStore store(m_sink, inside);
    QVERIFY(!store.save({}));
    QVERIFY(!store.save({}));
    QCOMPARE(m_sink.titles().count("Save config failed"), 2);
}

void TestConfigStore::failedSaveKeepsTheOldFileWhole()
{
    ConfigStore store(m_sink, path());
    const QJsonObject old{{"a", QJsonObject{{"tray", true}}}};
    QVERIFY(store.save(old));
    const QByteArray before = read(path());

    // The disk takes no more than 1 KiB per file (a full disk, as far as the
    // save can tell), even for root: the new content cannot be written.
    QJsonObject big;
    for (int i = 0; i < 200; ++i)
        big.insert(QStringLiteral("device-%1").arg(i), QJsonObject{{"listen", true}});
    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved1 = store.save(big);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!saved1);
    QCOMPARE(read(path()), before);
    QCOMPARE(m_sink.titles(), QStringList{"Save config failed"});
    QCOMPARE(store.load(), old);
}

void TestConfigStore::oversizedFileIsNotRead()
{
    QByteArray big = "{\"a\":\"";
    big += QByteArray(50 * 1024 * 1024, 'x'); // 50 MB
    big += "\"}";
    write(path(), big);
    bool opened = false;
    QCOMPARE(ConfigStore(m_sink, path()).load(&opened), QJsonObject());
    QVERIFY(opened);
    QCOMPARE(QFileInfo(path()).size(), qint64(big.size())); // untouched
}

QTEST_GUILESS_MAIN(TestConfigStore)
#include "tst_configstore.moc"
