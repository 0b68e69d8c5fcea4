// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/mapfilewriter.h"

#include "core/writefully.h"

#include <QDir>

#include <charconv>

MapFileWriter::MapFileWriter(qint32 matrixValue, qint32 coverValue, Format format)
    : m_matrix(MapFileWriter::format(matrixValue))
    , m_cover(MapFileWriter::format(coverValue))
    , m_format(format)
    , m_buffer(new char[bufferSize + slack])
{}

MapFileWriter::~MapFileWriter() = default;

void MapFileWriter::setGridHeader(const Georeference &georeference, std::optional<qint64> noData)
{
    m_georeference = georeference;
    m_noData = noData;
}

QByteArray MapFileWriter::shortest(double value)
{
    // The shortest text that reads back as the same number, in the C locale.
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    return QByteArray(text, int(result.ptr - text));
}

MapFileWriter::Code MapFileWriter::format(qint32 value)
{
    Code code;
    const auto result = std::to_chars(code.text, code.text + sizeof code.text - 1, value);
    *result.ptr = ' ';
    code.length = int(result.ptr - code.text) + 1;
    return code;
}

FileResult MapFileWriter::open(const QString &path, int rowCount, int columnCount)
{
    m_path = path;
    m_used = 0;
    m_cells = 0;
    m_habitatCells = 0;
    m_failed = false;
    m_failure.clear();
    m_file.discard();
    if (m_format == Format::AsciiGrid && (rowCount < 0 || columnCount < 0))
        return FileError{QDir::toNativeSeparators(path),
                         QStringLiteral("the extent of the grid is unknown")};
    if (FileResult error = m_file.create(path))
        return error;
    if (m_format == Format::AsciiGrid) {
        // Unless told otherwise the maps have no place on Earth: unit cells
        // with the lower left corner at the origin keep a cell's coordinates
        // equal to its column and its row counted from the bottom.
        QByteArray header = QByteArrayLiteral("ncols ") + QByteArray::number(columnCount) +
                            QByteArrayLiteral("\nnrows ") + QByteArray::number(rowCount) +
                            QByteArrayLiteral("\nxllcorner ") + shortest(m_georeference.originX) +
                            QByteArrayLiteral("\nyllcorner ") + shortest(m_georeference.originY) +
                            QByteArrayLiteral("\ncellsize ") + shortest(m_georeference.cellSize) +
                            '\n';
        if (m_noData)
            header += QByteArrayLiteral("NODATA_value ") + QByteArray::number(*m_noData) + '\n';
        std::memcpy(m_buffer.get(), header.constData(), std::size_t(header.size()));
        m_used = header.size();
    }
    return std::nullopt;
}

void MapFileWriter::flushBuffer()
{
    if (!m_failed && m_file.isPending() && m_used > 0) {
        if (FileResult error = m_file.write(m_buffer.get(), m_used)) {
            m_failed = true;
            m_failure = error->reason;
        }
    }
    m_used = 0;
}

FileResult MapFileWriter::finish(PendingFile &file)
{
    if (!m_file.isPending())
        return FileError{QDir::toNativeSeparators(m_path), QStringLiteral("file not open")};
    flushBuffer();
    FileResult error;
    if (m_failed)
        error = FileError{QDir::toNativeSeparators(m_path), m_failure};
    else
        error = m_file.close();
    if (error) {
        m_file.discard();
        return error;
    }
    file = std::move(m_file);
    return std::nullopt;
}

FileResult MapFileWriter::commit()
{
    return publishAlone(*this);
}

void MapFileWriter::discard()
{
    m_file.discard();
    m_used = 0;
}
