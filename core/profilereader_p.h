// The settings store's reader: table `profile` loaded through SQLite itself (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROFILEREADER_P_H
#define PROFILEREADER_P_H

#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>

struct sqlite3;
struct sqlite3_value;

namespace ProfileStorage {

// Another process (the upgrade tool, a second instance) may hold a lock for a while; start-up,
// sync() and the last write at exit wait as long as the application's connections do.
constexpr int BusyTimeout = 30000;

struct HandleCloser
{
    void operator()(sqlite3 *db) const;
};
// An SQLite connection of the store's own, closed with its owner; it needs no Qt plugin, so it
// still works while the process exits.
using Handle = std::unique_ptr<sqlite3, HandleCloser>;

struct ValueFree
{
    void operator()(sqlite3_value *value) const;
};
// A name as the file stores it, where the text read from it would not find the row again.
using StoredName = std::shared_ptr<sqlite3_value>;

// The text of \a code and, when \a db is set, of its last error.
QString errorText(sqlite3 *db, int code);

} // namespace ProfileStorage

/*
    Opens the settings database and reads table `profile` into a hash, in one read transaction.
    Values come out as Qt's SQLite driver returns them (integer as qlonglong, real as double,
    text as QString, blob as QByteArray, NULL as a null QString), except that an empty blob stays
    an empty, non-null QByteArray. The handle goes on to the writer afterwards. Read-only, the
    file is opened without write access and a missing one is not created.
*/
class ProfileReader
{
public:
    explicit ProfileReader(const QString &fileName, bool readOnly = false);

    bool isOpen() const { return m_handle != nullptr; }
    // A lock held by another connection past the busy time-out.
    bool isBusy() const;
    QString errorString() const { return m_error; }

    // -1 when the schema cannot be read.
    int tableCount();
    // Every row into \a values (a repeated name keeps the last row) and, for names that do not
    // survive the trip to text and back (not valid UTF-8, not text), the name as stored.
    bool load(QHash<QString, QVariant> &values,
              QHash<QString, ProfileStorage::StoredName> &oddNames);

    ProfileStorage::Handle takeHandle();

private:
    template<typename Row>
    bool run(const char *sql, Row row);

    ProfileStorage::Handle m_handle;
    int m_code = 0;
    QString m_error;
};

#endif // PROFILEREADER_P_H
