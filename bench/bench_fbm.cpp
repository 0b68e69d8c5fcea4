// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the fractal surfaces and of fractal batches: the numbers a user
// waits on for every surface of a run. The plain surface is the reference
// construction; the fast one is what runs use.
#include "fractal/covercut.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fbmsurface.h"
#include "fractal/fractalmapgenerator.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Counts the surfaces a run builds: one progress label each, after the
// first "Calculando...".
class SurfaceCounter final : public BatchProgress {
public:
    void setMaximum(int) override {}
    void setLabelText(const QString &) override { ++labels; }
    void setValue(int) override {}
    bool wasCanceled() const override { return false; }
    qint64 labels = 0;
};

// One plain surface on the batch's 4097 x 4097 lattice, as every surface
// after the first of a run costs; the map size only changes the crop, the
// rescale and the copy of the block. The second argument is the generator.
void BM_Surface(benchmark::State &state)
{
    const int size = int(state.range(0));
    const auto generator = Generator(state.range(1));
    FbmSurface surface;
    FbmBlock block;
    int seed = 0;
    if (surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++, generator) !=
        FbmSurface::Status::Ok) {
        state.SkipWithError("surface not built");
        return;
    }
    for (auto _ : state) {
        surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++, generator);
        surface.copyBlock(block);
        benchmark::DoNotOptimize(block.values.data());
    }
}
BENCHMARK(BM_Surface)
    ->ArgNames({"size", "philox"})
    ->Args({100, int(Generator::Classic)})
    ->Args({4096, int(Generator::Classic)})
    ->Args({4096, int(Generator::Philox)})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first plain surface of a run, which also pays for the fresh 134 MB
// lattice.
void BM_FirstSurface(benchmark::State &state)
{
    for (auto _ : state) {
        FbmSurface surface;
        surface.generate(0.5, 100, FbmSurface::defaultMaxLevel, 0);
        benchmark::DoNotOptimize(surface.value(0, 0));
    }
}
BENCHMARK(BM_FirstSurface)->Unit(benchmark::kMillisecond)->UseRealTime();

// One fast surface with its storage warm, as in a run: 100 is the dialog's
// default map size, 1000 a large map, 4096 the whole lattice. Targets: 2 ms,
// 25 ms and 60 ms.
void BM_FastSurface(benchmark::State &state)
{
    const int size = int(state.range(0));
    FastFbmSurface surface;
    FbmBlock block;
    int seed = 0;
    if (surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++, block) !=
        FastFbmSurface::Status::Ok) {
        state.SkipWithError("surface not built");
        return;
    }
    for (auto _ : state) {
        surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++ % 200, block);
        benchmark::DoNotOptimize(block.values.data());
    }
}
BENCHMARK(BM_FastSurface)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(4096)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The fast surface of the whole lattice by generator and thread count, with
// its storage warm. Target: the Philox surface in no more time than the
// classic one on one thread.
void BM_FastSurfaceGenerator(benchmark::State &state)
{
    const auto generator = Generator(state.range(0));
    FastFbmSurface surface;
    surface.setThreadCount(int(state.range(1)));
    FbmBlock block;
    int seed = 0;
    if (surface.generate(0.5, 4096, FbmSurface::defaultMaxLevel, seed++, block, generator) !=
        FastFbmSurface::Status::Ok) {
        state.SkipWithError("surface not built");
        return;
    }
    for (auto _ : state) {
        surface.generate(0.5, 4096, FbmSurface::defaultMaxLevel, seed++ % 200, block, generator);
        benchmark::DoNotOptimize(block.values.data());
    }
}
BENCHMARK(BM_FastSurfaceGenerator)
    ->ArgNames({"philox", "threads"})
    ->Args({int(Generator::Classic), 1})
    ->Args({int(Generator::Philox), 1})
    ->Args({int(Generator::Classic), 2})
    ->Args({int(Generator::Philox), 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first fast surface of the whole lattice, storage and block included.
void BM_FastFirstSurface(benchmark::State &state)
{
    for (auto _ : state) {
        FastFbmSurface surface;
        FbmBlock block;
        surface.generate(0.5, 4096, FbmSurface::defaultMaxLevel, 0, block);
        benchmark::DoNotOptimize(block.values.data());
    }
}
BENCHMARK(BM_FastFirstSurface)->Unit(benchmark::kMillisecond)->UseRealTime();

FbmBlock blockOfSize(int size)
{
    FastFbmSurface surface;
    FbmBlock block;
    surface.generate(0.5, size, FbmSurface::defaultMaxLevel, 0, block);
    return block;
}

// The 80-threshold sweep of one block as 80 scans, the reference way.
void BM_CoverSweep(benchmark::State &state)
{
    const FbmBlock block = blockOfSize(int(state.range(0)));
    const auto ladder = covercut::thresholds();
    for (auto _ : state) {
        int sum = 0;
        for (const double t : ladder)
            sum += covercut::coverPercent(covercut::coverFraction(block, t));
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_CoverSweep)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// The same sweep in one pass, as runs do it.
void BM_OnePassSweep(benchmark::State &state)
{
    const FbmBlock block = blockOfSize(int(state.range(0)));
    for (auto _ : state) {
        const auto above = covercut::aboveCounts(block);
        benchmark::DoNotOptimize(above.data());
    }
}
BENCHMARK(BM_OnePassSweep)->Arg(100)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);

// Writing one map of a cut, the run's share per map on the main thread.
void BM_WriteCoverMap(benchmark::State &state)
{
    const FbmBlock block = blockOfSize(int(state.range(0)));
    QTemporaryDir dir;
    int count = 0;
    for (auto _ : state) {
        // A new name each time, as in a run: replacing a file can cost a
        // flush on some file systems that a new one does not.
        const QString name = dir.filePath(QStringLiteral("cut%1.txt").arg(count++));
        const FileResult error = covercut::writeCoverMap(block, name, 0.5, 0, 1);
        if (error) {
            state.SkipWithError("map not written");
            break;
        }
    }
}
BENCHMARK(BM_WriteCoverMap)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

FractalBatchRequest requestOf(HurstRange hurst, CoverRange covers, int size)
{
    FractalBatchRequest request;
    request.hurst = hurst;
    request.covers = covers;
    request.shape = {size, size};
    return request;
}

void runBatch(benchmark::State &state, FractalMapGenerator::Engine engine,
              const FractalBatchRequest &request)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("FBM_"));
    qint64 maps = 0;
    qint64 surfaces = 0;
    for (auto _ : state) {
        QList<MapRecord> names;
        SurfaceCounter progress;
        FractalMapGenerator generator(request, engine);
        const BatchResult result = generator.writeMaps(base, names, progress);
        if (!result.ok()) {
            state.SkipWithError("batch failed");
            break;
        }
        maps += names.size();
        surfaces += progress.labels - 1;
    }
    state.counters["maps"] = benchmark::Counter(double(maps), benchmark::Counter::kAvgIterations);
    state.counters["surfaces"] =
        benchmark::Counter(double(surfaces), benchmark::Counter::kAvgIterations);
}

// Three H values, covers 20, 50 and 80, one replicate, 100 x 100 maps: a
// handful of surfaces per H and a few small files, with either engine.
void BM_SmallBatch(benchmark::State &state)
{
    runBatch(state, FractalMapGenerator::Engine(state.range(0)),
             requestOf({0.3, 0.7, 0.2}, {20, 80, 30}, 100));
}
BENCHMARK(BM_SmallBatch)
    ->Arg(int(FractalMapGenerator::Engine::Fast))
    ->Arg(int(FractalMapGenerator::Engine::Plain))
    ->ArgName("plain")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// The dialog's defaults: H 0.1 to 0.9, covers 1 to 100, one replicate,
// 100 x 100 maps; 1,800 surfaces and 891 maps. Fast engine only: the plain
// one takes minutes. Target: 5 s.
void BM_DefaultBatch(benchmark::State &state)
{
    runBatch(state, FractalMapGenerator::Engine::Fast,
             requestOf({0.1, 0.9, 0.1}, {1, 100, 1}, 100));
}
BENCHMARK(BM_DefaultBatch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
