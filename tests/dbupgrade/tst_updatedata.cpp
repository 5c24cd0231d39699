// Tests of UpdateData: data.db upgraded by the built tool from each earlier version, read back
// through a connection of the test's own.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatedata.h"
#include "upgradetestutil.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

using namespace UpgradeTest;

namespace {

QSet<QString> rowIds(const QString &database, const QString &table)
{
    const QStringList ids = queryTexts(database, QStringLiteral("select rowid from ") + table);
    return QSet<QString>(ids.begin(), ids.end());
}

} // namespace

class TestUpdateData : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void upgradeToCurrentForm_data();
    void upgradeToCurrentForm();
    void recordedSchema_data();
    void recordedSchema();
    void lookupTableKeepsRowsAndIgnoresCase_data();
    void lookupTableKeepsRowsAndIgnoresCase();
    void resultsAndCurvesKept();
    void deletingPatientClearsItsRows_data();
    void deletingPatientClearsItsRows();
    void lookupCopyFails_data();
    void lookupCopyFails();
    void fatalStepFails();
    void failedCopyRollsBackGroup_data();
    void failedCopyRollsBackGroup();
    void failedCommitReported();
    void renameNeedsLegacyAlterTable_data();
    void renameNeedsLegacyAlterTable();

private:
    // data.db from \a fixture with \a setup run on it; profile.db current, so the run reaches it.
    bool makeSite(const QString &fixture, const QByteArray &setup = QByteArray());
    QString data() const { return m_site->filePath("data.db"); }

    std::unique_ptr<TemporarySite> m_site;
};

bool TestUpdateData::makeSite(const QString &fixture, const QByteArray &setup)
{
    m_site.reset(new TemporarySite);
    QString error;
    const bool ok = m_site->isValid() && m_site->build("profile.db", "profile_v4.sql", &error)
        && m_site->build("data.db", fixture, &error)
        && (setup.isEmpty() || runSql(data(), setup, &error));
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    return ok;
}

void TestUpdateData::init()
{
    // Started afresh so that no connection of an earlier test holds a file open.
    m_site.reset();
}

void TestUpdateData::cleanup()
{
    {
        QSqlDatabase db
            = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    m_site.reset();
}

void TestUpdateData::upgradeToCurrentForm_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("expected"); // applied to the version-4 fixture

    // Details appear only once version 1 created their table.
    QTest::newRow("version 0") << "data_v0.sql" << QByteArray()
                               << QByteArray("delete from detail;");
    QTest::newRow("version 1") << "data_v1.sql" << QByteArray() << QByteArray();
    QTest::newRow("version 2") << "data_v2.sql" << QByteArray() << QByteArray();
    QTest::newRow("version 3") << "data_v3.sql" << QByteArray() << QByteArray();
    QTest::newRow("version 4") << "data_v4.sql" << QByteArray() << QByteArray();
    QTest::newRow("version 2 and 4 rows")
        << "data_v4.sql" << QByteArray("insert into version values(2);") << QByteArray();
    QTest::newRow("above 4") << "data_v4.sql"
                             << QByteArray("insert into version values(7); "
                                           "insert into version values(5);")
                             << QByteArray();
}

void TestUpdateData::upgradeToCurrentForm()
{
    QFETCH(QString, fixture);
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, expected);
    QString error;
    QVERIFY(makeSite(fixture, setup));
    const QString reference = m_site->filePath("reference.db");
    QVERIFY2(buildDatabase(reference, "data_v4.sql", &error), qPrintable(error));
    if (!expected.isEmpty())
        QVERIFY2(runSql(reference, expected, &error), qPrintable(error));

    const ProgramRun run = runTool({"upgrade.log"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    // Only the missing groups ran: any step repeated on a newer form would have failed and
    // been logged. A newer database is stamped down with a warning.
    QStringList lines = logMessages(m_site->filePath("upgrade.log"));
    if (lines.size() == 1 && QByteArray(QTest::currentDataTag()) == "above 4"
        && lines.first().contains("data.db: version 7 is newer than this tool's 4"))
        lines.clear();
    QCOMPARE(lines, QStringList());
    QCOMPARE(databaseDump(data()), databaseDump(reference));
    QCOMPARE(queryTexts(data(), "select typeof(version), version from version"),
             QStringList({"integer|4"}));
}

void TestUpdateData::recordedSchema_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<bool>("upgrade");

    QTest::newRow("upgraded from version 0") << "data_v0.sql" << true;
    QTest::newRow("version-4 fixture") << "data_v4.sql" << false;
}

void TestUpdateData::recordedSchema()
{
    QFETCH(QString, fixture);
    QFETCH(bool, upgrade);
    QVERIFY(makeSite(fixture));
    if (upgrade)
        QCOMPARE(runTool({}).exitCode, 0);

    // The golden file starts with a comment paragraph of its own.
    QString golden = QString::fromUtf8(readFile(fixturePath("data_v4.schema")));
    golden = golden.mid(golden.indexOf("\n\n") + 2);
    QVERIFY(!golden.isEmpty());
    const QString actual = schemaText(data());
    if (actual != golden) {
        const QStringList a = actual.split('\n'), g = golden.split('\n');
        for (int i = 0; i < qMin(a.size(), g.size()); ++i)
            QCOMPARE(a.at(i), g.at(i)); // names the first line that differs
    }
    QCOMPARE(actual, golden);
}

void TestUpdateData::lookupTableKeepsRowsAndIgnoresCase_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("abbr");
    QTest::addColumn<QString>("id");

    QTest::newRow("department") << "department"
                                << QStringList({"1|ICU|Intensive care", "4|card|Cardiology",
                                                "9|Obs|Obstetrics"})
                                << "CARD"
                                << "4";
    QTest::newRow("sex") << "sex" << QStringList({"1|M|male", "2|F|female", "5|U|unknown"}) << "f"
                         << "2";
    QTest::newRow("treatmentRoom")
        << "treatmentRoom" << QStringList({"2|W3|Ward 3", "3|op|Outpatients"}) << "Op"
        << "3";
    QTest::newRow("diagnosis") << "diagnosis"
                               << QStringList({"1|AF|Atrial fibrillation, on warfarin",
                                               "6|pre|Pre-operative screening"})
                               << "PRE"
                               << "6";
    // Columns in another order at version 0.
    QTest::newRow("doctor") << "doctor" << QStringList({"3|ZH|Dr. Zhang Hua", "8|lm|Dr. Li Min"})
                            << "LM"
                            << "8";
    // No abbreviation column at version 0.
    QTest::newRow("operator") << "operator" << QStringList({"1|NULL|Wu Yan", "5|NULL|Sun Qiang"})
                              << QString() << QString();
}

void TestUpdateData::lookupTableKeepsRowsAndIgnoresCase()
{
    QFETCH(QString, table);
    QFETCH(QStringList, rows);
    QFETCH(QString, abbr);
    QFETCH(QString, id);
    QVERIFY(makeSite("data_v0.sql"));
    const QString lookup = QString("select id from %1 where abbr = '%2'").arg(table, abbr);
    if (!abbr.isEmpty())
        QCOMPARE(queryTexts(data(), lookup), QStringList());

    QCOMPARE(runTool({}).exitCode, 0);
    QCOMPARE(queryTexts(data(), QString("select id, abbr, name from %1 order by id").arg(table)),
             rows);
    if (!abbr.isEmpty())
        QCOMPARE(queryTexts(data(), lookup), QStringList({id}));
    // The index serves the lookup by abbreviation.
    QCOMPARE(
        queryTexts(data(), QString("select name from pragma_index_info('%1_index')").arg(table)),
        QStringList({"abbr"}));
    QCOMPARE(
        queryTexts(data(),
                   QString("select count(*) from sqlite_master where name = '%1_bak'").arg(table)),
        QStringList({"0"}));
}

void TestUpdateData::resultsAndCurvesKept()
{
    QVERIFY(makeSite("data_v0.sql"));
    const QStringList oldResults
        = queryTexts(data(),
                     "select id, patientId, item, subitem, abbr, code, result, unit, flag, "
                     "displayOrder, lowerMarkLimit, upperMarkLimit from result order by id");
    const QStringList oldCurves = queryTexts(
        data(), "select id, patientId, item, typeof(curve), hex(curve) from curve order by id");
    QCOMPARE(oldResults.size(), 7);
    QCOMPARE(oldCurves.size(), 6);

    QCOMPARE(runTool({}).exitCode, 0);
    QCOMPARE(queryTexts(data(),
                        "select pragma_table_info.name from pragma_table_info('patient') "
                        "where name in ('sampleType', 'hospitalNo')"),
             QStringList({"sampleType", "hospitalNo"}));
    QCOMPARE(schemaObjects(data()).filter(QRegularExpression("^(table|view) (results|result|"
                                                             "checkedResult|curve|detail)$")),
             QStringList({"table checkedResult", "table curve", "table detail", "table results",
                          "view result"}));

    // Every old result is version 1 of itself under its old id, saved at no known time.
    QCOMPARE(queryTexts(data(),
                        "select id, patientId, item, subitem, abbr, code, result, unit, "
                        "flag, displayOrder, lowerMarkLimit, upperMarkLimit from results "
                        "order by id"),
             oldResults);
    QCOMPARE(queryTexts(data(), "select distinct version, date, time from results"),
             QStringList({"1|NULL|NULL"}));
    // Results 3 and 5 share patient, item and sub-item: the later one counts.
    QCOMPARE(queryTexts(data(),
                        "select resultsId from checkedResult "
                        "where patientId = 1 and item = 'PT' and subitem = 'PT.T'"),
             QStringList({"5"}));
    QCOMPARE(queryTexts(data(), "select resultsId from checkedResult order by resultsId"),
             QStringList({"1", "2", "5", "8", "9", "12"}));
    QCOMPARE(queryTexts(data(), "select id from result order by id"),
             QStringList({"1", "2", "5", "8", "9", "12"}));

    // Curves keep ids and bytes, an empty blob included, and belong to result version 1.
    QCOMPARE(queryTexts(data(),
                        "select id, patientId, item, typeof(curve), hex(curve) "
                        "from curve order by id"),
             oldCurves);
    QCOMPARE(queryTexts(data(), "select distinct version from curve"), QStringList({"1"}));
}

void TestUpdateData::deletingPatientClearsItsRows_data()
{
    QTest::addColumn<QString>("patient");
    QTest::addColumn<QMap<QString, QStringList>>("removed"); // rowids by table

    using Removed = QMap<QString, QStringList>;
    // Patient 1 has sample 1 of 2024-03-04; patient 4 has sample 1 of the next day.
    QTest::newRow("patient 1") << "1"
                               << Removed({{"patient", {"1"}},
                                           {"patientExtra", {"1"}},
                                           {"exam", {"1", "2"}},
                                           {"results", {"1", "2", "3", "5"}},
                                           {"checkedResult", {"1", "2", "4"}},
                                           {"curve", {"3", "4", "11"}},
                                           {"detail", {"1", "2"}}});
    QTest::newRow("patient 4") << "4"
                               << Removed({{"patient", {"4"}},
                                           {"patientExtra", {"3"}},
                                           {"exam", {"4"}},
                                           {"results", {"12"}},
                                           {"checkedResult", {"7"}},
                                           {"curve", {"10"}},
                                           {"detail", {"7"}}});
}

void TestUpdateData::deletingPatientClearsItsRows()
{
    QFETCH(QString, patient);
    using Removed = QMap<QString, QStringList>;
    QFETCH(Removed, removed);
    QVERIFY(makeSite("data_v0.sql"));
    QCOMPARE(runTool({}).exitCode, 0);
    QString error;
    QVERIFY2(runSql(data(),
                    "insert into detail values(1, 1, 'PT', 1, 'channel 2');"
                    "insert into detail values(2, 1, 'APTT', 1, 'channel 3');"
                    "insert into detail values(6, 2, 'PT', 1, 'channel 1');"
                    "insert into detail values(7, 4, 'FIB', 1, 'channel 4');",
                    &error),
             qPrintable(error));

    const QStringList tables = queryTexts(data(),
                                          "select name from sqlite_master "
                                          "where type = 'table' order by name");
    QMap<QString, QSet<QString>> before;
    for (const QString &table : tables)
        before.insert(table, rowIds(data(), table));

    QVERIFY2(runSql(data(), "delete from patient where id = " + patient.toUtf8() + ";", &error),
             qPrintable(error));
    for (const QString &table : tables) {
        const QStringList expected = removed.value(table);
        QSet<QString> gone = before.value(table) - rowIds(data(), table);
        QCOMPARE(gone, QSet<QString>(expected.begin(), expected.end()));
    }
}

void TestUpdateData::lookupCopyFails_data()
{
    QTest::addColumn<QString>("table");

    QTest::newRow("first table") << "department";
    QTest::newRow("last table") << "operator";
}

void TestUpdateData::lookupCopyFails()
{
    QFETCH(QString, table);
    const QByteArray setup = QString("alter table %1 add column remark text;").arg(table).toUtf8();
    QVERIFY(makeSite("data_v0.sql", setup));
    const QStringList before = databaseDump(data());

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
    QCOMPARE(lines.size(), 1);
    // The copy's own insert statement, as the driver writes it.
    QVERIFY2(lines.first().contains(QString("[INSERT INTO \"%1\" (").arg(table)),
             qPrintable(lines.first()));
    // The whole run is undone: the old rows in their table, no backup table, no version.
    QCOMPARE(databaseDump(data()), before);
    QCOMPARE(m_site->entries(),
             QStringList({"data.db", "data.db.v0.bak", "profile.db", "upgrade.log"}));
}

void TestUpdateData::fatalStepFails()
{
    QVERIFY(makeSite("data_v0.sql", "drop table patient;"));
    const QStringList before = databaseDump(data());

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().endsWith("[alter table patient add sampleType text]"),
             qPrintable(lines.first()));
    QCOMPARE(databaseDump(data()), before);
    // qc.db and syslog.db were never opened, so never created.
    QCOMPARE(m_site->entries(),
             QStringList({"data.db", "data.db.v0.bak", "profile.db", "upgrade.log"}));
}

void TestUpdateData::failedCopyRollsBackGroup_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QString>("statement");

    QTest::newRow("result lacks a copied column")
        << QByteArray("alter table result drop column unit;") << "insert into results (";
    QTest::newRow("curve lacks a copied column")
        << QByteArray("alter table curve drop column item;") << "insert into curve (";
    QTest::newRow("detail lacks a copied column")
        << QByteArray("alter table detail drop column info;") << "insert into detail (";
}

void TestUpdateData::failedCopyRollsBackGroup()
{
    QFETCH(QByteArray, setup);
    QFETCH(QString, statement);
    QVERIFY(makeSite("data_v2.sql", setup));
    const QStringList before = databaseDump(data());

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 1);
    const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("[" + statement), qPrintable(lines.first()));
    // Old tables, rows and version as they were: nothing dropped that was not copied.
    QCOMPARE(databaseDump(data()), before);
    QCOMPARE(m_site->entries(),
             QStringList({"data.db", "data.db.v2.bak", "profile.db", "upgrade.log"}));
}

void TestUpdateData::failedCommitReported()
{
    QVERIFY(makeSite("data_v2.sql"));
    const QStringList before = databaseDump(data());

    // A reader's open transaction keeps the tool from committing (after the tool's wait for
    // the lock runs out); the whole run is rolled back.
    const QString connection = "reader";
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", connection);
        reader.setDatabaseName(data());
        QVERIFY(reader.open());
        QSqlQuery query(reader);
        QVERIFY(query.exec("begin"));
        QVERIFY(query.exec("select count(*) from patient"));
        QVERIFY(query.next());

        const ProgramRun run = runTool({"upgrade.log"});
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = logMessages(m_site->filePath("upgrade.log"));
        QVERIFY(!lines.isEmpty());
        QVERIFY2(lines.last().endsWith("[commit]"), qPrintable(lines.join('\n')));
        QVERIFY(query.exec("commit"));
        reader.close();
    }
    QSqlDatabase::removeDatabase(connection);
    QCOMPARE(databaseDump(data()), before);
    QCOMPARE(m_site->entries(),
             QStringList({"data.db", "data.db.v2.bak", "profile.db", "upgrade.log"}));
}

void TestUpdateData::renameNeedsLegacyAlterTable_data()
{
    QTest::addColumn<bool>("legacy");

    QTest::newRow("on") << true;
    QTest::newRow("off") << false;
}

void TestUpdateData::renameNeedsLegacyAlterTable()
{
    QFETCH(bool, legacy);
    QVERIFY(makeSite("data_v0.sql"));
    WarningCatcher warnings;
    UpdateData updater(nullptr);
    QCOMPARE(updater.version(), 0);
    if (!legacy)
        QVERIFY(QSqlQuery(QSqlDatabase::database()).exec("PRAGMA legacy_alter_table=OFF"));

    // The version-1 trigger still names result when curve is renamed after result's drop.
    QCOMPARE(updater.update(), legacy);
    const QStringList lines = warnings.take();
    if (legacy) {
        QCOMPARE(lines, QStringList());
        return;
    }
    // The rename fails, so the new curve table cannot be created and the copy finds no rows.
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).contains("no such table: main.result")
                 && lines.at(0).endsWith("[alter table curve rename to old_curve]"),
             qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).contains("table curve already exists"), qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains("[insert into curve ("), qPrintable(lines.at(2)));
    // The group was rolled back: the old result table and its rows are still there.
    QCOMPARE(queryTexts(data(), "select count(*) from result"), QStringList({"7"}));
    QCOMPARE(queryTexts(data(), "select count(*) from sqlite_master where name = 'results'"),
             QStringList({"0"}));
}

QTEST_GUILESS_MAIN(TestUpdateData)
#include "tst_updatedata.moc"
