// A millisecond sleep of the calling thread.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "sleep.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

void sleep(int ms)
{
    if (ms <= 0)
        return;
#ifdef Q_OS_WIN
    ::Sleep(DWORD(ms));
#else
    // nanosleep may be cut short by a signal; sleep on for what remains.
    timespec remaining {ms / 1000, long(ms % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) { }
#endif
}
