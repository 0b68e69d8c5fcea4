// SPDX-License-Identifier: GPL-3.0-or-later
// The selection loop of a batch with --target at 256 x 256: draw a map,
// cut it when it is fractal, measure it in memory, reject it. The target is
// one no map meets, so every draw is the whole loop and nothing is written;
// items per second is maps drawn per second of wall time (fractal surfaces
// are built on the pipeline's own threads, which CPU time would miss).
#include "core/batch/batchprogress.h"
#include "core/batch/mappublisher.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"

#include <benchmark/benchmark.h>

namespace {

constexpr int size = 256;
constexpr int draws = 200;

template <typename Request> void unreachable(Request &request)
{
    request.shape = {size, size};
    request.covers = {30, 30, 1};
    request.generator = Generator::Philox;
    request.output.targets = {{ClassMetric::Np, std::nullopt, 1.0e9, std::nullopt}};
    request.output.maxDraws = draws;
}

template <typename Generator> void run(benchmark::State &state, Generator &generator)
{
    for (auto _ : state) {
        MapPublisher publisher([](MapRecord, MapCells) {});
        NullProgress progress;
        benchmark::DoNotOptimize(generator.makeMaps(QString(), publisher, progress));
    }
    state.SetItemsProcessed(state.iterations() * draws);
}

void randomSelection(benchmark::State &state)
{
    RandomBatchRequest request;
    unreachable(request);
    RandomMapGenerator generator(request);
    run(state, generator);
}
BENCHMARK(randomSelection)->Unit(benchmark::kMillisecond)->UseRealTime();

// A target beyond the manifest's metrics, which the full measurer takes.
void randomSelectionAnyMetric(benchmark::State &state)
{
    RandomBatchRequest request;
    unreachable(request);
    request.output.targets = {{LandscapeMetric::Contag, std::nullopt, 1.0e9, std::nullopt}};
    RandomMapGenerator generator(request);
    run(state, generator);
}
BENCHMARK(randomSelectionAnyMetric)->Unit(benchmark::kMillisecond)->UseRealTime();

void fractalSelection(benchmark::State &state)
{
    FractalBatchRequest request;
    unreachable(request);
    request.hurst = {0.5, 0.5, 0.1};
    request.cut = FractalCut::Exact;
    request.distinctSurfaces = true;
    FractalMapGenerator generator(request);
    run(state, generator);
}
BENCHMARK(fractalSelection)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
