// A small application of the core library: settings of an instrument folder, a result, a curve.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include <analysisresult.h>
#include <coagulationcore_version.h>
#include <profile.h>

#include <QCoreApplication>
#include <QDir>
#include <QSqlQuery>
#include <QTextStream>

#if COAGULATIONCORE_VERSION < COAGULATIONCORE_VERSION_CHECK(1, 0, 0)
#error "needs the core library 1.0 or later"
#endif

// A fresh instrument folder: the four databases, each with a table, as the store expects them.
static void createInstrument()
{
    const char *const statements[][2] = {
        {"profile.db", "create table if not exists profile (name text primary key, value)"},
        {"data.db", "create table if not exists version (version integer)"},
        {"qc.db", "create table if not exists version (version integer)"},
        {"syslog.db", "create table if not exists version (version integer)"},
    };
    const QString connection = QStringLiteral("setup");
    for (const auto &statement : statements) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(QLatin1String(statement[0]));
            if (db.open())
                QSqlQuery(db).exec(QLatin1String(statement[1]));
        }
        QSqlDatabase::removeDatabase(connection);
    }
}

// Usage: consumer <instrument folder>
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2 || !QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        qCritical("usage: consumer <instrument folder>");
        return 2;
    }
    createInstrument();

    // The settings store opens profile.db of the current folder; a saved change becomes a row
    // when the store's thread next processes its events.
    Profile &profile = Profile::instance();
    profile.set_manual_input_flag(QStringLiteral("M"), true);
    QCoreApplication::processEvents();
    QSqlQuery query(profile.database());
    query.exec(QStringLiteral("select value from profile where name = 'manual_input_flag'"));
    const QString stored = query.next() ? query.value(0).toString() : QString();

    // A result is formatted with the marks the settings give.
    AnalysisResult result(12.345);
    result.setFlag(ry::ManualInput);
    const QString text = result.toString(AnalysisResult::WithFlags, 'f', 1);

    // A curve survives its blob, the form data.db stores it in.
    ClotCurve curve;
    curve.append(0.0, 0.1, {100.0, 98.5, 60.25});
    const ClotCurve decoded = ClotCurve::fromBuffer(curve.toBuffer());

    QTextStream out(stdout);
    out << "core library " << COAGULATIONCORE_VERSION_STRING << '\n'
        << "stored mark: " << stored << '\n'
        << "result: " << text << '\n'
        << "curve: " << decoded.size() << " points, y(2) = " << decoded.y(2) << '\n';
    const bool ok
        = stored == QLatin1String("M") && text == QLatin1String("M 12.3") && decoded == curve;
    out << (ok ? "ok" : "FAILED") << '\n';
    return ok ? 0 : 1;
}
