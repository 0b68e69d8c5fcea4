// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/mapfamily.h"
#include "core/batch/surfacecut.h"

// A batch of fractal maps: for every H, surfaces built from the seeds
// firstSeed, firstSeed + 1, ... (at most `surfaces` of them) are cut until
// every requested cover has its replicates.
struct FractalBatchRequest final : FamilyRequest {
    static constexpr HundredthsLimits firstHurstLimits{0.1, 1.0};
    static constexpr HundredthsLimits lastHurstLimits{0.01, 1.0};
    static constexpr HundredthsLimits hurstStepLimits{0.01, 1.0};
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    // The dialog takes any size a random map could have; a fractal map is
    // cut from a lattice of 4097 points a side and cannot be larger.
    static constexpr IntLimits sizeLimits{2, 9999999};
    static constexpr int maxMapSize = 4096;
    static constexpr const char *sizeNote = "at most 4096 for fractal maps";
    static constexpr IntLimits replicateLimits{1, 999999};
    // Every H builds up to `surfaces` surfaces from the seeds firstSeed,
    // firstSeed + 1, ... and cuts each at a ladder of this many thresholds.
    static constexpr int surfacesPerH = 200;
    static constexpr IntLimits surfaceLimits{1, 10000000};
    static constexpr IntLimits firstSeedLimits{0, 1000000000};
    static constexpr const char *targetNote =
        "Needs {generator philox} {cut exact} {distinct_surfaces}.";
    static constexpr const char *shareNote =
        "Fractal batches are shared out by cell of H and cover (by H with {write_surfaces}).";
    static constexpr const char *drawNote = "An H also builds at most this many surfaces.";

    HurstRange hurst;
    Generator generator = Generator::Classic;
    FractalCut cut = FractalCut::Ladder;
    // No surface gives two maps of one H and cover: the replicates of a
    // cover come from different surfaces.
    bool distinctSurfaces = false;
    int surfaces = surfacesPerH;
    int firstSeed = 0;
    // Also writes, for every surface that gave a map, the rescaled surface
    // block the maps were cut from.
    bool writeSurfaces = false;

    const MapFamily &family() const override;
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<FractalBatchRequest>(*this);
    }
    std::optional<Phrase> refusal() const override;
    // The maps the dialog promises: H values times covers times
    // replicates. A run can write fewer when no surface reaches a cover.
    qint64 mapCount() const override;
    // Its cells of H and cover, or with surface files its H values (see
    // ownsCell).
    qint64 shareUnits() const override;
    qint64 plannedMaps() const override;
    DiskEstimate diskEstimate(qint64 blockSize) const override;
    void makePilot(int samples) override;
    SweepAxis sweepAxis() const override { return {QStringLiteral("H"), -5}; }

    // Whether any choice of how maps are sampled differs from the classic
    // one, which the manifest then records for every map.
    bool samplingChanged() const;
    // Whether this run makes the maps of the hIndex-th H and the
    // coverIndex-th cover. A
    // batch is shared out by cell of H and cover: an H counts the
    // replicates of each cover on its own, and a cut of one cover never
    // depends on another's, so the maps of a cell are the same whichever
    // other cells a run makes; only how many surfaces it builds depends on
    // them. With surface files it is shared out by H, since a surface file
    // records the cuts of every cover.
    bool ownsCell(std::size_t hIndex, qint64 coverIndex) const;
};
