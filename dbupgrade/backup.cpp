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

#include <cerrno>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
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

} // namespace

QString backupFileName(const QString &fileName, int version)
{
    const QString stem = QStringLiteral("%1.v%2").arg(fileName).arg(version);
    QString name = stem + QLatin1String(".bak");
    for (int counter = 2; isTaken(name); ++counter)
        name = QStringLiteral("%1-%2.bak").arg(stem).arg(counter);
    return name;
}

BackupResult backupDatabase(const QSqlDatabase &db, const QString &fileName, int version)
{
    BackupResult result;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA page_count")) || !query.next()) {
        // A file that is no database cannot be opened as one: there is nothing to copy, and
        // the updater fails on it or passes over it as it does for a file that did not open.
        result.ok = query.lastError().nativeErrorCode() == QLatin1String("26"); // SQLITE_NOTADB
        result.error = query.lastError().text();
        return result;
    }
    if (query.value(0).toLongLong() == 0) // a file the open has just created
        return {true, QString(), QString()};

    const QString name = backupFileName(fileName, version);
    // A snapshot in one read transaction, so the copy is consistent even if the application
    // writes meanwhile.
    // The name is bound, not quoted by hand into the statement.
    query.prepare(QStringLiteral("VACUUM INTO ?"));
    query.addBindValue(name);
    if (!query.exec()) {
        result.error = query.lastError().text();
    } else if (syncFile(name, &result.error)) {
        syncDirectory(name);
        const QStringList findings = checkCopy(name);
        if (findings.isEmpty())
            result.ok = true;
        else
            result.error = QStringLiteral("the copy %1 fails its integrity check: %2")
                               .arg(name, findings.join(QLatin1String("; ")));
    }
    query.finish();

    result.fileName = name;
    if (!result.ok && isTaken(name)) // the name was free before: this is our partial copy
        QFile::remove(name);
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
