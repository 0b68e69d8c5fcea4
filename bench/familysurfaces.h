// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"
#include "core/batch/mapfamily.h"

#include <benchmark/benchmark.h>

#include <initializer_list>
#include <utility>

// Surfaces of a family, drawn through the registry as a front end's surface
// function draws them: the options given, state.range(0) cells a side, a
// new replicate each iteration. `fresh` draws each into new memory, as a
// front end does; otherwise one surface's storage serves them all, as in a
// batch.
inline void drawFamilySurfaces(benchmark::State &state, const char *word,
                               std::initializer_list<std::pair<const char *, OptionValue>> options,
                               bool fresh)
{
    const MapFamily &family = *familyNamed(word);
    auto request = family.newRequest();
    for (const auto &[key, value] : options)
        setOption(*request, *findBatchOption(family, key), value);
    setOption(*request, *findBatchOption(family, "size"), qint64(state.range(0)));
    MapFamily::Surface kept;
    qint64 replicate = 0;
    for (auto _ : state) {
        MapFamily::Surface made;
        MapFamily::Surface &surface = fresh ? made : kept;
        if (auto refusal = family.surface(*request, 50, ++replicate, surface))
            state.SkipWithError(qPrintable(refusal->text()));
        benchmark::DoNotOptimize(surface.values.data());
    }
}
