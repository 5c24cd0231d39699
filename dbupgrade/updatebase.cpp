// UpdateBase: the common base of the per-database updaters of the upgrade tool.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatebase.h"

#include "progress.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QtDebug>

namespace {

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
    // The analyser application may hold the database while the tool runs; wait for it as long
    // as the application's own connections wait, instead of failing halfway through the steps.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000"));
    if (!db.open()) {
        qWarning("Can't open %s: %s", qUtf8Printable(fileName),
                 qUtf8Printable(db.lastError().text()));
        return; // version stays 0
    }
    // The upgrade statements rename tables that triggers still name after a drop; since
    // SQLite 3.26 such a rename fails unless the old rename behaviour is asked for.
    EXEC_SQL(QStringLiteral("PRAGMA legacy_alter_table=ON"));

    QSqlQuery query(db);
    if (query.exec(QStringLiteral("select version from version order by version desc"))) {
        if (query.next())
            m_version = query.value(0).toInt();
    } else if (isBusyError(query.lastError())) {
        // Taken for version 0, a busy read would run the oldest steps on a current database.
        m_locked = true;
        qWarning("Can't read the version of %s: %s", qUtf8Printable(fileName),
                 qUtf8Printable(query.lastError().text()));
    }
}

bool UpdateBase::exec(const QString &sql, const char *file, int line)
{
    // Undoing stays allowed: it is what a stopped update still needs.
    if (m_locked && sql != QLatin1String("rollback"))
        return false;
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
            if (value.userType() == QMetaType::QByteArray && value.isNull())
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
