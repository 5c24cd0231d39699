// What the upgrade tool will do with each database of the folder: the one plan that the checks
// before a run, --status and --status --json all read.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradeplan.h"

#include "backup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool startsWith(const QString &path, const QByteArray &magic)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(magic.size()) == magic;
}

bool hasDatabaseHeader(const QString &path)
{
    return startsWith(path, QByteArray("SQLite format 3\0", 16));
}

// A journal whose header is intact is rolled back by the next connection that opens the file.
bool isHotJournal(const QString &path)
{
    return startsWith(path, QByteArray::fromHex("d9d505f920a163d7"));
}

// What SQLite reads of one database: its tables, version and quick check.
struct Reading
{
    QStringList tables;
    int version = 0;
    QString error; // the file could not be read
    bool busy = false;
    bool notDatabase = false;
    QStringList damage;
};

Reading readDatabase(const QString &path, bool versioned, int busyMs, bool settle)
{
    Reading reading;
    sqlite3 *db = nullptr;
    const int flags = settle ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        reading.error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return reading;
    }
    sqlite3_busy_timeout(db, busyMs);
    // A private copy is brought to the state a run finds: its journal rolled back, its WAL
    // checkpointed, one file in rollback mode.
    if (settle)
        sqlite3_exec(db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    reading.tables = tableNames(db, &reading.error);
    bool busy = false;
    if (reading.error.isEmpty() && versioned)
        readVersion(db, &reading.version, &reading.error, &busy);
    if (reading.error.isEmpty()) {
        QStringList rows;
        firstColumn(db, "PRAGMA quick_check", &rows, &reading.error);
        rows.removeAll(QStringLiteral("ok"));
        reading.damage = rows;
    }
    const int code = sqlite3_errcode(db) & 0xff;
    reading.busy = busy || code == SQLITE_BUSY || code == SQLITE_LOCKED;
    reading.notDatabase = code == SQLITE_NOTADB;
    if (!reading.error.isEmpty() && code == SQLITE_CORRUPT)
        reading.damage.append(reading.error);
    sqlite3_close(db);
    return reading;
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

// Decides one database's plan. A database with a journal to roll back or WAL frames is read as a
// private copy in \a scratch, brought to the state a run finds.
DatabasePlan planDatabase(const DatabaseEntry &entry, bool waitForLocks, QTemporaryDir *scratch)
{
    DatabasePlan plan;
    plan.entry = &entry;
    plan.fileName = QLatin1String(entry.fileName);
    plan.target = entry.currentVersion;
    const QString &name = plan.fileName;
    const QFileInfo info(name);
    plan.exists = info.exists() || info.isSymLink();
    const auto refuse = [&plan](const QString &reason) {
        plan.action = DatabasePlan::Refuse;
        plan.refusal = reason;
        return plan;
    };
    if (!plan.exists) {
        if (entry.required)
            return refuse(QStringLiteral("missing"));
        plan.action = DatabasePlan::Create;
        return plan;
    }
    plan.size = info.size();
    if (!info.isFile() || (plan.size > 0 && !hasDatabaseHeader(name)))
        return refuse(QStringLiteral("not a database"));
    // An empty file is what an open leaves; it holds no data, and is no instrument database.
    if (plan.size == 0 && entry.required)
        return refuse(QStringLiteral("not a database (0 bytes)"));
#ifndef Q_OS_WIN
    // Opened, not only asked: an immutable file or a read-only mount refuses root as well.
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR);
    if (fd < 0)
        return refuse(QStringLiteral("cannot be read and written: ") + qt_error_string(errno));
    ::close(fd);
#endif
    const bool versioned = entry.currentVersion != notVersioned;
    const QString journal = name + QLatin1String("-journal");
    const QString walFile = name + QLatin1String("-wal");
    plan.interruptedWrite = QFileInfo(journal).size() > 0 && isHotJournal(journal);
    plan.walSize = QFileInfo(walFile).size();
    {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly) && file.seek(18))
            plan.wal = file.read(1) == QByteArray(1, '\2');
    }

    // A journal to roll back or a WAL database (even one whose -wal is gone: a reader would make
    // a -wal and -shm): read a private copy brought to the state a run finds, never the folder's
    // files, so that the plan changes nothing.
    QString settled = name;
    if (plan.size > 0 && (plan.interruptedWrite || plan.wal) && scratch->isValid()) {
        const QString copy = QDir(scratch->path()).filePath(name);
        const QString companion = plan.interruptedWrite ? journal : walFile;
        removeDatabaseFiles(copy);
        if (QFile::copy(name, copy)
            && (!QFile::exists(companion)
                || QFile::copy(companion, copy + companion.mid(name.size()))))
            settled = copy;
    }
    const Reading reading = plan.size == 0
        ? Reading()
        : readDatabase(settled, versioned, waitForLocks ? busyTimeoutMs : 0, settled != name);
    if (reading.busy) {
        // The run announces the wait and waits; until then it counts as one to upgrade.
        if (waitForLocks)
            return refuse(QStringLiteral("locked: in use by another program"));
        plan.action = versioned ? DatabasePlan::Upgrade : DatabasePlan::Current;
        plan.backup = backupFileName(name, 0);
        plan.spaceNeeded = plan.size * 3;
        return plan;
    }
    if (!reading.damage.isEmpty())
        return refuse(QStringLiteral("damaged: ") + reading.damage.join(QLatin1String("; ")));
    if (reading.notDatabase)
        return refuse(QStringLiteral("not a database"));
    if (!reading.error.isEmpty())
        return refuse(QStringLiteral("unreadable: ") + reading.error);
    if (&entry == &databaseEntries().first() && !holdsAnalyserTables(reading.tables))
        return refuse(QStringLiteral("not an instrument folder: profile.db holds none of the "
                                     "analyser's tables"));
    if (!versioned) {
        plan.action = DatabasePlan::Current;
        return plan;
    }
    plan.found = reading.version;
    if (plan.found == plan.target) {
        plan.action = DatabasePlan::Current;
        return plan;
    }
    plan.action = plan.found > plan.target ? DatabasePlan::Lower : DatabasePlan::Upgrade;
    if (plan.size > 0) {
        plan.backup = equalBackup(name, plan.found, settled);
        plan.reuseBackup = !plan.backup.isEmpty();
        if (!plan.reuseBackup)
            plan.backup = backupFileName(name, plan.found);
    }
    // Beside the backup, the working space of the run, three times the content in either mode
    // (measured peaks stay below it with the margin added). The file grows by its size (old
    // tables are copied before they are dropped); until the commit a rollback journal holds the
    // original of every page changed, in WAL mode the -wal the new pages. After the commit the
    // compaction builds a copy of about the old size in the temporary folder (counted here, as
    // it is mostly the same disk) and journals as much again.
    const qint64 content = plan.size + plan.walSize;
    plan.spaceNeeded = (plan.reuseBackup ? 0 : content) + content * 3;
    return plan;
}

} // namespace

QString DatabasePlan::statusText() const
{
    if (action == Create)
        return QStringLiteral("missing, would be created");
    if (action == Refuse && refusal == QLatin1String("missing"))
        return refusal;
    QString text;
    if (target == notVersioned && action != Refuse)
        return QStringLiteral("not versioned, current");
    if (found >= 0)
        text = QStringLiteral("%1 -> %2, ").arg(found).arg(target);
    if (interruptedWrite)
        text += QStringLiteral("interrupted write to roll back, ");
    const QString backupText = backup.isEmpty() ? QStringLiteral("no backup (empty)")
                                                : QStringLiteral("backup ") + backup;
    switch (action) {
    case Current:
        return text + QStringLiteral("current");
    case Upgrade:
        return text + QStringLiteral("would upgrade, ") + backupText;
    case Lower:
        return text + QStringLiteral("would lower the version, ") + backupText;
    default:
        return text + QStringLiteral("would refuse: ") + refusal;
    }
}

QByteArray DatabasePlan::json() const
{
    static const char *const actions[] = {"current", "upgrade", "lower", "create", "refuse"};
    const auto orNull = [](const QString &text) {
        return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
    };
    QJsonObject object;
    object.insert(QStringLiteral("file"), fileName);
    object.insert(QStringLiteral("action"), QLatin1String(actions[action]));
    object.insert(QStringLiteral("found"), found >= 0 ? QJsonValue(found) : QJsonValue());
    object.insert(QStringLiteral("target"),
                  target != notVersioned ? QJsonValue(target) : QJsonValue());
    object.insert(QStringLiteral("backup"), orNull(backup));
    object.insert(QStringLiteral("backupReused"), reuseBackup);
    object.insert(QStringLiteral("exists"), exists);
    object.insert(QStringLiteral("size"), double(size));
    object.insert(QStringLiteral("journalMode"),
                  exists ? QJsonValue(wal ? QStringLiteral("wal") : QStringLiteral("rollback"))
                         : QJsonValue());
    object.insert(QStringLiteral("walSize"), double(walSize));
    object.insert(QStringLiteral("interruptedWrite"), interruptedWrite);
    object.insert(QStringLiteral("spaceNeeded"), double(spaceNeeded));
    object.insert(QStringLiteral("reason"), orNull(refusal));
    object.insert(QStringLiteral("status"), statusText());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString UpgradePlan::refusalLine() const
{
    const QString folder = QDir::currentPath();
    if (!folderRefusal.isEmpty() && databases.value(0).refusal == QLatin1String("missing")
        && databases.value(1).refusal == QLatin1String("missing"))
        return folderRefusal;
    for (const DatabasePlan &plan : databases) {
        if (plan.action != DatabasePlan::Refuse || plan.refusal.startsWith(QLatin1String("the ")))
            continue;
        if (plan.refusal == QLatin1String("missing"))
            return QStringLiteral("%1 is missing in %2; nothing was changed")
                .arg(plan.fileName, folder);
        if (plan.refusal.startsWith(QLatin1String("not an instrument folder")))
            return QStringLiteral("%1 is %2; nothing was changed").arg(folder, plan.refusal);
        const QString verb
            = plan.refusal.startsWith(QLatin1String("cannot")) ? QString() : QStringLiteral("is ");
        return QStringLiteral("%1 in %2 %3%4; nothing was changed")
            .arg(plan.fileName, folder, verb, plan.refusal);
    }
    return folderRefusal;
}

int UpgradePlan::statusExitCode() const
{
    int code = 0;
    for (const DatabasePlan &plan : databases) {
        if (plan.action == DatabasePlan::Refuse)
            return 1;
        if (plan.action != DatabasePlan::Current)
            code = 3;
    }
    return code;
}

UpgradePlan makePlan(bool waitForLocks)
{
    UpgradePlan plan;
    const QString folder = QDir::currentPath();
    QTemporaryDir scratch;
    for (const DatabaseEntry &entry : databaseEntries())
        plan.databases.append(planDatabase(entry, waitForLocks, &scratch));
    if (!plan.databases.at(0).exists && !plan.databases.at(1).exists) {
        plan.folderRefusal = QStringLiteral("%1 is not an instrument folder: it holds neither "
                                            "profile.db nor data.db; nothing was changed")
                                 .arg(folder);
        return plan;
    }

    qint64 backups = 0;
    qint64 working = 0;
    bool writes = false;
    for (const DatabasePlan &database : qAsConst(plan.databases)) {
        writes = writes || database.changes() || database.action == DatabasePlan::Create;
        if (!database.changes())
            continue;
        const qint64 copy = database.reuseBackup ? 0 : database.size + database.walSize;
        backups += copy;
        working = std::max(working, database.spaceNeeded - copy);
    }
    // The databases are changed one after another: the backups stay, the working space of the
    // largest is needed once. A tenth and a MiB of margin.
    plan.spaceNeeded = (backups + working) / 10 * 11 + (1 << 20);
    const QStorageInfo storage(folder);
    if (storage.isValid())
        plan.spaceAvailable = storage.bytesAvailable();

    QString reason;
#ifndef Q_OS_WIN
    if (writes && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("the folder cannot be written (%1)").arg(qt_error_string(errno));
        plan.folderRefusal = QStringLiteral("%1 cannot be written (%2): the backups and the "
                                            "rollback journal go there; nothing was changed")
                                 .arg(folder, qt_error_string(errno));
    }
#endif
    if (reason.isEmpty() && backups > 0 && plan.spaceAvailable >= 0
        && plan.spaceAvailable < plan.spaceNeeded) {
        reason = QStringLiteral("the disk lacks room: %1 MB needed, %2 MB free")
                     .arg(megabytes(plan.spaceNeeded), megabytes(plan.spaceAvailable));
        plan.folderRefusal
            = QStringLiteral("not enough free space in %1: %2 MB needed for the "
                             "backups and the rollback journal, %3 MB free; "
                             "nothing was changed")
                  .arg(folder, megabytes(plan.spaceNeeded), megabytes(plan.spaceAvailable));
    }
    // A refusal of the folder is one of every database the run would write.
    if (!reason.isEmpty()) {
        for (DatabasePlan &database : plan.databases) {
            if (database.changes() || database.action == DatabasePlan::Create) {
                database.action = DatabasePlan::Refuse;
                database.refusal = reason;
            }
        }
    }
    return plan;
}

int printStatus(FILE *console, bool json)
{
    const UpgradePlan plan = makePlan(true);
    for (const DatabasePlan &database : plan.databases) {
        const QByteArray line = json
            ? database.json()
            : (database.fileName + QStringLiteral(": ") + database.statusText()).toLocal8Bit();
        std::fprintf(console, "%s\n", line.constData());
    }
    std::fflush(console);
    return plan.statusExitCode();
}
