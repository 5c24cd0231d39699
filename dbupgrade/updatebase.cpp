// UpdateBase: the common base of the per-database updaters of the upgrade tool.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatebase.h"

#include "databases.h"
#include "progress.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QThread>
#include <QtDebug>

#include <sqlite3.h>

#include <csignal>
#include <cstdio>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

void (*waitNotice)(const QString &fileName) = nullptr;

// The wait of one lock attempt; every statement of the run waits the same way, and the console
// hears about it once per database.
struct BusyWait
{
    QString fileName;
    QElapsedTimer waited;
    bool announced = false;
};
BusyWait busyWait;

int busyHandler(void *, int count)
{
    if (count == 0) {
        busyWait.waited.start();
        if (!busyWait.announced && waitNotice) {
            busyWait.announced = true;
            waitNotice(busyWait.fileName);
        }
    }
    if (busyWait.waited.elapsed() >= busyTimeoutMs)
        return 0;
    QThread::msleep(count < 10 ? 5 : 25);
    return 1;
}

#ifdef DBUPGRADE_TEST_HOOKS
// The test hook: DBUPGRADE_TEST_KILL holds a number (the statement, counted over the whole run,
// at whose start the process dies), a named point, or a text that a statement contains.
// DBUPGRADE_TEST_PAUSE names a point where the process waits two seconds, to widen a gap.
// Compiled into test builds only.
QString killAt()
{
    static const QString value = qEnvironmentVariable("DBUPGRADE_TEST_KILL");
    return value;
}

void killNow()
{
#ifndef Q_OS_WIN
    ::kill(::getpid(), SIGKILL);
#endif
    std::abort();
}

int traceStatement(unsigned, void *, void *statement, void *)
{
    static long long count = 0;
    ++count;
    const QString &point = killAt();
    bool isNumber = false;
    const long long number = point.toLongLong(&isNumber);
    if (isNumber) {
        if (count == number)
            killNow();
    } else if (const char *sql = sqlite3_sql(static_cast<sqlite3_stmt *>(statement))) {
        if (QString::fromUtf8(sql).contains(point))
            killNow();
    }
    return 0;
}
#endif

// The data.db version-3 group brackets its statements as a transaction of its own; inside the
// run's transaction they become a savepoint, and the log still shows the group's own texts.
QStringList groupStatements(const QString &sql)
{
    if (sql == QLatin1String("begin transaction"))
        return {QStringLiteral("savepoint upgrade_group")};
    if (sql == QLatin1String("end transaction"))
        return {QStringLiteral("release upgrade_group")};
    if (sql == QLatin1String("rollback"))
        return {QStringLiteral("rollback to upgrade_group"),
                QStringLiteral("release upgrade_group")};
    return {};
}

void logError(const char *file, int line, const QString &error, const QString &statement)
{
    qWarning().noquote().nospace() << UpdateBase::sourceName(file) << '(' << line << "): " << error
                                   << ": [" << statement << ']';
}

// SQLITE_BUSY or SQLITE_LOCKED, also as extended result codes: another connection holds the
// database.
bool isBusyError(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (code == 5 || code == 6);
}

} // namespace

UpdateBase::UpdateBase(const QString &fileName, QObject *parent)
    : QObject(parent)
{
    // The previous updater's connection is replaced; removing it first keeps Qt's warning
    // about a duplicate connection name out of the log.
    const QString connection = QLatin1String(QSqlDatabase::defaultConnection);
    if (QSqlDatabase::contains(connection))
        QSqlDatabase::removeDatabase(connection);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(fileName);
    if (!db.open()) {
        qWarning("Can't open %s: %s", qUtf8Printable(fileName),
                 qUtf8Printable(db.lastError().text()));
        return; // version stays 0
    }
    if (sqlite3 *handle = sqliteHandle(db)) {
        // The analyser application may hold the database while the tool runs: every statement
        // waits for it, so a short lock never fails a step.
        installBusyHandler(handle, fileName);
#ifdef DBUPGRADE_TEST_HOOKS
        if (!killAt().isEmpty())
            sqlite3_trace_v2(handle, SQLITE_TRACE_STMT, traceStatement, nullptr);
#endif
    }
    // The upgrade statements rename tables that triggers still name after a drop; since
    // SQLite 3.26 such a rename fails unless the old rename behaviour is asked for.
    EXEC_SQL(QStringLiteral("PRAGMA legacy_alter_table=ON"));

    // The whole run is one transaction, taken before the version is read: a second run waiting
    // here finds the version this one leaves, and a kill, a full disk or a failed step leaves
    // the database as it was (SQLite rolls the journal back at the next open).
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("begin immediate"))) {
        logSqlError(begin, __FILE__, __LINE__);
        stopIfHeld(begin.lastError());
        m_locked = true; // no step may run outside the transaction
        return;
    }
    m_inTransaction = true;

    QString error;
    bool busy = false;
    if (!readVersion(sqliteHandle(db), &m_version, &error, &busy) && busy) {
        // Taken for version 0, a busy read would run the oldest steps on a current database.
        m_locked = true;
        qWarning("Can't read the version of %s: %s", qUtf8Printable(fileName),
                 qUtf8Printable(error));
    }
}

bool UpdateBase::finish(bool keep)
{
    if (!m_inTransaction)
        return !keep;
    m_inTransaction = false;
    QSqlQuery query;
    if (keep) {
        crashPoint(QLatin1String("commit ") + QSqlDatabase::database().databaseName());
        if (query.exec(QStringLiteral("commit")))
            return true;
        logSqlError(query, __FILE__, __LINE__);
    }
    // A busy commit leaves the transaction open and the rollback ends it; after an I/O error
    // or a full disk SQLite has rolled it back already.
    sqlite3 *handle = sqliteHandle(QSqlDatabase::database());
    if (handle && sqlite3_get_autocommit(handle))
        return false;
    if (!query.exec(QStringLiteral("rollback")))
        logSqlError(query, __FILE__, __LINE__);
    return false;
}

void UpdateBase::setWaitNotice(void (*notice)(const QString &))
{
    waitNotice = notice;
}

void UpdateBase::installBusyHandler(sqlite3 *handle, const QString &fileName)
{
    busyWait.fileName = fileName;
    busyWait.announced = false;
    sqlite3_busy_handler(handle, busyHandler, nullptr);
}

void UpdateBase::crashPoint(const QString &name)
{
#ifdef DBUPGRADE_TEST_HOOKS
    if (!killAt().isEmpty() && killAt() == name)
        killNow();
    static const QString pauseAt = qEnvironmentVariable("DBUPGRADE_TEST_PAUSE");
    if (!pauseAt.isEmpty() && pauseAt == name) {
        std::fprintf(stderr, "dbupgrade test hook: paused at %s\n", qUtf8Printable(name));
        std::fflush(stderr);
        QThread::msleep(2000);
    }
#else
    Q_UNUSED(name)
#endif
}

void UpdateBase::reportDroppedColumns(const QString &table, const QStringList &columns)
{
    if (columns.isEmpty())
        return;
    qWarning("%s: columns of %s not carried over: %s",
             qUtf8Printable(QSqlDatabase::database().databaseName()), qUtf8Printable(table),
             qUtf8Printable(columns.join(QLatin1String(", "))));
    m_dropped.append(QStringLiteral("%1 (%2)").arg(table, columns.join(QLatin1String(", "))));
}

bool UpdateBase::exec(const QString &sql, const char *file, int line)
{
    // Undoing stays allowed: it is what a stopped update still needs.
    if (m_locked && sql != QLatin1String("rollback"))
        return false;
    const QStringList group = m_inTransaction ? groupStatements(sql) : QStringList();
    if (!group.isEmpty()) {
        for (const QString &statement : group) {
            QSqlQuery query;
            if (!query.exec(statement)) {
                logError(file, line, query.lastError().text(), sql);
                stopIfHeld(query.lastError());
                return false;
            }
        }
        return true;
    }
    QSqlQuery query;
    if (query.exec(sql))
        return true;
    logSqlError(query, file, line);
    stopIfHeld(query.lastError());
    return false;
}

// Most steps are not fatal, so a step skipped because the application held the database would
// otherwise be followed by the version rewrite, and the next run would never repeat it. The
// failed statement's line, already logged, is the last one the log needs.
void UpdateBase::stopIfHeld(const QSqlError &error)
{
    if (isBusyError(error))
        m_locked = true;
}

bool UpdateBase::renameTable(const QString &from, const QString &to)
{
    return EXEC_SQL(QStringLiteral("alter table %1 rename to %2").arg(from, to));
}

bool UpdateBase::copyTable(const QString &to, const QString &from, const QSqlRecord &extra,
                           const QStringList &dropped)
{
    if (m_locked)
        return false;
    QSqlDatabase db = QSqlDatabase::database();
    QSqlQuery select(db);
    select.setForwardOnly(true);
    if (!select.exec(QLatin1String("select * from ") + from)) {
        logSqlError(select, __FILE__, __LINE__);
        // A missing source table copies nothing; a held one must not pass for an empty one,
        // or the caller drops the table whose rows were never copied.
        stopIfHeld(select.lastError());
        return !m_locked;
    }

    // One transaction instead of a disk sync per row. It is committed after a failed insert
    // too, so the rows copied before it stay as they would row by row. Inside a transaction
    // of the caller's, BEGIN fails and the rows simply join that one.
    const bool ownTransaction = db.transaction();

    QSqlQuery insert(db);
    bool prepared = false;
    bool ok = true;
    qint64 copied = 0;
    while (select.next()) {
        QSqlRecord record = select.record();
        for (const QString &name : dropped) {
            const int index = record.indexOf(name);
            if (index >= 0)
                record.remove(index);
        }
        for (int i = 0; i < extra.count(); ++i) {
            const int index = record.indexOf(extra.fieldName(i));
            if (index >= 0)
                record.setValue(index, extra.value(i));
            else
                record.append(extra.field(i));
        }

        // Every row has the same columns, so the statement is prepared once. Values are bound,
        // never written into the statement, so each keeps its storage class and bytes.
        if (!prepared) {
            const QString sql
                = db.driver()->sqlStatement(QSqlDriver::InsertStatement, to, record, true);
            if (!insert.prepare(sql)) {
                logSqlError(insert, __FILE__, __LINE__);
                ok = false;
                break;
            }
            prepared = true;
        }
        int position = 0;
        for (int i = 0; i < record.count(); ++i) {
            if (!record.isGenerated(i))
                continue;
            QVariant value = record.value(i);
            // The driver reads a zero-length blob as a null byte array, which would bind as NULL.
            if (value.userType() == QMetaType::QByteArray && value.toByteArray().isNull())
                value = QByteArray("", 0);
            insert.bindValue(position++, value);
        }
        if (!insert.exec()) {
            logSqlError(insert, __FILE__, __LINE__);
            stopIfHeld(insert.lastError());
            ok = false;
            break;
        }
        ConsoleProgress::rowsCopied(to, ++copied);
    }
    select.finish();
    insert.finish();

    if (ownTransaction && !db.commit()) {
        logError(__FILE__, __LINE__, db.lastError().text(), QStringLiteral("commit"));
        stopIfHeld(db.lastError());
        ok = false;
    }
    return ok;
}

void UpdateBase::logSqlError(QSqlQuery query, const char *file, int line)
{
    QString error = query.lastError().text();
    // A query on a database that did not open has no error of its own; the open's is the cause.
    if (error.isEmpty())
        error = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false)
                    .lastError()
                    .text();
    logError(file, line, error, query.lastQuery());
}

sqlite3 *UpdateBase::sqliteHandle(const QSqlDatabase &db)
{
    if (!db.isOpen() || !db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

const char *UpdateBase::sourceName(const char *file)
{
    if (!file)
        return "";
    const char *name = file;
    for (const char *p = file; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}
