// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include "ryglobal.h"
#include "sqlwarning_p.h"

#include <QHash>
#include <QReadWriteLock>
#include <QSqlQuery>

#ifdef CORE_SYSTEM_SQLITE
#include <QSqlDriver>
#include <sqlite3.h>
#endif

namespace {

const char ProfileConnection[] = "profile.db";
const char DataConnection[] = "data.db";
const char QcConnection[] = "qc.db";
const char SyslogConnection[] = "syslog.db";

// Another process (the upgrade tool, a second instance) may hold a lock for a while.
const char ConnectOptions[] = "QSQLITE_BUSY_TIMEOUT=30000";

QSqlDatabase addConnection(const QString &name, const QString &fileName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(fileName);
    db.setConnectOptions(QLatin1String(ConnectOptions));
    return db;
}

const char LoadStatement[] = "select name, value from profile";

#ifdef CORE_SYSTEM_SQLITE
// Reading the table through the SQLite handle of the driver, with the driver's own mapping of a
// column to a QVariant, takes a third of the time of QSqlQuery, whose every text goes through
// SQLite's UTF-16 conversion. ASCII text, the common case, is taken as Latin-1 directly.
QString columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = sqlite3_column_text(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    bool ascii = true;
    for (int i = 0; i < size && ascii; ++i)
        ascii = text[i] < 0x80;
    if (ascii)
        return QString::fromLatin1(reinterpret_cast<const char *>(text), size);
    return QString(static_cast<const QChar *>(sqlite3_column_text16(statement, column)),
                   sqlite3_column_bytes16(statement, column) / int(sizeof(QChar)));
}

QVariant columnValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_NULL:
        return QVariant(QVariant::String);
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                          sqlite3_column_bytes(statement, column));
    default:
        return columnText(statement, column);
    }
}

// False when the driver's handle is not a system SQLite connection; the caller then reads
// through QSqlQuery.
bool loadThroughHandle(const QSqlDatabase &db, QHash<QString, QVariant> &values)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *connection = *static_cast<sqlite3 *const *>(handle.constData());
    if (!connection)
        return false;
    sqlite3_stmt *statement = nullptr;
    // Sized once: growing a hash of thousands of entries step by step costs more than counting.
    if (sqlite3_prepare_v2(connection, "select count(*) from profile", -1, &statement, nullptr)
            == SQLITE_OK
        && sqlite3_step(statement) == SQLITE_ROW)
        values.reserve(int(qBound<sqlite3_int64>(0, sqlite3_column_int64(statement, 0), 1 << 24)));
    sqlite3_finalize(statement);
    statement = nullptr;
    if (sqlite3_prepare_v2(connection, LoadStatement, -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const QString name = sqlite3_column_type(statement, 0) == SQLITE_TEXT
                ? columnText(statement, 0)
                : columnValue(statement, 0).toString();
            values.insert(name, columnValue(statement, 1));
        }
    }
    sqlite3_finalize(statement);
    return true;
}
#endif

} // namespace

class ProfilePrivate
{
public:
    QString fileName;
    QHash<QString, QVariant> values;
    mutable QReadWriteLock lock;
};

Profile &Profile::instance()
{
    static Profile profile;
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
    delete d;
}

void Profile::init(const QString &fileName)
{
    d = new ProfilePrivate;
    d->fileName = fileName;

    QSqlDatabase db = addConnection(QLatin1String(ProfileConnection), fileName);
    if (!db.open())
        warning(tr("无法加载配置文件 %1\n%2").arg(fileName, db.lastError().text()));
    if (db.tables(QSql::Tables).isEmpty())
        warning(tr("错误的配置文件 %1").arg(fileName));

    if (db.isOpen()) {
        bool loaded = false;
#ifdef CORE_SYSTEM_SQLITE
        loaded = loadThroughHandle(db, d->values);
#endif
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!loaded && query.exec(QLatin1String(LoadStatement))) {
            while (query.next())
                d->values.insert(query.value(0).toString(), query.value(1));
        }
    }

    for (const char *name : {DataConnection, QcConnection, SyslogConnection}) {
        const QString fileName = QLatin1String(name);
        QSqlDatabase other = addConnection(fileName, fileName);
        if (!other.open())
            warning(tr("无法打开数据库文件 %1").arg(fileName));
        if (other.tables(QSql::Tables).isEmpty())
            warning(tr("错误的数据库文件 %1").arg(fileName));
    }

    // Automatic connections: a change made on another thread is written by the store's thread,
    // the only one that uses these connections.
    connect(this, &Profile::valueChanged, this, &Profile::saveValue);
    connect(this, &Profile::keyRemoved, this, &Profile::removeKey);
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
        QReadLocker locker(&d->lock);
        const auto it = d->values.constFind(key);
        if (it != d->values.constEnd())
            return it->isValid() ? *it : defaultValue;
    }
    // Remember the miss, so keys() lists every key the application asked for.
    QWriteLocker locker(&d->lock);
    if (!d->values.contains(key))
        d->values.insert(key, QVariant());
    return defaultValue;
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
    {
        QWriteLocker locker(&d->lock);
        d->values.insert(key, value);
    }
    if (save)
        emit valueChanged(key, value);
}

void Profile::remove(const QString &key)
{
    {
        QWriteLocker locker(&d->lock);
        d->values.remove(key);
    }
    emit keyRemoved(key);
}

QStringList Profile::keys() const
{
    QReadLocker locker(&d->lock);
    return d->values.keys();
}

void Profile::saveValue(const QString &key, const QVariant &value)
{
    // A failed write keeps the value in memory; the warning says why the file did not follow.
    QSqlQuery query(database());
    if (value.isValid()) {
        if (!query.prepare(
                QStringLiteral("insert or replace into profile (name, value) values(?,?)"))) {
            CORE_SQL_WARNING(query);
            return;
        }
        query.addBindValue(key);
        query.addBindValue(value);
    } else {
        if (!query.prepare(QStringLiteral("delete from profile where name = ?"))) {
            CORE_SQL_WARNING(query);
            return;
        }
        query.addBindValue(key);
    }
    if (!query.exec())
        CORE_SQL_WARNING(query);
}

void Profile::removeKey(const QString &key)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("delete from profile where name = ?"))) {
        CORE_SQL_WARNING(query);
        return;
    }
    query.addBindValue(key);
    if (!query.exec())
        CORE_SQL_WARNING(query);
}

// The named settings: the first read fills the cache, which only the setter changes afterwards.
#define PROFILE_DEFINE_SETTING(Type, key) \
    const Type &Profile::key(const Type &defaultValue) \
    { \
        if (!m_##key##Cached) { \
            m_##key \
                = value(QStringLiteral(#key), QVariant::fromValue(defaultValue)).value<Type>(); \
            m_##key##Cached = true; \
        } \
        return m_##key; \
    } \
    void Profile::set_##key(const Type &value, bool save) \
    { \
        m_##key = value; \
        m_##key##Cached = true; \
        setValue(QStringLiteral(#key), QVariant::fromValue(value), save); \
    }
PROFILE_NAMED_SETTINGS(PROFILE_DEFINE_SETTING)
#undef PROFILE_DEFINE_SETTING
