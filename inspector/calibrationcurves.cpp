// The calibration curves stored in a profile.db, read as they are, and their fits evaluated by
// the calibration library.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationcurves.h"

// The calibration library's enumerations come through its own header: the core library has a
// ryenums.h of its own, which comes first on this target's include path.
#include "standardcurve.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <cmath>
#include <limits>

namespace {

const char *const CurveColumns[] = {"id",   "name", "xunit", "yunit", "correlation",
                                    "date", "xFun", "yFun",  "valid", "lotsNum",
                                    "a",    "b",    "c",     "d",     "e"};
constexpr int FirstCoefficientColumn = 10;

QString tr(const char *text)
{
    return QCoreApplication::translate("CalibrationCurves", text);
}

// The columns of \a table that exist, each else as NULL, so every schema reads alike.
QString selectList(const QSqlDatabase &db, const QString &table, const char *const *columns,
                   int count)
{
    const QSqlRecord record = db.record(table);
    QStringList list;
    for (int i = 0; i < count; ++i) {
        const QString column = QLatin1String(columns[i]);
        list << (record.contains(column) ? column : QStringLiteral("NULL"));
    }
    return list.join(QStringLiteral(", "));
}

std::shared_ptr<const StandardCurve> makeFit(const StoredCurve &curve)
{
    const auto method = ry::RegressionMethod(curve.method);
    if (!ry::isKnown(method) || !ry::isKnown(ry::Function(curve.xFun))
        || !ry::isKnown(ry::Function(curve.yFun)))
        return nullptr;
    const int count = ry::coefficientCount(method);
    QVector<double> coefficients;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        const double value = curve.coefficients.value(i).toDouble(&ok);
        if (curve.coefficients.value(i).isNull() || !ok || !std::isfinite(value))
            return nullptr;
        coefficients << value;
    }
    auto fit = std::make_shared<StandardCurve>();
    fit->setXFun(ry::Function(curve.xFun));
    fit->setYFun(ry::Function(curve.yFun));
    fit->setMethod(method);
    fit->setPoints(curve.points);
    fit->setCoefficient(coefficients);
    return fit;
}

QVector<StoredCurve> read(const QSqlDatabase &db, QString *error)
{
    const auto failed = [&](const QSqlQuery &query) {
        *error = tr("%1: %2").arg(query.lastQuery(), query.lastError().text());
        return QVector<StoredCurve>();
    };
    const QStringList tables = db.tables();
    if (!tables.contains(QStringLiteral("curve")))
        return {};

    // A curve takes the method of the first calibration of its name, as the refit does.
    QHash<QString, QVariant> methods;
    if (tables.contains(QStringLiteral("assayCalibration"))
        && db.record(QStringLiteral("assayCalibration")).contains(QStringLiteral("method"))) {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("select name, method from assayCalibration order by rowid")))
            return failed(query);
        while (query.next()) {
            if (!methods.contains(query.value(0).toString()))
                methods.insert(query.value(0).toString(), query.value(1));
        }
    }

    QHash<int, QVector<StdPoint>> points;
    if (tables.contains(QStringLiteral("curvePoint"))) {
        const char *const columns[] = {"curveId", "x", "y", "z", "flags"};
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("select %1 from curvePoint order by rowid")
                            .arg(selectList(db, QStringLiteral("curvePoint"), columns, 5))))
            return failed(query);
        while (query.next()) {
            StdPoint point;
            point.setX(query.value(1).toDouble());
            point.setY(query.value(2).toDouble());
            point.setZ(query.value(3).isNull() ? std::numeric_limits<double>::quiet_NaN()
                                               : query.value(3).toDouble());
            point.setFlags(query.value(4).toInt());
            points[query.value(0).toInt()].append(point);
        }
    }

    QVector<StoredCurve> result;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("select %1 from curve order by id")
                        .arg(selectList(db, QStringLiteral("curve"), CurveColumns,
                                        int(std::size(CurveColumns))))))
        return failed(query);
    while (query.next()) {
        StoredCurve curve;
        curve.id = query.value(0).toInt();
        curve.name = query.value(1).toString();
        curve.xUnit = query.value(2).toString();
        curve.yUnit = query.value(3).toString();
        if (!query.value(4).isNull())
            curve.correlation = query.value(4).toDouble();
        curve.date = query.value(5).toString();
        curve.xFun = query.value(6).toInt();
        curve.yFun = query.value(7).toInt();
        if (!query.value(8).isNull())
            curve.valid = query.value(8).toInt();
        curve.lotsNum = query.value(9).toString();
        for (int i = 0; i < 5; ++i) {
            const QVariant value = query.value(FirstCoefficientColumn + i);
            curve.coefficients << (value.isNull() ? QVariant() : QVariant(value.toDouble()));
        }
        const QVariant method = methods.value(curve.name);
        curve.methodStored = !method.isNull() && method.isValid();
        curve.method = curve.methodStored ? method.toInt() : int(ry::LinearFit);
        curve.points = points.value(curve.id);
        curve.fit = makeFit(curve);
        result << curve;
    }
    return result;
}

} // namespace

double StoredCurve::valueAt(double x) const
{
    return fit ? fit->valueAt(x) : std::numeric_limits<double>::quiet_NaN();
}

bool StoredCurve::fitDiffers(const StoredCurve &other) const
{
    return method != other.method || xFun != other.xFun || yFun != other.yFun
        || coefficients != other.coefficients || valid != other.valid;
}

QString StoredCurve::methodName() const
{
    switch (method) {
    case ry::LinearFit:
        return tr("linear fit");
    case ry::Quadratic:
        return tr("quadratic fit");
    case ry::Cubic:
        return tr("cubic fit");
    case ry::PointToPoint:
        return tr("point to point");
    case ry::Logistic4P:
        return tr("4-parameter logistic");
    case ry::Logistic5P:
        return tr("5-parameter logistic");
    }
    return tr("method %1 (unknown)").arg(method);
}

QString StoredCurve::coefficientText() const
{
    const int count = ry::coefficientCount(ry::RegressionMethod(method));
    QStringList parts;
    for (int i = 0; i < count; ++i) {
        const QVariant value = coefficients.value(i);
        parts << QStringLiteral("%1 %2").arg(QChar('a' + i),
                                             value.isNull() ? QStringLiteral("-")
                                                            : QString::number(value.toDouble(),
                                                                              'g', 6));
    }
    return parts.join(QStringLiteral(", "));
}

QString StoredCurve::dateText() const
{
    if (date.isEmpty())
        return QStringLiteral("-");
    return date == QDate::currentDate().toString(Qt::ISODate) ? tr("today") : date;
}

QString StoredCurve::validityText() const
{
    if (valid.isNull())
        return tr("not marked");
    return valid.toInt() == 1 ? tr("valid") : tr("not valid");
}

QVector<StoredCurve> readStoredCurves(const QString &fileName, QString *error)
{
    error->clear();
    if (!QFileInfo(fileName).isFile()) {
        *error = tr("%1 does not exist.").arg(fileName);
        return {};
    }
    static std::atomic<int> serial {0};
    const QString connection = QStringLiteral("calibration-curves-%1").arg(++serial);
    QVector<StoredCurve> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open())
            result = read(db, error);
        else
            *error = tr("%1 cannot be opened: %2").arg(fileName, db.lastError().text());
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return result;
}
