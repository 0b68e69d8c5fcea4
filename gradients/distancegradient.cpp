// SPDX-License-Identifier: GPL-3.0-or-later
#include "gradients/gradientfamilies.h"

#include "core/batch/drawnfamily.h"
#include "core/grid/nearestsource.h"
#include "core/grid/studyarea.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <memory>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DistanceGradient", text);
}

// The draws of a distance gradient (core/batch/drawnfamily.h): element k
// is the k-th source, purpose 0 its cell.
constexpr philox::Domain distanceDomain{0x44u};

struct DistanceRequest final : DrawnRequest {
    static constexpr IntLimits sourceLimits{1, 67108864};

    int sources = 1;
    QString sourcesFrom;
    // The cells of sourcesFrom that hold a value, read once it is set.
    std::shared_ptr<const StudyArea> sourceCells;

    const MapFamily &family() const override { return distanceFamily(); }
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<DistanceRequest>(*this);
    }
    std::optional<QString> settleOwnInputs() override
    {
        if (sourcesFrom.isEmpty()) {
            sourceCells.reset();
            return std::nullopt;
        }
        if (!sourceCells || sourceCells->path != sourcesFrom) {
            auto read = std::make_shared<StudyArea>();
            if (FileResult error = readStudyArea(sourcesFrom, std::nullopt, *read)) {
                sourceCells.reset();
                return tr("names no raster of sources: %1").arg(error->message());
            }
            sourceCells = std::move(read);
        }
        // A raster of sources is the map's template, as a mask is; a mask
        // given as well must match it.
        if (!output.studyArea)
            shape = {sourceCells->rowCount, sourceCells->columnCount};
        return std::nullopt;
    }
    std::optional<Phrase> ownRefusal() const override
    {
        if (sourceCells) {
            if (sourceCells->rowCount != shape.rows || sourceCells->columnCount != shape.columns)
                return Phrase::marked(tr("{sources_from} %1 is %2 x %3 cells, and the maps "
                                         "are %4 x %5"))
                    .arg(QDir::toNativeSeparators(sourcesFrom))
                    .arg(sourceCells->rowCount)
                    .arg(sourceCells->columnCount)
                    .arg(shape.rows)
                    .arg(shape.columns);
            return std::nullopt;
        }
        if (auto refusal = outsideOption("sources", sources, sourceLimits))
            return refusal;
        return moreThanCells("sources", sources, "source");
    }
    QList<Phrase> unusedOptions(const QStringList &given) const override
    {
        QList<Phrase> unused;
        if (sourceCells && given.contains(QStringLiteral("sources")))
            unused.append(
                Phrase::marked(tr("{sources} is not used: {sources_from} gives the sources")));
        if (sourceCells && !output.studyArea && given.contains(QStringLiteral("size")))
            unused.append(Phrase::marked(tr("{size} is left unused: the maps take their rows and "
                                            "columns from {sources_from}")));
        return unused;
    }
    QList<ManifestField> ownColumns() const override
    {
        return {{"sources", sourceCells ? QByteArray() : QByteArray::number(sources),
                 ManifestType::LargeWhole},
                {"sources_from",
                 sourceCells ? QFileInfo(sourcesFrom).fileName().toUtf8() : QByteArray(),
                 ManifestType::Text},
                {"source_cells", {}, ManifestType::LargeWhole}};
    }
    std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const override;
};

std::optional<QString> DistanceRequest::draw(const DrawPlace &place, DrawnMap &map) const
{
    const auto cells = std::size_t(shape.cells());
    map.classes.clear();
    map.surface.resize(cells);
    auto &nearest = map.cellIndex;
    nearest.assign(cells, nearestsource::noSource);
    qint64 sourceCount = 0;
    if (sourceCells) {
        for (std::size_t i = 0; i < cells; ++i)
            if (sourceCells->inside[i]) {
                nearest[i] = std::uint32_t(i);
                ++sourceCount;
            }
    } else {
        const DrawStream stream(std::uint32_t(seed), distanceDomain, place);
        const CellDrawer drawer(*this);
        for (int k = 0; k < sources; ++k) {
            const std::uint32_t cell = drawer.cell(stream.word64(std::uint32_t(k), 0));
            sourceCount += nearest[cell] == nearestsource::noSource;
            nearest[cell] = cell;
        }
    }
    // Which of two equally near sources a cell takes does not change its
    // distance.
    nearestsource::transform(nearest.data(), shape.rows, shape.columns);
    nearestsource::scaledDistances(nearest.data(), shape.rows, shape.columns, map.surface.data());
    map.parameters = {{"source_cells", QByteArray::number(sourceCount), ManifestType::LargeWhole}};
    return std::nullopt;
}

class DistanceFamily final : public DrawnFamily<DistanceRequest> {
public:
    const char *word() const override { return "distance"; }
    QString summary() const override
    {
        return tr("distance gradients: the distance of every cell to its nearest source cell");
    }
    QString title() const override { return tr("Distance gradients"); }
    QString menuText() const override { return tr("D&istance gradient…"); }
    QString description() const override
    {
        return tr("Writes a batch of distance-gradient maps: for every cover and replicate,\n"
                  "every cell holds its Euclidean distance (between cell centres, exact) to\n"
                  "the nearest source cell, divided by the largest such distance of the map,\n"
                  "so that sources are 0 and the farthest cell 1. The sources are --sources\n"
                  "cells drawn uniformly from the seed (inside the study area with --mask),\n"
                  "or the cells of --sources-from that hold a value (not NoData). The surface\n"
                  "is cut exactly at the cover or into the classes: habitat lies farthest\n"
                  "from the sources. Files are named PREFIX + cover (3 digits) + _ +\n"
                  "replicate (5 digits) + .txt (.asc, .tif); the batch list PREFIX +\n"
                  "ListFragStat.fbt and the manifest PREFIX + manifest.csv are written beside\n"
                  "them. The prefix is %1 unless --prefix gives one.")
            .arg(defaultPrefix());
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 distance --out maps --sources 3 --cover 20:80:20 --size 200 --replicates 5\n"
            "  %1 distance --out river --sources-from river.asc --cover 30 --blend "
            "fractal:hurst=0.5:weight=0.5\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("DST_"); }

    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "sources",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Source cells of each map, drawn uniformly among its cells (inside the "
                     "study area with {mask}).",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<DistanceRequest &>(r).sources;
             },
             .limits = OptionLimits::of(DistanceRequest::sourceLimits),
             .manifestColumn = "sources",
             .pilot = true},
            {.key = "sources_from",
             .type = OptionType::Text,
             .scope = OptionScope::Maps,
             .valueName = "FILE",
             .help = "Takes the sources from a raster (ESRI grid or GeoTIFF): its cells that "
                     "hold a value are the sources, the NoData cells the rest. Its rows and "
                     "columns are the maps', unless {mask} gives them.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<DistanceRequest &>(r).sourcesFrom;
             },
             .manifestColumn = "sources_from",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = rowsWith(
            own, "Also writes the surface every map was cut from (each cell's distance to its "
                 "nearest source, divided by the largest), named as the map with _surface "
                 "(float32 .tif with {format tif}, else an ESRI grid with 7 significant "
                 "digits).");
        return rows;
    }
};

} // namespace

const MapFamily &distanceFamily()
{
    static const DistanceFamily family;
    return family;
}
