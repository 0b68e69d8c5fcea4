// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchrequest.h"

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

std::optional<QString> outside(const char *what, qint64 value, IntLimits limits)
{
    if (limits.contains(value))
        return std::nullopt;
    return tr("%1 must be between %2 and %3").arg(tr(what)).arg(limits.min).arg(limits.max);
}

std::optional<QString> outside(const QString &what, double value, HundredthsLimits limits)
{
    if (limits.contains(value))
        return std::nullopt;
    return tr("%1 must be between %2 and %3")
        .arg(what, QString::number(limits.min), QString::number(limits.max));
}

std::optional<QString> outside(const char *what, double value, HundredthsLimits limits)
{
    return outside(tr(what), value, limits);
}

// The dialog's H boxes hold two decimals, and names and the manifest give H
// with two; a value they could not show is refused rather than rounded.
bool hasTwoDecimals(double value)
{
    const double hundredths = value * 100.0;
    return std::isfinite(hundredths) && std::fabs(hundredths - std::round(hundredths)) < 1e-9;
}

// A list of values must run upwards without repeats, so that no two maps
// share a name.
template <typename T> bool increasing(const std::vector<T> &values)
{
    return std::adjacent_find(values.begin(), values.end(), std::greater_equal<T>()) ==
           values.end();
}

std::optional<QString> coverRefusal(const CoverRange &covers, IntLimits first, IntLimits last,
                                    IntLimits step)
{
    if (!covers.listed.empty()) {
        for (const int cover : covers.listed)
            if (auto refusal = outside("a listed cover", cover, IntLimits{first.min, last.max}))
                return refusal;
        if (!increasing(covers.listed))
            return tr("listed covers must increase, each once");
        return std::nullopt;
    }
    if (auto refusal = outside("the first cover", covers.first, first))
        return refusal;
    if (auto refusal = outside("the last cover", covers.last, last))
        return refusal;
    if (auto refusal = outside("the cover step", covers.step, step))
        return refusal;
    if (covers.first > covers.last)
        return tr("the first cover, %1, is above the last, %2: the range holds no cover")
            .arg(covers.first)
            .arg(covers.last);
    return std::nullopt;
}

// The reason of the first check that has one, in order; the checks after it
// are not made, so that the user hears of the first mistake first.
template <typename... Check> std::optional<QString> firstRefusal(const Check &...checks)
{
    std::optional<QString> refusal;
    static_cast<void>(((refusal = checks()).has_value() || ...));
    return refusal;
}

// What every kind of batch checks of its covers and size, in the order the
// dialogs show them.
template <typename Request> std::optional<QString> sweepRefusal(const Request &request)
{
    if (auto refusal = coverRefusal(request.covers, Request::firstCoverLimits,
                                    Request::lastCoverLimits, Request::coverStepLimits))
        return refusal;
    if (auto refusal = outside("the map size", request.size, Request::sizeLimits))
        return refusal;
    return std::nullopt;
}

// The checks of a sweep of values shown with two decimals (H, or the
// correlation range): two decimals, its limits, and a sweep that holds a
// value at all. `name` is how the messages call one value.
std::optional<QString> decimalSweepRefusal(const HurstRange &sweep, const QString &name,
                                           HundredthsLimits firstLimits,
                                           HundredthsLimits lastLimits, HundredthsLimits stepLimits)
{
    if (!sweep.listed.empty()) {
        for (const double value : sweep.listed) {
            if (!hasTwoDecimals(value))
                return tr("%1 values have at most two decimals").arg(name);
            if (auto refusal = outside(tr("a listed %1").arg(name), value,
                                       HundredthsLimits{firstLimits.min, lastLimits.max}))
                return refusal;
        }
        if (!increasing(sweep.listed))
            return tr("listed %1 values must increase, each once").arg(name);
        return std::nullopt;
    }
    if (!hasTwoDecimals(sweep.first) || !hasTwoDecimals(sweep.last) || !hasTwoDecimals(sweep.step))
        return tr("%1 values have at most two decimals").arg(name);
    if (auto refusal = outside(tr("the first %1").arg(name), sweep.first, firstLimits))
        return refusal;
    if (auto refusal = outside(tr("the last %1").arg(name), sweep.last, lastLimits))
        return refusal;
    if (auto refusal = outside(tr("the %1 step").arg(name), sweep.step, stepLimits))
        return refusal;
    if (sweep.values().empty())
        return tr("the first %1, %2, is above the last, %3: the range holds no %1")
            .arg(name, QString::number(sweep.first), QString::number(sweep.last));
    return std::nullopt;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

} // namespace

bool HundredthsLimits::contains(double value) const
{
    // Compared in hundredths, so that 0.1 typed is 0.1 allowed.
    const double v = std::round(value * 100.0);
    return v >= std::round(min * 100.0) && v <= std::round(max * 100.0);
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

std::vector<double> HurstRange::values() const
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
    if (format == MapFormat::Plain) {
        // A plain map has no header to tell where it lies.
        if (noData || georeference.originX != 0.0 || georeference.originY != 0.0 ||
            !georeference.crs.isEmpty())
            return tr("NODATA, the origin and the reference system apply to ESRI and GeoTIFF "
                      "grids only; a plain map has no header for them");
    }
    if (!georeference.crs.isEmpty() && format != MapFormat::GeoTiff)
        return tr("a reference system can be stored in GeoTIFF maps only");
    if (noData && (*noData == coverValue || *noData == matrixValue))
        return tr("the NODATA value %1 is one of the codes; it must be neither").arg(*noData);
    if (noData && format == MapFormat::AsciiGrid &&
        (*noData < std::numeric_limits<qint32>::min() ||
         *noData > std::numeric_limits<qint32>::max()))
        return tr("the NODATA value must be a 32-bit whole number");
    if (format == MapFormat::GeoTiff && !GeoTiffMapWriter::layout(matrixValue, coverValue, noData))
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

std::optional<QString> RandomBatchRequest::refusal() const
{
    // Classic replicates continue one running sequence, so a map rejected
    // would change every map after it: only independent draws can be chosen.
    const auto dependentDraws = [this]() -> std::optional<QString> {
        if (output.selects() && generator != Generator::Philox)
            return tr("--target needs independent draws: add --generator philox");
        return std::nullopt;
    };
    return firstRefusal(
        [this] { return sweepRefusal(*this); },
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the seed", seed, seedLimits); }, dependentDraws,
        [this] { return output.refusal(); });
}

qint64 RandomBatchRequest::mapCount() const
{
    return std::max<qint64>(0, covers.count() * replicates);
}

std::optional<QString> FractalBatchRequest::refusal() const
{
    const auto tooLarge = [this]() -> std::optional<QString> {
        if (size <= maxMapSize)
            return std::nullopt;
        return tr("fractal maps can be at most %1 cells per side; %2 was requested")
            .arg(maxMapSize)
            .arg(size);
    };
    // Ladder cuts and shared surfaces tie one map to another; a map kept
    // for its metrics must be a sample of its own.
    const auto dependentDraws = [this]() -> std::optional<QString> {
        if (output.selects() &&
            (generator != Generator::Philox || cut != FractalCut::Exact || !distinctSurfaces))
            return tr("--target needs independent draws: add --generator philox --cut exact "
                      "--distinct-surfaces");
        return std::nullopt;
    };
    return firstRefusal(
        [this] {
            return decimalSweepRefusal(hurst, QStringLiteral("H"), firstHurstLimits,
                                       lastHurstLimits, hurstStepLimits);
        },
        [this] { return sweepRefusal(*this); }, tooLarge,
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the number of surfaces per H", surfaces, surfaceLimits); },
        [this] { return outside("the first seed", firstSeed, firstSeedLimits); }, dependentDraws,
        [this] { return output.refusal(); });
}

bool FractalBatchRequest::samplingChanged() const
{
    return generator != Generator::Classic || cut != FractalCut::Ladder || distinctSurfaces ||
           surfaces != surfacesPerH || firstSeed != 0;
}

qint64 FractalBatchRequest::mapCount() const
{
    return std::max<qint64>(0, qint64(hurst.values().size()) * covers.count() * replicates);
}

qint64 FractalBatchRequest::shareUnits() const
{
    const auto hCount = qint64(hurst.values().size());
    return writeSurfaces ? hCount : hCount * std::max<qint64>(covers.count(), 0);
}

std::optional<QString> GaussianBatchRequest::refusal() const
{
    const auto axisRefusal = [this] {
        if (model == CovarianceModel::Fbm)
            return decimalSweepRefusal(hurst, QStringLiteral("H"), firstHurstLimits,
                                       lastHurstLimits, hurstStepLimits);
        return decimalSweepRefusal(ranges, tr("range"), firstRangeLimits, lastRangeLimits,
                                   rangeStepLimits);
    };
    const auto nuRefusal = [this]() -> std::optional<QString> {
        if (model != CovarianceModel::Matern)
            return std::nullopt;
        if (!hasTwoDecimals(nu))
            return tr("nu has at most two decimals");
        return outside("nu", nu, nuLimits);
    };
    // Ladder cuts take maps from whichever threshold gives a cover, so a
    // map kept for its metrics would not be a draw of its own.
    const auto dependentDraws = [this]() -> std::optional<QString> {
        if (output.selects() && cut != FractalCut::Exact)
            return tr("--target needs independent draws: add --cut exact");
        return std::nullopt;
    };
    return firstRefusal(
        axisRefusal, nuRefusal, [this] { return sweepRefusal(*this); },
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the seed", seed, seedLimits); }, dependentDraws,
        [this] { return output.refusal(); });
}

qint64 GaussianBatchRequest::mapCount() const
{
    return std::max<qint64>(0, qint64(axisValues().size()) * covers.count() * replicates);
}

qint64 GaussianBatchRequest::shareUnits() const
{
    return output.selects() ? qint64(axisValues().size()) * std::max<qint64>(covers.count(), 0)
                            : mapCount();
}
