// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/metricnames.h"
#include "core/metrics/nearestneighbour.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

// The counts a measurer gathers and the metrics made of them, apart from
// how they are gathered, so that the definitions read in one place.

// Sides between cells of two different classes, each pair once. A dense
// table while the classes are few, as they are on almost every map; a map
// of thousands of codes switches to a hash table rather than a table of
// millions of zeros.
class PairCounts final {
public:
    // Inline: a random map adds a pair for every other side.
    void add(std::int32_t a, std::int32_t b, qint64 sides)
    {
        if (a > b)
            std::swap(a, b);
        if (!m_sparse && b < denseClasses && !m_dense.empty()) {
            m_classes = std::max(m_classes, b + 1);
            m_dense[std::size_t(a * denseClasses + b)] += sides;
            return;
        }
        addRarely(a, b, sides);
    }
    void clear();
    // Every pair with sides, a < b, in the order of (a, b).
    std::vector<std::pair<std::pair<std::int32_t, std::int32_t>, qint64>> pairs() const;

private:
    void addRarely(std::int32_t a, std::int32_t b, qint64 sides);

    static constexpr std::int32_t denseClasses = 256;
    std::vector<qint64> m_dense;
    std::int32_t m_classes = 0;
    bool m_sparse = false;
    std::unordered_map<quint64, qint64> m_map;
};

// Per class, in the order classes were met. A cell's four sides each face
// a cell of its class (like), of another class (unlike), a NoData cell or
// the map's border, so 4 cells = 2 like + unlike + noData + border.
struct LandscapeCounts {
    std::vector<qint64> cells;
    // Sides between two cells of the class, each once.
    std::vector<qint64> like;
    std::vector<qint64> unlike;
    std::vector<qint64> noData;
    std::vector<qint64> border;
    PairCounts pairs;

    void addClass();
    void clear();
    // `sides` sides between a cell of class a and one of class b, either of
    // which may be -1 for NoData; a and b differ.
    void addSides(std::int32_t a, std::int32_t b, qint64 sides)
    {
        if (a >= 0 && b >= 0) {
            unlike[std::size_t(a)] += sides;
            unlike[std::size_t(b)] += sides;
            pairs.add(a, b, sides);
        } else if (a >= 0) {
            noData[std::size_t(a)] += sides;
        } else if (b >= 0) {
            noData[std::size_t(b)] += sides;
        }
    }
    // `sides` sides of class cls (or NoData, -1) on the map's border.
    void addBorder(std::int32_t cls, qint64 sides)
    {
        if (cls >= 0)
            border[std::size_t(cls)] += sides;
    }
};

struct Patch {
    std::int32_t cls = 0;
    qint64 cells = 0;
    // Sides of its cells that face anything but the patch, the border and
    // NoData included.
    qint64 perimeter = 0;
    // The mean of its cells' centres, in columns and rows.
    double centreColumn = 0;
    double centreRow = 0;
    // The sum of its cells' distances from that centroid, in cells, as
    // centroiddistances.h adds them up, and their mean in map units.
    double centroidDistances = 0;
    double gyration = std::numeric_limits<double>::quiet_NaN();
    // See NearestNeighbours; -1 for none.
    std::int64_t nearestSquare = -1;
};

// Every patch's gyration, from its runs (whose `patch` is the index into
// `patches`).
void addGyration(std::span<const PatchRun> runs, std::vector<Patch> &patches, double cellSize);

// The selected metrics, in the reference tool's order.
std::vector<MetricRow> metricRows(std::span<const qint32> classCodes, const LandscapeCounts &counts,
                                  std::span<const Patch> patches, double cellSize,
                                  const MetricSelection &selection);
