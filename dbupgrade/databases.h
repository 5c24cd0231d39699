// The four databases of an instrument folder as the upgrade tool knows them, and the reads that
// every part of the tool shares: the version, the kind of database, the wait for a lock.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef DATABASES_H
#define DATABASES_H

#include <QString>
#include <QStringList>

struct sqlite3;

//! How long every connection of the tool waits for another program's lock, as long as the
//! analyser application's own connections wait.
constexpr int busyTimeoutMs = 30000;

//! qc.db is never changed, so it is never copied nor checked.
constexpr int notVersioned = -1;

struct DatabaseEntry
{
    const char *fileName;
    //! The version the updater writes; a database found at another is changed by the update.
    int currentVersion;
    //! profile.db and data.db make an instrument folder; the other two are created when missing.
    bool required;
    //! Tables every version of this database holds and no other of the four holds all of.
    QStringList markers;
};

//! The four databases in the order they are upgraded.
const QList<DatabaseEntry> &databaseEntries();
//! The entry of \a fileName, or null.
const DatabaseEntry *databaseEntry(const QString &fileName);

//! The one reader of a schema version: the largest value of table version; 0 without that table
//! or rows (a null or non-numeric value counts as 0). False when the read failed (\a error set,
//! \a busy true when another connection held the database).
bool readVersion(sqlite3 *db, int *version, QString *error = nullptr, bool *busy = nullptr);
//! The first column of every row of \a sql on \a db; false, with \a error set, when it fails.
bool firstColumn(sqlite3 *db, const char *sql, QStringList *rows, QString *error = nullptr);
//! The names of the tables \a db holds; empty, with \a error set, when they cannot be read.
QStringList tableNames(sqlite3 *db, QString *error = nullptr);
//! Which of the four databases \a tables make ("profile.db", ...), or empty.
QString databaseKind(const QStringList &tables);
//! Whether \a tables hold any table of the analyser's databases.
bool holdsAnalyserTables(const QStringList &tables);

//! The console line that announces a wait for \a fileName.
QString waitNoticeText(const QString &fileName);

#endif // DATABASES_H
