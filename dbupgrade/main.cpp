// dbupgrade: brings the four databases in the working directory to the current schema.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include <QFile>

#include <QCommandLineParser>
#include <QCoreApplication>

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
be there and be databases, none damaged (SQLite's quick_check), every database
must be readable and writable, and the disk must have room for the backups and
the rollback journal or WAL. The log must be a regular text file that can be
appended to (not a folder, FIFO or device).

Each database is upgraded in one transaction: a failure or an interruption
leaves it exactly as it was, and a plain re-run starts it again. Before a
database is changed, a checked copy of it is written beside it as
<file>.v<version found>.bak (for example data.db.v0.bak; -2, -3, ... is added
when that name is taken; a re-run takes an equal backup of a stopped run as it
is). A database that is current is not written at all.

Standard output gets one line per database: the version found and the version
now, the backup written or "unchanged", the time taken, and "ok" or "FAILED".

--status prints, changing nothing, what a run would do, one line per database:
  <file>: <found> -> <target>, current
  <file>: <found> -> <target>, would upgrade, backup <backup written or reused>
  <file>: <found> -> <target>, would lower the version, backup <backup>
  <file>: <found> -> <target>, interrupted write to roll back, ...
  <file>: missing            (profile.db, data.db)
  <file>: missing, would be created   (qc.db, syslog.db)
  <file>: [<found> -> <target>, ]would refuse: <reason>
  qc.db: not versioned, current
--status --json prints the same as one JSON object per line, with the keys
file, status, action (current, upgrade, lower, create, refuse), found, target,
backup, backupReused, exists, size, journalMode (rollback, wal), walSize,
interruptedWrite, spaceNeeded (bytes) and reason (why a run refuses).

--restore data.db.v0.bak puts that backup back in place of data.db through
SQLite (a journal left beside the database cannot spoil it). It holds the
database's write lock from before it keeps the current state as a backup of
its own until the restored copy is committed. The backup must be a regular
file of this folder holding that kind of database at the version its name
says. Close the analyser first.

--changes profile.db.v0.bak prints, changing nothing, what the upgrade changed
between that backup and its database: the version, the schema objects added
(+), removed (-) or redefined (~), the tables whose rows changed, and for
profile.db the settings gained, changed or lost and every calibration curve
(refitted or unchanged). Both files are only read; a file with an interrupted
write to roll back is refused. --changes --json prints the same as one JSON
object with the keys database, backup, version {before, after}, changed,
schema [{type, name, change: added, removed, redefined}], rows [{table,
before, after, contentsChanged}] and, for profile.db, settings [{name, change:
gained, changed, lost, before, after}] and curves [{id, change: refitted,
unchanged, added, removed, before, after}], before and after of a curve being
{name, valid, correlation, date, a, b, c, d, e}.

After a database is upgraded, when free pages fill more than a quarter of it,
it is compacted (VACUUM) if the disk has room and every row keeps its rowid;
its line then gives the size before and after.

Exit status: 0 when every database was upgraded (--status: all current);
1 when a check or a database failed, whose line names it (--status: a run
would refuse; --changes: a file unfit or unreadable); 2 for a wrong command line or a log that cannot be written;
3 from --status when a change is pending.
)";

void printError(const QString &text)
{
    std::fprintf(stderr, "dbupgrade: %s\n", text.toLocal8Bit().constData());
    std::fputs("Try 'dbupgrade --help'.\n", stderr);
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
    const QCommandLineOption changesOption(
        QStringLiteral("changes"),
        QStringLiteral("Prints, changing nothing, what the upgrade changed between <backup> "
                       "(for example profile.db.v0.bak) and its database."),
        QStringLiteral("backup"));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"),
        QStringLiteral("With --status: one JSON object per database, one per line; with "
                       "--changes: one JSON object."));
    parser.addOption(versionOption);
    parser.addOption(jsonOption);
    parser.addOption(statusOption);
    parser.addOption(restoreOption);
    parser.addOption(changesOption);
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
    const bool json = parser.isSet(jsonOption);
    if (parser.isSet(changesOption)) {
        if (!positional.isEmpty() || parser.isSet(statusOption) || parser.isSet(restoreOption)) {
            printError(QStringLiteral("--changes takes one backup, --json at most, and no other "
                                      "mode, log file or translation"));
            return 2;
        }
        return changesCommand(parser.value(changesOption), json);
    }
    if (parser.isSet(restoreOption)) {
        if (!positional.isEmpty() || parser.isSet(statusOption) || json) {
            printError(QStringLiteral("--restore takes one backup and no other mode, log file "
                                      "or translation"));
            return 2;
        }
        return restoreCommand(parser.value(restoreOption));
    }
    if (parser.isSet(statusOption)) {
        if (!positional.isEmpty()) {
            printError(QStringLiteral("--status writes nothing and takes no log file or "
                                      "translation"));
            return 2;
        }
        return statusCommand(json);
    }
    if (json) {
        printError(QStringLiteral("--json goes with --status or --changes"));
        return 2;
    }
    return upgradeCommand(positional, arguments.mid(1));
}
