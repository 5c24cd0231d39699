// Helpers for the upgrade tool's tests: temporary instrument folders, fixture databases, runs of
// the built tool and read-back through a connection of their own.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <utility>

namespace UpgradeTest {

QString fixturePath(const QString &name)
{
    return QStringLiteral(UPGRADE_FIXTURES_DIR "/") + name;
}

QString toolPath()
{
    return QStringLiteral(DBUPGRADE_PATH);
}

bool runSql(const QString &databasePath, const QByteArray &sql, QString *error)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), databasePath});
    if (!shell.waitForStarted()) {
        if (error)
            *error = QStringLiteral("sqlite3 did not start: ") + shell.errorString();
        return false;
    }
    shell.write(sql);
    shell.closeWriteChannel();
    shell.waitForFinished(60000);
    const QByteArray messages = shell.readAllStandardError();
    const bool ok
        = shell.exitStatus() == QProcess::NormalExit && shell.exitCode() == 0 && messages.isEmpty();
    if (!ok && error)
        *error = QStringLiteral("sqlite3 on %1: %2").arg(databasePath, QString::fromUtf8(messages));
    return ok;
}

bool buildDatabase(const QString &databasePath, const QString &fixtureName, QString *error)
{
    QFile file(fixturePath(fixtureName));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read fixture ") + file.fileName();
        return false;
    }
    return runSql(databasePath, file.readAll(), error);
}

ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory)
{
    ProgramRun run;
    QProcess process;
    process.setWorkingDirectory(workingDirectory.isEmpty() ? QDir::currentPath()
                                                           : workingDirectory);
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        run.standardError = process.errorString().toUtf8();
        return run;
    }
    run.finished = process.waitForFinished(120000);
    if (!run.finished)
        process.kill();
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

ProgramRun runTool(const QStringList &arguments, const QString &workingDirectory)
{
    return runProgram(toolPath(), arguments, workingDirectory);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList readLines(const QString &path)
{
    QString text = QString::fromUtf8(readFile(path));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (text.isEmpty())
        return QStringList();
    return text.split(QLatin1Char('\n'));
}

QStringList logMessages(const QString &path)
{
    QStringList lines = readLines(path);
    lines.erase(std::remove_if(
                    lines.begin(), lines.end(),
                    [](const QString &line) { return line.startsWith(QLatin1String("Info: ")); }),
                lines.end());
    return lines;
}

QList<QVariantList> queryRows(const QString &databasePath, const QString &sql, QString *error)
{
    static int serial = 0;
    const QString connection = QStringLiteral("upgradetest-readback-%1").arg(++serial);
    QList<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(databasePath);
        // Read back without creating a missing file.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql)) {
                if (error)
                    *error = query.lastError().text();
            } else {
                while (query.next()) {
                    QVariantList row;
                    for (int i = 0; i < query.record().count(); ++i)
                        row.append(query.value(i));
                    rows.append(row);
                }
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return rows;
}

QStringList queryTexts(const QString &databasePath, const QString &sql)
{
    QString error;
    const QList<QVariantList> rows = queryRows(databasePath, sql, &error);
    if (!error.isEmpty())
        return {QStringLiteral("error: ") + error};
    QStringList texts;
    for (const QVariantList &row : rows) {
        QStringList columns;
        for (const QVariant &value : row)
            columns.append(value.isNull() ? QStringLiteral("NULL") : value.toString());
        texts.append(columns.join(QLatin1Char('|')));
    }
    return texts;
}

QStringList schemaObjects(const QString &databasePath)
{
    return queryTexts(databasePath,
                      QStringLiteral("select type || ' ' || name from sqlite_master order by 1"));
}

QByteArray shellOutput(const QString &databasePath, const QString &command)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"),
                {QStringLiteral("-readonly"), QStringLiteral("-bail"), databasePath, command});
    if (!shell.waitForStarted() || !shell.waitForFinished(60000)
        || shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
        return QByteArray();
    return shell.readAllStandardOutput();
}

QStringList databaseDump(const QString &databasePath)
{
    QString error;
    const QList<QVariantList> objects = queryRows(
        databasePath,
        QStringLiteral("select type, name, tbl_name, sql from sqlite_master order by type, name"),
        &error);
    if (!error.isEmpty())
        return {QStringLiteral("error: ") + error};
    QStringList dump;
    QStringList tables;
    for (const QVariantList &object : objects) {
        dump.append(QStringLiteral("%1 %2 on %3: %4")
                        .arg(object.at(0).toString(), object.at(1).toString(),
                             object.at(2).toString(), object.at(3).toString()));
        if (object.at(0).toString() == QLatin1String("table"))
            tables.append(object.at(1).toString());
    }
    for (const QString &table : tables) {
        QStringList columns;
        for (const QVariantList &column : queryRows(
                 databasePath, QStringLiteral("pragma table_info(\"%1\")").arg(table), &error))
            columns.append(QStringLiteral("quote(\"%1\")").arg(column.at(1).toString()));
        const QString select = QStringLiteral("select %1 from \"%2\" order by rowid")
                                   .arg(columns.join(QLatin1String(", ")), table);
        for (const QVariantList &row : queryRows(databasePath, select, &error)) {
            QStringList values;
            for (const QVariant &value : row)
                values.append(value.toString());
            dump.append(table + QLatin1String(": ") + values.join(QLatin1String(", ")));
        }
        if (!error.isEmpty())
            return {QStringLiteral("error: ") + error};
    }
    return dump;
}

QString schemaText(const QString &databasePath)
{
    QString error;
    const QList<QVariantList> objects = queryRows(
        databasePath,
        QStringLiteral("select type, name, tbl_name, sql from sqlite_master order by type, name"),
        &error);
    if (!error.isEmpty())
        return QStringLiteral("error: ") + error;
    QString text;
    for (const QVariantList &object : objects) {
        text += QStringLiteral("-- %1 %2 on %3\n")
                    .arg(object.at(0).toString(), object.at(1).toString(), object.at(2).toString());
        if (!object.at(3).isNull())
            text += object.at(3).toString() + QLatin1String(";\n");
        text += QLatin1Char('\n');
    }
    return text;
}

TemporarySite::TemporarySite(const QString &subfolder)
    : m_previous(QDir::currentPath())
{
    if (!m_dir.isValid())
        return;
    m_path = m_dir.path();
    if (!subfolder.isEmpty()) {
        QDir(m_path).mkpath(subfolder);
        m_path = QDir(m_path).filePath(subfolder);
    }
    QDir::setCurrent(m_path);
}

TemporarySite::~TemporarySite()
{
    QDir::setCurrent(m_previous);
}

bool TemporarySite::isValid() const
{
    return m_dir.isValid() && QDir::current().canonicalPath() == QDir(m_path).canonicalPath();
}

QString TemporarySite::path() const
{
    return m_path;
}

QString TemporarySite::rootPath() const
{
    return m_dir.path();
}

QString TemporarySite::filePath(const QString &name) const
{
    return QDir(m_path).filePath(name);
}

bool TemporarySite::build(const QString &databaseName, const QString &fixtureName, QString *error)
{
    return buildDatabase(filePath(databaseName), fixtureName, error);
}

QStringList TemporarySite::entries() const
{
    return QDir(m_path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

namespace {
QStringList s_warnings;

void collectWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        s_warnings.append(message);
}
} // namespace

WarningCatcher::WarningCatcher()
    : m_previous(qInstallMessageHandler(collectWarning))
{
}

WarningCatcher::~WarningCatcher()
{
    qInstallMessageHandler(m_previous);
}

QStringList WarningCatcher::take()
{
    return std::exchange(s_warnings, QStringList());
}

} // namespace UpgradeTest
