// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the landscape metrics that a batch run computes for its manifest,
// per map and per cell. Making a 1000 x 1000 random map and writing it as
// text takes about 2.5 ms of CPU, the kernel's copy included, so every
// millisecond here shows in the time of a batch run with metrics.
#include "core/metrics/landscapemetrics.h"
#include "fractal/fastfbmsurface.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Habitat with probability 1/2: the worst case, with the most runs and
// patches per cell.
std::vector<std::uint8_t> randomMap(int size)
{
    std::mt19937 engine(7);
    std::vector<std::uint8_t> cells(std::size_t(size) * size);
    for (std::uint8_t &cell : cells)
        cell = std::uint8_t(engine() >> 31);
    return cells;
}

// A fractal map as fractal batches make them: the fBm surface at H = 0.5,
// habitat above its median.
std::vector<std::uint8_t> fractalMap(int size)
{
    FastFbmSurface surface;
    FbmBlock block;
    surface.generate(0.5, size, FbmSurface::defaultMaxLevel, 3, block);
    std::vector<double> values;
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c)
            values.push_back(block.at(r, c));
    std::vector<double> sorted = values;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::vector<std::uint8_t> cells(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        cells[i] = values[i] > median ? 1 : 0;
    return cells;
}

// One accumulator serves every map, as in a batch.
void measure(benchmark::State &state, const std::vector<std::uint8_t> &cells, int size)
{
    const int neighbours = int(state.range(1));
    LandscapeMetricsAccumulator accumulator(size, neighbours, 1.0);
    qint64 patches = 0;
    for (auto _ : state) {
        for (int r = 0; r < size; ++r)
            accumulator.addRow(cells.data() + std::size_t(r) * size);
        const LandscapeMetrics metrics = accumulator.finish();
        patches = metrics.patchCount;
        benchmark::DoNotOptimize(metrics);
    }
    state.counters["patches"] = double(patches);
    state.counters["per_cell"] =
        benchmark::Counter(double(size) * size, benchmark::Counter::kIsIterationInvariantRate |
                                                    benchmark::Counter::kInvert);
}

void BM_RandomMap(benchmark::State &state)
{
    const int size = int(state.range(0));
    measure(state, randomMap(size), size);
}
BENCHMARK(BM_RandomMap)
    ->ArgsProduct({{100, 1000}, {8, 4}})
    ->ArgNames({"size", "neighbours"})
    ->Unit(benchmark::kMicrosecond);

void BM_FractalMap(benchmark::State &state)
{
    const int size = int(state.range(0));
    measure(state, fractalMap(size), size);
}
BENCHMARK(BM_FractalMap)
    ->ArgsProduct({{100, 1000}, {8, 4}})
    ->ArgNames({"size", "neighbours"})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
