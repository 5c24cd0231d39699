// The run of the upgrade: the updaters of the four databases, one at a time, each in one
// transaction after its backup.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgraderun.h"

#include "backup.h"
#include "compaction.h"
#include "databases.h"
#include "progress.h"
#include "servicelog.h"
#include "upgradeplan.h"

#include "updatebase.h"
#include "updatedata.h"
#include "updateprofile.h"
#include "updatesyslog.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <sqlite3.h>

#include <memory>

namespace {

template<class Updater>
std::unique_ptr<UpdateBase> createUpdater()
{
    return std::make_unique<Updater>(nullptr);
}

// In the order of databaseEntries().
std::unique_ptr<UpdateBase> (*const createUpdaters[])() = {
    createUpdater<UpdateProfile>,
    createUpdater<UpdateData>,
    createUpdater<UpdateQc>,
    createUpdater<UpdateSyslog>,
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

void waitNotice(const QString &fileName)
{
    const QString line = waitNoticeText(fileName);
    printLine(stdout, line);
    logInfo(line);
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
        sqlite3_busy_timeout(before, busyTimeoutMs);
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
// The version the database holds now, on the run's own connection; "?" when it is unreadable.
QString storedVersion(const QSqlDatabase &db)
{
    int version = 0;
    sqlite3 *handle = UpdateBase::sqliteHandle(db);
    return handle && readVersion(handle, &version) ? QString::number(version) : QStringLiteral("?");
}

bool runUpdater(const DatabasePlan &plan, std::unique_ptr<UpdateBase> (*create)(),
                ConsoleProgress &progress, FILE *console)
{
    const DatabaseEntry &entry = *plan.entry;
    QElapsedTimer timer;
    timer.start();
    const std::unique_ptr<UpdateBase> updater = create();
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
            if (ok && writes && handle) {
                QElapsedTimer compacting;
                compacting.start();
                const Compaction compaction = compactDatabase(handle, fileName);
                if (compaction.outcome == Compaction::Skipped)
                    qWarning("%s: %s; the upgrade stays as committed", qUtf8Printable(fileName),
                             qUtf8Printable(compaction.text()));
                if (compaction.outcome != Compaction::NotNeeded) {
                    notes.append(compaction.text());
                    logInfo(QStringLiteral("%1: compaction %2 s")
                                .arg(fileName, seconds(compacting.elapsed())));
                }
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

    const QString status
        = ok ? QStringLiteral("ok") : QStringLiteral("FAILED: see ") + logDestination();
    QStringList items = {versions, backupText};
    items += notes;
    items += {seconds(timer.elapsed()) + QStringLiteral(" s"), status};
    const QString line = fileName + QStringLiteral(": ") + items.join(QStringLiteral(", "));
    printLine(console, line);
    logInfo(line);
    return ok;
}

} // namespace

bool runUpdaters(const UpgradePlan &plan, FILE *console)
{
    UpdateBase::setWaitNotice(waitNotice);
    ConsoleProgress progress(console);
    for (int i = 0; i < plan.databases.size(); ++i) {
        if (!runUpdater(plan.databases.at(i), createUpdaters[i], progress, console))
            return false;
    }
    return true;
}
