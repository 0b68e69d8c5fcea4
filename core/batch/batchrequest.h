// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/maptargets.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"

#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

// What a user asks of a batch, as plain values: the dialogs fill these from
// their widgets, the command line from its options, and the batch job runs
// them. The limits below are the only place the allowed values are written
// down; the dialogs take their spin-box ranges from them and the command line
// checks against them, so both accept exactly the same batches.

// Inclusive bounds of a whole-number setting.
struct IntLimits {
    int min;
    int max;
    constexpr bool contains(qint64 value) const { return value >= min && value <= max; }
};

// Inclusive bounds of a setting shown with two decimals.
struct HundredthsLimits {
    double min;
    double max;
    bool contains(double value) const;
};

// The covers a batch visits: first, first + step, ... up to and including
// last; or, when `listed` holds any, exactly those, in that order.
struct CoverRange {
    CoverRange() = default;
    CoverRange(int first, int last, int step)
        : first(first)
        , last(last)
        , step(step)
    {}

    int first = 1;
    int last = 100;
    int step = 1;
    // Covers that no step reaches, such as 10, 25 and 50. A range is always
    // kept as a range, so that its names and records stay as they were.
    std::vector<int> listed;

    // How many covers that is: (last - first + step) / step, truncated, which
    // is what the dialogs have always shown; 0 or less for a reversed range.
    qint64 count() const;
    bool contains(int cover) const;
    // The covers in the order the batch visits them.
    std::vector<int> values() const;
};

// The Hurst exponents a fractal batch visits; any other sweep of values
// with two decimals (the correlation ranges of a Gaussian field batch) is
// walked the same way.
struct HurstRange {
    HurstRange() = default;
    HurstRange(double first, double last, double step)
        : first(first)
        , last(last)
        , step(step)
    {}

    double first = 0.1;
    double last = 0.9;
    double step = 0.1;
    // H values that no step reaches, visited as listed.
    std::vector<double> listed;

    // From first in steps of step, by repeated addition, while H does not
    // exceed last + step / 2 (or the listed values). The dialog's total,
    // the progress range and the run all walk this same sequence, so what
    // the user is promised is what the run does.
    std::vector<double> values() const;
};

// One share of a batch split over several processes: the index-th of count,
// counted from 1. A batch is cut into units of work that can be made apart
// and still give the very files the whole batch gives (each generator says
// which); a share takes a run of consecutive units, so that shares differ by
// at most one unit.
struct BatchShard {
    static constexpr IntLimits countLimits{1, 100000};

    int index = 1;
    int count = 1;

    // The units [begin, end) of `units` this share takes.
    qint64 begin(qint64 units) const { return units * (index - 1) / count; }
    qint64 end(qint64 units) const { return units * index / count; }
    bool owns(qint64 unit, qint64 units) const { return unit >= begin(units) && unit < end(units); }
    // The share of the work this share takes.
    double fraction(qint64 units) const
    {
        return units > 0 ? double(end(units) - begin(units)) / double(units) : 0.0;
    }
    bool operator==(const BatchShard &) const = default;
};

// Where the maps of a batch go and what they hold, common to every kind.
struct BatchOutput {
    static constexpr IntLimits coverValueLimits{-99999, 99999};
    static constexpr IntLimits matrixValueLimits{-999999, 999999};

    QString folder;
    QString prefix;
    // Appended to every line of the batch list.
    QString postString;
    qint32 coverValue = 1;
    qint32 matrixValue = 0;
    MapFormat format = MapFormat::Plain;
    // Replace the files of an earlier run with the same prefix in the
    // folder instead of refusing to run beside them.
    bool overwrite = false;
    // Wait for each group of maps to be on disk before naming it. Off only
    // for scratch runs on a RAM disk: a crash can then leave a name on a
    // map the disk never got whole.
    bool sync = true;
    // Makes only this share of the batch: the maps, names and records the
    // whole batch gives for its part, with a record of the request and the
    // share beside them that `merge` gathers the shares by.
    std::optional<BatchShard> shard;
    // Finishes an earlier run of the same request in the folder: its maps
    // are kept when they hold exactly what this run makes, and only the
    // missing ones are written.
    bool resume = false;
    // Whether this run makes the unit-th of a batch's `units` (all of them
    // but for a share), and how many it makes.
    bool ownsUnit(qint64 unit, qint64 units) const { return !shard || shard->owns(unit, units); }
    qint64 ownUnits(qint64 units) const
    {
        return shard ? shard->end(units) - shard->begin(units) : units;
    }

    // For grids GIS tools read (ESRI ASCII and GeoTIFF): where the cells
    // lie, and the value that stands for no data. Without a value, an ESRI
    // grid says -9999 (or the next value down that is not a code), and a
    // GeoTIFF picks one that fits its cell type (see GeoTiffMapWriter). The
    // cell size also gives the metrics their units.
    Georeference georeference;
    std::optional<qint64> noData;
    // Adds the landscape metrics of every map to the manifest, counting
    // patches with 8 or 4 neighbours.
    bool metrics = false;
    int neighbours = 8;
    // Keep only maps whose metrics meet every target, drawing at most
    // maxDraws maps for each cell of the batch (a cover, or an H and a
    // cover). Without targets no map is measured to be chosen.
    static constexpr IntLimits maxDrawLimits{1, 100000000};
    std::vector<MetricTarget> targets;
    int maxDraws = 1000;
    bool selects() const { return !targets.empty(); }

    std::optional<QString> refusal() const;
    // The NODATA value an ESRI grid of these codes states.
    qint64 asciiGridNoData() const;

    // Every name of a run is the folder, the prefix and a tail of its own,
    // so a prefix must not lead out of the folder or break a line of the
    // batch list: no path separator, no "..", no control character.
    static std::optional<QString> prefixRefusal(const QString &prefix);
    // The post-string ends a line of the batch list, whose content is
    // Latin-1 for the metrics program: no line break, no NUL, nothing
    // Latin-1 cannot hold.
    static std::optional<QString> postStringRefusal(const QString &postString);
};

struct RandomBatchRequest {
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    static constexpr IntLimits sizeLimits{2, 9999999};
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits seedLimits{-999999, 999999};

    CoverRange covers;
    int size = 100;
    int replicates = 1;
    // The settings dialog starts every process at 5.
    qint32 seed = 5;
    Generator generator = Generator::Classic;
    BatchOutput output;

    // Why the batch cannot run as given, in words for the user; nothing when
    // it can. A range that visits no cover is refused: it would write an
    // empty list over the folder's old one.
    std::optional<QString> refusal() const;
    // The maps the batch writes: covers times replicates, 0 when reversed.
    qint64 mapCount() const;
    bool samplingChanged() const { return generator != Generator::Classic; }
    // The units a split batch is shared out by: its maps, each made alone
    // (the classic generator jumps to a map's first draw), or with targets
    // its covers, whose maps depend on the draws before them.
    qint64 shareUnits() const { return output.selects() ? covers.count() : mapCount(); }
};

struct FractalBatchRequest {
    static constexpr HundredthsLimits firstHurstLimits{0.1, 1.0};
    static constexpr HundredthsLimits lastHurstLimits{0.01, 1.0};
    static constexpr HundredthsLimits hurstStepLimits{0.01, 1.0};
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    // The dialog takes any size a random map could have; a fractal map is
    // cut from a lattice of 4097 points a side and cannot be larger.
    static constexpr IntLimits sizeLimits{2, 9999999};
    static constexpr int maxMapSize = 4096;
    static constexpr IntLimits replicateLimits{1, 999999};
    // Every H builds up to `surfaces` surfaces from the seeds firstSeed,
    // firstSeed + 1, ... and cuts each at a ladder of this many thresholds.
    static constexpr int surfacesPerH = 200;
    static constexpr int ladderSteps = 80;
    static constexpr IntLimits surfaceLimits{1, 10000000};
    static constexpr IntLimits firstSeedLimits{0, 1000000000};

    HurstRange hurst;
    CoverRange covers;
    int size = 100;
    int replicates = 1;
    Generator generator = Generator::Classic;
    FractalCut cut = FractalCut::Ladder;
    // No surface gives two maps of one H and cover: the replicates of a
    // cover come from different surfaces.
    bool distinctSurfaces = false;
    int surfaces = surfacesPerH;
    int firstSeed = 0;
    // Also writes, for every surface that gave a map, the rescaled surface
    // block the maps were cut from.
    bool writeSurfaces = false;
    BatchOutput output;

    // Whether any choice of how maps are sampled differs from the classic
    // one, which the manifest then records for every map.
    bool samplingChanged() const;

    std::optional<QString> refusal() const;
    // The maps the dialog promises: H values times covers times
    // replicates. A run can write fewer when no surface reaches a cover.
    qint64 mapCount() const;
    // The units a split batch is shared out by: its cells of H and cover,
    // or with surface files its H values (see FractalMapGenerator::ownsCell).
    qint64 shareUnits() const;
};

// A batch of maps cut from Gaussian random fields (gaussian/gaussianfield.h):
// for every range (or, for fbm, every H), cover and replicate, a field of its
// own drawn from the seed, cut at that cover.
struct GaussianBatchRequest {
    static constexpr HundredthsLimits firstRangeLimits{0.1, 10000.0};
    static constexpr HundredthsLimits lastRangeLimits{0.1, 10000.0};
    static constexpr HundredthsLimits rangeStepLimits{0.01, 10000.0};
    // The exact construction of fbm has a surface for H strictly between 0
    // and 1; the embedding refuses, with its reason, an H it cannot draw at
    // the requested size.
    static constexpr HundredthsLimits firstHurstLimits{0.01, 0.99};
    static constexpr HundredthsLimits lastHurstLimits{0.01, 0.99};
    static constexpr HundredthsLimits hurstStepLimits{0.01, 0.98};
    static constexpr HundredthsLimits nuLimits{0.1, 10.0};
    static constexpr IntLimits firstCoverLimits{0, 99};
    static constexpr IntLimits lastCoverLimits{1, 100};
    static constexpr IntLimits coverStepLimits{1, 100};
    // A field of 8192 x 8192 cells takes a periodic grid of 16384 points a
    // side, 2 GiB of spectrum while it is drawn.
    static constexpr IntLimits sizeLimits{2, 8192};
    static constexpr IntLimits replicateLimits{1, 999999};
    static constexpr IntLimits seedLimits{0, 1000000000};

    CovarianceModel model = CovarianceModel::Exponential;
    // In cells; not used by fbm.
    HurstRange ranges{5.0, 45.0, 5.0};
    // fbm only.
    HurstRange hurst;
    // matern only.
    double nu = 1.0;
    CoverRange covers;
    int size = 100;
    int replicates = 1;
    qint32 seed = 0;
    // This family has no earlier maps to stay the same as: its cuts are
    // exact unless asked otherwise.
    FractalCut cut = FractalCut::Exact;
    // Also writes the field every map was cut from.
    bool writeSurfaces = false;
    BatchOutput output;

    // The values of the batch's sweep: the ranges, or the H values for fbm.
    const HurstRange &axis() const { return model == CovarianceModel::Fbm ? hurst : ranges; }
    std::vector<double> axisValues() const { return axis().values(); }
    std::optional<QString> refusal() const;
    // Axis values times covers times replicates.
    qint64 mapCount() const;
    // The units a split batch is shared out by: its maps, each drawn from
    // its own stream, or with targets its cells of a sweep value and a
    // cover, whose maps depend on the draws before them.
    qint64 shareUnits() const;
};

// The maps a run of a batch shared out by map, or with targets by cell of
// `replicates` maps (random and Gaussian batches), sets out to make.
template <typename Request> qint64 plannedMapsOf(const Request &request)
{
    const qint64 own = request.output.ownUnits(request.shareUnits());
    return request.output.selects() ? own * request.replicates : own;
}
