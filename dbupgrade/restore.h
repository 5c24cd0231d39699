// Undoing an upgrade: a backup put back in place of its database through SQLite.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RESTORE_H
#define RESTORE_H

#include <QString>

#include <cstdio>

struct sqlite3;

//! The database (data.db, ...) whose backup \a backupPath names, a file of this folder such as
//! data.db.v0.bak or ./data.db.v0.bak, and in \a version the version its name says; empty when
//! the name is no backup of one of the four databases.
QString backupOwner(const QString &backupPath, int *version);
//! The refusal of a name backupOwner() does not take, as the error line.
QString notBackupText(const QString &backupPath);
//! Why the backup \a backup, open as \a source, cannot stand for \a fileName at \a version: the
//! tables of another database, another version than its name says, a failed integrity check.
QString unfitBackupContent(sqlite3 *source, const QString &backup, const QString &fileName,
                           int version);

/*!
    Puts the backup \a backupPath (a file of this folder, such as data.db.v0.bak or
    ./data.db.v0.bak) back in place of its database. The database's write lock is taken first
    and held until the restored copy is committed; meanwhile its current state is kept as a
    backup of its own. Prints the outcome on \a console. Returns the exit status: 0; 1 when the
    backup is unfit (a link, another kind of database, a version its name does not say) or the
    restore failed; 2 for a name that is no backup of one of the four databases.
*/
int restoreBackup(const QString &backupPath, FILE *console);

#endif // RESTORE_H
