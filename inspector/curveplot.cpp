// Plot of one clot curve: the raw signal above, its optical density below.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "curveplot.h"

#include "plotaxes.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

using PlotAxes::paddedRange;
using PlotAxes::Range;
using PlotAxes::tickLabel;
using PlotAxes::tickStep;

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
    const Range xs = paddedRange(xMin, xMax);
    const Range ys = paddedRange(yMin, yMax);
    const auto px
        = [&](double x) { return plot.left() + (x - xs.min) / (xs.max - xs.min) * plot.width(); };
    const auto py = [&](double y) {
        return plot.bottom() - (y - ys.min) / (ys.max - ys.min) * plot.height();
    };

    // Grid, ticks and labels.
    const QPen gridPen(QColor(225, 225, 225), 1);
    const double xStep = tickStep(xs.max - xs.min);
    const double yStep = tickStep(ys.max - ys.min);
    const double firstX = std::ceil(xs.min / xStep - 1e-9) * xStep;
    for (int k = 0; k <= 100; ++k) {
        const double x = firstX + k * xStep;
        if (x > xs.max + xStep * 1e-6)
            break;
        const int left = qRound(px(x));
        painter.setPen(gridPen);
        painter.drawLine(left, plot.top(), left, plot.bottom());
        painter.setPen(Qt::black);
        painter.drawLine(left, plot.bottom(), left, plot.bottom() + 4);
        painter.drawText(QRect(left - 40, plot.bottom() + 5, 80, metrics.height()),
                         Qt::AlignHCenter | Qt::AlignTop, tickLabel(x, xStep));
    }
    const double firstY = std::ceil(ys.min / yStep - 1e-9) * yStep;
    for (int k = 0; k <= 100; ++k) {
        const double y = firstY + k * yStep;
        if (y > ys.max + yStep * 1e-6)
            break;
        const int top = qRound(py(y));
        painter.setPen(gridPen);
        painter.drawLine(plot.left(), top, plot.right(), top);
        painter.setPen(Qt::black);
        painter.drawLine(plot.left() - 4, top, plot.left(), top);
        painter.drawText(QRect(frame.left(), top - metrics.height() / 2, 56, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, tickLabel(y, yStep));
    }
    painter.setPen(Qt::black);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
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
    : QWidget(parent)
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

QImage CurvePlot::toImage(const QSize &size) const
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    paint(painter, image.rect());
    return image;
}

void CurvePlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    paint(painter, rect());
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
