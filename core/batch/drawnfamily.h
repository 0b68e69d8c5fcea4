// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchoptions.h"
#include "core/batch/commonoptions.h"
#include "core/batch/mapfamily.h"
#include "core/batch/mapsource.h"
#include "core/batch/maptargets.h"
#include "core/batch/surfaceblend.h"
#include "core/batch/surfacecut.h"
#include "core/files/bulkmemory.h"
#include "core/rng/philox.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Families whose every map is drawn on its own from Philox: a pure function
// of the seed, the family's parameters, the value of its sweep (if it has
// one), the cover and the replicate. What such a family has of its own is
// how it draws one map (a surface, which is then cut exactly at the cover or
// into the classes, or the class of every cell) and its options; running a
// batch of it, sharing it out, resuming it, choosing maps by targets,
// writing the surfaces and naming the files are the same for all of them
// and written here once.

// The map a batch asks of a family: the value of its sweep (0 for a family
// that has none), the cover, and the replicate (with targets, the draw).
struct DrawPlace {
    double axis = 0;
    int cover = 0;
    int replicate = 1;
};

// The draws of one map. Counter of a drawn family's draws:
//   ctr[0]           the element drawn for (a cell, a cluster, a seed, a
//                    rectangle, as the family numbers them)
//   ctr[1]           the replicate, or the draw with targets
//   ctr[2] bits 0-15 the value of the sweep in hundredths; bits 16-23 the
//                    cover, 0 to 100
//   ctr[3]           what is drawn for the element: the family numbers its
//                    purposes
// The key is the seed's, under the family's domain (core/rng/philox.h), its
// size word 0: the map's shape enters through the elements.
class DrawStream {
public:
    DrawStream(std::uint32_t seed, philox::Domain domain, const DrawPlace &place);

    [[gnu::always_inline]] philox::Counter bits(std::uint32_t element, std::uint32_t purpose) const
    {
        return philox::bits(m_key, {{element, m_replicate, m_place, purpose}});
    }
    // The four words of elements first, first + 1, ... for `count`
    // elements, into out[4 * k], ...: the draws of many cells at once, four
    // cells an element, built for the widest vector units there are.
    void words(std::uint32_t first, std::size_t count, std::uint32_t purpose,
               std::uint32_t *out) const;
    // 64 uniform bits: words 0 and 1, low word first.
    std::uint64_t word64(std::uint32_t element, std::uint32_t purpose) const
    {
        const philox::Counter out = bits(element, purpose);
        return std::uint64_t(out.v[0]) | std::uint64_t(out.v[1]) << 32;
    }
    // A double uniform on [0, 1) with 53 random bits.
    double uniform(std::uint32_t element, std::uint32_t purpose) const
    {
        return double(word64(element, purpose) >> 11) * 0x1.0p-53;
    }

private:
    philox::Key m_key;
    std::uint32_t m_replicate;
    std::uint32_t m_place;
};

// A whole number uniform on 0..n - 1 from 64 uniform bits, by the high
// half of their product with n: unbiased to within n / 2^64.
inline std::uint64_t below(std::uint64_t bits, std::uint64_t n)
{
    return std::uint64_t((unsigned __int128)bits * n >> 64);
}

// "{key} must be between MIN and MAX, not VALUE": a value of a drawn
// family's own option outside its limits, named with the option.
std::optional<Phrase> outsideOption(const char *key, qint64 value, IntLimits limits);
// The same of a number, which must also be finite.
std::optional<Phrase> outsideOption(const char *key, double value, HundredthsLimits limits);

// The last lines of the description of a family without a sweep: how its
// files are named, with its default prefix.
QString drawnFileNaming(const QString &prefix);

// What a family draws for one map.
struct DrawnMap {
    // A surface of rows x columns values, row-major, cut exactly at the
    // cover or into the classes inside the study area...
    std::vector<double, BulkAllocator<double>> surface;
    // ... or the class index of every cell (0 the first class, for a cover
    // 0 matrix and 1 habitat), outsideClass outside the study area.
    std::vector<std::uint8_t, BulkAllocator<std::uint8_t>> classes;
    // Whether the draw should also give the surface of a family whose maps
    // are classes (the clusters before their fill): asked for by
    // --write-surfaces and the surface functions only, as it costs a
    // double a cell.
    bool wantSurface = false;
    // Working memory of one index a cell (a cell's cluster, its nearest
    // seed), kept from one map to the next so that a batch does not fault
    // its pages in again for every map.
    std::vector<std::uint32_t, BulkAllocator<std::uint32_t>> cellIndex;
    // The values of the family's own manifest columns that the draw learns
    // (a count of clusters), in the order of DrawnRequest::ownColumns();
    // the rest stay as ownColumns() gave them.
    QList<ManifestField> parameters;
};

// Stretches a drawn surface linearly to 0..1, as every drawn surface is
// given; a flat one stays as it is.
void rescaleSurface(DrawnMap &map);

// A request of a drawn family. The limits are those of every drawn family;
// a family's request shadows one to change it.
class DrawnRequest : public FamilyRequest {
public:
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    static constexpr IntLimits sizeLimits{2, 8192};
    static constexpr const char *sizeNote = nullptr;
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits seedLimits{0, 1000000000};
    static constexpr const char *targetNote = nullptr;
    static constexpr const char *drawNote = nullptr;
    static constexpr const char *shareNote =
        "Batches of this family are shared out by map (by cell of sweep value and cover with "
        "{target}), each map drawn from its own stream.";

    qint32 seed = 0;
    bool writeSurfaces = false;

    // The family's sweep and what one value of it is called, or nothing.
    virtual const HurstRange *sweep() const { return nullptr; }
    virtual QString sweepName() const { return {}; }
    std::vector<double> axisValues() const;

    // The family's own checks, after those of the sweep, sizes and output.
    virtual std::optional<Phrase> ownRefusal() const = 0;
    // The family's own manifest columns, with the values every map of the
    // request shares (its parameters); a draw fills in what it learns.
    virtual QList<ManifestField> ownColumns() const = 0;
    // Whether the maps are drawn as classes rather than cut from their
    // surface, which then only shows what they were drawn from.
    virtual bool drawsClasses() const { return false; }
    // Draws the map of a place into `map`, whose memory may be reused: its
    // surface, or its classes (and the surface when map.wantSurface). Fails with the reason
    // when a map cannot be drawn within its bounds.
    virtual std::optional<QString> draw(const DrawPlace &place, DrawnMap &map) const = 0;

    // The shares of the classes a map of this cover is made of: the
    // classes given, or the matrix and habitat at the cover.
    std::vector<double> sharesAt(int cover) const;
    // The study area's cells (one byte a cell, nonzero inside), or nullptr
    // for the whole grid, and how many cells lie in it.
    const std::uint8_t *inside() const;
    qint64 validCells() const;
    // "{key} (count) is more than the N cells of a map (of the study area):
    // every `what` needs a cell of its own", for elements drawn on cells of
    // their own; nothing when there are cells enough.
    std::optional<Phrase> moreThanCells(const char *key, qint64 count, const char *what) const;

    std::optional<Phrase> refusal() const override;
    qint64 mapCount() const override;
    qint64 shareUnits() const override;
    DiskEstimate diskEstimate(qint64 blockSize) const override;
    void makePilot(int samples) override { replicates = samples; }
    SweepAxis sweepAxis() const override;

protected:
    DrawnRequest() = default;
};

// Cells drawn uniformly among those of a request's study area (every cell
// of the map without one), in row-major order, each from 64 uniform bits.
class CellDrawer {
public:
    explicit CellDrawer(const DrawnRequest &request);
    std::uint32_t cell(std::uint64_t bits) const
    {
        const std::uint64_t at = below(bits, m_count);
        return m_inside ? m_cells[std::size_t(at)] : std::uint32_t(at);
    }

private:
    bool m_inside;
    std::vector<std::uint32_t> m_cells;
    std::uint64_t m_count;
};

// How a drawn family names its files: the sweep's word and value with two
// decimals (when it has a sweep), cover "%03i", replicate "%05i", "_surface"
// for the surface a map was cut from, the extension. In the C locale. A
// place without a value of the sweep (its axis NaN) has no sweep's word:
// a batch of a family whose sweep may be left out (and drawn for each map)
// names its maps so, and a name without one is read back with a NaN axis.
class DrawnNames final : public NameScheme {
public:
    // `axisWord`: "p" for p0.50_030_00001.txt, or nullptr.
    explicit DrawnNames(const char *axisWord)
        : m_axisWord(axisWord)
    {}
    QString tail(const NamePlace &place) const override;

protected:
    std::optional<NamePlace> parse(QStringView tail) const override;

private:
    const char *m_axisWord;
};

// Runs a batch of a drawn family: for every value of its sweep, cover and
// replicate, in that order, one map drawn from those alone. Maps are drawn
// ahead on helper threads while the one before is written; each is a
// pure function of its place, so the files are the same on any number of
// threads and in any share. With targets, every map is a draw of its cell
// (a value of the sweep and a cover), and the maps kept are numbered in the
// order they pass.
class DrawnMapSource final : public MapSource {
public:
    explicit DrawnMapSource(const DrawnRequest &request);
    ~DrawnMapSource() override;

    const FamilyRequest &request() const override { return *m_request; }
    QString longestMapName(const QString &nameStem) const override;
    ManifestColumns manifestColumns() const override;
    BatchResult makeMaps(const QString &nameStem, MapPublisher &publisher,
                         BatchProgress &progress) override;
    QList<Phrase> shortfalls(const MapTally &written) const override;
    QStringList acceptance() const override;
    void settleRecords(QList<MapRecord> &records) const override;

protected:
    bool ownsPlace(const NamePlace &place) const override;

private:
    struct Drawn;
    // Draws the map of drawn.place into drawn, its blend included.
    void drawInto(Drawn &drawn) const;
    QString fileName(const QString &nameStem, const DrawPlace &place, bool surface) const;
    BatchResult drawAll(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                        BatchProgress &progress);
    BatchResult drawUntilKept(const QString &nameStem, MapWriter &writer, MapPublisher &publisher,
                              BatchProgress &progress);
    // `cut`: the surface's cut at the map's cover, when the targets made it.
    FileResult writeMap(const Drawn &drawn, const QString &nameStem, MapWriter &writer,
                        MapPublisher &publisher, std::optional<ExactCoverCut> cut = {}) const;
    QString progressLabel(const DrawPlace &place) const;

    std::unique_ptr<DrawnRequest> m_request;
    std::vector<double> m_axis;
    std::unique_ptr<SurfaceBlend> m_blend;
    SelectionLedger m_ledger;
};

// The surface a batch of the request draws for a cover and a replicate.
std::optional<Phrase> drawnSurface(const DrawnRequest &request, qint64 cover, qint64 replicate,
                                   MapFamily::Surface &surface);

// A drawn family: the request type and its own rows; the rows every drawn
// family has (the seed, the surfaces) are added here.
template <typename Request> class DrawnFamily : public MapFamily {
public:
    std::unique_ptr<FamilyRequest> newRequest() const override
    {
        auto request = std::make_unique<Request>();
        request->output.prefix = defaultPrefix();
        return request;
    }
    std::unique_ptr<MapSource> source(const FamilyRequest &request) const override
    {
        return std::make_unique<DrawnMapSource>(static_cast<const DrawnRequest &>(request));
    }
    std::optional<Phrase> surface(const FamilyRequest &request, qint64 cover, qint64 replicate,
                                  Surface &surface) const override
    {
        return drawnSurface(static_cast<const DrawnRequest &>(request), cover, replicate, surface);
    }
    bool blends() const override { return true; }
    // Names without a sweep (PREFIX + cover + _ + replicate); a family with
    // one names its word.
    const NameScheme &names() const override
    {
        static const DrawnNames names(nullptr);
        return names;
    }

protected:
    // The family's own rows, then the seed and the surfaces.
    std::vector<BatchOption> rowsWith(std::span<const BatchOption> own,
                                      const char *surfaceHelp) const
    {
        std::vector<BatchOption> all(own.begin(), own.end());
        all.push_back({.key = "seed",
                       .type = OptionType::Whole,
                       .scope = OptionScope::Maps,
                       .valueName = "N",
                       .help = "Seed of the batch; each map is drawn from it, its parameters, "
                               "cover and replicate alone.",
                       .field = [](FamilyRequest &r) -> OptionField {
                           return &static_cast<Request &>(r).seed;
                       },
                       .limits = OptionLimits::of(Request::seedLimits),
                       .manifestColumn = "seed",
                       .pilot = true});
        all.push_back(commonoptions::blendRow());
        all.push_back(commonoptions::writeSurfacesRow<Request>(surfaceHelp));
        return commonoptions::rows<Request>(all);
    }
};
