// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/mapfamily.h"
#include "gaussian/gaussianfield.h"

// A batch of maps cut from Gaussian random fields (gaussian/gaussianfield.h):
// for every range (or, for fbm, every H), cover and replicate, a field of its
// own drawn from the seed, cut at that cover.
struct GaussianBatchRequest final : FamilyRequest {
    static constexpr HundredthsLimits firstRangeLimits{0.1, 10000.0};
    static constexpr HundredthsLimits lastRangeLimits{0.1, 10000.0};
    static constexpr HundredthsLimits rangeStepLimits{0.01, 10000.0};
    // The exact construction of fbm has a surface for H strictly between 0
    // and 1; the embedding refuses, with its reason, an H it cannot draw at
    // the requested size.
    static constexpr HundredthsLimits firstHurstLimits{0.01, 0.99};
    static constexpr HundredthsLimits lastHurstLimits{0.01, 0.99};
    static constexpr HundredthsLimits hurstStepLimits{0.01, 0.98};
    static constexpr HundredthsLimits nuLimits{0.1, 10.0};
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    // A field of 8192 x 8192 cells takes a periodic grid of 16384 points a
    // side, 2 GiB of spectrum while it is drawn.
    static constexpr IntLimits sizeLimits{2, 8192};
    static constexpr const char *sizeNote = nullptr;
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits seedLimits{0, 1000000000};
    static constexpr const char *targetNote = "Needs {cut exact}, the default.";
    static constexpr const char *shareNote =
        "Gaussian field batches are shared out by map (by cell of range and cover with "
        "{target}), each field drawn from its own stream.";
    static constexpr const char *drawNote = nullptr;

    CovarianceModel model = CovarianceModel::Exponential;
    // In cells; not used by fbm.
    HurstRange ranges{5.0, 45.0, 5.0};
    // fbm only.
    HurstRange hurst;
    // matern only.
    double nu = 1.0;
    qint32 seed = 0;
    // This family has no earlier maps to stay the same as: its cuts are
    // exact unless asked otherwise.
    FractalCut cut = FractalCut::Exact;
    // Also writes the field every map was cut from.
    bool writeSurfaces = false;

    const MapFamily &family() const override;
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<GaussianBatchRequest>(*this);
    }
    std::optional<Phrase> refusal() const override;
    // Axis values times covers times replicates.
    qint64 mapCount() const override;
    // Its maps, each drawn from its own stream, or with targets its cells
    // of a sweep value and a cover, whose maps depend on the draws before
    // them.
    qint64 shareUnits() const override;
    DiskEstimate diskEstimate(qint64 blockSize) const override;
    void makePilot(int samples) override;
    QList<Phrase> unusedOptions(const QStringList &given) const override;
    SweepAxis sweepAxis() const override
    {
        // Ranges run to 10000.00; H keeps the narrow column it always had.
        return {model == CovarianceModel::Fbm ? QStringLiteral("H") : QStringLiteral("range"), -8};
    }

    // The values of the batch's sweep: the ranges, or the H values for fbm.
    const HurstRange &axis() const { return model == CovarianceModel::Fbm ? hurst : ranges; }
    std::vector<double> axisValues() const { return axis().values(); }
};
