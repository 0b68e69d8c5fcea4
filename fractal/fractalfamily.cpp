// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fractalfamily.h"

#include "core/batch/commonoptions.h"
#include "core/batch/rangeparser.h"
#include "core/batch/surfaceblend.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fractalbatchrequest.h"
#include "fractal/fractalmapgenerator.h"
#include "fractal/fractalnames.h"

#include <QCoreApplication>

#include <new>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FractalFamily", text);
}

FractalBatchRequest &fractalOf(FamilyRequest &request)
{
    return static_cast<FractalBatchRequest &>(request);
}

class FractalFamily final : public FamilyOf<FractalBatchRequest, FractalMapGenerator> {
public:
    const char *word() const override { return "fractal"; }
    QString summary() const override
    {
        return tr("fractal (midpoint-displacement) maps cut at the requested covers");
    }
    QString title() const override { return tr("Fractal landscapes"); }
    QString description() const override
    {
        return tr("Writes a batch of fractal maps. For every H, surfaces are built for the seeds\n"
                  "0 to 199 (see --first-seed, --surfaces) and cut at 80 thresholds (see --cut);\n"
                  "every cut whose cover is a requested one still short of REPLICATES maps is\n"
                  "written. Files are named PREFIX + H (two decimals) + _ + cover (3 digits) +\n"
                  "_ + replicate (5 digits) + .txt (.asc, .tif);\n"
                  "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                  "manifest.csv are written beside them. Maps can be at most %1 cells per side.")
            .arg(FractalBatchRequest::maxMapSize);
    }
    QString examples() const override
    {
        return QStringLiteral("  %1 fractal --out maps --hurst 0.1:0.9:0.2 --cover 20:60:20\n"
                              "  %1 fractal --out maps-exact --hurst 0.5 --cover 30 --replicates "
                              "50 --generator philox --cut exact --distinct-surfaces\n"
                              "  %1 fractal --out surfaces --size 513 --cover 40 "
                              "--write-surfaces --format asc\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("FBM_"); }
    int configLine() const override { return 2; }
    bool listsByName() const override { return true; }

    std::optional<QString> misreadArguments(const QStringList &arguments) const override
    {
        // --surfaces N says how many surfaces each H may build. A bare
        // --surfaces once asked for the surface files; taking the next
        // option as its number, or guessing, would run another batch than
        // meant.
        for (qsizetype i = 1; i < arguments.size(); ++i) {
            if (arguments[i] == QLatin1String("--surfaces") &&
                (i + 1 == arguments.size() || !parseInt(arguments[i + 1])))
                return QStringLiteral("--surfaces takes the number of surfaces each H may "
                                      "build; --write-surfaces writes the surface files");
        }
        // The H range was once given as --h, which now asks for help; a
        // script still using it would otherwise print the help and succeed
        // without a single map.
        for (const QString &argument : arguments.mid(1))
            if (argument == QLatin1String("--h") || argument.startsWith(QLatin1String("--h=")))
                return QStringLiteral("--h is no longer the H range: use --hurst "
                                      "FIRST:LAST:STEP (or -H); -h and --help show the help");
        return std::nullopt;
    }

    std::span<const BatchOption> options() const override
    {
        using Request = FractalBatchRequest;
        static const BatchOption own[] = {
            {.key = "hurst",
             .type = OptionType::HurstSweep,
             .scope = OptionScope::Maps,
             .valueName = "FIRST:LAST:STEP",
             .help = "Hurst exponents, with at most two decimals.",
             .field = [](FamilyRequest &r) -> OptionField { return &fractalOf(r).hurst; },
             .limits = OptionLimits::sweep(Request::firstHurstLimits, Request::lastHurstLimits,
                                           Request::hurstStepLimits),
             .shortName = "H",
             .valueNoun = "H",
             .manifestColumn = "H",
             .pilot = true},
            {.key = "surfaces",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Surfaces each H may build.",
             .field = [](FamilyRequest &r) -> OptionField { return &fractalOf(r).surfaces; },
             .limits = OptionLimits::of(Request::surfaceLimits),
             .manifestColumn = "surfaces_per_h"},
            {.key = "first_seed",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "S",
             .help = "Seed of each H's first surface; give runs of different H disjoint seeds "
                     "with it.",
             .field = [](FamilyRequest &r) -> OptionField { return &fractalOf(r).firstSeed; },
             .limits = OptionLimits::of(Request::firstSeedLimits),
             .manifestColumn = "first_seed",
             .pilot = true},
            {.key = "distinct_surfaces",
             .type = OptionType::Flag,
             .scope = OptionScope::Maps,
             .valueName = nullptr,
             .help = "No surface gives two maps of one H and cover: replicates come from "
                     "different surfaces.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &fractalOf(r).distinctSurfaces;
             },
             .manifestColumn = "distinct_surfaces"},
            commonoptions::cutRow<Request>(
                "How a surface is cut: ladder (80 fixed thresholds) or exact (at its own "
                "quantile, so each map holds exactly round(cover x cells / 100) habitat "
                "cells)."),
            commonoptions::blendRow(),
            commonoptions::writeSurfacesRow<Request>(
                "Also writes, for every surface that gave a map, the rescaled surface the "
                "maps were cut from (PREFIX + H + _surface_ + seed; float32 .tif with "
                "{format tif}, else an ESRI grid with 7 significant digits); the manifest "
                "then names it."),
        };
        static const std::vector<BatchOption> rows = commonoptions::rows<Request>(own);
        return rows;
    }
    const NameScheme &names() const override { return fractalNames(); }
    bool blends() const override { return true; }

    // The rescaled surface block of the request's first H that the
    // replicate-th surface of a batch gives (the seed first_seed +
    // replicate - 1), one row and one column larger than its maps.
    std::optional<Phrase> surface(const FamilyRequest &request, qint64, qint64 replicate,
                                  Surface &surface) const override
    {
        const auto &fractal = static_cast<const FractalBatchRequest &>(request);
        if (auto refusal = fractal.refusal())
            return refusal;
        if (fractal.hurst.values().size() != 1)
            return Phrase::marked(tr("{hurst} is one H value, not a range"));
        const qint64 seed = fractal.firstSeed + replicate - 1;
        if (replicate < 1 || seed > FractalBatchRequest::firstSeedLimits.max)
            return Phrase(
                tr("the surface of replicate %1 has no seed of the batch's seeds").arg(replicate));
        FbmBlock block;
        block.values = std::move(surface.values);
        const FastFbmSurface::Status status = FastFbmSurface().generate(
            fractal.hurst.values().front(), fractal.shape.longerSide(), FbmSurface::defaultMaxLevel,
            int(seed), block, fractal.generator);
        if (status != FastFbmSurface::Status::Ok)
            throw std::bad_alloc();
        block.cropTo(fractal.shape.rows, fractal.shape.columns);
        if (!fractal.blends.empty()) {
            const SurfaceBlend blend(fractal, block.rows + 1, block.columns + 1);
            if (auto failure = blend.blend(block.values.data(), block.stride(), seed, 0, 1).failure)
                return Phrase(*failure);
        }
        surface.values = std::move(block.values);
        surface.rows = block.rows + 1;
        surface.columns = block.columns + 1;
        return std::nullopt;
    }
};

} // namespace

const MapFamily &fractalFamily()
{
    static const FractalFamily family;
    return family;
}

const MapFamily &FractalBatchRequest::family() const
{
    return fractalFamily();
}
