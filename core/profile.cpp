// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include "messagebox.h"
#include "sqlwarning_p.h"

#include <QCoreApplication>
#include <QAtomicInteger>
#include <QHash>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace {

const char ProfileConnection[] = "profile.db";
const char DataConnection[] = "data.db";
const char QcConnection[] = "qc.db";
const char SyslogConnection[] = "syslog.db";

// Another process (the upgrade tool, a second instance) may hold a lock for a while; the
// connections and the store's own reader wait as long.
const int BusyTimeout = 30000;
const char ConnectOptions[] = "QSQLITE_BUSY_TIMEOUT=30000";

QSqlDatabase addConnection(const QString &name, const QString &fileName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(fileName);
    db.setConnectOptions(QLatin1String(ConnectOptions));
    return db;
}

const char TableCountStatement[] = "select count(*) from sqlite_master where type = 'table'";
const char RowCountStatement[] = "select count(*) from profile";
const char LoadStatement[] = "select name, value from profile";

bool isAscii(const char *text, int size)
{
    int i = 0;
    for (; i + 8 <= size; i += 8) {
        quint64 word;
        memcpy(&word, text + i, sizeof word);
        if (word & Q_UINT64_C(0x8080808080808080))
            return false;
    }
    for (; i < size; ++i) {
        if (static_cast<signed char>(text[i]) < 0)
            return false;
    }
    return true;
}

// A key hashes alike as Latin-1 bytes and as UTF-16, four characters a step: a load hashes
// every key, and widening each to UTF-16 first cost as much as the rest of storing it.
const quint64 HashFactor = Q_UINT64_C(0x9e3779b97f4a7c15);

inline quint64 hashStep(quint64 h, quint64 word)
{
    h = (h ^ word) * HashFactor;
    return h ^ (h >> 32);
}

inline uint hashFinish(quint64 h, int size)
{
    h ^= quint64(size);
    h *= Q_UINT64_C(0xff51afd7ed558ccd);
    h ^= h >> 33;
    h *= Q_UINT64_C(0xc4ceb9fe1a85ec53);
    return uint(h ^ (h >> 33));
}

// Four characters as one word, laid out alike from either form on any byte order.
inline quint64 hashWord(const char16_t *units)
{
    quint64 word;
    memcpy(&word, units, sizeof word);
    return word;
}

inline quint64 hashWord(const uchar *bytes)
{
    quint32 v;
    memcpy(&v, bytes, sizeof v);
    quint64 word = v;
    word = (word | word << 16) & Q_UINT64_C(0x0000ffff0000ffff);
    return (word | word << 8) & Q_UINT64_C(0x00ff00ff00ff00ff);
}

template<typename Unit>
uint hashUnits(const Unit *units, int size, uint seed)
{
    quint64 h = seed;
    int i = 0;
    for (; i + 4 <= size; i += 4)
        h = hashStep(h, hashWord(units + i));
    if (i < size) {
        quint64 word = 0;
        for (int shift = 0; i < size; ++i, shift += 16)
            word |= quint64(units[i]) << shift;
        h = hashStep(h, word);
    }
    return hashFinish(h, size);
}

uint keyHash(QStringView key, uint seed)
{
    return hashUnits(reinterpret_cast<const char16_t *>(key.data()), int(key.size()), seed);
}

uint keyHash(QLatin1String key, uint seed)
{
    return hashUnits(reinterpret_cast<const uchar *>(key.data()), key.size(), seed);
}

/*
    Table `profile` in memory: key -> value, with placeholders (invalid values) for keys looked
    up in vain. The ASCII keys loaded at start-up share one buffer and all entries one array, so
    a load of 10 000 rows costs a handful of allocations instead of three per row (key, value
    and hash node), and freeing the store is as cheap. Other keys own their text.
    A loaded ASCII text or blob stays as its bytes in that buffer, right after its key, until
    it is first read: building and freeing a string for every row, read or not, was about a
    third of the cost of a store. The first read builds it under the shared lock: the reader
    that claims the entry stores the value and then marks it built, which publishes it; a
    reader meanwhile waits for that mark, a swap away. Everything else changes under the
    exclusive lock only.
    A removed key keeps its entry, dead, for the next time it is set.
*/
class SettingsTable
{
public:
    enum RawType : quint8 { Built, Text, Blob, Building };

    // Under either lock: the value of key, built if need be, or null when it has none.
    const QVariant *find(QStringView key) const
    {
        const int i = entryOf(key, keyHash(key, m_seed));
        if (i < 0 || !m_entries[i].live)
            return nullptr;
        const Entry &entry = m_entries[i];
        if (entry.raw.loadAcquire() != Built)
            build(entry);
        return &entry.value;
    }

    // The entry of key, created or revived as a placeholder when it is not there.
    QVariant &insert(const QString &key)
    {
        const uint hash = keyHash(key, m_seed);
        int i = entryOf(key, hash);
        if (i < 0) {
            i = add(hash, int(m_owned.size()), key.size(), false);
            m_owned.push_back(key);
        } else {
            m_entries[i].live = true;
            m_entries[i].raw.storeRelaxed(Built);
        }
        return m_entries[i].value;
    }

    void remove(QStringView key)
    {
        const int i = entryOf(key, keyHash(key, m_seed));
        if (i >= 0) {
            m_entries[i].live = false;
            m_entries[i].raw.storeRelaxed(Built);
            m_entries[i].value = QVariant();
        }
    }

    QStringList keys() const
    {
        QStringList list;
        list.reserve(int(m_entries.size()));
        for (const Entry &entry : m_entries) {
            if (!entry.live)
                continue;
            if (entry.latin1)
                list.append(QString::fromLatin1(m_arena.constData() + entry.offset, entry.size));
            else
                list.append(m_owned[entry.offset]);
        }
        return list;
    }

    void reserve(int rows)
    {
        m_entries.reserve(m_entries.size() + rows);
        rehash(int(m_entries.size()) + rows);
        // About a key and a short value each; untouched bytes cost no memory.
        if (m_arena.size() < m_used + rows * 32)
            m_arena.resize(m_used + rows * 32);
    }

    // Start-up: a repeated key keeps the last value.
    void load(const QString &key, QVariant &&value) { insert(key) = std::move(value); }
    void load(QLatin1String key, QVariant &&value)
    {
        const uint hash = keyHash(key, m_seed);
        const int i = entryOf(key, hash);
        if (i >= 0) {
            revive(i) = std::move(value);
            return;
        }
        m_entries[add(hash, store(key.data(), key.size(), 0), key.size(), true)].value =
            std::move(value);
    }

    // Start-up: an ASCII text or a blob, kept as its bytes.
    void loadRaw(QLatin1String key, RawType type, const char *bytes, int size)
    {
        const uint hash = keyHash(key, m_seed);
        const int i = entryOf(key, hash);
        if (i >= 0) {
            revive(i) = rawValue(type, bytes, size);
            return;
        }
        const int offset = store(key.data(), key.size(), size);
        memcpy(m_arena.data() + offset + key.size(), bytes, size_t(size));
        Entry &entry = m_entries[add(hash, offset, key.size(), true)];
        entry.raw.storeRelaxed(type);
        entry.rawSize = size;
    }

private:
    struct Entry
    {
        mutable QVariant value;
        int offset; // in m_arena, or the index in m_owned
        int size;
        int rawSize; // the bytes after the key, while raw is not Built
        bool latin1;
        bool live;
        mutable QAtomicInteger<quint8> raw;
    };

    struct Slot
    {
        int entry;
        uint hash;
    };

    void build(const Entry &entry) const
    {
        const quint8 type = entry.raw.loadAcquire();
        if (type == Built)
            return;
        if (type != Building) {
            QVariant value = rawValue(RawType(type),
                                      m_arena.constData() + entry.offset + entry.size,
                                      entry.rawSize);
            if (entry.raw.testAndSetAcquire(type, Building)) {
                entry.value.swap(value);
                entry.raw.storeRelease(Built);
                return;
            }
        }
        while (entry.raw.loadAcquire() != Built)
            QThread::yieldCurrentThread();
    }

    static QVariant rawValue(RawType type, const char *bytes, int size)
    {
        if (type == Text)
            return QString::fromLatin1(bytes, size);
        return QByteArray(bytes, size);
    }

    QVariant &revive(int i)
    {
        m_entries[i].live = true;
        m_entries[i].raw.storeRelaxed(Built);
        return m_entries[i].value;
    }

    // Room for a key and the value after it; the offset of the key, which is copied in.
    int store(const char *key, int size, int valueSize)
    {
        const int offset = m_used;
        const int needed = offset + size + valueSize;
        if (needed > m_arena.size())
            m_arena.resize(std::max(needed, std::max(4096, m_arena.size() * 2)));
        memcpy(m_arena.data() + offset, key, size_t(size));
        m_used = needed;
        return offset;
    }

    bool matches(const Entry &entry, QStringView key) const
    {
        if (entry.size != key.size())
            return false;
        if (!entry.latin1)
            return m_owned[entry.offset] == key;
        // Four characters a step, widened as for the hash.
        const auto *bytes = reinterpret_cast<const uchar *>(m_arena.constData() + entry.offset);
        const auto *units = reinterpret_cast<const char16_t *>(key.data());
        const int size = entry.size;
        int i = 0;
        for (; i + 4 <= size; i += 4) {
            if (hashWord(bytes + i) != hashWord(units + i))
                return false;
        }
        for (; i < size; ++i) {
            if (units[i] != bytes[i])
                return false;
        }
        return true;
    }

    bool matches(const Entry &entry, QLatin1String key) const
    {
        if (entry.size != key.size())
            return false;
        if (!entry.latin1)
            return QtPrivate::compareStrings(QStringView(m_owned[entry.offset]), key) == 0;
        return memcmp(m_arena.constData() + entry.offset, key.data(), size_t(key.size())) == 0;
    }

    // The hash sits in the slot, so a probe past other keys does not touch their entries.
    template<typename Key>
    int entryOf(Key key, uint hash) const
    {
        if (m_slots.empty())
            return -1;
        const size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot &slot = m_slots[i];
            if (slot.entry < 0)
                return -1;
            if (slot.hash == hash && matches(m_entries[slot.entry], key))
                return slot.entry;
        }
    }

    int add(uint hash, int offset, int size, bool latin1)
    {
        if ((m_entries.size() + 1) * 4 > m_slots.size() * 3)
            rehash(int(m_entries.size()) + 1);
        const int i = int(m_entries.size());
        place(m_slots, Slot {i, hash});
        m_entries.push_back(Entry {QVariant(), offset, size, 0, latin1, true, {Built}});
        return i;
    }

    static void place(std::vector<Slot> &table, Slot slot)
    {
        const size_t mask = table.size() - 1;
        size_t i = slot.hash & mask;
        while (table[i].entry >= 0)
            i = (i + 1) & mask;
        table[i] = slot;
    }

    // At most three quarters full, so probes stay short.
    void rehash(int entries)
    {
        size_t size = 16;
        while (size * 3 < size_t(entries) * 4)
            size *= 2;
        if (size <= m_slots.size())
            return;
        std::vector<Slot> table(size, Slot {-1, 0});
        for (const Slot &slot : m_slots) {
            if (slot.entry >= 0)
                place(table, slot);
        }
        m_slots.swap(table);
    }

    uint m_seed = uint(qGlobalQHashSeed());
    // The ASCII keys loaded at start-up, each followed by its raw value; m_used bytes in use.
    QByteArray m_arena;
    int m_used = 0;
    std::vector<QString> m_owned;
    std::vector<Entry> m_entries;
    std::vector<Slot> m_slots;
};

/*
    Reads table `profile` with SQLite itself. Going through QSqlQuery costs three times what
    QSettings needs for an INI file of the same keys: the driver converts every text to UTF-16
    inside SQLite and caches each row in a vector of variants. Values come out exactly as the
    driver gives them; only the work in between is saved.
*/
class ProfileReader
{
public:
    explicit ProfileReader(const QString &fileName)
    {
        // The flags and the time-out of the registered connection, so both see the same file;
        // no mutex, as this handle never leaves the constructing thread.
        m_code = sqlite3_open_v2(fileName.toUtf8().constData(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (m_code == SQLITE_OK)
            m_code = sqlite3_busy_timeout(m_db, BusyTimeout);
        // One read transaction for all statements: one lock and one check of the file, and the
        // rows agree with the table count. Closing the handle ends it. The pages are read from
        // a map of the file rather than copied into a cache that closing throws away.
        if (m_code == SQLITE_OK)
            m_code = sqlite3_exec(m_db, "begin; pragma mmap_size = 268435456", nullptr, nullptr,
                                  nullptr);
        keepError();
    }
    ~ProfileReader() { sqlite3_close(m_db); }

    bool isOpen() const { return m_code == SQLITE_OK; }
    bool isBusy() const
    {
        return (m_code & 0xff) == SQLITE_BUSY || (m_code & 0xff) == SQLITE_LOCKED;
    }
    // For the location-tagged warning, which takes what a query gives.
    QSqlError lastError() const
    {
        return QSqlError(QString(), m_error, QSqlError::StatementError, QString::number(m_code));
    }

    // -1 when the schema cannot be read.
    int tableCount()
    {
        int count = -1;
        run(TableCountStatement,
            [&](sqlite3_stmt *statement) { count = sqlite3_column_int(statement, 0); });
        return m_code == SQLITE_OK ? count : -1;
    }

    bool load(SettingsTable &values)
    {
        // Sized once: growing the table row by row costs more than counting the rows.
        run(RowCountStatement,
            [&](sqlite3_stmt *statement) { values.reserve(sqlite3_column_int(statement, 0)); });
        return run(LoadStatement, [&](sqlite3_stmt *statement) {
            // The row's values as they are, without the checks each column call makes again;
            // valid until the next step, and this handle is used by one thread.
            sqlite3_value *name = sqlite3_column_value(statement, 0);
            sqlite3_value *value = sqlite3_column_value(statement, 1);
            // A name that is not text comes out as the driver's variant converts it.
            if (sqlite3_value_type(name) != SQLITE_TEXT) {
                values.load(column(statement, 0).toString(), column(statement, 1));
                return;
            }
            const char *utf8 = reinterpret_cast<const char *>(sqlite3_value_text(name));
            const int size = sqlite3_value_bytes(name);
            if (!isAscii(utf8, size)) {
                values.load(text(statement, 0), column(statement, 1));
                return;
            }
            const QLatin1String key(utf8, size);
            // An ASCII text or a blob is kept as its bytes, which read back as the same value;
            // the rest is built now: numbers and null cost no allocation, other texts need
            // SQLite's conversion, and an empty blob comes back null, unlike an empty copy.
            switch (sqlite3_value_type(value)) {
            case SQLITE_TEXT: {
                const char *bytes = reinterpret_cast<const char *>(sqlite3_value_text(value));
                const int bytesSize = sqlite3_value_bytes(value);
                if (isAscii(bytes, bytesSize)) {
                    values.loadRaw(key, SettingsTable::Text, bytes, bytesSize);
                    return;
                }
                break;
            }
            case SQLITE_BLOB:
                if (const void *bytes = sqlite3_value_blob(value)) {
                    values.loadRaw(key, SettingsTable::Blob, static_cast<const char *>(bytes),
                                   sqlite3_value_bytes(value));
                    return;
                }
                break;
            default:
                break;
            }
            values.load(key, column(statement, 1));
        });
    }

private:
    template<typename Row>
    bool run(const char *sql, Row row)
    {
        if (!isOpen())
            return false;
        sqlite3_stmt *statement = nullptr;
        m_code = sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr);
        if (m_code == SQLITE_OK) {
            while ((m_code = sqlite3_step(statement)) == SQLITE_ROW)
                row(statement);
            if (m_code == SQLITE_DONE)
                m_code = SQLITE_OK;
        }
        keepError();
        sqlite3_finalize(statement);
        return m_code == SQLITE_OK;
    }

    void keepError()
    {
        if (m_code != SQLITE_OK)
            m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db))
                           : QString::fromUtf8(sqlite3_errstr(m_code));
    }

    // As the driver: UTF-16 from SQLite's own conversion, which treats invalid UTF-8 its way.
    // Plain ASCII, the usual case, needs no conversion at all.
    static QString text(sqlite3_stmt *statement, int i)
    {
        const char *utf8 = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
        const int size = sqlite3_column_bytes(statement, i);
        if (isAscii(utf8, size))
            return QString::fromLatin1(utf8, size);
        return QString(static_cast<const QChar *>(sqlite3_column_text16(statement, i)),
                       sqlite3_column_bytes16(statement, i) / int(sizeof(QChar)));
    }

    static QVariant column(sqlite3_stmt *statement, int i)
    {
        switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER:
            return qlonglong(sqlite3_column_int64(statement, i));
        case SQLITE_FLOAT:
            return sqlite3_column_double(statement, i);
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, i)),
                              sqlite3_column_bytes(statement, i));
        case SQLITE_NULL:
            return QVariant(QVariant::String);
        default:
            return text(statement, i);
        }
    }

    sqlite3 *m_db = nullptr;
    int m_code = SQLITE_OK;
    QString m_error;
};

// The shared cache of one named setting: filled by the first read, changed by the setter.
// The generation tells each thread's copy whether it is still current (0: not filled yet).
template<typename T>
struct NamedCache
{
    T value {};
    bool filled = false;
    std::atomic<quint64> generation {0};
};

// One thread's copy of a named setting, so a reader never shares an object with a setter.
template<typename T>
struct NamedCopy
{
    T value {};
    quint64 generation = 0;
};

struct ThreadCopies
{
#define PROFILE_DECLARE_COPY(Type, key) NamedCopy<Type> key;
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_COPY)
#undef PROFILE_DECLARE_COPY
};

// Per thread, the copies for every store it has read from (in practice one). They live until
// the thread ends, so a returned reference never dangles.
struct ThreadStores
{
    quint64 lastStore = 0;
    ThreadCopies *last = nullptr;
    std::unordered_map<quint64, std::unique_ptr<ThreadCopies>> byStore;

    ThreadCopies &copiesOf(quint64 store)
    {
        if (store != lastStore) {
            std::unique_ptr<ThreadCopies> &copies = byStore[store];
            if (!copies)
                copies.reset(new ThreadCopies);
            last = copies.get();
            lastStore = store;
        }
        return *last;
    }
};

thread_local ThreadStores threadStores;
std::atomic<quint64> nextStoreId {1};

} // namespace

class ProfilePrivate
{
public:
    explicit ProfilePrivate(Profile *profile)
        : q(profile)
    {
    }

    // With the lock held for writing: the value of key, leaving a placeholder when it has none.
    QVariant lookupLocked(const QString &key, const QVariant &defaultValue)
    {
        if (const QVariant *stored = values.find(key))
            return stored->isValid() ? *stored : defaultValue;
        values.insert(key);
        return defaultValue;
    }

    // With the lock held for writing: the change in memory and, saved, in the pending batch.
    // True when the caller must ask the store's thread to write the batch.
    bool storeLocked(const QString &key, const QVariant &value, bool save)
    {
        values.insert(key) = value;
        return save && queueLocked(key, value);
    }

    bool queueLocked(const QString &key, const QVariant &value)
    {
        pending.insert(key, value);
        if (writeScheduled)
            return false;
        writeScheduled = true;
        return true;
    }

    void scheduleWrite();
    void writePending();
    void moveToMainThread();

    template<typename T>
    const T &named(NamedCache<T> &cache, NamedCopy<T> &copy, const char *key, const T &defaultValue)
    {
        const quint64 generation = cache.generation.load(std::memory_order_acquire);
        if (generation != 0 && generation == copy.generation)
            return copy.value;
        std::unique_lock<std::shared_mutex> locker(lock);
        if (!cache.filled) {
            cache.value = lookupLocked(QLatin1String(key), QVariant::fromValue(defaultValue))
                              .template value<T>();
            cache.filled = true;
            cache.generation.store(cache.generation.load() + 1, std::memory_order_release);
        }
        copy.value = cache.value;
        copy.generation = cache.generation.load(std::memory_order_relaxed);
        return copy.value;
    }

    template<typename T>
    void setNamed(NamedCache<T> &cache, const char *key, const T &value, bool save)
    {
        const QString name = QLatin1String(key);
        const QVariant variant = QVariant::fromValue(value);
        bool post;
        {
            std::unique_lock<std::shared_mutex> locker(lock);
            cache.value = value;
            cache.filled = true;
            cache.generation.store(cache.generation.load() + 1, std::memory_order_release);
            post = storeLocked(name, variant, save);
        }
        if (post)
            scheduleWrite();
        if (save)
            emit q->valueChanged(name, variant);
    }

    ThreadCopies &threadCopies() { return threadStores.copiesOf(id); }

    Profile *q;
    const quint64 id = nextStoreId++;
    QString fileName;
    SettingsTable values;
    // Saved changes not written yet, the latest per key; an invalid value deletes the row.
    QHash<QString, QVariant> pending;
    bool writeScheduled = false;
    // Guards values, pending, writeScheduled and the named caches.
    mutable std::shared_mutex lock;

#define PROFILE_DECLARE_CACHE(Type, key) NamedCache<Type> key;
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_CACHE)
#undef PROFILE_DECLARE_CACHE
};

void ProfilePrivate::scheduleWrite()
{
    // Without an application nothing would deliver the request; the owner then writes at once.
    if (!QCoreApplication::instance() && QThread::currentThread() == q->thread()) {
        writePending();
        return;
    }
    QMetaObject::invokeMethod(
        q, [this] { writePending(); }, Qt::QueuedConnection);
}

namespace {

// Rows per statement of a batch: fewer statements to step, few enough values to bind.
const int RowsPerStatement = 64;

// Keeps the row and updates its value in place, which leaves the name index alone; a table
// without a unique name (never written by the upgrade) falls back to replacing the row.
QString storeStatement(int rows, bool inPlace)
{
    QString sql = QLatin1String(inPlace ? "insert" : "insert or replace");
    sql += QLatin1String(" into profile (name, value) values(?,?)");
    for (int i = 1; i < rows; ++i)
        sql += QLatin1String(",(?,?)");
    if (inPlace)
        sql += QLatin1String(" on conflict(name) do update set value = excluded.value");
    return sql;
}

// All rows of a batch that JSON carries exactly, as one object that SQLite takes apart itself:
// binding 10 000 values one at a time through QSqlQuery costs more than writing the rows.
QString jsonStoreStatement(bool inPlace)
{
    return inPlace ? QStringLiteral("insert into profile (name, value) select key, value from "
                                    "json_each(?) where true on conflict(name) do update set "
                                    "value = excluded.value")
                   : QStringLiteral("insert or replace into profile (name, value) select key, "
                                    "value from json_each(?)");
}

// The text as a JSON string; false for a NUL character, which JSON functions cut the text at.
bool appendJsonString(QString &json, const QString &text)
{
    json += QLatin1Char('"');
    const QChar *run = text.constData();
    const QChar *end = run + text.size();
    for (const QChar *p = run; p != end; ++p) {
        const ushort unit = p->unicode();
        if (unit >= 0x20 && unit != '"' && unit != '\\')
            continue;
        if (unit == 0)
            return false;
        json.append(run, int(p - run));
        if (unit < 0x20) {
            json += QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0'));
        } else {
            json += QLatin1Char('\\');
            json += *p;
        }
        run = p + 1;
    }
    json.append(run, int(end - run));
    json += QLatin1Char('"');
    return true;
}

// Only the types whose JSON form SQLite stores with the storage class the driver's binding gives
// them: texts (text, or NULL when null), whole numbers (integer) and truth values (1 or 0).
// Reals, blobs and the rest are bound one by one.
bool appendJsonValue(QString &json, const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QString:
        if (value.isNull()) {
            json += QLatin1String("null");
            return true;
        }
        return appendJsonString(json, *static_cast<const QString *>(value.constData()));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        json += QString::number(value.toLongLong());
        return true;
    case QMetaType::Bool:
        json += QLatin1String(value.toBool() ? "true" : "false");
        return true;
    default:
        return false;
    }
}

// A lock held past the time-out: every further statement would wait as long again.
bool isBusy(const QSqlQuery &query)
{
    const int code = query.lastError().nativeErrorCode().toInt() & 0xff;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

} // namespace

void ProfilePrivate::writePending()
{
    QHash<QString, QVariant> batch;
    {
        std::unique_lock<std::shared_mutex> locker(lock);
        batch.swap(pending);
        writeScheduled = false;
    }
    if (batch.isEmpty())
        return;

    using Change = QHash<QString, QVariant>::const_iterator;
    QString json = QStringLiteral("{");
    int jsonRows = 0;
    std::vector<Change> bound;
    std::vector<Change> removals;
    for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
        if (!it->isValid()) {
            removals.push_back(it);
            continue;
        }
        const int mark = json.size();
        if (jsonRows > 0)
            json += QLatin1Char(',');
        if (appendJsonString(json, it.key())
            && (json += QLatin1Char(':'), appendJsonValue(json, *it))) {
            ++jsonRows;
        } else {
            json.truncate(mark);
            bound.push_back(it);
        }
    }
    json += QLatin1Char('}');

    // One transaction, so a burst of changes costs one disk sync. It cannot begin while the
    // application holds one open on this connection; the rows then join that one.
    // A failed write keeps the value in memory; the warning says why the file did not follow.
    QSqlDatabase db = q->database();
    const bool ownTransaction = db.transaction();
    bool busy = false;
    bool inPlace = true;
    if (jsonRows > 0) {
        QSqlQuery query(db);
        bool prepared = query.prepare(jsonStoreStatement(inPlace));
        if (!prepared) {
            inPlace = false;
            prepared = query.prepare(jsonStoreStatement(inPlace));
        }
        if (prepared) {
            query.bindValue(0, json);
            if (!query.exec()) {
                CORE_SQL_WARNING(lcProfile, query);
                busy = isBusy(query);
            }
        } else {
            // The rows go one by one below, which says why they fail.
            inPlace = true;
            bound.clear();
            for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
                if (it->isValid())
                    bound.push_back(it);
            }
        }
    }
    {
        QSqlQuery query(db);
        int preparedRows = 0;
        for (size_t first = 0; first < bound.size() && !busy; first += RowsPerStatement) {
            const int rows = int(std::min(bound.size() - first, size_t(RowsPerStatement)));
            if (rows != preparedRows) {
                preparedRows = rows;
                if (!query.prepare(storeStatement(rows, inPlace))) {
                    inPlace = false;
                    if (!query.prepare(storeStatement(rows, inPlace))) {
                        CORE_SQL_WARNING(lcProfile, query);
                        break;
                    }
                }
            }
            for (int i = 0; i < rows; ++i) {
                query.bindValue(2 * i, bound[first + i].key());
                query.bindValue(2 * i + 1, *bound[first + i]);
            }
            if (!query.exec()) {
                CORE_SQL_WARNING(lcProfile, query);
                busy = isBusy(query);
            }
        }
    }
    if (!removals.empty() && !busy) {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("delete from profile where name = ?"))) {
            CORE_SQL_WARNING(lcProfile, query);
        } else {
            for (const auto &it : removals) {
                query.bindValue(0, it.key());
                if (!query.exec()) {
                    CORE_SQL_WARNING(lcProfile, query);
                    if (isBusy(query))
                        break;
                }
            }
        }
    }
    if (ownTransaction && !db.commit()) {
        CORE_SQL_WARNING(lcProfile, db);
        db.rollback();
    }
}

// The connections and the store's queued writes belong to one thread for the life of the
// process. A worker that makes the first call hands them to the main thread before any other
// caller sees the store, so they do not die with the worker.
void ProfilePrivate::moveToMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || q->thread() == app->thread())
        return;
    for (const char *name : {ProfileConnection, DataConnection, QcConnection, SyslogConnection}) {
        QSqlDatabase db = QSqlDatabase::database(QLatin1String(name), false);
        if (db.isValid())
            db.driver()->moveToThread(app->thread());
    }
    q->moveToThread(app->thread());
}

Profile &Profile::instance()
{
    static Profile profile;
    static const bool owned = [] {
        profile.d->moveToMainThread();
        // The store outlives the application object, and by its own destruction Qt's
        // connections are gone: changes saved in the last turn of the event loop are written
        // while the application is being torn down, when the connections still work.
        if (QCoreApplication::instance())
            qAddPostRoutine([] { profile.d->writePending(); });
        return true;
    }();
    Q_UNUSED(owned)
    return profile;
}

Profile::Profile(QObject *parent)
    : QObject(parent)
{
    init(QLatin1String(ProfileConnection));
}

Profile::Profile(const QString &fileName, QObject *parent)
    : QObject(parent)
{
    init(fileName);
}

Profile::~Profile()
{
    // Changes saved in the last turn of the event loop still reach the file.
    if (QThread::currentThread() == thread())
        d->writePending();
    delete d;
}

void Profile::init(const QString &fileName)
{
    d = new ProfilePrivate(this);
    d->fileName = fileName;

    QSqlDatabase db = addConnection(QLatin1String(ProfileConnection), fileName);
    if (!db.open())
        warning(tr("无法加载配置文件 %1\n%2").arg(fileName, db.lastError().text()));

    // Boxes only after the reader has let go of the file, so a box left open holds no lock.
    // A held file is waited for as long as the busy time-out says, then reported with its
    // cause: it is not a wrong file, and the store must not pass for loaded.
    bool noTables = false;
    QString loadError;
    {
        ProfileReader reader(fileName);
        const int tables = reader.tableCount();
        bool loaded = false;
        if (tables >= 0 || !reader.isBusy()) {
            noTables = tables <= 0;
            loaded = tables == 0 || reader.load(d->values);
        }
        if (!loaded) {
            loadError = reader.lastError().text();
            CORE_SQL_WARNING(lcProfile, reader);
        }
    }
    if (noTables)
        warning(tr("错误的配置文件 %1").arg(fileName));
    else if (!loadError.isEmpty())
        warning(tr("无法加载配置文件 %1\n%2").arg(fileName, loadError));

    for (const char *name : {DataConnection, QcConnection, SyslogConnection}) {
        const QString fileName = QLatin1String(name);
        QSqlDatabase other = addConnection(fileName, fileName);
        if (!other.open())
            warning(tr("无法打开数据库文件 %1").arg(fileName));
        if (other.tables(QSql::Tables).isEmpty())
            warning(tr("错误的数据库文件 %1").arg(fileName));
    }
}

QSqlDatabase Profile::database() const
{
    return QSqlDatabase::database(QLatin1String(ProfileConnection), true);
}

QSqlDatabase Profile::dataDatabase() const
{
    return QSqlDatabase::database(QLatin1String(DataConnection), true);
}

QSqlDatabase Profile::qcDatabase() const
{
    return QSqlDatabase::database(QLatin1String(QcConnection), true);
}

QSqlDatabase Profile::syslogDatabase() const
{
    return QSqlDatabase::database(QLatin1String(SyslogConnection), true);
}

QVariant Profile::value(const QString &key, const QVariant &defaultValue)
{
    {
        std::shared_lock<std::shared_mutex> locker(d->lock);
        if (const QVariant *stored = d->values.find(key))
            return stored->isValid() ? *stored : defaultValue;
    }
    // Remember the miss, so keys() lists every key the application asked for.
    std::unique_lock<std::shared_mutex> locker(d->lock);
    return d->lookupLocked(key, defaultValue);
}

QVariant Profile::value2(const QString &key, const QString &fallbackKey,
                         const QVariant &defaultValue)
{
    const QVariant v = value(key, QVariant());
    if (v.isValid())
        return v;
    return value(fallbackKey, defaultValue);
}

void Profile::setValue(const QString &key, const QVariant &value, bool save)
{
    bool post;
    {
        std::unique_lock<std::shared_mutex> locker(d->lock);
        post = d->storeLocked(key, value, save);
    }
    if (post)
        d->scheduleWrite();
    if (save)
        emit valueChanged(key, value);
}

void Profile::remove(const QString &key)
{
    bool post;
    {
        std::unique_lock<std::shared_mutex> locker(d->lock);
        d->values.remove(key);
        post = d->queueLocked(key, QVariant());
    }
    if (post)
        d->scheduleWrite();
    emit keyRemoved(key);
}

QStringList Profile::keys() const
{
    std::shared_lock<std::shared_mutex> locker(d->lock);
    return d->values.keys();
}

// The named settings: the first read fills the shared cache, which only the setter changes
// afterwards; each thread reads its own copy of it.
#define PROFILE_DEFINE_SETTING(Type, key) \
    const Type &Profile::key(const Type &defaultValue) \
    { \
        return d->named(d->key, d->threadCopies().key, #key, defaultValue); \
    } \
    void Profile::set_##key(const Type &value, bool save) \
    { \
        d->setNamed(d->key, #key, value, save); \
    }
PROFILE_NAMED_SETTINGS(PROFILE_DEFINE_SETTING)
#undef PROFILE_DEFINE_SETTING
