// Shared set-up of the peer benchmarks: a scratch instrument folder and the benchmark main.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "benchsite.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

void fail(const QString &what)
{
    std::fprintf(stderr, "benchmark set-up failed: %s\n", qPrintable(what));
    std::exit(2);
}

void exec(QSqlQuery &query, const QString &sql)
{
    if (!query.exec(sql))
        fail(sql + QLatin1String(": ") + query.lastError().text());
}

// The set-up's own connection, removed before the store opens its connections.
void writeDatabase(const QString &fileName, const std::function<void(QSqlDatabase &)> &fill)
{
    const QString connection = QStringLiteral("benchsite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(fileName);
        if (!db.open())
            fail(fileName + QLatin1String(": ") + db.lastError().text());
        fill(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

} // namespace

BenchSite::BenchSite(int keyCount)
{
    if (!m_dir.isValid())
        fail(QStringLiteral("no temporary folder"));
    m_previous = QDir::currentPath();
    QDir::setCurrent(m_dir.path());

    m_keys.reserve(keyCount);
    for (int i = 0; i < keyCount; ++i)
        m_keys << QStringLiteral("group%1/setting%2").arg(i / 100).arg(i % 100);
    auto valueOf = [](int i) { return QStringLiteral("value %1").arg(i); };

    writeDatabase(profileFile(), [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        exec(query, QStringLiteral("create table profile (name text primary key, value)"));
        db.transaction();
        query.prepare(QStringLiteral("insert into profile (name, value) values(?, ?)"));
        for (int i = 0; i < keyCount; ++i) {
            query.addBindValue(m_keys.at(i));
            query.addBindValue(valueOf(i));
            if (!query.exec())
                fail(query.lastError().text());
        }
        query.addBindValue(QStringLiteral("result_not_clotted"));
        query.addBindValue(QStringLiteral("NC"));
        if (!query.exec())
            fail(query.lastError().text());
        db.commit();
    });
    for (const char *name : {"data.db", "qc.db", "syslog.db"}) {
        writeDatabase(QLatin1String(name), [](QSqlDatabase &db) {
            QSqlQuery query(db);
            exec(query, QStringLiteral("create table version (version integer)"));
        });
    }

    {
        QSettings ini(iniFile(), QSettings::IniFormat);
        for (int i = 0; i < keyCount; ++i)
            ini.setValue(m_keys.at(i), valueOf(i));
        ini.setValue(QStringLiteral("result_not_clotted"), QStringLiteral("NC"));
        ini.sync();
        if (ini.status() != QSettings::NoError)
            fail(iniFile());
    }
}

BenchSite::~BenchSite()
{
    QDir::setCurrent(m_previous);
}

namespace {

QtMessageHandler previousHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("QSqlDatabasePrivate::")))
        return;
    previousHandler(type, context, message);
}

} // namespace

int runBenchmarks(int argc, char **argv, const std::function<void()> &registerAll)
{
    previousHandler = qInstallMessageHandler(quietHandler);
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
