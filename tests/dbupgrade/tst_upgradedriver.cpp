// Tests of the upgrade tool's driver, run as users run it: arguments, log file, translations,
// the order of the updaters and the exit status.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace UpgradeTest;

class TestUpgradeDriver : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();

    void currentFolderWithoutArguments();
    void logFileAppended();
    void logFileThatCannotBeOpened();
    void translationLoaded_data();
    void translationLoaded();
    void failingUpdaterEndsRun_data();
    void failingUpdaterEndsRun();
    void fatalMessageReachesLog();

private:
    // A folder of current databases, whose syslog.db makes the run write warnings when asked.
    bool makeSite(const QString &subfolder = QString(), bool warnings = false);

    std::unique_ptr<TemporarySite> m_site;
};

bool TestUpgradeDriver::makeSite(const QString &subfolder, bool warnings)
{
    m_site.reset(new TemporarySite(subfolder));
    QString error;
    const bool ok = m_site->isValid() && m_site->build("profile.db", "profile_v4.sql", &error)
        && m_site->build("data.db", "data_v4.sql", &error)
        && m_site->build("qc.db", "qc.sql", &error)
        && m_site->build("syslog.db", warnings ? "syslog_text_version.sql" : "syslog_v1.sql",
                         &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return ok;
}

void TestUpgradeDriver::cleanup()
{
    m_site.reset();
}

void TestUpgradeDriver::currentFolderWithoutArguments()
{
    QVERIFY(makeSite());
    const ProgramRun run = runTool({});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    // Current databases give nothing to report, and no log file is made.
    QCOMPARE(QString::fromUtf8(run.standardError), QString());
    QCOMPARE(m_site->entries(), QStringList({"data.db", "profile.db", "qc.db", "syslog.db"}));
    QCOMPARE(queryTexts(m_site->filePath("syslog.db"), "select * from version"),
             QStringList({"1"}));
}

void TestUpgradeDriver::logFileAppended()
{
    QVERIFY(makeSite(QString(), true));
    {
        QFile log(m_site->filePath("upgrade.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("earlier line\n");
    }

    for (int round = 1; round <= 2; ++round) {
        if (round > 1) // the first run mended syslog.db
            QVERIFY(runSql("syslog.db", "delete from version; insert into version values('one');"));
        const ProgramRun run = runTool({"upgrade.log"});
        QCOMPARE(run.exitCode, 0);
        // Everything went to the log; the log's name, tried as a translation, said nothing.
        QCOMPARE(QString::fromUtf8(run.standardError), QString());

        const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
        QCOMPARE(lines.size(), 1 + round);
        QCOMPARE(lines.first(), QString("earlier line"));
        const QRegularExpression expected(
            R"(^Warning: updatesyslog\.cpp\(\d+\): table version already exists\b.*: )"
            R"(\[create table version\(version integer\)\]$)");
        for (const QString &line : lines.mid(1))
            QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));
    }
}

void TestUpgradeDriver::logFileThatCannotBeOpened()
{
    QVERIFY(makeSite(QString(), true));
    QVERIFY(QDir().mkdir("logs"));
    const QStringList before = m_site->entries();
    const ProgramRun run = runTool({"logs"});
    // Without a service record nothing is upgraded.
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.standardError.contains("logs cannot be the log file: it is a folder"),
             run.standardError.constData());
    QCOMPARE(run.standardOutput, QByteArray());
    QCOMPARE(m_site->entries(), before);
    QCOMPARE(QDir("logs").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void TestUpgradeDriver::translationLoaded_data()
{
    QTest::addColumn<QString>("qmFolder");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("translated");

    QTest::newRow("in the working folder") << "site"
                                           << "upgrade_test" << true;
    QTest::newRow("in the parent folder") << "."
                                          << "upgrade_test" << true;
    QTest::newRow("with its suffix") << "site"
                                     << "upgrade_test.qm" << true;
    QTest::newRow("name of no file") << "site"
                                     << "missing_test" << false;
}

void TestUpgradeDriver::translationLoaded()
{
    QFETCH(QString, qmFolder);
    QFETCH(QString, argument);
    QFETCH(bool, translated);
    QVERIFY(makeSite("site", true));
    const QString qm
        = QDir(QDir(m_site->rootPath()).filePath(qmFolder)).filePath("upgrade_test.qm");
    QVERIFY(QFile::copy(UPGRADE_TEST_QM, qm));

    const ProgramRun run = runTool({"upgrade.log", argument});
    if (!translated) {
        // Texts stored untranslated could not be taken back: the run is refused untouched.
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.standardError.contains("the translation " + argument.toUtf8()
                                            + " cannot be found or loaded"),
                 run.standardError.constData());
        QVERIFY(!QFile::exists(m_site->filePath("upgrade.log")));
        return;
    }
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromUtf8(run.standardError), QString());
    const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
    QCOMPARE(lines.size(), 1);
    // The driver's error text of a failed statement is one the fixture translates.
    QCOMPARE(lines.first().contains("Anweisung nicht ausführbar"), translated);
    QCOMPARE(lines.first().contains("Unable to execute statement"), !translated);
}

void TestUpgradeDriver::failingUpdaterEndsRun_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("profile.db") << "profile.db"
                                << QStringList({"data.db", "profile.db", "profile.db.v3.bak",
                                                "upgrade.log"});
    // profile.db was changed, so its copy from before sits beside it.
    QTest::newRow("data.db") << "data.db"
                             << QStringList({"data.db", "data.db.v0.bak", "profile.db",
                                             "profile.db.v3.bak", "upgrade.log"});
}

void TestUpgradeDriver::failingUpdaterEndsRun()
{
    QFETCH(QString, failing);
    QFETCH(QStringList, entries);
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    // profile.db is one version behind, so its version row is rewritten; a fatal step fails.
    QString error;
    QVERIFY2(m_site->build("profile.db", "profile_v3.sql", &error), qPrintable(error));
    QVERIFY2(m_site->build("data.db", "data_v0.sql", &error), qPrintable(error));
    QVERIFY(runSql(failing,
                   failing == "profile.db" ? "drop table assayItem; drop table variable;"
                                           : "drop table patient;"));
    const QStringList before = databaseDump(failing);

    const ProgramRun run = runTool({"upgrade.log"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);
    // The databases after the failed one were never opened, so never created; the failed one
    // is as it was.
    QCOMPARE(m_site->entries(), entries);
    QCOMPARE(databaseDump(failing), before);
    QVERIFY2(run.standardOutput.trimmed().split('\n').last().startsWith(failing.toUtf8() + ": "),
             run.standardOutput.constData());
    if (failing == "data.db") {
        QCOMPARE(queryTexts(m_site->filePath("profile.db"), "select * from version"),
                 QStringList({"4"}));
    }
}

void TestUpgradeDriver::fatalMessageReachesLog()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    {
        QFile log(m_site->filePath("helper.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("earlier line\n");
    }
    const ProgramRun run = runProgram(LOGHELPER_PATH, {"helper.log"}, m_site->path());
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::CrashExit);
    // Every line is in the file although the process aborted; an info message is not written.
    QCOMPARE(readLines(m_site->filePath("helper.log")),
             QStringList({"earlier line", "Debug: debug line", "Warning: warning line",
                          "Critical: critical line", "Fatal: fatal line"}));
}

QTEST_GUILESS_MAIN(TestUpgradeDriver)
#include "tst_upgradedriver.moc"
