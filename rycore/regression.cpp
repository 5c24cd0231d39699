// Regression engine of the calibration library: fits, evaluation and inversion in axis space.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "regression_p.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <limits>

namespace Regression {

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr int maxIterations = 500;

bool allFinite(const QVector<double> &values)
{
    return std::all_of(values.cbegin(), values.cend(), [](double x) { return std::isfinite(x); });
}

double mean(const QVector<double> &values)
{
    double sum = 0;
    for (double x : values)
        sum += x;
    return values.isEmpty() ? notANumber : sum / values.size();
}

// log(1 + exp(t)) without overflow.
double softplus(double t)
{
    return t > 0 ? t + std::log1p(std::exp(-t)) : std::log1p(std::exp(t));
}

// exp(t) / (1 + exp(t)) without overflow.
double logisticWeight(double t)
{
    if (t > 0)
        return 1 / (1 + std::exp(-t));
    const double e = std::exp(t);
    return e / (1 + e);
}

// Logistic value and, when asked, its gradient; e is 1 for the four-parameter model.
double logistic(const Eigen::VectorXd &p, double u, Eigen::VectorXd *gradient)
{
    const double a = p[0], b = p[1], c = p[2], d = p[3];
    const double e = p.size() > 4 ? p[4] : 1.0;
    const double t = b * (u - c);
    const double logDenominator = softplus(t);          // log(1 + exp(t))
    const double power = std::exp(-e * logDenominator); // (1 + exp(t))^-e
    if (gradient) {
        // exp(t)·(1 + exp(t))^(-e-1) = weight·power
        const double slope = -(a - d) * e * logisticWeight(t) * power;
        (*gradient)[0] = power;
        (*gradient)[1] = slope * (u - c);
        (*gradient)[2] = -slope * b;
        (*gradient)[3] = 1 - power;
        if (p.size() > 4)
            (*gradient)[4] = -(a - d) * power * logDenominator;
    }
    return d + (a - d) * power;
}

double polynomial(const QVector<double> &coefficients, double u)
{
    double value = 0;
    for (int i = coefficients.size() - 1; i >= 0; --i)
        value = value * u + coefficients[i];
    return value;
}

bool fitPolynomial(int degree, const QVector<double> &u, const QVector<double> &v,
                   QVector<double> *coefficients)
{
    const int rows = u.size(), columns = degree + 1;
    if (rows < columns)
        return false;
    Eigen::MatrixXd design(rows, columns);
    Eigen::VectorXd target(rows);
    for (int i = 0; i < rows; ++i) {
        double power = 1;
        for (int j = 0; j < columns; ++j, power *= u[i])
            design(i, j) = power;
        target[i] = v[i];
    }
    // Equal column norms keep a cubic in raw units as well conditioned as it can be.
    Eigen::VectorXd scale = design.colwise().norm().transpose();
    for (int j = 0; j < columns; ++j) {
        if (!(scale[j] > 0) || !std::isfinite(scale[j]))
            return false;
    }
    design = design * scale.cwiseInverse().asDiagonal();
    Eigen::ColPivHouseholderQR<Eigen::MatrixXd> qr(design);
    qr.setThreshold(1e-12);
    if (qr.rank() < columns)
        return false;
    const Eigen::VectorXd solution = qr.solve(target).cwiseQuotient(scale);
    coefficients->resize(columns);
    for (int j = 0; j < columns; ++j)
        (*coefficients)[j] = solution[j];
    return allFinite(*coefficients);
}

struct LeastSquares
{
    const QVector<double> &u;
    const QVector<double> &v;

    double residuals(const Eigen::VectorXd &p, Eigen::VectorXd &r) const
    {
        r.resize(u.size());
        for (int i = 0; i < u.size(); ++i)
            r[i] = logistic(p, u[i], nullptr) - v[i];
        return r.squaredNorm();
    }

    void jacobian(const Eigen::VectorXd &p, Eigen::MatrixXd &jacobian) const
    {
        jacobian.resize(u.size(), p.size());
        Eigen::VectorXd gradient(p.size());
        for (int i = 0; i < u.size(); ++i) {
            logistic(p, u[i], &gradient);
            jacobian.row(i) = gradient.transpose();
        }
    }
};

// Marquardt's damped Gauss–Newton with bounded iterations; true once it has converged.
bool levenbergMarquardt(const LeastSquares &problem, Eigen::VectorXd &p)
{
    const double vMean = mean(problem.v);
    double total = 0;
    for (double x : problem.v)
        total += (x - vMean) * (x - vMean);
    const double exactFit = 1e-28 * std::max(total, std::numeric_limits<double>::min());

    Eigen::VectorXd r, trialResiduals;
    Eigen::MatrixXd jacobian;
    double sse = problem.residuals(p, r);
    if (!std::isfinite(sse))
        return false;
    double lambda = 1e-3;
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
        if (sse <= exactFit)
            return true;
        problem.jacobian(p, jacobian);
        const Eigen::MatrixXd normal = jacobian.transpose() * jacobian;
        const Eigen::VectorXd gradient = jacobian.transpose() * r;
        if (!normal.allFinite() || !gradient.allFinite())
            return false;
        const double largest = normal.diagonal().maxCoeff();
        const Eigen::VectorXd damping
            = normal.diagonal().cwiseMax(std::max(1e-12 * largest, 1e-300));
        for (;;) {
            Eigen::MatrixXd damped = normal;
            damped.diagonal() += lambda * damping;
            const Eigen::VectorXd step = damped.ldlt().solve(-gradient);
            if (step.allFinite()) {
                const Eigen::VectorXd trial = p + step;
                const double trialSse = problem.residuals(trial, trialResiduals);
                if (std::isfinite(trialSse) && trialSse < sse) {
                    const bool smallReduction = sse - trialSse <= 1e-12 * sse;
                    const bool smallStep = step.norm() <= 1e-10 * (p.norm() + 1e-10);
                    p = trial;
                    r = trialResiduals;
                    sse = trialSse;
                    lambda = std::max(lambda / 10, 1e-15);
                    if (smallReduction || smallStep)
                        return true;
                    break;
                }
            }
            lambda *= 10;
            // Not even a tiny gradient step lowers the sum: a minimum to machine precision.
            if (lambda > 1e16)
                return true;
        }
    }
    return false;
}

// Asymptotes just beyond the data, then b and c from the linearised model
// log((a − d)/(v − d) − 1) = b·(u − c).
bool logisticStart(const QVector<double> &u, const QVector<double> &v, Eigen::VectorXd &p)
{
    const auto [lowest, highest] = std::minmax_element(u.cbegin(), u.cend());
    const auto [vMin, vMax] = std::minmax_element(v.cbegin(), v.cend());
    const double range = *vMax - *vMin;
    if (!(range > 0) || !(*highest > *lowest))
        return false;
    double left = 0, right = 0;
    int leftCount = 0, rightCount = 0;
    for (int i = 0; i < u.size(); ++i) {
        if (u[i] == *lowest) {
            left += v[i];
            ++leftCount;
        }
        if (u[i] == *highest) {
            right += v[i];
            ++rightCount;
        }
    }
    left /= leftCount;
    right /= rightCount;
    if (left == right)
        return false;
    const bool increasing = right > left;
    const double margin = 0.05 * range;
    const double a = increasing ? *vMin - margin : *vMax + margin;
    const double d = increasing ? *vMax + margin : *vMin - margin;

    QVector<double> w(v.size());
    for (int i = 0; i < v.size(); ++i)
        w[i] = std::log((a - d) / (v[i] - d) - 1);
    QVector<double> line;
    if (!fitPolynomial(1, u, w, &line) || line[1] == 0)
        return false;
    p.resize(4);
    p << a, line[1], -line[0] / line[1], d;
    return p.allFinite();
}

bool fitLogistic(bool fiveParameters, const QVector<double> &u, const QVector<double> &v,
                 QVector<double> *coefficients)
{
    const int parameters = fiveParameters ? 5 : 4;
    if (u.size() < parameters)
        return false;
    Eigen::VectorXd p;
    if (!logisticStart(u, v, p))
        return false;
    const LeastSquares problem {u, v};
    bool converged = levenbergMarquardt(problem, p);
    if (fiveParameters) {
        // The symmetric fit is the natural start for the asymmetry e.
        Eigen::VectorXd p5(5);
        p5 << p, 1.0;
        p = p5;
        converged = levenbergMarquardt(problem, p);
    }
    coefficients->resize(parameters);
    for (int i = 0; i < parameters; ++i)
        (*coefficients)[i] = p[i];
    return converged && allFinite(*coefficients);
}

} // namespace

double Model::value(double u) const
{
    switch (method) {
    case ry::LinearFit:
    case ry::Quadratic:
    case ry::Cubic:
        if (coefficients.size() < ry::coefficientCount(method))
            return notANumber;
        return polynomial(coefficients.mid(0, ry::coefficientCount(method)), u);
    case ry::Logistic4P:
    case ry::Logistic5P: {
        const int count = ry::coefficientCount(method);
        if (coefficients.size() < count)
            return notANumber;
        Eigen::VectorXd p(count);
        for (int i = 0; i < count; ++i)
            p[i] = coefficients[i];
        return logistic(p, u, nullptr);
    }
    case ry::PointToPoint: {
        const int n = knotU.size();
        if (n == 0)
            return notANumber;
        if (n == 1)
            return knotV[0];
        // Interpolate inside, extend the end segments outside.
        int segment = int(std::upper_bound(knotU.cbegin(), knotU.cend(), u) - knotU.cbegin()) - 1;
        segment = std::clamp(segment, 0, n - 2);
        const double fraction = (u - knotU[segment]) / (knotU[segment + 1] - knotU[segment]);
        return knotV[segment] + fraction * (knotV[segment + 1] - knotV[segment]);
    }
    }
    return notANumber;
}

bool Model::isMonotonic(double lo, double hi) const
{
    if (!(lo < hi))
        return false;
    const double start = value(lo), end = value(hi);
    if (!std::isfinite(start) || !std::isfinite(end) || start == end)
        return false;
    // Where the derivative changes sign strictly inside the range, the curve turns.
    auto turnsAt = [lo, hi](double u) { return u > lo && u < hi; };
    const QVector<double> &k = coefficients;
    switch (method) {
    case ry::LinearFit:
        return true;
    case ry::Quadratic:
        return k[2] == 0 || !turnsAt(-k[1] / (2 * k[2]));
    case ry::Cubic: {
        // v' = b + 2c·u + 3d·u²
        if (k[3] == 0)
            return k[2] == 0 || !turnsAt(-k[1] / (2 * k[2]));
        const double discriminant = 4 * k[2] * k[2] - 12 * k[3] * k[1];
        if (discriminant <= 0)
            return true;
        const double root = std::sqrt(discriminant);
        return !turnsAt((-2 * k[2] - root) / (6 * k[3]))
            && !turnsAt((-2 * k[2] + root) / (6 * k[3]));
    }
    case ry::Logistic4P:
        return k[1] != 0;
    case ry::Logistic5P:
        return k[1] != 0 && k[4] > 0;
    case ry::PointToPoint: {
        const bool increasing = knotV.last() > knotV.first();
        for (int i = 1; i < knotV.size(); ++i) {
            if (increasing ? !(knotV[i] > knotV[i - 1]) : !(knotV[i] < knotV[i - 1]))
                return false;
        }
        return true;
    }
    }
    return false;
}

double Model::inverse(double v, double lo, double hi) const
{
    if (!std::isfinite(v))
        return notANumber;
    // Monotonic models have a closed-form inverse that holds beyond the calibrated range too.
    const int count = ry::coefficientCount(method);
    if (coefficients.size() >= count && allFinite(coefficients.mid(0, count))) {
        const QVector<double> &k = coefficients;
        if (method == ry::LinearFit)
            return k[1] != 0 ? (v - k[0]) / k[1] : notANumber;
        if (method == ry::Logistic4P || method == ry::Logistic5P) {
            const double e = method == ry::Logistic5P ? k[4] : 1.0;
            const double ratio = (k[0] - k[3]) / (v - k[3]);
            if (!(ratio > 0) || !(e > 0) || k[1] == 0)
                return notANumber;
            const double u = k[2] + std::log(std::pow(ratio, 1 / e) - 1) / k[1];
            return std::isfinite(u) ? u : notANumber;
        }
    }
    const double span = hi - lo;
    if (!(span > 0))
        return notANumber;
    auto search = [this, v](double from, double to) {
        constexpr int steps = 64;
        double left = from, leftValue = value(from) - v;
        for (int i = 1; i <= steps; ++i) {
            const double right = from + (to - from) * i / steps;
            const double rightValue = value(right) - v;
            if (leftValue == 0)
                return left;
            if (std::isfinite(leftValue) && std::isfinite(rightValue)
                && (leftValue < 0) != (rightValue < 0)) {
                double a = left, b = right, fa = leftValue;
                for (int j = 0; j < 200; ++j) {
                    const double middle = a + (b - a) / 2;
                    if (middle == a || middle == b)
                        break;
                    const double fm = value(middle) - v;
                    if (fm == 0)
                        return middle;
                    if ((fm < 0) == (fa < 0)) {
                        a = middle;
                        fa = fm;
                    } else {
                        b = middle;
                    }
                }
                return a + (b - a) / 2;
            }
            left = right;
            leftValue = rightValue;
        }
        return leftValue == 0 ? left : notANumber;
    };
    for (auto [from, to] :
         {std::pair(lo, hi), std::pair(lo - span, lo), std::pair(hi, hi + span)}) {
        const double u = search(from, to);
        if (std::isfinite(u))
            return u;
    }
    return notANumber;
}

Model pointToPoint(const QVector<double> &u, const QVector<double> &v)
{
    QVector<int> order(u.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&u](int l, int r) { return u[l] < u[r]; });
    Model model;
    model.method = ry::PointToPoint;
    for (int i = 0; i < order.size();) {
        const double level = u[order[i]];
        double sum = 0;
        int count = 0;
        for (; i < order.size() && u[order[i]] == level; ++i, ++count)
            sum += v[order[i]];
        model.knotU.append(level);
        model.knotV.append(sum / count);
    }
    return model;
}

Fit fit(ry::RegressionMethod method, const QVector<double> &u, const QVector<double> &v)
{
    Fit result;
    result.model.method = method;
    switch (method) {
    case ry::LinearFit:
    case ry::Quadratic:
    case ry::Cubic:
        result.converged
            = fitPolynomial(ry::coefficientCount(method) - 1, u, v, &result.model.coefficients);
        break;
    case ry::Logistic4P:
    case ry::Logistic5P:
        result.converged = fitLogistic(method == ry::Logistic5P, u, v, &result.model.coefficients);
        break;
    case ry::PointToPoint:
        result.model = pointToPoint(u, v);
        result.converged = result.model.knotU.size() >= 2;
        break;
    }
    return result;
}

double correlation(const Model &model, const QVector<double> &u, const QVector<double> &v)
{
    if (u.size() < 2)
        return 0;
    const double uMean = mean(u), vMean = mean(v);
    double sxy = 0, sxx = 0, syy = 0, sse = 0;
    for (int i = 0; i < u.size(); ++i) {
        sxy += (u[i] - uMean) * (v[i] - vMean);
        sxx += (u[i] - uMean) * (u[i] - uMean);
        syy += (v[i] - vMean) * (v[i] - vMean);
        const double residual = v[i] - model.value(u[i]);
        sse += residual * residual;
    }
    if (!(sxx > 0) || !(syy > 0))
        return 0;
    if (model.method == ry::LinearFit)
        return sxy / std::sqrt(sxx * syy);
    const auto [lowest, highest] = std::minmax_element(u.cbegin(), u.cend());
    const double r = std::sqrt(std::max(0.0, 1 - sse / syy));
    const double rise = model.value(*highest) - model.value(*lowest);
    return std::isfinite(r) && std::isfinite(rise) ? (rise < 0 ? -r : r) : 0;
}

} // namespace Regression
