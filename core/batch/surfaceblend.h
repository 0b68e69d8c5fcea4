// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/blendtext.h"
#include "core/batch/mapfamily.h"
#include "core/batch/phrase.h"
#include "core/files/bulkmemory.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Blends: a family's surface pushed by the surfaces of other families (a
// fractal field along a planar gradient, noise over a wave) before it is
// cut. The surface S of a map and the surface C_i of every part of the
// blend, each rescaled to 0..1 over the map's cells, are added as
//
//   S' + w_1 C_1' + w_2 C_2' + ...
//
// and the sum is rescaled to 0..1 again; that is the surface the map is
// cut from, exactly at its cover or into its classes, and the surface
// written beside it. Each part is the surface its family's surface function
// gives for its options, at the map's size, drawn with a seed of its own:
// the seed Philox draws from the seed of the base surface, the part's
// place in the list, the map's cover and replicate, so that no two parts,
// maps or batches share draws, and a part's surface can be drawn again
// alone from the manifest's blend column. A weight of 0 leaves the maps of
// the family alone.

// Why the request's blend cannot be drawn: a family that is not one or
// takes no blends, an option it does not have or that belongs to the batch
// rather than to a surface, a blend inside a blend, or what the part's own
// request refuses. `rows` x `columns` are the surfaces' size.
std::optional<Phrase> blendRefusal(const FamilyRequest &request, int rows, int columns);

// The parts of a request's blend, ready to draw for any map. Thread-safe:
// maps drawn ahead on several threads blend at once.
class SurfaceBlend {
public:
    // The request must have passed blendRefusal() for this size.
    SurfaceBlend(const FamilyRequest &request, int rows, int columns);
    ~SurfaceBlend();
    SurfaceBlend(const SurfaceBlend &) = delete;
    SurfaceBlend &operator=(const SurfaceBlend &) = delete;

    bool empty() const { return m_parts.empty(); }
    // Blends the surfaces of the map of this seed (its base surface's),
    // cover and replicate into the rows x columns values, `stride` apart,
    // in place. Says what was blended, as the manifest's blend column
    // records it (the parts with the seeds they were drawn with), or why a
    // part could not be drawn.
    struct Blended {
        QByteArray record;
        std::optional<QString> failure;
    };
    Blended blend(double *values, qsizetype stride, qint64 seed, int cover, qint64 replicate) const;

private:
    struct Part;
    std::vector<Part> m_parts;
    int m_rows;
    int m_columns;
};

// The seed of the index-th part of a blend, for the map of a base seed,
// cover and replicate, below `seeds`.
std::uint32_t blendSeed(qint64 seed, std::size_t index, int cover, qint64 replicate,
                        std::uint64_t seeds);
