// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include "messagebox.h"
#include "sqlwarning_p.h"

#include <QHash>
#include <QReadWriteLock>
#include <QSqlQuery>


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
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (query.exec(QLatin1String(LoadStatement))) {
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
    // An invalid value means "no value": the row goes, the key reads as its default.
    if (!value.isValid()) {
        removeKey(key);
        return;
    }
    // A failed write keeps the value in memory; the warning says why the file did not follow.
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("insert or replace into profile (name, value) values(?,?)"))) {
        CORE_SQL_WARNING(lcProfile, query);
        return;
    }
    query.addBindValue(key);
    query.addBindValue(value);
    if (!query.exec())
        CORE_SQL_WARNING(lcProfile, query);
}

void Profile::removeKey(const QString &key)
{
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("delete from profile where name = ?"))) {
        CORE_SQL_WARNING(lcProfile, query);
        return;
    }
    query.addBindValue(key);
    if (!query.exec())
        CORE_SQL_WARNING(lcProfile, query);
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
