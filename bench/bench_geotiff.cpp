// SPDX-License-Identifier: GPL-3.0-or-later
// Writing one 4096 x 4096 map as a GeoTIFF against writing the same map as
// an ESRI ASCII grid, for a clumped map (a cut of a fractal surface) and a
// random one: the GeoTIFF must not make a batch slower than the text grid
// it replaces for GIS users. The GeoTIFF cases also run at other DEFLATE
// levels and thread counts, which is how the writer's defaults were chosen.
#include "core/grid/geotiff.h"
#include "core/grid/mapfilewriter.h"
#include "core/rng/rand15.h"
#include "fractal/fastfbmsurface.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <ctime>
#include <vector>

namespace {

constexpr int mapSize = 4096;

enum Pattern { Clumped, Random };

// Habitat flags, row-major; made once per process so that every case
// writes exactly the same cells.
const std::vector<bool> &habitat(int pattern)
{
    static const std::vector<bool> clumped = [] {
        FastFbmSurface surface;
        FbmBlock block;
        surface.generate(0.5, mapSize, FbmSurface::defaultMaxLevel, 0, block);
        std::vector<bool> cells(std::size_t(mapSize) * mapSize);
        for (int row = 0; row < mapSize; ++row)
            for (int col = 0; col < mapSize; ++col)
                cells[std::size_t(row) * mapSize + col] = block.at(row, col) > 0.5;
        return cells;
    }();
    static const std::vector<bool> random = [] {
        Rand15 rng(1);
        std::vector<bool> cells(std::size_t(mapSize) * mapSize);
        for (std::size_t i = 0; i < cells.size(); ++i)
            cells[i] = rng.next() <= Rand15::maxValue / 2;
        return cells;
    }();
    return pattern == Clumped ? clumped : random;
}

// Google Benchmark's CPU time is the calling thread's; GDAL compresses on
// its own threads too, so the process's CPU time per map is reported as
// well, as the cost of a map when every core is busy with other maps.
void label(benchmark::State &state, const QString &path, std::clock_t cpuStart)
{
    state.counters["process_cpu_ms"] = benchmark::Counter(
        1e3 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC / double(state.iterations()));
    state.SetLabel(state.range(0) == Clumped ? "clumped" : "random");
    state.counters["file_MB"] = double(QFileInfo(path).size()) / 1e6;
    state.SetItemsProcessed(state.iterations() * qint64(mapSize) * mapSize);
}

void BM_WriteAsciiGrid(benchmark::State &state)
{
    const std::vector<bool> &cells = habitat(int(state.range(0)));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("map.asc"));
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        MapFileWriter writer(0, 1, MapFileWriter::Format::AsciiGrid);
        if (writer.open(path, mapSize, mapSize)) {
            state.SkipWithError("cannot open");
            return;
        }
        for (int row = 0; row < mapSize; ++row) {
            const std::size_t first = std::size_t(row) * mapSize;
            writer.putRow(mapSize, [&cells, first](int col) { return bool(cells[first + col]); });
        }
        if (writer.commit()) {
            state.SkipWithError("cannot commit");
            return;
        }
    }
    label(state, path, cpuStart);
}
BENCHMARK(BM_WriteAsciiGrid)
    ->ArgName("pattern")
    ->DenseRange(Clumped, Random)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arguments: pattern, DEFLATE level, compression threads, tile side,
// predictor (0 or 1).
void BM_WriteGeoTiff(benchmark::State &state)
{
    const std::vector<bool> &cells = habitat(int(state.range(0)));
    const GeoTiffOptions options{int(state.range(1)), int(state.range(2)), int(state.range(3)),
                                 state.range(4) != 0};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("map.tif"));
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        GeoTiffMapWriter writer(0, 1);
        writer.setOptions(options);
        if (writer.open(path, mapSize, mapSize)) {
            state.SkipWithError("cannot open");
            return;
        }
        for (int row = 0; row < mapSize; ++row) {
            const std::size_t first = std::size_t(row) * mapSize;
            writer.putRow([&cells, first](int col) { return bool(cells[first + col]); });
        }
        if (writer.commit()) {
            state.SkipWithError("cannot commit");
            return;
        }
    }
    label(state, path, cpuStart);
}

void geoTiffCases(benchmark::internal::Benchmark *bench)
{
    const GeoTiffOptions defaults;
    const int predictor = defaults.predictor ? 1 : 0;
    bench->ArgNames({"pattern", "zlevel", "threads", "tile", "predictor"});
    for (int pattern : {Clumped, Random}) {
        // The defaults first, then one change at a time.
        bench->Args({pattern, defaults.level, defaults.threads, defaults.tileSize, predictor});
        bench->Args({pattern, defaults.level, 1, defaults.tileSize, predictor});
        bench->Args({pattern, defaults.level, defaults.threads, 256, predictor});
        bench->Args({pattern, defaults.level, 1, 256, predictor});
        bench->Args({pattern, defaults.level, defaults.threads, defaults.tileSize, 1 - predictor});
        bench->Args({pattern, 6, defaults.threads, defaults.tileSize, predictor});
    }
}
BENCHMARK(BM_WriteGeoTiff)->Apply(geoTiffCases)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
