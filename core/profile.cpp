// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include "logging_p.h"
#include "messagebox.h"
#include "profilenamed_p.h"
#include "profilereader_p.h"
#include "profilewriter_p.h"
#include "sqlwarning_p.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QSqlDriver>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>

namespace {

const char ProfileConnection[] = "profile.db";
const char DataConnection[] = "data.db";
const char QcConnection[] = "qc.db";
const char SyslogConnection[] = "syslog.db";

const char ConnectOptions[] = "QSQLITE_BUSY_TIMEOUT=30000";
// Without write access SQLite also leaves a missing file missing.
const char ReadOnlyConnectOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=30000";

std::atomic<Profile::OpenMode> defaultMode {Profile::ReadWrite};

QSqlDatabase addConnection(const QString &name, const QString &fileName, Profile::OpenMode mode)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(fileName);
    db.setConnectOptions(
        QLatin1String(mode == Profile::ReadOnly ? ReadOnlyConnectOptions : ConnectOptions));
    return db;
}

// The named settings' shared caches, and one thread's copies of them.
struct NamedCaches
{
#define PROFILE_DECLARE_CACHE(Type, key) ProfileNamed::Cache<Type> key;
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_CACHE)
#undef PROFILE_DECLARE_CACHE
};

struct NamedCopies : ProfileNamed::ThreadCopies
{
#define PROFILE_DECLARE_COPY(Type, key) ProfileNamed::Copy<Type> key;
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_COPY)
#undef PROFILE_DECLARE_COPY
};

} // namespace

class ProfilePrivate
{
public:
    ProfilePrivate(Profile *profile, const QString &fileName, Profile::OpenMode openMode)
        : q(profile)
        , mode(openMode)
        , label(QFileInfo(fileName).fileName())
    {
    }
    ~ProfilePrivate() { ProfileNamed::endStore(id); }

    // With the lock held for writing: the value of key, leaving a placeholder when it has none.
    QVariant lookupLocked(const QString &key, const QVariant &defaultValue)
    {
        const auto it = values.constFind(key);
        if (it != values.constEnd())
            return it->isValid() ? *it : defaultValue;
        values.insert(key, QVariant());
        return defaultValue;
    }

    // With the lock held for writing: the change in memory and, saved, staged for the file in
    // the same step, so the file sees the changes in memory's order.
    void storeLocked(const QString &key, const QVariant &value, bool save)
    {
        values.insert(key, value);
        if (save && mode == Profile::ReadWrite)
            writer->stage(key, value);
    }

    // After the store's lock is released, as a message handler may save a setting itself.
    void requestWrite(const QString &key)
    {
        if (mode == Profile::ReadWrite)
            writer->requestWrite();
        else if (!refusedSave.exchange(true))
            qCWarning(lcProfile).noquote().nospace()
                << CorePrivate::unitName(__FILE__) << ':' << __LINE__ << ": " << label
                << " is open read-only: the change of " << key << " stays in memory";
    }

    void moveToMainThread();

    template<typename T>
    const T &named(ProfileNamed::Cache<T> &cache, ProfileNamed::Copy<T> &copy, const char *key,
                   const T &defaultValue)
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
    void setNamed(ProfileNamed::Cache<T> &cache, const char *key, const T &value, bool save)
    {
        const QString name = QLatin1String(key);
        const QVariant variant = QVariant::fromValue(value);
        {
            std::unique_lock<std::shared_mutex> locker(lock);
            cache.value = value;
            cache.filled = true;
            cache.generation.store(cache.generation.load() + 1, std::memory_order_release);
            storeLocked(name, variant, save);
        }
        if (save) {
            requestWrite(name);
            emit q->valueChanged(name, variant);
        }
    }

    NamedCopies &threadCopies()
    {
        return static_cast<NamedCopies &>(ProfileNamed::threadCopies(
            id, []() -> ProfileNamed::ThreadCopies * { return new NamedCopies; }));
    }

    Profile *q;
    const Profile::OpenMode mode;
    const QString label; // the file's name, for the log
    // A read-only store was asked to save: memory and file differ for good.
    std::atomic<bool> refusedSave {false};
    const quint64 id = ProfileNamed::beginStore();
    // Table `profile` in memory, with placeholders (invalid values) for keys looked up in vain.
    QHash<QString, QVariant> values;
    // Guards values and the named caches.
    mutable std::shared_mutex lock;
    // A child of the store, so it follows the store to the main thread.
    ProfileWriter *writer = nullptr;
    NamedCaches caches;
};

// The connections and the store's writes belong to one thread for the life of the process.
// A worker that makes the first call hands them to the main thread before any other caller
// sees the store, so they do not die with the worker.
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
    // Never destroyed: a thread still saving while the process exits must not meet a freed store.
    static Profile *const profile = [] {
        auto *store = new Profile;
        store->d->moveToMainThread();
        // Made before the exit handler is registered, so it is destroyed after it has run.
        lcProfile();
        // While the application object is torn down, the changes of the loop's last turn are
        // written (a held file is left to the exit, which waits for it); at exit, whatever came
        // after, from any thread.
        qAddPostRoutine([] { instance().d->writer->sync(ProfileWriter::AttemptTimeout); });
        std::atexit([] { instance().d->writer->finish(); });
        return store;
    }();
    return *profile;
}

Profile::Profile(QObject *parent)
    : QObject(parent)
{
    init(QLatin1String(ProfileConnection), defaultMode.load());
}

Profile::Profile(const QString &fileName, QObject *parent)
    : QObject(parent)
{
    init(fileName, defaultMode.load());
}

Profile::Profile(const QString &fileName, OpenMode mode, QObject *parent)
    : QObject(parent)
{
    init(fileName, mode);
}

void Profile::setDefaultOpenMode(OpenMode mode)
{
    defaultMode.store(mode);
}

Profile::OpenMode Profile::defaultOpenMode()
{
    return defaultMode.load();
}

Profile::OpenMode Profile::openMode() const
{
    return d->mode;
}

Profile::~Profile()
{
    d->writer->finish();
    delete d;
}

void Profile::init(const QString &fileName, OpenMode mode)
{
    d = new ProfilePrivate(this, fileName, mode);

    QSqlDatabase db = addConnection(QLatin1String(ProfileConnection), fileName, mode);
    if (!db.open())
        warning(tr("无法加载配置文件 %1\n%2").arg(fileName, db.lastError().text()));

    // Boxes only after the reader has let go of the file, so a box left open holds no lock.
    // A held file is waited for as long as the busy time-out says, then reported with its
    // cause: it is not a wrong file, and the store must not pass for loaded.
    bool noTables = false;
    QString loadError;
    QHash<QString, ProfileStorage::StoredName> oddNames;
    ProfileStorage::Handle handle;
    {
        ProfileReader reader(fileName, mode == ReadOnly);
        const int tables = reader.tableCount();
        bool loaded = false;
        if (tables >= 0 || !reader.isBusy()) {
            noTables = tables <= 0;
            loaded = tables == 0 || reader.load(d->values, oddNames);
        }
        if (!loaded) {
            loadError = reader.errorString();
            qCWarning(lcProfile).noquote().nospace()
                << CorePrivate::unitName(__FILE__) << ':' << __LINE__ << ": " << loadError;
        }
        handle = reader.takeHandle();
    }
    d->writer = new ProfileWriter(fileName, std::move(handle), std::move(oddNames), this);
    if (noTables)
        warning(tr("错误的配置文件 %1").arg(fileName));
    else if (!loadError.isEmpty())
        warning(tr("无法加载配置文件 %1\n%2").arg(fileName, loadError));

    for (const char *name : {DataConnection, QcConnection, SyslogConnection}) {
        const QString fileName = QLatin1String(name);
        QSqlDatabase other = addConnection(fileName, fileName, mode);
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
        const auto it = d->values.constFind(key);
        if (it != d->values.constEnd())
            return it->isValid() ? *it : defaultValue;
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
    {
        std::unique_lock<std::shared_mutex> locker(d->lock);
        d->storeLocked(key, value, save);
    }
    if (save) {
        d->requestWrite(key);
        emit valueChanged(key, value);
    }
}

void Profile::remove(const QString &key)
{
    {
        std::unique_lock<std::shared_mutex> locker(d->lock);
        d->values.remove(key);
        if (d->mode == ReadWrite)
            d->writer->stage(key, QVariant());
    }
    d->requestWrite(key);
    emit keyRemoved(key);
}

QStringList Profile::keys() const
{
    std::shared_lock<std::shared_mutex> locker(d->lock);
    return d->values.keys();
}

bool Profile::sync()
{
    return d->writer->sync() && !d->refusedSave.load();
}

// The named settings: the first read fills the shared cache, which only the setter changes
// afterwards; each thread reads its own copy of it.
#define PROFILE_DEFINE_SETTING(Type, key) \
    const Type &Profile::key(const Type &defaultValue) \
    { \
        return d->named(d->caches.key, d->threadCopies().key, #key, defaultValue); \
    } \
    void Profile::set_##key(const Type &value, bool save) \
    { \
        d->setNamed(d->caches.key, #key, value, save); \
    }
PROFILE_NAMED_SETTINGS(PROFILE_DEFINE_SETTING)
#undef PROFILE_DEFINE_SETTING
