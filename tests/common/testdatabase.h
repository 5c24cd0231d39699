// Test helper: databases built from SQL fixtures and read back through a connection of their own.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef TESTDATABASE_H
#define TESTDATABASE_H

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace TestDatabase {

/*! Runs the SQL script \a sqlFile with the sqlite3 shell into \a dbFile; false (and a warning)
    on any error. */
bool build(const QString &dbFile, const QString &sqlFile);

/*! Runs \a statement on \a dbFile through a private connection and returns every row. */
QList<QVariantList> rows(const QString &dbFile, const QString &statement,
                         const QVariantList &bindings = {});

/*! The first column of the first row, or an invalid variant when there is none. */
QVariant scalar(const QString &dbFile, const QString &statement, const QVariantList &bindings = {});

} // namespace TestDatabase

#endif // TESTDATABASE_H
