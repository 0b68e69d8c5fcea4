// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/randomfamily.h"

#include "core/batch/commonoptions.h"
#include "random/philoxrandommap.h"
#include "random/randombatchrequest.h"
#include "random/randommapgenerator.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RandomFamily", text);
}

// cover "%03i", "_", rows, "x", columns, "_a", replicate (from 1),
// extension.
class RandomNames final : public NameScheme {
public:
    QString tail(const NamePlace &place) const override
    {
        return QString::asprintf("%03i", place.cover) + QLatin1Char('_') +
               QString::number(place.shape.rows) + QLatin1Char('x') +
               QString::number(place.shape.columns) + QStringLiteral("_a") +
               QString::number(place.replicate) + mapFormatExtension(place.format);
    }

protected:
    std::optional<NamePlace> parse(QStringView tail) const override
    {
        NamePlace place;
        const qsizetype dot = tail.lastIndexOf(QLatin1Char('.'));
        const auto format = dot < 0 ? std::nullopt : mapFormatOfExtension(tail.mid(dot));
        const qsizetype cross = tail.indexOf(QLatin1Char('x'));
        const qsizetype replicate = tail.indexOf(QStringLiteral("_a"));
        if (!format || tail.size() < 4 || tail.at(3) != QLatin1Char('_') || cross < 0 ||
            replicate < cross || replicate > dot)
            return std::nullopt;
        bool ok[4] = {};
        place.format = *format;
        place.cover = tail.first(3).toInt(&ok[0]);
        place.shape.rows = tail.sliced(4, cross - 4).toInt(&ok[1]);
        place.shape.columns = tail.sliced(cross + 1, replicate - cross - 1).toInt(&ok[3]);
        place.replicate = tail.sliced(replicate + 2, dot - replicate - 2).toLongLong(&ok[2]);
        if (!ok[0] || !ok[1] || !ok[2] || !ok[3])
            return std::nullopt;
        return place;
    }
};

class RandomFamily final : public FamilyOf<RandomBatchRequest, RandomMapGenerator> {
public:
    const char *word() const override { return "random"; }
    QString summary() const override
    {
        return tr("random maps: each cell is habitat with the cover as probability");
    }
    QString title() const override { return tr("Random landscapes"); }
    QString description() const override
    {
        return tr("Writes a batch of random maps: for every cover FIRST, FIRST+STEP, ... up to "
                  "LAST,\n"
                  "REPLICATES maps in which each cell is habitat with the cover as probability.\n"
                  "The same seed and values give byte-identical files. Files are named\n"
                  "PREFIX + cover (3 digits) + _ROWSxCOLUMNS_a + replicate + .txt (.asc, .tif);\n"
                  "the batch list PREFIX + ListFragStat.fbt and the manifest PREFIX +\n"
                  "manifest.csv are written beside them.");
    }
    QString examples() const override
    {
        return QStringLiteral(
            "  %1 random --out maps --cover 10:90:10 --size 200 --replicates 5\n"
            "  %1 random --out maps-philox --cover 10,25,50 --generator philox --metrics\n"
            "  %1 random --out gis --cover 30 --format tif --crs EPSG:3035 "
            "--origin 4321000,3210000 --cell-size 25\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("RND_"); }
    int configLine() const override { return 0; }

    static BatchOption cutRow()
    {
        static constexpr ChoiceWord words[] = {
            {"draw", int(FractalCut::Ladder), QT_TRANSLATE_NOOP("RandomFamily", "Draw each cell")},
            {"exact", int(FractalCut::Exact), QT_TRANSLATE_NOOP("RandomFamily", "Exact counts")},
        };
        return {.key = "cut",
                .type = OptionType::Choice,
                .scope = OptionScope::Maps,
                .valueName = "HOW",
                .help = "draw: each cell is habitat with the cover as probability (or takes a "
                        "class with its proportion as probability); exact: exactly the cover's "
                        "(or each class's) share of the cells, by ranking a uniform field drawn "
                        "with Philox (needs {generator philox}).",
                .field = [](FamilyRequest &r) -> OptionField {
                    return choiceField(&static_cast<RandomBatchRequest &>(r).cut);
                },
                .manifestColumn = "cut",
                .choices = words};
    }

    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "seed",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Seed of the batch.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<RandomBatchRequest &>(r).seed;
             },
             .limits = OptionLimits::of(RandomBatchRequest::seedLimits),
             .manifestColumn = "seed",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = [] {
            std::vector<BatchOption> all = commonoptions::rows<RandomBatchRequest>(own);
            // Beside the generator, which it needs.
            const auto generator = std::find_if(all.begin(), all.end(), [](const BatchOption &o) {
                return qstrcmp(o.key, "generator") == 0;
            });
            all.insert(generator + 1, cutRow());
            return all;
        }();
        return rows;
    }
    const NameScheme &names() const override
    {
        static const RandomNames names;
        return names;
    }

    // The uniform field (each cell's draw, in [0, 1) with 53 bits) that
    // maps of classes and exact cuts of the request rank, for a replicate:
    // independent uniform values, the same for every cover.
    std::optional<Phrase> surface(const FamilyRequest &request, qint64, qint64 replicate,
                                  Surface &surface) const override
    {
        const auto &random = static_cast<const RandomBatchRequest &>(request);
        if (auto refusal = random.refusal())
            return refusal;
        if (!IntLimits{1, BatchOutput::maxDrawLimits.max}.contains(replicate))
            return Phrase(
                tr("replicate must be between 1 and %1").arg(BatchOutput::maxDrawLimits.max));
        const MapShape shape = random.shape;
        const PhiloxUniformMap field(quint32(random.seed), shape.rows, shape.columns,
                                     int(replicate));
        surface.values.resize(std::size_t(shape.cells()));
        for (int row = 0; row < shape.rows; ++row)
            field.fillRow(row,
                          surface.values.data() + std::size_t(row) * std::size_t(shape.columns));
        surface.rows = shape.rows;
        surface.columns = shape.columns;
        return std::nullopt;
    }
};

} // namespace

const MapFamily &randomFamily()
{
    static const RandomFamily family;
    return family;
}

const MapFamily &RandomBatchRequest::family() const
{
    return randomFamily();
}
