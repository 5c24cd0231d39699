// Enumerations of the calibration library: axis functions and regression methods.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "ryenums.h"

#include <cmath>
#include <limits>

namespace ry {

int coefficientCount(RegressionMethod method)
{
    switch (method) {
    case LinearFit:
        return 2;
    case Quadratic:
        return 3;
    case Cubic:
    case Logistic4P:
        return 4;
    case Logistic5P:
        return 5;
    case PointToPoint:
        break;
    }
    return 0;
}

bool isKnown(Function function)
{
    return function == Linear || function == Log;
}

bool isKnown(RegressionMethod method)
{
    return method >= LinearFit && method <= Logistic5P;
}

Function functionFromName(const QString &name)
{
    return name.trimmed().compare(QLatin1String("Log"), Qt::CaseInsensitive) == 0 ? Log : Linear;
}

double toAxis(Function function, double value)
{
    switch (function) {
    case Linear:
        return value;
    case Log:
        return value > 0 ? std::log10(value) : std::numeric_limits<double>::quiet_NaN();
    }
    return std::numeric_limits<double>::quiet_NaN();
}

double fromAxis(Function function, double axisValue)
{
    switch (function) {
    case Linear:
        return axisValue;
    case Log:
        return std::pow(10.0, axisValue);
    }
    return std::numeric_limits<double>::quiet_NaN();
}

} // namespace ry
