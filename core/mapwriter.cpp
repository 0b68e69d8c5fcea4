#include "core/mapwriter.h"

MapWriter::MapWriter(const BatchOutput &output)
    : m_output(output)
    , m_textOnly(output.format != MapFormat::GeoTiff && !output.metrics)
    , m_text(output.matrixValue, output.coverValue,
             output.format == MapFormat::GeoTiff ? MapFormat::Plain : output.format)
{
    if (output.format == MapFormat::AsciiGrid)
        m_text.setGridHeader(output.georeference, output.asciiGridNoData());
    if (output.format == MapFormat::GeoTiff)
        m_tiff = std::make_unique<GeoTiffMapWriter>(output.matrixValue, output.coverValue,
                                                    output.noData);
}

FileResult MapWriter::open(const QString &path, int rowCount, int columnCount)
{
    if (!m_textOnly)
        m_row.resize(std::size_t(columnCount));
    if (m_output.metrics && columnCount != m_metricsColumns) {
        m_metrics = std::make_unique<LandscapeMetricsAccumulator>(columnCount, m_output.neighbours,
                                                                  m_output.georeference.cellSize);
        m_metricsColumns = columnCount;
    }
    if (m_tiff)
        return m_tiff->open(path, rowCount, columnCount, m_output.georeference);
    return m_text.open(path, rowCount, columnCount);
}

FileResult MapWriter::finish(PendingFile &file, std::optional<LandscapeMetrics> *metrics)
{
    // The accumulator is emptied for the next map whatever happens to this
    // one.
    std::optional<LandscapeMetrics> measured;
    if (m_metrics)
        measured = m_metrics->finish();
    if (metrics)
        *metrics = measured;
    return m_tiff ? m_tiff->finish(file) : m_text.finish(file);
}

void MapWriter::discard()
{
    if (m_metrics)
        m_metrics->finish();
    if (m_tiff)
        m_tiff->discard();
    m_text.discard();
}
