// UpdateBase: the common base of the per-database updaters of the upgrade tool.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATEBASE_H
#define UPDATEBASE_H

#include <QObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

struct sqlite3;

// Runs one statement through UpdateBase::exec with the caller's source location for the log.
#define EXEC_SQL(sql) exec((sql), __FILE__, __LINE__)
// Logs a failed query of the caller's own with the caller's source location.
#define LOG_SQL_ERROR(query) UpdateBase::logSqlError((query), __FILE__, __LINE__)

/*!
    \brief Opens one database file on the default connection, reads its schema version and
    offers the statement, rename and copy operations the updaters build on.
*/
class UpdateBase : public QObject
{
    Q_OBJECT
public:
    UpdateBase(const QString &fileName, QObject *parent);

    //! Brings the database to the current version; false at the first fatal failure.
    virtual bool update() = 0;

    //! The version found when the updater was constructed; 0 when none was readable.
    int version() const { return m_version; }
    //! True when another connection held the database past the busy time-out, at the version
    //! read (version() is then 0 without meaning) or at a later statement. From then on exec()
    //! (but for a rollback) and copyTable() run nothing, so no later step, the version rewrite
    //! above all, lands on a database whose earlier steps were skipped; the update counts as
    //! failed.
    bool isLocked() const { return m_locked; }

    //! Ends the run's transaction: commits it, or on \a keep false rolls it back; false when
    //! the commit failed (the database is then as it was before the run).
    bool finish(bool keep);
    //! Whether the run still holds its transaction (taken at construction).
    bool inTransaction() const { return m_inTransaction; }
    //! Tables named with columns a copy left out; the driver points to the backup for them.
    QStringList droppedColumns() const { return m_dropped; }

    bool exec(const QString &sql, const char *file, int line);
    bool renameTable(const QString &from, const QString &to);
    //! Copies every row of \a from into \a to, columns matched by name; \a extra sets or
    //! adds columns, \a dropped leaves columns out. False at the first failed insert.
    bool copyTable(const QString &to, const QString &from, const QSqlRecord &extra = QSqlRecord(),
                   const QStringList &dropped = QStringList());

    static void logSqlError(QSqlQuery query, const char *file, int line);
    //! Called once per database when a statement has to wait for another program's lock.
    static void setWaitNotice(void (*notice)(const QString &fileName));
    //! Installs the wait for another program's lock on \a handle, announced once for \a fileName.
    static void installBusyHandler(sqlite3 *handle, const QString &fileName);
    //! Test hook (test builds only): ends the process with SIGKILL at the point named by
    //! DBUPGRADE_TEST_KILL, waits at the one named by DBUPGRADE_TEST_PAUSE.
    static void crashPoint(const QString &name);
    //! SQLite's own handle of \a db, for what Qt's driver does not offer; null when not open.
    static sqlite3 *sqliteHandle(const QSqlDatabase &db);
    //! The source file's name without the build machine's directories, as log lines show it.
    static const char *sourceName(const char *file);

protected:
    //! Logs and remembers the columns of \a table that a copy into a narrower table leaves out.
    void reportDroppedColumns(const QString &table, const QStringList &columns);

private:
    Q_DISABLE_COPY(UpdateBase)
    void stopIfHeld(const QSqlError &error);

    int m_version = 0;
    bool m_locked = false;
    bool m_inTransaction = false;
    QStringList m_dropped;
};

#endif // UPDATEBASE_H
