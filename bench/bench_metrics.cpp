// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the landscape metrics that a batch run computes for its manifest,
// per map and per cell. Making a 1000 x 1000 random map and writing it as
// text takes about 2.5 ms of CPU, the kernel's copy included, so every
// millisecond here shows in the time of a batch run with metrics.
//
// Then the cost of every class- and landscape-level metric of the long
// table (LandscapeMeasurer), and of the nearest-neighbour distance alone, on
// the same maps and on the reference tool's 15-class land-cover raster. The
// reference tool took 10.6 s for every metric of that raster, and 16 s for
// the nearest-neighbour distance alone of a 1000 x 1000 two-class map
// (tests/core/data/metrics-reference/README.md).
#include "core/grid/mapreader.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"
#include "core/metrics/nearestneighbour.h"
#include "fractal/fastfbmsurface.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
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

// The two codes of a two-class map, as a batch writes them.
std::vector<qint32> codesOf(const std::vector<std::uint8_t> &cells)
{
    return std::vector<qint32>(cells.begin(), cells.end());
}

// One measurer serves every map, as in a batch, so that the figures are of
// the measuring rather than of the first touch of its storage.
void measureAll(benchmark::State &state, const std::vector<qint32> &codes, int rows, int columns,
                const MetricOptions &options, const MetricSelection &selection)
{
    LandscapeMeasurer measurer(columns, options, selection);
    std::size_t values = 0;
    for (auto _ : state) {
        for (int r = 0; r < rows; ++r)
            measurer.addRow(std::span(codes).subspan(std::size_t(r) * std::size_t(columns),
                                                     std::size_t(columns)));
        const std::vector<MetricRow> result = measurer.finish();
        values = result.size();
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["values"] = double(values);
}

MetricSelection nearestNeighbourOnly()
{
    MetricSelection selection;
    selection.add(ClassMetric::EnnMn);
    selection.add(LandscapeMetric::EnnMn);
    return selection;
}

// What a selection costs: 2 every metric, 1 the nearest-neighbour distance
// alone, 0 the number of patches alone (the sweep that every metric needs).
MetricSelection selection(std::int64_t which)
{
    if (which == 2)
        return MetricSelection::all();
    if (which == 1)
        return nearestNeighbourOnly();
    MetricSelection patches;
    patches.add(ClassMetric::Np);
    return patches;
}

// Arguments: the map (0 fractal, 1 random), the selection, and how the rows
// come: 0 as codes, measured as any number of classes, 1 as the bytes of a
// batch (or two codes of a map held whole), measured on bits.
void BM_LongTable(benchmark::State &state)
{
    const int size = 1000;
    const std::vector<std::uint8_t> cells =
        state.range(0) == 0 ? fractalMap(size) : randomMap(size);
    if (state.range(2) == 0) {
        measureAll(state, codesOf(cells), size, size, {}, selection(state.range(1)));
        return;
    }
    LandscapeMeasurer measurer(size, {}, selection(state.range(1)));
    for (auto _ : state) {
        for (std::size_t at = 0; at < cells.size(); at += size)
            measurer.addRow(cells.data() + at, 0, 1);
        const std::vector<MetricRow> result = measurer.finish();
        benchmark::DoNotOptimize(result.data());
    }
}
BENCHMARK(BM_LongTable)
    ->ArgsProduct({{0, 1}, {2, 1, 0}, {0, 1}})
    ->ArgNames({"random", "metrics", "bytes"})
    ->Unit(benchmark::kMillisecond);

void BM_LongTableLandCover(benchmark::State &state)
{
    LandscapeGrid grid;
    MapFileInfo info;
    if (readMap(QStringLiteral(PW_METRICS_REFERENCE_DIR "/augusta_nlcd.asc"), grid, {}, &info)) {
        state.SkipWithError("cannot read the land-cover raster");
        return;
    }
    const std::vector<qint32> codes(grid.row(0).data(), grid.row(0).data() + grid.cellCount());
    MetricOptions options;
    options.cellSize = info.cellWidth.value_or(1.0);
    measureAll(state, codes, int(grid.rowCount()), int(grid.row(0).size()), options,
               selection(state.range(0)));
}
BENCHMARK(BM_LongTableLandCover)
    ->Arg(2)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("metrics")
    ->Unit(benchmark::kMillisecond);

// The maps of a default fractal batch: 100 x 100, H 0.1 to 0.9, covers 1 to
// 100 %, each cut from one surface an H at its own quantile. A batch with
// a long table measures these on a thread beside the one that writes them,
// so what they cost together is what `--metrics all` adds to such a batch.
std::vector<std::vector<std::uint8_t>> defaultBatchMaps()
{
    constexpr int size = 100;
    std::vector<std::vector<std::uint8_t>> maps;
    for (int h = 1; h <= 9; ++h) {
        FastFbmSurface surface;
        FbmBlock block;
        surface.generate(h / 10.0, size, FbmSurface::defaultMaxLevel, h, block);
        std::vector<double> values;
        for (int r = 0; r < size; ++r)
            for (int c = 0; c < size; ++c)
                values.push_back(block.at(r, c));
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        for (int cover = 1; cover <= 100; ++cover) {
            const double threshold =
                sorted[values.size() - std::size_t(cover) * values.size() / 100];
            std::vector<std::uint8_t> cells(values.size());
            for (std::size_t i = 0; i < values.size(); ++i)
                cells[i] = values[i] >= threshold ? 1 : 0;
            maps.push_back(std::move(cells));
        }
    }
    return maps;
}

// Argument: the selection, as for BM_LongTable.
void BM_DefaultBatch(benchmark::State &state)
{
    const std::vector<std::vector<std::uint8_t>> maps = defaultBatchMaps();
    LandscapeMeasurer measurer(100, {}, selection(state.range(0)));
    for (auto _ : state) {
        for (const std::vector<std::uint8_t> &cells : maps) {
            for (std::size_t at = 0; at < cells.size(); at += 100)
                measurer.addRow(cells.data() + at, 0, 1);
            const std::vector<MetricRow> result = measurer.finish();
            benchmark::DoNotOptimize(result.data());
        }
    }
    state.counters["maps"] = double(maps.size());
}
BENCHMARK(BM_DefaultBatch)
    ->Arg(2)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("metrics")
    ->Unit(benchmark::kMillisecond);

// The runs and patches a measurer hands to the nearest-neighbour search,
// made here by a plain union-find over the cells so that the search alone
// is timed.
struct Patches {
    std::vector<PatchRun> runs;
    std::vector<std::int32_t> patchClass;
};

Patches patchesOf(const std::vector<std::uint8_t> &cells, int size, int neighbours)
{
    std::vector<std::int32_t> parent(cells.size());
    std::iota(parent.begin(), parent.end(), 0);
    const auto find = [&parent](std::int32_t i) {
        while (parent[std::size_t(i)] != i)
            i = parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
        return i;
    };
    const auto join = [&](int r, int c, int s, int d) {
        if (s < 0 || s >= size || d < 0 || d >= size ||
            cells[std::size_t(r) * size + c] != cells[std::size_t(s) * size + d])
            return;
        const std::int32_t a = find(r * size + c);
        const std::int32_t b = find(s * size + d);
        parent[std::size_t(std::max(a, b))] = std::min(a, b);
    };
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            join(r, c, r, c - 1);
            join(r, c, r - 1, c);
            if (neighbours == 8) {
                join(r, c, r - 1, c - 1);
                join(r, c, r - 1, c + 1);
            }
        }
    }
    Patches made;
    std::vector<std::int32_t> patchOfRoot(cells.size(), -1);
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            const std::size_t at = std::size_t(r) * size + c;
            std::int32_t &patch = patchOfRoot[std::size_t(find(std::int32_t(at)))];
            if (patch < 0) {
                patch = std::int32_t(made.patchClass.size());
                made.patchClass.push_back(cells[at]);
            }
            if (c > 0 && cells[at] == cells[at - 1])
                made.runs.back().end = c;
            else
                made.runs.push_back(PatchRun{r, c, c, patch});
        }
    }
    return made;
}

// The nearest-neighbour distance alone, without the sweep that labels the
// patches. Arguments: the map (0 fractal, 1 random), then how patches join.
void BM_NearestNeighbours(benchmark::State &state)
{
    const int size = 1000;
    const int neighbours = int(state.range(1));
    const Patches patches =
        patchesOf(state.range(0) == 0 ? fractalMap(size) : randomMap(size), size, neighbours);
    NearestNeighbours nearest;
    for (auto _ : state) {
        const std::span<const std::int64_t> squares =
            nearest.squares(patches.runs, patches.patchClass, 2, neighbours);
        benchmark::DoNotOptimize(squares.data());
    }
    state.counters["patches"] = double(patches.patchClass.size());
    state.counters["runs"] = double(patches.runs.size());
}
BENCHMARK(BM_NearestNeighbours)
    ->ArgsProduct({{0, 1}, {8, 4}})
    ->ArgNames({"random", "neighbours"})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
