// The upgrade tool's commands, one function each: the upgrade, --status, --restore and --changes;
// and the translations the upgrade loads. SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADEDRIVER_H
#define UPGRADEDRIVER_H

#include <QStringList>

class QTranslator;

//! ".", "..", the tool's own folder and Qt's translations directory, in search order.
QStringList translationDirectories();
bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name);

//! The versions the updaters bring the databases to, for --version.
QString schemaVersions();

//! The upgrade: checks the log name and translations, makes the plan and refuses what it
//! refuses, opens the record, runs the updaters. \a positional: the log file and translations;
//! \a arguments: the whole command line, for the record. Returns the exit status (0, 1 or 2).
int upgradeCommand(const QStringList &positional, const QStringList &arguments);
//! --status and --status --json: prints the plan, changes nothing. Exit 0, 3 or 1.
int statusCommand(bool json);
//! --restore: puts a backup back in place of its database. Exit 0, 1 or 2.
int restoreCommand(const QString &backup);
//! --changes: what the upgrade changed between \a backup and its database, read-only. Exit 0,
//! 1 or 2.
int changesCommand(const QString &backup, bool json);

#endif // UPGRADEDRIVER_H
