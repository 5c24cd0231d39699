// The upgrade tool's service record: the log file, its line format and the checks that a log
// name can serve as one.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SERVICELOG_H
#define SERVICELOG_H

#include <QStringList>
#include <QtGlobal>

#include <cstdio>

//! Opens \a path for appending and routes Qt's message log to it; false (and \a error set) if it
//! cannot be opened as a regular file. Never blocks on a FIFO or a device.
bool openLog(const char *path, QString *error = nullptr);
//! Restores the default message route and closes the log file, if one is open.
void closeLog();
//! Writes one message to the log file as "Debug: ", "Warning: ", "Critical: " or "Fatal: " and
//! the text; aborts after a fatal message.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
//! Writes a line of the run's service record ("Info: " and \a text) to the log file, if open.
void logInfo(const QString &text);
//! The record's first line: date and time, tool version, folder and \a arguments.
void logRunStart(const QStringList &arguments);
//! Whether a log file is open and every line so far reached it.
bool logWritten();
//! Why the log could not be written; empty while it can.
QString logError();
//! The name of the open log file, or "standard error" when the messages go there.
QString logDestination();

//! Prints \a line and a line end on \a console at once.
void printLine(FILE *console, const QString &line);

//! Why \a path may not serve as the log file (a database, a translation, not text, a folder, a
//! FIFO or a device, a missing or unwritable folder); empty when it may. Looks at the entry
//! without opening anything that could block.
QString unfitLogReason(const QString &path);

#endif // SERVICELOG_H
