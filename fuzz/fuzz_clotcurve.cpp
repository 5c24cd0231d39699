// Fuzz target: clot curves read from arbitrary blobs, then converted and edited.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const ClotCurve curve = ClotCurve::fromBuffer(bytes);

    // No record without bytes: whatever the counts claim, the curve stays within the blob.
    const int points = curve.size();
    if (size_t(curve.segments().size()) > size / 20 + 1 || size_t(points) > size / 8 + 1)
        abort();

    // Damaged steps and values must convert without undefined behaviour.
    const ClotCurve density = curve.toType(ClotCurve::OpticalDensity);
    if (density.size() != points)
        abort();
    for (int i = 0; i <= points; ++i) {
        // The conversion touches y only.
        if (density.x(i) != curve.x(i) && !std::isnan(curve.x(i)))
            abort();
    }

    ClotCurve edited = curve;
    const int pos = points > 0 ? int(data[0]) % points : 0;
    const int count = size > 1 ? int(data[1]) : 1;
    edited.remove(pos, count);
    if (edited.size() != points - qMin(count, qMax(points - pos, 0)) || curve.size() != points)
        abort();
    return 0;
}
