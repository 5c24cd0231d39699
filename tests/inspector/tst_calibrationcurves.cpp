// The stored calibration curves as the Calibration page reads them: old and current schemas,
// fits the calibration library evaluates or refuses, and each curve matched with its backup.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationcurves.h"
#include "calibrationpage.h"
#include "testdatabase.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <cmath>

namespace {

// Table curve before the upgrade (a and b only) and after it (a to e, valid, lotsNum).
const char OldSchema[] = "create table assayCalibration(id integer primary key, name text);"
                         "create table curve(id integer primary key, name text, xunit text,"
                         " yunit text, correlation real, date date, xFun integer,"
                         " yFun integer, a real, b real);"
                         "create table curvePoint(curveId integer, x real, y real, z real,"
                         " flags integer);";
const char CurrentSchema[]
    = "create table assayCalibration(id integer primary key, name text, method integer);"
      "create table curve(id integer primary key, name text, xunit text, yunit text,"
      " correlation real, date date, xFun integer, yFun integer, a real, b real, c real,"
      " d real, e real, valid integer, lotsNum text);"
      "create table curvePoint(curveId integer, x real, y real, z real, flags integer);";

bool makeDatabase(const QString &file, const QString &sql)
{
    QFile script(file + QStringLiteral(".sql"));
    if (!script.open(QIODevice::WriteOnly))
        return false;
    script.write(sql.toUtf8());
    script.close();
    return TestDatabase::build(file, script.fileName());
}

} // namespace

class tst_CalibrationCurves : public QObject
{
    Q_OBJECT
private slots:
    void fit_data();
    void fit();
    void missingFileIsNotCreated();
    void comparedWithBackup();
};

void tst_CalibrationCurves::fit_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("methodStored");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y"); // NaN: no fit to evaluate
    const double none = std::nan("");
    // v = a + b·log10 x on log y: at x = 100, y = 10^(2 - 0.5·2) = 10.
    QTest::newRow("old schema: linear on log axes")
        << QString::fromLatin1(OldSchema)
            + "insert into curve values(1, 'PT', '%', 's', 0.99, '2023-11-20', 1, 1, 2, -0.5);"
        << false << 100.0 << 10.0;
    // v = d + (a - d) / (1 + exp(b·(log10 x - c))): at x = 1, 1 - 1/2.
    QTest::newRow("logistic") << QString::fromLatin1(CurrentSchema)
            + "insert into assayCalibration values(1, 'DD', 4);"
              "insert into curve values(1, 'DD', 'mg/L', 'OD', 1, '2024-01-02', 1, 0, 0, 2, 0, "
              "1, NULL, 1, 'L7');"
                              << true << 1.0 << 0.5;
    QTest::newRow("a coefficient the method needs is empty") << QString::fromLatin1(CurrentSchema)
            + "insert into assayCalibration values(1, 'DD', 4);"
              "insert into curve values(1, 'DD', 'mg/L', 'OD', 1, '2024-01-02', 1, 0, 0, 2, 0, "
              "NULL, NULL, 0, NULL);"
        << true << 1.0 << none;
    QTest::newRow("unknown method") << QString::fromLatin1(CurrentSchema)
            + "insert into assayCalibration values(1, 'DD', 99);"
              "insert into curve values(1, 'DD', 'mg/L', 'OD', 1, NULL, 0, 0, 1, 2, 3, 4, 5, "
              "1, NULL);"
                                    << true << 1.0 << none;
    QTest::newRow("unknown axis function") << QString::fromLatin1(CurrentSchema)
            + "insert into curve values(1, 'PT', '%', 's', 1, NULL, 7, 0, 1, 2, NULL, NULL, "
              "NULL, 1, NULL);"
                                           << false << 1.0 << none;
}

void tst_CalibrationCurves::fit()
{
    QFETCH(QString, sql);
    QFETCH(bool, methodStored);
    QFETCH(double, x);
    QFETCH(double, y);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("profile.db"));
    QVERIFY(makeDatabase(file, sql));
    QString error;
    const QVector<StoredCurve> curves = readStoredCurves(file, &error);
    QCOMPARE(error, QString());
    QCOMPARE(curves.size(), 1);
    QCOMPARE(curves.at(0).methodStored, methodStored);
    if (std::isnan(y)) {
        QVERIFY(!curves.at(0).fit);
        QVERIFY(std::isnan(curves.at(0).valueAt(x)));
    } else {
        QVERIFY(std::abs(curves.at(0).valueAt(x) - y) < 1e-9);
    }
}

void tst_CalibrationCurves::missingFileIsNotCreated()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("profile.db"));
    QString error;
    QVERIFY(readStoredCurves(file, &error).isEmpty());
    QVERIFY(error.contains(file));
    QVERIFY(!QFile::exists(file));
}

// Curve 1 refitted, 2 as it was, 3 new since the backup, 4 another curve under an old id.
void tst_CalibrationCurves::comparedWithBackup()
{
    QTemporaryDir dir;
    const QString before = QString::fromLatin1(OldSchema)
        + "insert into curve values(1, 'PT', '%', 's', 0.99, '2023-11-20', 1, 1, 9.6, 3.1);"
          "insert into curve values(2, 'FIB', 'g/L', 's', 0.99, '2023-11-20', 1, 1, 1, -1);"
          "insert into curve values(4, 'AT', '%', 'OD', NULL, NULL, 0, 0, NULL, NULL);";
    const QString after = QString::fromLatin1(CurrentSchema)
        + "insert into curve values(1, 'PT', '%', 's', 0.99, '2024-01-02', 1, 1, 2.4, -0.7, "
          "NULL, NULL, NULL, 1, NULL);"
          "insert into curve values(2, 'FIB', 'g/L', 's', 0.99, '2023-11-20', 1, 1, 1, -1, "
          "NULL, NULL, NULL, NULL, NULL);"
          "insert into curve values(3, 'DD', 'mg/L', 'OD', NULL, NULL, 1, 0, NULL, NULL, "
          "NULL, NULL, NULL, 0, NULL);"
          "insert into curve values(4, 'VIII', '%', 's', NULL, NULL, 1, 0, 70, -16, "
          "NULL, NULL, NULL, 1, NULL);"
          "insert into curvePoint values(1, 100, 12.1, NULL, 0);"
          "insert into curvePoint values(1, 25, 28.4, NULL, 1);";
    QVERIFY(makeDatabase(dir.filePath(QStringLiteral("profile.db.v0.bak")), before));
    QVERIFY(makeDatabase(dir.filePath(QStringLiteral("profile.db")), after));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    CalibrationPage page;
    page.reload();
    QDir::setCurrent(previous);

    QStringList upgrade;
    for (int i = 0; i < page.list()->topLevelItemCount(); ++i)
        upgrade << page.list()->topLevelItem(i)->text(CalibrationPage::UpgradeColumn);
    QCOMPARE(upgrade, QStringList({QStringLiteral("refitted"), QStringLiteral("unchanged"),
                                   QStringLiteral("not in the backup"),
                                   QStringLiteral("not in the backup")}));

    QVERIFY(page.selectCurve(1));
    const QString png = dir.filePath(QStringLiteral("curve.png"));
    QVERIFY(page.exportPng(png));
    QCOMPARE(QImage(png).size(), QSize(960, 720));
}

QTEST_MAIN(tst_CalibrationCurves)
#include "tst_calibrationcurves.moc"
