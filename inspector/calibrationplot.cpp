// Plot of one calibration curve: its standard points, its fit over them and the fit it had
// before the upgrade.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationplot.h"

#include "plotaxes.h"
#include "standardcurve.h" // the calibration library's ry::Function, not the core's ryenums.h

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <limits>

namespace {

const QColor PointColour(30, 90, 180);
const QColor FitColour(200, 60, 40);
const QColor BeforeColour(120, 120, 120);
constexpr int Samples = 240;

QString axisTitle(const QString &unit, int function)
{
    const QString shown = unit.isEmpty() ? CalibrationPlot::tr("(no unit)") : unit;
    return function == ry::Log ? CalibrationPlot::tr("%1, log scale").arg(shown) : shown;
}

// The extremes of the values an axis can show: positive ones only on a log axis.
PlotAxes::Axis axisOver(const QVector<StdPoint> &points, bool x, bool log)
{
    double min = std::numeric_limits<double>::infinity();
    double max = -min;
    for (const StdPoint &point : points) {
        const double value = x ? point.x() : point.y();
        if (!std::isfinite(value) || (log && !(value > 0.0)))
            continue;
        min = std::min(min, value);
        max = std::max(max, value);
    }
    if (min > max)
        return PlotAxes::Axis(log ? 1.0 : 0.0, log ? 10.0 : 1.0, log);
    return PlotAxes::Axis(min, max, log);
}

// Two lines on a fit: validity, date and correlation; then method and coefficients.
QStringList fitLines(const StoredCurve &curve)
{
    const QString method = curve.methodStored
        ? curve.methodName()
        : CalibrationPlot::tr("%1 (no method stored)").arg(curve.methodName());
    const QString correlation = curve.correlation.isNull()
        ? QStringLiteral("-")
        : QString::number(curve.correlation.toDouble(), 'f', 4);
    return {CalibrationPlot::tr("%1, dated %2, correlation %3")
                .arg(curve.validityText(), curve.dateText(), correlation),
            curve.fit ? CalibrationPlot::tr("%1: %2").arg(method, curve.coefficientText())
                      : CalibrationPlot::tr("%1: no fit stored (%2)")
                            .arg(method, curve.coefficientText())};
}

} // namespace

CalibrationPlot::CalibrationPlot(QWidget *parent)
    : PlotWidget(parent)
{
    setObjectName(QStringLiteral("calibrationPlot"));
    setAccessibleName(tr("Calibration curve"));
    setMinimumSize(360, 300);
}

void CalibrationPlot::setCurve(const StoredCurve &curve, const StoredCurve *before,
                               const QString &backupName)
{
    m_curve = curve;
    m_hasCurve = true;
    m_hasBefore = before != nullptr;
    m_before = before ? *before : StoredCurve();
    m_backupName = backupName;
    m_message.clear();
    update();
}

void CalibrationPlot::clear(const QString &message)
{
    m_curve = m_before = StoredCurve();
    m_hasCurve = m_hasBefore = false;
    m_message = message;
    update();
}

void CalibrationPlot::paint(QPainter &painter, const QRect &area) const
{
    painter.setPen(Qt::black);
    if (!m_hasCurve) {
        painter.drawText(area, Qt::AlignCenter,
                         m_message.isEmpty() ? tr("No calibration curve selected") : m_message);
        return;
    }
    const QFontMetrics metrics = painter.fontMetrics();
    const int line = metrics.height();

    // Title, then the legend, both above the plot so that they never cover a point.
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    QString title = tr("%1 (curve %2)").arg(m_curve.name).arg(m_curve.id);
    if (!m_curve.lotsNum.isEmpty())
        title += tr(", lot %1").arg(m_curve.lotsNum);
    painter.drawText(QRect(area.left() + 4, area.top(), area.width() - 8, line + 6),
                     Qt::AlignLeft | Qt::AlignVCenter, title);
    painter.restore();

    const bool log[2] = {m_curve.xFun == ry::Log, m_curve.yFun == ry::Log};
    const PlotAxes::Axis xAxis = axisOver(m_curve.points, true, log[0]);
    const PlotAxes::Axis yAxis = axisOver(m_curve.points, false, log[1]);

    const int detailLines = m_hasBefore ? 4 : 2;
    const QRect plot = area.adjusted(68, 2 * line + 18, -16,
                                     -(2 * line + 10 + detailLines * (line + 2) + 6));
    if (plot.width() < 40 || plot.height() < 40)
        return;
    const auto px = [&](double x) { return plot.left() + xAxis.fraction(x) * plot.width(); };
    const auto py = [&](double y) { return plot.bottom() - yAxis.fraction(y) * plot.height(); };

    // The points' legend on the title row; each fit's is its line of details below the plot.
    {
        const QString points = tr("standard points");
        const int width = metrics.horizontalAdvance(points);
        const int left = std::max(area.left() + metrics.horizontalAdvance(title) + 32,
                                  area.right() - 8 - width - 20);
        painter.setPen(QPen(PointColour, 1));
        painter.setBrush(PointColour);
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.drawEllipse(QPointF(left + 6, area.top() + (line + 6) / 2.0), 3.5, 3.5);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(Qt::black);
        painter.drawText(QRect(left + 16, area.top(), width + 4, line + 6),
                         Qt::AlignLeft | Qt::AlignVCenter, points);
    }

    PlotAxes::drawGrid(painter, plot, xAxis, yAxis, area.left(), 60);
    painter.drawText(QRect(plot.left(), plot.bottom() + line + 6, plot.width(), line),
                     Qt::AlignHCenter | Qt::AlignTop, axisTitle(m_curve.xUnit, m_curve.xFun));
    painter.drawText(QRect(area.left() + 4, plot.top() - line - 4, plot.width(), line),
                     Qt::AlignLeft | Qt::AlignVCenter, axisTitle(m_curve.yUnit, m_curve.yFun));

    // The fits, sampled evenly along the axis; a stretch off the plot is cut at its edge. Each
    // tells whether any of it lies on the plot.
    painter.save();
    painter.setClipRect(plot.adjusted(0, -1, 1, 1));
    painter.setRenderHint(QPainter::Antialiasing, true);
    const auto drawFit = [&](const StoredCurve &curve, const QPen &pen) {
        QPainterPath path;
        bool open = false;
        bool onPlot = false;
        for (int i = 0; i <= Samples; ++i) {
            const double x = xAxis.valueAt(double(i) / Samples);
            const double fraction = yAxis.fraction(curve.valueAt(x));
            if (!std::isfinite(fraction)) {
                open = false;
                continue;
            }
            onPlot = onPlot || (fraction >= 0.0 && fraction <= 1.0);
            const QPointF point(px(x), plot.bottom() - qBound(-1.0, fraction, 2.0) * plot.height());
            if (open)
                path.lineTo(point);
            else
                path.moveTo(point);
            open = true;
        }
        painter.setPen(pen);
        painter.drawPath(path);
        return onPlot;
    };
    const bool beforeOffPlot
        = m_hasBefore && m_before.fit && !drawFit(m_before, QPen(BeforeColour, 1.5, Qt::DashLine));
    const bool nowOffPlot = m_curve.fit && !drawFit(m_curve, QPen(FitColour, 2));

    painter.restore();

    // The points on top, whole also on the frame; one left out of the fit is hollow.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const StdPoint &point : m_curve.points) {
        const QPointF at(px(point.x()), py(point.y()));
        if (!std::isfinite(at.x()) || !std::isfinite(at.y()))
            continue;
        const bool excluded = point.flags() & StdPoint::Excluded;
        painter.setPen(QPen(PointColour, 1.2));
        painter.setBrush(excluded ? QBrush(Qt::white) : QBrush(PointColour));
        painter.drawEllipse(at, 3.5, 3.5);
    }
    painter.restore();

    // What the plot cannot say: validity, date, correlation, method and coefficients, each
    // fit's lines led by its line sample. A fit that misses the plot says so.
    int top = plot.bottom() + 2 * line + 14;
    const int indent = 34;
    const auto detail = [&](const QString &text, const QColor &colour, const QPen *sample) {
        if (sample) {
            painter.setPen(*sample);
            painter.drawLine(QPointF(area.left() + 4, top + line / 2.0),
                             QPointF(area.left() + indent - 8, top + line / 2.0));
        }
        painter.setPen(colour);
        const int width = area.width() - indent - 4;
        painter.drawText(QRect(area.left() + indent, top, width, line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(text, Qt::ElideRight, width));
        top += line + 2;
    };
    const QPen fitPen(FitColour, 2);
    const QStringList now = fitLines(m_curve);
    detail((nowOffPlot ? tr("Now (off the plot): %1") : tr("Now: %1")).arg(now.at(0)),
           Qt::black, &fitPen);
    detail(now.at(1), Qt::black, nullptr);
    if (m_hasBefore) {
        const QColor colour = BeforeColour.darker(130);
        const QPen beforePen(BeforeColour, 1.5, Qt::DashLine);
        const QString name
            = (beforeOffPlot ? tr("Before (%1, off the plot)") : tr("Before (%1)"))
                  .arg(m_backupName);
        if (!m_before.fitDiffers(m_curve)) {
            detail(tr("%1: the same fit").arg(name), colour, &beforePen);
        } else {
            const QStringList before = fitLines(m_before);
            detail(tr("%1: %2").arg(name, before.at(0)), colour, &beforePen);
            detail(before.at(1), colour, nullptr);
        }
    }
}
