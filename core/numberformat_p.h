// Bounds for the precision of decimal number texts (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef NUMBERFORMAT_P_H
#define NUMBERFORMAT_P_H

#include <QtGlobal>

#include <cmath>

namespace CorePrivate {

/*!
    \a precision bounded to the digits a double can show: 17 significant digits, or for 'f' as many
    decimals as 17 significant digits of \a value need (17 at least). Qt's formatting aborts on
    precisions near the int maximum and builds huge texts below it; more digits show nothing.
*/
inline int boundedPrecision(double value, char format, int precision)
{
    const int significant = 17;
    int limit = significant;
    if (format == 'f' && std::isfinite(value) && value != 0.0) {
        const int exponent = int(std::floor(std::log10(std::fabs(value))));
        limit = qMax(significant, significant - 1 - exponent);
    }
    return qMin(precision, limit);
}

} // namespace CorePrivate

#endif // NUMBERFORMAT_P_H
