// The four databases of an instrument folder as the upgrade tool knows them, and the reads that
// every part of the tool shares: the version, the kind of database, the wait for a lock.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "databases.h"

#include <QList>

#include <sqlite3.h>

const QList<DatabaseEntry> &databaseEntries()
{
    static const QList<DatabaseEntry> entries = {
        {"profile.db", 4, true, {QStringLiteral("profile"), QStringLiteral("assayTemplate")}},
        {"data.db", 4, true, {QStringLiteral("patient"), QStringLiteral("exam")}},
        {"qc.db", notVersioned, false, {QStringLiteral("qcMaterial")}},
        {"syslog.db", 1, false, {QStringLiteral("syslog")}},
    };
    return entries;
}

const DatabaseEntry *databaseEntry(const QString &fileName)
{
    for (const DatabaseEntry &entry : databaseEntries()) {
        if (fileName == QLatin1String(entry.fileName))
            return &entry;
    }
    return nullptr;
}

bool readVersion(sqlite3 *db, int *version, QString *error, bool *busy)
{
    *version = 0;
    if (busy)
        *busy = false;
    sqlite3_stmt *query = nullptr;
    int rc = sqlite3_prepare_v2(db, "select version from version order by version desc", -1, &query,
                                nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(query);
        if (rc == SQLITE_ROW)
            *version = sqlite3_column_int(query, 0);
    } else if (rc == SQLITE_ERROR && QByteArray(sqlite3_errmsg(db)).startsWith("no such table")) {
        rc = SQLITE_DONE; // not versioned yet: version 0
    }
    const bool ok = rc == SQLITE_ROW || rc == SQLITE_DONE;
    if (!ok) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        if (busy)
            *busy = (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED;
    }
    sqlite3_finalize(query);
    return ok;
}

bool firstColumn(sqlite3 *db, const char *sql, QStringList *rows, QString *error)
{
    sqlite3_stmt *query = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &query, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(query)) == SQLITE_ROW)
            rows->append(
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(query, 0))));
    }
    if (rc != SQLITE_DONE && error)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(query);
    return rc == SQLITE_DONE;
}

QStringList tableNames(sqlite3 *db, QString *error)
{
    QStringList names;
    firstColumn(db, "select name from sqlite_master where type = 'table'", &names, error);
    return names;
}

QString databaseKind(const QStringList &tables)
{
    for (const DatabaseEntry &entry : databaseEntries()) {
        bool all = true;
        for (const QString &marker : entry.markers)
            all = all && tables.contains(marker, Qt::CaseInsensitive);
        if (all)
            return QLatin1String(entry.fileName);
    }
    return QString();
}

bool holdsAnalyserTables(const QStringList &tables)
{
    // Every table some version of the four databases holds.
    static const QStringList known
        = {QStringLiteral("profile"),      QStringLiteral("user"),
           QStringLiteral("reagent"),      QStringLiteral("assayTemplate"),
           QStringLiteral("assayItem"),    QStringLiteral("assayCalibration"),
           QStringLiteral("variable"),     QStringLiteral("curve"),
           QStringLiteral("curvePoint"),   QStringLiteral("curveVariable"),
           QStringLiteral("curveReagent"), QStringLiteral("curveInfo"),
           QStringLiteral("currentCurve"), QStringLiteral("version"),
           QStringLiteral("patient"),      QStringLiteral("exam"),
           QStringLiteral("result"),       QStringLiteral("results"),
           QStringLiteral("syslog"),       QStringLiteral("qcMaterial"),
           QStringLiteral("qcResult")};
    for (const QString &table : tables) {
        if (known.contains(table, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString waitNoticeText(const QString &fileName)
{
    return QStringLiteral("%1 is in use by another program; waiting up to %2 s — "
                          "close the analyser software")
        .arg(fileName)
        .arg(busyTimeoutMs / 1000);
}
