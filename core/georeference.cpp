#include "core/georeference.h"

#include "core/gdalbackend.h"

#include <QCoreApplication>

#include <cmath>

std::optional<QString> crsRefusal(const QString &crs)
{
    if (crs.isEmpty())
        return std::nullopt;
    QString failure;
    GdalBackend *gdal = gdalBackend(failure);
    if (!gdal)
        return failure;
    if (const std::optional<QString> refusal = gdal->crsRefusal(crs))
        failure = *refusal;
    else
        return std::nullopt;
    return QCoreApplication::translate("Georeference",
                                       "\"%1\" is not a coordinate reference system that GDAL "
                                       "knows (for example EPSG:3035 is one): %2")
        .arg(crs, failure);
}

std::optional<QString> georeferenceRefusal(const Georeference &georeference)
{
    if (!std::isfinite(georeference.cellSize) || georeference.cellSize <= 0.0)
        return QCoreApplication::translate("Georeference",
                                           "the cell size must be a positive number");
    if (!std::isfinite(georeference.originX) || !std::isfinite(georeference.originY))
        return QCoreApplication::translate("Georeference", "the origin must be a finite point");
    return crsRefusal(georeference.crs);
}
