// SPDX-License-Identifier: GPL-3.0-or-later
#include "random/randommapgenerator.h"

#include "core/batch/batchoptions.h"
#include "core/batch/classcut.h"
#include "core/batch/mapwriter.h"
#include "core/batch/surfacecut.h"
#include "core/files/helperthread.h"
#include "core/rng/rand15.h"
#include "random/philoxrandommap.h"

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Below this many cells a map is written faster than a second thread can
// be handed it.
constexpr qint64 parallelCells = qint64(1) << 16;

} // namespace

RandomMapGenerator::RandomMapGenerator(const RandomBatchRequest &request)
    : m_request(request)
{}

QString RandomMapGenerator::longestMapName(const QString &nameStem) const
{
    return mapFileName(m_request.replicates - 1, 100, nameStem);
}

QString RandomMapGenerator::mapFileName(int replicateIndex, int cover,
                                        const QString &nameStem) const
{
    NamePlace place;
    place.cover = cover;
    place.shape = m_request.shape;
    place.replicate = replicateIndex + 1;
    place.format = m_request.output.format;
    return nameStem + family().names().tail(place);
}

ManifestColumns RandomMapGenerator::manifestColumns() const
{
    ManifestColumns columns = commonColumns();
    if (m_request.samplingChanged())
        columns.family = samplingColumns();
    return columns;
}

RandomMapGenerator::MapPlace RandomMapGenerator::placeOf(qint64 index) const
{
    const qint64 coverIndex = index / m_request.replicates;
    const CoverRange &covers = m_request.covers;
    const int cover = covers.listed.empty() ? int(covers.first + coverIndex * covers.step)
                                            : covers.listed[std::size_t(coverIndex)];
    return {cover, int(index % m_request.replicates)};
}

QString RandomMapGenerator::progressLabel(qint64 index) const
{
    const MapPlace place = placeOf(index);
    return QStringLiteral("gerando para cobertura ") + QString::number(place.cover) +
           QStringLiteral(" amostra no.") + QString::number(place.replicateIndex + 1);
}

FileResult RandomMapGenerator::makeMap(qint64 index, const QString &nameStem, MapWriter &writer,
                                       FinishedMap &map) const
{
    const MapPlace place = placeOf(index);
    // The maps before this one took one draw a cell each.
    const quint64 firstDraw = quint64(index) * quint64(m_request.shape.cells());
    if (FileResult error =
            makeMapAt(place, firstDraw, place.replicateIndex + 1, nameStem, writer, map))
        return error;
    map.record.position = index;
    return std::nullopt;
}

bool RandomMapGenerator::ownsUnit(qint64 unit) const
{
    return m_request.output.ownsUnit(unit, m_request.shareUnits());
}

bool RandomMapGenerator::ownsPlace(const NamePlace &place) const
{
    const qint64 coverIndex = m_request.covers.indexOf(place.cover);
    return !place.surface && coverIndex >= 0 && place.shape == m_request.shape &&
           place.format == m_request.output.format &&
           m_request.ownsMapOf(coverIndex, place.replicate);
}

FileResult RandomMapGenerator::makeMapAt(MapPlace place, quint64 firstDraw, int draw,
                                         const QString &nameStem, MapWriter &writer,
                                         FinishedMap &map) const
{
    const BatchOutput &output = m_request.output;
    const int rows = m_request.shape.rows;
    const int columns = m_request.shape.columns;
    const QString name = mapFileName(place.replicateIndex, place.cover, nameStem);
    if (FileResult error = writer.open(name, rows, columns))
        return error;
    std::vector<std::uint8_t> row(std::size_t(columns), 0);
    if (m_request.writesClasses()) {
        putClasses(place, firstDraw, draw, writer);
    } else if (m_request.generator == Generator::Philox) {
        const PhiloxRandomMap cells(quint32(m_request.seed), rows, columns, place.cover, draw);
        for (int i = 0; i < rows; ++i) {
            cells.fillRow(i, row.data());
            writer.putCells(row.data(), columns);
        }
    } else {
        // The seed's bits are taken unchanged, as srand takes them.
        Rand15 rng(quint32(m_request.seed));
        rng.discard(firstDraw);
        // Largest draw that still gives habitat for this cover.
        const int habitatLimit = (32767 * place.cover) / 100;
        for (int i = 0; i < rows; ++i) {
            rng.fillAtMost(row.data(), columns, habitatLimit);
            writer.putCells(row.data(), columns);
        }
    }
    if (FileResult error = writer.finish(map))
        return error;

    MapRecord &record = map.record;
    fillRecord(record, name, writer, rows, columns, place.cover, place.replicateIndex + 1);
    record.seed = m_request.seed;
    record.stream = m_request.generator == Generator::Philox ? quint64(draw) : firstDraw;
    if (m_request.samplingChanged()) {
        record.parameters = samplingColumns();
        record.parameters[0].value = wordOf(m_request.generator).toLatin1();
        record.parameters[1].value = QByteArray::number(record.stream);
        if (m_request.cut == FractalCut::Exact)
            record.parameters[2].value = QByteArrayLiteral("exact");
    }
    if (output.selects())
        record.draw = draw;
    return std::nullopt;
}

namespace {

// The class rows of one random map of classes, asked for in order, each
// once: drawn cell by cell (habitat at the cover with the cover's own draws,
// or a class from a 64-bit Philox uniform), or ranked from that uniform
// field for exact counts; the study area's outside left out.
class RandomClassRows {
public:
    RandomClassRows(const RandomBatchRequest &request, int cover, quint64 firstDraw, int draw)
        : m_inside(request.output.studyArea ? request.output.studyArea->inside.data() : nullptr)
        , m_columns(request.shape.columns)
        , m_uniform(quint32(request.seed), request.shape.rows, request.shape.columns, draw)
        , m_rng(quint32(request.seed))
        , m_habitatLimit((32767 * cover) / 100)
    {
        const BatchOutput &output = request.output;
        const int rows = request.shape.rows;
        if (request.cut == FractalCut::Exact) {
            // The field is drawn whole, then ranked: exact counts inside the
            // study area, ties (of 53-bit values) in row-major order.
            m_field.resize(std::size_t(rows) * std::size_t(m_columns));
            for (int r = 0; r < rows; ++r)
                m_uniform.fillRow(r, m_field.data() + std::size_t(r) * std::size_t(m_columns));
            m_ranked = std::make_unique<SurfaceClassRows>(output, cover, m_field.data(), rows,
                                                          m_columns, m_columns);
            return;
        }
        if (!output.classesAreACover()) {
            m_classes.emplace(output.classShares());
            m_bits.assign(std::size_t(m_columns), 0);
        } else if (request.generator == Generator::Philox) {
            m_cover.emplace(quint32(request.seed), rows, m_columns, cover, draw);
        } else {
            // The seed's bits are taken unchanged, as srand takes them.
            m_rng.discard(firstDraw);
        }
    }

    void fill(int row, std::uint8_t *out)
    {
        if (m_ranked) {
            m_ranked->fill(row, out);
            return;
        }
        if (m_classes) {
            m_uniform.fillRow(row, m_bits.data());
            for (int c = 0; c < m_columns; ++c)
                out[c] = std::uint8_t(m_classes->classOf(m_bits[std::size_t(c)]));
        } else if (m_cover) {
            m_cover->fillRow(row, out);
        } else {
            m_rng.fillAtMost(out, m_columns, m_habitatLimit);
        }
        if (!m_inside)
            return;
        const quint8 *in = m_inside + std::size_t(row) * std::size_t(m_columns);
        for (int c = 0; c < m_columns; ++c)
            if (!in[c])
                out[c] = outsideClass;
    }

private:
    const quint8 *m_inside;
    int m_columns;
    PhiloxUniformMap m_uniform;
    Rand15 m_rng;
    int m_habitatLimit;
    std::optional<PhiloxRandomMap> m_cover;
    std::optional<ClassDraw> m_classes;
    std::vector<std::uint64_t> m_bits;
    std::vector<double, BulkAllocator<double>> m_field;
    std::unique_ptr<SurfaceClassRows> m_ranked;
};

} // namespace

void RandomMapGenerator::putClasses(MapPlace place, quint64 firstDraw, int draw,
                                    MapWriter &writer) const
{
    const int columns = m_request.shape.columns;
    RandomClassRows rows(m_request, place.cover, firstDraw, draw);
    std::vector<std::uint8_t> row(std::size_t(columns), 0);
    for (int r = 0; r < m_request.shape.rows; ++r) {
        rows.fill(r, row.data());
        writer.putClasses(row.data(), columns);
    }
}

BatchResult RandomMapGenerator::makeSelectedMaps(const QString &nameStem, MapPublisher &publisher,
                                                 BatchProgress &progress)
{
    const BatchOutput &output = m_request.output;
    const MapShape shape = m_request.shape;
    m_ledger = SelectionLedger();
    progress.setMaximum(int(std::min<qint64>(plannedMaps(), INT_MAX)));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);
    MapSelector selector(output.targets, shape.columns, output.neighbours,
                         output.georeference.cellSize, output.coverValue, output.matrixValue);
    if (m_request.writesClasses())
        selector.measureClasses(output.classCodes(), output.measuredOutside());
    MapWriter writer(output, publisher.inMemory());
    auto end = [&publisher](BatchResult result) {
        if (FileResult error = publisher.flush(); error && result.ok())
            return BatchResult::failed(error->message());
        return result;
    };
    qint64 kept = 0;
    const std::vector<int> covers = m_request.covers.values();
    for (std::size_t coverIndex = 0; coverIndex < covers.size(); ++coverIndex) {
        if (!ownsUnit(qint64(coverIndex)))
            continue;
        const int cover = covers[coverIndex];
        SelectionLedger::Cell &cell =
            m_ledger.cell({0, int(cover)}, QStringLiteral("cover %1").arg(cover));
        for (int draw = 1; cell.kept < m_request.replicates && draw <= output.maxDraws; ++draw) {
            progress.drawsMade(m_ledger.drew(cell));
            bool meets = false;
            if (m_request.writesClasses()) {
                RandomClassRows rows(m_request, int(cover), 0, draw);
                meets = selector.acceptsClasses(
                    shape.rows, [&rows](int row, std::uint8_t *out) { rows.fill(row, out); });
            } else {
                const PhiloxRandomMap cells(quint32(m_request.seed), shape.rows, shape.columns,
                                            int(cover), draw);
                meets = selector.accepts(
                    shape.rows, [&cells](int row, std::uint8_t *out) { cells.fillRow(row, out); });
            }
            if (meets) {
                progress.setLabelText(progressLabel(kept));
                FinishedMap map;
                if (FileResult error =
                        makeMapAt({int(cover), cell.kept}, 0, draw, nameStem, writer, map))
                    return end(BatchResult::failed(error->message()));
                map.record.position = qint64(coverIndex) * m_request.replicates + cell.kept;
                if (FileResult error = publisher.add(std::move(map)))
                    return end(BatchResult::failed(error->message()));
                ++cell.kept;
                progress.setValue(int(std::min<qint64>(++kept, INT_MAX)));
            }
            if (progress.wasCanceled())
                return end(BatchResult::canceled());
        }
    }
    return end(BatchResult::completed());
}

QList<Phrase> RandomMapGenerator::shortfalls(const MapTally &) const
{
    if (!m_request.output.selects())
        return {};
    return m_ledger.shortfalls(m_request.replicates, m_request.output.maxDraws);
}

QStringList RandomMapGenerator::acceptance() const
{
    return m_ledger.acceptance(m_request.replicates);
}

void RandomMapGenerator::settleRecords(QList<MapRecord> &records) const
{
    m_ledger.settle(records, [](const MapRecord &record) {
        return std::pair<int, int>(0, record.requestedCover);
    });
}

BatchResult RandomMapGenerator::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                         BatchProgress &progress)
{
    if (m_request.output.selects())
        return makeSelectedMaps(nameStem, publisher, progress);
    // A share makes a run of consecutive maps of the batch's order.
    const qint64 units = m_request.shareUnits();
    const std::optional<BatchShard> &shard = m_request.output.shard;
    const qint64 first = shard ? shard->begin(units) : 0;
    const qint64 total = shard ? shard->end(units) : units;
    progress.setMaximum(int(std::min<qint64>(total - first, INT_MAX)));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    const qint64 cells = m_request.shape.cells();
    std::unique_ptr<HelperThread> helper;
    if (cells >= parallelCells && total - first > 1)
        helper = std::make_unique<HelperThread>();
    std::array<MapWriter, 2> writers{MapWriter(m_request.output, publisher.inMemory()),
                                     MapWriter(m_request.output, publisher.inMemory())};

    qint64 next = first;
    while (next < total) {
        // Two maps at a time when they are large enough to be worth it:
        // the second on the helper, while this thread makes the first.
        const int round = helper && next + 1 < total ? 2 : 1;
        std::array<FinishedMap, 2> maps;
        std::array<FileResult, 2> errors;
        progress.setLabelText(progressLabel(next));
        if (round == 2)
            helper->start(
                [&, next] { errors[1] = makeMap(next + 1, nameStem, writers[1], maps[1]); });
        errors[0] = makeMap(next, nameStem, writers[0], maps[0]);
        if (round == 2) {
            helper->wait();
            // Two maps that race for the last room on a disk could leave the
            // first unwritten and the second whole, which cannot be listed
            // without the first. The pair is made again one after the other,
            // so that a run stops where it would have stopped alone.
            if (errors[0] || errors[1]) {
                maps = {};
                errors[0] = makeMap(next, nameStem, writers[0], maps[0]);
                errors[1] =
                    errors[0] ? FileResult() : makeMap(next + 1, nameStem, writers[1], maps[1]);
            }
        }

        for (int i = 0; i < round; ++i) {
            if (i > 0)
                progress.setLabelText(progressLabel(next));
            // A map that fails ends the run; the ones before it are named
            // and listed, whatever was made after it is dropped.
            if (errors[std::size_t(i)]) {
                if (FileResult error = publisher.flush())
                    return BatchResult::failed(error->message());
                return BatchResult::failed(errors[std::size_t(i)]->message());
            }
            if (FileResult error = publisher.add(std::move(maps[std::size_t(i)])))
                return BatchResult::failed(error->message());
            progress.setValue(int(std::min<qint64>(++next - first, INT_MAX)));
        }
        // A map made alongside the one at which Cancel was seen is complete
        // and is kept, as the map being written always is.
        if (progress.wasCanceled()) {
            if (FileResult error = publisher.flush())
                return BatchResult::failed(error->message());
            return BatchResult::canceled();
        }
    }
    if (FileResult error = publisher.flush())
        return BatchResult::failed(error->message());
    return BatchResult::completed();
}
