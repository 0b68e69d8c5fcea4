// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of a Gaussian random field of 1024 x 1024 cells, the figure weighed
// against NumPy (bench/gaussian_numpy.py) and R's fields package
// (bench/gaussian_fields.R), which run the same circulant embedding on a
// 2048 x 2048 periodic grid: the embedding once per model, then one
// transform per field.
#include "core/batch/batchjob.h"
#include "fractal/fractalmapgenerator.h"
#include "gaussian/gaussianfield.h"
#include "gaussian/gaussianmapgenerator.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

FieldModel exponential()
{
    FieldModel model;
    model.model = CovarianceModel::Exponential;
    model.range = 20.0;
    return model;
}

// The eigenvalues of the model on the periodic grid: paid once per range.
// Arguments: rows, columns.
void BM_Embedding(benchmark::State &state)
{
    const int rows = int(state.range(0));
    const int columns = int(state.range(1));
    for (auto _ : state) {
        auto built = CirculantEmbedding::build(exponential(), rows, columns);
        benchmark::DoNotOptimize(built.embedding.get());
    }
}
BENCHMARK(BM_Embedding)
    ->ArgNames({"rows", "columns"})
    ->Args({1024, 1024})
    ->Args({1024, 256})
    ->Unit(benchmark::kMillisecond);

// One field, as every map of a run costs: the normal draws and the
// transform. A 1024 x 256 field set beside the 1024 x 1024 square it would
// otherwise be cropped from; the spectrum's size is reported in MiB.
void BM_Field(benchmark::State &state)
{
    const int rows = int(state.range(0));
    const int columns = int(state.range(1));
    auto built = CirculantEmbedding::build(exponential(), rows, columns);
    if (!built.embedding) {
        state.SkipWithError(qPrintable(built.refusal));
        return;
    }
    std::vector<double> field;
    FieldWorkspace workspace;
    FieldStream stream;
    for (auto _ : state) {
        ++stream.replicate;
        benchmark::DoNotOptimize(built.embedding->draw(stream, field, workspace));
    }
    state.counters["spectrum_MiB"] =
        double(built.embedding->spectralEntries()) * 16.0 / (1024.0 * 1024.0);
}
BENCHMARK(BM_Field)
    ->ArgNames({"rows", "columns"})
    ->Args({1024, 1024})
    ->Args({1024, 256})
    ->Args({100, 100})
    ->Unit(benchmark::kMillisecond);

// The default batch of each family, written to a temporary folder: 900 maps
// of 100 x 100 cells for both (nine ranges or nine H values, covers 1 to
// 100). Argument 0 is the fractal batch, 1 the Gaussian one.
void BM_DefaultBatch(benchmark::State &state)
{
    const bool gaussian = state.range(0) != 0;
    qint64 maps = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        NullProgress progress;
        BatchReport report;
        if (gaussian) {
            GaussianBatchRequest request;
            request.output.folder = dir.path();
            request.output.prefix = QStringLiteral("g_");
            report = BatchJob(request).run(progress);
        } else {
            FractalBatchRequest request;
            request.output.folder = dir.path();
            request.output.prefix = QStringLiteral("FBM_");
            report = BatchJob(request).run(progress);
        }
        maps = report.maps.size();
    }
    state.counters["maps"] = double(maps);
}
BENCHMARK(BM_DefaultBatch)
    ->ArgName("gaussian")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
