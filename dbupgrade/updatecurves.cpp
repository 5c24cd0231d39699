// UpdateProfile's data migrations: variable values from the curves, and the refit of stored curves.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "assaytemplate.h"
#include "ryenums.h"
#include "standardcurve.h"
#include "stdpoint.h"

#include "updateprofile.h"

#include <QDate>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <QVector>
#include <QtDebug>

#include <algorithm>

// Debug lines lead with the call site, in the form of the SQL error lines.
#define LOG_DEBUG() logDebug(__FILE__, __LINE__)

namespace {

QDebug logDebug(const char *file, int line)
{
    QDebug debug = qDebug().noquote().nospace();
    debug << UpdateBase::sourceName(file) << '(' << line << "): ";
    return debug.quote();
}

// A transaction of our own, rolled back unless committed. Inside a caller's transaction the
// begin fails and the statements simply join that one.
class Transaction
{
public:
    Transaction() { m_own = QSqlQuery().exec(QStringLiteral("begin")); }
    ~Transaction()
    {
        if (m_own)
            QSqlQuery().exec(QStringLiteral("rollback"));
    }
    bool commit()
    {
        if (!m_own)
            return true;
        QSqlQuery query;
        if (query.exec(QStringLiteral("commit"))) {
            m_own = false;
            return true;
        }
        LOG_SQL_ERROR(query);
        return false;
    }

private:
    Q_DISABLE_COPY(Transaction)
    bool m_own = false;
};

} // namespace

bool UpdateProfile::updateVariables()
{
    QSqlQuery count;
    if (!count.exec(QStringLiteral("select count(*) from variable where value notnull"))) {
        LOG_SQL_ERROR(count);
        return false;
    }
    // Carried over once only: any value means a user or an earlier run has set them.
    if (count.next() && count.value(0).toInt() >= 1)
        return true;
    count.finish();

    // All or nothing: after a partial carry-over the count above would keep every later run
    // from completing it.
    Transaction transaction;
    QSqlQuery variables;
    variables.setForwardOnly(true);
    if (!variables.exec(QStringLiteral("select id, assayTemplateId, name, value from variable"))) {
        LOG_SQL_ERROR(variables);
        return false;
    }
    QSqlQuery lookup;
    if (!lookup.prepare(QStringLiteral(
            "select curveVariable.value from curveVariable, curve, assayCalibration where "
            "curveVariable.name=:name and curveId=curve.id       and "
            "curve.name=assayCalibration.name       and "
            "assayCalibration.assayTemplateId=:assayTemplateId"))) {
        LOG_SQL_ERROR(lookup);
        return false;
    }
    QSqlQuery write;
    if (!write.prepare(QStringLiteral("update variable set value=:value where id=:id"))) {
        LOG_SQL_ERROR(write);
        return false;
    }

    while (variables.next()) {
        lookup.bindValue(QStringLiteral(":name"), variables.value(2));
        lookup.bindValue(QStringLiteral(":assayTemplateId"), variables.value(1));
        if (!lookup.exec()) {
            LOG_SQL_ERROR(lookup);
            return false;
        }
        const bool found = lookup.next();
        const QVariant value = found ? lookup.value(0) : QVariant();
        lookup.finish();
        if (!found)
            continue;

        write.bindValue(QStringLiteral(":id"), variables.value(0));
        write.bindValue(QStringLiteral(":value"), value);
        if (!write.exec()) {
            LOG_SQL_ERROR(write);
            return false;
        }
    }
    variables.finish();
    return transaction.commit();
}

bool UpdateProfile::updateCurves()
{
    QSqlQuery curves;
    curves.setForwardOnly(true);
    if (!curves.exec(QStringLiteral("select id, name, xunit, yunit, correlation, date, xFun, yFun, "
                                    "a, b, c, d, e, valid, lotsNum from curve "))) {
        LOG_SQL_ERROR(curves);
        return false;
    }

    QSqlQuery calibrationQuery;
    if (!calibrationQuery.prepare(
            QStringLiteral("select id, name, method, condition, caliX, caliY, funX, funY, dispX, "
                           "dispY from assayCalibration where name = :name"))) {
        LOG_SQL_ERROR(calibrationQuery);
        return false;
    }
    QSqlQuery pointQuery;
    if (!pointQuery.prepare(QStringLiteral(
            "select rowid, x, y, z, flags from curvePoint where curveId = :curveId"))) {
        LOG_SQL_ERROR(pointQuery);
        return false;
    }
    QSqlQuery curveUpdate;
    if (!curveUpdate.prepare(QStringLiteral(
            "update curve set correlation = :correlation, date = :date, a = :a, b = :b, c = :c, "
            "d = :d, e = :e, valid = :valid where id = :id"))) {
        LOG_SQL_ERROR(curveUpdate);
        return false;
    }
    QSqlQuery pointUpdate;
    if (!pointUpdate.prepare(
            QStringLiteral("update curvePoint set z = :z, flags = :flags where rowid = :rowid"))) {
        LOG_SQL_ERROR(pointUpdate);
        return false;
    }

    // The rows are read first, so no scan of curve is pending while its rows are written.
    QVector<QSqlRecord> rows;
    while (curves.next())
        rows.append(curves.record());
    curves.finish();

    static const char *const coefficientColumns[] = {"a", "b", "c", "d", "e"};
    static const char *const coefficientNames[] = {":a", ":b", ":c", ":d", ":e"};
    const QDate today = QDate::currentDate();

    for (const QSqlRecord &row : qAsConst(rows)) {
        const QString name = row.value(QStringLiteral("name")).toString();
        calibrationQuery.bindValue(QStringLiteral(":name"), row.value(QStringLiteral("name")));
        if (!calibrationQuery.exec()) {
            LOG_SQL_ERROR(calibrationQuery);
            return false;
        }
        if (!calibrationQuery.next()) {
            LOG_DEBUG() << "No calibration named " << name;
            continue;
        }
        AssayTemplate::Calibration calibration;
        calibration.assayTemplateId = 0;
        calibration.id = calibrationQuery.value(0).toInt();
        calibration.name = calibrationQuery.value(1).toString();
        calibration.method = calibrationQuery.value(2).toInt();
        calibration.condition = calibrationQuery.value(3).toString();
        calibration.caliX = calibrationQuery.value(4).toString();
        calibration.caliY = calibrationQuery.value(5).toString();
        calibration.funX = calibrationQuery.value(6).toString();
        calibration.funY = calibrationQuery.value(7).toString();
        calibration.dispX = calibrationQuery.value(8).toString();
        calibration.dispY = calibrationQuery.value(9).toString();
        calibrationQuery.finish();

        StandardCurve curve(nullptr);
        curve.setId(row.value(QStringLiteral("id")).toInt());
        curve.setName(name);
        curve.setXUnit(row.value(QStringLiteral("xunit")).toString());
        curve.setYUnit(row.value(QStringLiteral("yunit")).toString());
        curve.setLotsNum(row.value(QStringLiteral("lotsNum")).toString());
        curve.setCorrelation(row.value(QStringLiteral("correlation")).toDouble());
        curve.setDate(row.value(QStringLiteral("date")).toDate());
        curve.setXFun(ry::Function(row.value(QStringLiteral("xFun")).toInt()));
        curve.setYFun(ry::Function(row.value(QStringLiteral("yFun")).toInt()));
        curve.setXDispFun(calibration.dispFunX());
        curve.setYDispFun(calibration.dispFunY());
        curve.setMethod(ry::RegressionMethod(calibration.method));

        pointQuery.bindValue(QStringLiteral(":curveId"), row.value(QStringLiteral("id")));
        if (!pointQuery.exec()) {
            LOG_SQL_ERROR(pointQuery);
            return false;
        }
        QVector<StdPoint> points;
        QVector<QVariant> rowIds;
        while (pointQuery.next()) {
            rowIds.append(pointQuery.value(0));
            StdPoint point;
            point.setX(pointQuery.value(1).toDouble());
            point.setY(pointQuery.value(2).toDouble());
            point.setZ(pointQuery.value(3).toDouble());
            point.setFlags(pointQuery.value(4).toInt());
            points.append(point);
        }
        pointQuery.finish();
        curve.setPoints(points);

        // Methods without coefficients of their own still get the five stored ones.
        int count = std::min(5, curve.coefficientCount());
        if (count < 2)
            count = 5;
        QVector<double> coefficients(count);
        for (int i = 0; i < count; ++i)
            coefficients[i] = row.value(QLatin1String(coefficientColumns[i])).toDouble();
        curve.setCoefficient(coefficients);
        curve.setValid(row.value(QStringLiteral("valid")).toBool());

        if (curve.isValid())
            continue;

        curve.update();
        if (!curve.isValid()) {
            LOG_DEBUG() << "Invalid curve: name = " << curve.name() << " id = " << curve.id();
            // Marked invalid by an earlier refit already: writing it again would change only
            // its date, and would make every run write a database that is current.
            if (!row.value(QStringLiteral("valid")).isNull())
                continue;
        }

        // The curve row and its points are written together: a curve marked valid with its
        // points left stale would never be refitted again.
        Transaction transaction;
        curveUpdate.bindValue(QStringLiteral(":correlation"), curve.correlation());
        curveUpdate.bindValue(QStringLiteral(":date"), today);
        for (int i = 0; i < 5; ++i) {
            curveUpdate.bindValue(QLatin1String(coefficientNames[i]),
                                  i < curve.coefficientCount() ? QVariant(curve.coefficient(i))
                                                               : QVariant(QVariant::Double));
        }
        curveUpdate.bindValue(QStringLiteral(":valid"), curve.isValid() ? 1 : 0);
        curveUpdate.bindValue(QStringLiteral(":id"), curve.id());
        if (!curveUpdate.exec()) {
            LOG_SQL_ERROR(curveUpdate);
            return false;
        }

        if (curve.isValid()) {
            for (int i = 0; i < rowIds.size(); ++i) {
                pointUpdate.bindValue(QStringLiteral(":z"), curve.point(i).z());
                pointUpdate.bindValue(QStringLiteral(":flags"), curve.point(i).flags());
                pointUpdate.bindValue(QStringLiteral(":rowid"), rowIds.at(i));
                if (!pointUpdate.exec()) {
                    LOG_SQL_ERROR(pointUpdate);
                    return false;
                }
            }
        }
        if (!transaction.commit())
            return false;
    }
    return true;
}
