// Axes of the inspector's plots: ranges, tick steps and tick labels, linear or decimal-log.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PLOTAXES_H
#define PLOTAXES_H

#include <QString>
#include <QVector>

namespace PlotAxes {

/*! \brief Ticks at 1, 2 or 5 times a power of ten, about five over \a range. */
double tickStep(double range);

/*! \brief A range of values to draw, from its lowest to its highest value. */
struct Range
{
    double min = 0.0;
    double max = 1.0;
};

/*! \brief [\a min, \a max] widened to whole tick steps; a single value gets some room. */
Range paddedRange(double min, double max);

/*! \brief \a value with as many decimals as \a step needs. */
QString tickLabel(double value, double step);

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

} // namespace PlotAxes

#endif // PLOTAXES_H
