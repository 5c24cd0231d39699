// Calls of round and sleep from a unit that also includes the C library's declarations.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include <cmath>
#include <unistd.h>

#include "ryglobal.h"

#include <QElapsedTimer>

#include "overloadcalls.h"

#include <type_traits>

// Each call must pick its overload unambiguously; the return types tell which one it was.
static_assert(std::is_same<decltype(round(2.5)), double>::value, "C round");
static_assert(std::is_same<decltype(sleep(0u)), unsigned int>::value, "POSIX sleep");
static_assert(std::is_same<decltype(sleep(30)), void>::value, "millisecond sleep");

OverloadResults callOverloads()
{
    OverloadResults results;
    results.libraryRound = round(2.5);
    results.helperRound = round(2.345678, 2, 'f');
    results.librarySleep = sleep(0u);
    QElapsedTimer timer;
    timer.start();
    sleep(30);
    results.helperSleepMs = timer.elapsed();
    return results;
}
