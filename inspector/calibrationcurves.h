// The calibration curves stored in a profile.db, read as they are, and their fits evaluated by
// the calibration library.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CALIBRATIONCURVES_H
#define CALIBRATIONCURVES_H

#include "stdpoint.h"

#include <QString>
#include <QVariant>
#include <QVector>

#include <memory>

class StandardCurve;

/*!
    \brief One row of table `curve` with its points, as stored: a column a schema lacks reads
    as null, so an old database and its upgraded copy read the same way.
*/
struct StoredCurve
{
    int id = 0;
    QString name;
    QString xUnit;
    QString yUnit;
    QString lotsNum;
    QString date;
    QVariant correlation; // null when none is stored
    QVariant valid;       // 1, 0, or null (not marked)
    int xFun = 0;         // ry::Function values
    int yFun = 0;
    int method = 0;        // ry::RegressionMethod of the calibration of the same name
    bool methodStored = false; // false: no calibration names one, and a linear fit is assumed
    QVector<QVariant> coefficients; // a to e, null where empty
    QVector<StdPoint> points;       // in row order
    // The fit as the calibration library evaluates it; null when the stored coefficients do not
    // make one (one of those the method needs is empty).
    std::shared_ptr<const StandardCurve> fit;

    /*! \brief The y of the stored fit at \a x; NaN where it has none. */
    double valueAt(double x) const;
    /*! \brief Whether the fit (coefficients, validity) differs from \a other's. */
    bool fitDiffers(const StoredCurve &other) const;
    /*! \brief "linear fit", "4-parameter logistic", ... */
    QString methodName() const;
    /*! \brief "a 9.62, b 3.15" for the coefficients the method uses. */
    QString coefficientText() const;
    /*! \brief The date, or "today": a refit dates its curve the day it runs. */
    QString dateText() const;
    /*! \brief "valid", "not valid" or "not marked". */
    QString validityText() const;
};

/*!
    \brief Every calibration curve of the settings database \a fileName, opened read-only, in
    the order of their ids. On failure the list is empty and \a error says why.
*/
QVector<StoredCurve> readStoredCurves(const QString &fileName, QString *error);

#endif // CALIBRATIONCURVES_H
