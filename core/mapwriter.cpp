#include "core/mapwriter.h"

MapWriter::MapWriter(const BatchOutput &output)
    : m_text(output.matrixValue, output.coverValue, output.format)
{}

FileResult MapWriter::open(const QString &path, int rowCount, int columnCount)
{
    return m_text.open(path, rowCount, columnCount);
}
