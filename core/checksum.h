// The CRC-16/CCITT-FALSE checksum.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CHECKSUM_H
#define CHECKSUM_H

#include "core_global.h"

/*! \brief CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR)
    of \a len bytes at \a data; 0xFFFF for \a len <= 0. */
CORE_EXPORT unsigned short crc16(const void *data, int len);

#endif // CHECKSUM_H
