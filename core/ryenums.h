// The analyser's shared enumerations (namespace ry).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RYENUMS_H
#define RYENUMS_H

#include <QtGlobal>

// Only QtCore: the value types use these without the helpers or widgets.
namespace ry {

/*! \brief Kind of a sample; only statim and quality-control samples are told apart, every
    other value is an ordinary sample. */
enum SampleType {
    Ordinary = 0,
    Statim = 1,
    QualityControl = 2,
};

/*! \brief Bits of a result's flag word; they mark the value on reports. Other bits are carried
    unchanged. */
enum ResultFlag {
    Diluted = 0x0002,
    BelowReportLimit = 0x0004,
    AboveReportLimit = 0x0008,
    BelowMarkLimit = 0x0010,
    AboveMarkLimit = 0x0020,
    ManualTest = 0x1000,
    ManualInput = 0x8000,
};

} // namespace ry

#endif // RYENUMS_H
