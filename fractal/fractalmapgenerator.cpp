// SPDX-License-Identifier: GPL-3.0-or-later
#include "fractal/fractalmapgenerator.h"

#include "core/batch/batchoptions.h"
#include "core/batch/mappublisher.h"
#include "core/batch/mapwriter.h"
#include "core/batch/surfacecut.h"
#include "core/grid/mapfilewriter.h"
#include "fractal/covercut.h"
#include "fractal/fbmsurface.h"
#include "fractal/fractalnames.h"
#include "fractal/surfacefile.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

QString FractalMapGenerator::mapFileName(const QString &baseName, double H, int cover,
                                         int replicate, MapFormat format)
{
    NamePlace place;
    place.axis = H;
    place.cover = cover;
    place.replicate = replicate;
    place.format = format;
    return baseName + fractalNames().tail(place);
}

namespace {

QString surfaceFileName(const QString &stem, double H, int seed, MapFormat format)
{
    NamePlace place;
    place.axis = H;
    place.seed = seed;
    place.surface = true;
    place.format = surfaceFormat(format);
    return stem + fractalNames().tail(place);
}

} // namespace

QString FractalMapGenerator::progressLabel(double H, int seed)
{
    return QStringLiteral("gerando para h=") + QString::asprintf("%.2f", H) +
           QStringLiteral(" amostra no.") + QString::number(seed + 1);
}

FractalMapGenerator::FractalMapGenerator(const FractalBatchRequest &request, Engine engine)
    : m_request(request)
    , m_engine(engine)
    , m_hs(request.hurst.walked())
{
    if (!request.blends.empty())
        m_blend = std::make_unique<SurfaceBlend>(request, request.shape.rows + 1,
                                                 request.shape.columns + 1);
    m_coverIndex.fill(-1);
    const std::vector<int> covers = request.covers.values();
    for (std::size_t i = 0; i < covers.size(); ++i)
        if (covers[i] >= 0 && covers[i] <= 100)
            m_coverIndex[std::size_t(covers[i])] = int(i);
}

bool FractalMapGenerator::ownsCell(std::size_t hIndex, int cover) const
{
    if (cover < 0 || cover > 100)
        return false;
    return m_request.ownsCell(hIndex, m_coverIndex[std::size_t(cover)]);
}

bool FractalMapGenerator::ownsAnyCellOf(std::size_t hIndex) const
{
    // A whole batch builds the surfaces of every H, as it always has, even
    // for a sweep that visits no cover.
    if (!m_request.output.shard)
        return true;
    const std::vector<int> covers = m_request.covers.values();
    return std::any_of(covers.begin(), covers.end(),
                       [&](int cover) { return ownsCell(hIndex, cover); });
}

int FractalMapGenerator::surfacesPerH() const
{
    // With targets every surface is a draw of each cell still open, so an
    // H builds at most --max-draws of them.
    return m_request.output.selects() ? m_request.output.maxDraws : m_request.surfaces;
}

ManifestColumns FractalMapGenerator::manifestColumns() const
{
    ManifestColumns columns = commonColumns();
    if (m_request.samplingChanged())
        columns.family = samplingColumns();
    columns.surfaceFile = m_request.writeSurfaces;
    return columns;
}

namespace {

// Covers outside 0..100 are never measured, so their count stays 0.
int countOf(const std::array<int, 101> &counts, qint64 cover)
{
    return cover >= 0 && cover <= 100 ? counts[std::size_t(cover)] : 0;
}

} // namespace

std::array<bool, 101> FractalMapGenerator::reachableCovers() const
{
    if (m_request.cut == FractalCut::Exact) {
        std::array<bool, 101> all{};
        all.fill(true);
        return all;
    }
    return covercut::reachableCovers(m_request.shape.rows, m_request.shape.columns);
}

bool FractalMapGenerator::allCoversDone(const CoverCounts &counts,
                                        const std::array<bool, 101> &reachable,
                                        std::size_t hIndex) const
{
    for (const int cover : m_request.covers.values())
        if (cover >= 0 && cover <= 100 && reachable[std::size_t(cover)] &&
            countOf(counts, cover) < m_request.replicates && ownsCell(hIndex, cover))
            return false;
    return true;
}

std::vector<FractalMapGenerator::AcceptedCut>
FractalMapGenerator::ladderCuts(const SurfacePipeline::Surface &surface, CoverCounts &counts,
                                std::size_t hIndex) const
{
    static const auto ladder = covercut::thresholds();
    std::vector<AcceptedCut> cuts;
    // With distinct surfaces, a surface gives each cover at most once, at
    // the lowest threshold that cuts it.
    std::array<bool, 101> cutHere{};
    for (std::size_t k = 0; k < ladder.size(); ++k) {
        const int pct = surface.covers[k];
        if (counts[std::size_t(pct)] >= m_request.replicates || !ownsCell(hIndex, pct))
            continue;
        if (m_request.distinctSurfaces && std::exchange(cutHere[std::size_t(pct)], true))
            continue;
        AcceptedCut &cut = cuts.emplace_back();
        cut.cover = pct;
        cut.replicate = ++counts[std::size_t(pct)];
        cut.threshold = ladder[k];
        cut.position = qint64(k);
    }
    return cuts;
}

std::vector<FractalMapGenerator::AcceptedCut>
FractalMapGenerator::exactCuts(const FbmBlock &block, CoverCounts &counts, Selection selection)
{
    std::vector<AcceptedCut> cuts;
    // Binned only once a cover of this surface is still wanted.
    std::optional<ExactCutter> cutter;
    for (const int cover : m_request.covers.values()) {
        if (countOf(counts, cover) >= m_request.replicates ||
            !ownsCell(std::size_t(selection.hIndex), cover))
            continue;
        // Classes find their boundaries as their map is written (and, with
        // targets, as it is measured); a cover's threshold is found here.
        const bool classes = m_request.output.cutsClasses();
        covercut::ExactCut exact{std::numeric_limits<double>::quiet_NaN(), 0};
        if (!classes) {
            if (!cutter)
                cutter.emplace(covercut::exactCutter(block));
            exact = cutter->cut(int(cover));
        }
        if (selection.selector) {
            SelectionLedger::Cell &cell = m_ledger.cell(
                {selection.hIndex, int(cover)}, QStringLiteral("H %1 cover %2")
                                                    .arg(QString::asprintf("%.2f", selection.H))
                                                    .arg(cover));
            m_drawn = m_ledger.drew(cell);
            bool kept = false;
            if (classes) {
                SurfaceClassRows rows(m_request.output, int(cover), block.values.data(), block.rows,
                                      block.columns, block.stride());
                kept = selection.selector->acceptsClasses(
                    block.rows, [&rows](int row, std::uint8_t *out) { rows.fill(row, out); });
            } else {
                CutCells cells(block.values.data(), block.stride(), exact.threshold,
                               exact.tiesAbove);
                kept = selection.selector->accepts(
                    block.rows, [&block, &cells, &exact](int row, std::uint8_t *out) {
                        // Without ties a row is one comparison a cell, which
                        // the compiler does many at a time.
                        if (exact.tiesAbove == 0) {
                            const double *line = block.values.data() + row * block.stride();
                            for (int col = 0; col < block.columns; ++col)
                                out[col] = line[col] > exact.threshold;
                            return;
                        }
                        for (int col = 0; col < block.columns; ++col)
                            out[col] = cells(row, col);
                    });
            }
            if (!kept)
                continue;
            ++cell.kept;
        }
        AcceptedCut &cut = cuts.emplace_back();
        cut.cover = int(cover);
        cut.replicate = ++counts[std::size_t(cover)];
        cut.threshold = exact.threshold;
        cut.tiesAbove = exact.tiesAbove;
        cut.draw = selection.draw;
        cut.position = m_coverIndex[std::size_t(cover)];
    }
    return cuts;
}

FileResult FractalMapGenerator::writeSurfaceMaps(const FbmBlock &block, double H, int seed,
                                                 const QString &nameStem,
                                                 std::vector<AcceptedCut> &cuts, MapWriter &writer,
                                                 MapPublisher &publisher) const
{
    const MapFormat format = m_request.output.format;
    // A batch kept in memory has no files to go with its maps.
    const bool writeSurface = m_request.writeSurfaces && !publisher.inMemory() && !cuts.empty();
    const QString surfaceName =
        writeSurface ? surfaceFileName(nameStem, H, seed, format) : QString();
    std::vector<double> thresholds;
    // Maps that name a surface wait for it: should it fail, none of them is
    // named, and no manifest row names a missing file.
    std::vector<FinishedMap> waiting;
    for (AcceptedCut &cut : cuts) {
        cut.H = H;
        cut.seed = seed;
        cut.fileName = mapFileName(nameStem, H, cut.cover, cut.replicate, format);
        cut.surfaceFile = QFileInfo(surfaceName).fileName();
        if (!std::isnan(cut.threshold))
            thresholds.push_back(cut.threshold);
        if (FileResult error =
                writeAcceptedCut(block, cut, writer, publisher, writeSurface ? &waiting : nullptr))
            return error;
    }
    if (!writeSurface)
        return std::nullopt;
    // The surface goes with the maps cut from it, named before them.
    FinishedMap surfaceFile;
    surfaceFile.listed = false;
    surfaceFile.files.emplace_back();
    if (FileResult error =
            writeSurfaceFile(block, surfaceName, format, m_request.output.georeference, thresholds,
                             surfaceFile.files.back()))
        return error;
    if (FileResult error = publisher.add(std::move(surfaceFile)))
        return error;
    for (FinishedMap &map : waiting)
        if (FileResult error = publisher.add(std::move(map)))
            return error;
    return std::nullopt;
}

BatchResult FractalMapGenerator::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                          BatchProgress &progress)
{
    const BatchOutput &output = m_request.output;
    const int surfacesPerH = this->surfacesPerH();
    m_ledger = SelectionLedger();
    m_drawn = 0;
    std::optional<MapSelector> selector;
    if (output.selects()) {
        selector.emplace(output.targets, m_request.shape.columns, output.neighbours,
                         output.georeference.cellSize, output.coverValue, output.matrixValue);
        if (output.cutsClasses())
            selector->measureClasses(output.classCodes(), output.measuredOutside());
    }
    // The H values with a cell of this run; a share builds no surface of
    // the others.
    std::vector<std::size_t> ownH;
    std::vector<double> ownHValues;
    for (std::size_t h = 0; h < m_hs.size(); ++h) {
        if (ownsAnyCellOf(h)) {
            ownH.push_back(h);
            ownHValues.push_back(m_hs[h]);
        }
    }
    // A cover no cut can give at this size is done from the start: waiting
    // for it would build every surface of every H in vain.
    const std::array<bool, 101> reachable = reachableCovers();
    // Starts building the first surfaces at once, while the progress is set up.
    SurfacePipeline surfaces(m_engine, {ownHValues, m_request.shape.rows, m_request.shape.columns,
                                        m_request.generator, m_request.firstSeed, surfacesPerH,
                                        m_request.cut == FractalCut::Ladder, m_blend.get()});
    MapWriter writer(m_request.output, publisher.inMemory());
    // Whatever ends the run, the maps made before the end are named.
    auto end = [&publisher](BatchResult result) {
        if (FileResult error = publisher.flush(); error && result.ok())
            return BatchResult::failed(error->message());
        return result;
    };
    CoverCounts coverCounts{};

    // Each H may build up to `surfacesPerH` surfaces; an H that is done
    // early moves the bar on to the start of the next, so the bar is full
    // exactly when the run ends.
    progress.setMaximum(
        int(std::min<qint64>(qint64(ownH.size()) * surfacesPerH, std::numeric_limits<int>::max())));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    qint64 surfaceCount = 0;
    for (std::size_t own = 0; own < ownH.size(); ++own) {
        const std::size_t hIndex = ownH[own];
        const double H = m_hs[hIndex];
        coverCounts.fill(0);
        for (int seedIndex = 0; seedIndex < surfacesPerH; ++seedIndex) {
            // Checked before the surface is built, so that no surface is made
            // once nothing can come of it.
            if (allCoversDone(coverCounts, reachable, hIndex))
                break;
            progress.setLabelText(progressLabel(H, seedIndex));
            const SurfacePipeline::Surface &surface = surfaces.surface(int(own), seedIndex);
            if (surface.status != FbmSurface::Status::Ok) {
                const int points = (1 << FbmSurface::defaultMaxLevel) + 1;
                return end(BatchResult::failed(
                    QCoreApplication::translate(
                        "FractalMapGenerator",
                        "There is not enough memory for a fractal surface of %1 x %1 points.")
                        .arg(points)));
            }
            if (surface.blendFailure)
                return end(BatchResult::failed(*surface.blendFailure));
            std::vector<AcceptedCut> cuts =
                m_request.cut == FractalCut::Exact
                    ? exactCuts(surface.block, coverCounts,
                                {selector ? &*selector : nullptr, int(hIndex), H, seedIndex + 1})
                    : ladderCuts(surface, coverCounts, hIndex);
            if (selector)
                progress.drawsMade(m_drawn);
            // A surface gives fewer than 128 maps: one per threshold of the
            // ladder, or per requested cover.
            const qint64 surfacePosition = (qint64(hIndex) * surfacesPerH + seedIndex) * 128;
            for (AcceptedCut &cut : cuts) {
                cut.position += surfacePosition;
                cut.blend = surface.blend;
            }
            if (FileResult error =
                    writeSurfaceMaps(surface.block, H, m_request.firstSeed + seedIndex, nameStem,
                                     cuts, writer, publisher))
                return end(BatchResult::failed(error->message()));

            progress.setValue(int(++surfaceCount));
            if (progress.wasCanceled())
                return end(BatchResult::canceled());
        }
        const qint64 nextStart = qint64(own + 1) * surfacesPerH;
        if (surfaceCount != nextStart) {
            surfaceCount = nextStart;
            progress.setValue(int(std::min<qint64>(surfaceCount, std::numeric_limits<int>::max())));
        }
    }
    return end(BatchResult::completed());
}

FileResult FractalMapGenerator::writeAcceptedCut(const FbmBlock &block, const AcceptedCut &cut,
                                                 MapWriter &writer, MapPublisher &publisher,
                                                 std::vector<FinishedMap> *held) const
{
    if (FileResult error = writer.open(cut.fileName, block.rows, block.columns))
        return error;
    const bool classes = m_request.output.cutsClasses();
    if (classes)
        putClassCut(writer, m_request.output, cut.cover, block.values.data(), block.rows,
                    block.columns, block.stride());
    else
        putCutRows(writer, block.values.data(), block.rows, block.columns, block.stride(),
                   cut.threshold, cut.tiesAbove);
    FinishedMap map;
    if (FileResult error = writer.finish(map))
        return error;
    MapRecord &record = map.record;
    fillRecord(record, cut.fileName, writer, block.rows, block.columns, cut.cover, cut.replicate);
    record.H = cut.H;
    record.axis = cut.H;
    record.blend = cut.blend;
    if (!classes)
        record.threshold = cut.threshold;
    record.seed = cut.seed;
    record.stream = quint64(qint64(cut.seed));
    record.tiedHabitat = cut.tiesAbove;
    if (m_request.samplingChanged()) {
        record.parameters = samplingColumns();
        const QByteArray values[] = {
            wordOf(m_request.generator).toLatin1(),
            QByteArray::number(record.stream),
            wordOf(m_request.cut).toLatin1(),
            QByteArray::number(record.tiedHabitat),
            m_request.distinctSurfaces ? QByteArrayLiteral("yes") : QByteArrayLiteral("no"),
            QByteArray::number(m_request.surfaces),
            QByteArray::number(m_request.firstSeed),
        };
        for (qsizetype i = 0; i < record.parameters.size(); ++i)
            record.parameters[i].value = values[i];
    }
    record.surfaceFile = cut.surfaceFile;
    record.draw = cut.draw;
    record.position = cut.position;
    if (held) {
        held->push_back(std::move(map));
        return std::nullopt;
    }
    return publisher.add(std::move(map));
}

QString FractalMapGenerator::longestMapName(const QString &nameStem) const
{
    const QString map =
        mapFileName(nameStem, 1.0, 100, m_request.replicates, m_request.output.format);
    if (!m_request.writeSurfaces)
        return map;
    const QString surface =
        surfaceFileName(nameStem, 1.0, m_request.firstSeed + std::max(m_request.surfaces, 1) - 1,
                        m_request.output.format);
    return surface.size() > map.size() ? surface : map;
}

void FractalMapGenerator::settleRecords(QList<MapRecord> &records) const
{
    const std::vector<double> &hs = m_hs;
    m_ledger.settle(records, [&hs](const MapRecord &record) {
        const auto h = int(std::find(hs.begin(), hs.end(), record.axis) - hs.begin());
        return std::pair<int, int>(h, record.requestedCover);
    });
}

QStringList FractalMapGenerator::acceptance() const
{
    return m_ledger.acceptance(m_request.replicates);
}

QList<Phrase> FractalMapGenerator::shortfalls(const MapTally &written) const
{
    if (m_request.output.selects())
        return m_ledger.shortfalls(m_request.replicates, m_request.output.maxDraws);
    const std::vector<double> &hs = m_hs;
    const std::array<bool, 101> reachable = reachableCovers();
    auto tr = [](const char *text) {
        return QCoreApplication::translate("FractalMapGenerator", text);
    };
    QStringList never;
    QList<Phrase> lines;
    for (const int cover : m_request.covers.values()) {
        bool owned = false;
        for (std::size_t h = 0; h < hs.size() && !owned; ++h)
            owned = ownsCell(h, cover);
        if (!owned)
            continue;
        if (!reachable[std::size_t(cover)]) {
            never.append(QString::number(cover));
            continue;
        }
        QStringList short_;
        for (std::size_t h = 0; h < hs.size(); ++h) {
            if (!ownsCell(h, cover))
                continue;
            const qint64 count = written.count(hs[h], cover);
            if (count < m_request.replicates)
                short_.append(tr("%1 of %2 at H %3")
                                  .arg(count)
                                  .arg(m_request.replicates)
                                  .arg(QString::asprintf("%.2f", hs[h])));
        }
        if (!short_.isEmpty())
            lines.append(tr("cover %1 fell short: %2; the %3 surfaces of an H gave no more "
                            "cuts of that cover")
                             .arg(cover)
                             .arg(short_.join(QStringLiteral(", ")))
                             .arg(m_request.surfaces));
    }
    if (!never.isEmpty())
        lines.prepend(tr("%1 %2 fell short at every H: no threshold cut of a %3 x %4 map can "
                         "give that share of habitat, since a cut always leaves the surface's "
                         "lowest point below it and its highest above")
                          .arg(never.size() == 1 ? tr("cover") : tr("covers"))
                          .arg(never.join(QStringLiteral(", ")))
                          .arg(m_request.shape.rows)
                          .arg(m_request.shape.columns));
    return lines;
}

bool FractalMapGenerator::ownsPlace(const NamePlace &place) const
{
    for (std::size_t h = 0; h < m_hs.size(); ++h) {
        if (QString::asprintf("%.2f", m_hs[h]) != QString::asprintf("%.2f", place.axis))
            continue;
        if (place.surface) {
            // A surface file goes with the maps of its H, which a share
            // with surface files makes whole.
            if (m_request.writeSurfaces && ownsAnyCellOf(h) &&
                place.format == surfaceFormat(m_request.output.format) &&
                place.seed >= m_request.firstSeed &&
                place.seed - m_request.firstSeed < surfacesPerH())
                return true;
            continue;
        }
        if (ownsCell(h, place.cover) && place.replicate >= 1 &&
            place.replicate <= m_request.replicates && place.format == m_request.output.format)
            return true;
    }
    return false;
}
