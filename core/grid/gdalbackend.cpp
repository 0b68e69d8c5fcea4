// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/gdalbackend.h"

#include "core/files/runtimemodule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace {

// The module is never unloaded: GDAL keeps threads and caches for the life
// of the process.
struct Loaded {
    GdalBackend *backend = nullptr;
    QString failure;
};

Loaded load()
{
    // The program or library this code is part of: the command line, the
    // application, a test, the Python module or the R package.
    const QStringList candidates = moduleCandidates(
        folderOfBinaryHolding(reinterpret_cast<const void *>(&gdalBackend)),
        QStringLiteral(PW_GDAL_MODULE_NAME), QStringLiteral(PW_GDAL_MODULE_INSTALLED),
        QStringLiteral(PW_GDAL_MODULE_BUILD_PATH), QStringLiteral(PW_GDAL_MODULE_BUILD_TREE));
    QStringList reasons;
    GdalBackend *backend = nullptr;
    using Entry = GdalBackend *(*)();
    if (loadModuleSymbol(candidates, "patchwrightGdalBackend", reasons,
                         [&backend](QFunctionPointer entry) {
                             backend = reinterpret_cast<Entry>(entry)();
                             return backend != nullptr;
                         }))
        return {backend, {}};
    if (reasons.isEmpty())
        reasons << QCoreApplication::translate("GdalBackend", "%1 was not found beside the program")
                       .arg(QStringLiteral(PW_GDAL_MODULE_NAME));
    return {nullptr, QCoreApplication::translate("GdalBackend", "GeoTIFF support is missing: %1")
                         .arg(reasons.join(QStringLiteral("; ")))};
}

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

GdalBackend *gdalBackend(QString &failure)
{
    static const Loaded loaded = load();
    if (!loaded.backend)
        failure = loaded.failure;
    return loaded.backend;
}

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
    if (georeference.cellSize > maxCellSize)
        return QCoreApplication::translate("Georeference",
                                           "the cell size can be at most %1; %2 was given")
            .arg(QString::number(maxCellSize, 'g', 17),
                 QString::number(georeference.cellSize, 'g', 17));
    if (!std::isfinite(georeference.originX) || !std::isfinite(georeference.originY) ||
        std::fabs(georeference.originX) > maxOriginMagnitude ||
        std::fabs(georeference.originY) > maxOriginMagnitude)
        return QCoreApplication::translate("Georeference",
                                           "the origin must be a point within %1 of 0,0")
            .arg(QString::number(maxOriginMagnitude, 'g', 17));
    return crsRefusal(georeference.crs);
}
