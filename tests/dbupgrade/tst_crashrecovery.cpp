// The example site's upgrade killed at points spread over the run: a plain re-run must give the
// databases an uninterrupted upgrade gives, and no backup name may hold a partial copy.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QtTest>

using namespace UpgradeTest;

namespace {

const char *const databases[] = {"profile.db", "data.db", "qc.db", "syslog.db"};

bool buildExampleSite(const QString &folder)
{
    for (const char *name : databases) {
        QFile sql(QStringLiteral(EXAMPLE_SITE_DIR "/%1.sql").arg(QString(name).section('.', 0, 0)));
        if (!sql.open(QIODevice::ReadOnly) || !runSql(QDir(folder).filePath(name), sql.readAll()))
            return false;
    }
    return true;
}

} // namespace

class TestCrashRecovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void killedAndRunAgain_data();
    void killedAndRunAgain();

private:
    QTemporaryDir m_reference;
    QMap<QString, QStringList> m_upgraded; // database -> dump after an uninterrupted upgrade
    QMap<QString, QStringList> m_original; // database -> dump before any upgrade
};

void TestCrashRecovery::initTestCase()
{
    QVERIFY(m_reference.isValid());
    QVERIFY(buildExampleSite(m_reference.path()));
    for (const char *name : databases)
        m_original[name] = databaseDump(m_reference.filePath(name));
    const ProgramRun run = runTool({"upgrade.log"}, m_reference.path());
    QCOMPARE(run.exitCode, 0);
    for (const char *name : databases)
        m_upgraded[name] = databaseDump(m_reference.filePath(name));
}

void TestCrashRecovery::killedAndRunAgain_data()
{
    QTest::addColumn<QString>("point"); // where the tool's test hook kills it

    QTest::newRow("after the first backup") << "backup profile.db";
    QTest::newRow("right after profile.db's version write")
        << "insert into profile values('FIB/report/dilution'";
    QTest::newRow("during the refit") << "update curve set correlation";
    QTest::newRow("half-way through a backup copy") << "copying backup data.db";
    QTest::newRow("in the middle of the data.db rebuild") << "insert into results (";
    QTest::newRow("before data.db's commit") << "commit data.db";
    QTest::newRow("at the 150th statement") << "150";
}

void TestCrashRecovery::killedAndRunAgain()
{
    QFETCH(QString, point);
    QTemporaryDir site;
    QVERIFY(site.isValid());
    QVERIFY(buildExampleSite(site.path()));

    QProcess killed;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUPGRADE_TEST_KILL", point);
    killed.setProcessEnvironment(environment);
    killed.setWorkingDirectory(site.path());
    killed.start(toolPath(), {"upgrade.log"});
    QVERIFY(killed.waitForFinished(60000));
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);

    // Whatever name a backup carries, it is a complete copy of what its database held.
    const QDir folder(site.path());
    const auto verifyBackups = [&]() {
        for (const QString &backup : folder.entryList({"*.bak"}, QDir::Files)) {
            const QString database = backup.section(".v", 0, 0);
            QCOMPARE(databaseDump(folder.filePath(backup)), m_original.value(database));
        }
    };
    verifyBackups();

    const ProgramRun run = runTool({"upgrade.log"}, site.path());
    QCOMPARE(run.exitCode, 0);
    for (const char *name : databases)
        QCOMPARE(databaseDump(folder.filePath(name)), m_upgraded.value(name));
    verifyBackups();
    QCOMPARE(folder.entryList({"*-journal", "*in-progress*"}, QDir::Files), QStringList());
    // The re-run took the copies of the stopped run as they were instead of writing more.
    QVERIFY2(folder.entryList({"*-2.bak"}, QDir::Files).isEmpty(),
             qPrintable(folder.entryList(QDir::Files).join(' ')));
}

QTEST_GUILESS_MAIN(TestCrashRecovery)
#include "tst_crashrecovery.moc"
