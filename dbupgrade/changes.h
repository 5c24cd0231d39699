// What an upgrade changed in a database: its backup and the database compared, read-only.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CHANGES_H
#define CHANGES_H

#include <QString>

#include <cstdio>

/*!
    Prints on \a console what differs between the backup \a backupPath (a file of this folder,
    such as profile.db.v0.bak) and its database: the version, the schema objects added, removed
    or redefined, the tables whose rows changed, and for profile.db the settings gained, changed
    or lost and the calibration curves before and after. \a json: the same as one JSON object.
    Both files are opened read-only and nothing is written, not even a journal rolled back: a
    file with an interrupted write is refused. Returns the exit status: 0; 1 when a file is
    unfit or cannot be read; 2 for a name that is no backup of one of the four databases.
*/
int printChanges(const QString &backupPath, bool json, FILE *console);

#endif // CHANGES_H
