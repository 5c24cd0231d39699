// The upgrade tool's run: its log file, translations, the checks before anything is touched and
// the updaters in their fixed order.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADEDRIVER_H
#define UPGRADEDRIVER_H

#include <QStringList>
#include <QtGlobal>

#include <cstdio>

class QTranslator;

//! Opens \a path for appending and routes Qt's message log to it; false if it cannot be opened.
bool openLog(const char *path);
//! Restores the default message route and closes the log file, if one is open.
void closeLog();
//! Writes one message to the log file as "Debug: ", "Warning: ", "Critical: " or "Fatal: " and
//! the text; aborts after a fatal message.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
//! Writes a line of the run's service record ("Info: " and \a text) to the log file, if open.
void logInfo(const QString &text);
//! Whether a log file is open and every line so far reached it.
bool logWritten();
//! Why the log could not be written; empty while it can.
QString logError();

//! ".", "..", the tool's own folder and Qt's translations directory, in search order.
QStringList translationDirectories();
bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name);

//! Why \a path may not serve as the log file (a database, a translation, not text); empty when
//! it may.
QString unfitLogReason(const QString &path);

//! The checks before anything is touched: the folder holds profile.db and data.db as SQLite
//! databases, every database there can be read and written, and there is room for the backups
//! and the rollback journal. Empty when they pass, else the console line.
QString preflight();

//! Prints one line per database on \a console, changing nothing; returns 0 when every database
//! is current, 3 when an upgrade is pending, 1 on a problem.
int printStatus(FILE *console);

//! Puts the backup \a backupName back in place of its database through SQLite, after a backup
//! of the database's current state; prints the outcome on \a console. Returns the exit status:
//! 0, 1 on a failure, 2 for a name that is no backup of one of the four databases.
int restoreBackup(const QString &backupName, FILE *console);

//! The versions the updaters bring the databases to, for --version.
QString schemaVersions();

//! Runs the updaters of profile.db, data.db, qc.db and syslog.db, one at a time, each in one
//! transaction; stops at the first that fails and returns false.
bool runUpdaters();

#endif // UPGRADEDRIVER_H
