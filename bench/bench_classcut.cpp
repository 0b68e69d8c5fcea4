// SPDX-License-Identifier: GPL-3.0-or-later
// The k-class cut beside the two-class exact cover cut, as the same work:
// cutting a 4096 x 4096 fractal surface and giving every cell its class
// byte, row by row, as a writer asks for them. The surfaces are the fractal
// family's own blocks, one column wider than the map, once as they come and
// once rounded to 1/256, which ties most cells with many others.
#include "core/batch/classcut.h"
#include "core/batch/surfacecut.h"
#include "fractal/fbmsurface.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace {

constexpr int size = 4096;
constexpr qsizetype stride = size + 1;

const FbmBlock &surface(bool ties)
{
    static const FbmBlock smooth = [] {
        FbmSurface fbm;
        FbmBlock block;
        if (fbm.generate(0.5, size, FbmSurface::defaultMaxLevel, 1) == FbmSurface::Status::Ok)
            fbm.copyBlock(block);
        return block;
    }();
    static const FbmBlock tied = [] {
        FbmBlock block = smooth;
        for (double &v : block.values)
            v = std::round(v * 256.0) / 256.0;
        return block;
    }();
    return ties ? tied : smooth;
}

// The second argument is 1 for the tied surface.
void BM_CoverCut(benchmark::State &state)
{
    const FbmBlock &block = surface(state.range(1) != 0);
    if (block.rows != size) {
        state.SkipWithError("surface not built");
        return;
    }
    const int cover = int(state.range(0));
    std::vector<std::uint8_t> row(std::size_t(size), 0);
    for (auto _ : state) {
        const ExactCoverCut cut = ExactCutter(block.values.data(), size, stride).cut(cover);
        CutCells cells(block.values.data(), stride, cut.threshold, cut.tiesAbove);
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c)
                row[std::size_t(c)] = cells(r, c);
            benchmark::DoNotOptimize(row.data());
        }
    }
}
BENCHMARK(BM_CoverCut)
    ->ArgNames({"cover", "ties"})
    ->Args({30, 0})
    ->Args({30, 1})
    ->Unit(benchmark::kMillisecond);

// The first argument is the number of classes: 2 as [70, 30], the cover cut
// of 30 above; 5 as the 40, 25, 20, 10, 5; 64 of 1.5625 % each.
void BM_ClassCut(benchmark::State &state)
{
    const FbmBlock &block = surface(state.range(1) != 0);
    if (block.rows != size) {
        state.SkipWithError("surface not built");
        return;
    }
    std::vector<double> proportions;
    switch (state.range(0)) {
    case 2:
        proportions = {70, 30};
        break;
    case 5:
        proportions = {40, 25, 20, 10, 5};
        break;
    default:
        proportions.assign(std::size_t(state.range(0)), 100.0 / double(state.range(0)));
    }
    const std::vector<qint64> counts = classCounts(proportions, qint64(size) * size);
    std::vector<std::uint8_t> row(std::size_t(size), 0);
    for (auto _ : state) {
        const ClassCut cut = ClassCutter(block.values.data(), size, size, stride).cut(counts);
        ClassCells cells(block.values.data(), stride, nullptr, size, cut);
        for (int r = 0; r < size; ++r) {
            cells.row(r, row.data());
            benchmark::DoNotOptimize(row.data());
        }
    }
}
BENCHMARK(BM_ClassCut)
    ->ArgNames({"classes", "ties"})
    ->Args({2, 0})
    ->Args({5, 0})
    ->Args({64, 0})
    ->Args({2, 1})
    ->Args({5, 1})
    ->Args({64, 1})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
