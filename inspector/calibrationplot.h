// Plot of one calibration curve: its standard points, its fit over them and the fit it had
// before the upgrade.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CALIBRATIONPLOT_H
#define CALIBRATIONPLOT_H

#include "calibrationcurves.h"
#include "plotwidget.h"

/*!
    \brief Draws a calibration curve on the axes of its fit (a decimal-log axis where the curve's
    function is Log), in its units, with the points as stored, the fit as the calibration library
    evaluates it and, when given, the fit of the same curve in a backup (dashed, beneath). The
    lines below the plot give method, correlation, date and validity of both.
*/
class CalibrationPlot : public PlotWidget
{
    Q_OBJECT
public:
    explicit CalibrationPlot(QWidget *parent = nullptr);

    /*! \brief Shows \a curve; \a before is the same curve in \a backupName, when it has it. */
    void setCurve(const StoredCurve &curve, const StoredCurve *before = nullptr,
                  const QString &backupName = QString());
    void clear(const QString &message);
    bool hasCurve() const { return m_hasCurve; }

    QSize sizeHint() const override { return {520, 420}; }

protected:
    void paint(QPainter &painter, const QRect &area) const override;

private:
    StoredCurve m_curve;
    StoredCurve m_before;
    bool m_hasCurve = false;
    bool m_hasBefore = false;
    QString m_backupName;
    QString m_message;
};

#endif // CALIBRATIONPLOT_H
