// The upgrade tool's run: its log file, translations and the updaters in their fixed order.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADEDRIVER_H
#define UPGRADEDRIVER_H

#include <QStringList>
#include <QtGlobal>

class QTranslator;

//! Opens \a path for appending and routes Qt's message log to it; false if it cannot be opened.
bool openLog(const char *path);
//! Restores the default message route and closes the log file, if one is open.
void closeLog();
//! Writes one message to the log file as "Debug: ", "Warning: ", "Critical: " or "Fatal: " and
//! the text; aborts after a fatal message.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

//! ".", ".." and Qt's translations directory, in the order they are searched.
QStringList translationDirectories();
bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name);

//! Runs the updaters of profile.db, data.db, qc.db and syslog.db, one at a time; stops at the
//! first that fails and returns false.
bool runUpdaters();

#endif // UPGRADEDRIVER_H
