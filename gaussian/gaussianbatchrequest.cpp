// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianbatchrequest.h"
#include "gaussian/gaussiannames.h"

#include "core/batch/diskspace.h"
#include "core/batch/requestchecks.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GaussianBatchRequest", text);
}

// The longest model name, "_r" and the range "%.2f" (at most 10000.00),
// "_", cover "%03i", "_", replicate "%05i", "_surface" for the field, ".txt"
int nameTail(const GaussianBatchRequest &request)
{
    return 11 + 2 + 8 + 1 + 3 + 1 + std::max(5, DiskSpace::decimalLength(request.replicates)) + 8 +
           4;
}

} // namespace

std::optional<Phrase> GaussianBatchRequest::refusal() const
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
    const auto dependentDraws = [this]() -> std::optional<Phrase> {
        if (output.selects() && cut != FractalCut::Exact)
            return Phrase::marked(tr("{target} needs independent draws: add {cut exact}"));
        return std::nullopt;
    };
    return firstRefusal(
        axisRefusal, nuRefusal, [this] { return sweepRefusal(*this); },
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the seed", seed, seedLimits); }, dependentDraws,
        [this] { return output.refusal(); }, [this] { return ladderClassRefusal(cut, output); },
        [this] { return blendCutRefusal(*this, cut, shape.rows, shape.columns); });
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

DiskEstimate GaussianBatchRequest::diskEstimate(qint64 blockSize) const
{
    // Exact cuts hold their cover to the cell, ladder cuts between it and
    // the next whole percentage.
    const double upper = cut == FractalCut::Exact ? 0.0 : 1.0;
    return DiskSpace::sweptMaps(*this, double(axisValues().size()), writeSurfaces, nameTail(*this),
                                blockSize, [upper](int cover) {
                                    return std::pair(std::clamp(cover / 100.0, 0.0, 1.0),
                                                     std::clamp((cover + upper) / 100.0, 0.0, 1.0));
                                });
}

QList<Phrase> GaussianBatchRequest::unusedOptions(const QStringList &given) const
{
    QList<Phrase> unused;
    const bool fbm = model == CovarianceModel::Fbm;
    const QString word = wordOf(model);
    if (given.contains(QStringLiteral("nu")) && model != CovarianceModel::Matern)
        unused.append(Phrase::marked(tr("{nu} is the smoothness of the matern model; the %1 "
                                        "model does not use it"))
                          .arg(word));
    if (given.contains(QStringLiteral("range")) && fbm)
        unused.append(Phrase::marked(tr("{range} is not used by fbm fields, which sweep {hurst}")));
    if (given.contains(QStringLiteral("hurst")) && !fbm)
        unused.append(Phrase::marked(tr("{hurst} is used by fbm fields only; the %1 model "
                                        "sweeps {range}"))
                          .arg(word));
    return unused;
}

void GaussianBatchRequest::makePilot(int samples)
{
    cut = FractalCut::Exact;
    replicates = samples;
}
