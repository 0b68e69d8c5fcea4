// SPDX-License-Identifier: GPL-3.0-or-later
#include "mosaic/mosaicfamily.h"

#include "core/batch/drawnfamily.h"
#include "core/grid/nearestsource.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MosaicFamily", text);
}

// A mosaic's draws (core/batch/drawnfamily.h): element k is the k-th seed,
// purpose 0 its cell (words 0-1) and its value (words 2-3).
constexpr philox::Domain mosaicDomain{0x4Du};

struct MosaicRequest final : DrawnRequest {
    static constexpr IntLimits elementLimits{1, 67108864};

    int elements = 50;

    const MapFamily &family() const override { return mosaicFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<MosaicRequest>(*this);
    }
    std::optional<Phrase> ownRefusal() const override
    {
        if (auto refusal = outsideOption("elements", elements, elementLimits))
            return refusal;
        return moreThanCells("elements", elements, "element");
    }
    QList<ManifestField> ownColumns() const override
    {
        return {{"elements", QByteArray::number(elements), ManifestType::Whole},
                {"seed_cells", {}, ManifestType::LargeWhole}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;
};

std::optional<QString> MosaicRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const DrawStream stream(std::uint32_t(seed), mosaicDomain, place);
    const auto cells = std::size_t(shape.cells());
    map.classes.clear();
    map.surface.resize(cells);
    auto &nearest = map.cellIndex;
    nearest.assign(cells, nearestsource::noSource);
    // A cell drawn twice keeps its first seed: the later one is the same
    // element, and every cell it would be nearest to already is the first's.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> firstSeed;
    firstSeed.reserve(std::size_t(elements));
    {
        // The seeds are drawn among the cells of the study area.
        const CellDrawer drawer(*this);
        for (int k = 0; k < elements; ++k) {
            const philox::Counter bits = stream.bits(std::uint32_t(k), 0);
            const std::uint32_t cell =
                drawer.cell(std::uint64_t(bits.v[0]) | std::uint64_t(bits.v[1]) << 32);
            if (nearest[cell] != nearestsource::noSource)
                continue;
            nearest[cell] = cell;
            const std::uint64_t word = std::uint64_t(bits.v[2]) | std::uint64_t(bits.v[3]) << 32;
            map.surface[cell] = double(word >> 11) * 0x1.0p-53;
            firstSeed.emplace_back(cell, std::uint32_t(k));
        }
    }
    std::sort(firstSeed.begin(), firstSeed.end());
    // A cell as near to two seeds takes the one drawn first.
    nearestsource::transform(nearest.data(), shape.rows, shape.columns,
                             [&firstSeed](std::uint32_t cell) {
                                 return std::lower_bound(firstSeed.begin(), firstSeed.end(),
                                                         std::pair(cell, std::uint32_t(0)))
                                     ->second;
                             });
    for (std::size_t i = 0; i < cells; ++i)
        map.surface[i] = map.surface[nearest[i]];
    map.parameters = {
        {"seed_cells", QByteArray::number(qint64(firstSeed.size())), ManifestType::LargeWhole}};
    return std::nullopt;
}

class MosaicFamily final : public DrawnFamily<MosaicRequest> {
public:
    const char *word() const override { return "mosaic"; }
    QString summary() const override
    {
        return tr("nearest-neighbour mosaics: every cell takes the value of its nearest seed cell");
    }
    QString title() const override { return tr("Nearest-neighbour mosaics"); }
    QString menuText() const override { return tr("&Mosaic (nearest neighbour)…"); }
    QString description() const override
    {
        return tr("Writes a batch of mosaic maps (random elements, Voronoi tessellations): for\n"
                  "every cover and replicate, --elements seed cells are drawn uniformly among the\n"
                  "cells of the map, each with a uniform value; every cell takes the value of\n"
                  "its nearest seed (Euclidean distance between cell centres, ties to the seed\n"
                  "drawn first), and the surface is cut exactly at the cover or into the\n"
                  "classes. The same seed and values give byte-identical files. Files are named\n"
                  "PREFIX + cover (3 digits) + _ + replicate (5 digits) + .txt (.asc, .tif);\n"
                  "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                  "manifest.csv are written beside them. The prefix is %1 unless --prefix\n"
                  "gives one.")
            .arg(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 mosaic --out maps --elements 40 --cover 20:60:20 --size 200 --replicates 5\n"
            "  %1 mosaic --out land --elements 200 --proportions 50,30,20 --size 300x500\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("MOS_"); }
    QStringList statusColumns() const override { return {QStringLiteral("elements")}; }

    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "elements",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Seed cells of each map, drawn uniformly among its cells (inside the "
                     "study area with {mask}); at most the number of those cells.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<MosaicRequest &>(r).elements;
             },
             .limits = OptionLimits::of(MosaicRequest::elementLimits),
             .manifestColumn = "elements",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the surface every map was cut from (each cell the value of its "
                 "nearest seed), named as the map with _surface (float32 .tif with {format "
                 "tif}, else an ESRI grid with 7 significant digits).");
        return rows;
    }
};

} // namespace

const MapFamily &mosaicFamily()
{
    static const MosaicFamily family;
    return family;
}
