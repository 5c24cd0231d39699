// Location tags for the core library's SQL warnings (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SQLWARNING_P_H
#define SQLWARNING_P_H

#include "logging_p.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace CorePrivate {

// __FILE__ reduced to the unit's base name, so a log line names "profile.cpp", not a build path.
constexpr const char *unitName(const char *path)
{
    const char *name = path;
    for (const char *p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}

} // namespace CorePrivate

/*!
    Writes one warning in \a category: "<unit>.cpp:<line>: <the query's last error>".
    The tag is taken at the call site, so it always names the statement that failed.
*/
#define CORE_SQL_WARNING(category, query) \
    CORE_SQL_WARNING_AS(category, CorePrivate::unitName(__FILE__), query)

// The same under the name \a unit, for code whose log lines kept the name of the unit it left.
#define CORE_SQL_WARNING_AS(category, unit, query) \
    qCWarning(category).noquote().nospace() \
        << (unit) << ':' << __LINE__ << ": " << (query).lastError().text()

#endif // SQLWARNING_P_H
