// A millisecond sleep of the calling thread.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "sleep.h"

#include "sleep_p.h"

void sleep(int ms)
{
    platform::sleepMilliseconds(ms);
}
