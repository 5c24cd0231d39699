// One database read for a comparison, through a connection that writes nothing of the folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "snapshot.h"

#include "databases.h"
#include "updatebase.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <sqlite3.h>

namespace {

QString sqliteError(sqlite3 *db)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
}

bool isWalFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) && file.read(20).mid(18, 1) == QByteArray(1, '\2');
}

} // namespace

Reader::~Reader()
{
    sqlite3_close(db);
}

QString openReader(const QString &name, Reader *reader)
{
    if (!QFileInfo(name).isFile())
        return name + QStringLiteral(" is missing");
    QString path = name;
    const bool wal = isWalFile(name);
    if (wal) {
        reader->scratch = std::make_unique<QTemporaryDir>();
        path = QDir(reader->scratch->path()).filePath(name);
        const QString walFile = name + QLatin1String("-wal");
        if (!reader->scratch->isValid() || !QFile::copy(name, path)
            || (QFileInfo::exists(walFile) && !QFile::copy(walFile, path + QLatin1String("-wal"))))
            return name + QStringLiteral(" cannot be copied to be read (a WAL database)");
    }
    const QByteArray uri = "file:" + QUrl::toPercentEncoding(path, "/")
        + (wal ? QByteArray() : QByteArray("?mode=ro"));
    const int flags = SQLITE_OPEN_URI | (wal ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    if (sqlite3_open_v2(uri.constData(), &reader->db, flags, nullptr) != SQLITE_OK)
        return name + QStringLiteral(" cannot be opened: ") + sqliteError(reader->db);
    sqlite3_extended_result_codes(reader->db, 1);
    UpdateBase::installBusyHandler(reader->db, name);

    // The first read is where SQLite meets a journal left by an interrupted writer; a read-only
    // connection cannot roll it back, and this command must not.
    sqlite3_stmt *query = nullptr;
    int rc
        = sqlite3_prepare_v2(reader->db, "select count(*) from sqlite_master", -1, &query, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(query);
    sqlite3_finalize(query);
    if (rc == SQLITE_READONLY_ROLLBACK)
        return name
            + QStringLiteral(" has an interrupted write to roll back (a hot journal beside it); "
                             "it is not read here, so as not to change it: run dbupgrade or "
                             "the analyser software once first");
    if (rc != SQLITE_ROW)
        return name + QStringLiteral(" cannot be read: ") + sqliteError(reader->db);
    return QString();
}

namespace {

QVariant columnValue(sqlite3_stmt *query, int column)
{
    switch (sqlite3_column_type(query, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(query, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(query, column);
    case SQLITE_TEXT:
        return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(query, column)),
                                 sqlite3_column_bytes(query, column));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(query, column)),
                          sqlite3_column_bytes(query, column));
    }
    return QVariant();
}

// Calls \a row for every row of \a sql; the error text when the statement fails.
template<typename Row>
QString eachRow(sqlite3 *db, const QByteArray &sql, Row row)
{
    sqlite3_stmt *query = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(query)) == SQLITE_ROW)
            row(query);
    }
    sqlite3_finalize(query);
    return rc == SQLITE_DONE ? QString() : sqliteError(db);
}

QByteArray quoted(const QString &identifier)
{
    return '"' + identifier.toUtf8().replace('"', "\"\"") + '"';
}

} // namespace

QString readSnapshot(sqlite3 *db, const QString &fileName, Snapshot *s)
{
    QString error;
    if (!readVersion(db, &s->version, &error))
        return error;
    QStringList tables;
    error = eachRow(db, "select type, name, sql, type = 'table' from sqlite_master", [&](auto q) {
        const QString name = columnValue(q, 1).toString();
        s->schema.insert(columnValue(q, 0).toString() + QLatin1Char(' ') + name,
                         columnValue(q, 2).toString());
        if (sqlite3_column_int(q, 3))
            tables.append(name);
    });
    for (const QString &table : qAsConst(tables)) {
        if (!error.isEmpty())
            return error;
        // In rowid order, which compaction keeps; a table without rowids is read in key order.
        QCryptographicHash hash(QCryptographicHash::Sha1);
        qint64 count = 0;
        const auto addRow = [&](sqlite3_stmt *q) {
            ++count;
            for (int i = 0; i < sqlite3_column_count(q); ++i) {
                const char type = char(sqlite3_column_type(q, i));
                // Blob first, then its size, as SQLite asks; numbers are hashed as their text.
                const char *bytes = static_cast<const char *>(sqlite3_column_blob(q, i));
                const int size = sqlite3_column_bytes(q, i);
                hash.addData(&type, 1);
                hash.addData(reinterpret_cast<const char *>(&size), sizeof size);
                hash.addData(bytes, size);
            }
        };
        const QByteArray select = "select * from " + quoted(table);
        error = eachRow(db, select + " order by rowid", addRow);
        if (!error.isEmpty() && count == 0)
            error = eachRow(db, select, addRow);
        s->rowCounts.insert(table, count);
        s->contents.insert(table, hash.result());
    }
    if (!error.isEmpty() || fileName != QLatin1String("profile.db"))
        return error;
    if (tables.contains(QLatin1String("profile")))
        error = eachRow(db, "select name, value from profile", [&](auto q) {
            s->settings.insert(columnValue(q, 0).toString(), columnValue(q, 1));
        });
    if (error.isEmpty() && tables.contains(QLatin1String("curve")))
        error = eachRow(db, "select * from curve", [&](sqlite3_stmt *q) {
            QVariantMap curve;
            for (const char *field : curveFields)
                curve.insert(QLatin1String(field), QVariant());
            qint64 id = 0;
            for (int i = 0; i < sqlite3_column_count(q); ++i) {
                const QString column = QString::fromUtf8(sqlite3_column_name(q, i));
                if (column == QLatin1String("id"))
                    id = sqlite3_column_int64(q, i);
                else if (curve.contains(column))
                    curve.insert(column, columnValue(q, i));
            }
            s->curves.insert(id, curve);
        });
    return error;
}
