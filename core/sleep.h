// A millisecond sleep of the calling thread.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SLEEP_H
#define SLEEP_H

#include "core_global.h"

/*! \brief Blocks the calling thread for \a ms milliseconds. Takes an int, so sleep(50) is this
    one and sleep(50u) stays the C library's (seconds). */
CORE_EXPORT void sleep(int ms);

#endif // SLEEP_H
