#include "fractal/fractalmapgenerator.h"

#include "core/diskspace.h"
#include "core/mapfilewriter.h"
#include "core/mapnames.h"
#include "core/mappublisher.h"
#include "core/mapwriter.h"
#include "core/surfacecut.h"
#include "fractal/fbmsurface.h"
#include "fractal/surfacefile.h"
#include "fractal/surfacepipeline.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <utility>

double FractalMapGenerator::coverFraction(const FbmBlock &block, double threshold)
{
    const qint64 pointCount = qint64(block.size + 1) * qint64(block.size + 1);
    qint64 above = 0;
    for (qint64 i = 0; i < pointCount; ++i)
        if (block.values[std::size_t(i)] > threshold)
            ++above;
    return double(above) / double(pointCount);
}

std::array<double, FractalMapGenerator::thresholdCount> FractalMapGenerator::thresholds()
{
    std::array<double, thresholdCount> ladder{};
    double t = 0.1;
    for (double &threshold : ladder) {
        threshold = t;
        t += 0.01;
    }
    return ladder;
}

std::array<qint64, FractalMapGenerator::thresholdCount>
FractalMapGenerator::aboveCounts(const FbmBlock &block)
{
    // The ladder between two sentinels that every number is above and
    // below, so that the search below needs no bounds checks.
    static const std::array<double, thresholdCount + 2> bounded = [] {
        std::array<double, thresholdCount + 2> b{};
        const auto ladder = thresholds();
        b.front() = -std::numeric_limits<double>::infinity();
        std::copy(ladder.begin(), ladder.end(), b.begin() + 1);
        b.back() = std::numeric_limits<double>::infinity();
        return b;
    }();

    // exceeded[e] counts the values that are above exactly the e lowest
    // thresholds; a value is above threshold k when its e is more than k.
    std::array<qint64, thresholdCount + 1> exceeded{};
    const qint64 pointCount = qint64(block.size + 1) * qint64(block.size + 1);
    for (qint64 i = 0; i < pointCount; ++i) {
        const double v = block.values[std::size_t(i)];
        if (!(v > bounded.front())) [[unlikely]] {
            // A NaN or minus infinity is above no threshold.
            ++exceeded[0];
            continue;
        }
        // The thresholds lie about 0.01 apart from 0.1, which puts a first
        // guess within one of the answer; the exact comparisons then settle
        // it, so the answer does not depend on the guess.
        const double scaled = v * 100.0;
        int e = 0;
        if (scaled >= 90.0)
            e = thresholdCount;
        else if (scaled >= 10.0)
            e = int(scaled) - 9;
        while (v > bounded[std::size_t(e) + 1])
            ++e;
        while (!(v > bounded[std::size_t(e)]))
            --e;
        ++exceeded[std::size_t(e)];
    }

    std::array<qint64, thresholdCount> above{};
    qint64 sum = 0;
    for (int k = thresholdCount - 1; k >= 0; --k) {
        sum += exceeded[std::size_t(k + 1)];
        above[std::size_t(k)] = sum;
    }
    return above;
}

FileResult FractalMapGenerator::writeCoverMap(const FbmBlock &block, const QString &fileName,
                                              double threshold, int belowCode, int aboveCode,
                                              MapFileWriter::Format format, qint64 *habitatCells)
{
    MapFileWriter writer(belowCode, aboveCode, format);
    if (FileResult error = writer.open(fileName, block.size, block.size))
        return error;
    for (int row = 0; row < block.size; ++row)
        writer.putRow(block.size,
                      [&block, row, threshold](int col) { return block.at(row, col) > threshold; });
    if (FileResult error = writer.commit())
        return error;
    if (habitatCells)
        *habitatCells = writer.habitatCellCount();
    return std::nullopt;
}

QString FractalMapGenerator::mapFileName(const QString &baseName, double H, int cover,
                                         int replicate, MapFileWriter::Format format)
{
    return fractalMapName(baseName, H, cover, replicate, format);
}

QString FractalMapGenerator::progressLabel(double H, int seed)
{
    return QStringLiteral("gerando para h=") + QString::asprintf("%.2f", H) +
           QStringLiteral(" amostra no.") + QString::number(seed + 1);
}

FractalMapGenerator::FractalMapGenerator(const FractalBatchRequest &request, Engine engine)
    : m_request(request)
    , m_engine(engine)
{}

std::optional<QString> FractalMapGenerator::diskSpaceRefusal(const QString &folder) const
{
    return DiskSpace(folder).batchRefusal(m_request);
}

FractalMapGenerator::ExactCut FractalMapGenerator::exactCut(const FbmBlock &block, int cover,
                                                            std::vector<double> &scratch)
{
    return exactCoverCut(block.values.data(), block.size, block.size + 1, cover, scratch);
}

BatchResult FractalMapGenerator::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                          BatchProgress &progress)
{
    const CoverRange &covers = m_request.covers;
    const int replicates = m_request.replicates;
    const int surfacesPerH = m_request.surfaces;
    const bool exact = m_request.cut == FractalCut::Exact;
    // Covers outside 0..100 are never measured, so their count stays 0.
    std::array<int, 101> coverCounts{};
    auto countOf = [&coverCounts](qint64 cover) {
        return cover >= 0 && cover <= 100 ? coverCounts[std::size_t(cover)] : 0;
    };
    // A cover no threshold of the ladder can give at this size is done from
    // the start: waiting for it would build every surface of every H in
    // vain. An exact cut gives every cover.
    std::array<bool, 101> reachable{};
    if (exact)
        reachable.fill(true);
    else
        reachable = reachableCovers(m_request.size);
    auto allRequestedDone = [&] {
        for (qint64 cover = covers.first; cover <= covers.last; cover += covers.step)
            if (cover >= 0 && cover <= 100 && reachable[std::size_t(cover)] &&
                countOf(cover) < replicates)
                return false;
        return true;
    };

    const std::vector<double> hs = m_request.hurst.values();
    const auto ladder = thresholds();
    // Starts building the first surfaces at once, while the progress is set up.
    SurfacePipeline surfaces(
        m_engine, {hs, m_request.size, m_request.generator, m_request.firstSeed, surfacesPerH});
    MapWriter writer(m_request.output, publisher.inMemory());
    // A batch kept in memory has no files to go with its maps.
    const bool writeSurfaces = m_request.writeSurfaces && !publisher.inMemory();
    // Whatever ends the run, the maps made before the end are named.
    auto end = [&publisher](BatchResult result) {
        if (FileResult error = publisher.flush(); error && result.ok())
            return BatchResult::failed(error->message());
        return result;
    };
    std::vector<double> scratch;

    // Each H may build up to `surfacesPerH` surfaces; an H that is done
    // early moves the bar on to the start of the next, so the bar is full
    // exactly when the run ends.
    progress.setMaximum(
        int(std::min<qint64>(qint64(hs.size()) * surfacesPerH, std::numeric_limits<int>::max())));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    qint64 surfaceCount = 0;
    for (std::size_t hIndex = 0; hIndex < hs.size(); ++hIndex) {
        const double H = hs[hIndex];
        coverCounts.fill(0);
        for (int seedIndex = 0; seedIndex < surfacesPerH; ++seedIndex) {
            // Checked before the surface is built, so that no surface is made
            // once nothing can come of it.
            if (allRequestedDone())
                break;
            const int seed = m_request.firstSeed + seedIndex;
            progress.setLabelText(progressLabel(H, seedIndex));
            const SurfacePipeline::Surface &surface = surfaces.surface(int(hIndex), seedIndex);
            if (surface.status != FbmSurface::Status::Ok) {
                const int points = (1 << FbmSurface::defaultMaxLevel) + 1;
                return end(BatchResult::failed(
                    QCoreApplication::translate(
                        "FractalMapGenerator",
                        "There is not enough memory for a fractal surface of %1 x %1 points.")
                        .arg(points)));
            }

            const QString surfaceName =
                writeSurfaces ? surfaceFileName(nameStem, H, seed, m_request.output.format)
                              : QString();
            std::vector<double> cutsHere;
            auto accept = [&](int cover, double threshold, qint64 tiesAbove) {
                const int n = ++coverCounts[std::size_t(cover)];
                const QString name = mapFileName(nameStem, H, cover, n, m_request.output.format);
                const AcceptedCut cut{H,     seed, threshold, tiesAbove,
                                      cover, n,    name,      QFileInfo(surfaceName).fileName()};
                cutsHere.push_back(threshold);
                return writeAcceptedCut(surface.block, cut, writer, publisher);
            };
            FileResult error;
            if (exact) {
                scratch.clear();
                for (qint64 cover = covers.first; cover <= covers.last && !error;
                     cover += covers.step) {
                    if (countOf(cover) >= replicates)
                        continue;
                    const ExactCut cut = exactCut(surface.block, int(cover), scratch);
                    error = accept(int(cover), cut.threshold, cut.tiesAbove);
                }
            } else {
                // With distinct surfaces, a surface gives each cover at most
                // once, at the lowest threshold that cuts it.
                std::array<bool, 101> cutHere{};
                for (std::size_t k = 0; k < ladder.size() && !error; ++k) {
                    const int pct = surface.covers[k];
                    if (coverCounts[std::size_t(pct)] >= replicates || !covers.contains(pct))
                        continue;
                    if (m_request.distinctSurfaces &&
                        std::exchange(cutHere[std::size_t(pct)], true))
                        continue;
                    error = accept(pct, ladder[k], 0);
                }
            }
            // The surface goes with the maps cut from it, named after them.
            if (!error && writeSurfaces && !cutsHere.empty()) {
                FinishedMap surfaceFile;
                surfaceFile.listed = false;
                surfaceFile.files.emplace_back();
                error = writeSurfaceFile(surface.block, surfaceName, m_request.output.format,
                                         m_request.output.georeference, cutsHere,
                                         surfaceFile.files.back());
                if (!error)
                    error = publisher.add(std::move(surfaceFile));
            }
            if (error)
                return end(BatchResult::failed(error->message()));

            progress.setValue(int(++surfaceCount));
            if (progress.wasCanceled())
                return end(BatchResult::canceled());
        }
        const qint64 nextStart = qint64(hIndex + 1) * surfacesPerH;
        if (surfaceCount != nextStart) {
            surfaceCount = nextStart;
            progress.setValue(int(std::min<qint64>(surfaceCount, std::numeric_limits<int>::max())));
        }
    }
    return end(BatchResult::completed());
}

FileResult FractalMapGenerator::writeAcceptedCut(const FbmBlock &block, const AcceptedCut &cut,
                                                 MapWriter &writer, MapPublisher &publisher) const
{
    const BatchOutput &output = m_request.output;
    if (FileResult error = writer.open(cut.fileName, block.size, block.size))
        return error;
    putCutRows(writer, block.values.data(), block.size, block.size + 1, cut.threshold,
               cut.tiesAbove);
    FinishedMap map;
    if (FileResult error = writer.finish(map))
        return error;
    MapRecord &record = map.record;
    record.fileName = cut.fileName;
    record.kind = MapRecord::Kind::Fractal;
    record.rowCount = block.size;
    record.columnCount = block.size;
    record.requestedCover = cut.cover;
    record.cellCount = qint64(block.size) * block.size;
    record.habitatCells = writer.habitatCellCount();
    record.H = cut.H;
    record.threshold = cut.threshold;
    record.seed = cut.seed;
    record.replicate = cut.replicate;
    record.coverValue = output.coverValue;
    record.matrixValue = output.matrixValue;
    record.generator = m_request.generator;
    record.stream = quint64(qint64(cut.seed));
    record.cut = m_request.cut;
    record.tiedHabitat = cut.tiesAbove;
    record.distinctSurfaces = m_request.distinctSurfaces;
    record.surfacesPerH = m_request.surfaces;
    record.firstSeed = m_request.firstSeed;
    record.surfaceFile = cut.surfaceFile;
    return publisher.add(std::move(map));
}

QString FractalMapGenerator::longestMapName(const QString &nameStem) const
{
    return fractalMapName(nameStem, 1.0, 100, m_request.replicates, m_request.output.format);
}

std::array<bool, 101> FractalMapGenerator::reachableCovers(int size)
{
    std::array<bool, 101> reachable{};
    const qint64 n = qint64(size + 1) * qint64(size + 1);
    // The percentage is what the run computes for a count, so that rounding
    // at a whole percentage falls the same way here as there; it never
    // falls as k grows, so the smallest k reaching c tells whether c is hit.
    auto percent = [n](qint64 k) { return coverPercent(double(k) / double(n)); };
    for (int cover = 0; cover <= 100; ++cover) {
        qint64 low = 1;
        qint64 high = n - 1;
        if (high < low)
            continue;
        while (low < high) {
            const qint64 middle = low + (high - low) / 2;
            if (percent(middle) >= cover)
                high = middle;
            else
                low = middle + 1;
        }
        reachable[std::size_t(cover)] = percent(low) == cover;
    }
    return reachable;
}

QStringList FractalMapGenerator::shortfalls(const QList<MapRecord> &written) const
{
    const std::vector<double> hs = m_request.hurst.values();
    const CoverRange &covers = m_request.covers;
    std::vector<std::array<int, 101>> counts(hs.size());
    for (const MapRecord &map : written) {
        const auto h = std::size_t(std::find(hs.begin(), hs.end(), map.H) - hs.begin());
        if (h < hs.size() && map.requestedCover >= 0 && map.requestedCover <= 100)
            ++counts[h][std::size_t(map.requestedCover)];
    }
    std::array<bool, 101> reachable{};
    if (m_request.cut == FractalCut::Exact)
        reachable.fill(true);
    else
        reachable = reachableCovers(m_request.size);
    auto tr = [](const char *text) {
        return QCoreApplication::translate("FractalMapGenerator", text);
    };
    QStringList never;
    QStringList lines;
    for (qint64 cover = covers.first; cover <= covers.last; cover += covers.step) {
        if (!reachable[std::size_t(cover)]) {
            never.append(QString::number(cover));
            continue;
        }
        QStringList short_;
        for (std::size_t h = 0; h < hs.size(); ++h) {
            const int count = counts[h][std::size_t(cover)];
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
        lines.prepend(tr("%1 %2 fell short at every H: no threshold cut of a %3 x %3 map can "
                         "give that share of habitat, since a cut always leaves the surface's "
                         "lowest point below it and its highest above")
                          .arg(never.size() == 1 ? tr("cover") : tr("covers"))
                          .arg(never.join(QStringLiteral(", ")))
                          .arg(m_request.size));
    return lines;
}

BatchJob fractalBatchJob(const FractalBatchRequest &request)
{
    return BatchJob(std::make_unique<FractalMapGenerator>(request));
}
