// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/metrics/landscapemetrics.h"

#include <QString>
#include <QtGlobal>

#include <map>
#include <optional>
#include <tuple>

// How one map of a batch was made and what it holds: enough to make it
// again, and to choose maps by their real cover rather than by the cover in
// their name, which is only what was asked for.
struct MapRecord {
    enum class Kind { Random, Fractal, Gaussian };

    // The path as it was written and listed.
    QString fileName;
    Kind kind = Kind::Random;
    int rowCount = 0;
    int columnCount = 0;
    int requestedCover = 0;
    qint64 cellCount = 0;
    // Cells written with the cover code.
    qint64 habitatCells = 0;
    // Fractal and Gaussian field maps: the H of the surface (fbm fields only)
    // and the threshold of the cut.
    double H = 0;
    double threshold = 0;
    // Random maps: the batch's seed as the settings and the command line take
    // it, a signed 32-bit number. Fractal maps: the surface's seed.
    qint64 seed = 0;
    // Random maps count replicates per cover from 1; fractal maps per cover
    // and H from 1, as their names do.
    int replicate = 0;
    qint32 coverValue = 1;
    qint32 matrixValue = 0;

    // How the map was sampled. The manifest shows these only for batches
    // that chose other than the classic way, which the columns above fully
    // describe.
    Generator generator = Generator::Classic;
    // Where the map's draws start, so that it can be made again alone: for
    // a classic random map the number of draws of the batch's seed before
    // its first cell, for a Philox random map the replicate its counter
    // holds, for a fractal map its surface's seed.
    quint64 stream = 0;
    FractalCut cut = FractalCut::Ladder;
    // An exact cut whose share ends inside a run of equal values takes only
    // the first of them, in row-major order: how many of the cells equal to
    // the threshold are habitat. Every other map is the cells above it.
    qint64 tiedHabitat = 0;
    bool distinctSurfaces = false;
    int surfacesPerH = 0;
    int firstSeed = 0;

    // Batches with metric targets: the draw of its cell (H and cover, or
    // cover) that made the map, counted from 1, and how its cell fared: the
    // draws it tried and the maps it kept.
    qint64 draw = 0;
    qint64 cellDraws = 0;
    int cellKept = 0;
    // Gaussian field maps: the covariance model, its range in cells (not for
    // fbm) and the Matern nu.
    CovarianceModel model = CovarianceModel::Exponential;
    double range = 0;
    double nu = 0;

    // Where the map stands in the order the whole batch makes its maps, so
    // that the shares of a split batch can be put back in that order. Not
    // in the manifest: the row's place there says it.
    qint64 position = 0;

    // The landscape metrics of the map, when its batch measured them.
    std::optional<LandscapeMetrics> metrics;
    // The file of the surface a fractal map was cut from, when its batch
    // wrote surfaces.
    QString surfaceFile;
};

// The word of a kind of map, as the manifest's kind column and a run's
// record of its request write it.
constexpr const char *kindWord(MapRecord::Kind kind)
{
    switch (kind) {
    case MapRecord::Kind::Random:
        return "random";
    case MapRecord::Kind::Fractal:
        return "fractal";
    case MapRecord::Kind::Gaussian:
        return "gaussian";
    }
    return "random";
}

// How many maps a run made of each cell of its batch, told apart as their
// records tell them: by H, range and requested cover. What a run's
// shortfalls are counted from; it holds a count a cell, not a record a map,
// so that a batch of millions of maps kept in memory stays small.
class MapTally {
public:
    using Cell = std::tuple<double, double, int>;

    void add(const MapRecord &record)
    {
        ++m_counts[{record.H, record.range, record.requestedCover}];
    }
    template <typename Records> static MapTally of(const Records &records)
    {
        MapTally tally;
        for (const MapRecord &record : records)
            tally.add(record);
        return tally;
    }
    // Each cell with its count, in no order a caller should rely on.
    const std::map<Cell, qint64> &cells() const { return m_counts; }

private:
    std::map<Cell, qint64> m_counts;
};
