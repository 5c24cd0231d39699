// Tests of the variable carry-over and the curve refit of profile.db, through runs of the tool.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDate>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace UpgradeTest;

using Points = QVector<QVector<double>>; // rowid, z, flags

namespace {

const QString curveColumns = "id, name, xunit, yunit, correlation, date, xFun, yFun, a, b, "
                             "instrUuid, c, d, e, valid, lotsNum";

bool near(const QVariant &actual, double expected)
{
    if (actual.isNull())
        return false;
    return std::abs(actual.toDouble() - expected) <= 1e-9 * std::max(1.0, std::abs(expected));
}

QString describe(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("NULL") : value.toString();
}

} // namespace

class TestUpdateCurves : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void variables_data();
    void variables();
    void refit_data();
    void refit();
    void debugLines();
    void failures_data();
    void failures();

private:
    // profile.db at the current version with the given data added, and current other databases.
    bool makeSite(const QString &dataFixture, const QString &extraSql = QString());
    QString profile() const { return m_site->filePath("profile.db"); }

    std::unique_ptr<TemporarySite> m_site;
};

void TestUpdateCurves::init()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
}

void TestUpdateCurves::cleanup()
{
    m_site.reset();
}

bool TestUpdateCurves::makeSite(const QString &dataFixture, const QString &extraSql)
{
    QString error;
    const bool ok = m_site->build("profile.db", "profile_v4.sql", &error)
        && m_site->build("profile.db", dataFixture, &error)
        && (extraSql.isEmpty() || runSql(profile(), extraSql.toUtf8(), &error))
        && m_site->build("data.db", "data_v4.sql", &error)
        && m_site->build("syslog.db", "syslog_v1.sql", &error);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok;
}

void TestUpdateCurves::variables_data()
{
    QTest::addColumn<QString>("extraSql");
    QTest::addColumn<QStringList>("expected");

    // Each variable takes the same-named curve variable of its own template's curves only, with
    // the value's storage class; the others stay empty.
    QTest::newRow("carried over") << QString()
                                  << QStringList({"1|real|1.02", "2|real|12.3", "3|text|1/10",
                                                  "4|real|1.5", "5|integer|3", "6|null|NULL",
                                                  "7|null|NULL"});
    QTest::newRow("one value already set")
        << "update variable set value = 0 where id = 7;"
        << QStringList({"1|null|NULL", "2|null|NULL", "3|null|NULL", "4|null|NULL", "5|null|NULL",
                        "6|null|NULL", "7|integer|0"});
}

void TestUpdateCurves::variables()
{
    QFETCH(QString, extraSql);
    QFETCH(QStringList, expected);
    QVERIFY(makeSite("migration_variables.sql", extraSql));

    const ProgramRun run = runTool({"upgrade.log"});
    QCOMPARE(run.exitCode, 0);
    const QString values = "select id, typeof(value), value from variable order by id";
    QCOMPARE(queryTexts(profile(), values), expected);

    // A second run finds values (or, without any, the same curve variables): nothing changes.
    QCOMPARE(runTool({"upgrade.log"}).exitCode, 0);
    QCOMPARE(queryTexts(profile(), values), expected);
}

void TestUpdateCurves::refit_data()
{
    QTest::addColumn<int>("curveId");
    QTest::addColumn<bool>("untouched");
    QTest::addColumn<int>("valid");
    QTest::addColumn<QVariantList>("coefficients"); // a to e; null where NULL is expected
    QTest::addColumn<QVariant>("correlation");      // null where the library's value is not checked
    QTest::addColumn<Points>("points");             // after the run, in row id order

    const QVariant null;
    QTest::newRow("marked valid") << 1 << true << 1 << QVariantList() << null << Points();
    QTest::newRow("no calibration") << 7 << true << 0 << QVariantList() << null << Points();
    QTest::newRow("no calibration, name not ASCII")
        << 8 << true << 0 << QVariantList() << null << Points();

    // The excluded outlier keeps its flag and gets its back-calculated x (recovery far off).
    QTest::newRow("line on log axes")
        << 2 << false << 1 << QVariantList({1.5, -0.8, null, null, null}) << QVariant(-1.0)
        << Points({{3, 4, 0}, {8, 1, 0}, {15, 0.5640108966206417, 5}, {21, 2, 0}, {31, 0.5, 0}});
    // Marked invalid by an earlier refit and still so: nothing is written, not even the date.
    QTest::newRow("scattered line stays invalid")
        << 3 << true << 0 << QVariantList({0.5, 0.8, null, null, null}) << QVariant(0.8)
        << Points({{9, -1, 2}, {20, -1, 2}, {30, -1, 2}, {40, -1, 2}});
    QTest::newRow("point to point has no coefficients")
        << 4 << false << 1 << QVariantList({null, null, null, null, null}) << null
        << Points({{10, 50, 0}, {22, 10, 0}, {33, 100, 0}});
    QTest::newRow("cubic")
        << 5 << false << 1 << QVariantList({1.0, 2.0, 0.5, 0.1, null}) << QVariant(1.0)
        << Points({{7, 3, 0}, {12, 0, 0}, {17, 5, 0}, {23, 1, 0}, {32, 4, 0}, {41, 2, 0}});
    // Nothing to fit: the stored line and correlation are written back, c set to NULL.
    QTest::newRow("no points") << 6 << false << 0 << QVariantList({2.0, 3.0, null, null, null})
                               << QVariant(0.9) << Points();
}

void TestUpdateCurves::refit()
{
    QFETCH(int, curveId);
    QFETCH(bool, untouched);
    QFETCH(int, valid);
    QFETCH(QVariantList, coefficients);
    QFETCH(QVariant, correlation);
    QFETCH(Points, points);
    QVERIFY(makeSite("migration_curves.sql"));

    const QString curveRow
        = QString("select %1 from curve where id = %2").arg(curveColumns).arg(curveId);
    const QString pointRows
        = QString("select rowid, x, y, z, flags from curvePoint where curveId = %1 order by rowid")
              .arg(curveId);
    const QString typedRow
        = QString("select quote(id), quote(name), quote(xunit), quote(yunit), "
                  "quote(correlation), quote(date), quote(xFun), quote(yFun), "
                  "quote(a), quote(b), quote(instrUuid), quote(c), quote(d), "
                  "quote(e), quote(valid), quote(lotsNum) from curve where id = %1")
              .arg(curveId);
    const QStringList rowBefore = queryTexts(profile(), typedRow);
    const QStringList pointsBefore = queryTexts(profile(), pointRows);
    QCOMPARE(rowBefore.size(), 1);

    const QString dayBefore = QDate::currentDate().toString(Qt::ISODate);
    const ProgramRun run = runTool({"upgrade.log"});
    const QString dayAfter = QDate::currentDate().toString(Qt::ISODate);
    QCOMPARE(run.exitCode, 0);

    if (untouched) {
        QCOMPARE(queryTexts(profile(), typedRow), rowBefore);
        QCOMPARE(queryTexts(profile(), pointRows), pointsBefore);
        return;
    }

    const QList<QVariantList> rows = queryRows(profile(), curveRow);
    QCOMPARE(rows.size(), 1);
    const QVariantList row = rows.first();
    // Only the fit, the date and validity are written.
    const QStringList before = rowBefore.first().split('|');
    const QStringList after = queryTexts(profile(), typedRow).first().split('|');
    for (int column : {0, 1, 2, 3, 6, 7, 10, 15})
        QCOMPARE(after.at(column), before.at(column));
    QVERIFY2(row.at(5).toString() == dayBefore || row.at(5).toString() == dayAfter,
             qPrintable(row.at(5).toString()));
    QCOMPARE(after.at(14), QString::number(valid)); // stored as an integer
    if (!correlation.isNull())
        QVERIFY2(near(row.at(4), correlation.toDouble()), qPrintable(describe(row.at(4))));
    const int coefficientColumns[] = {8, 9, 11, 12, 13};
    for (int i = 0; i < 5; ++i) {
        const QVariant actual = row.at(coefficientColumns[i]);
        if (coefficients.at(i).isNull())
            QVERIFY2(actual.isNull(), qPrintable(QString("%1: %2").arg(i).arg(describe(actual))));
        else
            QVERIFY2(near(actual, coefficients.at(i).toDouble()),
                     qPrintable(QString("%1: %2").arg(i).arg(describe(actual))));
    }

    const QList<QVariantList> pointsAfter = queryRows(profile(), pointRows);
    QCOMPARE(pointsAfter.size(), points.size());
    for (int i = 0; i < points.size(); ++i) {
        const QVariantList &point = pointsAfter.at(i);
        QCOMPARE(point.at(0).toInt(), int(points[i][0]));
        QVERIFY2(
            near(point.at(3), points[i][1]),
            qPrintable(QString("rowid %1: z %2").arg(points[i][0]).arg(describe(point.at(3)))));
        QCOMPARE(point.at(4).toInt(), int(points[i][2]));
    }
}

void TestUpdateCurves::debugLines()
{
    QVERIFY(makeSite("migration_curves.sql"));
    QCOMPARE(runTool({"upgrade.log"}).exitCode, 0);

    const QStringList expected = {
        "Invalid curve: name = \"DD\" id = 3",
        "Invalid curve: name = \"TT\" id = 6",
        "No calibration named \"XX\"",
        "No calibration named \"PT 演算 FIB\"",
    };
    QStringList debug;
    for (const QString &line : logMessages(m_site->filePath("upgrade.log"))) {
        if (line.startsWith("Debug: "))
            debug.append(line);
    }
    QCOMPARE(debug.size(), expected.size());
    const QRegularExpression location("^Debug: [a-z]+\\.cpp\\(\\d+\\): ");
    for (int i = 0; i < expected.size(); ++i) {
        QVERIFY2(debug.at(i).contains(location), qPrintable(debug.at(i)));
        QCOMPARE(debug.at(i).mid(debug.at(i).indexOf("): ") + 3), expected.at(i));
    }
}

void TestUpdateCurves::failures_data()
{
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<QString>("breakSql");
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("check"); // a query on profile.db whose rows the run must not change

    const QString refuseVariable
        = "create trigger refuse before update on variable when old.id = 4 "
          "begin select raise(abort, 'variable locked'); end;";
    const QString refuseCurve = "create trigger refuse before update on curve when old.id = 5 "
                                "begin select raise(abort, 'curve locked'); end;";
    const QString refusePoint
        = "create trigger refuse before update on curvePoint "
          "when old.rowid = 32 begin select raise(abort, 'point locked'); end;";
    const QString written = "select id, valid, date, a, b from curve order by id";

    QTest::newRow("no variable table") << "migration_variables.sql"
                                       << "drop table variable;"
                                       << "select count(*) from variable where value notnull"
                                       << "no such table: variable"
                                       << "select * from version";
    QTest::newRow("no curve variable table")
        << "migration_variables.sql"
        << "drop table curveVariable;"
        << "select curveVariable.value from curveVariable, curve, assayCalibration where "
           "curveVariable.name=:name and curveId=curve.id       and "
           "curve.name=assayCalibration.name       and "
           "assayCalibration.assayTemplateId=:assayTemplateId"
        << "no such table: curveVariable"
        << "select count(*) from variable where value notnull";
    // All variables or none: a partial carry-over could never be completed by a later run.
    QTest::newRow("variable update refused") << "migration_variables.sql" << refuseVariable
                                             << "update variable set value=:value where id=:id"
                                             << "variable locked"
                                             << "select count(*) from variable where value notnull";
    QTest::newRow("no curve point table")
        << "migration_curves.sql"
        << "drop table curvePoint;"
        << "select rowid, x, y, z, flags from curvePoint where curveId = :curveId"
        << "no such table: curvePoint" << written;
    // The curves before the failing one are not kept either: the run is one transaction.
    QTest::newRow("curve update refused")
        << "migration_curves.sql" << refuseCurve
        << "update curve set correlation = :correlation, date = :date, a = :a, b = :b, c = :c, "
           "d = :d, e = :e, valid = :valid where id = :id"
        << "curve locked" << written;
    // A curve is written with its points or not at all, or it would stay valid with stale points.
    QTest::newRow("point update refused")
        << "migration_curves.sql" << refusePoint
        << "update curvePoint set z = :z, flags = :flags where rowid = :rowid"
        << "point locked"
        << "select id, valid, date, (select count(z) from curvePoint where curveId = curve.id) "
           "from curve where id in (2, 3, 5) order by id";
}

void TestUpdateCurves::failures()
{
    QFETCH(QString, fixture);
    QFETCH(QString, breakSql);
    QFETCH(QString, statement);
    QFETCH(QString, error);
    QFETCH(QString, check);
    QVERIFY(makeSite(fixture, breakSql));
    const QStringList state = queryTexts(profile(), check);

    const ProgramRun run = runTool({"upgrade.log"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 1);

    QStringList warnings;
    for (const QString &line : logMessages(m_site->filePath("upgrade.log"))) {
        if (line.startsWith("Warning: "))
            warnings.append(line);
    }
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(": " + error), qPrintable(warnings.first()));
    QVERIFY2(warnings.first().endsWith(": [" + statement + "]"), qPrintable(warnings.first()));
    QCOMPARE(queryTexts(profile(), check), state);
}

QTEST_GUILESS_MAIN(TestUpdateCurves)
#include "tst_updatecurves.moc"
