// Space given back after an upgrade: SQLite's VACUUM when free pages fill much of the file.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "compaction.h"

#include "updatebase.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>

#include <sqlite3.h>

namespace {

qint64 pragmaValue(sqlite3 *db, const char *pragma)
{
    sqlite3_stmt *query = nullptr;
    qint64 value = -1;
    if (sqlite3_prepare_v2(db, pragma, -1, &query, nullptr) == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        value = sqlite3_column_int64(query, 0);
    sqlite3_finalize(query);
    return value;
}

QStringList column(sqlite3 *db, const QByteArray &sql, int index = 0)
{
    QStringList values;
    sqlite3_stmt *query = nullptr;
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr) == SQLITE_OK) {
        while (sqlite3_step(query) == SQLITE_ROW)
            values.append(QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(query, index))));
    }
    sqlite3_finalize(query);
    return values;
}

QByteArray quoted(const QString &name)
{
    return '"' + name.toUtf8().replace('"', "\"\"") + '"';
}

// VACUUM copies a table that has neither an INTEGER PRIMARY KEY nor an index under new rowids,
// numbered from 1 in rowid order: harmless only when they already run 1..n without a gap.
QString renumberedTable(sqlite3 *db)
{
    const QStringList tables
        = column(db,
                 "select name from sqlite_master where type = 'table' and name not like 'sqlite_%' "
                 "and sql not like '%without rowid%'");
    for (const QString &table : tables) {
        const QByteArray name = quoted(table);
        if (!column(db, "PRAGMA index_list(" + name + ")").isEmpty())
            continue;
        // An INTEGER PRIMARY KEY column is the rowid itself.
        sqlite3_stmt *info = nullptr;
        bool aliased = false;
        int keys = 0;
        if (sqlite3_prepare_v2(db, ("PRAGMA table_info(" + name + ")").constData(), -1, &info,
                               nullptr)
            == SQLITE_OK) {
            while (sqlite3_step(info) == SQLITE_ROW) {
                if (sqlite3_column_int(info, 5) > 0) {
                    ++keys;
                    aliased = qstricmp(reinterpret_cast<const char *>(sqlite3_column_text(info, 2)),
                                       "integer")
                        == 0;
                }
            }
        }
        sqlite3_finalize(info);
        if (keys == 1 && aliased)
            continue;
        const QStringList counts = column(
            db,
            "select count(*) || ' ' || coalesce(min(rowid), 1) || ' ' || coalesce(max(rowid), 0)"
            " from "
                + name);
        const QStringList parts = counts.value(0).split(QLatin1Char(' '));
        if (parts.size() != 3 || parts.at(1).toLongLong() < 1 || parts.at(0) != parts.at(2))
            return table;
    }
    return QString();
}

QString megabytes(qint64 bytes)
{
    return QString::number(bytes / 1e6, 'f', 1) + QStringLiteral(" MB");
}

} // namespace

QString Compaction::text() const
{
    switch (outcome) {
    case Compacted:
        return megabytes(sizeBefore) + QStringLiteral(" -> ") + megabytes(sizeAfter);
    case Skipped:
        return QStringLiteral("not compacted: ") + reason;
    default:
        return QString();
    }
}

qint64 compactionSpace(qint64 bytes)
{
    return bytes / 10 * 11 + (1 << 20);
}

Compaction compactDatabase(sqlite3 *db, const QString &fileName)
{
    Compaction result;
    const qint64 pageSize = pragmaValue(db, "PRAGMA page_size");
    const qint64 pages = pragmaValue(db, "PRAGMA page_count");
    const qint64 freePages = pragmaValue(db, "PRAGMA freelist_count");
    if (pageSize <= 0 || pages <= 0 || freePages * 4 <= pages)
        return result;
    result.outcome = Compaction::Skipped;
    result.sizeBefore = QFileInfo(fileName).size();
    if (const QString table = renumberedTable(db); !table.isEmpty()) {
        result.reason = QStringLiteral("table %1 would have its rowids renumbered").arg(table);
        return result;
    }
    // The compacted copy is built in the temporary folder and journalled beside the database;
    // on one disk both count there.
    const qint64 needed = compactionSpace((pages - freePages) * pageSize);
    const QStorageInfo folder(QFileInfo(fileName).absolutePath());
    const QStorageInfo temporary(QString::fromLocal8Bit(qgetenv("SQLITE_TMPDIR")).isEmpty()
                                     ? QDir::tempPath()
                                     : QString::fromLocal8Bit(qgetenv("SQLITE_TMPDIR")));
    const bool oneDisk = folder.rootPath() == temporary.rootPath();
    for (const QStorageInfo &storage : {folder, temporary}) {
        const qint64 wanted = oneDisk ? 2 * needed : needed;
        if (storage.isValid() && storage.bytesAvailable() < wanted) {
            result.reason = QStringLiteral("compacting needs %1 free on %2, which has %3")
                                .arg(megabytes(wanted), storage.rootPath(),
                                     megabytes(storage.bytesAvailable()));
            return result;
        }
    }
    UpdateBase::crashPoint(QLatin1String("compact ") + fileName);
    // VACUUM is a transaction of its own: it fails as a whole and leaves the upgrade in place.
    if (sqlite3_exec(db, "VACUUM", nullptr, nullptr, nullptr) != SQLITE_OK) {
        result.reason = QString::fromUtf8(sqlite3_errmsg(db));
        return result;
    }
    // In WAL mode the compacted pages reach the file at the checkpoint.
    sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    result.outcome = Compaction::Compacted;
    result.sizeAfter = QFileInfo(fileName).size();
    return result;
}
