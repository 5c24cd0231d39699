// The run of the upgrade: the updaters of the four databases, one at a time, each in one
// transaction after its backup.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADERUN_H
#define UPGRADERUN_H

#include <cstdio>

struct UpgradePlan;

//! Runs the updaters of profile.db, data.db, qc.db and syslog.db, one at a time, each in one
//! transaction, as \a plan (checked to refuse nothing) foresees; prints one line per database on
//! \a console; stops at the first that fails and returns false.
bool runUpdaters(const UpgradePlan &plan, FILE *console);

#endif // UPGRADERUN_H
