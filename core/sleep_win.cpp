// The millisecond sleep on Windows.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "sleep_p.h"

#include <windows.h>

void platform::sleepMilliseconds(int ms)
{
    // A negative count as a DWORD would be about 49 days, or INFINITE for -1.
    if (ms <= 0)
        return;
    ::Sleep(DWORD(ms));
}
