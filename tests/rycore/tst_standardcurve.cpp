// Tests of the calibration curve: fits per method, validity, back-calculation and flags.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "standardcurve.h"

#include <QtTest>

#include <cmath>

using Doubles = QVector<double>;
using Ints = QVector<int>;

namespace {

// The models written out independently of the library, to make exact data.
double modelValue(int method, const Doubles &k, double u)
{
    switch (method) {
    case ry::LinearFit:
        return k[0] + k[1] * u;
    case ry::Quadratic:
        return k[0] + k[1] * u + k[2] * u * u;
    case ry::Cubic:
        return k[0] + k[1] * u + k[2] * u * u + k[3] * u * u * u;
    case ry::Logistic4P:
        return k[3] + (k[0] - k[3]) / (1 + std::exp(k[1] * (u - k[2])));
    case ry::Logistic5P:
        return k[3] + (k[0] - k[3]) / std::pow(1 + std::exp(k[1] * (u - k[2])), k[4]);
    }
    return qQNaN();
}

double onAxis(int function, double x)
{
    return function == ry::Log ? std::log10(x) : x;
}

double offAxis(int function, double u)
{
    return function == ry::Log ? std::pow(10.0, u) : u;
}

void setUp(StandardCurve &curve, int method, int xFun, int yFun, const Doubles &xs,
           const Doubles &ys, const Ints &flags = {})
{
    curve.setXFun(ry::Function(xFun));
    curve.setYFun(ry::Function(yFun));
    curve.setMethod(ry::RegressionMethod(method));
    QVector<StdPoint> points;
    for (int i = 0; i < xs.size(); ++i) {
        StdPoint p;
        p.setX(xs[i]);
        p.setY(ys[i]);
        p.setZ(-1);
        p.setFlags(flags.value(i));
        points.append(p);
    }
    curve.setPoints(points);
}

bool near(double actual, double expected, double relative, double absolute = 1e-9)
{
    return std::abs(actual - expected) <= std::max(absolute, relative * std::abs(expected));
}

// Clotting time (s) against percent plasma, the public example series of R's glm (lot 1).
const Doubles plasmaPercent {5, 10, 15, 20, 30, 40, 60, 80, 100};
const Doubles clottingTime {118, 58, 42, 35, 27, 25, 21, 19, 18};

} // namespace

class tst_StandardCurve : public QObject
{
    Q_OBJECT
private slots:
    void exactData_data();
    void exactData();
    void publicData_data();
    void publicData();
    void noisyLogistic();
    void validity_data();
    void validity();
    void backCalculationAndFlags_data();
    void backCalculationAndFlags();
    void beyondAsymptoteNotInvertible();
    void pointsOffTheLogAxis_data();
    void pointsOffTheLogAxis();
    void noFitKeepsStoredValues_data();
    void noFitKeepsStoredValues();
    void setValidAndPointOutOfRange();
};

void tst_StandardCurve::exactData_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("xFun");
    QTest::addColumn<int>("yFun");
    QTest::addColumn<Doubles>("coefficients");
    QTest::addColumn<Doubles>("xs");

    const Doubles logLevels {3, 6, 10, 20, 30, 50, 80, 150, 300, 600};
    QTest::newRow("linear fit, linear axes")
        << int(ry::LinearFit) << int(ry::Linear) << int(ry::Linear) << Doubles {2, 0.5}
        << Doubles {1, 2, 3, 4, 5, 6};
    QTest::newRow("linear fit, log axes") << int(ry::LinearFit) << int(ry::Log) << int(ry::Log)
                                          << Doubles {2.38, -0.6} << plasmaPercent;
    QTest::newRow("quadratic") << int(ry::Quadratic) << int(ry::Linear) << int(ry::Linear)
                               << Doubles {1, 2, 0.3} << Doubles {0, 1, 2, 3, 4, 5};
    QTest::newRow("cubic") << int(ry::Cubic) << int(ry::Linear) << int(ry::Linear)
                           << Doubles {-1, 3, -0.5, 0.05} << Doubles {0, 1, 2, 3, 4, 5, 6};
    QTest::newRow("cubic, raw units in the thousands")
        << int(ry::Cubic) << int(ry::Linear) << int(ry::Linear) << Doubles {5, 0.02, -3e-6, 4e-10}
        << Doubles {500, 1000, 2000, 3000, 4000, 5000};
    QTest::newRow("logistic 4P falling, log x")
        << int(ry::Logistic4P) << int(ry::Log) << int(ry::Linear) << Doubles {2, 3, 1.5, 0.1}
        << logLevels;
    QTest::newRow("logistic 4P rising")
        << int(ry::Logistic4P) << int(ry::Linear) << int(ry::Linear) << Doubles {0.05, 1.2, 2, 1.8}
        << Doubles {0, 0.5, 1, 1.5, 2, 2.5, 3, 4, 5, 6};
    QTest::newRow("logistic 5P") << int(ry::Logistic5P) << int(ry::Log) << int(ry::Linear)
                                 << Doubles {2, 2.5, 1.2, 0.2, 0.6}
                                 << Doubles {1, 2, 3, 6, 10, 20, 30, 50, 80, 150, 300, 600};
    QTest::newRow("point to point")
        << int(ry::PointToPoint) << int(ry::Log) << int(ry::Log) << Doubles() << plasmaPercent;
}

void tst_StandardCurve::exactData()
{
    QFETCH(int, method);
    QFETCH(int, xFun);
    QFETCH(int, yFun);
    QFETCH(Doubles, coefficients);
    QFETCH(Doubles, xs);

    Doubles ys;
    for (int i = 0; i < xs.size(); ++i) {
        ys.append(method == ry::PointToPoint
                      ? clottingTime[i]
                      : offAxis(yFun, modelValue(method, coefficients, onAxis(xFun, xs[i]))));
    }
    StandardCurve curve(nullptr);
    setUp(curve, method, xFun, yFun, xs, ys);
    QCOMPARE(curve.coefficientCount(), coefficients.size());
    curve.update();

    QVERIFY(curve.isValid());
    QVERIFY2(near(std::abs(curve.correlation()), 1, 1e-9),
             qPrintable(QString::number(curve.correlation(), 'g', 17)));
    for (int i = 0; i < coefficients.size(); ++i) {
        QVERIFY2(
            near(curve.coefficient(i), coefficients[i], 1e-6, 1e-12),
            qPrintable(
                QStringLiteral("coefficient %1: %2").arg(i).arg(curve.coefficient(i), 0, 'g', 17)));
    }
    QCOMPARE(curve.pointCount(), xs.size());
    for (int i = 0; i < xs.size(); ++i) {
        QVERIFY2(near(curve.point(i).z(), xs[i], 1e-6, 1e-9),
                 qPrintable(
                     QStringLiteral("x %1, z %2").arg(xs[i]).arg(curve.point(i).z(), 0, 'g', 17)));
        QCOMPARE(curve.point(i).flags(), 0);
        QVERIFY(near(curve.valueAt(xs[i]), ys[i], 1e-9));
    }
}

void tst_StandardCurve::publicData_data()
{
    QTest::addColumn<Ints>("flags");
    QTest::addColumn<int>("first");
    QTest::addColumn<double>("correlation");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<Doubles>("coefficients");

    QTest::newRow("all nine points")
        << Ints() << 0 << -0.97316 << false << Doubles {2.37909, -0.59704};
    QTest::newRow("from 20 % up") << Ints() << 3 << -0.99010 << true << Doubles {2.04847, -0.40364};
    QTest::newRow("below 20 % excluded")
        << Ints {1, 1, 1} << 0 << -0.99010 << true << Doubles {2.04847, -0.40364};
}

void tst_StandardCurve::publicData()
{
    QFETCH(Ints, flags);
    QFETCH(int, first);
    QFETCH(double, correlation);
    QFETCH(bool, valid);
    QFETCH(Doubles, coefficients);

    StandardCurve curve(nullptr);
    setUp(curve, ry::LinearFit, ry::Log, ry::Log, plasmaPercent.mid(first), clottingTime.mid(first),
          flags);
    curve.update();
    QVERIFY2(near(curve.correlation(), correlation, 0, 5e-6),
             qPrintable(QString::number(curve.correlation(), 'g', 10)));
    QCOMPARE(curve.isValid(), valid);
    QVERIFY(near(curve.coefficient(0), coefficients[0], 0, 5e-6));
    QVERIFY(near(curve.coefficient(1), coefficients[1], 0, 5e-6));

    // Excluded points keep their mark, are back-calculated, and lie outside the calibrated range.
    for (int i = 0; i < flags.size(); ++i) {
        QCOMPARE(curve.point(i).flags() & (StdPoint::Excluded | StdPoint::OutOfRange),
                 StdPoint::Excluded | StdPoint::OutOfRange);
        const double z
            = std::pow(10, (std::log10(clottingTime[i]) - coefficients[0]) / coefficients[1]);
        QVERIFY(near(curve.point(i).z(), z, 1e-4));
    }
}

void tst_StandardCurve::noisyLogistic()
{
    const Doubles truth {1.8, 2.2, 1.4, 0.1};
    // Fixed noise of up to 1 % of the span, with no trend along the curve.
    const Doubles noise {0.012, -0.015, 0.004, 0.017,  -0.009, -0.013,
                         0.016, -0.002, 0.010, -0.017, 0.006,  -0.011};
    Doubles xs, ys;
    for (int i = 0; i < noise.size(); ++i) {
        const double x = 2 * std::pow(1.6, i);
        xs.append(x);
        ys.append(modelValue(ry::Logistic4P, truth, std::log10(x)) + noise[i]);
    }
    StandardCurve curve(nullptr);
    setUp(curve, ry::Logistic4P, ry::Log, ry::Linear, xs, ys);
    curve.update();
    QVERIFY(curve.isValid());
    QVERIFY(curve.correlation() < -0.99);
    QVERIFY(near(curve.coefficient(0), truth[0], 0, 0.05));
    QVERIFY(near(curve.coefficient(1), truth[1], 0.1));
    QVERIFY(near(curve.coefficient(2), truth[2], 0, 0.03));
    QVERIFY(near(curve.coefficient(3), truth[3], 0, 0.05));
}

void tst_StandardCurve::validity_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<Doubles>("xs");
    QTest::addColumn<Doubles>("ys");
    QTest::addColumn<Ints>("flags");
    QTest::addColumn<bool>("valid");

    // For x = -1, 0, 1 and y = -1, t, 1 the correlation is 1/sqrt(1 + t²/3): 0.98 at t ≈ 0.3517.
    QTest::newRow("r 0.9802") << int(ry::LinearFit) << Doubles {-1, 0, 1} << Doubles {-1, 0.35, 1}
                              << Ints() << true;
    QTest::newRow("r 0.9798") << int(ry::LinearFit) << Doubles {-1, 0, 1} << Doubles {-1, 0.353, 1}
                              << Ints() << false;
    QTest::newRow("linear, two points")
        << int(ry::LinearFit) << Doubles {1, 2} << Doubles {1, 2} << Ints() << false;
    QTest::newRow("linear, third point excluded")
        << int(ry::LinearFit) << Doubles {1, 2, 3} << Doubles {1, 2, 3} << Ints {0, 0, 1} << false;
    QTest::newRow("linear, one level only")
        << int(ry::LinearFit) << Doubles {2, 2, 2} << Doubles {1, 2, 3} << Ints() << false;
    QTest::newRow("flat signal") << int(ry::LinearFit) << Doubles {1, 2, 3} << Doubles {5, 5, 5}
                                 << Ints() << false;
    QTest::newRow("all excluded") << int(ry::LinearFit) << Doubles {1, 2, 3} << Doubles {1, 2, 3}
                                  << Ints {1, 1, 1} << false;
    QTest::newRow("quadratic, three points")
        << int(ry::Quadratic) << Doubles {2, 3, 4} << Doubles {1, 2, 5} << Ints() << false;
    // y = (x - 1.9)² + 1 and (x - 2.1)² + 1 on x = 2..6: the vertex just outside, then just inside.
    QTest::newRow("quadratic, vertex outside")
        << int(ry::Quadratic) << Doubles {2, 3, 4, 6} << Doubles {1.01, 2.21, 5.41, 17.81} << Ints()
        << true;
    QTest::newRow("quadratic, vertex inside")
        << int(ry::Quadratic) << Doubles {2, 3, 4, 6} << Doubles {1.01, 1.81, 4.61, 16.21} << Ints()
        << false;
    QTest::newRow("cubic, turning inside")
        << int(ry::Cubic) << Doubles {0, 1, 2, 3, 4} << Doubles {0, 3, 2, 3, 16} << Ints() << false;
    QTest::newRow("4P, four points") << int(ry::Logistic4P) << Doubles {0, 1, 2, 3}
                                     << Doubles {0.1, 0.4, 0.8, 0.95} << Ints() << false;
    QTest::newRow("point to point, monotonic")
        << int(ry::PointToPoint) << Doubles {1, 2, 2, 4} << Doubles {9, 6, 5, 1} << Ints() << true;
    QTest::newRow("point to point, two points")
        << int(ry::PointToPoint) << Doubles {1, 2} << Doubles {9, 6} << Ints() << true;
    QTest::newRow("point to point, turning")
        << int(ry::PointToPoint) << Doubles {1, 2, 3} << Doubles {9, 6, 7} << Ints() << false;
    QTest::newRow("point to point, one level")
        << int(ry::PointToPoint) << Doubles {2, 2} << Doubles {9, 6} << Ints() << false;
}

void tst_StandardCurve::validity()
{
    QFETCH(int, method);
    QFETCH(Doubles, xs);
    QFETCH(Doubles, ys);
    QFETCH(Ints, flags);
    QFETCH(bool, valid);

    StandardCurve curve(nullptr);
    setUp(curve, method, ry::Linear, ry::Linear, xs, ys, flags);
    curve.setValid(!valid);
    curve.update();
    QCOMPARE(curve.isValid(), valid);
}

void tst_StandardCurve::backCalculationAndFlags_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<int>("flagsIn");
    QTest::addColumn<int>("flagsOut");

    const int excluded = StdPoint::Excluded;
    const int outOfRange = StdPoint::OutOfRange;
    const int recovery = StdPoint::RecoveryOutOfLimits;
    QTest::newRow("recovery 114.7 %") << 30.0 << 34.4 << excluded << excluded;
    QTest::newRow("recovery 115.3 %") << 30.0 << 34.6 << excluded << (excluded | recovery);
    QTest::newRow("recovery 84.7 %") << 30.0 << 25.4 << excluded << (excluded | recovery);
    QTest::newRow("lowest level, recovery 119 %") << 10.0 << 11.9 << excluded << excluded;
    QTest::newRow("lowest level, recovery 121 %")
        << 10.0 << 12.1 << excluded << (excluded | recovery);
    QTest::newRow("signal below the range") << 10.0 << 8.1 << excluded << (excluded | outOfRange);
    QTest::newRow("signal above the range")
        << 30.0 << 60.0 << excluded << (excluded | outOfRange | recovery);
    QTest::newRow("level above the range")
        << 70.0 << 50.0 << excluded << (excluded | outOfRange | recovery);
    QTest::newRow("stale marks cleared")
        << 30.0 << 30.0 << (excluded | outOfRange | recovery) << excluded;
    QTest::newRow("other bits kept") << 30.0 << 30.0 << (excluded | 0x10) << (excluded | 0x10);
}

void tst_StandardCurve::backCalculationAndFlags()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(int, flagsIn);
    QFETCH(int, flagsOut);

    // y = x on 10..50; the extra point is excluded, so it leaves the fit alone.
    StandardCurve curve(nullptr);
    setUp(curve, ry::LinearFit, ry::Linear, ry::Linear, Doubles {10, 20, 30, 40, 50, x},
          Doubles {10, 20, 30, 40, 50, y}, Ints {0, 0, 0, 0, 0, flagsIn});
    curve.update();
    QVERIFY(curve.isValid());
    QVERIFY(near(curve.point(5).z(), y, 1e-9));
    QCOMPARE(curve.point(5).flags(), flagsOut);
    QCOMPARE(curve.point(0).flags(), 0);
}

void tst_StandardCurve::beyondAsymptoteNotInvertible()
{
    const Doubles k {2, 3, 1.5, 0.1};
    Doubles xs {3, 6, 10, 20, 30, 50, 80, 150, 300}, ys;
    for (double x : xs)
        ys.append(modelValue(ry::Logistic4P, k, std::log10(x)));
    xs.append(1);
    ys.append(2.5); // above the upper asymptote: no x gives it
    StandardCurve curve(nullptr);
    setUp(curve, ry::Logistic4P, ry::Log, ry::Linear, xs, ys, Ints(9, 0) << StdPoint::Excluded);
    curve.update();
    QVERIFY(curve.isValid());
    QVERIFY(std::isnan(curve.point(9).z()));
    QCOMPARE(curve.point(9).flags(), StdPoint::Excluded | StdPoint::OutOfRange);
    QVERIFY(std::isnan(curve.xForY(2.5)));
}

void tst_StandardCurve::pointsOffTheLogAxis_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<bool>("zFinite");

    QTest::newRow("x of 0") << 0.0 << 200.0 << true;
    QTest::newRow("negative x") << -5.0 << 200.0 << true;
    QTest::newRow("y of 0") << 10.0 << 0.0 << false;
    QTest::newRow("x and y of 0") << 0.0 << 0.0 << false;
}

void tst_StandardCurve::pointsOffTheLogAxis()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(bool, zFinite);

    // The point cannot be placed on log axes: it is marked and left out, the rest still fit.
    StandardCurve curve(nullptr);
    setUp(curve, ry::LinearFit, ry::Log, ry::Log, Doubles {x} + plasmaPercent.mid(3),
          Doubles {y} + clottingTime.mid(3));
    curve.update();
    QVERIFY(curve.isValid());
    QVERIFY(near(curve.correlation(), -0.99010, 0, 5e-6));
    QCOMPARE(curve.point(0).flags(), int(StdPoint::OutOfRange));
    QCOMPARE(std::isfinite(curve.point(0).z()), zFinite);
    for (int i = 1; i < curve.pointCount(); ++i)
        QCOMPARE(curve.point(i).flags() & StdPoint::OutOfRange, 0);
}

void tst_StandardCurve::noFitKeepsStoredValues_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("xFun");
    QTest::addColumn<Doubles>("xs");

    QTest::newRow("one point") << int(ry::LinearFit) << int(ry::Linear) << Doubles {1};
    QTest::newRow("no points") << int(ry::Logistic4P) << int(ry::Linear) << Doubles();
    QTest::newRow("unknown method") << 9 << int(ry::Linear) << Doubles {1, 2, 3, 4};
    QTest::newRow("unknown axis function") << int(ry::LinearFit) << 7 << Doubles {1, 2, 3, 4};
    QTest::newRow("4P on a straight line")
        << int(ry::Logistic4P) << int(ry::Linear) << Doubles {1, 1, 1, 1, 1};
}

void tst_StandardCurve::noFitKeepsStoredValues()
{
    QFETCH(int, method);
    QFETCH(int, xFun);
    QFETCH(Doubles, xs);

    StandardCurve curve(nullptr);
    setUp(curve, method, xFun, ry::Linear, xs, xs);
    const Doubles stored {1.5, 2.5, 3.5, 4.5, 5.5};
    curve.setCoefficient(stored);
    curve.setCorrelation(0.5);
    curve.setValid(true);
    curve.update();
    QVERIFY(!curve.isValid());
    QCOMPARE(curve.coefficients(), stored);
    QCOMPARE(curve.correlation(), 0.5);
    for (int i = 0; i < curve.pointCount(); ++i) {
        QVERIFY(std::isnan(curve.point(i).z()));
        QCOMPARE(curve.point(i).flags(), int(StdPoint::OutOfRange));
    }
}

void tst_StandardCurve::setValidAndPointOutOfRange()
{
    StandardCurve curve(nullptr);
    setUp(curve, ry::LinearFit, ry::Linear, ry::Linear, Doubles {1, 2}, Doubles {3, 4});
    curve.setValid(true);
    QVERIFY(curve.isValid());
    curve.setValid(false);
    QVERIFY(!curve.isValid());

    curve.point(5).setZ(7);
    curve.point(-1).setFlags(3);
    QCOMPARE(curve.pointCount(), 2);
    QVERIFY(std::isnan(curve.point(7).z()));
    QCOMPARE(curve.point(7).flags(), 0);
    QCOMPARE(curve.point(1).y(), 4.0);
}

QTEST_GUILESS_MAIN(tst_StandardCurve)
#include "tst_standardcurve.moc"
