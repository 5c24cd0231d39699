// Tests of the calibration record: display functions named by text.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "assaytemplate.h"

#include <QtTest>

class tst_AssayTemplate : public QObject
{
    Q_OBJECT
private slots:
    void dispFun_data();
    void dispFun();
};

void tst_AssayTemplate::dispFun_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("function");
    QTest::newRow("Log") << QStringLiteral("Log") << int(ry::Log);
    QTest::newRow("Linear") << QStringLiteral("Linear") << int(ry::Linear);
    QTest::newRow("lower case log") << QStringLiteral("log") << int(ry::Log);
    QTest::newRow("blanks around Log") << QStringLiteral(" Log ") << int(ry::Log);
    QTest::newRow("empty") << QString() << int(ry::Linear);
    QTest::newRow("unknown") << QStringLiteral("Ln") << int(ry::Linear);
}

void tst_AssayTemplate::dispFun()
{
    QFETCH(QString, text);
    QFETCH(int, function);
    AssayTemplate::Calibration calibration;
    calibration.dispX = text;
    QCOMPARE(int(calibration.dispFunX()), function);
    QCOMPARE(int(calibration.dispFunY()), int(ry::Linear));
    calibration.dispY = text;
    QCOMPARE(int(calibration.dispFunY()), function);
}

QTEST_GUILESS_MAIN(tst_AssayTemplate)
#include "tst_assaytemplate.moc"
