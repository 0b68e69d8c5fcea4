// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/maprecord.h"
#include "core/batch/phrase.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"
#include "core/metrics/metricnames.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

// Keeping only maps whose metrics fall inside chosen bounds. A family draws
// its maps in its usual order; each is measured in memory before any file is
// opened, and only a map that meets every target goes on to be written.
// Because the kept maps are the first that pass in draw order, the same
// request keeps the same maps.

// The six metrics of the manifest's --metrics columns, of the habitat
// class, which the batch has measured since before it measured anything
// else: read by their bare names, targets on them keep their meaning (areas
// in map units squared) and their faster measurer.
enum class TargetMetric { Np, Lpi, AreaMn, AreaAm, Ed, GyrateAm };

// Inclusive bounds on one metric; either side may be open. The metric is
// any of metricnames.h, at class or landscape level.
struct MetricTarget {
    std::variant<ClassMetric, LandscapeMetric> metric = ClassMetric::Np;
    // The class a class-level metric reads: none is the habitat class,
    // whatever code the maps give it.
    std::optional<qint32> classCode;
    std::optional<double> min;
    std::optional<double> max;

    bool operator==(const MetricTarget &) const = default;
};

// The metric's word, as the manifest's column names it (np, lpi, ...).
const char *metricWord(TargetMetric metric);
double metricValue(const LandscapeMetrics &metrics, TargetMetric metric);
// The manifest's metric a target reads, when it is one of them.
std::optional<TargetMetric> legacyMetric(const MetricTarget &target);

// [LEVEL:]METRIC, as targets and scan name a metric: a bare class metric
// is of the habitat class, a bare name only the landscape level has is of
// the landscape; "landscape:" or a class code ("0:") says which. Why not,
// when the text names no metric there.
std::optional<QString> parseMetricKey(QStringView text, MetricTarget &target);
// The shortest text parseMetricKey() reads back as the same metric.
QString metricKey(const MetricTarget &target);

// The value a target reads of one map: a metric of the manifest from
// `habitat`, any other from the reference tool's rows, where coverCode is
// the habitat class. NaN where the map has none: a metric the reference
// tool gives as NA, or a class the map lacks.
double targetValue(const MetricTarget &target, const LandscapeMetrics &habitat,
                   std::span<const MetricRow> rows, qint32 coverCode);
// A value that is undefined for a map meets no bound.
bool meetsTarget(const MetricTarget &target, double value);

// [LEVEL:]METRIC=MIN:MAX, several separated by commas; why not, when the
// text is no such list. A metric named twice at one level and class is
// refused.
std::optional<QString> parseTargets(QStringView text, std::vector<MetricTarget> &targets);
QString targetsText(const std::vector<MetricTarget> &targets);

// Measures a map row by row in memory and says whether it meets the targets.
// Targets on the manifest's metrics alone are measured by their own
// accumulator, which counts bits; any other metric by LandscapeMeasurer,
// asked only for the metrics the targets name.
class MapSelector final {
public:
    // coverCode and matrixCode are the codes the maps are written with,
    // which a target naming a class reads.
    MapSelector(const std::vector<MetricTarget> &targets, int columns, int neighbours,
                double cellSize, qint32 coverCode, qint32 matrixCode);
    ~MapSelector();
    MapSelector(const MapSelector &) = delete;
    MapSelector &operator=(const MapSelector &) = delete;

    // fillRow(row, cells) sets cells[0..columns) to 1 for habitat, 0 for
    // matrix.
    template <typename FillRow> bool accepts(int rows, FillRow fillRow)
    {
        for (int row = 0; row < rows; ++row) {
            fillRow(row, m_row.data());
            if (m_accumulator)
                m_accumulator->addRow(m_row.data());
            if (m_measurer)
                m_measurer->addRow(m_row.data(), m_matrixCode, m_coverCode);
        }
        return decide();
    }

    // Maps of classes: class i is codes[i], a cell of class outsideClass
    // (255) lies outside the landscape. Targets then read the reference
    // tool's metrics alone, a bare class metric of the last class; the
    // manifest's six by their bare names are refused for such maps (see
    // BatchOutput::classRefusal()).
    void measureClasses(std::vector<qint32> codes, qint32 outside);
    // fillClasses(row, classes) sets classes[0..columns) to class indices.
    template <typename FillClasses> bool acceptsClasses(int rows, FillClasses fillClasses)
    {
        for (int row = 0; row < rows; ++row) {
            fillClasses(row, m_row.data());
            for (std::size_t c = 0; c < m_row.size(); ++c)
                m_codeRow[c] = m_row[c] == 255 ? m_outside : m_codes[m_row[c]];
            m_measurer->addRow(m_codeRow);
        }
        return decide();
    }

private:
    bool decide();

    std::vector<MetricTarget> m_targets;
    qint32 m_coverCode;
    qint32 m_matrixCode;
    std::optional<LandscapeMetricsAccumulator> m_accumulator;
    std::unique_ptr<LandscapeMeasurer> m_measurer;
    std::vector<std::uint8_t> m_row;
    std::vector<qint32> m_codes;
    qint32 m_outside = 0;
    std::vector<qint32> m_codeRow;
    int m_neighbours;
    double m_cellSize;
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
