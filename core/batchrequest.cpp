#include "core/batchrequest.h"

#include "core/geotiff.h"

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

std::optional<QString> coverRefusal(const CoverRange &covers, IntLimits first, IntLimits last,
                                    IntLimits step)
{
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

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control;
}

// A swept value's checks: two decimals, its limits, and a sweep that holds
// a value at all.
template <typename Sweep>
std::optional<QString> axisRefusal(const Sweep &sweep, const QString &name,
                                   HundredthsLimits firstLimits, HundredthsLimits lastLimits,
                                   HundredthsLimits stepLimits)
{
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

} // namespace

bool HundredthsLimits::contains(double value) const
{
    // Compared in hundredths, so that 0.1 typed is 0.1 allowed.
    const double v = std::round(value * 100.0);
    return v >= std::round(min * 100.0) && v <= std::round(max * 100.0);
}

qint64 CoverRange::count() const
{
    if (step < 1)
        return 0;
    return (qint64(last) - first + step) / step;
}

bool CoverRange::contains(int cover) const
{
    return step >= 1 && cover >= first && cover <= last && (cover - first) % step == 0;
}

namespace {

// From first in steps of step, by repeated addition, while the value does
// not exceed last + step / 2.
std::vector<double> steppedValues(double first, double last, double step)
{
    std::vector<double> values;
    if (!(step > 0.0))
        return values;
    const double limit = last + 0.5 * step;
    for (double h = first; h <= limit; h += step)
        values.push_back(h);
    return values;
}

} // namespace

std::vector<double> HurstRange::values() const
{
    return steppedValues(first, last, step);
}

std::vector<double> CorrelationRange::values() const
{
    return steppedValues(first, last, step);
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
    if (auto refusal = sweepRefusal(*this))
        return refusal;
    if (auto refusal = outside("the number of replicates", replicates, replicateLimits))
        return refusal;
    if (auto refusal = outside("the seed", seed, seedLimits))
        return refusal;
    return output.refusal();
}

qint64 RandomBatchRequest::mapCount() const
{
    return std::max<qint64>(0, covers.count() * replicates);
}

std::optional<QString> FractalBatchRequest::refusal() const
{
    if (auto refusal = axisRefusal(hurst, QStringLiteral("H"), firstHurstLimits, lastHurstLimits,
                                   hurstStepLimits))
        return refusal;
    if (auto refusal = sweepRefusal(*this))
        return refusal;
    if (size > maxMapSize)
        return tr("fractal maps can be at most %1 cells per side; %2 was requested")
            .arg(maxMapSize)
            .arg(size);
    if (auto refusal = outside("the number of replicates", replicates, replicateLimits))
        return refusal;
    if (auto refusal = outside("the number of surfaces per H", surfaces, surfaceLimits))
        return refusal;
    if (auto refusal = outside("the first seed", firstSeed, firstSeedLimits))
        return refusal;
    return output.refusal();
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

std::vector<double> GaussianBatchRequest::axisValues() const
{
    return model == CovarianceModel::Fbm ? hurst.values() : ranges.values();
}

std::optional<QString> GaussianBatchRequest::refusal() const
{
    if (auto refusal = model == CovarianceModel::Fbm
                           ? axisRefusal(hurst, QStringLiteral("H"), firstHurstLimits,
                                         lastHurstLimits, hurstStepLimits)
                           : axisRefusal(ranges, tr("range"), firstRangeLimits, lastRangeLimits,
                                         rangeStepLimits))
        return refusal;
    if (model == CovarianceModel::Matern) {
        if (!hasTwoDecimals(nu))
            return tr("nu has at most two decimals");
        if (auto refusal = outside("nu", nu, nuLimits))
            return refusal;
    }
    if (auto refusal = sweepRefusal(*this))
        return refusal;
    if (auto refusal = outside("the number of replicates", replicates, replicateLimits))
        return refusal;
    if (auto refusal = outside("the seed", seed, seedLimits))
        return refusal;
    return output.refusal();
}

qint64 GaussianBatchRequest::mapCount() const
{
    return std::max<qint64>(0, qint64(axisValues().size()) * covers.count() * replicates);
}

QString covarianceModelName(CovarianceModel model)
{
    switch (model) {
    case CovarianceModel::Exponential:
        return QStringLiteral("exponential");
    case CovarianceModel::Gaussian:
        return QStringLiteral("gaussian");
    case CovarianceModel::Matern:
        return QStringLiteral("matern");
    case CovarianceModel::Fbm:
        return QStringLiteral("fbm");
    }
    return {};
}

std::optional<CovarianceModel> covarianceModelFromName(const QString &name)
{
    for (CovarianceModel model : {CovarianceModel::Exponential, CovarianceModel::Gaussian,
                                  CovarianceModel::Matern, CovarianceModel::Fbm})
        if (name == covarianceModelName(model))
            return model;
    return std::nullopt;
}
