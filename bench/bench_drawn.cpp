// SPDX-License-Identifier: GPL-3.0-or-later
// One map of each cluster family as its surface, drawn through the
// registry as a batch draws it (the majority fill included, whose surface
// is then the clusters' values), and the exact feature transform alone.
// bench/cluster_numpy.py weighs whole maps against NumPy and SciPy.
#include "bench/familysurfaces.h"
#include "core/grid/nearestsource.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

void drawSurfaces(benchmark::State &state, const char *word,
                  std::initializer_list<std::pair<const char *, OptionValue>> options)
{
    drawFamilySurfaces(state, word, options, false);
}

void BM_ClusterMajority(benchmark::State &state)
{
    drawSurfaces(state, "cluster", {{"p", 0.5}});
}
void BM_ClusterNearest(benchmark::State &state)
{
    drawSurfaces(state, "cluster", {{"p", 0.5}, {"fill", QStringLiteral("nearest")}});
}
void BM_Mosaic(benchmark::State &state)
{
    drawSurfaces(state, "mosaic", {{"elements", qint64(200)}});
}
void BM_Rectangles(benchmark::State &state)
{
    drawSurfaces(state, "rectangles", {{"min_side", qint64(5)}, {"max_side", qint64(20)}});
}

// 200 sources on a square of the side given.
void BM_NearestSource(benchmark::State &state)
{
    const auto side = int(state.range(0));
    const auto cells = std::size_t(side) * std::size_t(side);
    std::vector<std::uint32_t> seeds(cells, nearestsource::noSource);
    std::mt19937 random(1);
    for (int k = 0; k < 200; ++k) {
        const auto cell = std::uint32_t(random() % cells);
        seeds[cell] = cell;
    }
    std::vector<std::uint32_t> grid(cells);
    for (auto _ : state) {
        grid = seeds;
        nearestsource::transform(grid.data(), side, side);
        benchmark::DoNotOptimize(grid.data());
    }
}

} // namespace

BENCHMARK(BM_ClusterMajority)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClusterNearest)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mosaic)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rectangles)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NearestSource)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
