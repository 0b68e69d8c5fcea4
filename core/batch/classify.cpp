// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/classify.h"

#include "core/batch/classcut.h"
#include "core/grid/geotiff.h"
#include "core/grid/mapfilewriter.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Classify", text);
}

} // namespace

std::optional<QString> ClassifyRequest::refusal(std::optional<qint64> noData) const
{
    if (auto refusal = proportionsRefusal(proportions))
        return refusal;
    if (!classValues.empty() && classValues.size() != proportions.size())
        return tr("%1 class values were given for %2 proportions: give one a class")
            .arg(classValues.size())
            .arg(proportions.size());
    const std::vector<qint32> all = codes();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (std::find(all.begin(), all.begin() + std::ptrdiff_t(i), all[i]) !=
            all.begin() + std::ptrdiff_t(i))
            return tr("the class value %1 is given twice: each class needs a code of its own")
                .arg(all[i]);
        if (noData && all[i] == *noData)
            return tr("the class value %1 is also the NODATA value: cells outside the study area "
                      "would read as that class")
                .arg(all[i]);
    }
    return std::nullopt;
}

std::vector<qint32> ClassifyRequest::codes() const
{
    if (!classValues.empty())
        return classValues;
    std::vector<qint32> codes(proportions.size());
    for (std::size_t i = 0; i < codes.size(); ++i)
        codes[i] = qint32(i + 1);
    return codes;
}

std::vector<std::uint8_t> classifyCells(const double *values, int rows, int columns,
                                        const std::uint8_t *inside,
                                        std::span<const double> proportions,
                                        std::vector<qint64> *counts)
{
    const std::size_t cellCount = std::size_t(rows) * std::size_t(columns);
    // NaN marks NoData in a surface read from a file: such cells are outside
    // whatever the mask says, so that they never take a class.
    std::vector<std::uint8_t> mask(cellCount, 1);
    for (std::size_t i = 0; i < cellCount; ++i)
        mask[i] = (!inside || inside[i]) && !std::isnan(values[i]);
    ClassCutter cutter(values, rows, columns, columns, mask.data());
    const std::vector<qint64> sizes = classCounts(proportions, cutter.validCells());
    const ClassCut cut = cutter.cut(sizes);
    std::vector<std::uint8_t> cells(cellCount);
    ClassCells classes(values, columns, mask.data(), columns, cut);
    for (int row = 0; row < rows; ++row)
        classes.row(row, cells.data() + std::size_t(row) * std::size_t(columns));
    if (counts)
        *counts = sizes;
    return cells;
}

qint64 defaultClassNoData(std::span<const qint32> codes, MapFormat format)
{
    if (format == MapFormat::GeoTiff)
        if (const auto layout = GeoTiffMapWriter::layout(codes, std::nullopt))
            return layout->noData;
    qint64 value = -9999;
    while (std::find(codes.begin(), codes.end(), value) != codes.end())
        --value;
    return value;
}

FileResult writeClassMap(const QString &path, MapFormat format, std::span<const std::uint8_t> cells,
                         int rows, int columns, std::span<const qint32> codes, qint64 noData,
                         const Georeference &georeference)
{
    if (format == MapFormat::GeoTiff) {
        GeoTiffMapWriter writer(std::vector<qint32>(codes.begin(), codes.end()), noData);
        if (FileResult error = writer.open(path, rows, columns, georeference))
            return error;
        for (int row = 0; row < rows; ++row)
            writer.putClasses(cells.data() + std::size_t(row) * std::size_t(columns));
        return writer.commit();
    }
    MapFileWriter writer(0, 1, format);
    writer.setGridHeader(georeference, noData);
    writer.setClassCodes(codes, noData);
    if (FileResult error = writer.open(path, rows, columns))
        return error;
    for (int row = 0; row < rows; ++row)
        writer.putClasses(cells.data() + std::size_t(row) * std::size_t(columns), columns);
    return writer.commit();
}
