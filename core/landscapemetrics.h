#pragma once

#include <QtGlobal>

#include <cstdint>
#include <limits>
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

// Computes the metrics of a map while it is being generated, one row at a
// time from the top, so that maps too large to hold are measured in the same
// single pass that writes them.
//
// Each row is packed into bits and split into runs of habitat; runs touching
// runs of the row above are joined by union-find over patches, so the work is
// per run rather than per cell. A patch that no run of the current row
// continues is complete: its mean distance to its centroid is summed then, and
// its storage is reused.
//
// Memory: the packed row and the runs of two rows (24 bytes per run), one
// 40-byte record per patch open in those rows, and, because a patch's mean
// centroid distance can only be summed once its centroid is known, 16 bytes
// for each run of a patch that is still open. Small patches give their runs
// back as soon as they close; a patch that keeps growing down the map, such as
// the spanning patch of a random map above the percolation threshold, keeps
// its runs until it closes. A random 20000 x 20000 map at 50 % cover has about
// 10^8 runs, so that worst case holds up to 1.6 GB at the end; no per-cell
// label is ever stored.
class LandscapeMetricsAccumulator final {
public:
    // neighbours is 4 or 8; cellSize is the side of a cell in map units.
    LandscapeMetricsAccumulator(int columns, int neighbours, double cellSize);

    // One row of `columns` cells, top row first; nonzero is habitat.
    void addRow(const std::uint8_t *habitat);

    // The metrics of the rows added so far. The accumulator is then empty
    // again for the next map of the same width, and keeps its storage, so a
    // batch allocates once.
    LandscapeMetrics finish();

private:
    struct Patch {
        std::int32_t parent;
        // The last row that had a run of this patch.
        std::int32_t lastRow;
        std::int32_t firstRun;
        std::int32_t lastRun;
        qint64 area;
        qint64 columnSum;
        qint64 rowSum;
    };
    // A run kept for the centroid distances of its open patch.
    struct KeptRun {
        std::int32_t row;
        std::int32_t start;
        std::int32_t end;
        std::int32_t next;
    };
    // The runs of one row: inclusive column bounds and the patch of each.
    struct RowRuns {
        std::vector<std::int32_t> start;
        std::vector<std::int32_t> end;
        std::vector<std::int32_t> patch;
        int count = 0;
    };

    void packRow(const std::uint8_t *habitat);
    void countRow();
    void findRuns();
    void joinRuns();
    void closePatchesEndedBefore(std::int32_t row);
    void closePatch(std::int32_t id);
    std::int32_t find(std::int32_t id);
    std::int32_t unite(std::int32_t a, std::int32_t b);
    std::int32_t newPatch();
    void keepRun(std::int32_t id, std::int32_t start, std::int32_t end);

    int m_columns;
    int m_words;
    // How far a run may reach sideways to touch a run of the row above:
    // 1 when corners join, 0 when only sides do.
    int m_reach;
    double m_cellSize;

    std::vector<std::uint64_t> m_bits;
    std::vector<std::uint64_t> m_previousBits;
    RowRuns m_runs;
    RowRuns m_previousRuns;
    std::vector<Patch> m_patches;
    std::vector<std::int32_t> m_freePatches;
    std::vector<std::int32_t> m_mergedPatches;
    std::vector<KeptRun> m_keptRuns;
    std::int32_t m_freeKeptRun = -1;

    std::int32_t m_rows = 0;
    qint64 m_habitatCells = 0;
    qint64 m_edges = 0;
    qint64 m_patchCount = 0;
    qint64 m_largestArea = 0;
    double m_areaSquareSum = 0;
    double m_distanceSum = 0;
};

// The metrics of a whole map held in memory, row-major, nonzero is habitat.
LandscapeMetrics landscapeMetrics(const std::uint8_t *cells, int rows, int columns, int neighbours,
                                  double cellSize);
