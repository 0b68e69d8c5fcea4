// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/mapfilewriter.h"

#include "core/files/writefully.h"

#include <QDir>

#include <algorithm>
#include <charconv>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

MapFileWriter::MapFileWriter(qint32 matrixValue, qint32 coverValue, Format format)
    : m_matrix(MapFileWriter::format(matrixValue))
    , m_cover(MapFileWriter::format(coverValue))
    , m_format(format)
    , m_buffer(new char[bufferSize + slack])
{}

MapFileWriter::~MapFileWriter() = default;

void MapFileWriter::setClassCodes(std::span<const qint32> codes, qint64 outside)
{
    m_classes.assign(256, format(qint32(outside)));
    for (std::size_t i = 0; i < codes.size() && i < outsideClass; ++i)
        m_classes[i] = format(codes[i]);
}

void MapFileWriter::putClasses(const std::uint8_t *classes, int columnCount)
{
    Q_ASSERT(!m_classes.empty());
    qsizetype used = m_used;
    for (int column = 0; column < columnCount; ++column) {
        if (used > bufferSize) [[unlikely]] {
            m_used = used;
            flushBuffer();
            used = m_used;
        }
        const Code &code = m_classes[classes[column]];
        std::memcpy(m_buffer.get() + used, code.text, sizeof code.text);
        used += code.length;
        ++m_classCells[classes[column]];
    }
    m_used = used;
    m_cells += columnCount;
    endRow();
}

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

void MapFileWriter::putCells(const std::uint8_t *cells, int columnCount)
{
#if defined(__SSE2__)
    if (m_cover.length == 2 && m_matrix.length == 2) {
        // Each byte doubled, then each pair made the habitat's or the
        // matrix's two characters by a mask.
        const __m128i cover =
            _mm_set1_epi16(short(std::uint8_t(m_cover.text[0]) | std::uint8_t(' ') << 8));
        const __m128i matrix =
            _mm_set1_epi16(short(std::uint8_t(m_matrix.text[0]) | std::uint8_t(' ') << 8));
        const __m128i zero = _mm_setzero_si128();
        const __m128i one = _mm_set1_epi8(1);
        qint64 habitatCells = 0;
        int column = 0;
        while (column < columnCount) {
            // Sixteen bytes at a time past the cells written stay inside
            // the slack.
            if (bufferSize - m_used < 64)
                flushBuffer();
            const int chunk =
                int(std::min<qint64>(columnCount - column, (bufferSize - m_used) / 2));
            char *out = m_buffer.get() + m_used;
            int done = 0;
            // Twice the matrix cells, summed in two halves.
            __m128i matrixBytes = zero;
            for (; done + 8 <= chunk; done += 8) {
                const __m128i eight =
                    _mm_loadl_epi64(reinterpret_cast<const __m128i *>(cells + column + done));
                const __m128i matrixCells = _mm_cmpeq_epi8(_mm_unpacklo_epi8(eight, eight), zero);
                const __m128i text = _mm_or_si128(_mm_and_si128(matrixCells, matrix),
                                                  _mm_andnot_si128(matrixCells, cover));
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * done), text);
                matrixBytes =
                    _mm_add_epi64(matrixBytes, _mm_sad_epu8(_mm_and_si128(matrixCells, one), zero));
            }
            const qint64 matrixTwice =
                _mm_cvtsi128_si64(matrixBytes) +
                _mm_cvtsi128_si64(_mm_unpackhi_epi64(matrixBytes, matrixBytes));
            habitatCells += done - matrixTwice / 2;
            for (; done < chunk; ++done) {
                const bool habitat = cells[column + done] != 0;
                std::memcpy(out + 2 * done, (habitat ? m_cover : m_matrix).text, 2);
                habitatCells += habitat;
            }
            m_used += 2 * qsizetype(chunk);
            column += chunk;
        }
        m_habitatCells += habitatCells;
        m_cells += columnCount;
        endRow();
        return;
    }
#endif
    putRow(columnCount, [cells](int column) { return cells[column] != 0; });
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
    m_classCells.fill(0);
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
