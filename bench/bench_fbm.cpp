// Cost of the reference fractal surface and of a small fractal batch: the
// numbers a user waits on for every surface of a run.
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

// One surface on the batch's 4097 x 4097 lattice, as every surface after the
// first of a run costs; the map size only changes the crop, the rescale and
// the copy of the block.
void BM_Surface(benchmark::State &state)
{
    const int size = int(state.range(0));
    FbmSurface surface;
    FbmBlock block;
    int seed = 0;
    if (surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++) !=
        FbmSurface::Status::Ok) {
        state.SkipWithError("surface not built");
        return;
    }
    for (auto _ : state) {
        surface.generate(0.5, size, FbmSurface::defaultMaxLevel, seed++);
        surface.copyBlock(block);
        benchmark::DoNotOptimize(block.values.data());
    }
}
BENCHMARK(BM_Surface)->Arg(100)->Arg(4096)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first surface of a run, which also pays for the fresh 134 MB lattice.
void BM_FirstSurface(benchmark::State &state)
{
    for (auto _ : state) {
        FbmSurface surface;
        surface.generate(0.5, 100, FbmSurface::defaultMaxLevel, 0);
        benchmark::DoNotOptimize(surface.value(0, 0));
    }
}
BENCHMARK(BM_FirstSurface)->Unit(benchmark::kMillisecond)->UseRealTime();

// The 80-threshold sweep of one block of the default map size.
void BM_CoverSweep(benchmark::State &state)
{
    FbmSurface surface;
    surface.generate(0.5, int(state.range(0)), FbmSurface::defaultMaxLevel, 0);
    FbmBlock block;
    surface.copyBlock(block);
    const auto ladder = FractalMapGenerator::thresholds();
    for (auto _ : state) {
        int sum = 0;
        for (const double t : ladder)
            sum += FractalMapGenerator::coverPercent(FractalMapGenerator::coverFraction(block, t));
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_CoverSweep)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

// Three H values, covers 20, 50 and 80, one replicate, 100 x 100 maps: a
// handful of surfaces per H and a few small files.
void BM_SmallBatch(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("FBM_"));
    qint64 maps = 0;
    qint64 surfaces = 0;
    for (auto _ : state) {
        QStringList names;
        SurfaceCounter progress;
        FractalMapGenerator generator;
        const BatchResult result = generator.runFractalBatch(0.3, 0.7, 0.2, 20, 80, 30, 100, 1, 0,
                                                             1, base, names, progress);
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
BENCHMARK(BM_SmallBatch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

BENCHMARK_MAIN();
