// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchrequest.h"

#include "core/batch/classcut.h"
#include "core/batch/classify.h"
#include "core/grid/geotiff.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchRequest", text);
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

} // namespace

QString MapShape::text() const
{
    if (isSquare())
        return QString::number(rows);
    return QStringLiteral("%1x%2").arg(rows).arg(columns);
}

qint64 CoverRange::count() const
{
    if (!listed.empty())
        return qint64(listed.size());
    if (step < 1)
        return 0;
    return (qint64(last) - first + step) / step;
}

bool CoverRange::contains(int cover) const
{
    if (!listed.empty())
        return std::find(listed.begin(), listed.end(), cover) != listed.end();
    return step >= 1 && cover >= first && cover <= last && (cover - first) % step == 0;
}

std::vector<int> CoverRange::values() const
{
    if (!listed.empty())
        return listed;
    std::vector<int> values;
    for (qint64 cover = first; step >= 1 && cover <= last; cover += step)
        values.push_back(int(cover));
    return values;
}

qint64 CoverRange::indexOf(int cover) const
{
    if (!contains(cover))
        return -1;
    if (!listed.empty())
        return std::find(listed.begin(), listed.end(), cover) - listed.begin();
    return (qint64(cover) - first) / step;
}

std::vector<double> HurstRange::values() const
{
    if (!listed.empty())
        return listed;
    // Counted in whole hundredths, which the request holds the sweep to, so
    // that nothing is added up: each value is one division, the double
    // nearest its decimal.
    std::vector<double> values;
    const auto hundredths = [](double value) {
        return std::isfinite(value) ? std::llround(std::clamp(value * 100.0, -1e15, 1e15)) : 0;
    };
    const long long from = hundredths(first);
    const long long to = hundredths(last);
    const long long by = hundredths(step);
    if (by <= 0 || !std::isfinite(first) || !std::isfinite(last))
        return values;
    for (long long value = from; 2 * value <= 2 * to + by; value += by)
        values.push_back(double(value) / 100.0);
    return values;
}

std::vector<double> HurstRange::walked() const
{
    if (!listed.empty())
        return listed;
    std::vector<double> values;
    if (!(step > 0.0))
        return values;
    const double limit = last + 0.5 * step;
    for (double h = first; h <= limit; h += step)
        values.push_back(h);
    return values;
}

std::optional<QString> BatchOutput::prefixRefusal(const QString &prefix)
{
    if (std::any_of(prefix.begin(), prefix.end(), isControl))
        return tr("the prefix holds a control character (a line break, a tab, a NUL or the "
                  "like), which no file name should hold");
    if (prefix.contains(QLatin1Char('/')) || prefix.contains(QLatin1Char('\\')))
        return tr("the prefix \"%1\" holds a path separator; it may only start file names, "
                  "in the chosen folder")
            .arg(prefix);
    if (prefix.contains(QLatin1String("..")))
        return tr("the prefix \"%1\" holds \"..\"; it may only start file names, in the chosen "
                  "folder")
            .arg(prefix);
    return std::nullopt;
}

std::optional<QString> BatchOutput::postStringRefusal(const QString &postString)
{
    if (postString.contains(QLatin1Char('\n')) || postString.contains(QLatin1Char('\r')) ||
        postString.contains(QChar(0)))
        return tr("the post-string holds a line break or a NUL, which would break the batch "
                  "list's one line per map");
    for (const QChar c : postString)
        if (c.unicode() > 0xff)
            return tr("the post-string holds \"%1\", which the batch list, written in Latin-1 "
                      "for the metrics program, cannot hold")
                .arg(c);
    return std::nullopt;
}

std::vector<double> BatchOutput::classShares() const
{
    if (!composition)
        return proportions;
    std::vector<double> shares;
    for (const Composition::Class &kind : composition->classes)
        shares.push_back(kind.percent);
    return shares;
}

std::vector<qint32> BatchOutput::classCodes() const
{
    if (!classValues.empty())
        return classValues;
    if (composition) {
        std::vector<qint32> codes;
        for (const Composition::Class &kind : composition->classes)
            codes.push_back(kind.code);
        return codes;
    }
    const std::size_t count = std::max<std::size_t>(classShares().size(), 2);
    if (count == 2)
        return {matrixValue, coverValue};
    std::vector<qint32> codes(count);
    for (std::size_t i = 0; i < count; ++i)
        codes[i] = qint32(i + 1);
    return codes;
}

std::optional<int> BatchOutput::classCover() const
{
    const std::vector<double> shares = classShares();
    if (shares.empty() || !std::isfinite(shares.back()))
        return std::nullopt;
    return int(std::clamp(std::round(shares.back()), 0.0, 100.0));
}

bool BatchOutput::classesAreACover() const
{
    const std::vector<double> shares = classShares();
    return shares.empty() || (shares.size() == 2 && shares.back() == std::round(shares.back()));
}

bool BatchOutput::cutsClasses() const
{
    return studyArea || !classesAreACover();
}

qint64 BatchOutput::outsideValue() const
{
    if (noData)
        return *noData;
    const std::vector<qint32> codes = classCodes();
    return defaultClassNoData(codes, format);
}

qint32 BatchOutput::measuredOutside() const
{
    const std::vector<qint32> codes = classCodes();
    auto outside = qint32(std::clamp<qint64>(outsideValue(), std::numeric_limits<qint32>::min(),
                                             std::numeric_limits<qint32>::max()));
    while (std::find(codes.begin(), codes.end(), outside) != codes.end())
        --outside;
    return outside;
}

std::optional<QString> BatchOutput::classRefusal() const
{
    if (!proportions.empty() && composition)
        return tr("the shares of the classes come from the proportions or from a map's "
                  "composition: give one of the two");
    if (maskValue && mask.isEmpty())
        return tr("a mask value marks the cells outside a mask: give the mask too");
    const std::vector<double> shares = classShares();
    if (shares.empty()) {
        if (!classValues.empty())
            return tr("class values are the codes of classes: give their proportions too");
    } else {
        ClassifyRequest classes{shares, classValues};
        if (auto refusal = classes.refusal(noData))
            return refusal;
    }
    if (studyArea)
        if (auto refusal = studyAreaFormatRefusal(*studyArea, format))
            return refusal;
    // The manifest's metrics, and targets on them by their bare names, are
    // of habitat and matrix on the whole grid; the long table and the
    // other targets measure every class and leave the outside out.
    const bool manifestTargets = std::any_of(
        targets.begin(), targets.end(), [](const auto &t) { return legacyMetric(t).has_value(); });
    if (cutsClasses() && ((metrics && metricTable.isEmpty()) || manifestTargets))
        return tr("the manifest's metrics, and targets on them by their bare names, are of "
                  "habitat and matrix on the whole grid; for maps of %1, name the metrics of the "
                  "long table (all, or np,pland,contag,...), and give targets their level or "
                  "class (landscape:np, 3:np)")
            .arg(studyArea && shares.size() <= 2 ? tr("a study area")
                                                 : tr("%1 classes").arg(shares.size()));
    return std::nullopt;
}

std::optional<QString> BatchOutput::refusal() const
{
    if (auto refusal = prefixRefusal(prefix))
        return refusal;
    if (auto refusal = postStringRefusal(postString))
        return refusal;
    if (auto refusal = outside("the habitat code", coverValue, coverValueLimits))
        return refusal;
    if (auto refusal = outside("the matrix code", matrixValue, matrixValueLimits))
        return refusal;
    if (shard) {
        if (auto refusal = outside("the number of shares", shard->count, BatchShard::countLimits))
            return refusal;
        if (shard->index < 1 || shard->index > shard->count)
            return tr("there is no share %1 of %2: shares are counted from 1 to %2")
                .arg(shard->index)
                .arg(shard->count);
    }
    if (resume && overwrite)
        return tr("resuming keeps an earlier run's maps and overwriting replaces them: ask for "
                  "one of the two");
    if (coverValue == matrixValue)
        return tr("the habitat and the matrix code are both %1; a map of one code has no "
                  "habitat to tell apart")
            .arg(coverValue);
    if (auto refusal = classRefusal())
        return refusal;
    if (format == MapFormat::Plain) {
        // A plain map has no header to tell where it lies; with a study
        // area it lies where the template does (as a map kept in memory
        // shows), and NODATA is the code of the cells outside.
        if (!studyArea && (noData || georeference.originX != 0.0 || georeference.originY != 0.0 ||
                           !georeference.crs.isEmpty()))
            return tr("NODATA, the origin and the reference system apply to ESRI and GeoTIFF "
                      "grids only; a plain map has no header for them");
    }
    if (!georeference.crs.isEmpty() && format != MapFormat::GeoTiff)
        return tr("a reference system can be stored in GeoTIFF maps only");
    if (cutsClasses()) {
        if (format == MapFormat::GeoTiff && !GeoTiffMapWriter::layout(classCodes(), noData))
            return tr("no GeoTIFF cell type holds the class codes together with the NODATA "
                      "value %1")
                .arg(noData.value_or(0));
    } else if (noData && (*noData == coverValue || *noData == matrixValue))
        return tr("the NODATA value %1 is one of the codes; it must be neither").arg(*noData);
    if (noData && format == MapFormat::AsciiGrid &&
        (*noData < std::numeric_limits<qint32>::min() ||
         *noData > std::numeric_limits<qint32>::max()))
        return tr("the NODATA value must be a 32-bit whole number");
    if (format == MapFormat::GeoTiff && !cutsClasses() &&
        !GeoTiffMapWriter::layout(matrixValue, coverValue, noData))
        return tr("no GeoTIFF cell type holds the codes %1 and %2 together with the NODATA "
                  "value %3")
            .arg(matrixValue)
            .arg(coverValue)
            .arg(noData.value_or(0));
    if (neighbours != 4 && neighbours != 8)
        return tr("patches join by 4 or by 8 neighbours, not %1").arg(neighbours);
    if (auto refusal = outside("the number of draws per cell", maxDraws, maxDrawLimits))
        return refusal;
    return georeferenceRefusal(georeference);
}

qint64 BatchOutput::asciiGridNoData() const
{
    if (noData)
        return *noData;
    qint64 value = -9999;
    while (value == coverValue || value == matrixValue)
        --value;
    return value;
}
