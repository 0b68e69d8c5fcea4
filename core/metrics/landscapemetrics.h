// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/bitrows.h"

#include <QtGlobal>

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

// Class-level metrics of the habitat class of a two-class map (habitat against
// matrix), with the definitions that landscape-metrics packages such as the R
// package landscapemetrics and the Python package pylandstats use:
//
// - A patch is a set of habitat cells joined by shared sides (4 neighbours)
//   or by shared sides and corners (8 neighbours, the usual default).
// - Areas are cell counts times cellSize^2, in map units squared: a cell size
//   in metres gives square metres, not the hectares those packages print.
// - ED counts each side between a habitat cell and a matrix cell once, times
//   cellSize, and divides by the map area in hectares (10000 map units^2).
//   Sides on the map border face no cell and are not edges.
// - GYRATE of a patch is the mean (not the root-mean-square) Euclidean
//   distance from its cell centres to its centroid, the mean of those centres.
//   A one-cell patch has GYRATE 0.
//
// Means over patches are NaN when the map has no habitat, since they are
// undefined rather than zero; LPI and ED are 0 then.
struct LandscapeMetrics {
    qint64 habitatCells = 0;
    // NP.
    qint64 patchCount = 0;
    // LPI: area of the largest patch as a percentage of the map area.
    double largestPatchIndex = 0;
    // AREA_MN: sum(a_i) / NP.
    double meanPatchArea = std::numeric_limits<double>::quiet_NaN();
    // AREA_AM: sum(a_i^2) / sum(a_i).
    double areaWeightedMeanPatchArea = std::numeric_limits<double>::quiet_NaN();
    // ED: habitat-matrix edge length per hectare of map area.
    double edgeDensity = 0;
    // GYRATE_AM: sum(a_i * g_i) / sum(a_i), in map units.
    double areaWeightedMeanGyration = std::numeric_limits<double>::quiet_NaN();
};

// What those metrics are made of, summed over the patches of the habitat
// class. Every sum is of whole numbers, exact in any order, except the sum
// of the patches' centroid distances (centroiddistances.h), which depends on
// the order the patches are added in.
struct HabitatSums {
    qint64 habitatCells = 0;
    qint64 patchCount = 0;
    qint64 largestArea = 0;
    // Sides between a habitat cell and a matrix cell.
    qint64 edges = 0;
    double areaSquareSum = 0;
    double distanceSum = 0;
};

// The metrics of a map of `mapCells` cells from its sums; the one formula of
// both measurers.
LandscapeMetrics landscapeMetrics(const HabitatSums &sums, double mapCells, double cellSize);

// Computes the metrics of a map while it is being generated, one row at a
// time from the top, so that maps too large to hold are measured in the same
// single pass that writes them.
//
// Each row is packed into bits and split into runs of habitat. Runs of two
// rows that touch form groups, read off the bits, and the patches of the runs
// above a group are joined by union-find; the work is per run, not per cell.
// A patch's mean centroid distance can only be summed once its centroid is
// known, so the runs are kept (row, columns, patch: 16 bytes each) and summed
// in a second pass over them when they have piled up and at the end. That
// pass takes every patch that no run of the last row continues, and keeps
// only the runs of the patches still open.
//
// Memory: the packed rows and the runs of two rows; the kept runs, in 1 MiB
// chunks, up to 16 MiB or twice those of the patches still open at the last
// pass, whichever is more; and 28 bytes per patch label given out since the
// last pass (a label for each run that touches nothing above it), with 40
// more per label during the pass. A patch that keeps growing down the map,
// such as the spanning patch of a random map above the percolation
// threshold, keeps its runs until the end: a random 20000 x 20000 map at 50 %
// cover with 8 neighbours peaked at 1.75 GB resident. No per-cell label is
// ever stored.
//
// The results are the same bits on every platform and compiler: distances
// are summed in a fixed order, the same in the vector and the plain code, and
// the file is built without fused multiply-add.
class LandscapeMetricsAccumulator final {
public:
    // neighbours is 4 or 8; cellSize is the side of a cell in map units.
    LandscapeMetricsAccumulator(int columns, int neighbours, double cellSize);

    // One row of `columns` cells, top row first; nonzero is habitat.
    void addRow(const std::uint8_t *habitat);

    // The metrics of the rows added so far. The accumulator is then empty
    // again for the next map of the same width, and keeps its storage, so a
    // batch allocates once; the storage goes with the accumulator.
    LandscapeMetrics finish();

    // Whether the accumulator sums a map of this shape in a single pass at
    // its end, and so adds its patches' distances in the order of each
    // patch's first run, as LandscapeMeasurer does: then the two give the
    // same bits. A larger map sums the patches it closes at each pass in
    // turn.
    static bool sumsInOnePass(qint64 rows, int columns);

private:
    struct KeptRun {
        std::int32_t row;
        std::int32_t start;
        std::int32_t end;
        std::int32_t patch;
    };

    void countEdges();
    void joinRuns();
    KeptRun &keptRun(std::size_t index);
    void sumClosedPatches(bool all);

    int m_columns;
    int m_words;
    // How far a run may reach sideways to touch a run of the row above:
    // 1 when corners join, 0 when only sides do.
    int m_reach;
    double m_cellSize;

    // The habitat of this row and the one above, and their runs.
    bitrows::ClassRows m_habitat;

    // Union-find over patch labels; a root is its own parent and holds the
    // sums of its patch: the cell count, twice the sum of the cells' columns
    // (so that every run adds an integer) and the sum of their rows.
    std::vector<std::int32_t> m_parent;
    std::vector<qint64> m_area;
    std::vector<qint64> m_doubleColumnSum;
    std::vector<qint64> m_rowSum;
    // The kept runs in chunks of 1 MiB, so that growing never copies them
    // and a large map needs no more than it holds.
    static constexpr int keptRunChunkBits = 16;
    static constexpr std::size_t keptRunChunkSize = std::size_t(1) << keptRunChunkBits;
    std::vector<std::unique_ptr<KeptRun[]>> m_keptRunChunks;
    std::size_t m_keptRunCount = 0;
    std::size_t m_sumAt;
    // Scratch of the second pass, per label, in one record so that a run
    // reads one place: the centroid and the two lanes of distances of a
    // closed patch, and the label after the pass of an open one.
    struct PassLabel {
        double centreColumn;
        double centreRow;
        double distances[2];
        std::int32_t newLabel;
    };
    std::vector<PassLabel> m_pass;

    std::int32_t m_rows = 0;
    HabitatSums m_sums;
};

// The metrics of a whole map held in memory, row-major, nonzero is habitat.
LandscapeMetrics landscapeMetrics(const std::uint8_t *cells, int rows, int columns, int neighbours,
                                  double cellSize);
