// SPDX-License-Identifier: GPL-3.0-or-later
// A family that exists only in the test folder, to show that a family is
// one registered object: every front end, the batch job, shares, merges,
// resumed runs, targets, `scan` and the window must take it with no other
// change than this file. Its maps are checkerboards of squares `tile` cells
// a side, each cell the colour of its square plus a draw of its own, cut
// exactly at the cover; each map is a function of the seed, the tile, the
// cover and the replicate alone.
#include "core/batch/commonoptions.h"
#include "core/batch/diskspace.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/batch/requestchecks.h"
#include "core/batch/surfacecut.h"

#include <Random123/philox.h>

#include <QCoreApplication>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

struct CheckerRequest final : FamilyRequest {
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    static constexpr IntLimits sizeLimits{2, 4096};
    static constexpr const char *sizeNote = nullptr;
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits tileLimits{1, 1000};
    static constexpr IntLimits seedLimits{0, 1000000};
    static constexpr const char *targetNote = nullptr;
    static constexpr const char *shareNote = "Shared out by map (by cover with {target}).";
    static constexpr const char *drawNote = nullptr;

    int tile = 4;
    qint32 seed = 1;

    const MapFamily &family() const override;
    std::unique_ptr<FamilyRequest> clone() const override
    {
        return std::make_unique<CheckerRequest>(*this);
    }
    std::optional<Phrase> refusal() const override
    {
        return firstRefusal(
            [this] { return sweepRefusal(*this); },
            [this] { return outside("the number of replicates", replicates, replicateLimits); },
            [this] { return outside("the tile", tile, tileLimits); },
            [this] { return outside("the seed", seed, seedLimits); },
            [this] { return output.refusal(); });
    }
    qint64 mapCount() const override { return std::max<qint64>(0, covers.count() * replicates); }
    qint64 shareUnits() const override { return output.selects() ? covers.count() : mapCount(); }
    DiskEstimate diskEstimate(qint64 blockSize) const override
    {
        const double maps = std::ceil(double(mapCount()) * DiskSpace::shareOf(*this));
        const int tail = 16;
        return {
            maps * DiskSpace::roundUpToBlocks(DiskSpace::mapBytes(output, shape, 1.0), blockSize) +
                DiskSpace::runRecordBytes(output, maps, tail, blockSize),
            qint64(maps) + DiskSpace::recordFiles(output),
            DiskSpace::recordBytes(output, maps, tail)};
    }
    void makePilot(int samples) override { replicates = samples; }
};

// "t" tile "_" cover "%03i" "_" replicate "%05i" and the extension.
class CheckerNames final : public NameScheme {
public:
    QString tail(const NamePlace &place) const override
    {
        return QStringLiteral("t%1_").arg(place.shape.rows) +
               QString::asprintf("%03i_%05lli", place.cover, place.replicate) +
               mapFormatExtension(place.format);
    }

protected:
    std::optional<NamePlace> parse(QStringView tail) const override
    {
        const qsizetype dot = tail.lastIndexOf(QLatin1Char('.'));
        const auto format = dot < 0 ? std::nullopt : mapFormatOfExtension(tail.mid(dot));
        const QList<QStringView> parts = tail.first(std::max<qsizetype>(dot, 0)).split(u'_');
        if (!format || parts.size() != 3 || !parts[0].startsWith(QLatin1Char('t')))
            return std::nullopt;
        NamePlace place;
        place.format = *format;
        bool ok[3] = {};
        place.shape.rows = parts[0].mid(1).toInt(&ok[0]);
        place.cover = parts[1].toInt(&ok[1]);
        place.replicate = parts[2].toLongLong(&ok[2]);
        if (!ok[0] || !ok[1] || !ok[2])
            return std::nullopt;
        return place;
    }
};

class CheckerSource final : public MapSource {
public:
    explicit CheckerSource(const CheckerRequest &request)
        : m_request(request)
    {}

    const FamilyRequest &request() const override { return m_request; }
    QString longestMapName(const QString &nameStem) const override
    {
        return name(nameStem, 100, m_request.replicates);
    }
    ManifestColumns manifestColumns() const override
    {
        ManifestColumns columns = commonColumns();
        columns.family = {{"tile", {}, ManifestType::Whole}};
        return columns;
    }
    QList<Phrase> shortfalls(const MapTally &) const override
    {
        return m_ledger.shortfalls(m_request.replicates, m_request.output.maxDraws);
    }
    QStringList acceptance() const override { return m_ledger.acceptance(m_request.replicates); }
    void settleRecords(QList<MapRecord> &records) const override
    {
        m_ledger.settle(records, [](const MapRecord &record) {
            return std::pair<int, int>(0, record.requestedCover);
        });
    }

    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override
    {
        MapWriter writer(m_request.output, publisher.inMemory());
        const BatchResult result = m_request.output.selects()
                                       ? drawUntilKept(nameStem, writer, publisher, progress)
                                       : drawAll(nameStem, writer, publisher, progress);
        if (FileResult error = publisher.flush(); error && result.ok())
            return BatchResult::failed(error->message());
        return result;
    }

protected:
    bool ownsPlace(const NamePlace &place) const override
    {
        const std::vector<int> covers = m_request.covers.values();
        const auto found = std::find(covers.begin(), covers.end(), place.cover);
        if (found == covers.end() || place.shape.rows != m_request.tile || place.replicate < 1 ||
            place.replicate > m_request.replicates || place.format != m_request.output.format)
            return false;
        const qint64 cover = found - covers.begin();
        return m_request.output.ownsUnit(
            m_request.output.selects() ? cover : cover * m_request.replicates + place.replicate - 1,
            m_request.shareUnits());
    }

private:
    QString name(const QString &stem, int cover, qint64 replicate) const
    {
        NamePlace place;
        place.shape.rows = m_request.tile;
        place.cover = cover;
        place.replicate = replicate;
        place.format = m_request.output.format;
        return stem + family().names().tail(place);
    }

    void draw(int cover, qint64 replicate)
    {
        const int size = m_request.shape.rows;
        m_values.resize(std::size_t(size) * std::size_t(size));
        const philox4x32_key_t key{{std::uint32_t(m_request.seed), 0x43000000u}};
        for (int row = 0; row < size; ++row)
            for (int col = 0; col < size; ++col) {
                const std::uint32_t cell = std::uint32_t(row * size + col);
                const philox4x32_ctr_t counter{
                    {cell, std::uint32_t(replicate), std::uint32_t(cover), 0}};
                const double noise = double(philox4x32(counter, key).v[0]) / 4294967296.0;
                const int colour = (row / m_request.tile + col / m_request.tile) % 2;
                m_values[std::size_t(cell)] = colour + 0.5 * noise;
            }
    }

    FileResult write(const QString &nameStem, int cover, qint64 replicate, qint64 drawn,
                     qint64 position, MapWriter &writer, MapPublisher &publisher)
    {
        const int size = m_request.shape.rows;
        const ExactCoverCut cut = exactCoverCut(m_values.data(), size, size, cover);
        const QString file = name(nameStem, cover, replicate);
        if (FileResult error = writer.open(file, size, size))
            return error;
        putCutRows(writer, m_values.data(), size, size, size, cut.threshold, cut.tiesAbove);
        FinishedMap map;
        if (FileResult error = writer.finish(map))
            return error;
        fillRecord(map.record, file, writer, size, size, cover, int(replicate));
        map.record.threshold = cut.threshold;
        map.record.seed = m_request.seed;
        map.record.stream = quint64(drawn);
        map.record.tiedHabitat = cut.tiesAbove;
        map.record.position = position;
        map.record.parameters = manifestColumns().family;
        map.record.parameters[0].value = QByteArray::number(m_request.tile);
        if (m_request.output.selects())
            map.record.draw = drawn;
        return publisher.add(std::move(map));
    }

    BatchResult drawAll(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                        BatchProgress &progress)
    {
        const std::vector<int> covers = m_request.covers.values();
        const qint64 units = m_request.shareUnits();
        progress.setMaximum(int(std::min<qint64>(m_request.output.ownUnits(units), INT_MAX)));
        qint64 done = 0;
        for (qint64 unit = 0; unit < units; ++unit) {
            if (!m_request.output.ownsUnit(unit, units))
                continue;
            const int cover = covers[std::size_t(unit / m_request.replicates)];
            const qint64 replicate = unit % m_request.replicates + 1;
            progress.setLabelText(QStringLiteral("checkerboard of cover %1").arg(cover));
            draw(cover, replicate);
            if (FileResult error =
                    write(nameStem, cover, replicate, replicate, unit, writer, publisher))
                return BatchResult::failed(error->message());
            progress.setValue(int(std::min<qint64>(++done, INT_MAX)));
            if (progress.wasCanceled())
                return BatchResult::canceled();
        }
        return BatchResult::completed();
    }

    BatchResult drawUntilKept(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                              BatchProgress &progress)
    {
        const BatchOutput &output = m_request.output;
        const int size = m_request.shape.rows;
        MapSelector selector(output.targets, size, output.neighbours, output.georeference.cellSize,
                             output.coverValue, output.matrixValue);
        const std::vector<int> covers = m_request.covers.values();
        for (std::size_t c = 0; c < covers.size(); ++c) {
            if (!output.ownsUnit(qint64(c), m_request.shareUnits()))
                continue;
            SelectionLedger::Cell &cell =
                m_ledger.cell({0, covers[c]}, QStringLiteral("cover %1").arg(covers[c]));
            for (int drawn = 1; drawn <= output.maxDraws && cell.kept < m_request.replicates;
                 ++drawn) {
                progress.drawsMade(m_ledger.drew(cell));
                draw(covers[c], drawn);
                const ExactCoverCut cut = exactCoverCut(m_values.data(), size, size, covers[c]);
                CutCells cells(m_values.data(), size, cut.threshold, cut.tiesAbove);
                if (selector.accepts(size, [&](int row, std::uint8_t *out) {
                        for (int col = 0; col < size; ++col)
                            out[col] = cells(row, col);
                    })) {
                    ++cell.kept;
                    if (FileResult error = write(nameStem, covers[c], cell.kept, drawn,
                                                 qint64(c) * m_request.replicates + cell.kept - 1,
                                                 writer, publisher))
                        return BatchResult::failed(error->message());
                }
                if (progress.wasCanceled())
                    return BatchResult::canceled();
            }
        }
        return BatchResult::completed();
    }

    CheckerRequest m_request;
    SelectionLedger m_ledger;
    std::vector<double> m_values;
};

class CheckerFamily final : public FamilyOf<CheckerRequest, CheckerSource> {
public:
    const char *word() const override { return "checker"; }
    QString summary() const override
    {
        return QStringLiteral("checkerboards with a draw in every cell, cut exactly");
    }
    QString title() const override { return QStringLiteral("Checkerboards"); }
    QString description() const override
    {
        return QStringLiteral("Writes checkerboards of squares TILE cells a side, cut exactly.");
    }
    QString examples() const override
    {
        return QStringLiteral("  %1 checker --out boards --tile 8 --cover 40\n");
    }
    QString defaultPrefix() const override { return QStringLiteral("CHK_"); }
    std::span<const BatchOption> options() const override
    {
        static const BatchOption own[] = {
            {.key = "tile",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Cells per side of a square of the board.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<CheckerRequest &>(r).tile;
             },
             .limits = OptionLimits::of(CheckerRequest::tileLimits),
             .manifestColumn = "tile",
             .pilot = true},
            {.key = "seed",
             .type = OptionType::Whole,
             .scope = OptionScope::Maps,
             .valueName = "N",
             .help = "Seed of the batch.",
             .field = [](FamilyRequest &r) -> OptionField {
                 return &static_cast<CheckerRequest &>(r).seed;
             },
             .limits = OptionLimits::of(CheckerRequest::seedLimits),
             .manifestColumn = "seed",
             .pilot = true},
        };
        static const std::vector<BatchOption> rows = commonoptions::rows<CheckerRequest>(own);
        return rows;
    }
    const NameScheme &names() const override
    {
        static const CheckerNames names;
        return names;
    }
};

const MapFamily &checkerFamily()
{
    static const CheckerFamily family;
    return family;
}

const MapFamily &CheckerRequest::family() const
{
    return checkerFamily();
}

// The one line that registers the family, run as the program loads.
[[maybe_unused]] const bool registered = (FamilyRegistry::global().add(checkerFamily()), true);

} // namespace
