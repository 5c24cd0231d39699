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

// The version the database holds now, on the run's own connection; "?" when it is unreadable.
QString storedVersion(const QSqlDatabase &db)
{
    int version = 0;
    sqlite3 *handle = UpdateBase::sqliteHandle(db);
    return handle && readVersion(handle, &version) ? QString::number(version) : QStringLiteral("?");
}

/*
    One database's run, step by step: the updater's construction takes the write lock and reads
    the version; then the backup, the steps, the checks, the commit (or the rollback that leaves
    the database as found) and the compaction; last the console line. Each step returns whether
    the run goes on.
*/
class DatabaseRun
{
public:
    DatabaseRun(const DatabaseEntry &entry, std::unique_ptr<UpdateBase> updater)
        : m_entry(entry)
        , m_updater(std::move(updater))
        // Without opening it again: a database that did not open stays so, as the updater saw it.
        , m_db(QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false))
        , m_fileName(m_db.databaseName())
        , m_handle(UpdateBase::sqliteHandle(m_db))
        , m_versioned(entry.currentVersion != notVersioned)
        , m_found(m_updater->version())
        , m_changes(m_versioned && m_db.isOpen() && m_found != entry.currentVersion)
    {
        m_backup.ok = true;
    }

    //! Runs every step; false when the database is left as it was found because of a failure.
    bool run(ConsoleProgress &progress)
    {
        if (!m_db.isOpen() || m_updater->isLocked()) {
            m_updater->finish(false);
            return false;
        }
        if (m_changes && !keepBackup()) {
            m_updater->finish(false);
            m_backupText = QStringLiteral("no backup");
            return false;
        }
        progress.begin(m_fileName, m_db);
        bool ok = applySteps() && (!m_writes || check());
        // Nothing to keep, or a failure: the database stays exactly as it was found.
        if (ok && m_writes)
            ok = m_updater->finish(true);
        else
            m_updater->finish(false);
        progress.end();
        if (m_writes && m_backup.ok) {
            m_backupText = !m_backup.fileName.isEmpty()
                ? QStringLiteral("backup ") + m_backup.fileName
                : QStringLiteral("no backup (empty)");
            logInfo(QStringLiteral("%1: backup %2 s, checks %3 s")
                        .arg(m_fileName, seconds(m_backupMs), seconds(m_checkMs)));
        }
        if (ok && m_writes)
            compact();
        if (ok && !m_updater->droppedColumns().isEmpty() && !m_backup.fileName.isEmpty())
            m_notes.append(QStringLiteral("columns dropped, kept in ") + m_backup.fileName);
        return ok;
    }

    //! The console line: versions, backup, notes, time and outcome.
    QString line(bool ok, qint64 ms) const
    {
        QString versions;
        if (!m_db.isOpen())
            versions = QStringLiteral("not opened");
        else if (m_updater->isLocked() && !m_stepsRan)
            versions = QStringLiteral("version unreadable (locked)");
        else if (!m_versioned)
            versions = QStringLiteral("not versioned");
        else
            versions = QStringLiteral("%1 -> %2").arg(m_found).arg(storedVersion(m_db));
        if (ok && m_changes && m_found > m_entry.currentVersion)
            versions += QStringLiteral(", version lowered");
        QStringList items = {versions, m_backupText};
        items += m_notes;
        items += {seconds(ms) + QStringLiteral(" s"),
                  ok ? QStringLiteral("ok") : QStringLiteral("FAILED: see ") + logDestination()};
        return m_fileName + QStringLiteral(": ") + items.join(QStringLiteral(", "));
    }

private:
    // The copy comes before a change is kept; a failed copy leaves the database as found.
    bool keepBackup()
    {
        QElapsedTimer copying;
        copying.start();
        m_backup = backupDatabase(m_fileName, m_found);
        m_backupMs = copying.elapsed();
        if (!m_backup.ok)
            qWarning("Can't back up %s to %s: %s; the database is left unchanged",
                     qUtf8Printable(m_fileName), qUtf8Printable(m_backup.fileName),
                     qUtf8Printable(m_backup.error));
        return m_backup.ok;
    }

    bool applySteps()
    {
        m_stepsRan = true;
        if (m_changes && m_found > m_entry.currentVersion)
            qWarning("%s: version %d is newer than this tool's %d; only its version is "
                     "rewritten, to %d",
                     qUtf8Printable(m_fileName), m_found, m_entry.currentVersion,
                     m_entry.currentVersion);
        // A current database is written only when a step really changes something; until that
        // is known its changes must stay in memory, where a second connection does not see them.
        if (!m_changes && m_handle) {
            QSqlQuery(m_db).exec(QStringLiteral("PRAGMA cache_spill=OFF"));
            touchedTables.clear();
            sqlite3_update_hook(m_handle, noteTouched, nullptr);
        }
        // A step skipped because the database was held is a failure, whatever the updater made
        // of that step.
        const bool ok = m_updater->update() && !m_updater->isLocked();
        if (m_handle)
            sqlite3_update_hook(m_handle, nullptr, nullptr);
        m_writes = m_changes;
        if (ok && m_versioned && !m_changes && m_handle && reallyChanged(m_handle, m_fileName)) {
            m_writes = true;
            return keepBackup();
        }
        return ok;
    }

    // The data predates the tool: what the checks find is reported, not fatal. After a failure
    // the failed statement is what the log must show, not the checks.
    bool check()
    {
        if (m_backup.fileName.isEmpty())
            return true;
        QElapsedTimer checks;
        checks.start();
        logFindings(m_fileName, "integrity check", integrityFindings(m_db));
        logFindings(m_fileName, "foreign key check", foreignKeyFindings(m_db));
        m_checkMs = checks.elapsed();
        return true;
    }

    void compact()
    {
        if (!m_handle)
            return;
        QElapsedTimer compacting;
        compacting.start();
        const Compaction compaction = compactDatabase(m_handle, m_fileName);
        if (compaction.outcome == Compaction::Skipped)
            qWarning("%s: %s; the upgrade stays as committed", qUtf8Printable(m_fileName),
                     qUtf8Printable(compaction.text()));
        if (compaction.outcome != Compaction::NotNeeded) {
            m_notes.append(compaction.text());
            logInfo(QStringLiteral("%1: compaction %2 s")
                        .arg(m_fileName, seconds(compacting.elapsed())));
        }
    }

    const DatabaseEntry &m_entry;
    const std::unique_ptr<UpdateBase> m_updater;
    const QSqlDatabase m_db;
    const QString m_fileName;
    sqlite3 *const m_handle;
    const bool m_versioned;
    const int m_found;
    const bool m_changes;
    bool m_stepsRan = false;
    bool m_writes = false;
    BackupResult m_backup;
    qint64 m_backupMs = 0;
    qint64 m_checkMs = 0;
    QString m_backupText = QStringLiteral("unchanged");
    QStringList m_notes;
};

// Creates, runs and destroys one updater and prints its line on the console.
bool runUpdater(const DatabasePlan &plan, std::unique_ptr<UpdateBase> (*create)(),
                ConsoleProgress &progress, FILE *console)
{
    QElapsedTimer timer;
    timer.start();
    DatabaseRun run(*plan.entry, create());
    const bool ok = run.run(progress);
    const QString line = run.line(ok, timer.elapsed());
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
