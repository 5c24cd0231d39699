// Safeguards of the upgrade tool: a checked copy of a database before it is changed, and the
// integrity and foreign-key checks after.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "backup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "databases.h"
#include "publishfile.h"
#include "updatebase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A name is taken by any directory entry, a dangling link included: writing through a link
// would put the copy somewhere else.
bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool syncFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        *error = file.errorString();
        return false;
    }
#ifdef Q_OS_WIN
    const bool synced = _commit(file.handle()) == 0;
#else
    const bool synced = ::fsync(file.handle()) == 0;
#endif
    if (!synced)
        *error = QStringLiteral("cannot sync %1 to disk: %2").arg(path, qt_error_string(errno));
    return synced;
}

// The new directory entry must reach the disk too, or a power cut could lose the whole file.
void syncDirectory(const QString &path)
{
#ifndef Q_OS_WIN
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path)
#endif
}

QStringList pragmaRows(const QSqlDatabase &db, const QString &pragma, QString *error)
{
    QStringList rows;
    QSqlQuery query(db);
    if (!query.exec(pragma)) {
        *error = query.lastError().text();
        return rows;
    }
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i)
            columns.append(query.value(i).toString());
        rows.append(columns.join(QLatin1Char(' ')));
    }
    return rows;
}

QStringList checkCopy(const QString &path)
{
    const QString connection = QStringLiteral("dbupgrade-backup-check");
    QStringList findings;
    {
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        copy.setDatabaseName(path);
        copy.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (copy.open())
            findings = integrityFindings(copy);
        else
            findings.append(copy.lastError().text());
        copy.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return findings;
}

// The copy is written here first: not a backup name, so a kill during the copy leaves nothing
// that looks like a finished backup. Only the holder of the database's lock writes it, so one
// found is left by an interrupted run and is replaced.
QString partialName(const QString &fileName)
{
    return fileName + QLatin1String(".backup-in-progress");
}

QString sqliteError(sqlite3 *db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

// Publishes the finished copy under the first free backup name; publishFile() never replaces an
// existing file, so a name that is taken, even at the last moment by another run, is skipped.
QString publish(const QString &partial, const QString &fileName, int version, QString *error)
{
#ifdef Q_OS_WIN
    const auto systemName = [](const QString &path) { return path.toUtf8(); };
#else
    const auto systemName = [](const QString &path) { return QFile::encodeName(path); };
#endif
    for (int counter = 1; counter < 1000; ++counter) {
        const QString name = counter == 1
            ? QStringLiteral("%1.v%2.bak").arg(fileName).arg(version)
            : QStringLiteral("%1.v%2-%3.bak").arg(fileName).arg(version).arg(counter);
        std::string reason;
        switch (
            publishFile(systemName(partial).constData(), systemName(name).constData(), &reason)) {
        case Publication::Published:
            syncDirectory(name);
            return name;
        case Publication::NameTaken:
            continue;
        case Publication::Failed:
            *error = QStringLiteral("cannot publish the copy as %1: %2")
                         .arg(name, QString::fromLocal8Bit(reason.c_str()));
            return QString();
        }
    }
    *error = QStringLiteral("no free backup name");
    return QString();
}

} // namespace

QString backupFileName(const QString &fileName, int version)
{
    const QString stem = QStringLiteral("%1.v%2").arg(fileName).arg(version);
    QString name = stem + QLatin1String(".bak");
    for (int counter = 2; isTaken(name); ++counter)
        name = QStringLiteral("%1-%2.bak").arg(stem).arg(counter);
    return name;
}

QString unfitBackupReason(const QString &backup, const QString &database)
{
#ifndef Q_OS_WIN
    // Looked at without opening: closing a descriptor of the database would drop the locks this
    // process holds on it.
    struct stat entry;
    if (::lstat(QFile::encodeName(backup).constData(), &entry) != 0)
        return qt_error_string(errno);
    if (S_ISLNK(entry.st_mode))
        return QStringLiteral("it is a symbolic link");
    if (!S_ISREG(entry.st_mode))
        return QStringLiteral("it is not a regular file");
    struct stat target;
    if (::stat(QFile::encodeName(database).constData(), &target) == 0
        && target.st_dev == entry.st_dev && target.st_ino == entry.st_ino)
        return QStringLiteral("it is a link to %1 itself").arg(database);
#else
    const QFileInfo info(backup);
    if (info.isSymLink() || !info.isFile())
        return QStringLiteral("it is not a regular file");
    Q_UNUSED(database)
#endif
    return QString();
}

QString equalBackup(const QString &fileName, int version, const QString &copy)
{
    QFile database(copy);
    if (!database.open(QIODevice::ReadOnly) || database.size() == 0)
        return QString();
    const QString stem = QStringLiteral("%1.v%2").arg(fileName).arg(version);
    QString name = stem + QLatin1String(".bak");
    for (int counter = 2; isTaken(name); ++counter) {
        QFile backup(name);
        // A backup name that is the database itself (a link) holds no copy of the old state.
        if (unfitBackupReason(name, fileName).isEmpty() && backup.size() == database.size()
            && backup.open(QIODevice::ReadOnly) && database.seek(0)) {
            bool equal = true;
            // A copy differs from its source only in the header's file format numbers (bytes
            // 18-19, WAL or not), change counter (24-27), schema cookie (40-43) and writer's
            // version (92-99).
            for (qint64 offset = 0; equal && !database.atEnd(); offset += 1 << 20) {
                QByteArray a = database.read(1 << 20);
                QByteArray b = backup.read(1 << 20);
                if (offset == 0 && a.size() >= 100 && b.size() >= 100) {
                    for (const auto &range : {std::make_pair(18, 2), std::make_pair(24, 4),
                                              std::make_pair(40, 4), std::make_pair(92, 8)}) {
                        a.replace(range.first, range.second, QByteArray(range.second, '\0'));
                        b.replace(range.first, range.second, QByteArray(range.second, '\0'));
                    }
                }
                equal = a == b;
            }
            if (equal)
                return name;
        }
        name = QStringLiteral("%1-%2.bak").arg(stem).arg(counter);
    }
    return QString();
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

bool copyDatabase(sqlite3 *source, const QString &target, const QString &crashName, QString *error)
{
    removeDatabaseFiles(target);
    sqlite3 *copy = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(target).constData(), &copy,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(copy, "main", source, "main");
        if (!backup) {
            rc = sqlite3_errcode(copy);
        } else {
            // In a few dozen steps, so a test can stop the process half-way through a copy.
            rc = sqlite3_backup_step(backup, 8);
            const int step = std::max(8, sqlite3_backup_pagecount(backup) / 64);
            while (rc == SQLITE_OK) {
                if (!crashName.isEmpty())
                    UpdateBase::crashPoint(crashName);
                rc = sqlite3_backup_step(backup, step);
            }
            sqlite3_backup_finish(backup);
            if (rc == SQLITE_DONE)
                rc = sqlite3_errcode(copy);
        }
    }
    // The copy takes its source's page 1, WAL mark included; as a file of its own it is kept in
    // rollback mode, so that no -wal or -shm of it is left beside it.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(copy, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        *error = sqliteError(copy);
    sqlite3_close(copy);
    if (rc != SQLITE_OK)
        removeDatabaseFiles(target);
    return rc == SQLITE_OK;
}

BackupResult backupDatabase(const QString &fileName, int version)
{
    BackupResult result;
    result.fileName = backupFileName(fileName, version);
    // A connection of its own reads the file: the caller's connection holds the write lock, so
    // nothing can change the file between the copy and the caller's first step.
    sqlite3 *source = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(fileName).constData(), &source, SQLITE_OPEN_READONLY,
                        nullptr)
        != SQLITE_OK) {
        result.error = sqliteError(source);
        sqlite3_close(source);
        return result;
    }
    sqlite3_busy_timeout(source, busyTimeoutMs);
    result = backupDatabase(fileName, version, source);
    sqlite3_close(source);
    return result;
}

BackupResult backupDatabase(const QString &fileName, int version, sqlite3 *source)
{
    BackupResult result;
    result.fileName = backupFileName(fileName, version);
    sqlite3_stmt *count = nullptr;
    qint64 pages = -1;
    if (sqlite3_prepare_v2(source, "PRAGMA page_count", -1, &count, nullptr) == SQLITE_OK
        && sqlite3_step(count) == SQLITE_ROW)
        pages = sqlite3_column_int64(count, 0);
    else
        result.error = sqliteError(source);
    sqlite3_finalize(count);
    if (pages <= 0) {
        // A file the open has just created has nothing to copy.
        result.ok = pages == 0;
        result.fileName.clear();
        return result;
    }

    const QString partial = partialName(fileName);
    if (copyDatabase(source, partial, QLatin1String("copying backup ") + fileName, &result.error)
        && syncFile(partial, &result.error)) {
        const QStringList findings = checkCopy(partial);
        if (!findings.isEmpty()) {
            result.error = QStringLiteral("the copy fails its integrity check: %1")
                               .arg(findings.join(QLatin1String("; ")));
        } else if (const QString equal = equalBackup(fileName, version, partial);
                   !equal.isEmpty()) {
            // A run stopped after its backup leaves the database as it was: its copy serves
            // again, and retries do not pile up copies of one state.
            QFile::remove(partial);
            result.ok = true;
            result.fileName = equal;
        } else {
            const QString name = publish(partial, fileName, version, &result.error);
            if (!name.isEmpty()) {
                result.ok = true;
                result.fileName = name;
                UpdateBase::crashPoint(QLatin1String("backup ") + fileName);
            }
        }
    }
    if (!result.ok)
        removeDatabaseFiles(partial);
    return result;
}

QStringList integrityFindings(const QSqlDatabase &db)
{
    QString error;
    QStringList rows = pragmaRows(db, QStringLiteral("PRAGMA integrity_check"), &error);
    if (!error.isEmpty())
        return {error};
    if (rows == QStringList(QStringLiteral("ok")))
        rows.clear();
    return rows;
}

QStringList foreignKeyFindings(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA foreign_key_check")))
        return {query.lastError().text()};
    QStringList findings;
    while (query.next()) {
        // table, rowid, parent, foreign key index
        findings.append(
            QStringLiteral("row %1 of %2 refers to a missing row of %3")
                .arg(query.value(1).isNull() ? QStringLiteral("?") : query.value(1).toString(),
                     query.value(0).toString(), query.value(2).toString()));
    }
    return findings;
}
