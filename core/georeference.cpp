#include "core/georeference.h"

#include "core/gdalbackend.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>

namespace {

// GDAL takes a file name or a URL where it expects a definition, and then
// opens it: a pipe waits forever, a device never ends, an address is
// connected to. A definition never looks like either.
bool namesAFileOrAddress(const QString &crs)
{
    const QString text = crs.trimmed();
    // An OGC name is a name, not a place to fetch it from.
    static const QRegularExpression ogcName(
        QStringLiteral("^https?://www\\.opengis\\.net/def/crs/[^/]+/[^/]+/[^/]+$"),
        QRegularExpression::CaseInsensitiveOption);
    if (ogcName.match(text).hasMatch())
        return false;
    if (text.contains(QLatin1String("/vsi"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("://")))
        return true;
    if (text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1String("./")) ||
        text.startsWith(QLatin1String("../")) || text.startsWith(QLatin1Char('~')))
        return true;
    const QFileInfo file(text);
    return file.exists() || file.isSymLink();
}

} // namespace

std::optional<QString> crsRefusal(const QString &crs)
{
    if (crs.isEmpty())
        return std::nullopt;
    if (namesAFileOrAddress(crs))
        return QCoreApplication::translate("Georeference",
                                           "\"%1\" names a file or an address, not a coordinate "
                                           "reference system: give its definition (EPSG:3035, WKT "
                                           "or a PROJ string), which is never read from a file or "
                                           "the network")
            .arg(crs);
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
