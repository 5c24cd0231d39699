// Regression engine of the calibration library: fits, evaluation and inversion in axis space.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef REGRESSION_P_H
#define REGRESSION_P_H

#include "ryenums.h"

#include <QVector>

namespace Regression {

// A curve v = f(u) in axis space.
struct Model
{
    ry::RegressionMethod method = ry::LinearFit;
    QVector<double> coefficients;
    // Point-to-point: one knot per distinct level (mean v), ascending in u.
    QVector<double> knotU;
    QVector<double> knotV;

    double value(double u) const;
    // Strictly monotonic on [lo, hi].
    bool isMonotonic(double lo, double hi) const;
    // A u with value(u) == v, looked for in [lo, hi] first, then up to one span beyond either end.
    double inverse(double v, double lo, double hi) const;
};

struct Fit
{
    bool converged = false;
    Model model;
};

Model pointToPoint(const QVector<double> &u, const QVector<double> &v);

// Least squares for the polynomials, Levenberg–Marquardt for the logistic models.
Fit fit(ry::RegressionMethod method, const QVector<double> &u, const QVector<double> &v);

// Pearson r for the linear fit; otherwise sqrt(1 − SSE/SST) with the sign of the curve's direction.
double correlation(const Model &model, const QVector<double> &u, const QVector<double> &v);

} // namespace Regression

#endif // REGRESSION_P_H
