// Throughput of the map file paths users wait on: loading a large map into
// the viewer and writing random maps.
#include "core/mapfilereader.h"
#include "random/randommapgenerator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// A 4096 x 4096 map of 0/1 cells, about 34 MB, written once per process.
const QString &largeMap()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("large.txt"));
        QStringList names;
        NullProgress progress;
        RandomMapGenerator generator;
        generator.runBatch(50, 50, 1, 4096, 4096, 1, 0, 1, dir.filePath(QStringLiteral("L")), 1,
                           names, progress);
        QFile::rename(names.first(), p);
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

void BM_WriteRandomMaps1000(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString stem = dir.filePath(QStringLiteral("RND_"));
    qint64 bytes = 0;
    for (auto _ : state) {
        QStringList names;
        NullProgress progress;
        RandomMapGenerator generator;
        // Ten covers of a 1000 x 1000 batch: about 20 MB of map text.
        generator.runBatch(1, 100, 10, 1000, 1000, 1, 0, 1, stem, 5, names, progress);
        for (const QString &name : names)
            bytes += QFileInfo(name).size();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WriteRandomMaps1000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
