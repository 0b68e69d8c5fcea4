// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/drawnfamily.h"

#include "core/batch/classcut.h"
#include "core/batch/diskspace.h"
#include "core/batch/mappublisher.h"
#include "core/batch/mapwriter.h"
#include "core/batch/requestchecks.h"
#include "core/batch/surfacecut.h"
#include "core/files/helperthread.h"
#include "core/grid/surfacegrid.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("DrawnFamily", text);
}

// The sweep's word and value "%.2f" (at most 10000.00) and "_", cover
// "%03i", "_", replicate "%05i", "_surface", ".txt".
int nameTail(const DrawnRequest &request)
{
    return 10 + 3 + 1 + std::max(5, DiskSpace::decimalLength(request.replicates)) + 8 + 4;
}

// Above this many cells a map's surface takes more than 32 MB, and maps are
// drawn one at a time, so that a run holds one map's memory, not three.
constexpr qint64 drawnAheadCells = qint64(2048) * 2048;
// Maps drawn at once beside the one being written: the draws are the
// work of these families, the writing of a map in memory is light.
constexpr int drawnAhead = 2;

QString axisText(double value)
{
    return QString::asprintf("%.2f", value);
}

} // namespace

std::optional<Phrase> outsideOption(const char *key, qint64 value, IntLimits limits)
{
    if (limits.contains(value))
        return std::nullopt;
    return Phrase::marked(tr("{%1} must be between %2 and %3, not %4")
                              .arg(QLatin1String(key))
                              .arg(limits.min)
                              .arg(limits.max)
                              .arg(value));
}

void rescaleSurface(DrawnMap &map)
{
    const auto [low, high] = std::minmax_element(map.surface.begin(), map.surface.end());
    if (low == map.surface.end() || !(*high > *low))
        return;
    const double least = *low;
    const double span = *high - *low;
    for (double &value : map.surface)
        value = (value - least) / span;
}

QString drawnFileNaming(const QString &prefix)
{
    return tr("Files are named PREFIX + cover (3 digits) + _ + replicate (5 digits) +\n"
              ".txt (.asc, .tif); the batch list PREFIX + ListFragStat.fbt and the manifest\n"
              "PREFIX + manifest.csv are written beside them. The prefix is %1 unless\n"
              "--prefix gives one.")
        .arg(prefix);
}

std::optional<Phrase> outsideOption(const char *key, double value, HundredthsLimits limits)
{
    if (std::isfinite(value) && limits.contains(value))
        return std::nullopt;
    return Phrase::marked(tr("{%1} must be between %2 and %3, not %4")
                              .arg(QLatin1String(key))
                              .arg(QString::number(limits.min))
                              .arg(QString::number(limits.max))
                              .arg(QString::number(value)));
}

DrawStream::DrawStream(std::uint32_t seed, philox::Domain domain, const DrawPlace &place)
    : m_key(philox::key(seed, domain))
    , m_replicate(std::uint32_t(place.replicate))
    , m_place((std::uint32_t(std::llround(place.axis * 100.0)) & 0xFFFFu) |
              (std::uint32_t(place.cover) & 0xFFu) << 16)
{}

namespace {

PW_PHILOX_CLONES void fillWords(philox::Key key, std::uint32_t first, std::size_t count,
                                std::uint32_t replicate, std::uint32_t place, std::uint32_t purpose,
                                std::uint32_t *out)
{
    for (std::size_t k = 0; k < count; ++k) {
        const philox::Counter bits =
            philox::bits(key, {{first + std::uint32_t(k), replicate, place, purpose}});
        for (int w = 0; w < 4; ++w)
            out[4 * k + std::size_t(w)] = bits.v[w];
    }
}

} // namespace

void DrawStream::words(std::uint32_t first, std::size_t count, std::uint32_t purpose,
                       std::uint32_t *out) const
{
    fillWords(m_key, first, count, m_replicate, m_place, purpose, out);
}

std::vector<double> DrawnRequest::axisValues() const
{
    if (const HurstRange *values = sweep())
        return values->values();
    return {0.0};
}

std::vector<double> DrawnRequest::sharesAt(int cover) const
{
    std::vector<double> shares = output.classShares();
    if (shares.empty())
        shares = {100.0 - cover, double(cover)};
    return shares;
}

const std::uint8_t *DrawnRequest::inside() const
{
    return output.studyArea ? output.studyArea->inside.data() : nullptr;
}

qint64 DrawnRequest::validCells() const
{
    return output.studyArea ? output.studyArea->insideCount : shape.cells();
}

std::optional<Phrase> DrawnRequest::moreThanCells(const char *key, qint64 count,
                                                  const char *what) const
{
    if (count <= validCells())
        return std::nullopt;
    const QString text = output.studyArea
                             ? tr("{%1} (%2) is more than the %3 cells of the study area: every "
                                  "%4 needs a cell of its own")
                             : tr("{%1} (%2) is more than the %3 cells of a map: every %4 needs "
                                  "a cell of its own");
    return Phrase::marked(
        text.arg(QLatin1String(key)).arg(count).arg(validCells()).arg(QLatin1String(what)));
}

CellDrawer::CellDrawer(const DrawnRequest &request)
    : m_inside(request.inside() != nullptr)
    , m_count(std::uint64_t(request.validCells()))
{
    if (!m_inside)
        return;
    const std::uint8_t *in = request.inside();
    m_cells.reserve(std::size_t(m_count));
    for (std::size_t i = 0; i < std::size_t(request.shape.cells()); ++i)
        if (in[i])
            m_cells.push_back(std::uint32_t(i));
}

std::optional<Phrase> DrawnRequest::refusal() const
{
    return firstRefusal(
        [this] { return sweepRefusal(*this); },
        [this] { return outside("the number of replicates", replicates, replicateLimits); },
        [this] { return outside("the seed", seed, seedLimits); },
        [this] { return output.refusal(); }, [this] { return ownRefusal(); },
        [this]() -> std::optional<Phrase> {
            if (!blends.empty() && drawsClasses())
                return Phrase::marked(tr("{blend} adds surfaces to the surface a map is cut "
                                         "from, and these maps are drawn as classes"));
            return blendRefusal(*this, shape.rows, shape.columns);
        });
}

qint64 DrawnRequest::mapCount() const
{
    return std::max<qint64>(0, qint64(axisValues().size()) * covers.count() * replicates);
}

qint64 DrawnRequest::shareUnits() const
{
    return output.selects() ? qint64(axisValues().size()) * std::max<qint64>(covers.count(), 0)
                            : mapCount();
}

DiskEstimate DrawnRequest::diskEstimate(qint64 blockSize) const
{
    // Every map holds its cover to the cell when cut from a surface, and
    // any share of habitat when its classes are drawn.
    const bool exact = !drawsClasses();
    return DiskSpace::sweptMaps(*this, double(axisValues().size()), writeSurfaces, nameTail(*this),
                                blockSize, [exact](int cover) {
                                    const double low =
                                        exact ? std::clamp(cover / 100.0, 0.0, 1.0) : 0.0;
                                    return std::pair(low, exact ? low : 1.0);
                                });
}

SweepAxis DrawnRequest::sweepAxis() const
{
    if (!sweep())
        return {};
    return {sweepName(), -6};
}

QString DrawnNames::tail(const NamePlace &place) const
{
    QString text;
    if (m_axisWord && !std::isnan(place.axis))
        text = QLatin1String(m_axisWord) + axisText(place.axis) + QLatin1Char('_');
    return text + QString::asprintf("%03i_%05lli", place.cover, place.replicate) +
           (place.surface ? QStringLiteral("_surface") : QString()) +
           mapFormatExtension(place.format);
}

std::optional<NamePlace> DrawnNames::parse(QStringView tail) const
{
    const qsizetype dot = tail.lastIndexOf(QLatin1Char('.'));
    const auto format = dot < 0 ? std::nullopt : mapFormatOfExtension(tail.mid(dot));
    if (!format)
        return std::nullopt;
    QList<QStringView> parts = tail.first(dot).split(u'_');
    NamePlace place;
    place.format = *format;
    place.surface = !parts.isEmpty() && parts.last() == QLatin1String("surface");
    if (place.surface)
        parts.removeLast();
    const qsizetype axisParts = m_axisWord && parts.size() == 3 ? 1 : 0;
    if (parts.size() != 2 + axisParts || (place.surface && place.format == MapFormat::Plain))
        return std::nullopt;
    bool ok[3] = {true, false, false};
    place.axis = std::numeric_limits<double>::quiet_NaN();
    if (axisParts) {
        const auto word = QLatin1String(m_axisWord);
        if (!parts[0].startsWith(word))
            return std::nullopt;
        place.axis = parts[0].mid(word.size()).toDouble(&ok[0]);
    }
    place.cover = parts[axisParts].toInt(&ok[1]);
    place.replicate = parts[axisParts + 1].toLongLong(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2])
        return std::nullopt;
    return place;
}

std::optional<Phrase> drawnSurface(const DrawnRequest &request, qint64 cover, qint64 replicate,
                                   MapFamily::Surface &surface)
{
    if (auto refusal = request.refusal())
        return refusal;
    const std::vector<double> axis = request.axisValues();
    if (axis.size() != 1)
        return Phrase(tr("%1 is one value, not a sweep").arg(request.sweepName()));
    if (!IntLimits{0, 100}.contains(cover))
        return Phrase(tr("cover must be between 0 and 100"));
    if (!IntLimits{1, BatchOutput::maxDrawLimits.max}.contains(replicate))
        return Phrase(tr("replicate must be between 1 and %1").arg(BatchOutput::maxDrawLimits.max));
    DrawnMap map;
    map.wantSurface = true;
    map.surface = std::move(surface.values);
    if (auto failure = request.draw({axis.front(), int(cover), int(replicate)}, map))
        return Phrase(*failure);
    if (!request.blends.empty()) {
        const SurfaceBlend blend(request, request.shape.rows, request.shape.columns);
        if (auto failure = blend
                               .blend(map.surface.data(), request.shape.columns, request.seed,
                                      int(cover), replicate)
                               .failure)
            return Phrase(*failure);
    }
    surface.values = std::move(map.surface);
    surface.rows = request.shape.rows;
    surface.columns = request.shape.columns;
    return std::nullopt;
}

struct DrawnMapSource::Drawn {
    DrawPlace place;
    // The map's number among its cell's; the place's replicate is the
    // draw, which differs from it with targets only.
    int replicate = 1;
    qint64 position = 0;
    DrawnMap map;
    // What was blended into its surface, as the manifest records it.
    QByteArray blend;
    std::optional<QString> failure;
};

DrawnMapSource::DrawnMapSource(const DrawnRequest &request)
    : m_request(static_cast<DrawnRequest *>(request.clone().release()))
    , m_axis(request.axisValues())
{
    if (!request.blends.empty() && !request.drawsClasses())
        m_blend =
            std::make_unique<SurfaceBlend>(request, request.shape.rows, request.shape.columns);
}

void DrawnMapSource::drawInto(Drawn &drawn) const
{
    drawn.failure = m_request->draw(drawn.place, drawn.map);
    if (drawn.failure || !m_blend)
        return;
    SurfaceBlend::Blended blended =
        m_blend->blend(drawn.map.surface.data(), m_request->shape.columns, m_request->seed,
                       drawn.place.cover, drawn.place.replicate);
    drawn.failure = std::move(blended.failure);
    drawn.blend = std::move(blended.record);
}

DrawnMapSource::~DrawnMapSource() = default;

QString DrawnMapSource::fileName(const QString &nameStem, const DrawPlace &place,
                                 bool surface) const
{
    NamePlace name;
    name.axis = m_request->sweep() ? place.axis : std::numeric_limits<double>::quiet_NaN();
    name.cover = place.cover;
    name.replicate = place.replicate;
    name.surface = surface;
    name.format = surface ? surfaceFormat(m_request->output.format) : m_request->output.format;
    return nameStem + family().names().tail(name);
}

QString DrawnMapSource::longestMapName(const QString &nameStem) const
{
    const double widest = *std::max_element(m_axis.begin(), m_axis.end());
    return fileName(nameStem, {widest, 100, m_request->replicates}, m_request->writeSurfaces);
}

bool DrawnMapSource::ownsPlace(const NamePlace &place) const
{
    const qint64 coverIndex = m_request->covers.indexOf(place.cover);
    const MapFormat format =
        place.surface ? surfaceFormat(m_request->output.format) : m_request->output.format;
    if (coverIndex < 0 || (place.surface && !m_request->writeSurfaces) || place.format != format)
        return false;
    if (!m_request->sweep())
        return std::isnan(place.axis) && m_request->ownsMapOf(coverIndex, place.replicate);
    for (std::size_t a = 0; a < m_axis.size(); ++a)
        if (axisText(m_axis[a]) == axisText(place.axis))
            return m_request->ownsMapOf(qint64(a) * m_request->covers.count() + coverIndex,
                                        place.replicate);
    return false;
}

ManifestColumns DrawnMapSource::manifestColumns() const
{
    ManifestColumns columns = commonColumns();
    columns.family = m_request->ownColumns();
    if (!m_request->drawsClasses())
        columns.family.append({"tied_habitat", {}, ManifestType::LargeWhole});
    columns.surfaceFile = m_request->writeSurfaces;
    return columns;
}

QString DrawnMapSource::progressLabel(const DrawPlace &place) const
{
    QString label = tr("Drawing ");
    if (m_request->sweep())
        label +=
            m_request->sweepName() + QLatin1Char('=') + axisText(place.axis) + QStringLiteral(", ");
    return label + tr("cover %1, map %2").arg(place.cover).arg(place.replicate);
}

BatchResult DrawnMapSource::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                     BatchProgress &progress)
{
    MapWriter writer(m_request->output, publisher.inMemory());
    progress.setLabelText(tr("Drawing..."));
    const BatchResult result = m_request->output.selects()
                                   ? drawUntilKept(nameStem, writer, publisher, progress)
                                   : drawAll(nameStem, writer, publisher, progress);
    // Whatever ends the run, the maps made before the end are named.
    if (FileResult error = publisher.flush(); error && result.ok())
        return BatchResult::failed(error->message());
    return result;
}

BatchResult DrawnMapSource::drawAll(const QString &nameStem, MapWriter &writer,
                                    MapPublisher &publisher, BatchProgress &progress)
{
    // The maps in the order they are written: the batch's, or a share's run
    // of them, the k-th from its place alone.
    const std::vector<int> covers = m_request->covers.values();
    const qint64 units = m_request->shareUnits();
    const std::optional<BatchShard> &shard = m_request->output.shard;
    const qint64 firstPosition = shard ? shard->begin(units) : 0;
    const qint64 count = m_request->output.ownUnits(units);
    const qint64 replicates = m_request->replicates;
    const bool surfaces = m_request->writeSurfaces && !publisher.inMemory();
    const auto draw = [&](qint64 k, Drawn &drawn) {
        drawn.map.wantSurface = surfaces;
        const qint64 position = firstPosition + k;
        drawn.position = position;
        drawn.place.axis = m_axis[std::size_t(position / (qint64(covers.size()) * replicates))];
        drawn.place.cover = covers[std::size_t(position / replicates % qint64(covers.size()))];
        drawn.place.replicate = drawn.replicate = int(position % replicates) + 1;
        drawInto(drawn);
    };
    progress.setMaximum(int(std::min<qint64>(count, std::numeric_limits<int>::max())));
    progress.setValue(0);
    // The next maps are drawn on helper threads, one a thread, while this
    // one is written, each into a slot of its own that is drawn into again
    // only once its map is written; large maps are drawn in turn into one.
    const int ahead = m_request->shape.cells() <= drawnAheadCells ? drawnAhead : 0;
    std::vector<Drawn> slots(std::size_t(ahead) + 1);
    const auto slotOf = [&slots](qint64 k) -> Drawn & {
        return slots[std::size_t(k % qint64(slots.size()))];
    };
    // Declared after the slots the helpers draw into.
    TasksAhead pending(ahead > 0);
    qint64 next = 0;
    const auto launch = [&](qint64 upTo) {
        for (; next < count && next <= upTo; ++next)
            pending.start([&draw, k = next, &slot = slotOf(next)] { draw(k, slot); });
    };
    for (qint64 k = 0; k < count; ++k) {
        launch(k + ahead);
        pending.takeFirst();
        const Drawn &drawn = slotOf(k);
        progress.setLabelText(progressLabel(drawn.place));
        if (drawn.failure)
            return BatchResult::failed(*drawn.failure);
        if (FileResult error = writeMap(drawn, nameStem, writer, publisher))
            return BatchResult::failed(error->message());
        progress.setValue(int(std::min<qint64>(k + 1, std::numeric_limits<int>::max())));
        if (progress.wasCanceled())
            return BatchResult::canceled();
    }
    return BatchResult::completed();
}

BatchResult DrawnMapSource::drawUntilKept(const QString &nameStem, MapWriter &writer,
                                          MapPublisher &publisher, BatchProgress &progress)
{
    const BatchOutput &output = m_request->output;
    const MapShape shape = m_request->shape;
    m_ledger = SelectionLedger();
    MapSelector selector(output.targets, shape.columns, output.neighbours,
                         output.georeference.cellSize, output.coverValue, output.matrixValue);
    const bool classes = output.cutsClasses();
    if (classes)
        selector.measureClasses(output.classCodes(), output.measuredOutside());
    const std::vector<int> covers = m_request->covers.values();
    // The bar counts the maps asked for; a cell that is given up moves it
    // on by the maps it still lacked.
    progress.setMaximum(int(std::min<qint64>(plannedMaps(), std::numeric_limits<int>::max())));
    progress.setValue(0);
    qint64 done = 0;
    Drawn drawn;
    drawn.map.wantSurface = m_request->writeSurfaces && !publisher.inMemory();
    const auto columns = std::size_t(shape.columns);
    for (std::size_t a = 0; a < m_axis.size(); ++a) {
        for (std::size_t c = 0; c < covers.size(); ++c) {
            const qint64 cellIndex = qint64(a) * qint64(covers.size()) + qint64(c);
            if (!output.ownsUnit(cellIndex, m_request->shareUnits()))
                continue;
            const int cover = covers[c];
            QString cellName = tr("cover %1").arg(cover);
            if (m_request->sweep())
                cellName = m_request->sweepName() + QLatin1Char(' ') + axisText(m_axis[a]) +
                           QLatin1Char(' ') + cellName;
            SelectionLedger::Cell &cell = m_ledger.cell({int(a), cover}, cellName);
            for (int draw = 1; draw <= output.maxDraws && cell.kept < m_request->replicates;
                 ++draw) {
                drawn.place = {m_axis[a], cover, draw};
                progress.setLabelText(progressLabel({m_axis[a], cover, cell.kept + 1}));
                drawInto(drawn);
                if (drawn.failure)
                    return BatchResult::failed(*drawn.failure);
                progress.drawsMade(m_ledger.drew(cell));
                bool kept = false;
                std::optional<ExactCoverCut> cut;
                const DrawnMap &map = drawn.map;
                if (!map.classes.empty()) {
                    const std::uint8_t *cells = map.classes.data();
                    const auto rowOf = [cells, columns](int row, std::uint8_t *out) {
                        std::copy_n(cells + std::size_t(row) * columns, columns, out);
                    };
                    kept = classes ? selector.acceptsClasses(shape.rows, rowOf)
                                   : selector.accepts(shape.rows, rowOf);
                } else if (classes) {
                    SurfaceClassRows rows(output, cover, map.surface.data(), shape.rows,
                                          shape.columns, shape.columns);
                    kept = selector.acceptsClasses(
                        shape.rows, [&rows](int row, std::uint8_t *out) { rows.fill(row, out); });
                } else {
                    cut = ExactCutter(map.surface.data(), shape.rows, shape.columns, shape.columns)
                              .cut(cover);
                    CutCells cells(map.surface.data(), shape.columns, cut->threshold,
                                   cut->tiesAbove);
                    kept =
                        selector.accepts(shape.rows, [&cells, columns](int row, std::uint8_t *out) {
                            for (std::size_t col = 0; col < columns; ++col)
                                out[col] = cells(row, int(col));
                        });
                }
                if (kept) {
                    drawn.replicate = ++cell.kept;
                    drawn.position = cellIndex * m_request->replicates + cell.kept - 1;
                    if (FileResult error = writeMap(drawn, nameStem, writer, publisher, cut))
                        return BatchResult::failed(error->message());
                    progress.setValue(int(std::min<qint64>(++done, INT_MAX)));
                }
                if (progress.wasCanceled())
                    return BatchResult::canceled();
            }
            done += m_request->replicates - cell.kept;
            progress.setValue(int(std::min<qint64>(done, INT_MAX)));
        }
    }
    return BatchResult::completed();
}

FileResult DrawnMapSource::writeMap(const Drawn &drawn, const QString &nameStem, MapWriter &writer,
                                    MapPublisher &publisher, std::optional<ExactCoverCut> cut) const
{
    const int rows = m_request->shape.rows;
    const int columns = m_request->shape.columns;
    const BatchOutput &output = m_request->output;
    const DrawnMap &map = drawn.map;
    DrawPlace named = drawn.place;
    named.replicate = drawn.replicate;
    const QString name = fileName(nameStem, named, false);
    if (FileResult error = writer.open(name, rows, columns))
        return error;
    const bool classes = output.cutsClasses();
    if (!map.classes.empty()) {
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t *row = map.classes.data() + std::size_t(r) * std::size_t(columns);
            if (classes)
                writer.putClasses(row, columns);
            else
                writer.putCells(row, columns);
        }
    } else if (classes) {
        putClassCut(writer, output, drawn.place.cover, map.surface.data(), rows, columns, columns);
    } else {
        // A cut made for the targets is not made again.
        if (!cut)
            cut = ExactCutter(map.surface.data(), rows, columns, columns).cut(drawn.place.cover);
        putCutRows(writer, map.surface.data(), rows, columns, columns, cut->threshold,
                   cut->tiesAbove);
    }
    FinishedMap finished;
    if (FileResult error = writer.finish(finished))
        return error;
    const bool writeSurface =
        m_request->writeSurfaces && !publisher.inMemory() && !map.surface.empty();
    const QString surfaceName = writeSurface ? fileName(nameStem, named, true) : QString();
    MapRecord &record = finished.record;
    fillRecord(record, name, writer, rows, columns, drawn.place.cover, drawn.replicate);
    record.axis = drawn.place.axis;
    if (cut) {
        record.threshold = cut->threshold;
        record.tiedHabitat = cut->tiesAbove;
    }
    record.seed = m_request->seed;
    record.blend = drawn.blend;
    record.parameters = manifestColumns().family;
    for (ManifestField &field : record.parameters) {
        for (const ManifestField &learnt : map.parameters)
            if (qstrcmp(field.name, learnt.name) == 0)
                field.value = learnt.value;
        if (cut && qstrcmp(field.name, "tied_habitat") == 0)
            field.value = QByteArray::number(cut->tiesAbove);
    }
    record.surfaceFile = QFileInfo(surfaceName).fileName();
    record.position = drawn.position;
    if (output.selects())
        record.draw = drawn.place.replicate;
    if (!writeSurface)
        return publisher.add(std::move(finished));
    // The surface goes with its map, named before it: should it fail, the
    // map is not named, and no manifest row names a missing file.
    FinishedMap surface;
    surface.listed = false;
    surface.files.emplace_back();
    if (FileResult error = writeSurfaceGrid(
            map.surface.data(), rows, columns, columns, surfaceName, output.format,
            output.georeference, cut ? std::vector<double>{cut->threshold} : std::vector<double>(),
            surface.files.back()))
        return error;
    if (FileResult error = publisher.add(std::move(surface)))
        return error;
    return publisher.add(std::move(finished));
}

QList<Phrase> DrawnMapSource::shortfalls(const MapTally &written) const
{
    Q_UNUSED(written);
    if (m_request->output.selects())
        return m_ledger.shortfalls(m_request->replicates, m_request->output.maxDraws);
    return {};
}

QStringList DrawnMapSource::acceptance() const
{
    return m_ledger.acceptance(m_request->replicates);
}

void DrawnMapSource::settleRecords(QList<MapRecord> &records) const
{
    m_ledger.settle(records, [this](const MapRecord &record) {
        const auto a = int(std::find(m_axis.begin(), m_axis.end(), record.axis) - m_axis.begin());
        return std::pair<int, int>(a, record.requestedCover);
    });
}
