// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapwriter.h"

#include "core/batch/classcut.h"

#include <algorithm>
#include <limits>

namespace {

// A map of at most this many cells is handed to the table's own thread
// whole; those waiting hold 32 MiB at most (tablemeasurer.h).
constexpr qint64 wholeMapBytes = qint64(4) << 20;

} // namespace

MapWriter::MapWriter(const BatchOutput &output, bool inMemory)
    : m_output(output)
    , m_inMemory(inMemory)
    , m_text(output.matrixValue, output.coverValue,
             output.format == MapFormat::GeoTiff ? MapFormat::Plain : output.format)
{
    if (output.cutsClasses()) {
        m_codes = output.classCodes();
        m_outside = output.outsideValue();
        m_measuredOutside = output.measuredOutside();
        m_text.setClassCodes(m_codes, m_outside);
        if (output.format == MapFormat::AsciiGrid)
            m_text.setGridHeader(output.georeference, m_outside);
        if (output.format == MapFormat::GeoTiff && !inMemory)
            m_tiff = std::make_unique<GeoTiffMapWriter>(m_codes, m_outside);
        return;
    }
    if (output.format == MapFormat::AsciiGrid)
        m_text.setGridHeader(output.georeference, output.asciiGridNoData());
    if (output.format == MapFormat::GeoTiff && !inMemory)
        m_tiff = std::make_unique<GeoTiffMapWriter>(output.matrixValue, output.coverValue,
                                                    output.noData);
}

FileResult MapWriter::open(const QString &path, int rowCount, int columnCount)
{
    m_row.resize(std::size_t(columnCount));
    const bool classes = !m_codes.empty();
    m_columns = columnCount;
    m_classCells.fill(0);
    m_habitat.clear();
    m_measuresWhole = !m_output.metricTable.isEmpty() && !classes &&
                      qint64(rowCount) * columnCount <= wholeMapBytes;
    // The table's measurer labels the map's patches anyway: the manifest's
    // metrics come from it when they are the same bits, which spares the
    // batch a second labelling on the thread that writes the maps.
    m_habitatFromTable = m_measuresWhole && m_output.metrics &&
                         m_output.matrixValue != m_output.coverValue &&
                         LandscapeMetricsAccumulator::sumsInOnePass(rowCount, columnCount);
    m_measuresHabitat = m_output.metrics && !classes && !m_habitatFromTable;
    if (m_measuresHabitat && columnCount != m_metricsColumns) {
        m_metrics = std::make_unique<LandscapeMetricsAccumulator>(columnCount, m_output.neighbours,
                                                                  m_output.georeference.cellSize);
        m_metricsColumns = columnCount;
    }
    if (!m_output.metricTable.isEmpty()) {
        // A map of classes is measured from its codes as it is written, its
        // outside left out of the landscape.
        const MetricOptions options{m_output.neighbours, m_output.georeference.cellSize,
                                    classes ? std::optional<qint32>(m_measuredOutside)
                                            : std::nullopt};
        if (m_measuresWhole && !m_table) {
            m_table = std::make_unique<TableMeasurer>(options, m_output.metricTable,
                                                      m_output.matrixValue, m_output.coverValue);
        } else if (!m_measuresWhole && columnCount != m_measuredColumns) {
            m_measurer =
                std::make_unique<LandscapeMeasurer>(columnCount, options, m_output.metricTable);
            m_measuredColumns = columnCount;
        }
        if (m_measuresWhole)
            m_habitat.reserve(std::size_t(rowCount) * std::size_t(columnCount));
    }
    if (m_inMemory) {
        m_cells.clear();
        m_cells.reserve(std::size_t(rowCount) * std::size_t(columnCount));
        m_memoryCells = 0;
        m_memoryHabitat = 0;
        return std::nullopt;
    }
    if (m_tiff)
        return m_tiff->open(path, rowCount, columnCount, m_output.georeference);
    return m_text.open(path, rowCount, columnCount);
}

void MapWriter::putCells(const std::uint8_t *row, int columnCount)
{
    if (m_inMemory) {
        // Written through a pointer rather than appended cell by cell, so
        // that the loop becomes vector code.
        const std::size_t at = m_cells.size();
        m_cells.resize(at + std::size_t(columnCount));
        qint32 *const out = m_cells.data() + at;
        const qint32 cover = m_output.coverValue;
        const qint32 matrix = m_output.matrixValue;
        qint64 habitat = 0;
        for (int column = 0; column < columnCount; ++column) {
            out[column] = row[column] ? cover : matrix;
            habitat += row[column] != 0;
        }
        m_memoryCells += columnCount;
        m_memoryHabitat += habitat;
    } else if (m_tiff) {
        m_tiff->putRow([row](int column) { return row[column] != 0; });
    } else {
        m_text.putCells(row, columnCount);
    }
    if (m_measuresHabitat)
        m_metrics->addRow(row);
    if (m_measuresWhole)
        m_habitat.insert(m_habitat.end(), row, row + columnCount);
    else if (m_measurer)
        m_measurer->addRow(row, m_output.matrixValue, m_output.coverValue);
}

void MapWriter::putClasses(const std::uint8_t *classes, int columnCount)
{
    for (int column = 0; column < columnCount; ++column)
        ++m_classCells[classes[column]];
    if (m_inMemory) {
        const std::size_t at = m_cells.size();
        m_cells.resize(at + std::size_t(columnCount));
        qint32 *const out = m_cells.data() + at;
        for (int column = 0; column < columnCount; ++column) {
            const std::uint8_t index = classes[column];
            out[column] = index == outsideClass ? m_measuredOutside : m_codes[index];
        }
        m_memoryCells += columnCount;
    } else if (m_tiff) {
        m_tiff->putClasses(classes);
    } else {
        m_text.putClasses(classes, columnCount);
    }
    if (m_measurer) {
        m_codeRow.resize(std::size_t(columnCount));
        for (int column = 0; column < columnCount; ++column) {
            const std::uint8_t index = classes[column];
            m_codeRow[std::size_t(column)] =
                index == outsideClass ? m_measuredOutside : m_codes[index];
        }
        m_measurer->addRow(m_codeRow);
    }
}

std::vector<qint64> MapWriter::classCellCounts() const
{
    return std::vector<qint64>(m_classCells.begin(),
                               m_classCells.begin() + std::ptrdiff_t(m_codes.size()));
}

qint64 MapWriter::cellCount() const
{
    if (m_inMemory)
        return m_memoryCells;
    return m_tiff ? m_tiff->cellCount() : m_text.cellCount();
}

qint64 MapWriter::habitatCellCount() const
{
    if (m_inMemory)
        return m_memoryHabitat;
    return m_tiff ? m_tiff->habitatCellCount() : m_text.habitatCellCount();
}

FileResult MapWriter::finish(FinishedMap &map)
{
    // The accumulator is emptied for the next map whatever happens to this
    // one.
    map.record.metrics.reset();
    if (m_measuresHabitat)
        map.record.metrics = m_metrics->finish();
    map.record.measures = {};
    if (m_measuresWhole) {
        map.record.measures = m_table->measure(std::move(m_habitat), m_columns, m_habitatFromTable);
        m_habitat = {};
    } else if (m_measurer) {
        std::promise<MeasuredMap> measured;
        measured.set_value({m_measurer->finish(), std::nullopt});
        map.record.measures = measured.get_future().share();
    }
    map.files.clear();
    if (m_inMemory) {
        map.cells = std::move(m_cells);
        m_cells = {};
        return std::nullopt;
    }
    map.files.emplace_back();
    return m_tiff ? m_tiff->finish(map.files.back()) : m_text.finish(map.files.back());
}

void MapWriter::discard()
{
    if (m_measuresHabitat)
        m_metrics->finish();
    if (m_measurer && !m_measuresWhole)
        m_measurer->finish();
    m_habitat.clear();
    if (m_tiff)
        m_tiff->discard();
    m_text.discard();
    m_cells.clear();
}
