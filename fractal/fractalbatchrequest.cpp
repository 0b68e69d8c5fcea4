// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fractalbatchrequest.h"

#include "core/batch/diskspace.h"
#include "core/batch/requestchecks.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FractalBatchRequest", text);
}

// H "%.2f", "_", cover "%03i", "_", replicate "%05i", ".txt"
int nameTail(const FractalBatchRequest &request)
{
    return 4 + 1 + 3 + 1 + std::max(5, DiskSpace::decimalLength(request.replicates)) + 4;
}

// The most maps one H can give: a surface gives at most one map per
// threshold of the ladder, or per requested cover when cut exactly.
double mapsPerHAtMost(const FractalBatchRequest &request)
{
    const double cutsPerSurface = request.cut == FractalCut::Exact
                                      ? double(std::max<qint64>(request.covers.count(), 0))
                                      : double(ladderSteps);
    return double(request.surfaces) * cutsPerSurface;
}

// The name of a surface file: the prefix, H "%.2f", "_surface_", the seed
// "%05i" and the extension.
double surfaceNameBytes(const FractalBatchRequest &request)
{
    const qint64 lastSeed = qint64(request.firstSeed) + std::max(request.surfaces, 1) - 1;
    return double(request.output.prefix.toUtf8().size() + 4 + 9 +
                  std::max(5, DiskSpace::decimalLength(lastSeed)) + 4);
}

// A surface has one row and one column more than its maps. As an ESRI grid
// each value takes at most 14 characters ("-1.234567e-100") and a space,
// the header at most 1 KiB; as a GeoTIFF 4 bytes, which compression may
// outgrow by a little, and its tags and offsets.
double surfaceFileBytes(const FractalBatchRequest &request, qint64 blockSize)
{
    const double points = (double(request.shape.rows) + 1) * (double(request.shape.columns) + 1);
    const double bytes = request.output.format == MapFormat::GeoTiff ? points * 4 * 1.01 + 65536
                                                                     : points * 15 + 1024;
    return DiskSpace::roundUpToBlocks(bytes, blockSize);
}

} // namespace

std::optional<Phrase> FractalBatchRequest::refusal() const
{
    const auto tooLarge = [this]() -> std::optional<QString> {
        if (shape.longerSide() <= maxMapSize)
            return std::nullopt;
        return tr("fractal maps can be at most %1 cells per side; %2 was requested")
            .arg(maxMapSize)
            .arg(shape.longerSide());
    };
    // Ladder cuts and shared surfaces tie one map to another; a map kept
    // for its metrics must be a sample of its own.
    const auto dependentDraws = [this]() -> std::optional<Phrase> {
        if (output.selects() &&
            (generator != Generator::Philox || cut != FractalCut::Exact || !distinctSurfaces))
            return Phrase::marked(tr("{target} needs independent draws: add {generator philox} "
                                     "{cut exact} {distinct_surfaces}"));
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
        [this] { return output.refusal(); }, [this] { return ladderClassRefusal(cut, output); },
        [this] { return blendCutRefusal(*this, cut, shape.rows + 1, shape.columns + 1); });
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

bool FractalBatchRequest::ownsCell(std::size_t hIndex, qint64 coverIndex) const
{
    if (coverIndex < 0)
        return false;
    if (!output.shard)
        return true;
    const qint64 units = shareUnits();
    if (writeSurfaces)
        return output.shard->owns(qint64(hIndex), units);
    return output.shard->owns(qint64(hIndex) * covers.count() + coverIndex, units);
}

qint64 FractalBatchRequest::plannedMaps() const
{
    if (!output.shard)
        return mapCount();
    qint64 cells = 0;
    const std::size_t hCount = hurst.values().size();
    for (std::size_t h = 0; h < hCount; ++h)
        for (qint64 c = 0; c < covers.count(); ++c)
            cells += ownsCell(h, c) ? 1 : 0;
    return cells * replicates;
}

DiskEstimate FractalBatchRequest::diskEstimate(qint64 blockSize) const
{
    // An upper bound: every requested cover gets all its replicates for
    // every H (a surface gives at most one map per threshold), and each cell
    // is counted with the longer code the map's cover allows.
    DiskEstimate estimate;
    const double share = DiskSpace::shareOf(*this);
    const qint64 perH = std::min(std::max<qint64>(covers.count(), 0) * std::max(replicates, 0),
                                 qint64(mapsPerHAtMost(*this)));
    const qint64 surfacesPerHAtMost =
        writeSurfaces ? std::min<qint64>(perH, std::max(surfaces, 0)) : 0;
    const qint64 ownFiles = qint64(
        std::ceil(double(hurst.values().size()) * double(perH + surfacesPerHAtMost) * share));
    estimate.files = ownFiles + DiskSpace::recordFiles(output);
    // Surfaces are counted as maps: their names are as long, and the
    // journal names them too.
    estimate.recordBytes = DiskSpace::recordBytes(output, double(ownFiles), nameTail(*this) + 4);
    const auto hCount = double(hurst.values().size());
    if (shape.rows < 1 || shape.columns < 1 || replicates < 1 || hCount < 1)
        return estimate;
    // A map counted for cover c holds between c and c + 1 per cent habitat.
    auto largestMap = [&](int cover) {
        const double low = std::clamp(cover / 100.0, 0.0, 1.0);
        const double high = std::clamp((cover + 1) / 100.0, 0.0, 1.0);
        return DiskSpace::roundUpToBlocks(std::max(DiskSpace::mapBytes(output, shape, low),
                                                   DiskSpace::mapBytes(output, shape, high)),
                                          blockSize);
    };
    double bytesPerH = 0;
    double mapsPerH = 0;
    double largest = 0;
    for (const int cover : covers.values()) {
        bytesPerH += replicates * largestMap(cover);
        mapsPerH += replicates;
        largest = std::max(largest, largestMap(cover));
    }
    if (mapsPerH > mapsPerHAtMost(*this)) {
        bytesPerH = mapsPerHAtMost(*this) * largest;
        mapsPerH = mapsPerHAtMost(*this);
    }
    double surfaceBytes = 0;
    if (writeSurfaces) {
        // A surface is written with the first map cut from it, so no H
        // writes more surfaces than maps; its name goes into every row of
        // the manifest.
        const double perHSurfaces = std::min(mapsPerH, double(std::max(surfaces, 0)));
        surfaceBytes = hCount * perHSurfaces * surfaceFileBytes(*this, blockSize);
        surfaceBytes +=
            DiskSpace::roundUpToBlocks(hCount * mapsPerH * surfaceNameBytes(*this), blockSize);
    }
    estimate.bytes = (hCount * bytesPerH + surfaceBytes) * share +
                     DiskSpace::runRecordBytes(output, std::ceil(hCount * mapsPerH * share),
                                               nameTail(*this), blockSize);
    return estimate;
}

void FractalBatchRequest::makePilot(int samples)
{
    generator = Generator::Philox;
    cut = FractalCut::Exact;
    distinctSurfaces = true;
    surfaces = samples;
    replicates = samples;
}
