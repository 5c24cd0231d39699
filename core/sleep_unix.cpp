// The millisecond sleep on POSIX systems.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "sleep_p.h"

#include <cerrno>
#include <ctime>

void platform::sleepMilliseconds(int ms)
{
    if (ms <= 0)
        return;
    // nanosleep may be cut short by a signal; sleep on for what remains.
    timespec remaining {ms / 1000, long(ms % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) { }
}
