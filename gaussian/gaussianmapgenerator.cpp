// SPDX-License-Identifier: GPL-3.0-or-later
#include "gaussian/gaussianmapgenerator.h"

#include "core/batch/batchoptions.h"
#include "core/batch/mappublisher.h"
#include "core/batch/mapwriter.h"
#include "core/batch/surfacecut.h"
#include "core/files/helperthread.h"
#include "core/grid/surfacegrid.h"
#include "gaussian/gaussiannames.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <limits>

namespace {

CirculantEmbedding::Built embeddingOf(const FieldModel &model, MapShape shape)
{
    return CirculantEmbedding::build(model, shape.rows, shape.columns);
}

QString tr(const char *text)
{
    return QCoreApplication::translate("GaussianMapGenerator", text);
}

// Fields drawn ahead of the one being written. Above this many cells a
// side, a field's spectrum takes hundreds of megabytes, and one is drawn
// at a time.
constexpr int drawnAhead = 2;
constexpr int largeSide = 2048;

} // namespace

struct GaussianMapGenerator::Field {
    std::size_t axisIndex = 0;
    double axisValue = 0;
    int cover = 0;
    // The map's number among its cell's, and the replicate its field is
    // drawn as: the same but with targets, where it is the draw.
    int replicate = 0;
    int draw = 0;
    // Its map's place in the whole batch's order (MapRecord::position).
    qint64 position = 0;
    std::vector<double> values;
    bool drawn = false;
    // What was blended into it, or why it could not be.
    QByteArray blend;
    std::optional<QString> blendFailure;
};

GaussianMapGenerator::GaussianMapGenerator(const GaussianBatchRequest &request)
    : m_request(request)
    , m_axis(request.axisValues())
    , m_embeddings(m_axis.size())
{
    if (!request.blends.empty())
        m_blend =
            std::make_unique<SurfaceBlend>(request, request.shape.rows, request.shape.columns);
}

void GaussianMapGenerator::blendInto(Field &field) const
{
    if (!m_blend || !field.drawn)
        return;
    SurfaceBlend::Blended blended = m_blend->blend(field.values.data(), m_request.shape.columns,
                                                   m_request.seed, field.cover, field.draw);
    field.blend = std::move(blended.record);
    field.blendFailure = std::move(blended.failure);
}

GaussianMapGenerator::~GaussianMapGenerator() = default;

FieldModel GaussianMapGenerator::fieldModel(const GaussianBatchRequest &request, double axisValue)
{
    FieldModel model;
    model.model = request.model;
    model.nu = request.nu;
    if (request.model == CovarianceModel::Fbm)
        model.hurst = axisValue;
    else
        model.range = axisValue;
    return model;
}

std::optional<Phrase> GaussianMapGenerator::drawField(const GaussianBatchRequest &request,
                                                      qint64 cover, qint64 replicate,
                                                      std::vector<double> &values)
{
    if (auto refusal = request.refusal())
        return refusal;
    if (request.axisValues().size() != 1)
        return request.model == CovarianceModel::Fbm
                   ? Phrase::marked(tr("{hurst} is one H value for fbm, not a range"))
                   : Phrase::marked(tr("{range} is one range, not a sweep"));
    // One cover of a batch, and one of its replicates, or for a batch with
    // targets one of its draws, which may go as far as a cell's draws.
    const auto outside = [](const char *name, qint64 value,
                            IntLimits limits) -> std::optional<Phrase> {
        if (limits.contains(value))
            return std::nullopt;
        return Phrase(tr("%1 must be between %2 and %3")
                          .arg(QLatin1String(name))
                          .arg(limits.min)
                          .arg(limits.max));
    };
    if (const auto refusal = outside("cover", cover,
                                     {GaussianBatchRequest::firstCoverLimits.min,
                                      GaussianBatchRequest::lastCoverLimits.max}))
        return refusal;
    if (const auto refusal = outside("replicate", replicate, {1, BatchOutput::maxDrawLimits.max}))
        return refusal;
    const double axis = request.axisValues().front();
    const auto built = embeddingOf(fieldModel(request, axis), request.shape);
    if (!built.embedding)
        return Phrase(built.refusal);
    if (!built.embedding->draw(fieldStream(request, axis, int(cover), int(replicate)), values))
        return Phrase(tr("there is not enough memory for a periodic grid of %1 x %2 points")
                          .arg(built.embedding->sides().rows)
                          .arg(built.embedding->sides().columns));
    if (!request.blends.empty()) {
        const SurfaceBlend blend(request, request.shape.rows, request.shape.columns);
        if (auto failure = blend
                               .blend(values.data(), request.shape.columns, request.seed,
                                      int(cover), replicate)
                               .failure)
            return Phrase(*failure);
    }
    return std::nullopt;
}

FieldStream GaussianMapGenerator::fieldStream(const GaussianBatchRequest &request, double axisValue,
                                              int cover, int replicate)
{
    FieldStream stream;
    stream.seed = std::uint32_t(request.seed);
    stream.axisHundredths = std::uint32_t(std::llround(axisValue * 100.0));
    stream.cover = std::uint32_t(cover);
    stream.replicate = std::uint32_t(replicate);
    return stream;
}

QString GaussianMapGenerator::progressLabel(const GaussianBatchRequest &request, double axisValue,
                                            int replicate)
{
    return QStringLiteral("gerando para ") +
           (request.model == CovarianceModel::Fbm ? QStringLiteral("h=") : QStringLiteral("r=")) +
           QString::asprintf("%.2f", axisValue) + QStringLiteral(" amostra no.") +
           QString::number(replicate);
}

const CirculantEmbedding *GaussianMapGenerator::embedding(std::size_t index, QString *refusal) const
{
    if (!m_embeddings[index]) {
        auto built = embeddingOf(fieldModel(m_request, m_axis[index]), m_request.shape);
        if (!built.embedding) {
            if (refusal)
                *refusal = tr("no exact %1 field at %2 %3: %4")
                               .arg(wordOf(m_request.model),
                                    m_request.model == CovarianceModel::Fbm ? tr("H") : tr("range"),
                                    QString::asprintf("%.2f", m_axis[index]), built.refusal);
            return nullptr;
        }
        m_embeddings[index] = std::move(built.embedding);
    }
    return m_embeddings[index].get();
}

std::optional<Phrase> GaussianMapGenerator::refusal() const
{
    if (auto refusal = m_request.refusal())
        return refusal;
    // Every embedding is built before the first map: a sweep that cannot
    // be drawn to its end is refused, not cut short. Their spectra take a
    // sixteenth of a field's memory each, a few megabytes at common sizes.
    for (std::size_t i = 0; i < m_axis.size(); ++i) {
        QString reason;
        if (!embedding(i, &reason))
            return Phrase(reason);
        if (m_request.shape.longerSide() > largeSide && i > 0)
            m_embeddings[i - 1].reset();
    }
    return std::nullopt;
}

bool GaussianMapGenerator::ownsUnit(qint64 unit) const
{
    return m_request.output.ownsUnit(unit, m_request.shareUnits());
}

bool GaussianMapGenerator::ownsPlace(const NamePlace &place) const
{
    const qint64 coverIndex = m_request.covers.indexOf(place.cover);
    const MapFormat format =
        place.surface ? surfaceFormat(m_request.output.format) : m_request.output.format;
    if (coverIndex < 0 || (place.surface && !m_request.writeSurfaces) || place.format != format ||
        place.variant != wordOf(m_request.model))
        return false;
    for (std::size_t a = 0; a < m_axis.size(); ++a)
        if (QString::asprintf("%.2f", m_axis[a]) == QString::asprintf("%.2f", place.axis))
            return m_request.ownsMapOf(qint64(a) * m_request.covers.count() + coverIndex,
                                       place.replicate);
    return false;
}

ManifestColumns GaussianMapGenerator::manifestColumns() const
{
    ManifestColumns columns = commonColumns();
    columns.family = {
        {"model", {}, ManifestType::Text},
        {"range", {}, ManifestType::Measure},
        {"nu", {}, ManifestType::Measure},
        {"cut", {}, ManifestType::Text},
        {"tied_habitat", {}, ManifestType::LargeWhole},
    };
    columns.surfaceFile = m_request.writeSurfaces;
    return columns;
}

QString GaussianMapGenerator::fileName(const QString &nameStem, double axisValue, int cover,
                                       int replicate, bool surface) const
{
    NamePlace place;
    place.variant = wordOf(m_request.model);
    place.axis = axisValue;
    place.cover = cover;
    place.replicate = replicate;
    place.surface = surface;
    place.format = surface ? surfaceFormat(m_request.output.format) : m_request.output.format;
    return nameStem + gaussianNames().tail(place);
}

QString GaussianMapGenerator::longestMapName(const QString &nameStem) const
{
    double widest = 0;
    for (double value : m_axis)
        widest = std::max(widest, value);
    return fileName(nameStem, widest, 100, m_request.replicates, m_request.writeSurfaces);
}

BatchResult GaussianMapGenerator::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                           BatchProgress &progress)
{
    MapWriter writer(m_request.output, publisher.inMemory());
    progress.setLabelText(QStringLiteral("Calculando..."));
    const BatchResult result = m_request.output.selects()
                                   ? drawUntilKept(nameStem, writer, publisher, progress)
                                   : drawAllFields(nameStem, writer, publisher, progress);
    // Whatever ends the run, the maps made before the end are named.
    if (FileResult error = publisher.flush(); error && result.ok())
        return BatchResult::failed(error->message());
    return result;
}

QString GaussianMapGenerator::notEnoughMemory(std::size_t axisIndex) const
{
    QString reason;
    if (!embedding(axisIndex, &reason))
        return reason;
    return tr("There is not enough memory for a Gaussian field of %1 x %2 points.")
        .arg(m_embeddings[axisIndex]->sides().rows)
        .arg(m_embeddings[axisIndex]->sides().columns);
}

BatchResult GaussianMapGenerator::drawAllFields(const QString &nameStem, MapWriter &writer,
                                                MapPublisher &publisher, BatchProgress &progress)
{
    // The fields in the order their maps are written: the batch's, or a
    // share's run of them, the k-th from its place alone, so that nothing
    // is kept for the fields not yet drawn.
    const std::vector<int> covers = m_request.covers.values();
    const qint64 units = m_request.shareUnits();
    const std::optional<BatchShard> &shard = m_request.output.shard;
    const qint64 firstPosition = shard ? shard->begin(units) : 0;
    const qint64 fieldCount = m_request.output.ownUnits(units);
    const auto fieldAt = [&](qint64 k, Field &field) {
        const qint64 position = firstPosition + k;
        field.position = position;
        field.axisIndex = std::size_t(position / (qint64(covers.size()) * m_request.replicates));
        field.axisValue = m_axis[field.axisIndex];
        field.cover = covers[std::size_t(position / m_request.replicates % qint64(covers.size()))];
        field.replicate = field.draw = int(position % m_request.replicates) + 1;
        field.drawn = false;
    };
    progress.setMaximum(int(std::min<qint64>(fieldCount, std::numeric_limits<int>::max())));
    progress.setValue(0);

    const int ahead = m_request.shape.longerSide() > largeSide ? 0 : drawnAhead;
    // Builds every embedding on this thread first: the helpers only read them.
    for (std::size_t a = 0; a < m_axis.size(); ++a)
        if (ahead > 0 && !embedding(a, nullptr))
            return BatchResult::failed(notEnoughMemory(a));
    // Fields are drawn in groups of consecutive ones, each group on a
    // helper thread of its own, so that small fields do not each pay for a
    // thread and a handoff: a group is about 2^21 spectral entries. Group g
    // is drawn in workspace g % (ahead + 1), and its fields held in the
    // slots of that workspace, since no more than ahead + 1 consecutive
    // groups are drawn or read at once.
    const qint64 entries = ahead > 0 ? qint64(m_embeddings.front()->spectralEntries()) : 1;
    const qint64 group = ahead > 0 ? std::clamp<qint64>((qint64(1) << 21) / entries, 1, 64) : 1;
    std::vector<FieldWorkspace> workspaces(std::size_t(ahead) + 1);
    std::vector<Field> slots(workspaces.size() * std::size_t(group));
    const auto slotOf = [&](qint64 k) -> Field & {
        return slots[std::size_t((k / group) % qint64(workspaces.size()) * group + k % group)];
    };
    auto draw = [this, &fieldAt, &slotOf](qint64 first, qint64 last, FieldWorkspace *workspace) {
        for (qint64 k = first; k < last; ++k) {
            Field &field = slotOf(k);
            fieldAt(k, field);
            const CirculantEmbedding *e = embedding(field.axisIndex, nullptr);
            field.drawn =
                e && e->draw(fieldStream(m_request, field.axisValue, field.cover, field.draw),
                             field.values, *workspace);
            blendInto(field);
        }
    };

    // Declared after the slots and workspaces the helpers draw into.
    TasksAhead pending(ahead > 0);
    qint64 next = 0;
    auto launch = [&] {
        while (next < fieldCount && pending.running() <= ahead) {
            const qint64 first = next;
            next = std::min(fieldCount, first + group);
            FieldWorkspace *workspace =
                &workspaces[std::size_t((first / group) % qint64(workspaces.size()))];
            pending.start([&draw, first, last = next, workspace] { draw(first, last, workspace); });
        }
    };

    std::vector<double> scratch;
    Field following;
    for (qint64 k = 0; k < fieldCount; ++k) {
        if (k % group == 0) {
            launch();
            pending.takeFirst();
        }
        Field &field = slotOf(k);
        progress.setLabelText(progressLabel(m_request, field.axisValue, field.replicate));
        if (m_request.shape.longerSide() > largeSide && k + 1 < fieldCount) {
            fieldAt(k + 1, following);
            if (following.axisIndex != field.axisIndex)
                m_embeddings[field.axisIndex].reset();
        }
        if (!field.drawn)
            return BatchResult::failed(notEnoughMemory(field.axisIndex));
        if (field.blendFailure)
            return BatchResult::failed(*field.blendFailure);
        if (const std::optional<Cut> cut = cutOf(field, scratch))
            if (FileResult error = writeMap(field, *cut, nameStem, writer, publisher))
                return BatchResult::failed(error->message());
        std::vector<double>().swap(field.values);
        progress.setValue(int(std::min<qint64>(k + 1, std::numeric_limits<int>::max())));
        if (progress.wasCanceled())
            return BatchResult::canceled();
    }
    return BatchResult::completed();
}

BatchResult GaussianMapGenerator::drawUntilKept(const QString &nameStem, MapWriter &writer,
                                                MapPublisher &publisher, BatchProgress &progress)
{
    const BatchOutput &output = m_request.output;
    m_ledger = SelectionLedger();
    MapSelector selector(output.targets, m_request.shape.columns, output.neighbours,
                         output.georeference.cellSize, output.coverValue, output.matrixValue);
    if (output.cutsClasses())
        selector.measureClasses(output.classCodes(), output.measuredOutside());
    const std::vector<int> covers = m_request.covers.values();
    // The bar counts the maps asked for; a cell that is given up moves it
    // on by the maps it still lacked.
    progress.setMaximum(int(std::min<qint64>(plannedMaps(), std::numeric_limits<int>::max())));
    progress.setValue(0);
    qint64 done = 0;
    FieldWorkspace workspace;
    std::vector<double> scratch;
    for (std::size_t a = 0; a < m_axis.size(); ++a) {
        const CirculantEmbedding *e = embedding(a, nullptr);
        if (!e)
            return BatchResult::failed(notEnoughMemory(a));
        for (std::size_t c = 0; c < covers.size(); ++c) {
            const qint64 cellIndex = qint64(a) * qint64(covers.size()) + qint64(c);
            if (!ownsUnit(cellIndex))
                continue;
            const int cover = covers[c];
            SelectionLedger::Cell &cell =
                m_ledger.cell({int(a), cover},
                              tr("%1 %2 cover %3")
                                  .arg(m_request.model == CovarianceModel::Fbm ? QStringLiteral("H")
                                                                               : tr("range"))
                                  .arg(QString::asprintf("%.2f", m_axis[a]))
                                  .arg(cover));
            Field field;
            field.axisIndex = a;
            field.axisValue = m_axis[a];
            field.cover = cover;
            for (int draw = 1; draw <= output.maxDraws && cell.kept < m_request.replicates;
                 ++draw) {
                progress.setLabelText(progressLabel(m_request, field.axisValue, cell.kept + 1));
                field.draw = draw;
                field.drawn = e->draw(fieldStream(m_request, field.axisValue, cover, draw),
                                      field.values, workspace);
                if (!field.drawn)
                    return BatchResult::failed(notEnoughMemory(a));
                blendInto(field);
                if (field.blendFailure)
                    return BatchResult::failed(*field.blendFailure);
                progress.drawsMade(m_ledger.drew(cell));
                const std::optional<Cut> cut = cutOf(field, scratch);
                bool kept = false;
                if (output.cutsClasses()) {
                    SurfaceClassRows rows(output, cover, field.values.data(), m_request.shape.rows,
                                          m_request.shape.columns, m_request.shape.columns);
                    kept = selector.acceptsClasses(
                        m_request.shape.rows,
                        [&rows](int row, std::uint8_t *out) { rows.fill(row, out); });
                } else {
                    CutCells cells(field.values.data(), m_request.shape.columns, cut->threshold,
                                   cut->tiesAbove);
                    kept = selector.accepts(
                        m_request.shape.rows, [this, &cells](int row, std::uint8_t *out) {
                            for (int col = 0; col < m_request.shape.columns; ++col)
                                out[col] = cells(row, col);
                        });
                }
                if (kept) {
                    field.replicate = ++cell.kept;
                    field.position = cellIndex * m_request.replicates + cell.kept - 1;
                    if (FileResult error = writeMap(field, *cut, nameStem, writer, publisher))
                        return BatchResult::failed(error->message());
                    progress.setValue(int(std::min<qint64>(++done, INT_MAX)));
                }
                if (progress.wasCanceled())
                    return BatchResult::canceled();
            }
            done += m_request.replicates - cell.kept;
            progress.setValue(int(std::min<qint64>(done, INT_MAX)));
        }
        if (m_request.shape.longerSide() > largeSide)
            m_embeddings[a].reset();
    }
    return BatchResult::completed();
}

std::optional<GaussianMapGenerator::Cut>
GaussianMapGenerator::cutOf(Field &field, std::vector<double> &scratch) const
{
    const MapShape shape = m_request.shape;
    // Classes find their boundaries as their map is written.
    if (m_request.output.cutsClasses())
        return Cut{std::numeric_limits<double>::quiet_NaN(), 0};
    if (m_request.cut == FractalCut::Exact) {
        // An exact cut reads the field as drawn.
        const ExactCoverCut cut =
            ExactCutter(field.values.data(), shape.rows, shape.columns, shape.columns)
                .cut(field.cover);
        return Cut{cut.threshold, cut.tiesAbove};
    }
    // A ladder cut reads the field rescaled to [0, 1], as fractal surfaces
    // are, and that is the surface its file holds.
    std::vector<double> &values = field.values;
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    const double lowest = *low;
    const double span = *high - *low;
    for (double &v : values)
        v = span > 0 ? (v - lowest) / span : 0.0;
    scratch.assign(values.begin(), values.end());
    std::sort(scratch.begin(), scratch.end());
    const qint64 cells = shape.cells();
    static const auto ladder = ladderThresholds();
    for (const double t : ladder) {
        const qint64 above =
            qint64(scratch.end() - std::upper_bound(scratch.begin(), scratch.end(), t));
        if (int(double(above) / double(cells) * 100.0) == field.cover)
            return Cut{t, 0};
    }
    return std::nullopt;
}

FileResult GaussianMapGenerator::writeMap(const Field &field, const Cut &cut,
                                          const QString &nameStem, MapWriter &writer,
                                          MapPublisher &publisher) const
{
    const int rows = m_request.shape.rows;
    const int columns = m_request.shape.columns;
    const double *values = field.values.data();
    const BatchOutput &output = m_request.output;
    const QString name = fileName(nameStem, field.axisValue, field.cover, field.replicate, false);
    if (FileResult error = writer.open(name, rows, columns))
        return error;
    const bool classes = output.cutsClasses();
    if (classes)
        putClassCut(writer, output, field.cover, values, rows, columns, columns);
    else
        putCutRows(writer, values, rows, columns, columns, cut.threshold, cut.tiesAbove);
    FinishedMap map;
    if (FileResult error = writer.finish(map))
        return error;
    const bool writeSurface = m_request.writeSurfaces && !publisher.inMemory();
    const QString surfaceName =
        writeSurface ? fileName(nameStem, field.axisValue, field.cover, field.replicate, true)
                     : QString();
    MapRecord &record = map.record;
    fillRecord(record, name, writer, rows, columns, field.cover, field.replicate);
    const bool fbm = m_request.model == CovarianceModel::Fbm;
    if (fbm)
        record.H = field.axisValue;
    record.axis = field.axisValue;
    if (!classes)
        record.threshold = cut.threshold;
    record.seed = m_request.seed;
    record.tiedHabitat = cut.tiesAbove;
    record.parameters = manifestColumns().family;
    record.parameters[0].value = wordOf(m_request.model).toLatin1();
    if (!fbm)
        record.parameters[1].value = manifestNumber("%.2f", field.axisValue);
    if (m_request.model == CovarianceModel::Matern)
        record.parameters[2].value = manifestNumber("%.2f", m_request.nu);
    record.parameters[3].value = wordOf(m_request.cut).toLatin1();
    record.parameters[4].value = QByteArray::number(cut.tiesAbove);
    record.surfaceFile = QFileInfo(surfaceName).fileName();
    record.blend = field.blend;
    record.position = field.position;
    if (output.selects())
        record.draw = field.draw;
    if (!writeSurface)
        return publisher.add(std::move(map));
    // The field goes with its map, named before it: should it fail, the map
    // is not named, and no manifest row names a missing file.
    FinishedMap surface;
    surface.listed = false;
    surface.files.emplace_back();
    if (FileResult error = writeSurfaceGrid(
            values, rows, columns, columns, surfaceName, output.format, output.georeference,
            classes ? std::vector<double>() : std::vector<double>{cut.threshold},
            surface.files.back()))
        return error;
    if (FileResult error = publisher.add(std::move(surface)))
        return error;
    return publisher.add(std::move(map));
}

QList<Phrase> GaussianMapGenerator::shortfalls(const MapTally &written) const
{
    if (m_request.output.selects())
        return m_ledger.shortfalls(m_request.replicates, m_request.output.maxDraws);
    if (m_request.cut == FractalCut::Exact)
        return {};
    // Ladder cuts: a field none of whose thresholds gives its cover.
    QList<Phrase> lines;
    const std::vector<int> covers = m_request.covers.values();
    for (std::size_t c = 0; c < covers.size(); ++c) {
        const int cover = covers[c];
        QStringList short_;
        for (std::size_t a = 0; a < m_axis.size(); ++a) {
            // The fields of the cell this run drew: a share draws some.
            const qint64 first =
                (qint64(a) * qint64(covers.size()) + qint64(c)) * m_request.replicates;
            int asked = 0;
            for (int r = 0; r < m_request.replicates; ++r)
                asked += ownsUnit(first + r) ? 1 : 0;
            const qint64 count = written.count(m_axis[a], cover);
            if (count < asked)
                short_.append(tr("%1 of %2 at %3")
                                  .arg(count)
                                  .arg(asked)
                                  .arg(QString::asprintf("%.2f", m_axis[a])));
        }
        if (!short_.isEmpty())
            lines.append(tr("cover %1 fell short: %2; no threshold of the ladder cut those "
                            "fields at that cover (exact cuts always do)")
                             .arg(cover)
                             .arg(short_.join(QStringLiteral(", "))));
    }
    return lines;
}

QStringList GaussianMapGenerator::acceptance() const
{
    return m_ledger.acceptance(m_request.replicates);
}

void GaussianMapGenerator::settleRecords(QList<MapRecord> &records) const
{
    m_ledger.settle(records, [this](const MapRecord &record) {
        const auto a = int(std::find(m_axis.begin(), m_axis.end(), record.axis) - m_axis.begin());
        return std::pair<int, int>(a, record.requestedCover);
    });
}
