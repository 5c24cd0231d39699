// A calibration curve: its points, regression method, axis functions and fitted coefficients.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "standardcurve.h"

#include "regression_p.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double minimumCorrelation = 0.98;
constexpr double recoveryLimit = 15;            // percent
constexpr double lowestLevelRecoveryLimit = 20; // percent

} // namespace

class StandardCurvePrivate
{
public:
    // The points that take part in the fit, on the axes, with their calibrated range.
    struct Used
    {
        QVector<double> u, v;
        double uMin = notANumber, uMax = notANumber, vMin = notANumber, vMax = notANumber;
        double xLowest = notANumber;
    };

    bool axesKnown() const { return ry::isKnown(xFun) && ry::isKnown(yFun); }
    double axisU(const StdPoint &p) const { return ry::toAxis(xFun, p.x()); }
    double axisV(const StdPoint &p) const { return ry::toAxis(yFun, p.y()); }
    Used used() const;
    Regression::Model model(const Used &used) const;
    double xForY(const Regression::Model &model, const Used &used, double y) const;

    int id = 0;
    QString name;
    QString xUnit;
    QString yUnit;
    QString lotsNum;
    double correlation = 0;
    QDate date;
    ry::Function xFun = ry::Linear;
    ry::Function yFun = ry::Linear;
    ry::Function xDispFun = ry::Linear;
    ry::Function yDispFun = ry::Linear;
    ry::RegressionMethod method = ry::LinearFit;
    QVector<StdPoint> points;
    QVector<double> coefficients;
    bool valid = false;
    StdPoint outOfRange;
};

StandardCurvePrivate::Used StandardCurvePrivate::used() const
{
    Used result;
    for (const StdPoint &p : points) {
        const double u = axisU(p), v = axisV(p);
        if ((p.flags() & StdPoint::Excluded) || !std::isfinite(u) || !std::isfinite(v))
            continue;
        result.u.append(u);
        result.v.append(v);
        if (result.u.size() == 1) {
            result.uMin = result.uMax = u;
            result.vMin = result.vMax = v;
            result.xLowest = p.x();
        } else {
            result.uMin = std::min(result.uMin, u);
            result.uMax = std::max(result.uMax, u);
            result.vMin = std::min(result.vMin, v);
            result.vMax = std::max(result.vMax, v);
            result.xLowest = std::min(result.xLowest, p.x());
        }
    }
    return result;
}

Regression::Model StandardCurvePrivate::model(const Used &used) const
{
    if (method == ry::PointToPoint)
        return Regression::pointToPoint(used.u, used.v);
    Regression::Model result;
    result.method = method;
    result.coefficients = coefficients;
    return result;
}

double StandardCurvePrivate::xForY(const Regression::Model &model, const Used &used, double y) const
{
    if (!axesKnown() || !ry::isKnown(method))
        return notANumber;
    const double u = model.inverse(ry::toAxis(yFun, y), used.uMin, used.uMax);
    return std::isfinite(u) ? ry::fromAxis(xFun, u) : notANumber;
}

StandardCurve::StandardCurve(QObject *parent)
    : QObject(parent)
    , d(new StandardCurvePrivate)
{
}

StandardCurve::~StandardCurve() = default;

int StandardCurve::id() const
{
    return d->id;
}

void StandardCurve::setId(int id)
{
    d->id = id;
}

QString StandardCurve::name() const
{
    return d->name;
}

void StandardCurve::setName(const QString &name)
{
    d->name = name;
}

QString StandardCurve::xUnit() const
{
    return d->xUnit;
}

void StandardCurve::setXUnit(const QString &unit)
{
    d->xUnit = unit;
}

QString StandardCurve::yUnit() const
{
    return d->yUnit;
}

void StandardCurve::setYUnit(const QString &unit)
{
    d->yUnit = unit;
}

QString StandardCurve::lotsNum() const
{
    return d->lotsNum;
}

void StandardCurve::setLotsNum(const QString &lotsNum)
{
    d->lotsNum = lotsNum;
}

double StandardCurve::correlation() const
{
    return d->correlation;
}

void StandardCurve::setCorrelation(double correlation)
{
    d->correlation = correlation;
}

QDate StandardCurve::date() const
{
    return d->date;
}

void StandardCurve::setDate(const QDate &date)
{
    d->date = date;
}

ry::Function StandardCurve::xFun() const
{
    return d->xFun;
}

void StandardCurve::setXFun(ry::Function function)
{
    d->xFun = function;
}

ry::Function StandardCurve::yFun() const
{
    return d->yFun;
}

void StandardCurve::setYFun(ry::Function function)
{
    d->yFun = function;
}

ry::Function StandardCurve::xDispFun() const
{
    return d->xDispFun;
}

void StandardCurve::setXDispFun(ry::Function function)
{
    d->xDispFun = function;
}

ry::Function StandardCurve::yDispFun() const
{
    return d->yDispFun;
}

void StandardCurve::setYDispFun(ry::Function function)
{
    d->yDispFun = function;
}

ry::RegressionMethod StandardCurve::method() const
{
    return d->method;
}

void StandardCurve::setMethod(ry::RegressionMethod method)
{
    d->method = method;
}

QVector<StdPoint> StandardCurve::points() const
{
    return d->points;
}

void StandardCurve::setPoints(const QVector<StdPoint> &points)
{
    d->points = points;
}

int StandardCurve::pointCount() const
{
    return d->points.size();
}

StdPoint &StandardCurve::point(int index)
{
    if (index >= 0 && index < d->points.size())
        return d->points[index];
    d->outOfRange = StdPoint();
    return d->outOfRange;
}

int StandardCurve::coefficientCount() const
{
    return ry::coefficientCount(d->method);
}

double StandardCurve::coefficient(int index) const
{
    return index >= 0 && index < d->coefficients.size() ? d->coefficients[index] : notANumber;
}

QVector<double> StandardCurve::coefficients() const
{
    return d->coefficients;
}

void StandardCurve::setCoefficient(const QVector<double> &coefficients)
{
    d->coefficients = coefficients;
}

bool StandardCurve::isValid() const
{
    return d->valid;
}

void StandardCurve::setValid(bool valid)
{
    d->valid = valid;
}

void StandardCurve::update()
{
    const StandardCurvePrivate::Used used = d->used();
    Regression::Fit fit;
    if (d->axesKnown() && ry::isKnown(d->method))
        fit = Regression::fit(d->method, used.u, used.v);

    if (fit.converged) {
        if (d->method != ry::PointToPoint)
            d->coefficients = fit.model.coefficients;
        d->correlation = Regression::correlation(fit.model, used.u, used.v);
        const int needed = d->method == ry::PointToPoint ? 2 : coefficientCount() + 1;
        d->valid = used.u.size() >= needed && fit.model.isMonotonic(used.uMin, used.uMax)
            && (d->method == ry::PointToPoint || std::abs(d->correlation) >= minimumCorrelation);
    } else {
        // Nothing better to offer: keep what the curve held, but never call it usable.
        d->valid = false;
    }

    for (StdPoint &p : d->points) {
        int flags = p.flags() & ~(StdPoint::OutOfRange | StdPoint::RecoveryOutOfLimits);
        const double z = fit.converged ? d->xForY(fit.model, used, p.y()) : notANumber;
        const double u = d->axisU(p), v = d->axisV(p);
        const bool inRange = std::isfinite(z) && u >= used.uMin && u <= used.uMax && v >= used.vMin
            && v <= used.vMax;
        if (!inRange)
            flags |= StdPoint::OutOfRange;
        if (std::isfinite(z) && std::isfinite(u) && p.x() != 0) {
            const double limit = p.x() == used.xLowest ? lowestLevelRecoveryLimit : recoveryLimit;
            if (std::abs(100 * z / p.x() - 100) > limit)
                flags |= StdPoint::RecoveryOutOfLimits;
        }
        p.setZ(z);
        p.setFlags(flags);
    }
}

double StandardCurve::valueAt(double x) const
{
    if (!d->axesKnown() || !ry::isKnown(d->method))
        return notANumber;
    const double v = d->model(d->used()).value(ry::toAxis(d->xFun, x));
    return std::isfinite(v) ? ry::fromAxis(d->yFun, v) : notANumber;
}

double StandardCurve::xForY(double y) const
{
    const StandardCurvePrivate::Used used = d->used();
    return d->xForY(d->model(used), used, y);
}
