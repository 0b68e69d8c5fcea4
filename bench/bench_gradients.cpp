// SPDX-License-Identifier: GPL-3.0-or-later
// The gradient families' surfaces, each into fresh memory as a front end's
// surface function draws it, beside the time of writing as many doubles
// into fresh memory: what "at memory speed" is measured against.
// bench/gradient_numpy.py weighs the distance transform and Perlin noise
// against SciPy and NumPy.
#include "bench/familysurfaces.h"
#include "core/files/bulkmemory.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void drawFresh(benchmark::State &state, const char *word,
               std::initializer_list<std::pair<const char *, OptionValue>> options)
{
    drawFamilySurfaces(state, word, options, true);
}

void BM_FreshDoubles(benchmark::State &state)
{
    const auto cells = std::size_t(state.range(0)) * std::size_t(state.range(0));
    for (auto _ : state) {
        std::vector<double, BulkAllocator<double>> values(cells, 0.5);
        benchmark::DoNotOptimize(values.data());
    }
}
void BM_Planar(benchmark::State &state)
{
    drawFresh(state, "planar", {{"direction", 30.0}});
}
void BM_PlanarDrawn(benchmark::State &state)
{
    drawFresh(state, "planar", {});
}
void BM_Edge(benchmark::State &state)
{
    drawFresh(state, "edge", {{"direction", 30.0}});
}
void BM_Wave(benchmark::State &state)
{
    drawFresh(state, "wave", {{"direction", 30.0}, {"periods", 5.0}});
}
void BM_Distance(benchmark::State &state)
{
    drawFresh(state, "distance", {{"sources", qint64(10)}});
}
void BM_Perlin6(benchmark::State &state)
{
    drawFresh(state, "perlin", {{"periods", 4.0}, {"octaves", qint64(6)}});
}
void BM_BlendPlanarPerlin(benchmark::State &state)
{
    drawFresh(state, "perlin",
              {{"periods", 4.0}, {"blend", QStringLiteral("planar:direction=30:weight=2")}});
}

} // namespace

BENCHMARK(BM_FreshDoubles)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Planar)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanarDrawn)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Edge)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Wave)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Distance)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Perlin6)->Arg(1000)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlendPlanarPerlin)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
