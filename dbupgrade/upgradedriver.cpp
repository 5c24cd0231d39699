// The upgrade tool's run: its log file, translations and the updaters in their fixed order.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include "backup.h"
#include "progress.h"
#include "updatedata.h"
#include "updateprofile.h"
#include "updatesyslog.h"

#include <QElapsedTimer>
#include <QLibraryInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTranslator>
#include <QVariant>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

FILE *logFile = nullptr;
QString logPath;

// qc.db is never changed, so it is never copied nor checked.
constexpr int notVersioned = -1;

struct UpdaterEntry
{
    //! The version the updater writes; a database found below it is changed by the update.
    int currentVersion;
    std::unique_ptr<UpdateBase> (*create)();
};

template<class Updater>
std::unique_ptr<UpdateBase> createUpdater()
{
    return std::make_unique<Updater>(nullptr);
}

// In the order they run.
const UpdaterEntry updaters[] = {
    {4, createUpdater<UpdateProfile>},
    {4, createUpdater<UpdateData>},
    {notVersioned, createUpdater<UpdateQc>},
    {1, createUpdater<UpdateSyslog>},
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

// The version the database holds now, read as the updaters read it; "?" when it is unreadable.
QString storedVersion(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("select version from version order by version desc")))
        return QString::number(query.next() ? query.value(0).toInt() : 0);
    // No version table yet counts as 0, as for the updaters.
    if (query.lastError().nativeErrorCode() == QLatin1String("1")) // SQLITE_ERROR
        return QStringLiteral("0");
    return QStringLiteral("?");
}

// Creates, runs and destroys one updater and prints its line on the console.
bool runUpdater(const UpdaterEntry &entry, ConsoleProgress &progress, FILE *console)
{
    QElapsedTimer timer;
    timer.start();
    const std::unique_ptr<UpdateBase> updater = entry.create();
    // Without opening it again: a database that did not open stays so, as the updater saw it.
    const QSqlDatabase db
        = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
    const QString fileName = db.databaseName();
    const bool changes = entry.currentVersion != notVersioned && db.isOpen()
        && updater->version() < entry.currentVersion;

    bool ok = false;
    QString versions;
    QString backupText = QStringLiteral("unchanged");
    if (updater->isLocked()) {
        versions = QStringLiteral("version unreadable (locked)");
    } else {
        BackupResult backup;
        backup.ok = true;
        if (changes) {
            backup = backupDatabase(db, fileName, updater->version());
            if (!backup.ok) {
                qWarning("Can't back up %s to %s: %s; the database is left unchanged",
                         qUtf8Printable(fileName), qUtf8Printable(backup.fileName),
                         qUtf8Printable(backup.error));
                backupText = QStringLiteral("no backup");
            } else {
                backupText = !backup.fileName.isEmpty()
                    ? QStringLiteral("backup ") + backup.fileName
                    : backup.error.isEmpty() ? QStringLiteral("no backup (empty)")
                                             : QStringLiteral("no backup (not a database)");
            }
        }
        if (backup.ok) {
            progress.begin(fileName, db);
            // A step skipped because the database was held is a failure, whatever the updater
            // made of that step.
            ok = updater->update() && !updater->isLocked();
            if (ok && changes && backup.error.isEmpty()) {
                // The data predates the tool: what the checks find is reported, not fatal. After
                // a failure the failed statement is what the log must show, not the checks.
                logFindings(fileName, "integrity check", integrityFindings(db));
                logFindings(fileName, "foreign key check", foreignKeyFindings(db));
            }
            progress.end();
        }
        if (!db.isOpen())
            versions = QStringLiteral("not opened");
        else if (entry.currentVersion == notVersioned)
            versions = QStringLiteral("not versioned");
        else
            versions = QStringLiteral("%1 -> %2").arg(updater->version()).arg(storedVersion(db));
    }

    const QString status = ok
        ? QStringLiteral("ok")
        : QStringLiteral("FAILED: see ") + (logFile ? logPath : QStringLiteral("standard error"));
    const QString line
        = QStringLiteral("%1: %2, %3 s, %4, %5")
              .arg(fileName, versions, QString::number(timer.elapsed() / 1000.0, 'f', 1),
                   backupText, status);
    std::fprintf(console, "%s\n", line.toLocal8Bit().constData());
    std::fflush(console);
    return ok;
}

} // namespace

bool openLog(const char *path)
{
    FILE *file = std::fopen(path, "a");
    if (!file)
        return false;
    logFile = file;
    logPath = QString::fromLocal8Bit(path);
    qInstallMessageHandler(messageHandler);
    return true;
}

void closeLog()
{
    if (!logFile)
        return;
    // Messages from the clean-up after main must not reach a closed stream.
    qInstallMessageHandler(nullptr);
    std::fclose(logFile);
    logFile = nullptr;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const char *format = nullptr;
    switch (type) {
    case QtDebugMsg:
        format = "Debug: %s\n";
        break;
    case QtWarningMsg:
        format = "Warning: %s\n";
        break;
    case QtCriticalMsg:
        format = "Critical: %s\n";
        break;
    case QtFatalMsg:
        format = "Fatal: %s\n";
        break;
    default:
        return;
    }
    if (logFile) {
        std::fprintf(logFile, format, message.toUtf8().constData());
        // Flushed line by line: an abort or a crash must not lose the last lines.
        std::fflush(logFile);
    }
    if (type == QtFatalMsg)
        std::abort();
}

QStringList translationDirectories()
{
    return {QStringLiteral("."), QStringLiteral(".."),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)};
}

bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name)
{
    for (const QString &directory : directories) {
        if (translator->load(name, directory))
            return true;
    }
    return false;
}

bool runUpdaters()
{
    ConsoleProgress progress(stdout);
    for (const UpdaterEntry &entry : updaters) {
        if (!runUpdater(entry, progress, stdout))
            return false;
    }
    return true;
}
