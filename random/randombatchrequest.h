// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/mapfamily.h"

// A batch of random maps: for every cover, REPLICATES maps in which each
// cell is habitat with the cover as probability.
struct RandomBatchRequest final : FamilyRequest {
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    static constexpr IntLimits sizeLimits{2, 9999999};
    static constexpr const char *sizeNote = nullptr;
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits seedLimits{-999999, 999999};
    static constexpr const char *targetNote = "Needs {generator philox}.";
    static constexpr const char *shareNote =
        "Random batches are shared out by map (by cover with {target}); the classic generator "
        "jumps ahead to where a share's draws start.";
    static constexpr const char *drawNote = nullptr;

    // The settings dialog starts every process at 5.
    qint32 seed = 5;
    Generator generator = Generator::Classic;
    // Ladder stands for each cell drawn alone, as every earlier batch drew;
    // Exact ranks a Philox field for exact counts (its word is "exact").
    FractalCut cut = FractalCut::Ladder;
    // An exact cut holds the map's uniform field, 8 bytes a cell.
    static constexpr qint64 mostRankedCells = qint64(1) << 28;

    const MapFamily &family() const override;
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<RandomBatchRequest>(*this);
    }
    // A range that visits no cover is refused: it would write an empty list
    // over the folder's old one.
    std::optional<Phrase> refusal() const override;
    // Covers times replicates, 0 when reversed.
    qint64 mapCount() const override;
    // Its maps, each made alone (the classic generator jumps to a map's
    // first draw), or with targets its covers, whose maps depend on the
    // draws before them.
    qint64 shareUnits() const override { return output.selects() ? covers.count() : mapCount(); }
    DiskEstimate diskEstimate(qint64 blockSize) const override;
    void makePilot(int samples) override;
    bool samplingChanged() const
    {
        return generator != Generator::Classic || cut != FractalCut::Ladder;
    }
    // Whether the maps are written as classes: cut exactly, or given
    // classes or a study area.
    bool writesClasses() const { return cut == FractalCut::Exact || output.cutsClasses(); }
};
