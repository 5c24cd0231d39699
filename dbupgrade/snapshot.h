// One database read for a comparison, through a connection that writes nothing of the folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SNAPSHOT_H
#define SNAPSHOT_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

#include <memory>

struct sqlite3;

//! The columns of a calibration curve that its refit rewrites, and its name.
inline constexpr const char *curveFields[]
    = {"name", "valid", "correlation", "date", "a", "b", "c", "d", "e"};

//! What a comparison reads of a database.
struct Snapshot
{
    int version = 0;
    QMap<QString, QString> schema; //!< "type name" -> statement
    QMap<QString, qint64> rowCounts;
    QMap<QString, QByteArray> contents; //!< table -> hash of its rows, in rowid order
    QMap<QString, QVariant> settings;   //!< profile.db: table profile
    QMap<qint64, QVariantMap> curves;   //!< profile.db: curve id -> curveFields()
};

//! A read-only connection. A WAL database is read as a private copy: a reader of the file
//! itself would make a -shm beside it, and a -wal where there was none.
struct Reader
{
    sqlite3 *db = nullptr;
    std::unique_ptr<QTemporaryDir> scratch;
    ~Reader();
};

//! Opens \a name of the current folder for reading and reads it once; why it cannot be read
//! (missing, an interrupted write that only a writer may roll back, ...), or empty.
QString openReader(const QString &name, Reader *reader);
//! Reads \a db, a database \a fileName of the folder, into \a snapshot; the error, or empty.
QString readSnapshot(sqlite3 *db, const QString &fileName, Snapshot *snapshot);

#endif // SNAPSHOT_H
