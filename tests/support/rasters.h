// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Rasters for the suites that read templates, compositions and surfaces:
// through our own GeoTIFF writer where it can make them, and through GDAL's
// API for what it never makes (cells that are not square, rotated grids,
// any band type). A suite that includes this links GDAL::GDAL.

#include "core/grid/geotiff.h"

#include <QFile>
#include <QString>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

// A missing fixture leaves the test meaningless, so it stops.
inline void writeOwnTiff(const QString &path, int rows, int columns,
                         const std::vector<double> &values, RasterCellType type,
                         std::optional<double> noData, const Georeference &place)
{
    GeoTiffRaster raster;
    if (const FileResult error = raster.open(path, rows, columns, type, noData, place))
        qFatal("%s", qPrintable(error->message()));
    for (int r = 0; r < rows; ++r) {
        std::byte *row = raster.nextRow();
        for (int c = 0; c < columns; ++c) {
            const double value = values[std::size_t(r) * std::size_t(columns) + std::size_t(c)];
            if (type == RasterCellType::Float32) {
                const float cell = float(value);
                std::memcpy(row + std::size_t(c) * sizeof cell, &cell, sizeof cell);
            } else {
                // Int16 is the one integer type these fixtures need.
                const qint16 cell = qint16(value);
                std::memcpy(row + std::size_t(c) * sizeof cell, &cell, sizeof cell);
            }
        }
        raster.rowDone();
    }
    if (const FileResult error = raster.commit())
        qFatal("%s", qPrintable(error->message()));
}

// `transform` as GDAL takes it: top-left x, column step x, row step x,
// top-left y, column step y, row step y.
inline void writeGdalTiff(const QString &path, GDALDataType type, int rows, int columns,
                          std::vector<double> values, const std::array<double, 6> &transform,
                          std::optional<double> noData = std::nullopt, const char *crs = nullptr)
{
    GDALAllRegister();
    GDALDriver *driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr dataset(
        driver->Create(QFile::encodeName(path).constData(), columns, rows, 1, type, nullptr));
    if (!dataset)
        qFatal("GDAL could not create %s", qPrintable(path));
    std::array<double, 6> copy = transform;
    dataset->SetGeoTransform(copy.data());
    if (crs) {
        OGRSpatialReference reference;
        reference.SetFromUserInput(crs);
        dataset->SetSpatialRef(&reference);
    }
    GDALRasterBand *band = dataset->GetRasterBand(1);
    if (noData)
        band->SetNoDataValue(*noData);
    if (band->RasterIO(GF_Write, 0, 0, columns, rows, values.data(), columns, rows, GDT_Float64, 0,
                       0, nullptr) != CE_None)
        qFatal("GDAL could not write %s", qPrintable(path));
}
