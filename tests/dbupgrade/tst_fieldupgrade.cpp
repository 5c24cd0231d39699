// Tests of the upgrade tool as service engineers run it: backups before a change, a database
// held by another process, the console lines, --help and --version.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <unistd.h>

using namespace UpgradeTest;

namespace {

// Undoes a folder made unchangeable, even when the test fails half-way.
class FolderUnlock
{
public:
    explicit FolderUnlock(const QString &path)
        : m_path(path)
    {
    }
    ~FolderUnlock()
    {
        if (geteuid() == 0)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), m_path});
        else
            QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    QString m_path;
};

QStringList outputLines(const QByteArray &output)
{
    QString text = QString::fromLocal8Bit(output);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// One console line; the time taken varies, so it is matched as a pattern.
void verifyLine(const QString &line, const QString &database, const QString &versions,
                const QString &backup, const QString &status)
{
    const QRegularExpression expected(
        QStringLiteral("^%1: %2, %3, \\d+\\.\\d s, %4$")
            .arg(QRegularExpression::escape(database), QRegularExpression::escape(versions),
                 QRegularExpression::escape(backup), QRegularExpression::escape(status)));
    QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));
}

double lineSeconds(const QString &line)
{
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral(", (\\d+\\.\\d) s, ")).match(line);
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

} // namespace

class TestFieldUpgrade : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void backupBeforeChange();
    void existingBackupKept_data();
    void existingBackupKept();
    void backupCannotBeWritten_data();
    void backupCannotBeWritten();
    void checksAfterChange_data();
    void checksAfterChange();
    void databaseHeldByAnotherProcess_data();
    void databaseHeldByAnotherProcess();
    void helpAndVersion_data();
    void helpAndVersion();

private:
    // Builds the four databases in a "site" subfolder and, for comparison, the same fixtures
    // once more in the "before" folder beside it.
    bool makeSite(const QString &profile, const QString &syslog);
    QByteArray dumpBefore(const QString &name) const;

    std::unique_ptr<TemporarySite> m_site;
};

bool TestFieldUpgrade::makeSite(const QString &profile, const QString &syslog)
{
    m_site.reset(new TemporarySite(QStringLiteral("site")));
    if (!m_site->isValid())
        return false;
    const QDir before(QDir(m_site->rootPath()).filePath(QStringLiteral("before")));
    if (!QDir().mkpath(before.path()))
        return false;
    const QList<QPair<QString, QString>> databases = {{"profile.db", profile},
                                                      {"data.db", "data_v4.sql"},
                                                      {"qc.db", "qc.sql"},
                                                      {"syslog.db", syslog}};
    for (const auto &database : databases) {
        QString error;
        if (!m_site->build(database.first, database.second, &error)
            || !buildDatabase(before.filePath(database.first), database.second, &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
    }
    return true;
}

QByteArray TestFieldUpgrade::dumpBefore(const QString &name) const
{
    return shellOutput(QDir(m_site->rootPath()).filePath("before/" + name), ".dump");
}

void TestFieldUpgrade::cleanup()
{
    m_site.reset();
}

void TestFieldUpgrade::backupBeforeChange()
{
    QVERIFY(makeSite("profile_v0.sql", "syslog_v0.sql"));

    ProgramRun run = runTool({"upgrade.log"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    const QStringList entries = {"data.db",   "profile.db",       "profile.db.v0.bak", "qc.db",
                                 "syslog.db", "syslog.db.v0.bak", "upgrade.log"};
    QCOMPARE(m_site->entries(), entries);
    // The copies hold what the databases held before the upgrade changed them.
    for (const QString &name : {QStringLiteral("profile.db"), QStringLiteral("syslog.db")}) {
        const QByteArray before = dumpBefore(name);
        QVERIFY(before.contains("CREATE TABLE"));
        QCOMPARE(shellOutput(m_site->filePath(name + ".v0.bak"), ".dump"), before);
        QVERIFY(shellOutput(m_site->filePath(name), ".dump") != before);
    }
    QStringList lines = outputLines(run.standardOutput);
    QCOMPARE(lines.size(), 4);
    verifyLine(lines.at(0), "profile.db", "0 -> 4", "backup profile.db.v0.bak", "ok");
    verifyLine(lines.at(1), "data.db", "4 -> 4", "unchanged", "ok");
    verifyLine(lines.at(2), "qc.db", "not versioned", "unchanged", "ok");
    verifyLine(lines.at(3), "syslog.db", "0 -> 1", "backup syslog.db.v0.bak", "ok");

    // The databases are current now: nothing new is written beside them.
    run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m_site->entries(), entries);
    lines = outputLines(run.standardOutput);
    QCOMPARE(lines.size(), 4);
    verifyLine(lines.at(0), "profile.db", "4 -> 4", "unchanged", "ok");
    verifyLine(lines.at(3), "syslog.db", "1 -> 1", "unchanged", "ok");
}

void TestFieldUpgrade::existingBackupKept_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected");

    QTest::newRow("file of that name")
        << QStringList({"profile.db.v0.bak"}) << QString() << QString() << "profile.db.v0-2.bak";
    QTest::newRow("counted name taken too")
        << QStringList({"profile.db.v0.bak", "profile.db.v0-2.bak"}) << QString() << QString()
        << "profile.db.v0-3.bak";
    QTest::newRow("folder of that name")
        << QStringList() << "profile.db.v0.bak" << QString() << "profile.db.v0-2.bak";
    QTest::newRow("link to a missing file") << QStringList() << QString() << "profile.db.v0.bak"
                                            << "profile.db.v0-2.bak";
}

void TestFieldUpgrade::existingBackupKept()
{
    QFETCH(QStringList, files);
    QFETCH(QString, folder);
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QVERIFY(makeSite("profile_v0.sql", "syslog_v1.sql"));
    for (const QString &name : files) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("an earlier copy: " + name.toUtf8());
    }
    if (!folder.isEmpty())
        QVERIFY(QDir().mkdir(folder));
    const QString linkTarget = QDir(m_site->rootPath()).filePath("elsewhere.db");
    if (!link.isEmpty())
        QVERIFY(QFile::link(linkTarget, link));
    const QStringList entriesBefore = m_site->entries();

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(shellOutput(m_site->filePath(expected), ".dump"), dumpBefore("profile.db"));
    verifyLine(outputLines(run.standardOutput).value(0), "profile.db", "0 -> 4",
               "backup " + expected, "ok");
    for (const QString &name : files)
        QCOMPARE(readFile(name), "an earlier copy: " + name.toUtf8());
    if (!folder.isEmpty())
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QVERIFY(!QFile::exists(linkTarget)); // nothing was written through the link
    QStringList entriesAfter = entriesBefore + QStringList({expected, "upgrade.log"});
    entriesAfter.sort();
    QCOMPARE(m_site->entries(), entriesAfter);
}

void TestFieldUpgrade::backupCannotBeWritten_data()
{
    QTest::addColumn<bool>("fileSizeLimit");
    QTest::addColumn<QString>("reason");

    // Writes beyond the limit fail as on a full disk; the limit binds root too.
    QTest::newRow("no space") << true << "disk I/O error";
    // Root ignores permissions, but not an immutable folder; the check before the run finds it.
    QTest::newRow("folder that cannot be written") << false << "cannot be written";
}

void TestFieldUpgrade::backupCannotBeWritten()
{
    QFETCH(bool, fileSizeLimit);
    QFETCH(QString, reason);
    QVERIFY(makeSite("profile_v0.sql", "syslog_v0.sql"));
    // Created beforehand: a folder that cannot be written takes no new log file either.
    QFile(m_site->filePath("upgrade.log")).open(QIODevice::WriteOnly);
    const QStringList entries = m_site->entries();

    ProgramRun run;
    if (fileSizeLimit) {
        // The log and the copy's first pages fit; profile.db does not.
        QVERIFY(QFileInfo("profile.db").size() > 32 * 1024);
        run = runProgram(
            "sh",
            {"-c", R"(trap "" XFSZ; ulimit -f 16 && exec "$0" "$@")", toolPath(), "upgrade.log"},
            m_site->path());
    } else {
        FolderUnlock unlock(m_site->path());
        if (geteuid() == 0) {
            if (QProcess::execute("chattr", {"+i", m_site->path()}) != 0)
                QSKIP("this file system cannot make a folder immutable");
        } else {
            QVERIFY(QFile::setPermissions(m_site->path(), QFile::ReadOwner | QFile::ExeOwner));
        }
        QVERIFY(!QFile("probe").open(QIODevice::WriteOnly)); // the folder really is closed
        run = runTool({"upgrade.log"});
    }
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);

    // Nothing changed, no partial copy left, and the run ended with profile.db.
    QCOMPARE(m_site->entries(), entries);
    for (const char *name : {"profile.db", "data.db", "syslog.db"})
        QCOMPARE(shellOutput(m_site->filePath(name), ".dump"), dumpBefore(name));
    if (!fileSizeLimit) {
        QVERIFY2(run.standardError.contains(reason.toUtf8()), run.standardError.constData());
        QCOMPARE(run.standardOutput, QByteArray());
        return;
    }
    const QStringList log = logMessages(m_site->filePath("upgrade.log"));
    QCOMPARE(log.size(), 1);
    QVERIFY2(
        log.first().startsWith("Warning: Can't back up profile.db to profile.db.v0.bak: " + reason),
        qPrintable(log.first()));
    QVERIFY(log.first().endsWith("; the database is left unchanged"));
    const QStringList lines = outputLines(run.standardOutput);
    QCOMPARE(lines.size(), 1);
    verifyLine(lines.first(), "profile.db", "0 -> 0", "no backup", "FAILED: see upgrade.log");
}

void TestFieldUpgrade::checksAfterChange_data()
{
    QTest::addColumn<QString>("profile");
    QTest::addColumn<int>("dangling");
    QTest::addColumn<int>("logged");

    QTest::newRow("one dangling reference") << "profile_v0.sql" << 1 << 1;
    // The log shows the first 20 and counts the rest.
    QTest::newRow("more than the log shows") << "profile_v0.sql" << 23 << 20;
    // A database the run does not change is not checked.
    QTest::newRow("current database") << "profile_v4.sql" << 3 << 0;
}

void TestFieldUpgrade::checksAfterChange()
{
    QFETCH(QString, profile);
    QFETCH(int, dangling);
    QFETCH(int, logged);
    QVERIFY(makeSite(profile, "syslog_v1.sql"));
    // Reagent rows of curves deleted before the delete trigger took them along.
    QByteArray sql;
    for (int i = 1; i <= dangling; ++i)
        sql += QByteArray("insert into curveReagent(rowid, curveId, name, lot) values(")
            + QByteArray::number(1000 + i) + ", " + QByteArray::number(900 + i)
            + ", 'PT', 'PT0000');\n";
    QVERIFY(runSql("profile.db", sql));

    const ProgramRun run = runTool({"upgrade.log"});
    // The findings predate the tool: they are reported, the run still succeeds.
    QCOMPARE(run.exitCode, 0);
    QStringList expected;
    for (int i = 1; i <= logged; ++i)
        expected.append(QStringLiteral("Warning: profile.db: foreign key check: row %1 of "
                                       "curveReagent refers to a missing row of curve")
                            .arg(1000 + i));
    if (dangling > logged && logged > 0)
        expected.append(QStringLiteral("Warning: profile.db: foreign key check: %1 more findings")
                            .arg(dangling - logged));
    const QStringList checkLines
        = logMessages(m_site->filePath("upgrade.log"))
              .filter(QRegularExpression("^Warning: [a-z]+\\.db: (foreign key|integrity) check: "));
    QCOMPARE(checkLines, expected);
}

void TestFieldUpgrade::databaseHeldByAnotherProcess_data()
{
    QTest::addColumn<int>("heldMs");

    QTest::newRow("released after 1 s") << 1000;
    QTest::newRow("released after 10 s") << 10000;
    // The tool waits its full 30 s here; one such case is enough.
    QTest::newRow("held past the time-out") << 35000;
}

void TestFieldUpgrade::databaseHeldByAnotherProcess()
{
    QFETCH(int, heldMs);
    const bool released = heldMs < 30000;
    // profile.db is upgraded before data.db, so data.db is reached in the middle of the run;
    // syslog.db is above the tool's version: a run that went on past data.db would rewrite it.
    QVERIFY(makeSite("profile_v0.sql", "syslog_v5.sql"));

    QProcess holder;
    holder.start("sqlite3", {"data.db"});
    QVERIFY(holder.waitForStarted());
    holder.write("begin exclusive;\nselect 'locked';\n");
    QByteArray answer;
    while (!answer.contains("locked") && holder.waitForReadyRead(10000))
        answer += holder.readAllStandardOutput();
    QVERIFY2(answer.contains("locked"), holder.readAllStandardError().constData());

    QProcess tool;
    tool.start(toolPath(), {"upgrade.log"});
    QVERIFY(tool.waitForStarted());
    QElapsedTimer held;
    held.start();
    QTest::qSleep(heldMs);
    holder.write("commit;\n");
    QVERIFY(holder.waitForBytesWritten(10000)); // no event loop sends it for us
    holder.closeWriteChannel();
    QVERIFY(tool.waitForFinished(60000));
    QVERIFY(holder.waitForFinished(10000));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    const QStringList lines = outputLines(tool.readAllStandardOutput());
    const QStringList log = logMessages(m_site->filePath("upgrade.log"));

    // Announced at once, and once.
    QCOMPARE(lines.filter("in use").size(), 1);
    QCOMPARE(lines.value(1),
             QString("data.db is in use by another program; waiting up to 30 s — "
                     "close the analyser software"));
    verifyLine(lines.at(0), "profile.db", "0 -> 4", "backup profile.db.v0.bak", "ok");
    if (released) {
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(log.filter("database is locked"), QStringList());
        QCOMPARE(lines.size(), 5);
        verifyLine(lines.at(2), "data.db", "4 -> 4", "unchanged", "ok");
        QVERIFY2(lineSeconds(lines.at(2)) >= heldMs / 1000.0 - 0.5, qPrintable(lines.at(2)));
        // Above the tool's version: stamped down, but only after a backup and with a warning.
        verifyLine(lines.at(4), "syslog.db", "5 -> 1, version lowered", "backup syslog.db.v5.bak",
                   "ok");
        QCOMPARE(log.filter("syslog.db: version 5 is newer than this tool's 1").size(), 1);
        QCOMPARE(shellOutput(m_site->filePath("syslog.db.v5.bak"), ".dump"),
                 dumpBefore("syslog.db"));
    } else {
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(held.elapsed() >= 29000);
        // The failed lock is the last message: no step ran, not even the version rewrite.
        QVERIFY2(log.last().contains("database is locked")
                     && log.last().endsWith("[begin immediate]"),
                 qPrintable(log.last()));
        for (const char *name : {"data.db", "syslog.db"})
            QCOMPARE(shellOutput(m_site->filePath(name), ".dump"), dumpBefore(name));
        QCOMPARE(lines.size(), 3);
        verifyLine(lines.at(2), "data.db", "version unreadable (locked)", "unchanged",
                   "FAILED: see upgrade.log");
    }
}

void TestFieldUpgrade::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected");

    const QString usage
        = "^Usage: dbupgrade \\[options\\] \\[LOGFILE \\[TRANSLATION \\.\\.\\.\\]\\]\n"
          "(.|\n)*--status(.|\n)*data\\.db\\.v0\\.bak(.|\n)*Exit status: 0";
    QTest::newRow("-h") << QStringList({"-h"}) << usage;
    QTest::newRow("--help") << QStringList({"--help"}) << usage;
    QTest::newRow("--help before a log file") << QStringList({"--help", "upgrade.log"}) << usage;
    QTest::newRow("--help after a log file") << QStringList({"upgrade.log", "--help"}) << usage;
    QTest::newRow("--version")
        << QStringList({"--version"})
        << "^dbupgrade \\d+\\.\\d+\\.\\d+\nschema versions: profile.db 4, data.db 4, qc.db not "
           "versioned, syslog.db 1\n$";
}

void TestFieldUpgrade::helpAndVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());

    const ProgramRun run = runTool(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromUtf8(run.standardError), QString());
    const QString output = QString::fromLocal8Bit(run.standardOutput);
    QVERIFY2(QRegularExpression(expected).match(output).hasMatch(), qPrintable(output));
    // No database was opened, so none was created, and no log file either.
    QCOMPARE(m_site->entries(), QStringList());
}

QTEST_GUILESS_MAIN(TestFieldUpgrade)
#include "tst_fieldupgrade.moc"
