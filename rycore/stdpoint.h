// One point of a calibration curve: known x, measured y, back-calculated z and flags.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef STDPOINT_H
#define STDPOINT_H

#include <limits>

class StdPoint
{
public:
    enum Flag {
        Excluded = 0x1,           // left out of the fit by the user
        OutOfRange = 0x2,         // not invertible, or outside the calibrated range
        RecoveryOutOfLimits = 0x4 // 100·z/x off by more than 15 % (20 % at the lowest level)
    };

    StdPoint() = default;
    StdPoint(const StdPoint &other) = default;
    StdPoint &operator=(const StdPoint &other) = default;

    double x() const { return m_x; }
    void setX(double x) { m_x = x; }
    double y() const { return m_y; }
    void setY(double y) { m_y = y; }
    /*! \brief x back-calculated from y through the curve; NaN where that is not possible. */
    double z() const { return m_z; }
    void setZ(double z) { m_z = z; }
    int flags() const { return m_flags; }
    void setFlags(int flags) { m_flags = flags; }

private:
    double m_x = 0;
    double m_y = 0;
    double m_z = std::numeric_limits<double>::quiet_NaN();
    int m_flags = 0;
};

#endif // STDPOINT_H
