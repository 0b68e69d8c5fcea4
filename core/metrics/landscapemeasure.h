// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/landscapemetrics.h"
#include "core/metrics/metricnames.h"

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// Land-cover maps have tens of classes, rarely hundreds. A map with more
// distinct codes than this is most likely one of measurements (heights,
// counts) stored as whole numbers, whose table would be ever longer and
// mean nothing; front ends refuse it rather than measure it.
constexpr qint64 maxMeasuredClasses = 10000;

// How a landscape is measured. The defaults are the reference tool's:
// patches join at sides and corners, and a cell is one map unit wide.
struct MetricOptions {
    // 8 joins cells of a class that share a side or a corner into one
    // patch, 4 only those that share a side. Edges and adjacencies are
    // always counted between cells that share a side.
    int neighbours = 8;
    // The side of a square cell in map units; areas are given in hectares
    // (map units squared / 10000) and lengths in map units, as the
    // reference tool gives them for metres.
    double cellSize = 1.0;
    // Cells of this code lie outside the landscape: they belong to no class,
    // add nothing to its area and their sides are no edge.
    std::optional<qint32> noData;
};

// A map's rows of the long table and, when they were asked for with them,
// the manifest's metrics of its habitat class.
struct MeasuredMap {
    std::vector<MetricRow> rows;
    std::optional<LandscapeMetrics> habitat;
};

// Measures a map given one row at a time, top row first, with every class-
// and landscape-level metric of metricnames.h: what the landscape metrics
// studies report, as the field's reference tool defines them.
//
// Each row is cut into runs of equal codes. Runs of a class that touch the
// runs of the row above are joined into patches by union-find, and the same
// sweep over the two rows counts the sides between cells: like adjacencies,
// the class x class table of unlike ones, and the sides that face NoData or
// the map's border. What a patch needs (its cells, the sides inside it, the
// sums that give its centroid) is added up at its root, so nothing is kept
// per cell. The runs are kept (16 bytes each), for the mean distance of a
// patch's cells from its centroid, which needs the centroid first, and for
// the distance between patches of a class (nearestneighbour.h).
//
// A measurer serves any number of maps of the same width: finish() hands
// over one map's rows and leaves it ready for the next, with its storage.
class LandscapeMeasurer final {
public:
    explicit LandscapeMeasurer(int columns, const MetricOptions &options = {},
                               const MetricSelection &selection = MetricSelection::all());
    ~LandscapeMeasurer();
    LandscapeMeasurer(const LandscapeMeasurer &) = delete;
    LandscapeMeasurer &operator=(const LandscapeMeasurer &) = delete;

    // The next row: `columns` codes.
    void addRow(std::span<const qint32> codes);
    // The next row of a two-class map as batches make them: nonzero bytes
    // are coverCode cells, the others matrixCode cells. The rows of one map
    // come all as codes or all as bytes.
    void addRow(const std::uint8_t *habitat, qint32 matrixCode, qint32 coverCode);

    // The classes met in the rows added so far.
    qint64 classCount() const;

    // The selected metrics of the rows added so far: the class level first,
    // then the landscape; within a level by metric name, then by class code,
    // as the reference tool orders them. A map without a cell inside the
    // landscape has no classes, and NA for every landscape metric.
    std::vector<MetricRow> finish();
    // The same, with the metrics LandscapeMetricsAccumulator gives of the
    // map, the class of habitatCode taken for habitat, from the patches
    // measured here rather than by labelling the map again. They are the
    // accumulator's to the last bit for a map it sums in one pass
    // (LandscapeMetricsAccumulator::sumsInOnePass). Nothing for a map with
    // NoData or more than two classes, which the accumulator does not
    // measure.
    MeasuredMap finishWithHabitat(qint32 habitatCode);

private:
    MeasuredMap finishMap(std::optional<qint32> habitatCode);

    struct State;
    std::unique_ptr<State> m;
};

// The metrics of a whole map held in memory: rows x columns codes,
// row-major. A map of two codes, neither of them NoData, which is what most
// maps measured are, is measured as bytes, on bits.
std::vector<MetricRow> measureLandscape(std::span<const qint32> codes, int rows, int columns,
                                        const MetricOptions &options = {},
                                        const MetricSelection &selection = MetricSelection::all());

// The same for a map a user hands over: nothing when it holds more than
// maxMeasuredClasses codes, found out before they are all tabled.
std::optional<std::vector<MetricRow>> measureClassMap(std::span<const qint32> codes, int rows,
                                                      int columns, const MetricOptions &options,
                                                      const MetricSelection &selection);
