// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the map file paths users wait on: loading a large map into
// the viewer and writing random maps.
#include "core/grid/mapfilereader.h"
#include "core/grid/mapreader.h"
#include "random/randommapgenerator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

RandomBatchRequest requestOf(CoverRange covers, int size, qint32 seed)
{
    RandomBatchRequest request;
    request.covers = covers;
    request.shape = {size, size};
    request.seed = seed;
    return request;
}

// A 4096 x 4096 map of 0/1 cells, about 34 MB, written once per process.
const QString &largeMap()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("large.txt"));
        QList<MapRecord> maps;
        NullProgress progress;
        RandomMapGenerator generator(requestOf({50, 50, 1}, 4096, 1));
        generator.writeMaps(dir.filePath(QStringLiteral("L")), maps, progress);
        QFile::rename(maps.first().fileName, p);
        return p;
    }();
    return path;
}

void BM_LoadMap4096(benchmark::State &state)
{
    const QString &path = largeMap();
    const qint64 bytes = QFileInfo(path).size();
    for (auto _ : state) {
        LandscapeGrid grid;
        MapFileReader::read(path, grid);
        benchmark::DoNotOptimize(grid.cellCount());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_LoadMap4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file through readMap, which also checks that the file is a map;
// the difference to BM_LoadMap4096 is what that check costs.
void BM_ReadMap4096(benchmark::State &state)
{
    const QString &path = largeMap();
    const qint64 bytes = QFileInfo(path).size();
    for (auto _ : state) {
        LandscapeGrid grid;
        readMap(path, grid);
        benchmark::DoNotOptimize(grid.cellCount());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_ReadMap4096)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteRandomMaps1000(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString stem = dir.filePath(QStringLiteral("RND_"));
    qint64 bytes = 0;
    for (auto _ : state) {
        QList<MapRecord> maps;
        NullProgress progress;
        // Ten covers of a 1000 x 1000 batch: about 20 MB of map text.
        RandomMapGenerator generator(requestOf({1, 100, 10}, 1000, 5));
        generator.writeMaps(stem, maps, progress);
        for (const MapRecord &map : maps)
            bytes += QFileInfo(map.fileName).size();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteRandomMaps1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
