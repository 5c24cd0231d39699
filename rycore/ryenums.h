// Enumerations of the calibration library: axis functions and regression methods.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RYENUMS_H
#define RYENUMS_H

#include <QString>

namespace ry {

// Stored as integers in the databases, so every int must be a valid value: fixed underlying type.
enum Function : int {
    Linear = 0, // u = x
    Log = 1     // u = log10 x, defined for x > 0
};

enum RegressionMethod : int {
    LinearFit = 0,    // v = a + b·u
    Quadratic = 1,    // v = a + b·u + c·u²
    Cubic = 2,        // v = a + b·u + c·u² + d·u³
    PointToPoint = 3, // piecewise linear through the mean of each level
    Logistic4P = 4,   // v = d + (a − d) / (1 + exp(b·(u − c)))
    Logistic5P = 5    // v = d + (a − d) / (1 + exp(b·(u − c)))^e
};

/*! \brief Number of coefficients of \a method; 0 for point-to-point and unknown methods. */
int coefficientCount(RegressionMethod method);

bool isKnown(Function function);
bool isKnown(RegressionMethod method);

/*! \brief The function named "Linear" or "Log" (case and surrounding blanks ignored); Linear
    for an empty or unknown name. */
Function functionFromName(const QString &name);

/*! \brief Maps a value onto the axis of \a function; NaN outside its domain. */
double toAxis(Function function, double value);
/*! \brief Maps an axis position back to a value; NaN where \a function is unknown. */
double fromAxis(Function function, double axisValue);

} // namespace ry

#endif // RYENUMS_H
