// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/studyarea.h"

#include "core/grid/gdalbackend.h"
#include "core/grid/rasterinput.h"

#include <QCoreApplication>
#include <QDir>

#include <cmath>
#include <new>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("StudyArea", text);
}

// What a template's header must be for maps to take its place: a grid of
// square cells within the limits of a georeference. Its reference system is
// left to studyAreaFormatRefusal(), which knows the format.
std::optional<QString> placeRefusal(const RasterHeader &header)
{
    if (header.placementRefusal)
        return header.placementRefusal;
    Georeference place = header.georeference;
    place.crs.clear();
    return georeferenceRefusal(place);
}

// Reads `path` into `area`, handing each inside cell's value to `take`
// (with its index, row-major) when there is one; `outsideValue` is the mask
// value, if any.
template <typename Prepare, typename Take>
FileResult readArea(const QString &path, std::optional<qint64> outsideValue, StudyArea &area,
                    Prepare prepare, Take take)
{
    area = {};
    const auto check = [&area, &prepare](const RasterHeader &header) -> std::optional<QString> {
        if (const auto refusal = placeRefusal(header))
            return refusal;
        area.rowCount = header.rowCount;
        area.columnCount = header.columnCount;
        area.georeference = header.georeference;
        try {
            const std::size_t cells =
                std::size_t(header.rowCount) * std::size_t(header.columnCount);
            area.inside.resize(cells);
            prepare(cells);
        } catch (const std::bad_alloc &) {
            return tr("not enough memory for a map of %1 x %2 cells")
                .arg(header.rowCount)
                .arg(header.columnCount);
        }
        return std::nullopt;
    };
    const std::optional<double> outside =
        outsideValue ? std::optional<double>(double(*outsideValue)) : std::nullopt;
    qint64 inside = 0;
    const auto piece = [&](int row, int firstColumn,
                           std::span<const double> values) -> std::optional<QString> {
        const std::size_t first =
            std::size_t(row) * std::size_t(area.columnCount) + std::size_t(firstColumn);
        quint8 *cells = area.inside.data() + first;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const bool in = !std::isnan(values[i]) && !(outside && values[i] == *outside);
            cells[i] = quint8(in);
            inside += in;
            take(first + i, values[i]);
        }
        return std::nullopt;
    };
    if (FileResult error = readRaster(path, check, piece)) {
        area = {};
        return error;
    }
    if (inside == 0) {
        area = {};
        return FileError{
            QDir::toNativeSeparators(path),
            outside ? tr("no cell lies inside: every cell is NoData or %1").arg(*outsideValue)
                    : tr("no cell lies inside: every cell is NoData")};
    }
    area.path = path;
    area.insideCount = inside;
    return std::nullopt;
}

} // namespace

FileResult readStudyArea(const QString &path, std::optional<qint64> maskValue, StudyArea &area)
{
    FileResult error = readArea(
        path, maskValue, area, [](std::size_t) {}, [](std::size_t, double) {});
    if (!error)
        area.maskValue = maskValue;
    return error;
}

std::optional<QString> studyAreaFormatRefusal(const StudyArea &area, MapFormat format)
{
    const QString &crs = area.georeference.crs;
    if (crs.isEmpty())
        return std::nullopt;
    if (format != MapFormat::GeoTiff)
        return tr("%1 has a reference system, and a reference system can be stored in GeoTIFF "
                  "maps only")
            .arg(QDir::toNativeSeparators(area.path));
    if (const auto refusal = crsRefusal(crs))
        return tr("%1: %2").arg(QDir::toNativeSeparators(area.path), *refusal);
    return std::nullopt;
}

FileResult readSurfaceRaster(const QString &path, SurfaceRaster &surface)
{
    surface.values.clear();
    auto &values = surface.values;
    FileResult error = readArea(
        path, std::nullopt, surface.area, [&values](std::size_t cells) { values.resize(cells); },
        [&values](std::size_t index, double value) { values[index] = value; });
    if (error)
        surface = {};
    return error;
}
