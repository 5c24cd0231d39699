// Tests of the settings store and its named settings.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "modalboxcatcher.h"
#include "profile.h"
#include "testdatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {
const QString fixtures = QStringLiteral(FIXTURES_DIR);

QVariant storedValue(const QString &key, const QString &file = QStringLiteral("profile.db"))
{
    return TestDatabase::scalar(file, QStringLiteral("select value from profile where name = ?"),
                                {key});
}

// A worker joined with pthread_join, which ThreadSanitizer sees; QThread::wait() synchronises
// inside Qt, which it cannot, and would make every later access look like a race.
class Worker
{
public:
    template<typename Job>
    static Worker *create(Job job)
    {
        auto *worker = new Worker;
        worker->m_job = std::move(job);
        return worker;
    }
    ~Worker() { wait(); }
    void start()
    {
        m_thread = std::thread([this] {
            m_job();
            m_done = true;
        });
    }
    bool wait(int = 0)
    {
        if (m_thread.joinable())
            m_thread.join();
        return true;
    }
    bool isRunning() const { return m_thread.joinable() && !m_done; }
    bool isFinished() const { return m_done; }

private:
    std::function<void()> m_job;
    std::thread m_thread;
    std::atomic<bool> m_done {false};
};

bool runSql(const QString &file, const QString &sql)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file, sql});
    return sqlite.waitForFinished(30000) && sqlite.exitCode() == 0;
}

int storedCount(const QString &key)
{
    return TestDatabase::scalar(QStringLiteral("profile.db"),
                                QStringLiteral("select count(*) from profile where name = ?"),
                                {key})
        .toInt();
}

// Every file of the current folder with its bytes.
QMap<QString, QByteArray> folderSnapshot()
{
    QMap<QString, QByteArray> files;
    for (const QString &name : QDir().entryList(QDir::Files | QDir::Hidden)) {
        QFile file(name);
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : "unreadable");
    }
    return files;
}

// While set, the store's warnings go here instead of the test's log.
QStringList *keptWarnings = nullptr;
QtMessageHandler testHandler = nullptr;
void keepStoreWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (keptWarnings && type == QtWarningMsg && qstrcmp(context.category, "core.profile") == 0)
        keptWarnings->append(text);
    else
        testHandler(type, context, text);
}
} // namespace

class tst_Profile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void lookupOfMissingKey();
    void value2_data();
    void value2();
    void storedNullCountsAsFound();
    void loadKeepsStorageClass();
    void loadGivesWhatTheDriverReads();
    void saveWritesRow_data();
    void saveWritesRow();
    void unsavedChangeStaysInMemory();
    void changeSavedJustBeforeQuitReachesFile();
    void removeDeletesRowAndKey();
    void workerThreadWriteReachesFileThroughEventLoop();
    void failedWriteIsLogged_data();
    void failedWriteIsLogged();

    void missingProfileFile();
    void profilePathThatCannotBeOpened();
    void missingDataDatabase_data();
    void missingDataDatabase();
    void connectionsAreRegistered();
    void readOnlyStoreLeavesFolderAsItWas_data();
    void readOnlyStoreLeavesFolderAsItWas();

    void namedSettingDefaultSticks();
    void namedSettingIgnoresLaterGenericSet();
    void namedSettingSetWithoutSave();
    void namedSettingSetWithSave();
    void colourRoundTrip();
    void intOfText();
    void boolConversion_data();
    void boolConversion();

    void concurrentReadersAndWriters();
    void firstReadsOfLoadedValuesAtOnce();
    void fileFollowsMemoryWhateverTheInterleaving();
    void namedSettingsReadOnWorkersWhileSet();
    void startUpAgainstHeldOrBrokenFile_data();
    void startUpAgainstHeldOrBrokenFile();
    void instanceMadeOnWorkerBelongsToMainThread();

    void savesSurviveEveryLifetime_data();
    void savesSurviveEveryLifetime();
    void eachStoreWritesItsOwnFile();
    void hostileFiles_data();
    void hostileFiles();
    void typesAfterRestart_data();
    void typesAfterRestart();
    void heldFileNeverFreezesTheLoop_data();
    void heldFileNeverFreezesTheLoop();

private:
    void seed(bool withProfile = true);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_Profile::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Analyser"));
    qRegisterMetaType<QProcess::ExitStatus>();
    m_oldDir = QDir::currentPath();
    testHandler = qInstallMessageHandler(keepStoreWarnings);
}

void tst_Profile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void tst_Profile::cleanup()
{
    keptWarnings = nullptr;
    Profile::setDefaultOpenMode(Profile::ReadWrite);
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

void tst_Profile::seed(bool withProfile)
{
    if (withProfile)
        QVERIFY(TestDatabase::build(QStringLiteral("profile.db"), fixtures + "/profile.sql"));
    for (const char *name : {"data.db", "qc.db", "syslog.db"})
        QVERIFY(TestDatabase::build(QLatin1String(name), fixtures + "/other.sql"));
}

void tst_Profile::lookupOfMissingKey()
{
    seed();
    Profile profile;
    QVERIFY(!profile.keys().contains("absent"));
    QCOMPARE(profile.value("absent", 7), QVariant(7));
    QVERIFY(profile.keys().contains("absent"));
    QCOMPARE(profile.value("absent", "other"), QVariant("other"));
    QCOMPARE(profile.value("schedule/test/PT", "no"), QVariant("yes"));
    // A placeholder is memory only.
    QCOMPARE(storedCount("absent"), 0);
}

void tst_Profile::value2_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("first stored") << "schedule/test/PT"
                                  << "fallback/only" << QVariant("yes");
    QTest::newRow("fallback stored") << "missing/first"
                                     << "fallback/only" << QVariant("from fallback");
    QTest::newRow("neither stored") << "missing/first"
                                    << "missing/second" << QVariant(-1);
}

void tst_Profile::value2()
{
    QFETCH(QString, key);
    QFETCH(QString, fallback);
    QFETCH(QVariant, expected);
    seed();
    Profile profile;
    QCOMPARE(profile.value2(key, fallback, -1), expected);
    QVERIFY(profile.keys().contains(key));
}

void tst_Profile::storedNullCountsAsFound()
{
    seed();
    Profile profile;
    const QVariant v = profile.value("stored/null", "default");
    QVERIFY(v.isValid());
    QVERIFY(v.isNull());
}

void tst_Profile::loadKeepsStorageClass()
{
    seed();
    Profile profile;
    QCOMPARE(profile.value("analyst/FIB/odThreshold", 0).toDouble(), 0.05);
    QCOMPARE(profile.value("qc_method", QVariant()).toInt(), 3);
    QCOMPARE(profile.value("result_not_clotted", QVariant()).toString(), QString::fromUtf8("不凝"));
}

// The store reads its table past QSqlQuery; every storage class must come out as the driver
// gives it: same type, same value, same null state.
void tst_Profile::loadGivesWhatTheDriverReads()
{
    seed();
    const QStringList values = {
        "9007199254740993",
        "-2.5e-300",
        "''",
        "X'00FF10'",
        "NULL",
        "'a' || char(0) || 'b'",
        "X''",
        "'caf\u00e9 \u4e0d\u51dd'",
        "CAST(X'C328' AS TEXT)", // invalid UTF-8
    };
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "writer");
        db.setDatabaseName("profile.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (int i = 0; i < values.size(); ++i) {
            const QString insert = QStringLiteral("insert into profile values('kind/%1', %2)");
            QVERIFY(query.exec(insert.arg(i).arg(values.at(i))));
        }
    }
    QSqlDatabase::removeDatabase("writer");

    const QList<QVariantList> stored
        = TestDatabase::rows("profile.db", QStringLiteral("select name, value from profile"));
    QVERIFY(stored.size() >= values.size());
    Profile profile;
    for (const QVariantList &row : stored) {
        const QVariant loaded = profile.value(row.at(0).toString(), QStringLiteral("default"));
        QCOMPARE(loaded.userType(), row.at(1).userType());
        // The one difference: an empty blob stays an empty array, where the driver gives null.
        const bool emptyBlob
            = row.at(1).userType() == QMetaType::QByteArray && row.at(1).toByteArray().isEmpty();
        QCOMPARE(loaded.isNull(), row.at(1).isNull() && !emptyBlob);
        QCOMPARE(loaded, row.at(1));
    }
}

void tst_Profile::saveWritesRow_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("storageClass");
    QTest::newRow("replace existing") << "schedule/test/PT" << QVariant("no") << "text";
    QTest::newRow("new integer") << "new/int" << QVariant(42) << "integer";
    QTest::newRow("new real") << "new/real" << QVariant(1.25) << "real";
    QTest::newRow("new blob") << "new/blob" << QVariant(QByteArray("\x00\xff", 2)) << "blob";
    QTest::newRow("unicode text") << "new/text" << QVariant(QString::fromUtf8("↑ 不凝")) << "text";
    QTest::newRow("text to escape") << "new/escaped" << QVariant("a\"b\\c\n\x01") << "text";
    QTest::newRow("text with NUL")
        << "new/nul" << QVariant(QString::fromLatin1("a\0b", 3)) << "text";
    QTest::newRow("null text") << "new/null" << QVariant(QString()) << "null";
    QTest::newRow("truth value") << "new/bool" << QVariant(true) << "integer";
    QTest::newRow("whole real") << "new/whole" << QVariant(2.0) << "real";
    QTest::newRow("large integer")
        << "new/large" << QVariant(Q_INT64_C(9007199254740993)) << "integer";
}

void tst_Profile::saveWritesRow()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, storageClass);
    seed();
    Profile profile;
    QSignalSpy spy(&profile, &Profile::valueChanged);
    profile.setValue(key, value, true);
    QCOMPARE(spy.count(), 1);
    // Written when the store's thread next processes events.
    QTRY_COMPARE(storedValue(key), value);
    QCOMPARE(storedCount(key), 1);
    QCOMPARE(TestDatabase::scalar("profile.db", "select typeof(value) from profile where name = ?",
                                  {key})
                 .toString(),
             storageClass);

    // Deleting through an invalid value leaves the key reading as its default.
    profile.setValue(key, QVariant(), true);
    QTRY_COMPARE(storedCount(key), 0);
    QCOMPARE(profile.value(key, "gone"), QVariant("gone"));
}

void tst_Profile::unsavedChangeStaysInMemory()
{
    seed();
    {
        Profile profile;
        QSignalSpy spy(&profile, &Profile::valueChanged);
        profile.setValue("schedule/test/PT", "changed", false);
        QCOMPARE(profile.value("schedule/test/PT", QVariant()), QVariant("changed"));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(storedValue("schedule/test/PT"), QVariant("yes"));
    }
    Profile restarted;
    QCOMPARE(restarted.value("schedule/test/PT", QVariant()), QVariant("yes"));
}

void tst_Profile::changeSavedJustBeforeQuitReachesFile()
{
    seed();
    QProcess app;
    app.start(QStringLiteral(LIFETIMES),
              {QStringLiteral("quit"), QStringLiteral("schedule/test/PT"), QStringLiteral("last")});
    QVERIFY(app.waitForFinished(60000));
    QCOMPARE(app.exitCode(), 0);
    QVERIFY2(!app.readAllStandardError().contains("Warning"), "the write failed");
    QCOMPARE(storedValue("schedule/test/PT"), QVariant("last"));
}

void tst_Profile::removeDeletesRowAndKey()
{
    seed();
    Profile profile;
    QSignalSpy spy(&profile, &Profile::keyRemoved);
    profile.remove("hospital");
    QCOMPARE(spy.count(), 1);
    QVERIFY(!profile.keys().contains("hospital"));
    QTRY_COMPARE(storedCount("hospital"), 0);
    QCOMPARE(profile.value("hospital", "none"), QVariant("none"));
    QVERIFY(profile.keys().contains("hospital"));
}

void tst_Profile::workerThreadWriteReachesFileThroughEventLoop()
{
    seed();
    Profile profile;
    QVariant seenOnWorker;
    std::unique_ptr<Worker> worker(Worker::create([&] {
        profile.setValue("worker/key", 99, true);
        seenOnWorker = profile.value("worker/key", QVariant());
    }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QCOMPARE(seenOnWorker, QVariant(99));
    QCOMPARE(profile.value("worker/key", QVariant()), QVariant(99));
    // Queued to the store's thread, which has not run its event loop yet.
    QCOMPARE(storedCount("worker/key"), 0);
    QTRY_COMPARE(storedCount("worker/key"), 1);
    QCOMPARE(storedValue("worker/key").toInt(), 99);
}

void tst_Profile::failedWriteIsLogged_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("cause");
    QTest::newRow("missing table") << "drop table profile"
                                   << "no such table";
    QTest::newRow("read-only file") << "read-only"
                                    << "readonly database";
}

void tst_Profile::failedWriteIsLogged()
{
    QFETCH(QString, setup);
    QFETCH(QString, cause);
    seed();
    if (setup == "read-only") {
        QVERIFY(QFile::setPermissions("profile.db", QFile::ReadOwner | QFile::ReadUser));
        if (QFileInfo("profile.db").isWritable())
            QSKIP("running as a user who writes read-only files");
    } else {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName("profile.db");
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(setup));
        db.close();
    }
    {
        // Without its table the load fails too, which the store reports; the write warns once
        // for the episode, and the store's end says what never reached the file.
        ModalBoxCatcher catcher;
        const QRegularExpression tag("^profile\\w*\\.cpp:\\d+: .*" + cause);
        QTest::ignoreMessage(QtWarningMsg, tag);
        if (setup != "read-only")
            QTest::ignoreMessage(QtWarningMsg, tag);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("2 saved changes were not written"));
        Profile profile;
        profile.setValue("hospital", "New", true);
        QCOMPARE(profile.value("hospital", QVariant()), QVariant("New"));
        profile.remove("qc_method");
        QVERIFY(!profile.sync());
    }
    QSqlDatabase::removeDatabase("setup");
}

void tst_Profile::missingProfileFile()
{
    seed(false);
    ModalBoxCatcher catcher;
    Profile profile;
    QCOMPARE(catcher.texts(), QStringList {"错误的配置文件 profile.db"});
    QCOMPARE(catcher.boxes().first().icon, QMessageBox::Warning);
    QCOMPARE(catcher.boxes().first().title, QStringLiteral("Analyser"));
    QVERIFY(profile.keys().isEmpty());
    QCOMPARE(profile.value("hospital", "d"), QVariant("d"));
}

void tst_Profile::profilePathThatCannotBeOpened()
{
    seed(false);
    QVERIFY(QDir().mkdir("folder.db"));
    ModalBoxCatcher catcher;
    Profile profile("folder.db", nullptr);
    QCOMPARE(catcher.boxes().size(), 2);
    const QString first = catcher.texts().at(0);
    QVERIFY2(first.startsWith("无法加载配置文件 folder.db\n") && first.size() > 20,
             qPrintable(first));
    QCOMPARE(catcher.texts().at(1), QStringLiteral("错误的配置文件 folder.db"));
    QCOMPARE(profile.value("hospital", "d"), QVariant("d"));
}

void tst_Profile::missingDataDatabase_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("data.db") << "data.db";
    QTest::newRow("qc.db") << "qc.db";
    QTest::newRow("syslog.db") << "syslog.db";
}

void tst_Profile::missingDataDatabase()
{
    QFETCH(QString, file);
    seed();
    QVERIFY(QFile::remove(file));
    ModalBoxCatcher catcher;
    Profile profile;
    QCOMPARE(catcher.texts(), QStringList {"错误的数据库文件 " + file});
    QVERIFY(QFile::exists(file));
}

void tst_Profile::connectionsAreRegistered()
{
    seed();
    Profile profile;
    QCOMPARE(profile.database().databaseName(), QStringLiteral("profile.db"));
    QCOMPARE(profile.dataDatabase().connectionName(), QStringLiteral("data.db"));
    QCOMPARE(profile.qcDatabase().connectionName(), QStringLiteral("qc.db"));
    QCOMPARE(profile.syslogDatabase().connectionName(), QStringLiteral("syslog.db"));
    for (const QSqlDatabase &db : {profile.database(), profile.dataDatabase(), profile.qcDatabase(),
                                   profile.syslogDatabase()}) {
        QVERIFY(db.isOpen());
        QCOMPARE(db.connectOptions(), QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    }
}

void tst_Profile::readOnlyStoreLeavesFolderAsItWas_data()
{
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<bool>("byDefault"); // the mode set with setDefaultOpenMode()
    QTest::newRow("qc.db, syslog.db missing") << QStringList {"qc.db", "syslog.db"} << false;
    QTest::newRow("profile.db missing, default mode") << QStringList {"profile.db"} << true;
}

void tst_Profile::readOnlyStoreLeavesFolderAsItWas()
{
    QFETCH(QStringList, missing);
    QFETCH(bool, byDefault);
    seed();
    for (const QString &file : missing)
        QVERIFY(QFile::remove(file));
    const bool loads = !missing.contains("profile.db");
    const QMap<QString, QByteArray> before = folderSnapshot();
    ModalBoxCatcher catcher;
    QStringList warnings;
    keptWarnings = &warnings;
    {
        Profile::setDefaultOpenMode(byDefault ? Profile::ReadOnly : Profile::ReadWrite);
        std::unique_ptr<Profile> profile(byDefault ? new Profile
                                                   : new Profile("profile.db", Profile::ReadOnly));
        Profile::setDefaultOpenMode(Profile::ReadWrite);
        QCOMPARE(profile->qc_method(0), loads ? 3 : 0);
        QVERIFY(profile->sync());
        profile->setValue("hospital", "New", true);
        profile->set_max_qc_file(9, true);
        profile->remove("schedule/test/PT");
        QVERIFY(!profile->sync());
        QVERIFY(!QSqlQuery(profile->dataDatabase()).exec("insert into version values (2)"));
    }
    QCOMPARE(folderSnapshot(), before);
    // Each missing file is reported, as one that cannot be opened and holds no tables; the
    // saves give one warning, for the first, and no write is tried.
    QCOMPARE(catcher.texts().size(), 2 * missing.size());
    QCOMPARE(warnings.size(), loads ? 1 : 2);
    QVERIFY(warnings.last().endsWith("profile.db is open read-only: the change of hospital stays "
                                     "in memory"));

    // A writable store made next writes as ever.
    for (const QString &file : missing)
        QVERIFY(TestDatabase::build(file, fixtures + (loads ? "/other.sql" : "/profile.sql")));
    Profile writable;
    writable.setValue("hospital", "Later", true);
    QVERIFY(writable.sync());
    QCOMPARE(storedValue("hospital"), QVariant("Later"));
}

void tst_Profile::namedSettingDefaultSticks()
{
    seed();
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
    db.setDatabaseName("profile.db");
    QVERIFY(db.open());
    QVERIFY(QSqlQuery(db).exec("delete from profile where name = 'hospital'"));
    db.close();
    QSqlDatabase::removeDatabase("setup");

    Profile profile;
    QCOMPARE(profile.hospital("A"), QStringLiteral("A"));
    QCOMPARE(profile.hospital("B"), QStringLiteral("A"));
    QVERIFY(profile.keys().contains("hospital"));
    QCOMPARE(storedCount("hospital"), 0);
}

void tst_Profile::namedSettingIgnoresLaterGenericSet()
{
    seed();
    Profile profile;
    QCOMPARE(profile.hospital("A"), QStringLiteral("City Hospital"));
    profile.setValue("hospital", "Y", true);
    QTRY_COMPARE(storedValue("hospital"), QVariant("Y"));
    QCOMPARE(profile.hospital("A"), QStringLiteral("City Hospital"));
}

void tst_Profile::namedSettingSetWithoutSave()
{
    seed();
    {
        Profile profile;
        profile.set_is_touch_screen(true, false);
        QCOMPARE(profile.is_touch_screen(false), true);
        QCOMPARE(profile.value("is_touch_screen", false), QVariant(true));
        QCOMPARE(storedCount("is_touch_screen"), 0);
    }
    Profile restarted;
    QCOMPARE(restarted.is_touch_screen(false), false);
}

void tst_Profile::namedSettingSetWithSave()
{
    seed();
    Profile profile;
    profile.set_hospital(QString::fromUtf8("第一医院"), true);
    QCOMPARE(profile.hospital("A"), QString::fromUtf8("第一医院"));
    QTRY_COMPARE(storedValue("hospital").toString(), QString::fromUtf8("第一医院"));
}

void tst_Profile::colourRoundTrip()
{
    seed();
    {
        Profile profile;
        QCOMPARE(profile.color_of_waiting(Qt::black), QColor("#1e90ff"));
        profile.set_color_of_analysing(QColor(0x12, 0xab, 0xef), true);
        QTRY_COMPARE(storedValue("color_of_analysing"), QVariant("#12abef"));
    }
    Profile restarted;
    QCOMPARE(restarted.color_of_analysing(Qt::black), QColor(0x12, 0xab, 0xef));
}

void tst_Profile::intOfText()
{
    seed();
    Profile profile;
    QCOMPARE(profile.max_qc_file(5), 0);
    QCOMPARE(profile.qc_method(1), 3);
}

void tst_Profile::boolConversion_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<bool>("expected");
    QTest::newRow("text true") << QVariant("true") << true;
    QTest::newRow("text 0") << QVariant("0") << false;
    QTest::newRow("integer 1") << QVariant(1) << true;
    QTest::newRow("integer 0") << QVariant(0) << false;
}

void tst_Profile::boolConversion()
{
    QFETCH(QVariant, stored);
    QFETCH(bool, expected);
    seed();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
        db.setDatabaseName("profile.db");
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.prepare("insert into profile values('is_touch_screen', ?)"));
        query.addBindValue(stored);
        QVERIFY(query.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase("setup");
    Profile profile;
    QCOMPARE(profile.is_touch_screen(!expected), expected);
}

void tst_Profile::concurrentReadersAndWriters()
{
    seed();
    Profile profile;
    constexpr int threads = 4;
    constexpr int rounds = 2000;
    std::atomic<bool> wrongRead {false};
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(Worker::create([&profile, &wrongRead, t] {
            for (int i = 0; i < rounds; ++i) {
                const QString own = QStringLiteral("thread%1/key%2").arg(t).arg(i % 50);
                profile.setValue(own, i, false);
                if (profile.value(own, -1).toInt() != i)
                    wrongRead = true;
                profile.setValue("shared", t, false);
                profile.value(QStringLiteral("thread%1/key0").arg((t + 1) % threads), 0);
                if (profile.value("schedule/test/PT", QVariant()) != QVariant("yes"))
                    wrongRead = true;
                if (i % 100 == 0)
                    profile.keys();
            }
        }));
    }
    for (auto &worker : workers)
        worker->start();
    int mainReads = 0;
    while (std::any_of(workers.begin(), workers.end(), [](auto &w) { return w->isRunning(); })) {
        if (profile.value("hospital", QVariant()) != QVariant("City Hospital"))
            wrongRead = true;
        ++mainReads;
    }
    for (auto &worker : workers)
        QVERIFY(worker->wait(30000));
    QVERIFY(!wrongRead);
    QVERIFY(mainReads > 0);
    for (int t = 0; t < threads; ++t) {
        for (int k = 0; k < 50; ++k) {
            const int last = rounds - 50 + k;
            QCOMPARE(profile.value(QStringLiteral("thread%1/key%2").arg(t).arg(k), -1).toInt(),
                     last);
        }
    }
    const int shared = profile.value("shared", -1).toInt();
    QVERIFY(shared >= 0 && shared < threads);
    QCOMPARE(profile.keys().size(), 9 + threads * 50 + 1);
    QCOMPARE(storedCount("shared"), 0);
}

// A loaded text or blob is built on its first read, which several threads make at once here.
void tst_Profile::firstReadsOfLoadedValuesAtOnce()
{
    seed();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(QStringLiteral("profile.db"));
        QVERIFY(db.open());
        // Long values: the longer a first read takes, the more readers it meets.
        QVERIFY(QSqlQuery(db).exec(
            "insert into profile (name, value) with recursive n(i) as (select 1 union all "
            "select i + 1 from n where i < 3000) select 'race/' || i, case when i % 3 then "
            "'text ' || i || printf('%400s', '') else cast('blob ' || i || printf('%400s', '') "
            "as blob) end from n"));
    }
    QSqlDatabase::removeDatabase("fill");
    Profile profile;
    std::atomic<int> wrongReads {0};
    const auto readAll = [&] {
        for (int i = 1; i <= 3000; ++i) {
            const QString text = QStringLiteral("%1 %2").arg(i % 3 ? "text" : "blob").arg(i)
                + QString(400, QLatin1Char(' '));
            const QVariant expected = i % 3 ? QVariant(text) : QVariant(text.toLatin1());
            const QVariant read = profile.value(QStringLiteral("race/%1").arg(i), QVariant());
            if (read.userType() != expected.userType() || read != expected)
                ++wrongReads;
        }
    };
    QSemaphore start;
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back(Worker::create([&] {
            start.acquire();
            readAll();
        }));
        workers.back()->start();
    }
    start.release(4);
    for (auto &worker : workers)
        QVERIFY(worker->wait(30000));
    readAll(); // what the first reads left behind
    QCOMPARE(wrongReads.load(), 0);
}

// Threads set and remove the same key at the same moment, round after round, while this thread
// writes their changes back; afterwards the file must hold exactly what memory holds.
void tst_Profile::fileFollowsMemoryWhateverTheInterleaving()
{
    seed();
    Profile profile;
    constexpr int threads = 2;
    constexpr int rounds = 3000;
    constexpr int burst = 2;
    std::atomic<int> arrived {0};
    std::vector<std::unique_ptr<Worker>> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back(Worker::create([&profile, &arrived, t] {
            for (int r = 0; r < rounds; ++r) {
                ++arrived;
                while (arrived < (r + 1) * threads)
                    QThread::yieldCurrentThread();
                const QString key = QStringLiteral("race/%1").arg(r);
                // A worker's sync() meets the store thread's own writes now and then.
                if (t == 0 && r % 300 == 0 && !profile.sync())
                    return;
                for (int i = 0; i < burst; ++i) {
                    switch ((t + i) % 3) {
                    case 0:
                        profile.remove(key);
                        break;
                    case 1:
                        profile.setValue(key, QVariant(), true);
                        break;
                    default:
                        profile.setValue(key, QStringLiteral("t%1-%2").arg(t).arg(i), true);
                    }
                }
            }
        }));
    }
    for (auto &worker : workers)
        worker->start();
    while (std::any_of(workers.begin(), workers.end(), [](auto &w) { return !w->isFinished(); }))
        QTest::qWait(5);
    for (auto &worker : workers)
        QVERIFY(worker->wait(30000));

    // The first key where file and memory differ; a turn that met a worker's sync() is written
    // by a retry soon after, so the file may need a moment.
    const auto firstDifference = [&] {
        QHash<QString, QVariant> file;
        for (const QVariantList &row : TestDatabase::rows(
                 "profile.db", "select name, value from profile where name like 'race/%'"))
            file.insert(row.at(0).toString(), row.at(1));
        for (int r = 0; r < rounds; ++r) {
            const QString key = QStringLiteral("race/%1").arg(r);
            const QVariant memory = profile.value(key, QVariant());
            if (memory.isValid() ? file.value(key) != memory : file.contains(key))
                return QStringLiteral("%1: memory %2, file %3")
                    .arg(key, memory.toString(), file.value(key).toString());
        }
        return QString();
    };
    QTRY_COMPARE(firstDifference(), QString());
}

// Workers format with the named settings while the GUI thread changes them: every read is one
// of the values set, never a torn or freed one, and a thread sees its own change at once.
void tst_Profile::namedSettingsReadOnWorkersWhileSet()
{
    seed();
    Profile profile;
    const QStringList names = {"City Hospital", "North", QString::fromUtf8("第一医院")};
    const QList<QColor> colours = {QColor("#1e90ff"), QColor(Qt::red)};
    std::atomic<bool> stop {false};
    std::atomic<int> wrong {0};
    std::vector<std::unique_ptr<Worker>> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back(Worker::create([&] {
            while (!stop) {
                if (!names.contains(profile.hospital("default")))
                    ++wrong;
                if (!colours.contains(profile.color_of_waiting(Qt::black)))
                    ++wrong;
                if (profile.max_qc_file(-1) < 0)
                    ++wrong;
            }
        }));
        readers.back()->start();
    }
    for (int i = 0; i < 3000; ++i) {
        profile.set_hospital(names.at(i % 3), i % 2 == 0);
        QCOMPARE(profile.hospital("default"), names.at(i % 3));
        profile.set_color_of_waiting(colours.at(i % 2), false);
        profile.set_max_qc_file(i, false);
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    stop = true;
    for (auto &reader : readers)
        QVERIFY(reader->wait(30000));
    QCOMPARE(wrong.load(), 0);
    QTRY_COMPARE(storedValue("hospital").toString(), names.at(2998 % 3));
}

void tst_Profile::startUpAgainstHeldOrBrokenFile_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("holdMs"); // how long another connection holds profile.db; -1: to the end
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("loaded");
    QTest::newRow("held for a second") << "" << 1000 << QStringList() << "" << true;
    QTest::newRow("held past the busy time-out")
        << "" << -1 << QStringList {"无法加载配置文件 profile.db\ndatabase is locked"}
        << "database is locked" << false;
    QTest::newRow("no table profile")
        << "drop table profile" << 0
        << QStringList {"无法加载配置文件 profile.db\nno such table: profile"}
        << "no such table: profile" << false;
}

void tst_Profile::startUpAgainstHeldOrBrokenFile()
{
    QFETCH(QString, setup);
    QFETCH(int, holdMs);
    QFETCH(QStringList, boxes);
    QFETCH(QString, logged);
    QFETCH(bool, loaded);
    seed();
    if (!setup.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "setup");
            db.setDatabaseName("profile.db");
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(setup));
        }
        QSqlDatabase::removeDatabase("setup");
    }

    // Another connection, as another process would, holds an exclusive lock.
    QSemaphore locked;
    QSemaphore release;
    std::unique_ptr<QThread> holder(QThread::create([&] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "holder");
            db.setDatabaseName("profile.db");
            db.open();
            QSqlQuery(db).exec("begin exclusive");
            locked.release();
            if (holdMs < 0)
                release.acquire();
            else
                QThread::msleep(holdMs);
            db.rollback();
        }
        QSqlDatabase::removeDatabase("holder");
    }));
    if (holdMs != 0) {
        holder->start();
        locked.acquire();
    }
    if (!logged.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^profile\\.cpp:\\d+: " + logged));
    ModalBoxCatcher catcher;
    {
        Profile profile;
        release.release();
        QCOMPARE(catcher.texts(), boxes);
        QCOMPARE(profile.value("schedule/test/PT", "default"),
                 QVariant(loaded ? "yes" : "default"));
    }
    if (holdMs != 0)
        QVERIFY(holder->wait(10000));
}

// The store and its connections outlive the worker that happened to ask for them first.
void tst_Profile::instanceMadeOnWorkerBelongsToMainThread()
{
    seed();
    Profile *made = nullptr;
    std::unique_ptr<QThread> worker(QThread::create([&made] { made = &Profile::instance(); }));
    worker->start();
    QVERIFY(worker->wait(30000));
    worker.reset();
    QCOMPARE(made->thread(), QThread::currentThread());
    QVERIFY(made->dataDatabase().isOpen());
    made->setValue("owner/key", 7, true);
    QTRY_COMPARE(storedValue("owner/key").toInt(), 7);
}

// Each case is a process of its own; the file is read after it has ended.
void tst_Profile::savesSurviveEveryLifetime_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("killed");
    const auto row = [](const char *name, QStringList keys, bool killed = false) {
        QTest::newRow(name) << keys << killed;
    };
    row("read before application", {"last/turn"});
    row("after application", {"main/after", "worker/after"});
    row("no application, worker saves", {"worker/key", "main/key"});
    row("no application, made on a worker", {"main/key"});
    row("straggling thread", {"main/key", "straggler/first"});
    row("exit in the loop", {"main/key"});
    row("sync then kill", {"main/key"}, true);
    row("sync on a worker then kill", {"worker/key"}, true);
}

void tst_Profile::savesSurviveEveryLifetime()
{
    QFETCH(QStringList, keys);
    QFETCH(bool, killed);
    seed();
    QProcess child;
    child.start(QStringLiteral(LIFETIMES), {QString::fromLatin1(QTest::currentDataTag())});
    QVERIFY(child.waitForFinished(60000));
    const QByteArray errors = child.readAllStandardError();
    QCOMPARE(child.exitStatus(), killed ? QProcess::CrashExit : QProcess::NormalExit);
    if (!killed)
        QCOMPARE(child.exitCode(), 0);
    QVERIFY2(!errors.contains("Warning"), errors.constData());
    // A straggler's write cut off by the exit leaves its journal, which the next writable open
    // rolls back; the check's read-only connection could not.
    QVERIFY(runSql("profile.db", "select count(*) from profile"));
    for (const QString &key : keys)
        QVERIFY2(storedCount(key) == 1, qPrintable(key));
}

void tst_Profile::eachStoreWritesItsOwnFile()
{
    seed();
    for (const char *file : {"a.db", "b.db"})
        QVERIFY(TestDatabase::build(QLatin1String(file), fixtures + "/profile.sql"));
    Profile a("a.db", nullptr);
    Profile b("b.db", nullptr);
    a.setValue("k1", 1, true);
    b.setValue("k2", 2, true);
    QVERIFY(a.sync() && b.sync());
    QCOMPARE(storedValue("k1", "a.db"), QVariant(1));
    QCOMPARE(storedValue("k2", "b.db"), QVariant(2));
    QVERIFY(!storedValue("k1", "b.db").isValid());
    QVERIFY(!storedValue("k2", "a.db").isValid());
    QCOMPARE(b.database().databaseName(), QStringLiteral("b.db"));
}

// Files the store did not write itself, and values SQLite cannot take as they are.
void tst_Profile::hostileFiles_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("lone surrogate among 50")
        << ""
        << "select count(*) from profile where name like 'batch/%' and (name <> "
           "'batch/bad' or value = 'ab' || char(65533))"
        << QVariant(51);
    QTest::newRow("no unique name")
        << "drop table profile; create table profile (name text, value); insert into profile "
           "values ('a', 'x'), ('a', 'y')"
        << "select group_concat(value) from profile where name = 'a'" << QVariant("14");
    QTest::newRow("name not UTF-8")
        << "insert into profile values (cast(x'C328' as text), 'odd')"
        << "select count(*) from profile where hex(name) = 'C328'" << QVariant(0);
}

void tst_Profile::hostileFiles()
{
    QFETCH(QString, setup);
    QFETCH(QString, check);
    QFETCH(QVariant, expected);
    seed();
    if (!setup.isEmpty())
        QVERIFY(runSql("profile.db", setup));
    {
        Profile profile;
        if (QTest::currentDataTag() == QByteArray("lone surrogate among 50")) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("batch/bad: .*lone surrogate"));
            for (int i = 0; i < 50; ++i)
                profile.setValue(QStringLiteral("batch/%1").arg(i), i, true);
            profile.setValue("batch/bad", QString("ab") + QChar(0xD83C), true);
        } else if (QTest::currentDataTag() == QByteArray("no unique name")) {
            for (int i = 0; i < 15; ++i) {
                profile.setValue("a", i, true);
                QVERIFY(profile.sync());
            }
        } else {
            const QStringList odd = profile.keys().filter("(");
            QCOMPARE(odd.size(), 1);
            profile.remove(odd.first());
        }
        QVERIFY(profile.sync());
    }
    QCOMPARE(TestDatabase::scalar("profile.db", check, {}), expected);
}

void tst_Profile::typesAfterRestart_data()
{
    QTest::addColumn<QVariant>("saved");
    QTest::addColumn<QVariant>("restored");
    QTest::newRow("null int") << QVariant(QVariant::Int) << QVariant(QVariant::String);
    QTest::newRow("NaN") << QVariant(qQNaN()) << QVariant(QVariant::String);
    QTest::newRow("empty bytes") << QVariant(QByteArray("")) << QVariant(QByteArray(""));
    QTest::newRow("uint") << QVariant(4000000000u) << QVariant(Q_INT64_C(4000000000));
    QTest::newRow("largest qulonglong")
        << QVariant(Q_UINT64_C(18446744073709551615)) << QVariant("18446744073709551615");
    QTest::newRow("map") << QVariant(QVariantMap {{"a", 1}}) << QVariant();
}

void tst_Profile::typesAfterRestart()
{
    QFETCH(QVariant, saved);
    QFETCH(QVariant, restored);
    seed();
    {
        Profile profile;
        if (!restored.isValid())
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("kind: a QVariantMap cannot be stored"));
        profile.setValue("kind", saved, true);
        QCOMPARE(profile.sync(), restored.isValid());
    }
    Profile restarted;
    const QVariant read = restarted.value("kind", QVariant());
    QCOMPARE(read.userType(), restored.userType());
    QCOMPARE(read.isNull(), restored.isNull());
    QCOMPARE(read, restored);
}

// Another process holds the file while the GUI thread saves on a 50 ms timer: no tick waits
// long, one warning says why the file lags, and everything is in it after the lock goes.
void tst_Profile::heldFileNeverFreezesTheLoop_data()
{
    QTest::addColumn<int>("holdMs");
    QTest::newRow("2 s") << 2000;
    QTest::newRow("40 s") << 40000;
}

void tst_Profile::heldFileNeverFreezesTheLoop()
{
    QFETCH(int, holdMs);
    seed();
    Profile profile;
    QProcess holder;
    holder.start(QStringLiteral(LIFETIMES), {"hold", QString::number(holdMs)});
    QVERIFY(holder.waitForReadyRead(10000));

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^profilewriter\\.cpp:\\d+: profile.db: "
                                            ".* not written, tried again later: "
                                            "database is locked"));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression("written after \\d+ failed attempts"));
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 longestGap = 0;
    int saved = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] {
        const int i = saved++;
        profile.setValue(QStringLiteral("tick/%1").arg(i), i, true);
        longestGap = qMax(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(50);
    QSignalSpy ended(&holder, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    QVERIFY(ended.wait(holdMs + 20000));
    tick.stop();
    QVERIFY(saved > holdMs / 100);
    QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
    QTRY_COMPARE_WITH_TIMEOUT(TestDatabase::scalar("profile.db",
                                                   "select count(*) from profile "
                                                   "where name like 'tick/%'",
                                                   {})
                                  .toInt(),
                              saved, 15000);
}

QTEST_MAIN(tst_Profile)
#include "tst_profile.moc"
