// Tests of --restore as a service engineer uses it: a write that lands while it runs, backups
// that are no copy of the database's old state, a held database, and a WAL site.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDir>
#include <QtTest>

#include <memory>

#include <unistd.h>

using namespace UpgradeTest;

namespace {

// Holds data.db locked through the sqlite3 shell until release().
class Holder
{
public:
    bool hold(const QString &sql)
    {
        m_shell.start(QStringLiteral("sqlite3"), {QStringLiteral("data.db")});
        if (!m_shell.waitForStarted())
            return false;
        m_shell.write(sql.toUtf8() + "\nselect 'held';\n");
        QByteArray answer;
        while (!answer.contains("held") && m_shell.waitForReadyRead(10000))
            answer += m_shell.readAllStandardOutput();
        return answer.contains("held");
    }
    void release(const QByteArray &sql)
    {
        m_shell.write(sql);
        m_shell.waitForBytesWritten(10000); // no event loop sends it for us
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(30000);
    }

private:
    QProcess m_shell;
};

const char marker[] = "insert into patient(id, name) values(900001, 'written during the restore');";

int markerRows(const QString &database)
{
    return queryTexts(database, "select id from patient where id = 900001").size();
}

} // namespace

class TestRestore : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void restore_data();
    void restore();
    void walSiteLeavesNothingOfTheTool();

private:
    std::unique_ptr<TemporarySite> m_site;
    QStringList m_original; // data.db before the upgrade
};

void TestRestore::init()
{
    m_site.reset(new TemporarySite(QStringLiteral("site")));
    QVERIFY(m_site->isValid());
    QVERIFY(m_site->build("profile.db", "profile_v4.sql"));
    QVERIFY(m_site->build("data.db", "data_v0.sql"));
    m_original = databaseDump("data.db");
    QCOMPARE(runTool({"upgrade.log"}).exitCode, 0);
}

void TestRestore::cleanup()
{
    m_site.reset();
}

void TestRestore::restore_data()
{
    QTest::addColumn<QString>("prepare"); // what the row puts in the folder first
    QTest::addColumn<QString>("argument");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // the last line on standard output or error

    const QString restored = "data.db: restored from data.db.v0.bak, the state before kept in "
                             "data.db.v4.bak, ok";
    QTest::newRow("write during the restore") << "write"
                                              << "data.db.v0.bak" << 0 << restored;
    // Killed holding the lock, the state kept: the database rolls back to itself.
    QTest::newRow("killed before the copy") << "kill"
                                            << "data.db.v0.bak" << -1 << "";
    QTest::newRow("held database, announced") << "hold"
                                              << "data.db.v0.bak" << 0 << restored;
    QTest::newRow("relative path") << ""
                                   << "./data.db.v0.bak" << 0 << restored;
    QTest::newRow("path to a file in the folder") << ""
                                                  << "$site/data.db.v0.bak" << 0 << restored;
    QTest::newRow("hard link to the database")
        << "link"
        << "data.db.v4.bak" << 1
        << "data.db: not restored: data.db.v4.bak cannot serve as a backup: it is a link to "
           "data.db itself";
    QTest::newRow("symbolic link to a backup")
        << "symlink"
        << "data.db.v0-2.bak" << 1
        << "data.db: not restored: data.db.v0-2.bak cannot serve as a backup: it is a symbolic "
           "link";
    QTest::newRow("backup of another database")
        << "other"
        << "profile.db.v4.bak" << 1
        << "profile.db: not restored: profile.db.v4.bak holds the tables of data.db, not those "
           "of profile.db";
    QTest::newRow("version other than its name's")
        << "renamed"
        << "data.db.v2.bak" << 1
        << "data.db: not restored: data.db.v2.bak holds version 0, not the 2 its name says";
    QTest::newRow("file outside the folder")
        << ""
        << "$site/../data.db.v0.bak" << 2
        << "dbupgrade: $site/../data.db.v0.bak is not the name of a backup of a database in "
           "this folder, such as data.db.v0.bak";
}

void TestRestore::restore()
{
    QFETCH(QString, prepare);
    QFETCH(QString, argument);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    argument.replace("$site", m_site->path());
    output.replace("$site", m_site->path());
    const QStringList upgraded = databaseDump("data.db");
    if (prepare == "link")
        QCOMPARE(::link("data.db", "data.db.v4.bak"), 0);
    if (prepare == "symlink")
        QVERIFY(QFile::link("data.db.v0.bak", "data.db.v0-2.bak"));
    if (prepare == "other")
        QVERIFY(QFile::copy("data.db.v0.bak", "profile.db.v4.bak"));
    if (prepare == "renamed")
        QVERIFY(QFile::copy("data.db.v0.bak", "data.db.v2.bak"));
    if (prepare == "renamed" && QFile::exists("data.db.v0.bak"))
        QVERIFY(QFile::remove("data.db.v0.bak"));
    const QStringList profile = databaseDump("profile.db");
    const QStringList entries = m_site->entries();

    Holder holder;
    if (prepare == "hold")
        QVERIFY(holder.hold("begin exclusive;"));
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Keeps the restore between its copy of the current state and the restored copy long
    // enough for the write below to try to land there.
    if (prepare == "write")
        environment.insert("DBUPGRADE_TEST_PAUSE", "restore copying data.db");
    if (prepare == "kill")
        environment.insert("DBUPGRADE_TEST_KILL", "restore copying data.db");
    tool.setProcessEnvironment(environment);
    tool.start(toolPath(), {"--restore", argument});
    QVERIFY(tool.waitForStarted());
    QProcess writer;
    if (prepare == "write") {
        QByteArray paused;
        while (!paused.contains("paused") && tool.waitForReadyRead(10000))
            paused += tool.readAllStandardError();
        QVERIFY(paused.contains("paused at restore copying data.db"));
        writer.start("sqlite3", {"-cmd", ".timeout 20000", "data.db", marker});
        QVERIFY(writer.waitForStarted());
    }
    if (prepare == "hold") {
        QTest::qSleep(1000);
        holder.release("commit;\n");
    }
    QVERIFY(tool.waitForFinished(60000));
    if (exitCode < 0) {
        QCOMPARE(tool.exitStatus(), QProcess::CrashExit);
        QCOMPARE(databaseDump("data.db"), upgraded);
        QCOMPARE(databaseDump("data.db.v4.bak"), upgraded);
        // A plain second try restores, taking the state kept as it is.
        exitCode = runTool({"--restore", argument}).exitCode;
        QCOMPARE(exitCode, 0);
        QVERIFY(!QFile::exists("data.db-journal"));
    } else {
        QCOMPARE(tool.exitCode(), exitCode);
    }
    if (prepare == "kill")
        QCOMPARE(QDir().entryList({"*.bak"}), QStringList({"data.db.v0.bak", "data.db.v4.bak"}));
    const QString lines
        = QString::fromLocal8Bit(tool.readAllStandardOutput() + tool.readAllStandardError())
              .trimmed();
    if (prepare != "kill")
        QCOMPARE(lines.split('\n').last(), output);

    if (prepare == "hold")
        QCOMPARE(lines.split('\n').first(),
                 QString("data.db is in use by another program; waiting up to 30 s — close the "
                         "analyser software"));
    if (prepare == "write") {
        QVERIFY(writer.waitForFinished(30000));
        QCOMPARE(writer.exitCode(), 0);
        // The write is kept: in the restored database, or in the state kept before.
        QCOMPARE(markerRows("data.db") + markerRows("data.db.v4.bak"), 1);
        QVERIFY(runSql("data.db", "delete from patient where id = 900001;"));
    }
    if (exitCode == 0) {
        QCOMPARE(databaseDump("data.db"), m_original);
        QCOMPARE(databaseDump("data.db.v4.bak"), upgraded);
    } else {
        // Nothing was touched.
        QCOMPARE(m_site->entries(), entries);
        QCOMPARE(databaseDump("data.db"), upgraded);
        QCOMPARE(databaseDump("profile.db"), profile);
    }
}

void TestRestore::walSiteLeavesNothingOfTheTool()
{
    for (const char *name : {"data.db", "profile.db", "data.db.v0.bak", "upgrade.log"})
        QVERIFY(QFile::remove(name));
    QVERIFY(m_site->build("data.db", "data_v0.sql"));
    QVERIFY(runSql("data.db", "PRAGMA journal_mode=WAL;"));
    QVERIFY(m_site->build("profile.db", "profile_v0.sql"));
    QVERIFY(runSql("profile.db", "PRAGMA journal_mode=WAL;"));
    const QStringList profile = databaseDump("profile.db");
    // Read, not opened in the folder: a reader would leave a -wal and -shm.
    const QStringList before = m_site->entries();
    QCOMPARE(runTool({"--status"}).exitCode, 3);
    QCOMPARE(m_site->entries(), before);

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    const QStringList after = {"data.db", "data.db.v0.bak", "profile.db", "profile.db.v0.bak",
                               "qc.db",   "syslog.db",      "upgrade.log"};
    QCOMPARE(m_site->entries(), after);
    QCOMPARE(databaseDump("data.db.v0.bak"), m_original);
    QCOMPARE(databaseDump("profile.db.v0.bak"), profile);
    // A backup is one file of its own, whatever the mode of its database.
    QCOMPARE(queryTexts("data.db.v0.bak", "PRAGMA journal_mode"), QStringList("delete"));
    QCOMPARE(queryTexts("data.db", "PRAGMA journal_mode"), QStringList("wal"));

    const ProgramRun restore = runTool({"--restore", "data.db.v0.bak"});
    QCOMPARE(restore.exitCode, 0);
    QStringList restored = QStringList(after) << "data.db.v4.bak";
    restored.sort();
    QCOMPARE(m_site->entries(), restored);
    QCOMPARE(databaseDump("data.db"), m_original);
    QCOMPARE(queryTexts("data.db", "PRAGMA journal_mode"), QStringList("wal"));
}

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_restore.moc"
