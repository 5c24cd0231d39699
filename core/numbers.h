// Number and text helpers: ratios, rounding, dilutions, volumes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef NUMBERS_H
#define NUMBERS_H

#include "core_global.h"

#include <QStringList>

/*!
    \brief The first ratio "a/b" or "a:b" found in \a text, as a / b; 0 (and *ok false) when there
    is none. b = 0 gives the floating-point result (an infinity, or NaN for 0/0).

    The pattern is compiled once per process and only read afterwards, so the function may be
    called from several threads at the same time.
*/
CORE_EXPORT double fraction(const QString &text, bool *ok = nullptr);

/*!
    \brief \a value rounded as QString::number(value, format, precision) writes it: 'f' keeps
    \a precision decimals, 'g' \a precision significant digits. A precision beyond what a
    double holds (17 significant digits; for 'f' the decimals that 17 significant digits of
    \a value need, 17 at least) counts as that bound.

    No default arguments: round(x) must stay the C library's.
*/
CORE_EXPORT double round(double value, int precision, char format);

/*! \brief The 19 dilution ratios offered to the user, from "1/1" to "4/5". */
CORE_EXPORT QStringList dilutionList();

/*! \brief A volume in microlitres as "999 uL", "1.5 mL" or "2.5 L" (4 significant digits). */
CORE_EXPORT QString humanReadableVolume(int volume);

/*! \brief For \a kind 4096 without \a plainForm, the volume in litres with one decimal
    ("<0.1 L" below 100 000 uL); otherwise humanReadableVolume(volume). */
CORE_EXPORT QString humanReadableVolume(int kind, int volume, bool plainForm);

#endif // NUMBERS_H
