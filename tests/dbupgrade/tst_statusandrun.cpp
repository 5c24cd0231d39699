// Tests that --status (text and JSON) says what the run that follows does, site by site, and
// that a large data.db is given its space back without a row changing its rowid.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include <unistd.h>

using namespace UpgradeTest;

namespace {

// Every regular file but a -shm (SQLite's shared memory index) with a hash of its bytes.
QStringList folderState()
{
    QStringList state;
    for (const QFileInfo &info : QDir().entryInfoList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (!info.fileName().endsWith("-shm"))
            state << info.fileName() + ' '
                    + QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Md5)
                          .toHex();
    }
    return state;
}

QStringList lines(const QByteArray &output)
{
    return QString::fromLocal8Bit(output).split('\n', Qt::SkipEmptyParts);
}

// The run's console line that a --status line foresees, as a pattern.
QString runPattern(const QString &status)
{
    const QString file = status.section(": ", 0, 0);
    QString state = status.section(": ", 1);
    const QString tail = QStringLiteral(", (.+, )?\\d+\\.\\d s, ok$");
    const QString head = '^' + QRegularExpression::escape(file + ": ");
    if (state == "missing, would be created")
        return head
            + (file == "qc.db" ? "not versioned, unchanged" : "0 -> 1, no backup \\(empty\\)")
            + tail;
    if (state == "not versioned, current")
        return head + "not versioned, unchanged" + tail;
    state.remove(", interrupted write to roll back");
    const QRegularExpressionMatch m = QRegularExpression("^(\\d+ -> \\d+), (.*)$").match(state);
    const QString versions = QRegularExpression::escape(m.captured(1));
    const QString rest = m.captured(2);
    if (rest == "current")
        return head + versions + ", unchanged" + tail;
    if (rest.startsWith("would upgrade, "))
        return head + versions + ", " + QRegularExpression::escape(rest.mid(15)) + tail;
    if (rest.startsWith("would lower the version, "))
        return head + versions + ", version lowered, " + QRegularExpression::escape(rest.mid(25))
            + tail;
    return "unforeseen: " + status;
}

} // namespace

class TestStatusAndRun : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void statusForeseesRun_data();
    void statusForeseesRun();
    void largeDataDbGivenSpaceBack();

private:
    std::unique_ptr<TemporarySite> m_site;
    bool m_immutable = false;
};

void TestStatusAndRun::cleanup()
{
    if (m_immutable)
        QProcess::execute("chattr", {"-i", m_site->filePath("data.db")});
    m_immutable = false;
    {
        QSqlDatabase::database("wal writer", false).close();
    }
    QSqlDatabase::removeDatabase("wal writer");
    m_site.reset();
}

void TestStatusAndRun::statusForeseesRun_data()
{
    QTest::addColumn<QStringList>("fixtures"); // pairs of database and fixture
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<QStringList>("status"); // a trailing * matches any rest of the line
    QTest::addColumn<int>("statusExit");

    const QStringList old = {"profile.db", "profile_v0.sql", "data.db",   "data_v0.sql",
                             "qc.db",      "qc.sql",         "syslog.db", "syslog_v0.sql"};
    const QStringList current = {"profile.db", "profile_v4.sql", "data.db",   "data_v4.sql",
                                 "qc.db",      "qc.sql",         "syslog.db", "syslog_v1.sql"};
    const QStringList created
        = {"qc.db: missing, would be created", "syslog.db: missing, would be created"};
    QTest::newRow("example")
        << old << "example"
        << QStringList {"profile.db: 0 -> 4, would upgrade, backup "
                        "profile.db.v0.bak",
                        "data.db: 0 -> 4, would upgrade, backup data.db.v0.bak",
                        "qc.db: not versioned, current",
                        "syslog.db: 0 -> 1, would upgrade, backup "
                        "syslog.db.v0.bak"}
        << 3;
    QTest::newRow("current") << current << ""
                             << QStringList {"profile.db: 4 -> 4, current",
                                             "data.db: 4 -> 4, current",
                                             "qc.db: not versioned, current",
                                             "syslog.db: 1 -> 1, current"}
                             << 0;
    QTest::newRow("mixed") << QStringList {"profile.db",  "profile_v4.sql", "data.db",
                                           "data_v2.sql", "data.db.v2.bak", "data_v1.sql"}
                           << ""
                           << (QStringList {"profile.db: 4 -> 4, current",
                                            "data.db: 2 -> 4, would upgrade, backup "
                                            "data.db.v2-2.bak"}
                               + created)
                           << 3;
    QTest::newRow("newer") << (QStringList(current.mid(0, 6)) << "syslog.db"
                                                              << "syslog_v5.sql")
                           << ""
                           << QStringList {"profile.db: 4 -> 4, current",
                                           "data.db: 4 -> 4, current",
                                           "qc.db: not versioned, current",
                                           "syslog.db: 5 -> 1, would lower the version, backup "
                                           "syslog.db.v5.bak"}
                           << 3;
    QTest::newRow("0-byte data.db")
        << QStringList(old.mid(0, 2)) << "empty data.db"
        << (QStringList {"profile.db: 0 -> 4, would upgrade, backup profile.db.v0.bak",
                         "data.db: would refuse: not a database (0 bytes)"}
            + created)
        << 1;
    QTest::newRow("unwritable data.db")
        << old << "immutable data.db"
        << QStringList {"profile.db: 0 -> 4, would upgrade, backup profile.db.v0.bak",
                        "data.db: would refuse: cannot be read and written: *",
                        "qc.db: not versioned, current",
                        "syslog.db: 0 -> 1, would upgrade, backup syslog.db.v0.bak"}
        << 1;
    // A writer killed after its first changed pages reached data.db.
    QTest::newRow("hot journal")
        << QStringList {"profile.db", "profile_v4.sql", "data.db", "data_v0.sql"} << "hot journal"
        << (QStringList {"profile.db: 4 -> 4, current",
                         "data.db: 0 -> 4, interrupted write to roll back, would upgrade, backup "
                         "data.db.v0.bak"}
            + created)
        << 3;
    // Rows of the analyser only in data.db-wal; the stopped run's backup holds them.
    QTest::newRow("WAL after a stopped run")
        << QStringList {"profile.db", "profile_v4.sql", "data.db", "data_v0.sql"} << "wal"
        << (QStringList {"profile.db: 4 -> 4, current",
                         "data.db: 0 -> 4, would upgrade, backup data.db.v0.bak"}
            + created)
        << 3;
}

void TestStatusAndRun::statusForeseesRun()
{
    QFETCH(QStringList, fixtures);
    QFETCH(QString, prepare);
    QFETCH(QStringList, status);
    QFETCH(int, statusExit);
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    if (prepare == "example") {
        for (const char *name : {"profile", "data", "qc", "syslog"}) {
            QFile sql(QStringLiteral(EXAMPLE_SITE_DIR "/%1.sql").arg(name));
            QVERIFY(sql.open(QIODevice::ReadOnly));
            QVERIFY(runSql(QString(name) + ".db", sql.readAll()));
        }
    }
    for (int i = 0; prepare != "example" && i + 1 < fixtures.size(); i += 2)
        QVERIFY(m_site->build(fixtures.at(i), fixtures.at(i + 1)));
    if (prepare == "empty data.db")
        QVERIFY(QFile("data.db").open(QIODevice::WriteOnly));
    if (prepare == "immutable data.db") {
        if (geteuid() != 0 || QProcess::execute("chattr", {"+i", "data.db"}) != 0)
            QSKIP("no file can be made immutable here");
        m_immutable = true;
    }
    if (prepare == "wal") {
        QVERIFY(runSql("data.db", "PRAGMA journal_mode=WAL;"));
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "wal writer");
        writer.setDatabaseName("data.db");
        QVERIFY(writer.open());
        QSqlQuery query(writer);
        QVERIFY(query.exec("PRAGMA wal_autocheckpoint=0"));
        QVERIFY(query.exec("insert into patient(id, name) values(900001, 'only in the WAL')"));
        QVERIFY(QFileInfo("data.db-wal").size() > 0);
    }
    if (prepare == "hot journal") {
        runProgram("sh",
                   {"-c",
                    "printf 'pragma cache_size=1;\nbegin;\nupdate patient set name = name "
                    "|| randomblob(500);\ndelete from curve;\n.shell kill -9 $PPID\n' | "
                    "sqlite3 data.db"},
                   m_site->path());
        QVERIFY(readFile("data.db-journal").startsWith(QByteArray::fromHex("d9d505f920a163d7")));
    }
    if (prepare == "wal") {
        QProcess stopped;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUPGRADE_TEST_KILL", "commit data.db");
        stopped.setProcessEnvironment(environment);
        stopped.start(toolPath(), {"stopped.log"});
        QVERIFY(stopped.waitForFinished(60000));
        QCOMPARE(stopped.exitStatus(), QProcess::CrashExit);
    }
    const QStringList before = folderState();

    const ProgramRun text = runTool({"--status"});
    const ProgramRun json = runTool({"--status", "--json"});
    QCOMPARE(folderState(), before); // changed nothing, not even a journal rolled back
    QCOMPARE(text.exitCode, statusExit);
    QCOMPARE(json.exitCode, statusExit);
    const QStringList said = lines(text.standardOutput);
    QCOMPARE(said.size(), status.size());
    for (int i = 0; i < status.size(); ++i) {
        if (status.at(i).endsWith('*'))
            QVERIFY2(said.at(i).startsWith(status.at(i).chopped(1)), qPrintable(said.at(i)));
        else
            QCOMPARE(said.at(i), status.at(i));
    }
    const QStringList objects = lines(json.standardOutput);
    QCOMPARE(objects.size(), said.size());
    for (int i = 0; i < said.size(); ++i) {
        const QJsonObject object = QJsonDocument::fromJson(objects.at(i).toUtf8()).object();
        QCOMPARE(object.value("file").toString() + ": " + object.value("status").toString(),
                 said.at(i));
        const QString backup = said.at(i).section(", backup ", 1);
        QCOMPARE(object.value("backup").toString(), backup);
        QCOMPARE(object.value("action").toString() == "refuse", said.at(i).contains("refuse"));
    }

    const ProgramRun run = runTool({"upgrade.log"});
    const QStringList refusals = said.filter(": would refuse: ");
    if (!refusals.isEmpty()) {
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.standardOutput, QByteArray());
        const QString reason = refusals.first().section(": would refuse: ", 1);
        QVERIFY2(QString::fromLocal8Bit(run.standardError).contains(reason.section(':', 0, 0)),
                 run.standardError.constData());
        return;
    }
    QCOMPARE(run.exitCode, 0);
    const QStringList done = lines(run.standardOutput);
    QCOMPARE(done.size(), said.size());
    for (int i = 0; i < said.size(); ++i)
        QVERIFY2(QRegularExpression(runPattern(said.at(i))).match(done.at(i)).hasMatch(),
                 qPrintable(said.at(i) + " / " + done.at(i)));
    if (prepare == "wal")
        QCOMPARE(queryTexts("data.db.v0.bak", "select name from patient where id = 900001"),
                 QStringList("only in the WAL"));
    if (prepare == "hot journal") {
        QTemporaryDir fresh;
        QVERIFY(buildDatabase(fresh.filePath("data.db"), "data_v0.sql"));
        QCOMPARE(databaseDump("data.db.v0.bak"), databaseDump(fresh.filePath("data.db")));
    }
}

void TestStatusAndRun::largeDataDbGivenSpaceBack()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    for (const char *site : {"compacted", "stopped"}) {
        QVERIFY(QDir().mkdir(site));
        QVERIFY(buildDatabase(QString(site) + "/profile.db", "profile_v4.sql"));
    }
    const ProgramRun generated
        = runProgram(DATADBGEN_PATH, {"compacted/data.db", "10000", "2000", "1200"}, QString());
    QCOMPARE(generated.exitCode, 0);
    QVERIFY(QFile::copy("compacted/data.db", "stopped/data.db"));
    const qint64 original = QFileInfo("compacted/data.db").size();

    const ProgramRun run = runTool({"upgrade.log"}, m_site->filePath("compacted"));
    QCOMPARE(run.exitCode, 0);
    const QString line = lines(run.standardOutput).value(1);
    QVERIFY2(QRegularExpression("^data.db: 0 -> 4, backup data.db.v0.bak, \\d+\\.\\d MB -> "
                                "\\d+\\.\\d MB, \\d+\\.\\d s, ok$")
                 .match(line)
                 .hasMatch(),
             qPrintable(line));
    const qint64 compacted = QFileInfo("compacted/data.db").size();
    QVERIFY2(compacted < original * 11 / 10, qPrintable(QString::number(compacted)));

    // The same upgrade, stopped after its commit and before the compaction.
    QProcess stopped;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUPGRADE_TEST_KILL", "compact data.db");
    stopped.setProcessEnvironment(environment);
    stopped.setWorkingDirectory(m_site->filePath("stopped"));
    stopped.start(toolPath(), {"upgrade.log"});
    QVERIFY(stopped.waitForFinished(60000));
    QCOMPARE(stopped.exitStatus(), QProcess::CrashExit);
    QVERIFY(QFileInfo("stopped/data.db").size() > compacted * 3 / 2);

    // Every row of every table with its rowid.
    const QStringList tables = queryTexts(
        "stopped/data.db", "select name from sqlite_master where type = 'table' order by name");
    QVERIFY(tables.contains("results"));
    for (const QString &table : tables) {
        const QString sql = QString("select rowid, * from \"%1\" order by rowid").arg(table);
        QCOMPARE(queryTexts("compacted/data.db", sql), queryTexts("stopped/data.db", sql));
    }
}

QTEST_GUILESS_MAIN(TestStatusAndRun)
#include "tst_statusandrun.moc"
