#include "app/configstore.h"
#include "support/recordingsink.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#ifdef Q_OS_UNIX // permissions and file size limits as Linux has them
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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
#ifdef Q_OS_UNIX
    void readOnlyFileIsReportedAtLoad();
    void readOnlyHomeSavesInPlace();
    void failedSaveKeepsTheOldFileWhole();
#endif
    void directoryInPlaceOfTheFile();
    void missingDirectoryCannotBeCreated();
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

#ifdef Q_OS_UNIX
    // Runs body as an unprivileged user (root ignores file permissions):
    // when the tests run as root, in a child process that owns the test
    // directory as "nobody". The result is the body's.
    bool asUnprivileged(const std::function<bool()> &body) const
    {
        if (::geteuid() != 0)
            return body();
        const uid_t nobody = 65534;
        for (const QString &entry : QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            if (::chown(QFile::encodeName(m_dir->filePath(entry)).constData(), nobody, nobody) != 0)
                return false;
        if (::chown(QFile::encodeName(m_dir->path()).constData(), nobody, nobody) != 0)
            return false;
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(nobody) != 0 || ::setuid(nobody) != 0)
                ::_exit(2);
            ::_exit(body() ? 0 : 1);
        }
        int status = 0;
        return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
#endif

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
    // The home as Qt gives it (forward slashes), then the system's separator.
#ifdef Q_OS_WIN
    QCOMPARE(ConfigStore::defaultPath(), QDir::homePath() + "\\kestrolune.json");
#else
    QCOMPARE(ConfigStore::defaultPath(), QDir::homePath() + "/kestrolune.json");
#endif
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
    QTest::addColumn<bool>("unreadable"); // else: nothing in it to keep
    QTest::newRow("array") << QByteArray("[]") << true;
    QTest::newRow("invalid JSON") << QByteArray("{\"a\": ") << true;
    QTest::newRow("trailing comma") << QByteArray("{\"a\":{\"listen\":true},}") << true;
    QTest::newRow("invalid UTF-8") << QByteArray("{\"a\xff\xfe\": 1}") << true;
    QTest::newRow("empty file") << QByteArray() << false;
    QTest::newRow("deeply nested") << QByteArray(10000, '[') + QByteArray(10000, ']') << true;
    QTest::newRow("NUL bytes") << QByteArray("{\"a\":\0true}", 11) << true;
}

void TestConfigStore::nonObjectContentLoadsEmpty()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, unreadable);
    write(path(), content);
    bool opened = false;
    QString why;
    ConfigStore store(m_sink, path());
    QCOMPARE(store.load(&opened, &why), QJsonObject());
    QVERIFY(opened);
    QCOMPARE(!why.isEmpty(), unreadable);
    QVERIFY(m_sink.boxes.isEmpty());
    QCOMPARE(read(path()), content); // left alone until the next save
    QVERIFY(store.save({{"x", QJsonObject{{"tray", true}}}}));
    QCOMPARE(store.load().value("x").toObject().value("tray").toBool(), true);
}

#ifdef Q_OS_UNIX
void TestConfigStore::readOnlyFileIsReportedAtLoad()
{
    write(path(), R"({"x":{"listen":true}})");
    QFile::setPermissions(path(), QFile::ReadOwner);
    const bool reported = asUnprivileged([this] {
        bool opened = true;
        RecordingSink sink;
        const bool loadedEmpty = ConfigStore(sink, path()).load(&opened).isEmpty() && !opened;
        const bool saved = ConfigStore(sink, path()).save({});
        return loadedEmpty && !saved
               && sink.titles() == QStringList({"read Config failed", "Save config failed"})
               && sink.boxes.first().second == QStringLiteral("read data failed,Please check permissions");
    });
    QVERIFY(reported);
    QCOMPARE(read(path()), QByteArray(R"({"x":{"listen":true}})"));
}
#endif

#ifdef Q_OS_UNIX
void TestConfigStore::readOnlyHomeSavesInPlace()
{
    write(path(), R"({"x":{"listen":true}})");
    QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner)); // no new files here
    const QJsonObject map{{"y", QJsonObject{{"tray", true}}}};
    const bool saved = asUnprivileged([this, map] {
        RecordingSink sink;
        return ConfigStore(sink, path()).save(map) && sink.boxes.isEmpty();
    });
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(saved);
    QCOMPARE(read(path()), QJsonDocument(map).toJson());
}
#endif

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

#ifdef Q_OS_UNIX
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
#endif

void TestConfigStore::oversizedFileIsNotRead()
{
    QByteArray big = "{\"a\":\"";
    big += QByteArray(50 * 1024 * 1024, 'x'); // 50 MB
    big += "\"}";
    write(path(), big);
#ifdef Q_OS_UNIX // (QFile::link makes a shortcut on Windows, no link)
    // Through a link, as some keep their settings elsewhere.
    QVERIFY(QFile::rename(path(), m_dir->filePath("elsewhere.json")));
    QVERIFY(QFile::link(m_dir->filePath("elsewhere.json"), path()));
#endif
    bool opened = false;
    QString why;
    const ConfigStore store(m_sink, path());
    QCOMPARE(store.load(&opened, &why), QJsonObject());
    QVERIFY(opened);
    QVERIFY(why.contains("larger than 16 MB"));
    QCOMPARE(QFileInfo(path()).size(), qint64(big.size())); // untouched
    const QString kept = store.keepUnreadable();
    QCOMPARE(kept, path() + ".unreadable");
    QCOMPARE(QFileInfo(kept).size(), qint64(big.size()));
    QVERIFY(!QFileInfo(kept).isSymLink());
}

QTEST_GUILESS_MAIN(TestConfigStore)
#include "tst_configstore.moc"
