// Clot curve against plain loops over the same doubles: blob write and read, OD conversion.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"
#include "benchsite.h"

#include <QtEndian>

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

namespace {

// A reading of the shape the optics give: a flat baseline, then the clot's fall in intensity.
ClotCurve makeCurve(int points)
{
    QVector<double> y(points);
    for (int i = 0; i < points; ++i) {
        const double t = i * 0.1;
        y[i] = 2000.0 - 900.0 / (1.0 + std::exp(-(t - 30.0) / 3.0)) + 5.0 * std::sin(i * 0.7);
    }
    ClotCurve curve;
    curve.append(0.0, 0.1, y);
    return curve;
}

// The format's own limit: header fields, then every double big-endian, into one buffer.
QByteArray plainWrite(const ClotCurve::Segment &segment)
{
    const int n = segment.y.size();
    uchar header[28];
    qToBigEndian<qint32>(ClotCurve::Intensity, header);
    qToBigEndian<quint32>(1, header + 4);
    qToBigEndian<double>(segment.x0, header + 8);
    qToBigEndian<double>(segment.dx, header + 16);
    qToBigEndian<quint32>(quint32(n), header + 24);
    QByteArray bytes(reinterpret_cast<const char *>(header), sizeof header);
    bytes.resize(int(sizeof header) + 8 * n);
    uchar *p = reinterpret_cast<uchar *>(bytes.data()) + sizeof header;
    for (double value : segment.y) {
        qToBigEndian<double>(value, p);
        p += 8;
    }
    return bytes;
}

QVector<double> plainRead(const QByteArray &bytes)
{
    const uchar *p = reinterpret_cast<const uchar *>(bytes.constData()) + 24;
    const int n = int(qFromBigEndian<quint32>(p));
    p += 4;
    QVector<double> values(n);
    for (double &value : values) {
        value = qFromBigEndian<double>(p);
        p += 8;
    }
    return values;
}

// The mean the conversion would take as its baseline (one unit of x from x = 3.0).
double baselineOf(const QVector<double> &y)
{
    double sum = 0.0;
    for (int i = 30; i < 40; ++i)
        sum += y.at(i);
    return sum / 10.0;
}

void registerAll()
{
    for (int points : {1200, 30000}) {
        const ClotCurve curve = makeCurve(points);
        const ClotCurve::Segment segment = curve.segments().constFirst();
        const QByteArray blob = curve.toBuffer();
        if (plainWrite(segment) != blob || ClotCurve::fromBuffer(blob) != curve)
            std::abort(); // the peer must do the same work as ours
        const std::string size = std::to_string(points);
        const int64_t bytes = blob.size();

        benchmark::RegisterBenchmark(("curve_blob_write_" + size + "/ours").c_str(),
                                     [=](benchmark::State &state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(curve.toBuffer());
                                         state.SetBytesProcessed(state.iterations() * bytes);
                                     });
        benchmark::RegisterBenchmark(("curve_blob_write_" + size + "/peer").c_str(),
                                     [=](benchmark::State &state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(plainWrite(segment));
                                         state.SetBytesProcessed(state.iterations() * bytes);
                                     });
        benchmark::RegisterBenchmark(("curve_blob_read_" + size + "/ours").c_str(),
                                     [=](benchmark::State &state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(ClotCurve::fromBuffer(blob));
                                         state.SetBytesProcessed(state.iterations() * bytes);
                                     });
        benchmark::RegisterBenchmark(("curve_blob_read_" + size + "/peer").c_str(),
                                     [=](benchmark::State &state) {
                                         for (auto _ : state)
                                             benchmark::DoNotOptimize(plainRead(blob));
                                         state.SetBytesProcessed(state.iterations() * bytes);
                                     });

        benchmark::RegisterBenchmark(
            ("od_conversion_" + size + "/ours").c_str(), [=](benchmark::State &state) {
                for (auto _ : state)
                    benchmark::DoNotOptimize(curve.toType(ClotCurve::OpticalDensity));
            });
        benchmark::RegisterBenchmark(("od_conversion_" + size + "/peer").c_str(),
                                     [=](benchmark::State &state) {
                                         const QVector<double> &y = segment.y;
                                         const double base = baselineOf(y);
                                         for (auto _ : state) {
                                             QVector<double> od(y.size());
                                             double *out = od.data();
                                             for (int j = 0; j < y.size(); ++j)
                                                 out[j] = std::log10(base / y[j]);
                                             benchmark::DoNotOptimize(od);
                                         }
                                     });
    }
}

} // namespace

int main(int argc, char **argv)
{
    return runBenchmarks(argc, argv, registerAll);
}
