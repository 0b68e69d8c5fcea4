// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/maprecord.h"
#include "core/batch/phrase.h"
#include "core/metrics/landscapemetrics.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// Keeping only maps whose metrics fall inside chosen bounds. A family draws
// its maps in its usual order; each is measured in memory before any file is
// opened, and only a map that meets every target goes on to be written.
// Because the kept maps are the first that pass in draw order, the same
// request keeps the same maps.

enum class TargetMetric { Np, Lpi, AreaMn, AreaAm, Ed, GyrateAm };

// Inclusive bounds on one metric; either side may be open.
struct MetricTarget {
    TargetMetric metric = TargetMetric::Np;
    std::optional<double> min;
    std::optional<double> max;

    bool operator==(const MetricTarget &) const = default;
};

// The metric's word, as the manifest's column names it (np, lpi, ...).
const char *metricWord(TargetMetric metric);
double metricValue(const LandscapeMetrics &metrics, TargetMetric metric);
// A metric that is undefined for a map (a mean over no patches) meets no
// bound on it.
bool meetsTargets(const LandscapeMetrics &metrics, const std::vector<MetricTarget> &targets);

// METRIC=MIN:MAX, several separated by commas; why not, when the text is no
// such list. A metric named twice is refused.
std::optional<QString> parseTargets(QStringView text, std::vector<MetricTarget> &targets);
QString targetsText(const std::vector<MetricTarget> &targets);

// Measures a map row by row in memory and says whether it meets the targets.
class MapSelector final {
public:
    MapSelector(const std::vector<MetricTarget> &targets, int columns, int neighbours,
                double cellSize);

    // fillRow(row, cells) sets cells[0..columns) to 1 for habitat, 0 for
    // matrix.
    template <typename FillRow> bool accepts(int rows, FillRow fillRow)
    {
        for (int row = 0; row < rows; ++row) {
            fillRow(row, m_row.data());
            m_accumulator.addRow(m_row.data());
        }
        m_last = m_accumulator.finish();
        return meetsTargets(m_last, m_targets);
    }
    const LandscapeMetrics &lastMetrics() const { return m_last; }

private:
    std::vector<MetricTarget> m_targets;
    LandscapeMetricsAccumulator m_accumulator;
    std::vector<std::uint8_t> m_row;
    LandscapeMetrics m_last;
};

// How each cell of a batch (a cover, or an H and a cover) fared: maps kept
// and draws tried. The summary and the manifest are told from it.
class SelectionLedger final {
public:
    struct Cell {
        QString name;
        int kept = 0;
        qint64 draws = 0;
    };
    // key orders the cells as the batch visits them.
    Cell &cell(std::pair<int, int> key, const QString &name);
    // Counts a draw of the cell; the draws of every cell so far.
    qint64 drew(Cell &cell)
    {
        ++cell.draws;
        return ++m_draws;
    }

    // Gives every record the draws and the acceptance of its cell; the key
    // of a record is the one its cell was counted under.
    template <typename KeyOf> void settle(QList<MapRecord> &records, KeyOf keyOf) const
    {
        for (MapRecord &record : records)
            if (const auto found = m_cells.find(keyOf(record)); found != m_cells.end()) {
                record.cellDraws = found->second.draws;
                record.cellKept = found->second.kept;
            }
    }
    // One line a cell that got its maps: kept, draws, acceptance.
    QStringList acceptance(int replicates) const;
    // One line a cell that fell short of its maps.
    QList<Phrase> shortfalls(int replicates, qint64 maxDraws) const;

private:
    std::map<std::pair<int, int>, Cell> m_cells;
    qint64 m_draws = 0;
};
