// Tests of what the upgrade tool leaves when it must not run (a wrong command line, a wrong
// folder, a full disk), of --status, and of two runs started together.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace UpgradeTest;

namespace {

// Every entry of the folder with a hash of its bytes: equal states mean nothing was created,
// removed or changed.
QStringList folderState(const QString &path)
{
    QStringList state;
    const QDir dir(path);
    for (const QFileInfo &info :
         dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name)) {
        // A FIFO is not read: that would wait for a writer.
        state.append(info.fileName() + ' '
                     + (info.isFile() ? QCryptographicHash::hash(readFile(info.filePath()),
                                                                 QCryptographicHash::Md5)
                                            .toHex()
                                      : QByteArray("not a file")));
    }
    return state;
}

} // namespace

class TestUpgradeSafety : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void refusedRun_data();
    void refusedRun();
    void status_data();
    void status();
    void twoRunsAtOnce();
    void restore_data();
    void restore();

private:
    bool build(const QStringList &fixtures);

    std::unique_ptr<TemporarySite> m_site;
    QString m_mount;
};

// Pairs of database and fixture; an empty fixture leaves the database out.
bool TestUpgradeSafety::build(const QStringList &fixtures)
{
    for (int i = 0; i + 1 < fixtures.size(); i += 2) {
        QString error;
        if (!m_site->build(fixtures.at(i), fixtures.at(i + 1), &error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
    }
    return true;
}

void TestUpgradeSafety::cleanup()
{
    if (!m_mount.isEmpty()) {
        QDir::setCurrent(QDir::rootPath()); // a busy mount cannot be taken away
        QProcess::execute("umount", {m_mount});
        m_mount.clear();
    }
    m_site.reset();
}

void TestUpgradeSafety::refusedRun_data()
{
    QTest::addColumn<QStringList>("fixtures");
    QTest::addColumn<QStringList>("other"); // further files in the folder
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // on standard error

    const QStringList old
        = {"profile.db", "profile_v0.sql", "data.db", "data_v0.sql", "syslog.db", "syslog_v0.sql"};
    QTest::newRow("empty folder") << QStringList() << QStringList() << QStringList({"upgrade.log"})
                                  << 1 << "is not an instrument folder";
    QTest::newRow("wrong folder") << QStringList({"qc.db", "qc.sql"}) << QStringList({"notes.txt"})
                                  << QStringList() << 1 << "is not an instrument folder";
    QTest::newRow("data.db missing") << QStringList(old.mid(0, 2)) << QStringList() << QStringList()
                                     << 1 << "data.db is missing in ";
    QTest::newRow("profile.db not a database")
        << QStringList(old.mid(2)) << QStringList({"profile.db"}) << QStringList() << 1
        << "profile.db in ";
    QTest::newRow("log name is a database") << old << QStringList() << QStringList({"data.db"}) << 2
                                            << "data.db cannot be the log file";
    QTest::newRow("log name is a translation")
        << old << QStringList() << QStringList({"dbupgrade_en.qm"}) << 2
        << "dbupgrade_en.qm cannot be the log file: it is a translation file";
    QTest::newRow("log name is not text")
        << old << QStringList({"binary.log"}) << QStringList({"binary.log"}) << 2
        << "it is not a text file";
    QTest::newRow("unknown option")
        << old << QStringList() << QStringList({"upgrade.log", "--dry-run"}) << 2
        << "Unknown option 'dry-run'";
    QTest::newRow("missing translation")
        << old << QStringList() << QStringList({"upgrade.log", "dbupgrade_xx"}) << 2
        << "the translation dbupgrade_xx cannot be found or loaded";
    // The service record must exist before anything is touched, and no log may block the tool.
    QTest::newRow("log in a missing folder")
        << old << QStringList() << QStringList({"nodir/upgrade.log"}) << 2
        << "nodir/upgrade.log cannot be the log file: its folder ";
    QTest::newRow("log is a folder") << old << QStringList() << QStringList({"."}) << 2
                                     << ". cannot be the log file: it is a folder";
    QTest::newRow("log is a FIFO") << old << QStringList() << QStringList({"fifo.log"}) << 2
                                   << "fifo.log cannot be the log file: it is a FIFO";
    QTest::newRow("log is a device") << old << QStringList() << QStringList({"/dev/null"}) << 2
                                     << "/dev/null cannot be the log file: it is a device";
    QTest::newRow("profile.db of another application")
        << QStringList(old.mid(2)) << QStringList() << QStringList({"upgrade.log"}) << 1
        << "is not an instrument folder: profile.db holds none of the analyser's tables";
    QTest::newRow("damaged data.db") << old << QStringList() << QStringList({"upgrade.log"}) << 1
                                     << "is damaged: database disk image is malformed";
    QTest::newRow("full disk") << old << QStringList() << QStringList({"upgrade.log"}) << 1
                               << "not enough free space in ";
}

void TestUpgradeSafety::refusedRun()
{
    QFETCH(QStringList, fixtures);
    QFETCH(QStringList, other);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    m_site.reset(new TemporarySite(QStringLiteral("site")));
    QVERIFY(m_site->isValid());
    if (QByteArray(QTest::currentDataTag()) == "full disk") {
        // A small file system of its own: 1 MiB, less than the backups and the journal need.
        if (geteuid() != 0
            || QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", m_site->path()})
                != 0)
            QSKIP("no small file system can be mounted here");
        m_mount = m_site->path();
        QDir::setCurrent(m_mount); // the mount hides the folder's former contents
    }
    QVERIFY(build(fixtures));
    const QByteArray tag = QTest::currentDataTag();
    if (tag == "log is a FIFO")
        QCOMPARE(::mkfifo("fifo.log", 0644), 0);
    if (tag == "profile.db of another application")
        QVERIFY(runSql("profile.db", "create table note(text); insert into note values('x');"));
    if (tag == "damaged data.db")
        QVERIFY(QFile::resize("data.db", QFileInfo("data.db").size() / 2));
    for (const QString &name : other) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("not a database\0\1\2", 18));
    }
    const QStringList before = folderState(m_site->path());

    const ProgramRun run = runTool(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, exitCode);
    const QString error = QString::fromLocal8Bit(run.standardError);
    QVERIFY2(error.startsWith("dbupgrade: ") && error.contains(message), qPrintable(error));
    // One line naming the problem (a usage hint may follow it), and no database line.
    QVERIFY2(error.count('\n') <= 2, qPrintable(error));
    QCOMPARE(run.standardOutput, QByteArray());
    QCOMPARE(folderState(m_site->path()), before);
}

void TestUpgradeSafety::status_data()
{
    QTest::addColumn<QStringList>("fixtures");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("old") << QStringList({"profile.db", "profile_v0.sql", "data.db", "data_v0.sql",
                                         "qc.db", "qc.sql", "syslog.db", "syslog_v0.sql"})
                         << QStringList(
                                {"profile.db: 0 -> 4, would upgrade, backup profile.db.v0.bak",
                                 "data.db: 0 -> 4, would upgrade, backup data.db.v0.bak",
                                 "qc.db: not versioned, current",
                                 "syslog.db: 0 -> 1, would upgrade, backup syslog.db.v0.bak"})
                         << 3;
    QTest::newRow("current") << QStringList({"profile.db", "profile_v4.sql", "data.db",
                                             "data_v4.sql", "qc.db", "qc.sql", "syslog.db",
                                             "syslog_v1.sql"})
                             << QStringList(
                                    {"profile.db: 4 -> 4, current", "data.db: 4 -> 4, current",
                                     "qc.db: not versioned, current", "syslog.db: 1 -> 1, current"})
                             << 0;
    // An earlier backup's name is taken, so the next one gets -2.
    QTest::newRow("mixed") << QStringList(
        {"profile.db", "profile_v4.sql", "data.db", "data_v2.sql", "data.db.v2.bak", "data_v1.sql"})
                           << QStringList(
                                  {"profile.db: 4 -> 4, current",
                                   "data.db: 2 -> 4, would upgrade, backup data.db.v2-2.bak",
                                   "qc.db: missing, would be created",
                                   "syslog.db: missing, would be created"})
                           << 3;
    QTest::newRow("newer") << QStringList(
        {"profile.db", "profile_v4.sql", "data.db", "data_v4.sql", "syslog.db", "syslog_v5.sql"})
                           << QStringList({"profile.db: 4 -> 4, current",
                                           "data.db: 4 -> 4, current",
                                           "qc.db: missing, would be created",
                                           "syslog.db: 5 -> 1, would lower the version, "
                                           "backup syslog.db.v5.bak"})
                           << 3;
}

void TestUpgradeSafety::status()
{
    QFETCH(QStringList, fixtures);
    QFETCH(QStringList, lines);
    QFETCH(int, exitCode);
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    QVERIFY(build(fixtures));
    const QStringList before = folderState(m_site->path());

    const ProgramRun run = runTool({"--status"});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(QString::fromLocal8Bit(run.standardOutput).split('\n', Qt::SkipEmptyParts), lines);
    QCOMPARE(run.standardError, QByteArray());
    QCOMPARE(folderState(m_site->path()), before);
}

void TestUpgradeSafety::twoRunsAtOnce()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    QVERIFY(build({"profile.db", "profile_v0.sql", "data.db", "data_v0.sql", "qc.db", "qc.sql",
                   "syslog.db", "syslog_v0.sql"}));
    QStringList before;
    for (const char *name : {"profile.db", "data.db", "syslog.db"})
        before.append(shellOutput(name, ".dump"));

    QProcess first;
    QProcess second;
    first.start(toolPath(), {"first.log"});
    second.start(toolPath(), {"second.log"});
    QVERIFY(first.waitForFinished(60000));
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.exitCode(), 0);
    const QString output
        = QString::fromLocal8Bit(first.readAllStandardOutput() + second.readAllStandardOutput());

    // One run upgraded each database, the other found it current: one complete backup each.
    QCOMPARE(
        m_site->entries(),
        QStringList({"data.db", "data.db.v0.bak", "first.log", "profile.db", "profile.db.v0.bak",
                     "qc.db", "second.log", "syslog.db", "syslog.db.v0.bak"}));
    int i = 0;
    for (const char *name : {"profile.db", "data.db", "syslog.db"}) {
        const QString backup = QString(name) + ".v0.bak";
        QCOMPARE(shellOutput(backup, ".dump"), before.at(i++));
        QCOMPARE(output.count("backup " + backup), 1);
        QCOMPARE(output.count(QRegularExpression(
                     QString("^%1: \\d -> \\d, unchanged, ").arg(QRegularExpression::escape(name)),
                     QRegularExpression::MultilineOption)),
                 1);
    }
}

void TestUpgradeSafety::restore_data()
{
    QTest::addColumn<QString>("killAt"); // empty: the upgrade finished

    QTest::newRow("after a finished upgrade") << QString();
    // The interrupted run leaves a hot journal beside data.db, which a plain file copy of the
    // backup would have SQLite apply to the copy.
    QTest::newRow("after a kill, journal beside the database") << "insert into results (";
}

void TestUpgradeSafety::restore()
{
    QFETCH(QString, killAt);
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    QVERIFY(build({"profile.db", "profile_v4.sql", "data.db", "data_v0.sql"}));
    const QStringList original = databaseDump("data.db");

    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUPGRADE_TEST_KILL", killAt);
    tool.setProcessEnvironment(environment);
    tool.start(toolPath(), {"upgrade.log"});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitStatus(), killAt.isEmpty() ? QProcess::NormalExit : QProcess::CrashExit);
    QCOMPARE(QFile::exists("data.db-journal"), !killAt.isEmpty());
    const QString version = killAt.isEmpty() ? "4" : "0";
    // Left alone after the kill: the journal must still be there when --restore runs. SQLite
    // rolls it back at the next open, so the state kept is the original one.
    const QStringList before = killAt.isEmpty() ? databaseDump("data.db") : original;

    const ProgramRun run = runTool({"--restore", "data.db.v0.bak"});
    QCOMPARE(run.exitCode, 0);
    // After the kill the database is as it was, so the upgrade's backup already holds it.
    const QString kept = "data.db.v" + version + ".bak";
    QCOMPARE(QString::fromLocal8Bit(run.standardOutput),
             "data.db: restored from data.db.v0.bak, the state before kept in " + kept + ", ok\n");
    QCOMPARE(databaseDump("data.db"), original);
    QCOMPARE(databaseDump(kept), before);
    QVERIFY(!QFile::exists("data.db-journal"));

    QCOMPARE(runTool({"--restore", "upgrade.log"}).exitCode, 2);
    // One mode at a time: the restore is not silently dropped for the other.
    QCOMPARE(runTool({"--restore", "data.db.v0.bak", "--status"}).exitCode, 2);
    QCOMPARE(databaseDump("data.db"), original);
}

QTEST_GUILESS_MAIN(TestUpgradeSafety)
#include "tst_upgradesafety.moc"
