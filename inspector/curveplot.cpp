// Plot of one clot curve: the raw signal above, its optical density below.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "curveplot.h"

#include "plotaxes.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// \a span gives the x range and the segment boundaries; \a curve the points drawn.
void drawPanel(QPainter &painter, const QRect &frame, const ClotCurve &curve, const QString &yTitle,
               const QColor &colour, const ClotCurve &span)
{
    const QFontMetrics metrics = painter.fontMetrics();
    const QRect plot = frame.adjusted(64, metrics.height() + 6, -12, -(2 * metrics.height() + 8));
    painter.setPen(Qt::black);
    painter.drawText(QRect(frame.left(), frame.top(), frame.width(), metrics.height() + 4),
                     Qt::AlignLeft | Qt::AlignVCenter, yTitle);
    if (plot.width() < 20 || plot.height() < 20)
        return;

    double xMin = 0.0, xMax = 1.0, yMin = 0.0, yMax = 1.0;
    if (span.size() > 0) {
        xMin = xMax = span.x(0);
        for (int i = 1; i < span.size(); ++i) {
            xMin = std::min(xMin, span.x(i));
            xMax = std::max(xMax, span.x(i));
        }
    }
    const int n = curve.size();
    if (n > 0) {
        yMin = yMax = curve.y(0);
        for (int i = 1; i < n; ++i) {
            yMin = std::min(yMin, curve.y(i));
            yMax = std::max(yMax, curve.y(i));
        }
    }
    const PlotAxes::Axis xAxis(xMin, xMax, false);
    const PlotAxes::Axis yAxis(yMin, yMax, false);
    const auto px = [&](double x) { return plot.left() + xAxis.fraction(x) * plot.width(); };
    const auto py = [&](double y) { return plot.bottom() - yAxis.fraction(y) * plot.height(); };

    PlotAxes::drawGrid(painter, plot, xAxis, yAxis, frame.left(), 56);
    painter.drawText(
        QRect(plot.left(), plot.bottom() + metrics.height() + 6, plot.width(), metrics.height()),
        Qt::AlignHCenter | Qt::AlignTop, CurvePlot::tr("time [s]"));

    // Where each later segment starts: its points follow a pause of the measurement.
    painter.setPen(QPen(QColor(200, 80, 40), 1, Qt::DashLine));
    const QVector<ClotCurve::Segment> boundaries = span.segments();
    for (int s = 1; s < boundaries.size(); ++s) {
        const int left = qRound(px(boundaries.at(s).x0));
        painter.drawLine(left, plot.top(), left, plot.bottom());
    }

    if (n == 0)
        return;
    const QVector<ClotCurve::Segment> segments = curve.segments();
    QPainterPath path;
    int i = 0;
    for (const ClotCurve::Segment &segment : segments) {
        for (int k = 0; k < segment.y.size(); ++k, ++i) {
            const QPointF point(px(curve.x(i)), py(curve.y(i)));
            if (k == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(colour, 1.5));
    painter.drawPath(path);
    painter.setRenderHint(QPainter::Antialiasing, false);
}

} // namespace

CurvePlot::CurvePlot(QWidget *parent)
    : PlotWidget(parent)
{
    setObjectName(QStringLiteral("curvePlot"));
    setAccessibleName(tr("Clot curve"));
    setMinimumSize(320, 240);
}

void CurvePlot::setCurve(const ClotCurve &curve, const QString &title)
{
    m_curve = curve;
    m_title = title;
    update();
}

void CurvePlot::paint(QPainter &painter, const QRect &area) const
{
    const int titleHeight = painter.fontMetrics().height() + 6;
    painter.setPen(Qt::black);
    if (m_curve.isEmpty()) {
        painter.drawText(area, Qt::AlignCenter,
                         m_title.isEmpty() ? tr("No result selected")
                                           : m_title + QLatin1Char('\n')
                                 + tr("No clot curve is stored for this result."));
        return;
    }
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.drawText(QRect(area.left() + 4, area.top(), area.width() - 8, titleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, m_title);
    painter.restore();

    const QRect body = area.adjusted(4, titleHeight, -4, -4);
    const int half = body.height() / 2;
    const ClotCurve raw = m_curve;
    ClotCurve od = m_curve.toType(ClotCurve::OpticalDensity);
    QString odTitle = tr("Optical density");
    if (m_curve.type() == ClotCurve::Intensity && od.segments().size() > 1) {
        // The conversion takes its baseline from the first segment and converts that one only;
        // later segments keep their intensities, which do not belong on this axis.
        od.setSegments(od.segments().mid(0, 1));
        odTitle = tr("Optical density (first segment: later ones are not converted)");
    }
    const QString rawTitle = m_curve.type() == ClotCurve::OpticalDensity
        ? tr("Stored values (optical density)")
        : tr("Intensity (raw)");
    drawPanel(painter, QRect(body.left(), body.top(), body.width(), half), raw, rawTitle,
              QColor(30, 90, 180), raw);
    drawPanel(painter, QRect(body.left(), body.top() + half, body.width(), body.height() - half),
              od, odTitle, QColor(20, 140, 60), raw);
}
