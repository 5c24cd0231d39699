// The upgrade tool's run: its log file, translations and the updaters in their fixed order.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include "backup.h"
#include "progress.h"

#include "updatebase.h"
#include "updatedata.h"
#include "updateprofile.h"
#include "updatesyslog.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStorageInfo>
#include <QTranslator>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

FILE *logFile = nullptr;
QString logPath;
QString logFailure;

// qc.db is never changed, so it is never copied nor checked.
constexpr int notVersioned = -1;

struct UpdaterEntry
{
    const char *fileName;
    //! The version the updater writes; a database found at another is changed by the update.
    int currentVersion;
    //! profile.db and data.db make an instrument folder; the other two are created when missing.
    bool required;
    std::unique_ptr<UpdateBase> (*create)();
};

template<class Updater>
std::unique_ptr<UpdateBase> createUpdater()
{
    return std::make_unique<Updater>(nullptr);
}

// In the order they run.
const UpdaterEntry updaters[] = {
    {"profile.db", 4, true, createUpdater<UpdateProfile>},
    {"data.db", 4, true, createUpdater<UpdateData>},
    {"qc.db", notVersioned, false, createUpdater<UpdateQc>},
    {"syslog.db", 1, false, createUpdater<UpdateSyslog>},
};

// Old data can hold thousands of dangling references; the log shows the first ones and a count.
constexpr int maxFindingsLogged = 20;

void logFindings(const QString &fileName, const char *check, const QStringList &findings)
{
    for (int i = 0; i < findings.size() && i < maxFindingsLogged; ++i)
        qWarning("%s: %s: %s", qUtf8Printable(fileName), check, qUtf8Printable(findings.at(i)));
    if (findings.size() > maxFindingsLogged)
        qWarning("%s: %s: %d more findings", qUtf8Printable(fileName), check,
                 int(findings.size() - maxFindingsLogged));
}

void printLine(FILE *console, const QString &line)
{
    std::fprintf(console, "%s\n", line.toLocal8Bit().constData());
    std::fflush(console);
}

// The version the database holds now, read as the updaters read it; "?" when it is unreadable.
QString storedVersion(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("select version from version order by version desc")))
        return QString::number(query.next() ? query.value(0).toInt() : 0);
    // No version table yet counts as 0, as for the updaters.
    if (query.lastError().nativeErrorCode() == QLatin1String("1")) // SQLITE_ERROR
        return QStringLiteral("0");
    return QStringLiteral("?");
}

void waitNotice(const QString &fileName)
{
    const QString line = QStringLiteral("%1 is in use by another program; waiting up to 30 s — "
                                        "close the analyser software")
                             .arg(fileName);
    printLine(stdout, line);
    logInfo(line);
}

// What a database file is before the run, read without writing anything.
struct FileState
{
    bool exists = false;
    bool isDatabase = false;
    qint64 size = 0;
    int version = -1; // -1: unreadable
    QString error;
};

bool hasDatabaseHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(16) == QByteArray("SQLite format 3\0", 16);
}

FileState readState(const QString &fileName, bool versioned, int busyMs)
{
    FileState state;
    const QFileInfo info(fileName);
    state.exists = info.exists() || info.isSymLink();
    if (!state.exists)
        return state;
    state.size = info.size();
    // An empty file is what an open leaves; it holds no data, and is no instrument database.
    state.isDatabase = info.isFile() && (hasDatabaseHeader(fileName) || state.size == 0);
    if (!state.isDatabase)
        return state;
    if (!versioned) {
        state.version = 0;
        return state;
    }
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(fileName).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
        == SQLITE_OK) {
        sqlite3_busy_timeout(db, busyMs);
        sqlite3_stmt *query = nullptr;
        int rc = sqlite3_prepare_v2(db, "select version from version order by version desc", -1,
                                    &query, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(query);
            state.version = rc == SQLITE_ROW ? sqlite3_column_int(query, 0) : 0;
            if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
                state.version = -1;
                state.error = QString::fromUtf8(sqlite3_errmsg(db));
            }
        } else if (rc == SQLITE_ERROR
                   && QByteArray(sqlite3_errmsg(db)).startsWith("no such table")) {
            state.version = 0;
        } else {
            state.error = QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(query);
    } else {
        state.error = QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_close(db);
    return state;
}

// Every row of \a table, values with their storage class, in rowid order.
QByteArray tableContent(sqlite3 *db, const QByteArray &table)
{
    QByteArray content;
    sqlite3_stmt *query = nullptr;
    const QByteArray sql = "select * from \"" + table + "\" order by rowid";
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &query, nullptr) != SQLITE_OK)
        return "error: " + QByteArray(sqlite3_errmsg(db));
    while (sqlite3_step(query) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(query); ++i) {
            const int type = sqlite3_column_type(query, i);
            content += char('0' + type);
            const auto *bytes = static_cast<const char *>(sqlite3_column_blob(query, i));
            const int size = sqlite3_column_bytes(query, i);
            content += QByteArray::number(size) + ':' + QByteArray(bytes, bytes ? size : 0);
        }
        content += '\n';
    }
    sqlite3_finalize(query);
    return content;
}

QSet<QByteArray> touchedTables;

void noteTouched(void *, int, const char *, const char *table, sqlite3_int64)
{
    touchedTables.insert(QByteArray(table));
}

// Whether the uncommitted run on \a db differs from the file as it was committed: the schema,
// and the rows of every table a statement wrote to. Read through a second connection, which
// sees the committed file while the run's changes stay in the first one's cache.
bool reallyChanged(sqlite3 *db, const QString &fileName)
{
    sqlite3 *before = nullptr;
    bool changed = true;
    if (sqlite3_open_v2(QFile::encodeName(fileName).constData(), &before, SQLITE_OPEN_READONLY,
                        nullptr)
        == SQLITE_OK) {
        sqlite3_busy_timeout(before, 30000);
        changed = tableContent(db, "sqlite_master") != tableContent(before, "sqlite_master");
        for (const QByteArray &table : qAsConst(touchedTables)) {
            if (changed)
                break;
            changed = tableContent(db, table) != tableContent(before, table);
        }
    }
    sqlite3_close(before);
    return changed;
}

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', 1);
}

// Creates, runs and destroys one updater and prints its line on the console.
bool runUpdater(const UpdaterEntry &entry, ConsoleProgress &progress, FILE *console)
{
    QElapsedTimer timer;
    timer.start();
    const std::unique_ptr<UpdateBase> updater = entry.create();
    // Without opening it again: a database that did not open stays so, as the updater saw it.
    const QSqlDatabase db
        = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    const QString fileName = db.databaseName();
    const bool versioned = entry.currentVersion != notVersioned;
    const int found = updater->version();
    const bool changes = versioned && db.isOpen() && found != entry.currentVersion;
    const bool lowered = changes && found > entry.currentVersion;

    bool ok = false;
    QString versions;
    QStringList notes;
    QString backupText = QStringLiteral("unchanged");
    BackupResult backup;
    backup.ok = true;
    qint64 backupMs = 0;
    // The copy comes before a change is kept; a failed copy leaves the database as found.
    const auto takeBackup = [&] {
        QElapsedTimer copying;
        copying.start();
        backup = backupDatabase(fileName, found);
        backupMs = copying.elapsed();
        if (!backup.ok)
            qWarning("Can't back up %s to %s: %s; the database is left unchanged",
                     qUtf8Printable(fileName), qUtf8Printable(backup.fileName),
                     qUtf8Printable(backup.error));
        return backup.ok;
    };
    if (!db.isOpen()) {
        versions = QStringLiteral("not opened");
    } else if (updater->isLocked()) {
        updater->finish(false);
        versions = QStringLiteral("version unreadable (locked)");
    } else {
        if (changes)
            takeBackup();
        sqlite3 *handle = UpdateBase::sqliteHandle(db);
        if (backup.ok) {
            if (lowered)
                qWarning("%s: version %d is newer than this tool's %d; only its version is "
                         "rewritten, to %d",
                         qUtf8Printable(fileName), found, entry.currentVersion,
                         entry.currentVersion);
            // A current database is written only when a step really changes something; until
            // that is known its changes must stay in memory, where a second connection does
            // not see them.
            if (!changes && handle) {
                QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_spill=OFF"));
                touchedTables.clear();
                sqlite3_update_hook(handle, noteTouched, nullptr);
            }
            progress.begin(fileName, db);
            // A step skipped because the database was held is a failure, whatever the updater
            // made of that step.
            ok = updater->update() && !updater->isLocked();
            if (handle)
                sqlite3_update_hook(handle, nullptr, nullptr);
            bool writes = changes;
            if (ok && versioned && !changes && handle && reallyChanged(handle, fileName)) {
                writes = true;
                ok = takeBackup();
            }
            qint64 checkMs = 0;
            if (ok && writes && !backup.fileName.isEmpty()) {
                // The data predates the tool: what the checks find is reported, not fatal. After
                // a failure the failed statement is what the log must show, not the checks.
                QElapsedTimer checks;
                checks.start();
                logFindings(fileName, "integrity check", integrityFindings(db));
                logFindings(fileName, "foreign key check", foreignKeyFindings(db));
                checkMs = checks.elapsed();
            }
            // Nothing to keep, or a failure: the database stays exactly as it was found.
            if (ok && writes)
                ok = updater->finish(true);
            else
                updater->finish(false);
            progress.end();
            if (writes && backup.ok) {
                backupText = !backup.fileName.isEmpty()
                    ? QStringLiteral("backup ") + backup.fileName
                    : QStringLiteral("no backup (empty)");
                logInfo(QStringLiteral("%1: backup %2 s, checks %3 s")
                            .arg(fileName, seconds(backupMs), seconds(checkMs)));
            }
            if (ok && !updater->droppedColumns().isEmpty() && !backup.fileName.isEmpty())
                notes.append(QStringLiteral("columns dropped, kept in ") + backup.fileName);
        } else {
            updater->finish(false);
            backupText = QStringLiteral("no backup");
        }
        if (!versioned)
            versions = QStringLiteral("not versioned");
        else
            versions = QStringLiteral("%1 -> %2").arg(found).arg(storedVersion(db));
        if (lowered && ok)
            versions += QStringLiteral(", version lowered");
    }

    const QString status = ok ? QStringLiteral("ok")
                              : QStringLiteral("FAILED: see ")
            + (logWritten() ? logPath : QStringLiteral("standard error"));
    QStringList items = {versions, backupText};
    items += notes;
    items += {seconds(timer.elapsed()) + QStringLiteral(" s"), status};
    const QString line = fileName + QStringLiteral(": ") + items.join(QStringLiteral(", "));
    printLine(console, line);
    logInfo(line);
    return ok;
}

QString describe(const UpdaterEntry &entry, const FileState &state, int *exitCode)
{
    const QString fileName = QLatin1String(entry.fileName);
    const int target = entry.currentVersion;
    auto raise = [exitCode](int code) {
        // A problem outranks a pending upgrade.
        if (*exitCode != 1)
            *exitCode = code;
    };
    if (!state.exists) {
        if (!entry.required) {
            raise(3);
            return QStringLiteral("missing, would be created");
        }
        raise(1);
        return QStringLiteral("missing");
    }
    if (!state.isDatabase) {
        raise(1);
        return QStringLiteral("not a database");
    }
    if (target == notVersioned)
        return QStringLiteral("not versioned, current");
    if (state.version < 0) {
        raise(1);
        return QStringLiteral("unreadable: ") + state.error;
    }
    const QString versions = QStringLiteral("%1 -> %2, ").arg(state.version).arg(target);
    if (state.version == target)
        return versions + QStringLiteral("current");
    if (state.version > target) {
        raise(1);
        return versions + QStringLiteral("newer than this tool");
    }
    raise(3);
    if (state.size == 0)
        return versions + QStringLiteral("would upgrade, no backup (empty)");
    // The backup a run would write, or the one of an earlier run that it would take as it is.
    const QString equal = equalBackup(fileName, state.version, fileName);
    return versions + QStringLiteral("would upgrade, backup ")
        + (equal.isEmpty() ? backupFileName(fileName, state.version) : equal);
}

QString megabytes(qint64 bytes)
{
    return QString::number((bytes + (1 << 20) - 1) >> 20);
}

} // namespace

bool openLog(const char *path)
{
    FILE *file = std::fopen(path, "a");
    if (!file)
        return false;
    logFile = file;
    logPath = QString::fromLocal8Bit(path);
    logFailure.clear();
    qInstallMessageHandler(messageHandler);
    return true;
}

void closeLog()
{
    if (!logFile)
        return;
    // Messages from the clean-up after main must not reach a closed stream.
    qInstallMessageHandler(nullptr);
    std::fclose(logFile);
    logFile = nullptr;
}

// Flushed line by line: an abort or a crash must not lose the last lines. The first failure
// (a full disk) is kept, and nothing more is written there.
static void writeLog(const char *format, const QString &message)
{
    if (logWritten()
        && (std::fprintf(logFile, format, message.toUtf8().constData()) < 0
            || std::fflush(logFile) != 0))
        logFailure = qt_error_string(errno);
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const char *format = nullptr;
    switch (type) {
    case QtDebugMsg:
        format = "Debug: %s\n";
        break;
    case QtWarningMsg:
        format = "Warning: %s\n";
        break;
    case QtCriticalMsg:
        format = "Critical: %s\n";
        break;
    case QtFatalMsg:
        format = "Fatal: %s\n";
        break;
    default:
        return;
    }
    writeLog(format, message);
    // A log that cannot be written (a full disk) must not swallow the messages.
    if (!logWritten())
        std::fprintf(stderr, format, message.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}

void logInfo(const QString &text)
{
    writeLog("Info: %s\n", text);
}

bool logWritten()
{
    return logFile && logFailure.isEmpty();
}

QString logError()
{
    return logFailure;
}

QStringList translationDirectories()
{
    return {QStringLiteral("."), QStringLiteral(".."), QCoreApplication::applicationDirPath(),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)};
}

QString unfitLogReason(const QString &path)
{
    const QFileInfo info(path);
    for (const UpdaterEntry &entry : updaters) {
        if (info.fileName().compare(QLatin1String(entry.fileName), Qt::CaseInsensitive) == 0)
            return QStringLiteral("it is the name of a database");
    }
    if (info.suffix().compare(QLatin1String("qm"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("it is a translation file");
    if (!info.isFile())
        return QString(); // a new log, or one that cannot be opened
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray head = file.read(64 * 1024);
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return QStringLiteral("it is a database");
    static const char qmMagic[] = {'\x3c', '\xb8', '\x64', '\x18'};
    if (head.startsWith(QByteArray(qmMagic, 4)))
        return QStringLiteral("it is a translation file");
    if (head.contains('\0'))
        return QStringLiteral("it is not a text file");
    return QString();
}

QString preflight()
{
    const QString folder = QDir::currentPath();
    FileState states[std::size(updaters)];
    for (size_t i = 0; i < std::size(updaters); ++i)
        // Not waited for: a held database is announced and waited for by the run itself, and
        // counts as one to upgrade meanwhile.
        states[i] = readState(QLatin1String(updaters[i].fileName),
                              updaters[i].currentVersion != notVersioned, 0);
    if (!states[0].exists && !states[1].exists)
        return QStringLiteral("%1 is not an instrument folder: it holds neither profile.db nor "
                              "data.db; nothing was changed")
            .arg(folder);

    qint64 backups = 0;
    qint64 largest = 0;
    for (size_t i = 0; i < std::size(updaters); ++i) {
        const UpdaterEntry &entry = updaters[i];
        const FileState &state = states[i];
        const QString name = QLatin1String(entry.fileName);
        if (!state.exists) {
            if (entry.required)
                return QStringLiteral("%1 is missing in %2; nothing was changed").arg(name, folder);
            continue;
        }
        if (!state.isDatabase || (entry.required && state.size == 0))
            return QStringLiteral("%1 in %2 is not a database; nothing was changed")
                .arg(name, folder);
#ifndef Q_OS_WIN
        // Opened, not only asked: an immutable file or a read-only mount refuses root as well.
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR);
        if (fd < 0)
            return QStringLiteral("%1 in %2 cannot be read and written: %3; nothing was changed")
                .arg(name, folder, qt_error_string(errno));
        ::close(fd);
#endif
        if (entry.currentVersion != notVersioned && state.version != entry.currentVersion) {
            backups += state.size;
            largest = std::max(largest, state.size);
        }
    }
#ifndef Q_OS_WIN
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return QStringLiteral("%1 cannot be written (%2): the backups and the rollback journal "
                              "go there; nothing was changed")
            .arg(folder, qt_error_string(errno));
#endif
    // Each backup stays; while one database is upgraded its rollback journal holds at most the
    // original of every page (the file's size) and the file grows by at most its size again
    // (old tables are copied before they are dropped). A tenth and a MiB of margin.
    const qint64 needed = (backups + 2 * largest) / 10 * 11 + (1 << 20);
    const QStorageInfo storage(folder);
    if (backups > 0 && storage.isValid() && storage.bytesAvailable() < needed)
        return QStringLiteral("not enough free space in %1: %2 MB needed for the backups and the "
                              "rollback journal, %3 MB free; nothing was changed")
            .arg(folder, megabytes(needed), megabytes(storage.bytesAvailable()));
    return QString();
}

int printStatus(FILE *console)
{
    int exitCode = 0;
    for (const UpdaterEntry &entry : updaters) {
        const QString name = QLatin1String(entry.fileName);
        const FileState state = readState(name, entry.currentVersion != notVersioned, 30000);
        printLine(console, name + QStringLiteral(": ") + describe(entry, state, &exitCode));
    }
    return exitCode;
}

int restoreBackup(const QString &backupName, FILE *console)
{
    const QRegularExpressionMatch match
        = QRegularExpression(QStringLiteral("^([a-z]+\\.db)\\.v(-?\\d+)(-\\d+)?\\.bak$"))
              .match(backupName);
    const QString fileName = match.captured(1);
    const bool known = std::any_of(std::begin(updaters), std::end(updaters),
                                   [&fileName](const UpdaterEntry &entry) {
                                       return fileName == QLatin1String(entry.fileName);
                                   });
    if (!match.hasMatch() || !known) {
        printLine(stderr,
                  QStringLiteral("dbupgrade: %1 is not the name of a backup of a database "
                                 "in this folder, such as data.db.v0.bak")
                      .arg(backupName));
        return 2;
    }
    const auto fail = [console, &fileName](const QString &why) {
        printLine(console, QStringLiteral("%1: not restored: %2").arg(fileName, why));
        return 1;
    };
    if (!hasDatabaseHeader(backupName))
        return fail(backupName + QStringLiteral(" is missing or not a database"));
    {
        const QString connection = QStringLiteral("dbupgrade-restore-check");
        QStringList findings;
        {
            QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            copy.setDatabaseName(backupName);
            copy.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            findings = copy.open() ? integrityFindings(copy) : QStringList(copy.lastError().text());
        }
        QSqlDatabase::removeDatabase(connection);
        if (!findings.isEmpty())
            return fail(backupName + QStringLiteral(" fails its integrity check: ")
                        + findings.join(QLatin1String("; ")));
    }

    // Opening the database through SQLite rolls back a journal left by an interrupted writer
    // before anything is copied, so no journal can be applied to the restored copy.
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(fileName).constData(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return fail(error);
    }
    sqlite3_busy_timeout(db, 30000);
    QString kept;
    if (sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK) {
        const QString error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return fail(error);
    }
    // Read on this connection: opening the file otherwise would drop the lock just taken.
    int version = 0;
    sqlite3_stmt *query = nullptr;
    if (sqlite3_prepare_v2(db, "select version from version order by version desc", -1, &query,
                           nullptr)
            == SQLITE_OK
        && sqlite3_step(query) == SQLITE_ROW)
        version = std::max(sqlite3_column_int(query, 0), 0);
    sqlite3_finalize(query);
    const BackupResult current = backupDatabase(fileName, version);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    if (!current.ok) {
        sqlite3_close(db);
        return fail(QStringLiteral("the current state could not be kept first: ") + current.error);
    }

    sqlite3 *source = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(backupName).constData(), &source,
                             SQLITE_OPEN_READONLY, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_backup *restore = sqlite3_backup_init(db, "main", source, "main");
        rc = restore ? sqlite3_backup_step(restore, -1) : sqlite3_errcode(db);
        if (restore)
            sqlite3_backup_finish(restore);
        if (rc == SQLITE_DONE)
            rc = sqlite3_errcode(db);
    }
    const QString error = QString::fromUtf8(sqlite3_errmsg(rc == SQLITE_OK ? source : db));
    sqlite3_close(source);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        return fail(error
                    + (current.fileName.isEmpty()
                           ? QString()
                           : QStringLiteral("; its state before is in ") + current.fileName));
    printLine(console,
              QStringLiteral("%1: restored from %2%3, ok")
                  .arg(fileName, backupName,
                       current.fileName.isEmpty()
                           ? QString()
                           : QStringLiteral(", the state before kept in ") + current.fileName));
    return 0;
}

QString schemaVersions()
{
    QStringList versions;
    for (const UpdaterEntry &entry : updaters) {
        versions.append(
            entry.currentVersion == notVersioned
                ? QStringLiteral("%1 not versioned").arg(entry.fileName)
                : QStringLiteral("%1 %2").arg(entry.fileName).arg(entry.currentVersion));
    }
    return versions.join(QStringLiteral(", "));
}

bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name)
{
    for (const QString &directory : directories) {
        if (translator->load(name, directory))
            return true;
    }
    return false;
}

bool runUpdaters()
{
    UpdateBase::setWaitNotice(waitNotice);
    ConsoleProgress progress(stdout);
    for (const UpdaterEntry &entry : updaters) {
        if (!runUpdater(entry, progress, stdout))
            return false;
    }
    return true;
}
