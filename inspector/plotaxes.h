// Axes of the inspector's plots: ranges, tick steps and tick labels, linear or decimal-log.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PLOTAXES_H
#define PLOTAXES_H

#include <QString>
#include <QVector>

class QPainter;
class QRect;

namespace PlotAxes {

/*! \brief A range of values to draw, from its lowest to its highest value. */
struct Range
{
    double min = 0.0;
    double max = 1.0;
};

/*! \brief One axis, linear or decimal-log, mapping values onto [\a from, \a to] pixels. */
class Axis
{
public:
    /*! \brief \a min and \a max are the extremes of the data (positive ones only on a log
        axis); the axis widens them to whole ticks. */
    Axis(double min, double max, bool log);

    bool isLog() const { return m_log; }
    double min() const { return m_range.min; }
    double max() const { return m_range.max; }
    /*! \brief Where \a value lies, 0 at min() and 1 at max(); NaN off a log axis's domain. */
    double fraction(double value) const;
    /*! \brief The value at \a fraction of the axis. */
    double valueAt(double fraction) const;
    /*! \brief The values with a tick, and their labels. */
    QVector<double> ticks() const;
    QString label(double tick) const;

private:
    bool m_log;
    Range m_range; // on a log axis: of the decimal logarithms
};

/*! \brief Grid lines, ticks and tick labels of \a x and \a y over \a plot, and its two axis
    lines; the y labels right-aligned in the \a yLabelWidth pixels from \a yLabelLeft. */
void drawGrid(QPainter &painter, const QRect &plot, const Axis &x, const Axis &y, int yLabelLeft,
              int yLabelWidth);

} // namespace PlotAxes

#endif // PLOTAXES_H
