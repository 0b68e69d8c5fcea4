// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/grid/gdalbackend.h"

#include "core/files/runtimemodule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
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

// Whether a PROJJSON object holds a parameter given as text: only a file
// (a grid) is, every other parameter being a number.
bool holdsParameterFile(const QJsonValue &value)
{
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(), holdsParameterFile);
    }
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    const QJsonArray parameters = object.value(QLatin1String("parameters")).toArray();
    if (std::any_of(parameters.begin(), parameters.end(), [](const QJsonValue &parameter) {
            return parameter.toObject().value(QLatin1String("value")).isString();
        }))
        return true;
    return std::any_of(object.begin(), object.end(), holdsParameterFile);
}

// The part of a definition that has PROJ or GDAL read a file or a grid,
// wherever it lies and whatever it is (a FIFO waits for ever, a grid may be
// fetched from the network), or nothing: the PROJ parameters that name
// init files, grids, triangulations and models, a grid named with '@' in
// any parameter, GDAL's dictionary files, and the parameter files of WKT
// and PROJJSON transformations.
std::optional<QString> partNamingAFile(const QString &text)
{
    static const QRegularExpression projParameter(
        QStringLiteral("(?:^|[\\s+])(init|nadgrids|geoidgrids|grids|file|model|xy_grids|z_grids)"
                       "\\s*=\\s*([^\\s]*)"),
        QRegularExpression::CaseInsensitiveOption);
    for (auto found = projParameter.globalMatch(text); found.hasNext();) {
        const QRegularExpressionMatch match = found.next();
        // The null grid is built into PROJ; the usual definition of web
        // maps names it.
        const QStringList grids = match.captured(2).split(QLatin1Char(','));
        const bool nullGrid =
            match.captured(1).compare(QLatin1String("nadgrids"), Qt::CaseInsensitive) == 0 &&
            std::all_of(grids.begin(), grids.end(), [](const QString &grid) {
                return grid == QLatin1String("null") || grid == QLatin1String("@null");
            });
        if (!nullGrid)
            return QLatin1Char('+') + match.captured(1).toLower() + QLatin1Char('=');
    }
    static const QRegularExpression gridReference(QStringLiteral("=\\s*@(?!null(?:[\\s,]|$))"));
    if (gridReference.match(text).hasMatch())
        return QStringLiteral("=@");
    if (text.startsWith(QLatin1String("DICT:"), Qt::CaseInsensitive))
        return QStringLiteral("DICT:");
    for (const QLatin1String keyword :
         {QLatin1String("PARAMETERFILE"), QLatin1String("PROJ4_GRIDS")})
        if (text.contains(keyword, Qt::CaseInsensitive))
            return QString(keyword);
    if (text.startsWith(QLatin1Char('{')) &&
        holdsParameterFile(QJsonDocument::fromJson(text.toUtf8()).object()))
        return QStringLiteral("a parameter file");
    return std::nullopt;
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
    if (const std::optional<QString> part = partNamingAFile(crs.trimmed()))
        return QCoreApplication::translate("Georeference",
                                           "\"%1\" names a file or a grid for PROJ to read (%2), "
                                           "which a map's reference system never does: give a "
                                           "definition that names none (EPSG:3035, WKT or a PROJ "
                                           "string without +init, +nadgrids, +geoidgrids, "
                                           "+grids and the like)")
            .arg(crs, *part);
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
