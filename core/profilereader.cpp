// The settings store's reader: table `profile` loaded through SQLite itself.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profilereader_p.h"

#include <sqlite3.h>

namespace ProfileStorage {

void HandleCloser::operator()(sqlite3 *db) const
{
    sqlite3_close_v2(db);
}

void ValueFree::operator()(sqlite3_value *value) const
{
    sqlite3_value_free(value);
}

QString errorText(sqlite3 *db, int code)
{
    return QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

} // namespace ProfileStorage

namespace {

bool isAscii(const char *text, int size)
{
    for (int i = 0; i < size; ++i) {
        if (static_cast<signed char>(text[i]) < 0)
            return false;
    }
    return true;
}

// Plain ASCII, the usual case, needs no conversion; other texts take SQLite's own conversion,
// as the driver does, which treats invalid UTF-8 its way.
QString text(sqlite3_stmt *statement, int i)
{
    const char *utf8 = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
    const int size = sqlite3_column_bytes(statement, i);
    if (isAscii(utf8, size))
        return QString::fromLatin1(utf8, size);
    return QString(static_cast<const QChar *>(sqlite3_column_text16(statement, i)),
                   sqlite3_column_bytes16(statement, i) / int(sizeof(QChar)));
}

QVariant column(sqlite3_stmt *statement, int i)
{
    switch (sqlite3_column_type(statement, i)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement, i));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, i);
    case SQLITE_BLOB: {
        // A stored empty blob gives no pointer; it is still an empty value, not a null one.
        const char *bytes = static_cast<const char *>(sqlite3_column_blob(statement, i));
        return QByteArray(bytes ? bytes : "", sqlite3_column_bytes(statement, i));
    }
    case SQLITE_NULL:
        return QVariant(QVariant::String);
    default:
        return text(statement, i);
    }
}

} // namespace

ProfileReader::ProfileReader(const QString &fileName, bool readOnly)
{
    sqlite3 *db = nullptr;
    // The handle is used by one thread at a time (the writer's lock), so it needs no mutex.
    const int access = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    m_code = sqlite3_open_v2(fileName.toUtf8().constData(), &db, access | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    m_handle.reset(db);
    if (m_code == SQLITE_OK)
        m_code = sqlite3_busy_timeout(db, ProfileStorage::BusyTimeout);
    // One read transaction for both statements: one lock, and the rows agree with the schema.
    if (m_code == SQLITE_OK)
        m_code = sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    if (m_code != SQLITE_OK) {
        m_error = ProfileStorage::errorText(db, m_code);
        m_handle.reset();
    }
}

bool ProfileReader::isBusy() const
{
    return (m_code & 0xff) == SQLITE_BUSY || (m_code & 0xff) == SQLITE_LOCKED;
}

template<typename Row>
bool ProfileReader::run(const char *sql, Row row)
{
    if (!isOpen())
        return false;
    sqlite3_stmt *statement = nullptr;
    m_code = sqlite3_prepare_v2(m_handle.get(), sql, -1, &statement, nullptr);
    if (m_code == SQLITE_OK) {
        while ((m_code = sqlite3_step(statement)) == SQLITE_ROW)
            row(statement);
        if (m_code == SQLITE_DONE)
            m_code = SQLITE_OK;
    }
    if (m_code != SQLITE_OK)
        m_error = ProfileStorage::errorText(m_handle.get(), m_code);
    sqlite3_finalize(statement);
    return m_code == SQLITE_OK;
}

int ProfileReader::tableCount()
{
    int count = -1;
    run("select count(*) from sqlite_master where type = 'table'",
        [&](sqlite3_stmt *statement) { count = sqlite3_column_int(statement, 0); });
    return m_code == SQLITE_OK ? count : -1;
}

bool ProfileReader::load(QHash<QString, QVariant> &values,
                         QHash<QString, ProfileStorage::StoredName> &oddNames)
{
    return run("select name, value from profile", [&](sqlite3_stmt *statement) {
        sqlite3_value *name = sqlite3_column_value(statement, 0);
        QString key;
        ProfileStorage::StoredName stored;
        if (sqlite3_value_type(name) == SQLITE_TEXT) {
            const char *utf8 = reinterpret_cast<const char *>(sqlite3_value_text(name));
            const int size = sqlite3_value_bytes(name);
            if (isAscii(utf8, size)) {
                key = QString::fromLatin1(utf8, size);
            } else {
                // Taken before the conversion to UTF-16, which may rewrite the name's bytes.
                const QByteArray bytes(utf8, size);
                stored.reset(sqlite3_value_dup(name), ProfileStorage::ValueFree());
                key = text(statement, 0);
                if (key.toUtf8() == bytes)
                    stored.reset();
            }
        } else {
            stored.reset(sqlite3_value_dup(name), ProfileStorage::ValueFree());
            key = text(statement, 0);
        }
        if (stored)
            oddNames.insert(key, stored);
        values.insert(key, column(statement, 1));
    });
}

ProfileStorage::Handle ProfileReader::takeHandle()
{
    if (m_handle)
        sqlite3_exec(m_handle.get(), "commit", nullptr, nullptr, nullptr);
    return std::move(m_handle);
}
