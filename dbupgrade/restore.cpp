// Undoing an upgrade: a backup put back in place of its database through SQLite.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "restore.h"

#include "backup.h"
#include "databases.h"
#include "servicelog.h"
#include "updatebase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <sqlite3.h>

namespace {

QString sqliteError(sqlite3 *db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

} // namespace

QString unfitBackupContent(sqlite3 *source, const QString &backup, const QString &fileName,
                           int version)
{
    QString error;
    const QStringList tables = tableNames(source, &error);
    if (!error.isEmpty())
        return backup + QStringLiteral(" cannot be read: ") + error;
    const QString kind = databaseKind(tables);
    if (kind != fileName)
        return QStringLiteral("%1 holds the tables of %2, not those of %3")
            .arg(backup, kind.isEmpty() ? QStringLiteral("no database of the analyser") : kind,
                 fileName);
    int found = 0;
    if (!readVersion(source, &found, &error))
        return backup + QStringLiteral(" cannot be read: ") + error;
    if (databaseEntry(fileName)->currentVersion != notVersioned && found != version)
        return QStringLiteral("%1 holds version %2, not the %3 its name says")
            .arg(backup)
            .arg(found)
            .arg(version);
    QStringList findings;
    if (!firstColumn(source, "PRAGMA integrity_check", &findings, &error))
        findings.append(error);
    findings.removeAll(QStringLiteral("ok"));
    if (!findings.isEmpty())
        return backup + QStringLiteral(" fails its integrity check: ")
            + findings.join(QLatin1String("; "));
    return QString();
}

QString backupOwner(const QString &backupPath, int *version)
{
    const QFileInfo info(backupPath);
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("^([a-z]+\\.db)\\.v(\\d+)(-\\d+)?\\.bak$"))
              .match(info.fileName());
    if (!match.hasMatch() || !databaseEntry(match.captured(1))
        || QDir(info.absolutePath()).canonicalPath() != QDir::current().canonicalPath())
        return QString();
    *version = match.captured(2).toInt();
    return match.captured(1);
}

QString notBackupText(const QString &backupPath)
{
    return QStringLiteral("dbupgrade: %1 is not the name of a backup of a database in this "
                          "folder, such as data.db.v0.bak")
        .arg(backupPath);
}

namespace {

bool isWal(sqlite3 *db)
{
    sqlite3_stmt *query = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        wal = qstricmp(reinterpret_cast<const char *>(sqlite3_column_text(query, 0)), "wal") == 0;
    sqlite3_finalize(query);
    return wal;
}

// Closes the connections in an order that never drops a lock still needed (the destination's
// lock is gone once its backup is finished) and that leaves the database's connection the last
// on it, so that it checkpoints and removes a -wal and -shm.
struct Connections
{
    sqlite3 *source = nullptr;
    sqlite3 *database = nullptr;
    sqlite3 *current = nullptr;
    sqlite3_backup *restore = nullptr;
    ~Connections()
    {
        if (restore)
            sqlite3_backup_finish(restore);
        sqlite3_close(current);
        sqlite3_close(database);
        sqlite3_close(source);
    }
};

} // namespace

int restoreBackup(const QString &backupPath, FILE *console)
{
    const QString backup = QFileInfo(backupPath).fileName();
    int version = 0;
    const QString fileName = backupOwner(backupPath, &version);
    if (fileName.isEmpty()) {
        printLine(stderr, notBackupText(backupPath));
        return 2;
    }
    const auto fail = [console, &fileName](const QString &why) {
        printLine(console, QStringLiteral("%1: not restored: %2").arg(fileName, why));
        return 1;
    };
    if (const QString reason = unfitBackupReason(backup, fileName); !reason.isEmpty())
        return fail(QStringLiteral("%1 cannot serve as a backup: %2").arg(backup, reason));

    Connections c;
    if (sqlite3_open_v2(QFile::encodeName(backup).constData(), &c.source, SQLITE_OPEN_READONLY,
                        nullptr)
        != SQLITE_OK)
        return fail(backup + QStringLiteral(" cannot be opened: ") + sqliteError(c.source));
    if (const QString reason = unfitBackupContent(c.source, backup, fileName, version);
        !reason.isEmpty())
        return fail(reason);

    // Opening the database through SQLite rolls back a journal left by an interrupted writer
    // before anything is copied, so no journal can be applied to the restored copy.
    if (sqlite3_open_v2(QFile::encodeName(fileName).constData(), &c.database,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK)
        return fail(sqliteError(c.database));
    UpdateBase::installBusyHandler(c.database, fileName);
    const bool wal = isWal(c.database);

    // The backup API holds the database's write transaction from its first step to the last,
    // so the first step, copying nothing, takes the lock; nothing can land between the state
    // kept next and the restored copy.
    c.restore = sqlite3_backup_init(c.database, "main", c.source, "main");
    if (!c.restore)
        return fail(sqliteError(c.database));
    int rc = sqlite3_backup_step(c.restore, 0);
    if (rc != SQLITE_OK)
        return fail(sqliteError(c.database));

    // The current state is read through a connection of its own. In rollback mode the lock
    // just taken is exclusive and keeps every other reader out, this process's too, so that
    // connection reads without locks; in WAL mode readers go on as usual.
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(fileName, "/")
        + (wal ? QByteArray() : QByteArray("?nolock=1"));
    if (sqlite3_open_v2(uri.constData(), &c.current, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                        nullptr)
        != SQLITE_OK)
        return fail(sqliteError(c.current));
    int currentVersion = 0;
    readVersion(c.current, &currentVersion);
    const BackupResult kept = backupDatabase(fileName, std::max(currentVersion, 0), c.current);
    if (!kept.ok)
        return fail(QStringLiteral("the current state could not be kept first: ") + kept.error);
    UpdateBase::crashPoint(QLatin1String("restore copying ") + fileName);

    rc = sqlite3_backup_step(c.restore, -1);
    sqlite3_backup_finish(c.restore);
    c.restore = nullptr;
    if (rc == SQLITE_DONE)
        rc = sqlite3_errcode(c.database);
    if (rc != SQLITE_OK)
        return fail(sqliteError(c.database)
                    + (kept.fileName.isEmpty()
                           ? QString()
                           : QStringLiteral("; its state before is in ") + kept.fileName));
    printLine(console,
              QStringLiteral("%1: restored from %2%3, ok")
                  .arg(fileName, backup,
                       kept.fileName.isEmpty()
                           ? QString()
                           : QStringLiteral(", the state before kept in ") + kept.fileName));
    return 0;
}
