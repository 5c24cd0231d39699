// Tests of UpdateProfile through runs of the built tool on profile.db of every version.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QtTest>

#include <memory>

using namespace UpgradeTest;

namespace {

const QString dilutionChinese
    = QStringLiteral("梯度1;1/5;1/10;1/20;1/30,梯度2;1/5;1/10;1/20;1/30;1/40,梯度3;1/1;1/2;1/4;1/"
                     "8,梯度4;1/1;3/4;1/2;1/4");
const QString dilutionEnglish
    = QStringLiteral("Gradient 1;1/5;1/10;1/20;1/30,Gradient 2;1/5;1/10;1/20;1/30;1/40,"
                     "Gradient 3;1/1;1/2;1/4;1/8,Gradient 4;1/1;3/4;1/2;1/4");

QString profileValue(const QString &name, const QString &database = "profile.db")
{
    const QStringList rows = queryTexts(
        database,
        QStringLiteral("select value || '|' || typeof(value) from profile where name = '%1'")
            .arg(name));
    return rows.isEmpty() ? QStringLiteral("(missing)") : rows.join(QLatin1Char('/'));
}

// The warnings of the log; the curve refit may add debug lines of its own.
QStringList warnings()
{
    return logMessages("upgrade.log").filter(QRegularExpression("^Warning: "));
}

QStringList version()
{
    return queryTexts("profile.db", "select version from version");
}

// What steps 6, 7 and 9 leave behind, to tell whether they ran.
QStringList laterStepMarks()
{
    return queryTexts("profile.db",
                      "select (select count(*) from reagent where name = 'DD ct'),"
                      " (select value from profile where name = 'schedule/sample'),"
                      " (select ifnull(method, 'NULL') from assayCalibration where name = 'DD'),"
                      " (select count(*) from currentCurve)");
}

} // namespace

class TestUpdateProfile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void fromVersion0();
    void deleteCurveTrigger();
    void defaultRows_data();
    void defaultRows();
    void reagents();
    void calibrationSettings();
    void existingKeys_data();
    void existingKeys();
    void keyThatMustBeNew_data();
    void keyThatMustBeNew();
    void ptUpperNormal_data();
    void ptUpperNormal();
    void onlyMissingSteps_data();
    void onlyMissingSteps();
    void emptyVersionTable_data();
    void emptyVersionTable();
    void usersThatClash();
    void storedTexts_data();
    void storedTexts();

private:
    // A site whose other three databases are current, so only profile.db has anything to say.
    bool makeSite(const QString &profileFixture, const QByteArray &changes = QByteArray());
    ProgramRun upgrade(const QStringList &translations = QStringList());

    std::unique_ptr<TemporarySite> m_site;
    // A version-0 profile.db upgraded once, for the tests that only read.
    std::unique_ptr<TemporarySite> m_reference;
};

bool TestUpdateProfile::makeSite(const QString &profileFixture, const QByteArray &changes)
{
    m_site.reset(new TemporarySite);
    QString error;
    const bool ok = m_site->isValid() && m_site->build("profile.db", profileFixture, &error)
        && (changes.isEmpty() || runSql("profile.db", changes, &error))
        && m_site->build("data.db", "data_v4.sql", &error)
        && m_site->build("qc.db", "qc.sql", &error)
        && m_site->build("syslog.db", "syslog_v1.sql", &error);
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return ok;
}

ProgramRun TestUpdateProfile::upgrade(const QStringList &translations)
{
    return runTool(QStringList({"upgrade.log"}) + translations);
}

void TestUpdateProfile::initTestCase()
{
    QVERIFY(makeSite("profile_v0.sql"));
    QCOMPARE(upgrade().exitCode, 0);
    m_reference = std::move(m_site);
}

void TestUpdateProfile::cleanupTestCase()
{
    m_reference.reset();
}

void TestUpdateProfile::cleanup()
{
    m_site.reset();
}

void TestUpdateProfile::fromVersion0()
{
    QVERIFY(makeSite("profile_v0.sql"));
    const ProgramRun run = upgrade();
    QCOMPARE(run.exitCode, 0);

    // Every object as its statement created it, curve_index gone.
    const QByteArray expected = readFile(fixturePath("profile_v0_upgraded.schema"));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(QString::fromUtf8(shellOutput("profile.db", ".schema")), QString::fromUtf8(expected));
    QVERIFY(!schemaObjects("profile.db").contains("index curve_index"));
    QCOMPARE(version(), QStringList({"4"}));

    QCOMPARE(queryTexts("profile.db", "select * from user order by id"),
             QStringList({"1|Admin|f8e1c1|2|0", "2|Service|7b21aa|3|0", "3|wuYan|31d0c9|1|0",
                          "4|LIMING|5a0e77|NULL|0"}));
    QString error;
    QVERIFY(!runSql("profile.db", "insert into user(name) values('liming');", &error));
    QVERIFY2(error.contains("UNIQUE constraint failed: user.name"), qPrintable(error));
    QVERIFY(runSql("profile.db", "insert into user(name) values('guest');"));
    QCOMPARE(queryTexts("profile.db", "select level, hide from user where name = 'GUEST'"),
             QStringList({"0|0"}));

    // Two curves are named PT; the later one is in use.
    QCOMPARE(queryTexts("profile.db", "select name, curveId from currentCurve order by curveId"),
             QStringList({"FIB|2", "DD|3", "PT|4", "VIII|5"}));
    QCOMPARE(queryTexts("profile.db", "select precision from assayItem where name = 'OD'"),
             QStringList({"-1", "-1"}));

    // Only the texts the site had already set were refused.
    const QStringList log = warnings();
    QCOMPARE(log.size(), 3);
    const QStringList keys({"reagent/initVolume", "patient/hospitalNo", "analyst/FIB/odPercent"});
    for (int i = 0; i < log.size(); ++i) {
        QVERIFY2(log.at(i).startsWith("Warning: updateprofile.cpp("), qPrintable(log.at(i)));
        QVERIFY2(log.at(i).contains("UNIQUE constraint failed: profile.name"),
                 qPrintable(log.at(i)));
        QVERIFY2(log.at(i).contains("into profile values('" + keys.at(i) + "', "),
                 qPrintable(log.at(i)));
    }
}

void TestUpdateProfile::deleteCurveTrigger()
{
    QVERIFY(makeSite("profile_v0.sql"));
    QCOMPARE(upgrade().exitCode, 0);
    QVERIFY(runSql("profile.db",
                   "insert into curveInfo values(4, 'fitTime', '2024-03-01');"
                   "insert into curveInfo values(4, 'fitTime', '2024-03-02');"
                   "insert into curveInfo values(2, 'fitTime', '2024-03-01');"));
    // A second value of the same name replaces the first.
    QCOMPARE(queryTexts("profile.db", "select value from curveInfo where curveId = 4"),
             QStringList({"2024-03-02"}));

    QVERIFY(runSql("profile.db", "delete from curve where id = 4;"));
    const QString counts = "select (select count(*) from curvePoint where curveId = %1),"
                           " (select count(*) from curveVariable where curveId = %1),"
                           " (select count(*) from curveReagent where curveId = %1),"
                           " (select count(*) from curveInfo where curveId = %1),"
                           " (select count(*) from currentCurve where curveId = %1)";
    QCOMPARE(queryTexts("profile.db", counts.arg(4)), QStringList({"0|0|0|0|0"}));
    QCOMPARE(queryTexts("profile.db", counts.arg(2)), QStringList({"3|1|1|1|1"}));
}

void TestUpdateProfile::defaultRows_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // value|typeof

    QTest::newRow("FIB dilution") << "FIB/report/dilution"
                                  << "1/10|text";
    QTest::newRow("dilution series") << "dilution" << dilutionChinese + "|text";
    QTest::newRow("sample type") << "patient/sampleType"
                                 << "样本类型|text";
    QTest::newRow("DD mix, overwritten") << "DD/mix/times"
                                         << "3|integer";
    QTest::newRow("DD clot time") << "DD/max_clot_time"
                                  << "120|integer";
    QTest::newRow("DD special value") << "specialValue/DD/P"
                                      << "0.1|real";
    QTest::newRow("DD priority") << "DD/priority"
                                 << "10|integer";
    QTest::newRow("FDP special value") << "specialValue/FDP/P"
                                       << "0.1|real";
    QTest::newRow("alarm limit") << "reagent/alarmLimit"
                                 << "报警限[ul]|text";
    QTest::newRow("interrupt limit") << "reagent/interruptLimit"
                                     << "中断限[ul]|text";
    QTest::newRow("initial volume, kept") << "reagent/initVolume"
                                          << "Start volume [ul]|text";
    QTest::newRow("hospital number, kept") << "patient/hospitalNo"
                                           << "Case no.|text";
    QTest::newRow("sample schedule, overwritten") << "schedule/sample"
                                                  << "6|integer";
    QTest::newRow("dilution 1/40 schedule") << "schedule/dilution/1/40"
                                            << "22|integer";
    QTest::newRow("FIB schedule, overwritten") << "schedule/test/FIB/table"
                                               << "0.2,25;0.1,35;0.05,45;0.025,65|text";
    QTest::newRow("XII schedule") << "schedule/test/XII"
                                  << "30|integer";
    QTest::newRow("FIB OD percent, kept") << "analyst/FIB/odPercent"
                                          << "0.6|real";
    QTest::newRow("FIB thresholds") << "analyst/FIB/odThreshold"
                                    << "4,0.008; 6,0.004; 10,0.0025; 20,0.001; 40,0.0005|text";
    QTest::newRow("APTT thresholds") << "analyst/APTT/odThreshold"
                                     << "4,0.2; 10,0.05; 20,0.02|text";
    QTest::newRow("thresholds, overwritten") << "analyst/odThreshold"
                                             << "4,0.2; 8,0.05; 10,0.01|text";
    QTest::newRow("DD enabled") << "DD/disable"
                                << "(missing)";
    QTest::newRow("VIII enabled") << "VIII/disable"
                                  << "(missing)";
    QTest::newRow("FDP enabled") << "FDP/disable"
                                 << "(missing)";
    QTest::newRow("APTT switch untouched") << "APTT/disable"
                                           << "0|integer";
}

void TestUpdateProfile::defaultRows()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(profileValue(name, m_reference->filePath("profile.db")), expected);
}

void TestUpdateProfile::reagents()
{
    QCOMPARE(queryTexts(m_reference->filePath("profile.db"),
                        "select type, name, initVolume, alarmLimit, vialType from reagent"
                        " order by id"),
             QStringList(
                 {"1|PT|4000|400|4", "1|APTT|4000|400|4", "1|FIB|4000|400|4", "1|CaCl2|4000|400|4",
                  "0|Latex|2000|200|3", "0|FDP|2000|200|3", "2|Saline|6500|200|6",
                  "2|Buffer(PT)|6500|200|6", "2|Buffer(APTT)|6500|200|6",
                  "2|Buffer(FIB)|6500|200|6", "2|Buffer(TT)|6500|200|6", "2|Buffer(DD)|6500|200|6",
                  "2|Buffer(EX)|6500|200|6", "2|Buffer(EN)|6500|200|6", "2|Buffer(FDP)|6500|200|6",
                  "5|DD ct|1000|200|1", "5|FDP ct|1000|200|1"}));
}

void TestUpdateProfile::calibrationSettings()
{
    QCOMPARE(queryTexts(m_reference->filePath("profile.db"),
                        "select name, method, funX, funY, dispX, dispY from assayCalibration"
                        " order by id"),
             QStringList({"PT|0|Linear|Linear|Log|Log", "FIB|0|Linear|Linear|Log|Log",
                          "PT 演算 FIB|0|Log|Log|Log|Log", "PT calculate FIB|0|Log|Log|Log|Log",
                          "DD|4|Log|Linear|Log|Log", "FDP|4|Log|Linear|Log|Log",
                          "AT|4|Log|Linear|Log|Log", "VIII|0|Linear|Linear|Log|Log",
                          "IX|0|Linear|Linear|Log|Log", "TT|NULL|Linear|Linear|NULL|NULL"}));
}

void TestUpdateProfile::existingKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const QString site = "site value|text";
    QTest::newRow("initial volume") << "reagent/initVolume" << site;
    QTest::newRow("alarm limit") << "reagent/alarmLimit" << site;
    QTest::newRow("interrupt limit") << "reagent/interruptLimit" << site;
    QTest::newRow("hospital number") << "patient/hospitalNo" << site;
    QTest::newRow("FIB OD percent") << "analyst/FIB/odPercent" << site;
    QTest::newRow("FDP mix") << "FDP/mix/times"
                             << "3|integer";
    QTest::newRow("FDP special value") << "specialValue/FDP/P"
                                       << "0.1|real";
    QTest::newRow("PT schedule") << "schedule/test/PT"
                                 << "27|integer";
    QTest::newRow("FIB thresholds") << "analyst/FIB/odThreshold"
                                    << "4,0.008; 6,0.004; 10,0.0025; 20,0.001; 40,0.0005|text";
    QTest::newRow("APTT thresholds") << "analyst/APTT/odThreshold"
                                     << "4,0.2; 10,0.05; 20,0.02|text";
    QTest::newRow("thresholds") << "analyst/odThreshold"
                                << "4,0.2; 8,0.05; 10,0.01|text";
}

void TestUpdateProfile::existingKeys()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QVERIFY(makeSite(
        "profile_v0.sql",
        QStringLiteral("replace into profile values('%1', 'site value');").arg(name).toUtf8()));
    QCOMPARE(upgrade().exitCode, 0);
    QCOMPARE(profileValue(name), expected);
}

void TestUpdateProfile::keyThatMustBeNew_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("FIB dilution") << "FIB/report/dilution";
    QTest::newRow("dilution series") << "dilution";
    QTest::newRow("sample type") << "patient/sampleType";
}

void TestUpdateProfile::keyThatMustBeNew()
{
    QFETCH(QString, name);
    QVERIFY(makeSite(
        "profile_v1.sql",
        QStringLiteral("insert into profile values('%1', 'by hand');").arg(name).toUtf8()));
    const QByteArray before = shellOutput("profile.db", ".dump");

    ProgramRun run = upgrade();
    QCOMPARE(run.exitCode, 1);
    // Nothing of the failed run stays, the version rewrite included.
    QCOMPARE(shellOutput("profile.db", ".dump"), before);
    QStringList log = warnings();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().contains("[insert into profile values('" + name + "', "),
             qPrintable(log.first()));

    // With the key removed by hand, the next run starts over from version 1 and completes.
    QVERIFY(runSql("profile.db",
                   QStringLiteral("delete from profile where name = '%1';").arg(name).toUtf8()));
    run = upgrade();
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(version(), QStringList({"4"}));
    QCOMPARE(laterStepMarks().value(0).section('|', 0, 1), QString("1|6"));
    QCOMPARE(queryTexts("profile.db",
                        "select count(*) from profile where name in"
                        " ('FIB/report/dilution', 'dilution', 'patient/sampleType')"),
             QStringList({"3"}));
}

void TestUpdateProfile::ptUpperNormal_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("expected");

    QTest::newRow("version 4, 14") << "profile_v4.sql"
                                   << "14"
                                   << "15";
    QTest::newRow("version 4, 14.5") << "profile_v4.sql"
                                     << "14.5"
                                     << "14.5";
    QTest::newRow("version 4, 13") << "profile_v4.sql"
                                   << "13"
                                   << "13";
    QTest::newRow("version 4, none") << "profile_v4.sql"
                                     << "NULL"
                                     << "NULL";
    QTest::newRow("version 2, 14") << "profile_v2.sql"
                                   << "14"
                                   << "15";
    QTest::newRow("version 2, 16") << "profile_v2.sql"
                                   << "16"
                                   << "16";
}

void TestUpdateProfile::ptUpperNormal()
{
    QFETCH(QString, fixture);
    QFETCH(QString, limit);
    QFETCH(QString, expected);
    // Item 4 is the APTT's T, also at 14: only the PT's is corrected.
    QVERIFY(makeSite(fixture,
                     QStringLiteral("update assayItem set upperNormal = %1 where id = 1;"
                                    "update assayItem set upperNormal = 14 where id = 4;")
                         .arg(limit)
                         .toUtf8()));
    QCOMPARE(upgrade().exitCode, 0);
    QCOMPARE(queryTexts("profile.db", "select upperNormal from assayItem where id in (1, 4)"),
             QStringList({expected, "14"}));
}

void TestUpdateProfile::onlyMissingSteps_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("golden"); // empty: the database stays as it was

    QTest::newRow("version 3") << "profile_v3.sql"
                               << "profile_v3_upgraded.sql";
    QTest::newRow("version 4") << "profile_v4.sql" << QString();
}

void TestUpdateProfile::onlyMissingSteps()
{
    QFETCH(QString, fixture);
    QFETCH(QString, golden);
    QVERIFY(makeSite(fixture));
    const QByteArray before = shellOutput("profile.db", ".dump");
    QVERIFY(!before.isEmpty());

    QCOMPARE(upgrade().exitCode, 0);
    QCOMPARE(warnings(), QStringList());
    const QByteArray expected = golden.isEmpty() ? before : readFile(fixturePath(golden));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(QString::fromUtf8(shellOutput("profile.db", ".dump")), QString::fromUtf8(expected));
}

void TestUpdateProfile::emptyVersionTable_data()
{
    QTest::addColumn<QString>("fixture");

    QTest::newRow("version 1") << "profile_v1.sql";
    QTest::newRow("version 4") << "profile_v4.sql";
}

void TestUpdateProfile::emptyVersionTable()
{
    QFETCH(QString, fixture);
    QVERIFY(makeSite(fixture, "delete from version;"));
    const QStringList users = queryTexts("profile.db", "select * from user order by id");
    QCOMPARE(users.size(), 5);

    QCOMPARE(upgrade().exitCode, 1);
    // The user table was rebuilt again, rows and all; curveInfo already existed.
    QCOMPARE(queryTexts("profile.db", "select * from user order by id"), users);
    QVERIFY(!schemaObjects("profile.db").contains("table user_bak"));
    // One warning, whose statement spans several lines.
    const QString log = logMessages("upgrade.log").join(QLatin1Char('\n'));
    QCOMPARE(log.count("Warning: "), 1);
    QVERIFY2(log.startsWith("Warning: updateprofile.cpp("), qPrintable(log));
    QVERIFY2(log.contains("table curveInfo already exists"), qPrintable(log));
    QVERIFY2(log.contains("[-- curve debug info, since v1\ncreate table curveInfo (\n"),
             qPrintable(log));
    QCOMPARE(version(), QStringList());
}

void TestUpdateProfile::usersThatClash()
{
    // Names that differ only in case cannot move to the new table; the old one is put back.
    QVERIFY(makeSite("profile_v0.sql", "insert into user values(9, 'admin', 'c0ffee', 1);"));
    const QByteArray before = shellOutput("profile.db", ".dump");

    QCOMPARE(upgrade().exitCode, 1);
    // The rename back leaves the table's name quoted in its statement; nothing else differs.
    QCOMPARE(QString::fromUtf8(shellOutput("profile.db", ".dump"))
                 .replace("CREATE TABLE IF NOT EXISTS \"user\"(", "CREATE TABLE user("),
             QString::fromUtf8(before));
    const QStringList log = warnings();
    QCOMPARE(log.size(), 1);
    QVERIFY2(log.first().contains("UNIQUE constraint failed: user.name"), qPrintable(log.first()));

    // Once the site has mended its users, the next run goes through.
    QVERIFY(runSql("profile.db", "update user set name = 'admin2' where id = 9;"));
    QCOMPARE(upgrade().exitCode, 0);
    QCOMPARE(version(), QStringList({"4"}));
    QCOMPARE(queryTexts("profile.db", "select count(*) from user"), QStringList({"5"}));
}

void TestUpdateProfile::storedTexts_data()
{
    QTest::addColumn<QStringList>("translations");
    QTest::addColumn<QStringList>("expected");

    // In the order of their keys: dilution, hospital number, sample type, alarm limit,
    // initial volume, interrupt limit.
    QTest::newRow("untranslated") << QStringList()
                                  << QStringList({dilutionChinese, "住院号", "样本类型",
                                                  "报警限[ul]", "初始量[ul]", "中断限[ul]"});
    QTest::newRow("English") << QStringList({DBUPGRADE_EN_QM})
                             << QStringList({dilutionEnglish, "Inpatient no.", "Sample type",
                                             "Alarm limit [ul]", "Initial volume [ul]",
                                             "Interruption limit [ul]"});
    QTest::newRow("apostrophes")
        << QStringList({PROFILE_QUOTES_QM})
        << QStringList({QString(dilutionChinese).replace("梯度2", "Ward 'B' series"),
                        "Patient's ward no.", "Patient's sample type", "报警限[ul]", "初始量[ul]",
                        "中断限[ul]"});
}

void TestUpdateProfile::storedTexts()
{
    QFETCH(QStringList, translations);
    QFETCH(QStringList, expected);
    QVERIFY(makeSite("profile_v0.sql",
                     "delete from profile where name in ('reagent/initVolume',"
                     " 'patient/hospitalNo');"));
    QCOMPARE(upgrade(translations).exitCode, 0);
    QCOMPARE(queryTexts("profile.db",
                        "select value from profile where name in ('dilution',"
                        " 'patient/hospitalNo', 'patient/sampleType', 'reagent/alarmLimit',"
                        " 'reagent/initVolume', 'reagent/interruptLimit') order by name"),
             expected);
    // The only refused insert is the FIB OD percentage the site had set.
    QCOMPARE(warnings().size(), 1);
}

QTEST_GUILESS_MAIN(TestUpdateProfile)
#include "tst_updateprofile.moc"
