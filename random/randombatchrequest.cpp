// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/randombatchrequest.h"

#include "core/batch/diskspace.h"
#include "core/batch/requestchecks.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RandomBatchRequest", text);
}

// cover "%03i", "_", rows, "x", columns, "_a", replicate, ".txt"
int nameTail(const RandomBatchRequest &request)
{
    return 3 + 1 + DiskSpace::decimalLength(request.shape.rows) +
           DiskSpace::decimalLength(request.shape.columns) + 1 + 2 +
           DiskSpace::decimalLength(request.replicates) + 4;
}

} // namespace

std::optional<Phrase> RandomBatchRequest::refusal() const
{
    // Classic replicates continue one running sequence, so a map rejected
    // would change every map after it: only independent draws can be chosen.
    const auto dependentDraws = [this]() -> std::optional<Phrase> {
        if (output.selects() && generator != Generator::Philox)
            return Phrase::marked(tr("{target} needs independent draws: add {generator philox}"));
        return std::nullopt;
    };
    // The classic generator's draws are 15 bits, too coarse for shares
    // with decimals, and run in one sequence, which a ranking cannot jump
    // into.
    const auto philoxClasses = [this]() -> std::optional<Phrase> {
        if (generator == Generator::Philox)
            return std::nullopt;
        if (cut == FractalCut::Exact)
            return Phrase::marked(tr("{cut exact} ranks a Philox field: add {generator philox}"));
        if (output.cutsClasses() && !output.classShares().empty())
            return Phrase::marked(
                tr("classes drawn cell by cell need {generator philox}, whose draws hold any "
                   "share"));
        return std::nullopt;
    };
    const auto rankedCells = [this]() -> std::optional<QString> {
        if (cut != FractalCut::Exact || shape.cells() <= mostRankedCells)
            return std::nullopt;
        return tr("an exact cut ranks the %1 cells of a map held in memory; it takes at most %2")
            .arg(shape.cells())
            .arg(mostRankedCells);
    };
    return firstRefusal(
        [this] { return sweepRefusal(*this); },
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the seed", seed, seedLimits); }, dependentDraws, philoxClasses,
        rankedCells, [this] { return output.refusal(); });
}

qint64 RandomBatchRequest::mapCount() const
{
    return std::max<qint64>(0, covers.count() * replicates);
}

DiskEstimate RandomBatchRequest::diskEstimate(qint64 blockSize) const
{
    // A random map of cover c has, on average, c per cent of its cells
    // written as the cover code, so the estimate follows the covers. Each
    // file is rounded up to whole blocks, which dominates for tiny maps.
    DiskEstimate estimate;
    const double share = DiskSpace::shareOf(*this);
    const double maps = std::ceil(double(mapCount()) * share);
    estimate.files = qint64(maps) + DiskSpace::recordFiles(output);
    estimate.recordBytes = DiskSpace::recordBytes(output, maps, nameTail(*this));
    if (shape.rows < 1 || shape.columns < 1 || replicates < 1)
        return estimate;
    double bytes = 0;
    double all = 0;
    for (const int cover : covers.values()) {
        const double fraction = std::clamp(cover / 100.0, 0.0, 1.0);
        bytes += replicates * DiskSpace::roundUpToBlocks(
                                  DiskSpace::mapBytes(output, shape, fraction), blockSize);
        all += replicates;
    }
    estimate.bytes = bytes * share + DiskSpace::runRecordBytes(output, std::ceil(all * share),
                                                               nameTail(*this), blockSize);
    return estimate;
}

void RandomBatchRequest::makePilot(int samples)
{
    generator = Generator::Philox;
    replicates = samples;
}
