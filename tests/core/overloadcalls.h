// Calls of round and sleep from a unit that also includes the C library's declarations.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef OVERLOADCALLS_H
#define OVERLOADCALLS_H

#include <QtGlobal>

struct OverloadResults
{
    double libraryRound = 0;   // round(2.5) of <cmath>
    double helperRound = 0;    // round(2.345678, 2, 'f')
    unsigned librarySleep = 1; // sleep(0u) of <unistd.h>: seconds left
    qint64 helperSleepMs = 0;  // time spent in sleep(30)
};

OverloadResults callOverloads();

#endif // OVERLOADCALLS_H
