// Tests of UpdateQc and UpdateSyslog through runs of the built tool.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QFile>
#include <QtTest>

#include <memory>

using namespace UpgradeTest;

class TestUpdateSyslog : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void qcUnchanged();
    void syslogVersion_data();
    void syslogVersion();
    void missingQcAndSyslogCreated();

private:
    std::unique_ptr<TemporarySite> m_site;
};

void TestUpdateSyslog::init()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
    // profile.db and data.db are current, so the run reaches qc.db and syslog.db.
    QString error;
    QVERIFY2(m_site->build("profile.db", "profile_v4.sql", &error), qPrintable(error));
    QVERIFY2(m_site->build("data.db", "data_v4.sql", &error), qPrintable(error));
}

void TestUpdateSyslog::cleanup()
{
    m_site.reset();
}

void TestUpdateSyslog::qcUnchanged()
{
    QString error;
    QVERIFY2(m_site->build("qc.db", "qc.sql", &error), qPrintable(error));
    const QByteArray before = readFile(m_site->filePath("qc.db"));
    QVERIFY(!before.isEmpty());

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(readFile(m_site->filePath("qc.db")), before);
    QCOMPARE(logMessages(m_site->filePath("upgrade.log")), QStringList());
}

void TestUpdateSyslog::syslogVersion_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("warnings");

    QTest::newRow("version 0") << "syslog_v0.sql" << 0;
    QTest::newRow("version 1") << "syslog_v1.sql" << 0;
    // Stamped down to 1 like any change: after a backup, with a warning naming both versions.
    QTest::newRow("versions 2 and 5") << "syslog_v5.sql" << 1;
    // Reads as version 0; creating the existing table fails, is logged and passed over.
    QTest::newRow("text version") << "syslog_text_version.sql" << 1;
}

void TestUpdateSyslog::syslogVersion()
{
    QFETCH(QString, fixture);
    QFETCH(int, warnings);
    QString error;
    QVERIFY2(m_site->build("syslog.db", fixture, &error), qPrintable(error));
    const QString records = "select * from syslog order by id";
    const QStringList before = queryTexts(m_site->filePath("syslog.db"), records);
    QCOMPARE(before.size(), 2);

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(
        queryTexts(m_site->filePath("syslog.db"), "select typeof(version), version from version"),
        QStringList({"integer|1"}));
    QCOMPARE(queryTexts(m_site->filePath("syslog.db"), records), before);
    QCOMPARE(schemaObjects(m_site->filePath("syslog.db")),
             QStringList({"table syslog", "table version"}));
    QCOMPARE(logMessages(m_site->filePath("upgrade.log")).size(), warnings);
}

void TestUpdateSyslog::missingQcAndSyslogCreated()
{
    const ProgramRun run = runTool({});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m_site->entries(), QStringList({"data.db", "profile.db", "qc.db", "syslog.db"}));
    QCOMPARE(schemaObjects(m_site->filePath("qc.db")), QStringList());
    QCOMPARE(schemaObjects(m_site->filePath("syslog.db")), QStringList({"table version"}));
    QCOMPARE(queryTexts(m_site->filePath("syslog.db"), "select * from version"),
             QStringList({"1"}));
}

QTEST_GUILESS_MAIN(TestUpdateSyslog)
#include "tst_updatesyslog.moc"
