// Plot of one clot curve: the raw signal above, its optical density below.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CURVEPLOT_H
#define CURVEPLOT_H

#include "analysisresult.h"
#include "plotwidget.h"

/*!
    \brief Draws a clot curve as stored and converted to optical density, each with its axes,
    and marks where a new segment starts.
*/
class CurvePlot : public PlotWidget
{
    Q_OBJECT
public:
    explicit CurvePlot(QWidget *parent = nullptr);

    void setCurve(const ClotCurve &curve, const QString &title);
    ClotCurve curve() const { return m_curve; }

    QSize sizeHint() const override { return {480, 360}; }

protected:
    void paint(QPainter &painter, const QRect &area) const override;

private:
    ClotCurve m_curve;
    QString m_title;
};

#endif // CURVEPLOT_H
