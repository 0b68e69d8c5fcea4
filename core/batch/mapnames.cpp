// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapnames.h"

#include "core/batch/batchoptions.h"

namespace {

const QString extensions = QStringLiteral("\\.(txt|asc|tif)");

QRegularExpression anchored(const QString &prefix, const QString &tail)
{
    return QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix) + tail +
                              extensions + QStringLiteral("$"));
}

} // namespace

QString randomMapName(const QString &stem, int cover, int size, int replicate, MapFormat format)
{
    const QString side = QString::number(size);
    return stem + QString::asprintf("%03i", cover) + QLatin1Char('_') + side + QLatin1Char('x') +
           side + QStringLiteral("_a") + QString::number(replicate) + mapFormatExtension(format);
}

QString fractalMapName(const QString &stem, double H, int cover, int replicate, MapFormat format)
{
    // QString::asprintf formats in the C locale.
    return stem + QString::asprintf("%.2f_%03i_%05i", H, cover, replicate) +
           mapFormatExtension(format);
}

QString surfaceFileName(const QString &stem, double H, int seed, MapFormat format)
{
    return stem + QString::asprintf("%.2f_surface_%05i", H, seed) +
           mapFormatExtension(format == MapFormat::GeoTiff ? MapFormat::GeoTiff
                                                           : MapFormat::AsciiGrid);
}

namespace {

QString gaussianTail(CovarianceModel model, double axisValue, int cover, int replicate)
{
    return wordOf(model) + QString::asprintf(model == CovarianceModel::Fbm ? "_h%.2f_%03i_%05i"
                                                                           : "_r%.2f_%03i_%05i",
                                             axisValue, cover, replicate);
}

const QString gaussianPattern =
    QStringLiteral("(exponential|gaussian|matern|fbm)_[rh]\\d+\\.\\d\\d_\\d{3}_\\d{5,}");

} // namespace

QString gaussianMapName(const QString &stem, CovarianceModel model, double axisValue, int cover,
                        int replicate, MapFormat format)
{
    return stem + gaussianTail(model, axisValue, cover, replicate) + mapFormatExtension(format);
}

QString gaussianSurfaceName(const QString &stem, CovarianceModel model, double axisValue, int cover,
                            int replicate, MapFormat format)
{
    return stem + gaussianTail(model, axisValue, cover, replicate) + QStringLiteral("_surface") +
           mapFormatExtension(format == MapFormat::GeoTiff ? MapFormat::GeoTiff
                                                           : MapFormat::AsciiGrid);
}

QString batchListName(const QString &stem)
{
    return stem + QStringLiteral("ListFragStat.fbt");
}

QString manifestName(const QString &stem)
{
    return stem + QStringLiteral("manifest.csv");
}

QString shardRecordName(const QString &stem)
{
    return stem + QStringLiteral("shard.json");
}

QString lockFileName(const QString &stem)
{
    return batchListName(stem) + QStringLiteral(".lock");
}

QString journalName(const QString &stem)
{
    // No longer than the lock's name, so that no prefix that fits the file
    // system's names is refused for it.
    return stem + QStringLiteral("run.journal");
}

QRegularExpression randomMapNames(const QString &prefix)
{
    return anchored(prefix, QStringLiteral("\\d{3}_\\d+x\\d+_a\\d+"));
}

QRegularExpression fractalMapNames(const QString &prefix)
{
    return anchored(prefix, QStringLiteral("\\d\\.\\d\\d_\\d{3}_\\d{5,}"));
}

QRegularExpression surfaceFileNames(const QString &prefix)
{
    return anchored(prefix, QStringLiteral("\\d\\.\\d\\d_surface_\\d{5,}"));
}

QRegularExpression gaussianMapNames(const QString &prefix)
{
    return anchored(prefix, gaussianPattern);
}

QRegularExpression gaussianSurfaceNames(const QString &prefix)
{
    return anchored(prefix, gaussianPattern + QStringLiteral("_surface"));
}

QRegularExpression mapNamesOf(MapRecord::Kind kind, const QString &prefix)
{
    switch (kind) {
    case MapRecord::Kind::Fractal:
        return fractalMapNames(prefix);
    case MapRecord::Kind::Gaussian:
        return gaussianMapNames(prefix);
    case MapRecord::Kind::Random:
        break;
    }
    return randomMapNames(prefix);
}
