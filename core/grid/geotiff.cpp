// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/geotiff.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GeoTiff", text);
}

} // namespace

GeoTiffRaster::~GeoTiffRaster()
{
    discard();
}

int GeoTiffRaster::cellBytes(RasterCellType type)
{
    switch (type) {
    case RasterCellType::Byte:
        return 1;
    case RasterCellType::UInt16:
    case RasterCellType::Int16:
        return 2;
    case RasterCellType::Int32:
    case RasterCellType::UInt32:
    case RasterCellType::Float32:
        return 4;
    }
    return 4;
}

FileResult GeoTiffRaster::open(const QString &path, int rowCount, int columnCount,
                               RasterCellType type, std::optional<double> noData,
                               const Georeference &georeference, const GeoTiffOptions &options)
{
    discard();
    m_path = path;
    const QString shownPath = QDir::toNativeSeparators(path);
    if (rowCount <= 0 || columnCount <= 0)
        return FileError{shownPath, tr("a map needs at least one row and one column")};
    if (auto refusal = georeferenceRefusal(georeference))
        return FileError{shownPath, *refusal};

    m_rowCount = rowCount;
    m_columnCount = columnCount;
    m_cellBytes = cellBytes(type);
    m_tiled = rowCount >= tilingThreshold || columnCount >= tilingThreshold;
    // TIFF tiles are multiples of 16 cells a side.
    m_tileSize = std::max(16, options.tileSize / 16 * 16);
    m_blockRows = std::min(m_tileSize, rowCount);
    m_rowBytes = std::size_t(columnCount) * std::size_t(m_cellBytes);
    m_rowsInBlock = 0;
    m_rowsDone = 0;
    m_blockRowIndex = 0;
    m_failure.reset();
    std::memset(m_fill, 0, sizeof m_fill);
    if (noData) {
        // Padding beyond the map's edge in the last tiles is never shown;
        // NoData there says so to anyone who reads the raw blocks.
        if (type == RasterCellType::Float32) {
            const float value = float(*noData);
            std::memcpy(m_fill, &value, sizeof value);
        } else {
            const quint32 bits = quint32(qint64(*noData));
            std::memcpy(m_fill, &bits, std::size_t(m_cellBytes));
        }
    }
    try {
        m_block.reset(new std::byte[std::size_t(m_blockRows) * m_rowBytes]);
        if (m_tiled)
            m_tile.reset(new std::byte[std::size_t(m_tileSize) * m_tileSize * m_cellBytes]);
    } catch (const std::bad_alloc &) {
        m_block.reset();
        return FileError{shownPath, tr("not enough memory for a map this wide")};
    }

    // The temporary file is created by PendingFile, exclusively and with
    // the permissions any new file gets, rather than by GDAL, which would
    // open an existing file or link of that name; GDAL then writes it.
    if (FileResult error = m_pending.create(path)) {
        m_block.reset();
        m_tile.reset();
        return error;
    }
    m_pending.handOver();

    QString failure;
    m_gdal = gdalBackend(failure);
    if (m_gdal) {
        RasterCreation raster;
        raster.path = m_pending.temporaryPath();
        raster.rowCount = rowCount;
        raster.columnCount = columnCount;
        raster.type = type;
        raster.tiled = m_tiled;
        raster.tileSize = m_tileSize;
        raster.stripRows = m_blockRows;
        raster.deflateLevel = options.level;
        raster.threads = options.threads;
        raster.predictor = options.predictor;
        raster.noData = noData;
        raster.georeference = georeference;
        m_dataset = m_gdal->create(raster, failure);
    }
    if (!m_dataset) {
        discard();
        return FileError{shownPath, failure};
    }
    return std::nullopt;
}

void GeoTiffRaster::fillCells(std::byte *cells, std::size_t count) const
{
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(cells + i * std::size_t(m_cellBytes), m_fill, std::size_t(m_cellBytes));
}

void GeoTiffRaster::writeBlockRow()
{
    const int rows = m_rowsInBlock;
    const int blockRowIndex = m_blockRowIndex++;
    m_rowsInBlock = 0;
    if (m_failure || !m_dataset)
        return;
    QString failure;
    if (!m_tiled) {
        // A strip is the rows themselves; only the last one may be short.
        fillCells(m_block.get() + std::size_t(rows) * m_rowBytes,
                  std::size_t(m_blockRows - rows) * std::size_t(m_columnCount));
        if (!m_gdal->writeBlock(m_dataset, 0, blockRowIndex, m_block.get(), failure))
            fail(failure);
        return;
    }
    const std::size_t tileRowBytes = std::size_t(m_tileSize) * std::size_t(m_cellBytes);
    for (int tileColumn = 0; tileColumn * m_tileSize < m_columnCount; ++tileColumn) {
        const int firstColumn = tileColumn * m_tileSize;
        const int width = std::min(m_tileSize, m_columnCount - firstColumn);
        const std::size_t bytes = std::size_t(width) * std::size_t(m_cellBytes);
        const std::byte *source = m_block.get() + std::size_t(firstColumn) * m_cellBytes;
        for (int row = 0; row < m_tileSize; ++row) {
            std::byte *target = m_tile.get() + std::size_t(row) * tileRowBytes;
            if (row < rows) {
                std::memcpy(target, source + std::size_t(row) * m_rowBytes, bytes);
                fillCells(target + bytes, std::size_t(m_tileSize - width));
            } else {
                fillCells(target, std::size_t(m_tileSize));
            }
        }
        if (!m_gdal->writeBlock(m_dataset, tileColumn, blockRowIndex, m_tile.get(), failure)) {
            fail(failure);
            return;
        }
    }
}

void GeoTiffRaster::fail(const QString &reason)
{
    if (!m_failure)
        m_failure = reason;
}

FileResult GeoTiffRaster::finish(PendingFile &file)
{
    const QString shownPath = QDir::toNativeSeparators(m_path);
    if (!m_dataset)
        return FileError{shownPath, tr("file not open")};
    if (m_rowsDone < m_rowCount)
        fail(tr("only %1 of the map's %2 rows were written")
                 .arg(QString::number(m_rowsDone), QString::number(m_rowCount)));
    if (QString reason; !m_gdal->close(std::exchange(m_dataset, nullptr), reason))
        fail(reason);
    const std::optional<QString> failure = m_failure;
    if (!failure)
        file = std::move(m_pending);
    discard();
    if (failure)
        return FileError{shownPath, *failure};
    return std::nullopt;
}

FileResult GeoTiffRaster::commit()
{
    return publishAlone(*this);
}

void GeoTiffRaster::discard()
{
    if (m_dataset) {
        QString ignored;
        m_gdal->close(std::exchange(m_dataset, nullptr), ignored);
    }
    m_pending.discard();
    m_block.reset();
    m_tile.reset();
    m_failure.reset();
    m_rowsDone = 0;
    m_rowCount = 0;
}

std::optional<GeoTiffMapWriter::Layout>
GeoTiffMapWriter::layout(qint32 matrixValue, qint32 coverValue, std::optional<qint64> noData)
{
    const qint32 codes[] = {matrixValue, coverValue};
    return layout(codes, noData);
}

std::optional<GeoTiffMapWriter::Layout> GeoTiffMapWriter::layout(std::span<const qint32> codes,
                                                                 std::optional<qint64> noData)
{
    struct Range {
        RasterCellType type;
        qint64 lowest;
        qint64 highest;
    };
    static constexpr Range ranges[] = {
        {RasterCellType::Byte, 0, 255},
        {RasterCellType::UInt16, 0, 65535},
        {RasterCellType::Int16, -32768, 32767},
        {RasterCellType::Int32, std::numeric_limits<qint32>::min(),
         std::numeric_limits<qint32>::max()},
        {RasterCellType::UInt32, 0, std::numeric_limits<quint32>::max()},
    };
    const auto holds = [](const Range &range, qint64 value) {
        return range.lowest <= value && value <= range.highest;
    };
    const auto isCode = [codes](qint64 value) {
        return std::find(codes.begin(), codes.end(), value) != codes.end();
    };
    if (noData && isCode(*noData))
        return std::nullopt;
    for (const Range &range : ranges) {
        if (!std::all_of(codes.begin(), codes.end(),
                         [&](qint32 code) { return holds(range, code); }))
            continue;
        if (noData) {
            if (!holds(range, *noData))
                continue;
            return Layout{range.type, *noData};
        }
        constexpr qint64 preferred = -9999;
        if (holds(range, preferred) && !isCode(preferred))
            return Layout{range.type, preferred};
        // Codes of at most 64 classes cannot take all of a type's largest
        // values; a type they fill has no room, and the next is tried.
        qint64 largest = range.highest;
        while (largest >= range.lowest && isCode(largest))
            --largest;
        if (largest >= range.lowest)
            return Layout{range.type, largest};
    }
    return std::nullopt;
}

GeoTiffMapWriter::GeoTiffMapWriter(qint32 matrixValue, qint32 coverValue,
                                   std::optional<qint64> noData)
    : m_matrixValue(matrixValue)
    , m_coverValue(coverValue)
    , m_noData(noData)
{}

GeoTiffMapWriter::GeoTiffMapWriter(std::vector<qint32> codes, std::optional<qint64> noData)
    : m_matrixValue(codes.empty() ? 0 : codes.front())
    , m_coverValue(codes.size() < 2 ? 0 : codes[1])
    , m_noData(noData)
    , m_codes(std::move(codes))
{}

template <typename Cell>
void GeoTiffMapWriter::fillClasses(std::byte *bytes, const std::uint8_t *classes)
{
    Cell *const cells = reinterpret_cast<Cell *>(bytes);
    std::array<Cell, 256> table;
    table.fill(Cell(quint64(m_outside)));
    for (std::size_t i = 0; i < m_codes.size(); ++i)
        table[i] = Cell(quint32(m_codes[i]));
    for (int column = 0; column < m_columnCount; ++column)
        cells[column] = table[classes[column]];
}

void GeoTiffMapWriter::putClasses(const std::uint8_t *classes)
{
    std::byte *row = m_raster.nextRow();
    if (!row)
        return;
    switch (m_cellBytes) {
    case 1:
        fillClasses<quint8>(row, classes);
        break;
    case 2:
        fillClasses<quint16>(row, classes);
        break;
    default:
        fillClasses<quint32>(row, classes);
        break;
    }
    m_cells += m_columnCount;
    m_raster.rowDone();
}

FileResult GeoTiffMapWriter::open(const QString &path, int rowCount, int columnCount,
                                  const Georeference &georeference)
{
    m_cells = 0;
    m_habitatCells = 0;
    const std::optional<Layout> cells =
        m_codes.empty() ? layout(m_matrixValue, m_coverValue, m_noData) : layout(m_codes, m_noData);
    if (!cells) {
        m_raster.discard();
        return FileError{QDir::toNativeSeparators(path),
                         tr("the NoData value %1 cannot be stored together with the codes %2 "
                            "and %3")
                             .arg(QString::number(m_noData.value_or(0)),
                                  QString::number(m_matrixValue), QString::number(m_coverValue))};
    }
    m_columnCount = columnCount;
    m_cellBytes = GeoTiffRaster::cellBytes(cells->type);
    m_outside = cells->noData;
    return m_raster.open(path, rowCount, columnCount, cells->type, double(cells->noData),
                         georeference, m_options);
}

FileResult GeoTiffSurfaceWriter::open(const QString &path, int rowCount, int columnCount,
                                      const Georeference &georeference)
{
    m_columnCount = columnCount;
    return m_raster.open(path, rowCount, columnCount, RasterCellType::Float32, std::nullopt,
                         georeference, m_options);
}

bool looksLikeTiff(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return looksLikeTiff(file.read(4));
}

bool looksLikeTiff(const QByteArray &start)
{
    const QByteArray head = start.left(4);
    // Byte order mark, then 42 for TIFF or 43 for BigTIFF in that order.
    return head == QByteArrayLiteral("II*\0") || head == QByteArrayLiteral("MM\0*") ||
           head == QByteArrayLiteral("II+\0") || head == QByteArrayLiteral("MM\0+");
}

FileResult readGeoTiff(const QString &path, LandscapeGrid &grid, const ReadStop &stopped,
                       MapFileInfo *info)
{
    grid.clear();
    if (info)
        *info = {};
    const QString shownPath = QDir::toNativeSeparators(path);
    QString failure;
    GdalBackend *gdal = gdalBackend(failure);
    int rowCount = 0;
    int columnCount = 0;
    int blockRows = 0;
    GdalBackend::Raster *raster =
        gdal ? gdal->openMap(path, rowCount, columnCount, blockRows, failure) : nullptr;
    if (!raster)
        return FileError{shownPath, failure};
    const auto closeRaster = qScopeGuard([gdal, raster] {
        QString ignored;
        gdal->close(raster, ignored);
    });
    if (const auto refusal = declaredSizeRefusal(rowCount, columnCount))
        return FileError{shownPath, *refusal};
    if (info)
        gdal->describeMap(raster, info->cellWidth, info->cellHeight, info->noData);
    // Whole blocks at a time spare GDAL from decoding a tile once per row.
    const int chunkRows = std::clamp(blockRows, 1, std::max(1, rowCount));
    try {
        grid.reserve(std::size_t(rowCount) * std::size_t(columnCount), std::size_t(rowCount));
        std::vector<qint32> cells(std::size_t(chunkRows) * std::size_t(columnCount));
        for (int first = 0; first < rowCount; first += chunkRows) {
            const int rows = std::min(chunkRows, rowCount - first);
            if (stopped && stopped()) {
                grid.clear();
                return FileError{shownPath, readStoppedReason()};
            }
            if (!gdal->readRows(raster, first, rows, cells.data(), failure)) {
                grid.clear();
                return FileError{shownPath, failure};
            }
            for (int row = 0; row < rows; ++row)
                grid.appendRow(std::span<const qint32>(cells.data() + std::size_t(row) *
                                                                          std::size_t(columnCount),
                                                       std::size_t(columnCount)));
        }
    } catch (const std::bad_alloc &) {
        grid.clear();
        return FileError{shownPath, tr("not enough memory for a map this large")};
    } catch (const std::length_error &) {
        grid.clear();
        return FileError{shownPath, tr("not enough memory for a map this large")};
    }
    return std::nullopt;
}
