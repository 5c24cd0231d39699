// datadbgen: writes a data.db as the application left it before the upgrade tool first ran.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char *const schema[] = {
    "create table patient(\n\tid integer primary key,\n\tsampleNo integer,\n\tdate date,\n"
    "\tname text,\n\tsex integer,\n\tdepartment integer)",
    "create table exam(\n\tid integer primary key,\n\tsampleNo integer,\n\tdate date,\n"
    "\titem text,\n\tstate integer)",
    "create table patientExtra(\n\tpatientId integer references patient,\n\tname text,\n\tvalue)",
    "create table result(\n\tid integer primary key,\n\tpatientId integer references patient,\n"
    "\titem text,\n\tsubitem text,\n\tabbr text,\n\tcode text,\n\tresult real,\n\tunit text,\n"
    "\tflag integer,\n\tdisplayOrder integer,\n\tlowerMarkLimit real,\n\tupperMarkLimit real)",
    "create index result_index on result(patientId, item, subitem)",
    "create table curve(\n\tid integer primary key,\n\tpatientId integer references patient,\n"
    "\titem text,\n\tcurve blob)",
    "create trigger on_delete_patient after delete on patient\nbegin\n"
    "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
    "\tdelete from result where old.id = result.patientId;\n"
    "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
    "\tdelete from curve where old.id = curve.patientId;\nend",
};

const char *const lookupTables[]
    = {"department", "sex", "treatmentRoom", "diagnosis", "doctor", "operator"};

struct Subitem
{
    const char *item;
    const char *subitem;
    const char *abbr;
    const char *unit;
    double value;
};
// One patient's panel; every fifth patient has its PT measured twice.
const Subitem panel[] = {
    {"PT", "PT.T", "T", "s", 12.4},     {"PT", "PT.INR", "INR", "", 1.02},
    {"APTT", "APTT.T", "T", "s", 31.8}, {"FIB", "FIB.C", "C", "g/L", 2.9},
    {"TT", "TT.T", "T", "s", 16.5},
};

// An intensity curve sampled every 0.1 s, falling as the clot forms.
QByteArray curveBlob(int points, double clotTime, quint32 seed)
{
    QByteArray blob;
    QDataStream out(&blob, QIODevice::WriteOnly);
    out << qint32(0) << quint32(1) << 0.0 << 0.1 << quint32(points);
    for (int i = 0; i < points; ++i) {
        seed = seed * 1103515245u + 12345u;
        const double noise = double((seed >> 16) % 100) / 50.0 - 1.0;
        const double x = 0.1 * i;
        out << std::round((2040.0 - 520.0 / (1.0 + std::exp(-(x - clotTime) / 1.2)) + noise) * 10)
                / 10;
    }
    return blob;
}

bool run(QSqlQuery &query, const QString &sql)
{
    if (query.exec(sql))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(query.lastError().text()));
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: datadbgen FILE RESULTS CURVES POINTS\n");
        return 2;
    }
    const QString file = args.at(1);
    const int results = args.at(2).toInt();
    const int curves = args.at(3).toInt();
    const int points = args.at(4).toInt();
    QFile::remove(file);

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(file);
    if (!db.open()) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
        return 1;
    }
    QSqlQuery query(db);
    for (const char *sql : schema) {
        if (!run(query, QString::fromUtf8(sql)))
            return 1;
    }
    if (!db.transaction())
        return 1;

    for (const char *table : lookupTables) {
        if (!run(query,
                 QStringLiteral("create table %1(id integer primary key, abbr text, name text)")
                     .arg(QLatin1String(table))))
            return 1;
        // Ids with gaps, as left by deleted entries.
        for (int i = 1; i <= 20; ++i) {
            query.prepare(
                QStringLiteral("insert into %1 values(?, ?, ?)").arg(QLatin1String(table)));
            query.addBindValue(i * 3);
            query.addBindValue(QStringLiteral("A%1").arg(i));
            query.addBindValue(QStringLiteral("%1 entry %2").arg(QLatin1String(table)).arg(i));
            if (!query.exec())
                return 1;
        }
    }

    const int perPatient = int(sizeof panel / sizeof panel[0]) + 1;
    QSqlQuery patient(db), exam(db), extra(db), result(db), curve(db);
    patient.prepare(QStringLiteral("insert into patient values(?, ?, ?, ?, ?, ?)"));
    exam.prepare(
        QStringLiteral("insert into exam(sampleNo, date, item, state) values(?, ?, ?, 2)"));
    extra.prepare(QStringLiteral("insert into patientExtra values(?, 'bed', ?)"));
    result.prepare(
        QStringLiteral("insert into result values(?, ?, ?, ?, ?, ?, ?, ?, 0, ?, 0.8, 14.0)"));
    curve.prepare(QStringLiteral("insert into curve values(?, ?, ?, ?)"));
    int resultId = 0;
    int patients = 0;
    for (int p = 1; resultId < results || p == 1; ++p) {
        patients = p;
        const QString date = QStringLiteral("2024-%1-%2")
                                 .arg(1 + (p / 400) % 12, 2, 10, QLatin1Char('0'))
                                 .arg(1 + (p / 15) % 28, 2, 10, QLatin1Char('0'));
        const int sampleNo = 1 + p % 15;
        patient.addBindValue(p);
        patient.addBindValue(sampleNo);
        patient.addBindValue(date);
        patient.addBindValue(QStringLiteral("Patient %1").arg(p));
        patient.addBindValue(3 * (1 + p % 2));
        patient.addBindValue(3 * (1 + p % 20));
        extra.addBindValue(p);
        extra.addBindValue(QString::number(p % 40));
        if (!patient.exec() || !extra.exec())
            return 1;
        for (int i = 0; i < perPatient && resultId < results; ++i) {
            // The extra slot repeats the PT of every fifth patient, a later measurement.
            const bool repeat = i == perPatient - 1;
            if (repeat && p % 5 != 0)
                continue;
            const Subitem &s = panel[repeat ? 0 : i];
            result.addBindValue(++resultId);
            result.addBindValue(p);
            result.addBindValue(QLatin1String(s.item));
            result.addBindValue(QLatin1String(s.subitem));
            result.addBindValue(QLatin1String(s.abbr));
            result.addBindValue(QLatin1String(s.subitem));
            result.addBindValue(s.value + (p % 7) * 0.1);
            result.addBindValue(QLatin1String(s.unit));
            result.addBindValue(i + 1);
            if (!result.exec())
                return 1;
            // One exam per item (PT carries both its time and its ratio).
            if (!repeat && std::strcmp(s.abbr, "INR") != 0) {
                exam.addBindValue(sampleNo);
                exam.addBindValue(date);
                exam.addBindValue(QLatin1String(s.item));
                if (!exam.exec())
                    return 1;
            }
        }
    }
    for (int c = 1; c <= curves; ++c) {
        const int p = 1 + (c - 1) % patients;
        curve.addBindValue(c);
        curve.addBindValue(p);
        curve.addBindValue(QLatin1String(panel[c % 5].item));
        curve.addBindValue(curveBlob(points, 10.0 + (c % 50) * 0.4, quint32(c)));
        if (!curve.exec()) {
            std::fprintf(stderr, "%s\n", qPrintable(curve.lastError().text()));
            return 1;
        }
    }
    if (!db.commit())
        return 1;
    std::printf("%s: %d patients, %d results, %d curves of %d points\n", qPrintable(file), patients,
                resultId, curves, points);
    return 0;
}
