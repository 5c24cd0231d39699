// Sample numbers: their prefixes from the settings and the next free number of a day.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SAMPLENUMBER_H
#define SAMPLENUMBER_H

#include "core_global.h"
#include "ryenums.h"

#include <QString>

class QDate;
class QSqlRecord;
class QVariant;

/*! \brief The sample-number prefix of \a type from the settings ("S" and "QC" by default);
    empty for ordinary samples. */
CORE_EXPORT QString samplePrefix(ry::SampleType type);

/*! \brief One more than the largest integer sample number of \a date in data.db (1 for a day
    without patients, or when the table cannot be read; the int maximum when the largest number
    reaches it). */
CORE_EXPORT int nextSampleNo(const QDate &date);

/*! \brief Sets \a field of \a record to \a value and marks it to be written; a field the record
    lacks changes nothing. */
CORE_EXPORT void setGeneratedValue(QSqlRecord &record, const QString &field, const QVariant &value);

#endif // SAMPLENUMBER_H
