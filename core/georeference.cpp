#include "core/georeference.h"

#include "core/gdalsupport.h"

#include <QCoreApplication>

#include <ogr_spatialref.h>

#include <cmath>

std::optional<QString> crsRefusal(const QString &crs)
{
    if (crs.isEmpty())
        return std::nullopt;
    registerGdalDrivers();
    GdalErrorCapture errors;
    OGRSpatialReference reference;
    // A reference system is looked up in the local PROJ database; a map
    // batch must never stall on a network request for one.
    const char *const options[] = {"ALLOW_NETWORK_ACCESS=NO", nullptr};
    if (reference.SetFromUserInput(crs.toUtf8().constData(), options) == OGRERR_NONE)
        return std::nullopt;
    return QCoreApplication::translate("Georeference",
                                       "\"%1\" is not a coordinate reference system that GDAL "
                                       "knows (for example EPSG:3035 is one): %2")
        .arg(crs, errors.reason(QCoreApplication::translate("Georeference", "not recognised")));
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
