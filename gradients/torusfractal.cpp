// SPDX-License-Identifier: GPL-3.0-or-later
#include "gradients/gradientfamilies.h"

#include "core/batch/drawnfamily.h"

#include <QCoreApplication>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("TorusFractal", text);
}

// The draws of a torus fractal (core/batch/drawnfamily.h): element k is the
// lattice point k, row-major, purpose 0; its four words make its
// displacement.
constexpr philox::Domain torusDomain{0x50u};

// The lattice is a square whose side is a power of two; the map is its top
// left corner, and is itself periodic when it is the whole lattice.
constexpr int largestSide = 4096;

int latticeSide(const MapShape &shape)
{
    return int(std::bit_ceil(unsigned(std::max({shape.rows, shape.columns, 2}))));
}

// A displacement of mean 0 and variance 1: the sum of four uniforms on
// [0, 1), each of 32 bits, centred and scaled. Only sums and one product of
// exact values, so that it is the same double on every machine.
double displacement(const philox::Counter &bits)
{
    static const double scale = std::sqrt(3.0) * 0x1.0p-32;
    const double sum =
        double(bits.v[0]) + double(bits.v[1]) + double(bits.v[2]) + double(bits.v[3]);
    return (sum - 2.0 * 0x1.0p32) * scale;
}

struct TorusRequest final : DrawnRequest {
    static constexpr HundredthsLimits hurstLimits{0.0, 1.0};

    double hurst = 0.5;

    const MapFamily &family() const override { return torusFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<TorusRequest>(*this);
    }
    std::optional<Phrase> ownRefusal() const override
    {
        if (auto refusal = outsideOption("hurst", hurst, hurstLimits))
            return refusal;
        if (std::max(shape.rows, shape.columns) > largestSide)
            return Phrase::marked(tr("torus maps are drawn on a square lattice of a power of "
                                     "two cells a side, at most %1: a map of %2 x %3 cells "
                                     "needs more"))
                .arg(largestSide)
                .arg(shape.rows)
                .arg(shape.columns);
        return std::nullopt;
    }
    QList<ManifestField> ownColumns() const override
    {
        return {{"hurst", QByteArray::number(hurst, 'f', 2), ManifestType::Measure},
                {"lattice", QByteArray::number(latticeSide(shape)), ManifestType::Whole}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;
};

// Midpoint displacement on a torus: the diamond and square steps of every
// level read their neighbours across the edges, so that the lattice has no
// border and its last row and column lead back to its first. Each level's
// displacements are 2^-H times the level before's.
std::optional<QString> TorusRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const DrawStream stream(std::uint32_t(seed), torusDomain, place);
    const int side = latticeSide(shape);
    const int wrap = side - 1;
    std::vector<double> lattice(std::size_t(side) * std::size_t(side), 0.0);
    const auto at = [&lattice, side, wrap](int row, int column) -> double & {
        return lattice[std::size_t(row & wrap) * std::size_t(side) + std::size_t(column & wrap)];
    };
    const auto displaced = [&stream, side, wrap](int row, int column, double mean, double scale) {
        const auto element = std::uint32_t((row & wrap) * side + (column & wrap));
        return mean + scale * displacement(stream.bits(element, 0));
    };
    const double shrink = std::exp2(-hurst);
    at(0, 0) = displaced(0, 0, 0.0, 1.0);
    double scale = 1.0;
    for (int step = side; step > 1; step /= 2) {
        const int half = step / 2;
        scale *= shrink;
        for (int r = 0; r < side; r += step)
            for (int c = 0; c < side; c += step)
                at(r + half, c + half) = displaced(
                    r + half, c + half,
                    (at(r, c) + at(r, c + step) + at(r + step, c) + at(r + step, c + step)) / 4.0,
                    scale);
        for (int r = 0; r < side; r += step) {
            for (int c = 0; c < side; c += step) {
                at(r, c + half) = displaced(
                    r, c + half,
                    (at(r, c) + at(r, c + step) + at(r - half, c + half) + at(r + half, c + half)) /
                        4.0,
                    scale);
                at(r + half, c) = displaced(
                    r + half, c,
                    (at(r, c) + at(r + step, c) + at(r + half, c - half) + at(r + half, c + half)) /
                        4.0,
                    scale);
            }
        }
    }

    map.classes.clear();
    map.surface.resize(std::size_t(shape.cells()));
    for (int r = 0; r < shape.rows; ++r)
        std::copy_n(lattice.begin() + std::ptrdiff_t(r) * side, shape.columns,
                    map.surface.begin() + std::ptrdiff_t(r) * shape.columns);
    rescaleSurface(map);
    return std::nullopt;
}

class TorusFamily final : public DrawnFamily<TorusRequest> {
public:
    const char *word() const override { return "torus"; }
    QString summary() const override
    {
        return tr("Torus fractal: midpoint displacement with no edges, for periodic maps");
    }
    QString title() const override { return tr("Torus fractal"); }
    QString menuText() const override { return tr("&Torus fractal…"); }
    QString description() const override
    {
        return tr("Writes a batch of torus fractal maps: for every cover and replicate,\n"
                  "midpoint displacement (diamond and square steps) on a square lattice of N\n"
                  "x N points, N the power of two at least the map's longer side (at most\n"
                  "4096), whose steps read their neighbours across the edges, so that the\n"
                  "lattice wraps around in both directions. Each level's displacements are\n"
                  "2^-H times the level before's (--hurst H); every lattice point has one\n"
                  "displacement of mean 0 and variance 1 drawn from the seed. The map is the\n"
                  "lattice's top-left corner, and is periodic itself when its sides are N:\n"
                  "its right edge continues into its left and its bottom into its top. It is\n"
                  "rescaled to 0..1 and cut exactly at the cover or into the classes.\n") +
               drawnFileNaming(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 torus --out maps --size 256 --hurst 0.7 --cover 20:60:20 --replicates 5\n"
            "  %1 torus --out land --size 512 --hurst 0.4 --proportions 50,30,20\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("TOR_"); }

    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "hurst",
             .type = OptionType::Number,
             .scope = OptionScope::Maps,
             .valueName = "H",
             .help = "How smooth the surface is, 0 to 1: each level's displacements are 2^-H "
                     "times the level before's.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<TorusRequest &>(r).hurst;
             },
             .limits = OptionLimits::of(TorusRequest::hurstLimits),
             .manifestColumn = "hurst",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the surface every map was cut from (the lattice's corner rescaled "
                 "to 0..1), named as the map with _surface (float32 .tif with {format tif}, else "
                 "an ESRI grid with 7 significant digits).");
        return rows;
    }
};

} // namespace

const MapFamily &torusFamily()
{
    static const TorusFamily family;
    return family;
}
