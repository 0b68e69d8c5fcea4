// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"
#include "core/batch/mappublisher.h"
#include "core/batch/tablemeasurer.h"
#include "core/files/fileerror.h"
#include "core/files/pendingfile.h"
#include "core/grid/geotiff.h"
#include "core/grid/mapfilewriter.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"

#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Writes the maps of a batch, one at a time, in the batch's format, with the
// batch's codes, and measures them when the batch asks for metrics.
// Generators decide which cells are habitat; everything about how a map is
// stored, and what else is taken from its cells on the way, lives here, so
// that a new format or measure needs no change to them.
//
// When the map goes to a text file, each cell is decided while its row is
// formatted, which is the fastest way to write the default format; metrics
// get the row settled on the way. A GeoTIFF or a map kept in memory first
// settles a row's cells and then hands the row to every consumer.
class MapWriter final {
public:
    // In memory, no file is written: the codes are kept, row by row, and
    // handed over with the map.
    explicit MapWriter(const BatchOutput &output, bool inMemory = false);
    MapWriter(const MapWriter &) = delete;
    MapWriter &operator=(const MapWriter &) = delete;

    FileResult open(const QString &path, int rowCount, int columnCount);

    // The next row, top first: isHabitat(column) for every column in order.
    template <typename IsHabitat> void putRow(int columnCount, IsHabitat isHabitat)
    {
        // The row is settled first, then written and measured from its
        // bytes: the text is made many cells at a time, which a code per
        // call of isHabitat cannot be.
        std::uint8_t *const row = m_row.data();
        for (int column = 0; column < columnCount; ++column)
            row[column] = isHabitat(column) ? 1 : 0;
        putCells(row, columnCount);
    }
    // A row already settled into bytes, nonzero for habitat.
    void putCells(const std::uint8_t *row, int columnCount);
    // For a batch cut into classes (BatchOutput::cutsClasses()): a row of
    // class indices, outsideClass for a cell outside the study area.
    void putClasses(const std::uint8_t *classes, int columnCount);
    // The cells of each class put since open(), for a batch of classes.
    std::vector<qint64> classCellCounts() const;

    qint64 cellCount() const;
    qint64 habitatCellCount() const;

    // Completes the map and hands it over: under its temporary name, or in
    // memory, with its metrics when the batch measures its maps.
    FileResult finish(FinishedMap &map);
    void discard();

private:
    const BatchOutput m_output;
    const bool m_inMemory;
    MapCells m_cells;
    qint64 m_memoryCells = 0;
    qint64 m_memoryHabitat = 0;
    MapFileWriter m_text;
    std::unique_ptr<GeoTiffMapWriter> m_tiff;
    std::unique_ptr<LandscapeMetricsAccumulator> m_metrics;
    int m_metricsColumns = -1;
    // Whether this map's manifest metrics are measured here, row by row, or
    // come with its rows of the long table.
    bool m_measuresHabitat = false;
    bool m_habitatFromTable = false;
    // The long table: small maps are measured whole on a thread of their
    // own; one too large to hold twice is measured row by row as it is
    // written, as the manifest's metrics are.
    std::unique_ptr<TableMeasurer> m_table;
    std::vector<std::uint8_t> m_habitat;
    bool m_measuresWhole = false;
    int m_columns = 0;
    std::unique_ptr<LandscapeMeasurer> m_measurer;
    int m_measuredColumns = -1;
    std::vector<std::uint8_t> m_row;
    // A batch of classes: their codes, the value outside, and the cells
    // of each class index (outsideClass included).
    std::vector<qint32> m_codes;
    qint64 m_outside = 0;
    qint32 m_measuredOutside = 0;
    std::vector<qint32> m_codeRow;
    std::array<qint64, 256> m_classCells{};
};
