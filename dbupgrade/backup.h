// Safeguards of the upgrade tool: a checked copy of a database before it is changed, and the
// integrity and foreign-key checks after.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef BACKUP_H
#define BACKUP_H

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

struct sqlite3;

struct BackupResult
{
    bool ok = false;
    //! The copy's file name (when !ok, the name tried; no file of it is left); empty when
    //! there was nothing to copy.
    QString fileName;
    //! Why the copy failed.
    QString error;
};

//! The first free name for the backup of \a fileName at \a version: "<file>.v<version>.bak",
//! then "<file>.v<version>-2.bak", "-3", ... so that no existing file is ever replaced.
QString backupFileName(const QString &fileName, int version);
//! An existing backup of \a fileName at \a version that holds what the file \a copy holds (an
//! earlier run wrote it and then failed or was stopped), else empty. \a copy must not be a
//! database this process holds locked: closing any handle of a file drops the process's locks
//! on it.
QString equalBackup(const QString &fileName, int version, const QString &copy);

//! Why \a backup cannot serve as a backup of \a database: a symbolic link, not a regular file,
//! or a link to the database itself; empty when it can. Opens neither file.
QString unfitBackupReason(const QString &backup, const QString &database);

//! Copies the database open as \a source into the file \a target through SQLite's backup API,
//! in rollback mode and with nothing beside it; \a crashName is the test hook's point between
//! steps. On failure no file of \a target is left.
bool copyDatabase(sqlite3 *source, const QString &target, const QString &crashName, QString *error);
//! Removes \a path and its -journal, -wal and -shm.
void removeDatabaseFiles(const QString &path);

/*!
    Writes a copy of the database file \a fileName beside it, through a connection of its own,
    while the caller holds the database's write lock: under a temporary name first, synced and
    checked, then published under the first free backupFileName() without ever replacing a
    file. An equalBackup() is taken as it is instead of a second copy. An empty database has
    nothing to copy: ok, no file. On failure no file is left.
*/
BackupResult backupDatabase(const QString &fileName, int version);
//! As above, read through \a source, a connection the caller opened on \a fileName.
BackupResult backupDatabase(const QString &fileName, int version, sqlite3 *source);

//! The findings of "PRAGMA integrity_check" on \a db; empty when it reports "ok".
QStringList integrityFindings(const QSqlDatabase &db);
//! One text per row that "PRAGMA foreign_key_check" reports on \a db.
QStringList foreignKeyFindings(const QSqlDatabase &db);

#endif // BACKUP_H
