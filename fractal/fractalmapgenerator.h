#pragma once

#include "core/batchjob.h"
#include "core/batchrequest.h"
#include "core/fileerror.h"
#include "core/mapfilewriter.h"
#include "core/maprecord.h"
#include "core/surfacecut.h"
#include "fractal/fbmblock.h"

#include <QList>
#include <QString>

#include <array>

class MapPublisher;
class MapWriter;

// Runs a fractal batch: for every H, surfaces are built from the seeds
// 0, 1, 2, ... and each is cut at a fixed ladder of thresholds. There is no
// search for the threshold of a given cover; a cut becomes a map when its
// cover happens to be a requested one that still lacks replicates, so one
// surface can give maps for several covers, and neighbouring thresholds can
// give several replicates of the same cover.
class FractalMapGenerator final : public MapSource {
public:
    static constexpr int maxMapSize = FractalBatchRequest::maxMapSize;
    static constexpr int seedsPerH = FractalBatchRequest::surfacesPerH;
    static constexpr int thresholdCount = FractalBatchRequest::ladderSteps;

    // Fast builds only the lattice points a map needs, measures all the
    // thresholds in one pass and builds the next surfaces on a second
    // thread. Plain builds the whole lattice and scans the block once per
    // threshold: the readable reference, kept for the tests. Both write
    // the same files.
    enum class Engine { Fast, Plain };

    explicit FractalMapGenerator(const FractalBatchRequest &request, Engine engine = Engine::Fast);

    MapRecord::Kind kind() const override { return MapRecord::Kind::Fractal; }
    const BatchOutput &output() const override { return m_request.output; }
    std::optional<QString> refusal() const override { return m_request.refusal(); }
    std::optional<QString> diskSpaceRefusal(const QString &folder) const override;
    QString longestMapName(const QString &nameStem) const override;
    ManifestColumns manifestColumns() const override
    {
        return {m_request.samplingChanged(), m_request.writeSurfaces, m_request.output.metrics};
    }
    // Appends each map once the file is complete. A run stops at the first
    // map it cannot write; everything listed before it stays valid on disk.
    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override;
    // Which requested covers fell short, at which H, and why: a cover no
    // threshold can cut from a map of this size, or one the surfaces of an H
    // did not give often enough.
    QStringList shortfalls(const QList<MapRecord> &written) const override;

    // The covers some threshold cut of a map of `size` can give: those c for
    // which some count k of block points above the threshold, 1 <= k < n
    // with n = (size + 1)^2, has coverPercent(k / n) == c. The block always
    // holds a 0, which no threshold leaves above it, and a 1, which every
    // threshold does, so k = 0 and k = n never occur; every other k does for
    // some surface.
    static std::array<bool, 101> reachableCovers(int size);

    // Share of the (size + 1) x (size + 1) block strictly above the threshold.
    static double coverFraction(const FbmBlock &block, double threshold);
    // The whole percentage a fraction counts as, truncated toward zero.
    static int coverPercent(double fraction) { return static_cast<int>(fraction * 100.0); }

    // 0.10, 0.11, ... 0.89, built by repeated addition as the cover of a cut
    // has always been measured, drift included.
    static std::array<double, thresholdCount> thresholds();

    // For every threshold of the ladder, the number of block values strictly
    // above it: what coverFraction counts, for all thresholds in one pass.
    static std::array<qint64, thresholdCount> aboveCounts(const FbmBlock &block);

    // Writes the top-left size x size cells of the block: aboveCode where
    // the value is strictly above the threshold, belowCode elsewhere. Nothing
    // appears under the name unless the whole file could be written. The
    // number of aboveCode cells written goes to habitatCells when given.
    static FileResult writeCoverMap(const FbmBlock &block, const QString &fileName,
                                    double threshold, int belowCode, int aboveCode,
                                    MapFileWriter::Format format = MapFileWriter::Format::Plain,
                                    qint64 *habitatCells = nullptr);

    // baseName, H to two decimals, "_", cover "%03i", "_", replicate "%05i",
    // ".txt" (".asc" for the grid format); independent of the locale.
    static QString mapFileName(const QString &baseName, double H, int cover, int replicate,
                               MapFileWriter::Format format = MapFileWriter::Format::Plain);

    static QString progressLabel(double H, int seed);

private:
    // One cut that becomes a map: where it comes from and what it is called.
    // Cells strictly above the threshold are habitat; so are the first
    // `tiesAbove` cells, in row-major order, that equal it.
    struct AcceptedCut {
        double H = 0.0;
        int seed = 0;
        double threshold = 0.0;
        qint64 tiesAbove = 0;
        int cover = 0;
        int replicate = 0;
        QString fileName;
        // The surface file the map names, when the batch writes them.
        QString surfaceFile;
    };

public:
    // See exactCoverCut: the block's top-left size x size values.
    using ExactCut = ExactCoverCut;
    static ExactCut exactCut(const FbmBlock &block, int cover, std::vector<double> &scratch);

private:
    // Everything that is written for one map happens here.
    FileResult writeAcceptedCut(const FbmBlock &block, const AcceptedCut &cut, MapWriter &writer,
                                MapPublisher &publisher) const;

    FractalBatchRequest m_request;
    Engine m_engine;
};

// The batch job of a fractal request.
BatchJob fractalBatchJob(const FractalBatchRequest &request);
