// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/rasterinput.h"

#include "core/files/regularfile.h"
#include "core/grid/asciigridreader.h"
#include "core/grid/gdalbackend.h"
#include "core/grid/geotiff.h"
#include "core/grid/gridtext.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapfileinfo.h"
#include "core/grid/mapreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

using gridtext::isBlank;
using gridtext::lowered;
using gridtext::realNumber;

QString tr(const char *text)
{
    return QCoreApplication::translate("RasterInput", text);
}

// The longest stretch of a row handed over at once: 8 MiB of doubles.
constexpr qint64 pieceCells = qint64(1) << 20;

// Sides that differ by more than this, relative to the larger, make cells
// that are not square; below it they are the rounding of one size written
// twice.
constexpr double sameSize = 1e-9;

constexpr double noValue = std::numeric_limits<double>::quiet_NaN();

bool sameCellSize(double a, double b)
{
    return std::fabs(a - b) <= sameSize * std::max(std::fabs(a), std::fabs(b));
}

QString number(double value)
{
    return QString::number(value, 'g', 17);
}

QString notSquare(double width, double height)
{
    return tr("its cells are %1 wide and %2 high; a map's cells are square, and stretching them "
              "would move every cell")
        .arg(number(width), number(height));
}

// Hands the cells of a raster to RasterPieces in stretches of at most
// pieceCells, turning NoData into NaN on the way.
class PieceBuffer {
public:
    PieceBuffer(int columnCount, std::optional<double> noData, const RasterPieces &pieces)
        : m_columnCount(columnCount)
        , m_noData(noData)
        , m_pieces(pieces)
    {
        m_values.reserve(std::size_t(std::min<qint64>(columnCount, pieceCells)));
    }

    std::optional<QString> push(double value)
    {
        if (m_noData && value == *m_noData)
            value = noValue;
        m_values.push_back(value);
        if (m_firstColumn + qsizetype(m_values.size()) == m_columnCount ||
            qint64(m_values.size()) == pieceCells)
            return flush();
        return std::nullopt;
    }

private:
    std::optional<QString> flush()
    {
        const std::optional<QString> refusal = m_pieces(m_row, m_firstColumn, m_values);
        m_firstColumn += int(m_values.size());
        if (m_firstColumn == m_columnCount) {
            m_firstColumn = 0;
            ++m_row;
        }
        m_values.clear();
        return refusal;
    }

    int m_columnCount;
    std::optional<double> m_noData;
    const RasterPieces &m_pieces;
    std::vector<double> m_values;
    int m_row = 0;
    int m_firstColumn = 0;
};

// An ESRI ASCII grid read token by token. Unlike AsciiGridReader, which
// reads maps of whole codes for the viewer, it takes real cells and places
// the grid, since templates and surfaces are often elevations or
// distances.
class AsciiRaster {
public:
    AsciiRaster(qint64 fileSize, const RasterHeaderCheck &checkHeader, const RasterPieces &pieces)
        : m_fileSize(fileSize)
        , m_checkHeader(checkHeader)
        , m_pieces(pieces)
    {}

    std::optional<QString> token(const std::string &text);
    std::optional<QString> finish();

private:
    std::optional<QString> headerEntry(const std::string &value);
    std::optional<QString> startData();
    std::optional<QString> cell(const std::string &text);

    qint64 m_fileSize;
    const RasterHeaderCheck &m_checkHeader;
    const RasterPieces &m_pieces;
    std::unique_ptr<PieceBuffer> m_buffer;
    RasterHeader m_header;
    std::string m_key;
    bool m_inData = false;
    qint64 m_columns = -1;
    qint64 m_rows = -1;
    std::optional<double> m_cellSize;
    std::optional<double> m_dx;
    std::optional<double> m_dy;
    std::optional<double> m_x;
    std::optional<double> m_y;
    bool m_xCentre = false;
    bool m_yCentre = false;
    qint64 m_cells = 0;
};

bool isHeaderKey(const std::string &key)
{
    for (const char *known : {"ncols", "nrows", "xllcorner", "xllcenter", "yllcorner", "yllcenter",
                              "cellsize", "dx", "dy", "nodata_value"})
        if (key == known)
            return true;
    return false;
}

std::optional<QString> AsciiRaster::token(const std::string &text)
{
    if (m_inData)
        return cell(text);
    if (!m_key.empty())
        return headerEntry(text);
    const char first = text.front();
    if ((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z')) {
        // A first cell may be "nan" or "inf", which begin with a letter too.
        const std::string key = lowered(text);
        if (isHeaderKey(key)) {
            m_key = key;
            return std::nullopt;
        }
        if (!realNumber(text))
            return tr("unknown header entry '%1'").arg(QString::fromStdString(text));
    }
    if (const auto refusal = startData())
        return refusal;
    return cell(text);
}

std::optional<QString> AsciiRaster::headerEntry(const std::string &value)
{
    const std::string key = std::exchange(m_key, {});
    const QString shownKey = QString::fromStdString(key);
    const QString shownValue = QString::fromStdString(value);
    if (key == "ncols" || key == "nrows") {
        std::int64_t whole = 0;
        const char *end = value.data() + value.size();
        const auto [ptr, ec] = std::from_chars(value.data(), end, whole);
        if (ec != std::errc() || ptr != end || whole < 1 || whole > 0x7fffffff)
            return tr("%1 must be a positive whole number, not '%2'").arg(shownKey, shownValue);
        (key == "ncols" ? m_columns : m_rows) = whole;
        return std::nullopt;
    }
    const std::optional<double> real = realNumber(value);
    if (!real || (key != "nodata_value" && !std::isfinite(*real)))
        return tr("%1 must be a number, not '%2'").arg(shownKey, shownValue);
    if (key == "cellsize")
        m_cellSize = real;
    else if (key == "dx")
        m_dx = real;
    else if (key == "dy")
        m_dy = real;
    else if (key == "nodata_value")
        m_header.noData = real;
    else if (key[0] == 'x') {
        m_x = real;
        m_xCentre = key == "xllcenter";
    } else {
        m_y = real;
        m_yCentre = key == "yllcenter";
    }
    return std::nullopt;
}

std::optional<QString> AsciiRaster::startData()
{
    m_inData = true;
    if (m_columns < 0 || m_rows < 0)
        return tr("the header does not give both ncols and nrows");
    if (const auto refusal = declaredSizeRefusal(m_rows, m_columns))
        return refusal;
    // Every cell but the last takes a character and a separator at least,
    // so a short file cannot make anyone allocate for a grid it does not
    // hold.
    if (m_rows * m_columns > m_fileSize / 2 + 1)
        return tr("the header declares %1 x %2 cells, more than the file's %3 bytes can hold")
            .arg(m_rows)
            .arg(m_columns)
            .arg(m_fileSize);
    m_header.format = MapFormat::AsciiGrid;
    m_header.rowCount = int(m_rows);
    m_header.columnCount = int(m_columns);
    Georeference &place = m_header.georeference;
    double width = m_cellSize.value_or(1.0);
    double height = width;
    if (!m_cellSize && (m_dx || m_dy)) {
        if (!m_dx || !m_dy)
            return tr("the header gives %1 without %2")
                .arg(m_dx ? QStringLiteral("dx") : QStringLiteral("dy"),
                     m_dx ? QStringLiteral("dy") : QStringLiteral("dx"));
        width = *m_dx;
        height = *m_dy;
        if (!sameCellSize(width, height))
            m_header.placementRefusal = notSquare(width, height);
    }
    place.cellSize = width;
    place.originX = m_x.value_or(0.0) - (m_xCentre ? width / 2 : 0.0);
    place.originY = m_y.value_or(0.0) - (m_yCentre ? height / 2 : 0.0);
    if (const auto refusal = m_checkHeader(m_header))
        return refusal;
    m_buffer = std::make_unique<PieceBuffer>(m_header.columnCount, m_header.noData, m_pieces);
    return std::nullopt;
}

std::optional<QString> AsciiRaster::cell(const std::string &text)
{
    if (m_cells == m_columns * m_rows)
        return tr("more values than the header's %1 x %2").arg(m_rows).arg(m_columns);
    const std::optional<double> value = realNumber(text);
    if (!value)
        return tr("row %1, column %2 holds '%3', which is not a number")
            .arg(m_cells / m_columns + 1)
            .arg(m_cells % m_columns + 1)
            .arg(QString::fromStdString(text));
    ++m_cells;
    return m_buffer->push(*value);
}

std::optional<QString> AsciiRaster::finish()
{
    if (!m_key.empty())
        return tr("the header entry '%1' has no value").arg(QString::fromStdString(m_key));
    if (!m_inData) {
        if (const auto refusal = startData())
            return refusal;
    }
    if (m_cells < m_columns * m_rows)
        return tr("the grid ends after %1 of its %2 values").arg(m_cells).arg(m_columns * m_rows);
    return std::nullopt;
}

std::optional<QString> readAscii(QFile &file, const RasterHeaderCheck &checkHeader,
                                 const RasterPieces &pieces)
{
    AsciiRaster parser(file.size(), checkHeader, pieces);
    constexpr qint64 blockSize = qint64(1) << 20;
    auto block = std::make_unique<char[]>(blockSize);
    // Long enough for any number; a longer token is none.
    constexpr std::size_t longestToken = 64;
    std::string token;
    for (;;) {
        const qint64 got = file.read(block.get(), blockSize);
        if (got < 0)
            return file.errorString();
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i) {
            const char c = block[std::size_t(i)];
            if (!isBlank(c)) {
                if (token.size() == longestToken)
                    return tr("a value of more than %1 characters").arg(longestToken);
                token.push_back(c);
                continue;
            }
            if (token.empty())
                continue;
            if (const auto refusal = parser.token(token))
                return refusal;
            token.clear();
        }
    }
    if (!token.empty()) {
        if (const auto refusal = parser.token(token))
            return refusal;
    }
    return parser.finish();
}

// Where a GeoTIFF lies, as a Georeference, or why it cannot be one.
void placeByTransform(const RasterLayout &layout, RasterHeader &header)
{
    if (!layout.transform) {
        if (layout.controlPoints)
            header.placementRefusal = tr("it is placed by ground control points, not by a grid "
                                         "of square cells");
        return;
    }
    const auto &[left, width, rowShear, top, columnShear, step] = *layout.transform;
    if (std::fabs(rowShear) > sameSize * std::fabs(width) ||
        std::fabs(columnShear) > sameSize * std::fabs(step)) {
        header.placementRefusal = tr("its grid is rotated (the geotransform's terms %1 and %2 "
                                     "are not 0); a map's rows run from west to east")
                                      .arg(number(rowShear), number(columnShear));
        return;
    }
    if (width <= 0.0 || step >= 0.0) {
        header.placementRefusal = tr("its grid is flipped (the geotransform steps %1 along a row "
                                     "and %2 down a column); a map's first row is its northern "
                                     "one, and its columns run from west to east")
                                      .arg(number(width), number(step));
        return;
    }
    if (!sameCellSize(width, -step))
        header.placementRefusal = notSquare(width, -step);
    header.georeference.cellSize = width;
    header.georeference.originX = left;
    header.georeference.originY = top + double(layout.rowCount) * step;
    header.georeference.crs = layout.crs;
}

std::optional<QString> readTiff(const QString &path, const RasterHeaderCheck &checkHeader,
                                const RasterPieces &pieces)
{
    QString failure;
    GdalBackend *gdal = gdalBackend(failure);
    if (!gdal)
        return failure;
    RasterLayout layout;
    GdalBackend::Raster *raster = gdal->openRaster(path, layout, failure);
    if (!raster)
        return failure;
    const auto closeRaster = qScopeGuard([gdal, raster] {
        QString ignored;
        gdal->close(raster, ignored);
    });
    if (const auto refusal = declaredSizeRefusal(layout.rowCount, layout.columnCount))
        return refusal;
    RasterHeader header;
    header.format = MapFormat::GeoTiff;
    header.rowCount = layout.rowCount;
    header.columnCount = layout.columnCount;
    header.floatingType = layout.floatingType;
    header.typeName = layout.typeName;
    header.noData = layout.noData;
    placeByTransform(layout, header);
    if (const auto refusal = checkHeader(header))
        return refusal;

    // Whole blocks of rows where they fit a piece, so that GDAL decodes a
    // tile once; a row longer than a piece in pieces of it.
    const int columns = header.columnCount;
    const int width = int(std::min<qint64>(columns, pieceCells));
    const int chunkRows = int(std::clamp<qint64>(layout.blockRows, 1, pieceCells / width));
    std::vector<double> values;
    try {
        values.resize(std::size_t(chunkRows) * std::size_t(width));
    } catch (const std::bad_alloc &) {
        return tr("not enough memory to read it");
    }
    for (int first = 0; first < header.rowCount; first += chunkRows) {
        const int rows = std::min(chunkRows, header.rowCount - first);
        for (int column = 0; column < columns; column += width) {
            const int span = std::min(width, columns - column);
            if (!gdal->readValues(raster, first, rows, column, span, values.data(), failure))
                return failure;
            for (int row = 0; row < rows; ++row) {
                double *cells = values.data() + std::size_t(row) * std::size_t(span);
                if (header.noData)
                    std::replace(cells, cells + span, *header.noData, noValue);
                if (const auto refusal =
                        pieces(first + row, column, std::span<const double>(cells, span)))
                    return refusal;
            }
        }
    }
    return std::nullopt;
}

// A plain map as any tool writes it: whole numbers separated by blanks, a
// row a line, with or without a blank after a row's last number. (The
// window's reader keeps the classic rule, which drops a last number no
// blank follows; a template read so would lose its last column unseen.)
// Two reads: the first finds the sides, so that the header is checked
// before anything is held; the second hands the rows over.
std::optional<QString> readPlain(QFile &file, const RasterHeaderCheck &checkHeader,
                                 const RasterPieces &pieces)
{
    qint64 rows = 0;
    qint64 columns = -1;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().simplified();
        if (line.isEmpty())
            continue;
        const qint64 count = line.count(' ') + 1;
        if (columns < 0)
            columns = count;
        else if (count != columns)
            return tr("row %1 has %2 cells and row 1 has %3; a raster's rows are all alike")
                .arg(rows + 1)
                .arg(count)
                .arg(columns);
        ++rows;
    }
    if (rows == 0)
        return tr("it holds no cells");
    if (const auto refusal = declaredSizeRefusal(rows, columns))
        return refusal;
    RasterHeader header;
    header.format = MapFormat::Plain;
    header.rowCount = int(rows);
    header.columnCount = int(columns);
    if (const auto refusal = checkHeader(header))
        return refusal;
    if (!file.seek(0))
        return file.errorString();
    PieceBuffer buffer(header.columnCount, std::nullopt, pieces);
    qint64 row = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().simplified();
        if (line.isEmpty())
            continue;
        ++row;
        qint64 column = 0;
        for (const QByteArray &token : line.split(' ')) {
            ++column;
            bool whole = false;
            const qint64 code = token.toLongLong(&whole);
            if (!whole || code < std::numeric_limits<qint32>::min() ||
                code > std::numeric_limits<qint32>::max())
                return tr("row %1, cell %2 holds \"%3\", and a plain map's cells are whole "
                          "numbers of 32 bits")
                    .arg(row)
                    .arg(column)
                    .arg(QString::fromLatin1(token.left(40)));
            if (const auto refusal = buffer.push(double(code)))
                return refusal;
        }
    }
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return std::nullopt;
}

} // namespace

FileResult readRaster(const QString &path, const RasterHeaderCheck &checkHeader,
                      const RasterPieces &pieces, RasterSummary *summary)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (summary)
        *summary = {};
    RasterSummary found;
    const RasterPieces watched = [&found, &pieces](int row, int firstColumn,
                                                   std::span<const double> values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double value = values[i];
            if (!found.firstFraction && !std::isnan(value) && std::nearbyint(value) != value)
                found.firstFraction = CellPlace{row + 1, firstColumn + qint64(i) + 1};
        }
        return pieces(row, firstColumn, values);
    };
    std::optional<QString> refusal;
    {
        // One open for the look at the first bytes and the read, so that
        // what is read is the file that was looked at; GDAL then opens a
        // GeoTIFF by its name, which the check found to be a regular file.
        QFile file;
        if (FileResult error = openRegularFile(path, file))
            return error;
        const QByteArray start = file.peek(AsciiGridReader::bytesToTell);
        if (AsciiGridReader::isAsciiGrid(start)) {
            refusal = readAscii(file, checkHeader, watched);
        } else if (looksLikeTiff(start)) {
            file.close();
            refusal = readTiff(path, checkHeader, watched);
        } else {
            refusal = readPlain(file, checkHeader, watched);
        }
    }
    if (refusal)
        return FileError{shown, *refusal};
    if (summary)
        *summary = found;
    return std::nullopt;
}
