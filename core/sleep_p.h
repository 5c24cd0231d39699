// The platform's millisecond sleep, free of Qt so that the Windows one builds stand-alone.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SLEEP_P_H
#define SLEEP_P_H

namespace platform {

//! Blocks the calling thread for \a ms milliseconds; returns at once for 0 or less.
void sleepMilliseconds(int ms);

} // namespace platform

#endif // SLEEP_P_H
