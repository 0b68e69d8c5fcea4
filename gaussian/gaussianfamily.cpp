// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianfamily.h"

#include "core/batch/commonoptions.h"
#include "gaussian/gaussianbatchrequest.h"
#include "gaussian/gaussianmapgenerator.h"
#include "gaussian/gaussiannames.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GaussianFamily", text);
}

GaussianBatchRequest &gaussianOf(FamilyRequest &request)
{
    return static_cast<GaussianBatchRequest &>(request);
}

class GaussianFamily final : public FamilyOf<GaussianBatchRequest, GaussianMapGenerator> {
public:
    const char *word() const override { return "gaussian"; }
    QString summary() const override
    {
        return tr("maps cut from Gaussian random fields or exact fBm surfaces");
    }
    QString title() const override { return tr("Gaussian field landscapes"); }
    QString menuText() const override { return tr("&Gaussian field…"); }
    QString description() const override
    {
        return tr("Writes a batch of maps cut from Gaussian random fields. For every range (or,\n"
                  "for --model fbm, every H), cover and replicate, a field of its own is drawn\n"
                  "exactly by circulant embedding and cut at the cover (exactly, by default).\n"
                  "The same seed and values give byte-identical files. Files are named PREFIX +\n"
                  "model + _r + range (_h + H for fbm; two decimals) + _ + cover (3 digits) +\n"
                  "_ + replicate (5 digits) + .txt (.asc, .tif); the batch list PREFIX +\n"
                  "ListFragStat.fbt and the manifest PREFIX + manifest.csv are written beside\n"
                  "them. The prefix is %1 unless --prefix gives one. Maps can be at most %2\n"
                  "cells per side.")
            .arg(defaultPrefix())
            .arg(GaussianBatchRequest::sizeLimits.max);
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 gaussian --out maps --model exponential --range 5:20:5 --cover 20:60:20\n"
            "  %1 gaussian --out maps-matern --model matern --nu 1.5 --range 10 --cover 30 "
            "--replicates 50 --metrics\n"
            "  %1 gaussian --out fields --model fbm --hurst 0.1:0.9:0.4 --size 513 --cover 40 "
            "--write-surfaces --format asc\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("GRF_"); }
    QStringList statusColumns() const override
    {
        return {QStringLiteral("model"), QStringLiteral("range"), QStringLiteral("nu")};
    }

    std::span<const BatchOption> options() const override
    {
        using Request = GaussianBatchRequest;
        // Fields are drawn from Philox alone, so the request has no choice
        // of generator.
        static const BatchOption own[] = {
            {.key = "model",
             .type = OptionType::Choice,
             .scope = OptionScope::Maps,
             .valueName = "MODEL",
             .help = "Covariance of the fields: exponential, gaussian or matern (each with the "
                     "correlation range {range}, in cells), or fbm, an exact fractional Brownian "
                     "surface of Hurst exponent {hurst} (see the README for the formulas).",
             .field = [](FamilyRequest &r) -> OptionField {
                 return choiceField(&gaussianOf(r).model);
             },
             .manifestColumn = "model",
             .choices = modelWords(),
             .pilot = true},
            {.key = "range",
             .type = OptionType::HurstSweep,
             .scope = OptionScope::Maps,
             .valueName = "FIRST:LAST:STEP",
             .help = "Correlation ranges in cells, with at most two decimals; one field per "
                     "range, cover and replicate. Not for fbm.",
             .field = [](FamilyRequest &r) -> OptionField { return &gaussianOf(r).ranges; },
             .limits = OptionLimits::sweep(Request::firstRangeLimits, Request::lastRangeLimits,
                                           Request::rangeStepLimits),
             .manifestColumn = "range",
             .pilot = true},
            {.key = "hurst",
             .type = OptionType::HurstSweep,
             .scope = OptionScope::Maps,
             .valueName = "FIRST:LAST:STEP",
             .help = "Hurst exponents of fbm fields, with at most two decimals.",
             .field = [](FamilyRequest &r) -> OptionField { return &gaussianOf(r).hurst; },
             .limits = OptionLimits::sweep(Request::firstHurstLimits, Request::lastHurstLimits,
                                           Request::hurstStepLimits),
             .shortName = "H",
             .valueNoun = "H",
             .manifestColumn = "H",
             .pilot = true},
            {.key = "nu",
             .type = OptionType::Number,
             .scope = OptionScope::Maps,
             .valueName = "NU",
             .help = "Smoothness of the matern model, with at most two decimals (0.5 is the "
                     "exponential model).",
             .field = [](FamilyRequest &r) -> OptionField { return &gaussianOf(r).nu; },
             .limits = OptionLimits::of(Request::nuLimits),
             .manifestColumn = "nu",
             .pilot = true},
            {.key = "seed",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Seed of the batch; each field is drawn from it, its range (or H), cover and "
                     "replicate.",
             .field = [](FamilyRequest &r) -> OptionField { return &gaussianOf(r).seed; },
             .limits = OptionLimits::of(Request::seedLimits),
             .manifestColumn = "seed",
             .pilot = true},
            commonoptions::cutRow<Request>(
                "How a field is cut: exact (at its own quantile, so each map holds exactly "
                "round(cover x cells / 100) habitat cells) or ladder (rescaled to 0..1 and "
                "cut at the lowest of 80 fixed thresholds whose whole percentage is the "
                "cover; a field none of them fits gives no map)."),
            commonoptions::blendRow(),
            commonoptions::writeSurfacesRow<Request>(
                "Also writes the field every map was cut from, named as the map with "
                "_surface (float32 .tif with {format tif}, else an ESRI grid with 7 "
                "significant digits); the manifest then names it."),
        };
        static const std::vector<BatchOption> rows = commonoptions::rows<Request>(own);
        return rows;
    }
    const NameScheme &names() const override { return gaussianNames(); }
    bool blends() const override { return true; }

    // The field a batch of the request, with one value of its sweep, draws
    // for a cover and a replicate (its draw, with targets), as drawn.
    std::optional<Phrase> surface(const FamilyRequest &request, qint64 cover, qint64 replicate,
                                  Surface &surface) const override
    {
        const auto &gaussian = static_cast<const GaussianBatchRequest &>(request);
        std::vector<double> values;
        if (auto refusal = GaussianMapGenerator::drawField(gaussian, cover, replicate, values))
            return refusal;
        surface.values.assign(values.begin(), values.end());
        surface.rows = gaussian.shape.rows;
        surface.columns = gaussian.shape.columns;
        return std::nullopt;
    }
};

} // namespace

const MapFamily &gaussianFamily()
{
    static const GaussianFamily family;
    return family;
}

const MapFamily &GaussianBatchRequest::family() const
{
    return gaussianFamily();
}
