// The CRC-16/CCITT-FALSE checksum.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "checksum.h"

#include <QtGlobal>

#include <array>

namespace {

// Table k, entry i: the register after byte i followed by k zero bytes, shifted through the
// polynomial from zero. Table 0 alone gives a byte at a time; the eight together give eight bytes
// in one step of independent lookups, which is what makes a long buffer fast.
using Crc16Tables = std::array<std::array<quint16, 256>, 8>;

constexpr Crc16Tables makeCrc16Tables()
{
    Crc16Tables tables {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (int i = 0; i < 256; ++i) {
            const quint16 previous = tables[k - 1][i];
            tables[k][i] = quint16(previous << 8) ^ tables[0][previous >> 8];
        }
    }
    return tables;
}

constexpr Crc16Tables Crc16Table = makeCrc16Tables();
static_assert(Crc16Table[0][1] == 0x1021, "CRC-16 table");

} // namespace

unsigned short crc16(const void *data, int len)
{
    quint16 crc = 0xFFFF;
    const auto *bytes = static_cast<const uchar *>(data);
    int i = 0;
    // The register goes into the first two bytes of each block of eight.
    for (; len - i >= 8; i += 8) {
        const uchar *b = bytes + i;
        crc = Crc16Table[7][b[0] ^ (crc >> 8)] ^ Crc16Table[6][b[1] ^ (crc & 0xFF)]
            ^ Crc16Table[5][b[2]] ^ Crc16Table[4][b[3]] ^ Crc16Table[3][b[4]] ^ Crc16Table[2][b[5]]
            ^ Crc16Table[1][b[6]] ^ Crc16Table[0][b[7]];
    }
    for (; i < len; ++i)
        crc = quint16(crc << 8) ^ Crc16Table[0][((crc >> 8) ^ bytes[i]) & 0xFF];
    return crc;
}
