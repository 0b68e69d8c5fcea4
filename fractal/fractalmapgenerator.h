#pragma once

#include "app/batchprogress.h"
#include "app/batchresult.h"
#include "app/fileerror.h"
#include "fractal/fbmblock.h"

#include <QString>
#include <QStringList>

#include <array>

// Runs a fractal batch: for every H, surfaces are built from the seeds
// 0, 1, 2, ... and each is cut at a fixed ladder of thresholds. There is no
// search for the threshold of a given cover; a cut becomes a map when its
// cover happens to be a requested one that still lacks replicates, so one
// surface can give maps for several covers, and neighbouring thresholds can
// give several replicates of the same cover.
class FractalMapGenerator final {
public:
    static constexpr int maxMapSize = 4096;
    static constexpr int seedsPerH = 200;
    static constexpr int thresholdCount = 80;

    FractalMapGenerator() = default;

    // Share of the (size + 1) x (size + 1) block strictly above the threshold.
    static double coverFraction(const FbmBlock &block, double threshold);
    // The whole percentage a fraction counts as, truncated toward zero.
    static int coverPercent(double fraction) { return static_cast<int>(fraction * 100.0); }

    // 0.10, 0.11, ... 0.89, built by repeated addition as the cover of a cut
    // has always been measured, drift included.
    static std::array<double, thresholdCount> thresholds();

    // Writes the top-left size x size cells of the block: aboveCode where
    // the value is strictly above the threshold, belowCode elsewhere. Nothing
    // appears under the name unless the whole file could be written.
    static FileResult writeCoverMap(const FbmBlock &block, const QString &fileName,
                                    double threshold, int belowCode, int aboveCode);

    // baseName, H to two decimals, "_", cover "%03i", "_", replicate "%05i",
    // ".txt"; independent of the locale.
    static QString mapFileName(const QString &baseName, double H, int cover, int replicate);
    static QString progressLabel(double H, int seed);

    // Appends each map's name to fileNames once the file is complete. A run
    // stops at the first map it cannot write; everything listed before it
    // stays valid on disk.
    BatchResult runFractalBatch(double initialH, double finalH, double hStep, int initialCover,
                                int finalCover, int coverStep, int size, int replicates,
                                int belowCode, int aboveCode, const QString &baseName,
                                QStringList &fileNames, BatchProgress &progress);
};
