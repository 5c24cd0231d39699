// Exported helpers against their plain references: CRC-16 and fraction.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "benchsite.h"
#include "ryglobal.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

namespace {

// The polynomial 0x1021 shifted through bit by bit, register starting at 0xFFFF.
unsigned short crc16BitByBit(const void *data, int len)
{
    quint16 crc = 0xFFFF;
    const auto *bytes = static_cast<const uchar *>(data);
    for (int i = 0; i < len; ++i) {
        crc ^= quint16(bytes[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

double fractionByHand(const QString &text)
{
    const int separator = text.indexOf(QLatin1Char('/'));
    return text.left(separator).toDouble() / text.mid(separator + 1).toDouble();
}

void registerAll()
{
    QByteArray data(64 * 1024, Qt::Uninitialized);
    QRandomGenerator random(11);
    for (char &byte : data)
        byte = char(random.bounded(256));
    if (crc16(data.constData(), data.size()) != crc16BitByBit(data.constData(), data.size()))
        std::abort();

    benchmark::RegisterBenchmark("crc16/ours", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(crc16(data.constData(), data.size()));
        state.SetBytesProcessed(state.iterations() * data.size());
    });
    benchmark::RegisterBenchmark("crc16/peer", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(crc16BitByBit(data.constData(), data.size()));
        state.SetBytesProcessed(state.iterations() * data.size());
    });

    const QString text = QStringLiteral("1/10");
    if (fraction(text) != fractionByHand(text))
        std::abort();
    benchmark::RegisterBenchmark("fraction/ours", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(fraction(text));
    });
    benchmark::RegisterBenchmark("fraction/peer", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(fractionByHand(text));
    });
}

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks(argc, argv, registerAll);
}
