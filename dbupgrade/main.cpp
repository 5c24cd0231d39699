// dbupgrade: brings the four databases in the working directory to the current schema.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

const char usage[] = R"(Usage: dbupgrade [LOGFILE [TRANSLATION ...]]
       dbupgrade -h | --help | --version

Upgrades, in place, the analyser's databases in the current directory, in this
order: profile.db, data.db, qc.db (read, never changed), syslog.db.

  LOGFILE      the file the messages are appended to; without it they go to
               standard error. Every argument, this one included, is also tried
               as a translation (.qm) in ".", ".." and Qt's translations folder.
  TRANSLATION  a further translation file.

Standard output gets one line per database: the version found and the version
now, the time taken, the backup written or "unchanged", and "ok" or "FAILED".

Backups: before a database is changed, a checked copy of it is written beside
it as <file>.v<version found>.bak, for example data.db.v0.bak; when that name
is taken, -2, -3, ... is added (data.db.v0-2.bak). A database that is already
current gets no copy. If the copy cannot be written, the database is left
unchanged and the run fails.

A database held by another program is waited for up to 30 seconds.

Exit status: 0 when every database was upgraded; 1 at the first one that
failed, whose line names it. The databases after it are left untouched.
)";

} // namespace

int main(int argc, char *argv[])
{
    // Answered before anything is opened, so asking for help touches no file.
    if (argc > 1) {
        if (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[1], "--version")) {
            std::printf("dbupgrade %s\n", DBUPGRADE_VERSION);
            return 0;
        }
    }

    if (argc > 1)
        openLog(argv[1]);

    QCoreApplication app(argc, argv);

    const QStringList directories = translationDirectories();
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        auto *translator = new QTranslator(&app);
        if (loadTranslation(translator, directories, arguments.at(i)))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }

    const bool ok = runUpdaters();
    closeLog();
    return ok ? 0 : 1;
}
