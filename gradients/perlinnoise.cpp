// SPDX-License-Identifier: GPL-3.0-or-later
#include "gradients/gradientfamilies.h"

#include "core/batch/drawnfamily.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("PerlinNoise", text);
}

// The draws of Perlin noise (core/batch/drawnfamily.h): element k is the
// k-th lattice point of an octave, row-major, purpose the octave, counted
// from 0; word 0 and 1 its gradient's angle. No permutation table: every
// lattice point of every octave has a gradient of its own.
constexpr philox::Domain perlinDomain{0x4Eu};

// The quintic fade 6t^5 - 15t^4 + 10t^3: its first and second derivatives
// vanish at the lattice points, so the noise has no creases along them.
double fade(double t)
{
    return t * t * t * (t * (t * 6.0 - 15.0) + 10.0);
}

struct PerlinRequest final : DrawnRequest {
    static constexpr HundredthsLimits periodLimits{1.0, 100000.0};
    static constexpr IntLimits octaveLimits{1, 24};
    static constexpr HundredthsLimits lacunarityLimits{1.0, 16.0};
    static constexpr HundredthsLimits persistenceLimits{0.0, 1.0};

    double periods = 4.0;
    int octaves = 1;
    double lacunarity = 2.0;
    double persistence = 0.5;

    const MapFamily &family() const override { return perlinFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<PerlinRequest>(*this);
    }
    // Lattice cells across the map in the octave-th octave.
    double frequency(int octave) const { return periods * std::pow(lacunarity, octave); }
    std::optional<Phrase> ownRefusal() const override
    {
        if (auto refusal = outsideOption("periods", periods, periodLimits))
            return refusal;
        if (auto refusal = outsideOption("octaves", octaves, octaveLimits))
            return refusal;
        if (auto refusal = outsideOption("lacunarity", lacunarity, lacunarityLimits))
            return refusal;
        if (auto refusal = outsideOption("persistence", persistence, persistenceLimits))
            return refusal;
        // A lattice cell below a map cell is noise the cells cannot show,
        // and lattices that grow without bound with the octaves.
        const double finest = frequency(octaves - 1);
        const int side = std::min(shape.rows, shape.columns);
        if (finest > side)
            return Phrase::marked(tr("{periods} %1 with {octaves} %2 and {lacunarity} %3 makes "
                                     "the last octave's period %4 of a cell: a period must span "
                                     "a cell of the map's shorter side (%5 cells) at least"))
                .arg(QString::number(periods))
                .arg(octaves)
                .arg(QString::number(lacunarity))
                .arg(QString::number(side / finest, 'g', 3))
                .arg(side);
        return std::nullopt;
    }
    QList<ManifestField> ownColumns() const override
    {
        return {{"periods", QByteArray::number(periods, 'g', 17), ManifestType::Measure},
                {"octaves", QByteArray::number(octaves), ManifestType::Whole},
                {"lacunarity", QByteArray::number(lacunarity, 'g', 17), ManifestType::Measure},
                {"persistence", QByteArray::number(persistence, 'g', 17), ManifestType::Measure}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;
};

std::optional<QString> PerlinRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const DrawStream stream(std::uint32_t(seed), perlinDomain, place);
    const int rows = shape.rows;
    const auto columns = std::size_t(shape.columns);
    map.classes.clear();
    map.surface.assign(std::size_t(shape.cells()), 0.0);
    // Where each column and row lies on an octave's lattice: the lattice
    // cell, the offset within it and its fade, worked out once a line.
    struct Place {
        std::size_t cell;
        double offset;
        double fade;
    };
    std::vector<Place> across(columns);
    std::vector<double> gx, gy;
    double amplitude = 1.0;
    for (int octave = 0; octave < octaves; ++octave, amplitude *= persistence) {
        const double f = frequency(octave);
        // The lattice points a map needs: the cell centres lie strictly
        // inside [0, f) along each side.
        const auto points = std::size_t(std::ceil(f)) + 1;
        gx.resize(points * points);
        gy.resize(points * points);
        for (std::size_t k = 0; k < points * points; ++k) {
            const double angle =
                2.0 * std::numbers::pi * stream.uniform(std::uint32_t(k), std::uint32_t(octave));
            gx[k] = std::cos(angle);
            gy[k] = std::sin(angle);
        }
        const auto placeOf = [f](std::size_t index, std::size_t count) {
            const double at = (double(index) + 0.5) / double(count) * f;
            const double cell = std::floor(at);
            return Place{std::size_t(cell), at - cell, fade(at - cell)};
        };
        for (std::size_t col = 0; col < columns; ++col)
            across[col] = placeOf(col, columns);
        for (int r = 0; r < rows; ++r) {
            const Place down = placeOf(std::size_t(r), std::size_t(rows));
            const double *topX = gx.data() + down.cell * points;
            const double *topY = gy.data() + down.cell * points;
            const double *bottomX = topX + points;
            const double *bottomY = topY + points;
            const double y0 = down.offset;
            const double y1 = down.offset - 1.0;
            double *out = map.surface.data() + std::size_t(r) * columns;
            for (std::size_t col = 0; col < columns; ++col) {
                const Place &a = across[col];
                const std::size_t i = a.cell;
                const double x0 = a.offset;
                const double x1 = a.offset - 1.0;
                const double top0 = topX[i] * x0 + topY[i] * y0;
                const double top1 = topX[i + 1] * x1 + topY[i + 1] * y0;
                const double bottom0 = bottomX[i] * x0 + bottomY[i] * y1;
                const double bottom1 = bottomX[i + 1] * x1 + bottomY[i + 1] * y1;
                const double top = top0 + a.fade * (top1 - top0);
                const double bottom = bottom0 + a.fade * (bottom1 - bottom0);
                out[col] += amplitude * (top + down.fade * (bottom - top));
            }
        }
    }
    rescaleSurface(map);
    return std::nullopt;
}

class PerlinFamily final : public DrawnFamily<PerlinRequest> {
public:
    const char *word() const override { return "perlin"; }
    QString summary() const override
    {
        return tr("Perlin noise: smooth gradient noise on a lattice, in octaves");
    }
    QString title() const override { return tr("Perlin noise"); }
    QString menuText() const override { return tr("Perli&n noise…"); }
    QString description() const override
    {
        return tr("Writes a batch of Perlin-noise maps: for every cover and replicate, the\n"
                  "sum over --octaves octaves of gradient noise, octave o on a lattice of\n"
                  "--periods x --lacunarity^o cells across each side of the map, weighted by\n"
                  "--persistence^o. Every lattice point has a unit gradient of a uniform\n"
                  "angle drawn from the seed; a cell's noise blends the four nearest\n"
                  "gradients' dot products with its centre by the quintic fade 6t^5 - 15t^4\n"
                  "+ 10t^3. The sum is rescaled to 0..1 and cut exactly at the cover or into\n"
                  "the classes.\n") +
               drawnFileNaming(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 perlin --out maps --periods 4 --octaves 4 --cover 20:60:20 --size 256\n"
            "  %1 perlin --out land --periods 2 --octaves 6 --persistence 0.6 --proportions "
            "40,35,25\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("PER_"); }

    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "periods",
             .type = OptionType::Number,
             .scope = OptionScope::Maps,
             .valueName = "K",
             .help = "Lattice cells across each side of the map in the first octave.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<PerlinRequest &>(r).periods;
             },
             .limits = OptionLimits::of(PerlinRequest::periodLimits),
             .manifestColumn = "periods",
             .pilot = true},
            {.key = "octaves",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Octaves added up; the last one's period must span a cell at least.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<PerlinRequest &>(r).octaves;
             },
             .limits = OptionLimits::of(PerlinRequest::octaveLimits),
             .manifestColumn = "octaves",
             .pilot = true},
            {.key = "lacunarity",
             .type = OptionType::Number,
             .scope = OptionScope::Maps,
             .valueName = "L",
             .help = "How many times finer each octave's lattice is than the one before.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<PerlinRequest &>(r).lacunarity;
             },
             .limits = OptionLimits::of(PerlinRequest::lacunarityLimits),
             .manifestColumn = "lacunarity",
             .pilot = true},
            {.key = "persistence",
             .type = OptionType::Number,
             .scope = OptionScope::Maps,
             .valueName = "P",
             .help = "The weight of each octave relative to the one before.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<PerlinRequest &>(r).persistence;
             },
             .limits = OptionLimits::of(PerlinRequest::persistenceLimits),
             .manifestColumn = "persistence",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the surface every map was cut from (the noise rescaled to 0..1), "
                 "named as the map with _surface (float32 .tif with {format tif}, else an ESRI "
                 "grid with 7 significant digits).");
        return rows;
    }
};

} // namespace

const MapFamily &perlinFamily()
{
    static const PerlinFamily family;
    return family;
}
