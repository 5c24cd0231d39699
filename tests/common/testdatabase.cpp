// Test helper: databases built from SQL fixtures and read back through a connection of their own.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "testdatabase.h"

#include <QDebug>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace TestDatabase {

bool build(const QString &dbFile, const QString &sqlFile)
{
    QProcess sqlite;
    sqlite.setStandardInputFile(sqlFile);
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), dbFile});
    if (!sqlite.waitForFinished(30000) || sqlite.exitStatus() != QProcess::NormalExit
        || sqlite.exitCode() != 0) {
        qWarning() << "sqlite3 failed on" << sqlFile << sqlite.readAllStandardError();
        return false;
    }
    return true;
}

QList<QVariantList> rows(const QString &dbFile, const QString &statement,
                         const QVariantList &bindings)
{
    QList<QVariantList> result;
    const QString name = QStringLiteral("verify-") + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(dbFile);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            qWarning() << "cannot open" << dbFile << db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.prepare(statement);
            for (const QVariant &value : bindings)
                query.addBindValue(value);
            if (!query.exec())
                qWarning() << "query failed" << statement << query.lastError().text();
            while (query.next()) {
                QVariantList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << query.value(i);
                result << row;
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

QVariant scalar(const QString &dbFile, const QString &statement, const QVariantList &bindings)
{
    const QList<QVariantList> all = rows(dbFile, statement, bindings);
    if (all.isEmpty() || all.first().isEmpty())
        return QVariant();
    return all.first().first();
}

} // namespace TestDatabase
