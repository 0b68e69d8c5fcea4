// SPDX-License-Identifier: GPL-3.0-or-later
// Cost per cell of a random map with each generator: the draws alone, and
// the map as a batch writes it, text formatting and file included. The
// Philox map must cost no more than the classic one; the draws alone show
// how much of a map's time is left to the formatting.
#include "core/grid/mapfilewriter.h"
#include "core/rng/rand15.h"
#include "random/philoxrandommap.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr int cover = 50;

void countCells(benchmark::State &state, int size)
{
    state.SetItemsProcessed(state.iterations() * qint64(size) * qint64(size));
}

// The classic draws as a batch makes them: one running sequence, one draw
// per cell in row-major order, into a row of flags.
void BM_ClassicCells(benchmark::State &state)
{
    const int size = int(state.range(0));
    std::vector<std::uint8_t> row(std::size_t(size), 0);
    Rand15 rng(1);
    const int habitatLimit = (32767 * cover) / 100;
    for (auto _ : state) {
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c)
                row[std::size_t(c)] = rng.next() <= habitatLimit;
            benchmark::DoNotOptimize(row.data());
        }
    }
    countCells(state, size);
}
BENCHMARK(BM_ClassicCells)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_PhiloxCells(benchmark::State &state)
{
    const int size = int(state.range(0));
    std::vector<std::uint8_t> row(std::size_t(size), 0);
    int replicate = 0;
    for (auto _ : state) {
        const PhiloxRandomMap map(1, size, cover, ++replicate);
        for (int r = 0; r < size; ++r) {
            map.fillRow(r, row.data());
            benchmark::DoNotOptimize(row.data());
        }
    }
    countCells(state, size);
}
BENCHMARK(BM_PhiloxCells)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);

// A classic map written as the batch writes it: each cell drawn while its
// row is formatted.
void BM_ClassicMapWritten(benchmark::State &state)
{
    const int size = int(state.range(0));
    QTemporaryDir dir;
    Rand15 rng(1);
    const int habitatLimit = (32767 * cover) / 100;
    int replicate = 0;
    for (auto _ : state) {
        MapFileWriter writer(0, 1);
        if (writer.open(dir.filePath(QStringLiteral("C_%1.txt").arg(++replicate)))) {
            state.SkipWithError("map not opened");
            break;
        }
        for (int r = 0; r < size; ++r)
            writer.putRow(size, [&rng, habitatLimit](int) { return rng.next() <= habitatLimit; });
        if (writer.commit()) {
            state.SkipWithError("map not written");
            break;
        }
    }
    countCells(state, size);
}
BENCHMARK(BM_ClassicMapWritten)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// A Philox map written through the same writer, each row drawn whole and
// then formatted.
void BM_PhiloxMapWritten(benchmark::State &state)
{
    const int size = int(state.range(0));
    QTemporaryDir dir;
    std::vector<std::uint8_t> row(std::size_t(size), 0);
    int replicate = 0;
    for (auto _ : state) {
        const PhiloxRandomMap map(1, size, cover, ++replicate);
        MapFileWriter writer(0, 1);
        if (writer.open(dir.filePath(QStringLiteral("P_%1.txt").arg(replicate)))) {
            state.SkipWithError("map not opened");
            break;
        }
        for (int r = 0; r < size; ++r) {
            map.fillRow(r, row.data());
            writer.putRow(size, [&row](int c) { return row[std::size_t(c)] != 0; });
        }
        if (writer.commit()) {
            state.SkipWithError("map not written");
            break;
        }
    }
    countCells(state, size);
}
BENCHMARK(BM_PhiloxMapWritten)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// Formatting and writing alone, every cell the same: what either generator
// adds its draws to.
void BM_FormattingOnly(benchmark::State &state)
{
    const int size = int(state.range(0));
    QTemporaryDir dir;
    int count = 0;
    for (auto _ : state) {
        MapFileWriter writer(0, 1);
        if (writer.open(dir.filePath(QStringLiteral("F_%1.txt").arg(++count)))) {
            state.SkipWithError("map not opened");
            break;
        }
        for (int r = 0; r < size; ++r)
            writer.putRow(size, [r](int c) { return ((r + c) & 1) != 0; });
        if (writer.commit()) {
            state.SkipWithError("map not written");
            break;
        }
    }
    countCells(state, size);
}
BENCHMARK(BM_FormattingOnly)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
