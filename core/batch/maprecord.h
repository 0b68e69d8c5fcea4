// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"
#include "core/metrics/metricnames.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <future>

#include <map>
#include <optional>
#include <utility>
#include <vector>

class MapFamily;

// A column of the manifest a family adds for its own parameters, and its
// value for a map: its name, its text, and what the text holds (words,
// measures with decimals, whole numbers that fit 32 bits, and whole numbers
// that may outgrow them). An empty text is a value that does not apply to
// the map.
enum class ManifestType { Text, Measure, Whole, LargeWhole };
struct ManifestField {
    const char *name;
    QByteArray value;
    ManifestType type;
};

// How one map of a batch was made and what it holds: enough to make it
// again, and to choose maps by their real cover rather than by the cover in
// their name, which is only what was asked for.
struct MapRecord {
    // The path as it was written and listed.
    QString fileName;
    // The family that made it; its word is the manifest's kind.
    const MapFamily *family = nullptr;
    int rowCount = 0;
    int columnCount = 0;
    int requestedCover = 0;
    qint64 cellCount = 0;
    // Cells written with the cover code; in a map of classes, the cells
    // of the last class, and cellCount those inside the study area.
    qint64 habitatCells = 0;
    // A map of classes: the cells of each class, in the order of their
    // codes.
    std::vector<qint64> classCells;
    // Maps cut from a surface: the H of the surface, for families that
    // sweep it, and the threshold of the cut.
    std::optional<double> H;
    std::optional<double> threshold;
    // The value of the family's second sweep beside the cover (H, a
    // correlation range), which tells its cells apart; 0 for a family that
    // has none.
    double axis = 0;
    // Random maps: the batch's seed as the settings and the command line take
    // it, a signed 32-bit number. Fractal maps: the surface's seed.
    qint64 seed = 0;
    // Random maps count replicates per cover from 1; fractal maps per cover
    // and H from 1, as their names do.
    int replicate = 0;
    qint32 coverValue = 1;
    qint32 matrixValue = 0;

    // Where the map's draws start, so that it can be made again alone: for
    // a classic random map the number of draws of the batch's seed before
    // its first cell, for a Philox random map the replicate its counter
    // holds, for a fractal map its surface's seed.
    quint64 stream = 0;
    // An exact cut whose share ends inside a run of equal values takes only
    // the first of them, in row-major order: how many of the cells equal to
    // the threshold are habitat. Every other map is the cells above it.
    qint64 tiedHabitat = 0;

    // Batches with metric targets: the draw of its cell (H and cover, or
    // cover) that made the map, counted from 1, and how its cell fared: the
    // draws it tried and the maps it kept.
    qint64 draw = 0;
    qint64 cellDraws = 0;
    int cellKept = 0;
    // The surfaces blended into the map's, with the seeds each was drawn
    // with (SurfaceBlend), when its batch blends.
    QByteArray blend;
    // The family's own columns for this map, in the order of the
    // family's columns (ManifestColumns::family), when its batch shows them.
    QList<ManifestField> parameters;

    // Where the map stands in the order the whole batch makes its maps, so
    // that the shares of a split batch can be put back in that order. Not
    // in the manifest: the row's place there says it.
    qint64 position = 0;

    // The landscape metrics of the map, when its batch measured them as it
    // wrote the map; see habitatMetrics().
    std::optional<LandscapeMetrics> metrics;
    // Its rows of the batch's long table of metrics, when it writes one:
    // measured beside the writing of the maps, and ready once the batch's
    // maps are. With them, for a map the table's measurer labels anyway,
    // the landscape metrics.
    std::shared_future<MeasuredMap> measures;
    // The file of the surface a fractal map was cut from, when its batch
    // wrote surfaces.
    QString surfaceFile;

    // The manifest's landscape metrics, wherever they were measured; waits
    // for the table's measurer when they come from it.
    std::optional<LandscapeMetrics> habitatMetrics() const
    {
        if (metrics || !measures.valid())
            return metrics;
        return measures.get().habitat;
    }
};

// How many maps a run made of each cell of its batch, told apart as their
// records tell them: by the family's second sweep and the requested cover.
// What a run's shortfalls are counted from; it holds a count a cell, not a
// record a map, so that a batch of millions of maps kept in memory stays
// small.
class MapTally {
public:
    using Cell = std::pair<double, int>;

    void add(const MapRecord &record) { ++m_counts[{record.axis, record.requestedCover}]; }
    template <typename Records> static MapTally of(const Records &records)
    {
        MapTally tally;
        for (const MapRecord &record : records)
            tally.add(record);
        return tally;
    }
    // Each cell with its count, in no order a caller should rely on.
    const std::map<Cell, qint64> &cells() const { return m_counts; }
    // The maps of one cell.
    qint64 count(double axis, int cover) const
    {
        const auto found = m_counts.find({axis, cover});
        return found == m_counts.end() ? 0 : found->second;
    }

private:
    std::map<Cell, qint64> m_counts;
};
