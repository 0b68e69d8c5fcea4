// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/maprecord.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/files/fileerror.h"
#include "core/grid/mapfilewriter.h"
#include "fractal/fbmblock.h"
#include "fractal/fractalbatchrequest.h"
#include "fractal/surfacepipeline.h"

#include <QList>
#include <QString>

#include <array>
#include <memory>
#include <vector>

class MapPublisher;
class MapWriter;

// Runs a fractal batch: for every H, surfaces are built from the seeds
// firstSeed, firstSeed + 1, ... (at most `surfaces` of them) until every
// requested cover has its replicates. With the ladder cut (the default) each
// surface is cut at a fixed ladder of thresholds, and a cut becomes a map
// when its cover happens to be a requested one that still lacks replicates,
// so one surface can give maps for several covers, and neighbouring
// thresholds several replicates of one cover. With the exact cut each
// surface gives one map of every cover still short, cut where exactly that
// share of its cells lies above.
class FractalMapGenerator final : public MapSource {
public:
    static constexpr int maxMapSize = FractalBatchRequest::maxMapSize;
    static constexpr int seedsPerH = FractalBatchRequest::surfacesPerH;

    using Engine = SurfacePipeline::Engine;

    explicit FractalMapGenerator(const FractalBatchRequest &request, Engine engine = Engine::Fast);

    const FamilyRequest &request() const override { return m_request; }
    QString longestMapName(const QString &nameStem) const override;
    ManifestColumns manifestColumns() const override;
    void settleRecords(QList<MapRecord> &records) const override;
    // Appends each map once the file is complete. A run stops at the first
    // map it cannot write; everything listed before it stays valid on disk.
    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override;
    // Which requested covers fell short, at which H, and why: a cover no
    // threshold can cut from a map of this size, or one the surfaces of an H
    // did not give often enough.
    QList<Phrase> shortfalls(const MapTally &written) const override;
    QStringList acceptance() const override;

    // Whether this run makes the maps of the hIndex-th H and this cover
    // (FractalBatchRequest::ownsCell), and of any cover.
    bool ownsCell(std::size_t hIndex, int cover) const;
    bool ownsAnyCellOf(std::size_t hIndex) const;

    // baseName, H to two decimals, "_", cover "%03i", "_", replicate "%05i",
    // ".txt" (".asc" for the grid format); independent of the locale.
    static QString mapFileName(const QString &baseName, double H, int cover, int replicate,
                               MapFormat format = MapFormat::Plain);

    static QString progressLabel(double H, int seed);

protected:
    bool ownsPlace(const NamePlace &place) const override;

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
        // With targets, the draw of its cell that made it.
        int draw = 0;
        // Its place in the whole batch's order (see MapRecord::position).
        qint64 position = 0;
        QString fileName;
        // The surface file the map names, when the batch writes them.
        QString surfaceFile;
        // What was blended into its surface.
        QByteArray blend;
    };

    // Counts of the maps made so far at the current H, by cover.
    using CoverCounts = std::array<int, 101>;

    // The surfaces an H may build.
    int surfacesPerH() const;
    // The covers a cut of this batch can give: all of them for the exact
    // cut, those covercut::reachableCovers names for the ladder.
    std::array<bool, 101> reachableCovers() const;
    bool allCoversDone(const CoverCounts &counts, const std::array<bool, 101> &reachable,
                       std::size_t hIndex) const;
    // The cuts of one surface that become maps, counted in `counts`: for the
    // ladder, those thresholds whose cover is requested and still short;
    // for the exact cut, one for every requested cover still short.
    std::vector<AcceptedCut> ladderCuts(const SurfacePipeline::Surface &surface,
                                        CoverCounts &counts, std::size_t hIndex) const;
    // With targets, a cut is a draw of its cell (hIndex, cover) and only a
    // cut that meets them becomes a map.
    struct Selection {
        MapSelector *selector = nullptr;
        int hIndex = 0;
        double H = 0;
        int draw = 0;
    };
    std::vector<AcceptedCut> exactCuts(const FbmBlock &block, CoverCounts &counts,
                                       Selection selection);
    // Names and writes the maps of one surface in order, and then the
    // surface itself when the batch asks for it; stops at the first failure.
    FileResult writeSurfaceMaps(const FbmBlock &block, double H, int seed, const QString &nameStem,
                                std::vector<AcceptedCut> &cuts, MapWriter &writer,
                                MapPublisher &publisher) const;
    // Everything that is written for one map happens here. The finished
    // map goes to the publisher, or into `held` while its surface is still
    // to be written.
    FileResult writeAcceptedCut(const FbmBlock &block, const AcceptedCut &cut, MapWriter &writer,
                                MapPublisher &publisher, std::vector<FinishedMap> *held) const;

    FractalBatchRequest m_request;
    std::unique_ptr<SurfaceBlend> m_blend;
    SelectionLedger m_ledger;
    // The draws of every cell so far, with targets.
    qint64 m_drawn = 0;
    Engine m_engine;
    // The H values the batch visits, and the place of each requested cover
    // among the covers (-1 for the others).
    std::vector<double> m_hs;
    std::array<int, 101> m_coverIndex{};
};
