// Number and text helpers: ratios, rounding, dilutions, volumes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "numbers.h"

#include "numberformat_p.h"

#include <QRegularExpression>

#include <iterator>

namespace {

const char *const Dilutions[] = {
    "1/1",  "1/2",  "1/4",   "1/5",   "1/8",   "1/10", "1/16", "1/20", "1/30", "1/40",
    "1/50", "1/80", "1/100", "1/160", "1/320", "2/5",  "3/4",  "3/5",  "4/5",
};

} // namespace

double fraction(const QString &text, bool *ok)
{
    // Built once (thread-safe static initialisation); match() is const, so sharing is safe.
    static const QRegularExpression pattern(
        QStringLiteral("([+-]?\\d+(?:\\.\\d*)?)\\s*[:/]\\s*([+-]?\\d+(?:\\.\\d*)?)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (ok)
        *ok = match.hasMatch();
    if (!match.hasMatch())
        return 0.0;
    return match.capturedView(1).toDouble() / match.capturedView(2).toDouble();
}

double round(double value, int precision, char format)
{
    return QString::number(value, format, CorePrivate::boundedPrecision(value, format, precision))
        .toDouble();
}

QStringList dilutionList()
{
    QStringList list;
    list.reserve(int(std::size(Dilutions)));
    for (const char *dilution : Dilutions)
        list << QLatin1String(dilution);
    return list;
}

QString humanReadableVolume(int volume)
{
    if (volume > 1000000)
        return QStringLiteral("%1 L").arg(volume * 0.000001, 0, 'g', 4);
    if (volume > 1000)
        return QStringLiteral("%1 mL").arg(volume * 0.001, 0, 'g', 4);
    return QStringLiteral("%1 uL").arg(volume);
}

QString humanReadableVolume(int kind, int volume, bool plainForm)
{
    if (kind != 4096 || plainForm)
        return humanReadableVolume(volume);
    if (volume < 100000)
        return QStringLiteral("<%1 L").arg(100000 * 0.000001, 0, 'f', 1);
    return QStringLiteral("%1 L").arg(volume * 0.000001, 0, 'f', 1);
}
