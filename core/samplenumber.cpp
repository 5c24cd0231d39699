// Sample numbers: their prefixes from the settings and the next free number of a day.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "samplenumber.h"

#include "logging_p.h"
#include "profile.h"
#include "sqlwarning_p.h"

#include <QDate>
#include <QSqlQuery>
#include <QSqlRecord>

#include <limits>

QString samplePrefix(ry::SampleType type)
{
    switch (type) {
    case ry::Statim:
        return Profile::instance().statim_sample_prefix(QStringLiteral("S"));
    case ry::QualityControl:
        return Profile::instance().qc_sample_prefix(QStringLiteral("QC"));
    default:
        return QString();
    }
}

// The sample-number helpers lived in ryglobal.cpp; their log lines keep that name, which is
// what readers of existing logs search for.
#define SAMPLE_SQL_WARNING(query) CORE_SQL_WARNING_AS(lcSampleNumber, "ryglobal.cpp", query)

int nextSampleNo(const QDate &date)
{
    QSqlQuery query(Profile::instance().dataDatabase());
    if (!query.prepare(
            QStringLiteral("select max(cast(sampleNo as integer)) from patient where date=:date")))
        SAMPLE_SQL_WARNING(query);
    query.bindValue(QStringLiteral(":date"), date);
    if (!query.exec())
        SAMPLE_SQL_WARNING(query);
    // A day without patients gives a null maximum, a failed query no row: both count as 0.
    if (!query.next())
        return 1;
    // SQLite casts to 64 bits: a larger number (a date-style one) would wrap to a negative or
    // small int, and the int maximum would overflow; the int maximum stands in for them.
    const qlonglong largest = query.value(0).toLongLong();
    return int(qBound<qlonglong>(std::numeric_limits<int>::min(), largest,
                                 std::numeric_limits<int>::max() - 1LL)
               + 1);
}

void setGeneratedValue(QSqlRecord &record, const QString &field, const QVariant &value)
{
    const int index = record.indexOf(field);
    if (index < 0)
        return;
    record.setValue(index, value);
    record.setGenerated(index, true);
}
