// A calibration curve: its points, regression method, axis functions and fitted coefficients.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef STANDARDCURVE_H
#define STANDARDCURVE_H

#include "ryenums.h"
#include "stdpoint.h"

#include <QDate>
#include <QObject>
#include <QScopedPointer>
#include <QString>
#include <QVector>

class StandardCurvePrivate;

class StandardCurve : public QObject
{
    Q_OBJECT
public:
    explicit StandardCurve(QObject *parent = nullptr);
    virtual ~StandardCurve();

    int id() const;
    void setId(int id);
    QString name() const;
    void setName(const QString &name);
    QString xUnit() const;
    void setXUnit(const QString &unit);
    QString yUnit() const;
    void setYUnit(const QString &unit);
    QString lotsNum() const;
    void setLotsNum(const QString &lotsNum);
    double correlation() const;
    void setCorrelation(double correlation);
    QDate date() const;
    void setDate(const QDate &date);

    /*! \brief Axis functions of the fit: the regression runs on (xFun(x), yFun(y)). */
    ry::Function xFun() const;
    void setXFun(ry::Function function);
    ry::Function yFun() const;
    void setYFun(ry::Function function);
    /*! \brief Axis functions for display only; they do not affect the fit. */
    ry::Function xDispFun() const;
    void setXDispFun(ry::Function function);
    ry::Function yDispFun() const;
    void setYDispFun(ry::Function function);
    ry::RegressionMethod method() const;
    void setMethod(ry::RegressionMethod method);

    QVector<StdPoint> points() const;
    void setPoints(const QVector<StdPoint> &points);
    int pointCount() const;
    /*! \brief The point at \a index; out of range, a detached blank point (never a crash). */
    StdPoint &point(int index);

    /*! \brief Number of coefficients of the method (0 for point-to-point). */
    int coefficientCount() const;
    /*! \brief Coefficient \a index (a, b, c, d, e); NaN where none is held. */
    double coefficient(int index) const;
    QVector<double> coefficients() const;
    void setCoefficient(const QVector<double> &coefficients);

    bool isValid() const;
    void setValid(bool valid);

    /*!
        \brief Refits the curve from its points, method and axis functions.

        Points flagged Excluded stay but are left out of the fit. Afterwards correlation(),
        coefficient(), isValid() and each point's z() and flags() describe the new fit. When no
        fit can be computed, the curve is invalid and keeps its previous coefficients and
        correlation.
    */
    void update();

    /*! \brief y of the curve at \a x; NaN where it is not defined. */
    double valueAt(double x) const;
    /*! \brief x whose curve value is \a y, searched around the calibrated range; NaN if none. */
    double xForY(double y) const;

private:
    Q_DISABLE_COPY(StandardCurve)
    QScopedPointer<StandardCurvePrivate> d;
};

#endif // STANDARDCURVE_H
