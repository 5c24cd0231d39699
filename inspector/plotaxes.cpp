// Axes of the inspector's plots: ranges, tick steps and tick labels, linear or decimal-log.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "plotaxes.h"

#include <QPainter>

#include <cmath>
#include <limits>

namespace PlotAxes {

namespace {

// Ticks at 1, 2 or 5 times a power of ten, about five over the range.
double tickStep(double range)
{
    if (!(range > 0.0) || !std::isfinite(range))
        return 1.0;
    const double raw = range / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (raw <= factor * magnitude)
            return factor * magnitude;
    }
    return 10.0 * magnitude;
}

// [min, max] widened to whole tick steps; a single value gets some room.
Range paddedRange(double min, double max)
{
    if (!std::isfinite(min) || !std::isfinite(max) || min > max)
        return {};
    if (max - min < 1e-9) {
        const double pad = std::abs(min) > 1e-9 ? std::abs(min) * 0.05 : 0.5;
        return {min - pad, max + pad};
    }
    const double step = tickStep(max - min);
    return {std::floor(min / step) * step, std::ceil(max / step) * step};
}

// The value with as many decimals as the step needs.
QString tickLabel(double value, double step)
{
    const int decimals = step >= 1.0 ? 0 : int(std::ceil(-std::log10(step)));
    // "-0" would be a rounding artefact of the tick sum.
    return QString::number(std::abs(value) < step * 1e-6 ? 0.0 : value, 'f', decimals);
}

// 1, 2 and 5 times each power of ten: the values a log axis marks.
const double LogSteps[] = {1.0, 2.0, 5.0};

double logFloor(double value)
{
    const double decade = std::floor(value);
    double best = decade;
    for (double step : LogSteps) {
        const double candidate = decade + std::log10(step);
        if (candidate <= value + 1e-9)
            best = candidate;
    }
    return best;
}

double logCeil(double value)
{
    const double decade = std::floor(value);
    for (double step : LogSteps) {
        const double candidate = decade + std::log10(step);
        if (candidate >= value - 1e-9)
            return candidate;
    }
    return decade + 1.0;
}

} // namespace

Axis::Axis(double min, double max, bool log)
    : m_log(log)
{
    if (!log) {
        m_range = paddedRange(min, max);
        return;
    }
    if (!(min > 0.0) || !(max >= min) || !std::isfinite(max)) {
        m_range = {0.0, 1.0};
        return;
    }
    m_range = {logFloor(std::log10(min)), logCeil(std::log10(max))};
    if (m_range.max - m_range.min < 1e-9)
        m_range = {m_range.min - std::log10(2.0), m_range.max + std::log10(2.0)};
}

double Axis::fraction(double value) const
{
    double at = value;
    if (m_log)
        at = value > 0.0 ? std::log10(value) : std::numeric_limits<double>::quiet_NaN();
    return (at - m_range.min) / (m_range.max - m_range.min);
}

double Axis::valueAt(double fraction) const
{
    const double at = m_range.min + fraction * (m_range.max - m_range.min);
    return m_log ? std::pow(10.0, at) : at;
}

QVector<double> Axis::ticks() const
{
    QVector<double> result;
    if (!m_log) {
        const double step = tickStep(m_range.max - m_range.min);
        const double first = std::ceil(m_range.min / step - 1e-9) * step;
        for (int k = 0; k <= 100; ++k) {
            const double value = first + k * step;
            if (value > m_range.max + step * 1e-6)
                break;
            result.append(value);
        }
        return result;
    }
    // Over many decades the decades alone, else 1, 2 and 5 of each.
    const bool decadesOnly = m_range.max - m_range.min > 3.0;
    for (double decade = std::floor(m_range.min); decade <= m_range.max + 1e-9; decade += 1.0) {
        for (double step : LogSteps) {
            if (decadesOnly && step != 1.0)
                continue;
            const double at = decade + std::log10(step);
            if (at >= m_range.min - 1e-9 && at <= m_range.max + 1e-9)
                result.append(std::pow(10.0, at));
        }
    }
    return result;
}

QString Axis::label(double tick) const
{
    if (!m_log)
        return tickLabel(tick, tickStep(m_range.max - m_range.min));
    return QString::number(tick, 'g', 6);
}

void drawGrid(QPainter &painter, const QRect &plot, const Axis &x, const Axis &y, int yLabelLeft,
              int yLabelWidth)
{
    const int line = painter.fontMetrics().height();
    const QPen gridPen(QColor(225, 225, 225), 1);
    for (double tick : x.ticks()) {
        const int left = qRound(plot.left() + x.fraction(tick) * plot.width());
        painter.setPen(gridPen);
        painter.drawLine(left, plot.top(), left, plot.bottom());
        painter.setPen(Qt::black);
        painter.drawLine(left, plot.bottom(), left, plot.bottom() + 4);
        painter.drawText(QRect(left - 40, plot.bottom() + 5, 80, line),
                         Qt::AlignHCenter | Qt::AlignTop, x.label(tick));
    }
    for (double tick : y.ticks()) {
        const int top = qRound(plot.bottom() - y.fraction(tick) * plot.height());
        painter.setPen(gridPen);
        painter.drawLine(plot.left(), top, plot.right(), top);
        painter.setPen(Qt::black);
        painter.drawLine(plot.left() - 4, top, plot.left(), top);
        painter.drawText(QRect(yLabelLeft, top - line / 2, yLabelWidth, line),
                         Qt::AlignRight | Qt::AlignVCenter, y.label(tick));
    }
    painter.setPen(Qt::black);
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    painter.drawLine(plot.bottomLeft(), plot.topLeft());
}

} // namespace PlotAxes
