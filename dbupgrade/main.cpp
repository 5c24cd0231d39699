// dbupgrade: brings the four databases in the working directory to the current schema.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTranslator>

#include <cstdio>

namespace {

const char details[] = R"(
Upgrades, in place, the analyser's databases in the current directory, in this
order: profile.db, data.db, qc.db (read, never changed), syslog.db. Close the
analyser software first.

Every argument, the log file's name included, is also tried as a translation
(.qm) in ".", "..", the tool's own folder and Qt's translations folder; a
translation named after the log file that cannot be loaded stops the run
before anything is touched.

Before anything is touched the folder is checked: profile.db and data.db must
be there and be databases, every database must be readable and writable, and
the disk must have room for the backups and the rollback journal.

Each database is upgraded in one transaction: a failure or an interruption
leaves it exactly as it was, and a plain re-run starts it again. Before a
database is changed, a checked copy of it is written beside it as
<file>.v<version found>.bak (for example data.db.v0.bak; -2, -3, ... is added
when that name is taken; a re-run takes an equal backup of a stopped run as it
is). A database that is current is not written at all.

Standard output gets one line per database: the version found and the version
now, the backup written or "unchanged", the time taken, and "ok" or "FAILED".

--status prints one line per database and changes nothing:
  <file>: <found> -> <target>, current
  <file>: <found> -> <target>, would upgrade, backup <backup file>
  <file>: <found> -> <target>, newer than this tool
  <file>: missing            (profile.db, data.db)
  <file>: missing, would be created   (qc.db, syslog.db)
  <file>: not a database
  <file>: unreadable: <reason>
  qc.db: not versioned, current

--restore data.db.v0.bak puts that backup back in place of data.db through
SQLite (a journal left beside the database cannot spoil it), after keeping the
database's current state as a backup of its own. Close the analyser first.

Exit status: 0 when every database was upgraded (--status: all current);
1 when a check or a database failed, whose line names it (--status: a
problem); 2 for a wrong command line; 3 from --status when an upgrade is
pending.
)";

void printError(const QString &text)
{
    std::fprintf(stderr, "dbupgrade: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A refusal before the run is recorded in an existing log only: it must create no file.
void recordRefusal(const QString &logName, const QStringList &arguments, const QString &text)
{
    if (logName.isEmpty() || !QFileInfo(logName).isFile()
        || !openLog(QFile::encodeName(logName).constData()))
        return;
    logInfo(QStringLiteral("dbupgrade %1 started %2 in %3, arguments: %4")
                .arg(QStringLiteral(DBUPGRADE_VERSION),
                     QDateTime::currentDateTime().toString(Qt::ISODate), QDir::currentPath(),
                     arguments.join(QLatin1Char(' '))));
    logInfo(text);
    logInfo(QStringLiteral("dbupgrade finished: refused, nothing was changed"));
    closeLog();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("dbupgrade"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DBUPGRADE_VERSION));

    // Options are answered anywhere on the line, before anything is opened.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Upgrades the analyser's databases in the current folder."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption(
        QStringLiteral("version"),
        QStringLiteral("Prints the tool's version and the schema "
                       "versions it brings each database to."));
    const QCommandLineOption statusOption(
        QStringLiteral("status"),
        QStringLiteral("Prints one line per database and changes nothing (exit 0, 3 or 1)."));
    const QCommandLineOption restoreOption(
        QStringLiteral("restore"),
        QStringLiteral("Puts <backup> (for example data.db.v0.bak) back in place of its database "
                       "through SQLite, after a backup of the database's current state."),
        QStringLiteral("backup"));
    parser.addOption(versionOption);
    parser.addOption(statusOption);
    parser.addOption(restoreOption);
    parser.addPositionalArgument(QStringLiteral("LOGFILE"),
                                 QStringLiteral("The file the messages are appended to; without "
                                                "it they go to standard error."),
                                 QStringLiteral("[LOGFILE"));
    parser.addPositionalArgument(QStringLiteral("TRANSLATION"),
                                 QStringLiteral("A translation (.qm) of the texts the upgrade "
                                                "stores."),
                                 QStringLiteral("[TRANSLATION ...]]"));

    const QStringList arguments = QCoreApplication::arguments();
    if (!parser.parse(arguments)) {
        printError(parser.errorText());
        std::fputs("Try 'dbupgrade --help'.\n", stderr);
        return 2;
    }
    if (parser.isSet(helpOption)) {
        // The usage names the tool as users type it, not the path it was started by.
        QString help = parser.helpText();
        help.replace(arguments.first(), QStringLiteral("dbupgrade"));
        std::fputs(help.toLocal8Bit().constData(), stdout);
        std::fputs(details, stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("dbupgrade %s\nschema versions: %s\n", DBUPGRADE_VERSION,
                    schemaVersions().toLocal8Bit().constData());
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(statusOption)) {
        if (!positional.isEmpty()) {
            printError(QStringLiteral("--status writes nothing and takes no log file or "
                                      "translation"));
            return 2;
        }
        return printStatus(stdout);
    }

    if (parser.isSet(restoreOption)) {
        if (!positional.isEmpty()) {
            printError(QStringLiteral("--restore takes one backup and no log file"));
            return 2;
        }
        return restoreBackup(parser.value(restoreOption), stdout);
    }

    const QString logName = positional.value(0);
    if (!logName.isEmpty()) {
        const QString reason = unfitLogReason(logName);
        if (!reason.isEmpty()) {
            printError(QStringLiteral("%1 cannot be the log file: %2; nothing was changed")
                           .arg(logName, reason));
            std::fputs("Try 'dbupgrade --help'.\n", stderr);
            return 2;
        }
    }

    // The log's name is tried as a translation too and may well be none; every other argument
    // names one, and texts stored without it could not be taken back.
    const QStringList directories = translationDirectories();
    QList<QTranslator *> translators;
    for (int i = 0; i < positional.size(); ++i) {
        auto *translator = new QTranslator(&app);
        if (loadTranslation(translator, directories, positional.at(i))) {
            translators.append(translator);
            continue;
        }
        delete translator;
        if (i == 0)
            continue;
        const QString text = QStringLiteral("the translation %1 cannot be found or loaded "
                                            "(looked in %2); nothing was changed")
                                 .arg(positional.at(i), directories.join(QLatin1String(", ")));
        printError(text);
        recordRefusal(logName, arguments, text);
        return 2;
    }

    const QString problem = preflight();
    if (!problem.isEmpty()) {
        printError(problem);
        recordRefusal(logName, arguments, problem);
        return 1;
    }

    if (!logName.isEmpty())
        openLog(QFile::encodeName(logName).constData());
    logInfo(QStringLiteral("dbupgrade %1 started %2 in %3, arguments: %4")
                .arg(QStringLiteral(DBUPGRADE_VERSION),
                     QDateTime::currentDateTime().toString(Qt::ISODate), QDir::currentPath(),
                     arguments.mid(1).join(QLatin1Char(' '))));
    for (QTranslator *translator : qAsConst(translators))
        QCoreApplication::installTranslator(translator);

    const bool ok = runUpdaters();
    logInfo(QStringLiteral("dbupgrade finished %1: %2")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODate),
                     ok ? QStringLiteral("every database ok, exit 0")
                        : QStringLiteral("FAILED, exit 1")));
    if (!logName.isEmpty() && !logWritten()) {
        printError(
            QStringLiteral("the log %1 could not be written (%2); its messages went to "
                           "standard error")
                .arg(logName,
                     logError().isEmpty() ? QStringLiteral("cannot be opened") : logError()));
    }
    closeLog();
    return ok ? 0 : 1;
}
