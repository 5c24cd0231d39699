// Display text of an analysis result against formatting its number alone.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"
#include "benchsite.h"
#include "profile.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void registerAll()
{
    AnalysisResult result(12.5);
    result.setFlag(ry::ManualInput);
    result.setFlag(ry::Diluted);
    result.setFlag(ry::AboveMarkLimit);
    // The first call opens the store and fills the caches of the marks.
    if (result.toString(AnalysisResult::WithFlags, 'f', 1).isEmpty())
        std::abort();

    benchmark::RegisterBenchmark("result_text/ours", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(result.toString(AnalysisResult::WithFlags, 'f', 1));
    });
    const double value = result.value();
    benchmark::RegisterBenchmark("result_text/peer", [=](benchmark::State &state) {
        for (auto _ : state)
            benchmark::DoNotOptimize(QString::number(value, 'f', 1));
    });
}

} // namespace

int main(int argc, char **argv)
{
    std::unique_ptr<BenchSite> site;
    return runBenchmarks(argc, argv, [&] {
        site = std::make_unique<BenchSite>(0);
        registerAll();
    });
}
