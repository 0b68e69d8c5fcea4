// SPDX-License-Identifier: GPL-3.0-or-later
// Time of the readers on inputs built to be pathological: a gigabyte of
// digits without a space, a line of nothing but spaces, a million empty
// lines, a settings file whose first line never ends. Each is run at
// growing sizes and fitted to a complexity class; the readers must come out
// O(N), with the same time per byte at every size.
#include "core/grid/mapfilereader.h"
#include "settings/appsettings.h"

#include <QBuffer>

#include <benchmark/benchmark.h>

namespace {

void feedRepeated(benchmark::State &state, char byte)
{
    const QByteArray block(1 << 20, byte);
    const std::int64_t total = state.range(0);
    for (auto _ : state) {
        LandscapeGrid grid;
        MapFileReader reader(grid);
        for (std::int64_t fed = 0; fed < total; fed += block.size())
            reader.feed(std::string_view(block.constData(), std::size_t(block.size())));
        reader.finish();
        benchmark::DoNotOptimize(grid.cellCount());
    }
    state.SetBytesProcessed(state.iterations() * total);
    state.SetComplexityN(total);
}

void BM_FeedDigitsWithoutSpaces(benchmark::State &state)
{
    feedRepeated(state, '7');
}
BENCHMARK(BM_FeedDigitsWithoutSpaces)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 1 << 28)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_FeedLineOfSpaces(benchmark::State &state)
{
    feedRepeated(state, ' ');
}
BENCHMARK(BM_FeedLineOfSpaces)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 1 << 26)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_FeedEmptyLines(benchmark::State &state)
{
    feedRepeated(state, '\n');
}
BENCHMARK(BM_FeedEmptyLines)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 1 << 26)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_ConfigWithEndlessFirstLine(benchmark::State &state)
{
    QByteArray content(qsizetype(state.range(0)), 'A');
    content += "\nb\nc\nd\n1\n0\n";
    for (auto _ : state) {
        QBuffer device(&content);
        device.open(QIODevice::ReadOnly);
        AppSettings settings;
        readConfig(settings, device);
        benchmark::DoNotOptimize(settings.randomPrefix.size());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ConfigWithEndlessFirstLine)
    ->RangeMultiplier(4)
    ->Range(1 << 20, 1 << 28)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

} // namespace

BENCHMARK_MAIN();
