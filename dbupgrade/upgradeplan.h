// What the upgrade tool will do with each database of the folder: the one plan that the checks
// before a run, --status and --status --json all read.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADEPLAN_H
#define UPGRADEPLAN_H

#include "databases.h"

#include <QList>
#include <QString>

#include <cstdio>

//! The plan for one database, decided before anything is touched.
struct DatabasePlan
{
    enum Action { Current, Upgrade, Lower, Create, Refuse };

    const DatabaseEntry *entry = nullptr;
    QString fileName;
    Action action = Refuse;
    bool exists = false;
    qint64 size = 0;
    //! In WAL mode; walSize is the size of its -wal.
    bool wal = false;
    qint64 walSize = 0;
    //! A -journal left by an interrupted writer, rolled back at the next open.
    bool interruptedWrite = false;
    //! The version found (after that rollback); -1 when unknown.
    int found = -1;
    int target = notVersioned;
    //! The backup a run writes, or reuses when reuseBackup; empty when there is nothing to copy.
    QString backup;
    bool reuseBackup = false;
    //! Bytes of free disk the change of this database needs while it runs.
    qint64 spaceNeeded = 0;
    //! Why a run refuses (action Refuse): "missing", "not a database (0 bytes)", "damaged: ...".
    QString refusal;

    bool changes() const { return action == Upgrade || action == Lower; }
    //! The --status line after "<file>: ".
    QString statusText() const;
    //! The --status --json object, on one line.
    QByteArray json() const;
};

struct UpgradePlan
{
    QList<DatabasePlan> databases;
    //! A refusal of the whole run (not an instrument folder, no space, the folder unwritable),
    //! as the console line; empty when none.
    QString folderRefusal;
    qint64 spaceNeeded = 0;
    qint64 spaceAvailable = -1;

    //! The first reason the run refuses, as the console line ("...; nothing was changed"), or
    //! empty when the run may start.
    QString refusalLine() const;
    //! --status's exit status: 0 all current, 3 a change pending, 1 a refusal.
    int statusExitCode() const;
};

//! Reads the folder (the current directory) without changing anything in it. \a waitForLocks:
//! whether a held database is waited for (--status) or taken as one to upgrade (the run, which
//! announces the wait itself).
UpgradePlan makePlan(bool waitForLocks);

//! Prints the plan, one line or (\a json) one JSON object per database; returns the exit status.
int printStatus(FILE *console, bool json);

#endif // UPGRADEPLAN_H
