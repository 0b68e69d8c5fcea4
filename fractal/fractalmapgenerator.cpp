#include "fractal/fractalmapgenerator.h"

#include "app/mapfilewriter.h"
#include "fractal/fbmsurface.h"
#include "fractal/hsweep.h"

#include <QCoreApplication>

#include <algorithm>
#include <limits>

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

FileResult FractalMapGenerator::writeCoverMap(const FbmBlock &block, const QString &fileName,
                                              double threshold, int belowCode, int aboveCode)
{
    MapFileWriter writer(belowCode, aboveCode);
    if (FileResult error = writer.open(fileName))
        return error;
    for (int row = 0; row < block.size; ++row) {
        for (int col = 0; col < block.size; ++col)
            writer.putCell(block.at(row, col) > threshold);
        writer.endRow();
    }
    return writer.commit();
}

QString FractalMapGenerator::mapFileName(const QString &baseName, double H, int cover,
                                         int replicate)
{
    // QString::asprintf formats numbers in the C locale whatever the user's
    // locale is, so a decimal comma never ends up in a file name.
    return baseName + QString::asprintf("%.2f_%03i_%05i.txt", H, cover, replicate);
}

QString FractalMapGenerator::progressLabel(double H, int seed)
{
    return QStringLiteral("gerando para h=") + QString::asprintf("%.2f", H) +
           QStringLiteral(" amostra no.") + QString::number(seed + 1);
}

BatchResult FractalMapGenerator::runFractalBatch(double initialH, double finalH, double hStep,
                                                 int initialCover, int finalCover, int coverStep,
                                                 int size, int replicates, int belowCode,
                                                 int aboveCode, const QString &baseName,
                                                 QStringList &fileNames, BatchProgress &progress)
{
    if (size > maxMapSize)
        return BatchResult::refused(QCoreApplication::translate(
            "FractalMapGenerator", "Fractal maps can be at most 4096 cells per side."));
    if (size < 1 || coverStep < 1)
        return BatchResult::refused(QCoreApplication::translate(
            "FractalMapGenerator", "The map size and the cover step must be positive."));

    // Covers outside 0..100 are never measured, so their count stays 0.
    std::array<int, 101> coverCounts{};
    auto countOf = [&coverCounts](qint64 cover) {
        return cover >= 0 && cover <= 100 ? coverCounts[std::size_t(cover)] : 0;
    };
    auto isRequested = [&](int pct) {
        return pct >= initialCover && pct <= finalCover && (pct - initialCover) % coverStep == 0;
    };
    auto allRequestedDone = [&] {
        for (qint64 cover = initialCover; cover <= finalCover; cover += coverStep)
            if (countOf(cover) < replicates)
                return false;
        return true;
    };

    const std::vector<double> hs = hValues(initialH, finalH, hStep);
    const auto ladder = thresholds();
    FbmSurface surface;
    FbmBlock block;

    // Each H may build up to seedsPerH surfaces; an H that is done early
    // moves the bar on to the start of the next, so the bar is full exactly
    // when the run ends.
    progress.setMaximum(
        int(std::min<qint64>(qint64(hs.size()) * seedsPerH, std::numeric_limits<int>::max())));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    qint64 surfaceCount = 0;
    for (std::size_t hIndex = 0; hIndex < hs.size(); ++hIndex) {
        const double H = hs[hIndex];
        coverCounts.fill(0);
        for (int seed = 0; seed < seedsPerH; ++seed) {
            progress.setLabelText(progressLabel(H, seed));
            if (surface.generate(H, size, FbmSurface::defaultMaxLevel, seed) !=
                FbmSurface::Status::Ok) {
                const int points = (1 << FbmSurface::defaultMaxLevel) + 1;
                return BatchResult::refused(
                    QCoreApplication::translate(
                        "FractalMapGenerator",
                        "There is not enough memory for a fractal surface of %1 x %1 points.")
                        .arg(points));
            }
            if (finalCover < initialCover)
                break;
            if (allRequestedDone())
                break;

            surface.copyBlock(block);
            for (const double t : ladder) {
                const int pct = coverPercent(coverFraction(block, t));
                if (coverCounts[std::size_t(pct)] >= replicates || !isRequested(pct))
                    continue;
                const int n = ++coverCounts[std::size_t(pct)];
                const QString name = mapFileName(baseName, H, pct, n);
                if (const FileResult error = writeCoverMap(block, name, t, belowCode, aboveCode))
                    return BatchResult::writeFailed(error->message());
                fileNames.append(name);
            }

            progress.setValue(int(++surfaceCount));
            if (progress.wasCanceled())
                return BatchResult::canceled();
        }
        const qint64 nextStart = qint64(hIndex + 1) * seedsPerH;
        if (surfaceCount != nextStart) {
            surfaceCount = nextStart;
            progress.setValue(int(std::min<qint64>(surfaceCount, std::numeric_limits<int>::max())));
        }
    }
    return BatchResult::completed();
}
