// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/generator.h"
#include "core/batch/limits.h"
#include "core/batch/maptargets.h"
#include "core/grid/composition.h"
#include "core/grid/georeference.h"
#include "core/grid/mapformat.h"
#include "core/grid/studyarea.h"
#include "core/metrics/metricnames.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

// The values every family's request is made of (see FamilyRequest in
// core/batch/mapfamily.h): limits, the sweeps, the shares of a split batch,
// and where the maps go. The limits written here and in the families'
// requests are the only place the allowed values are written down; the
// description's rows show them, the dialogs take their ranges from them and
// the requests check against them, so every front end accepts exactly the
// same batches.

// The rows and columns of a batch's maps. A square map keeps the single
// number every earlier batch was asked for, in its option and its names.
struct MapShape {
    int rows = 100;
    int columns = 100;
    bool isSquare() const { return rows == columns; }
    qint64 cells() const { return qint64(rows) * columns; }
    int longerSide() const { return rows > columns ? rows : columns; }
    // "100" for a square, "300x200" (rows x columns) otherwise: how the
    // option is written and how names and records carry it.
    QString text() const;
    bool operator==(const MapShape &) const = default;
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
    // The covers in the order the batch visits them, and where a cover
    // stands among them (-1 for one the batch does not visit).
    std::vector<int> values() const;
    qint64 indexOf(int cover) const;
};

// A surface added to a family's own before its cut (see
// core/batch/surfaceblend.h): the family's word, its options as the
// command line writes them, and the weight of its surface rescaled to 0..1.
struct BlendPart {
    QString family;
    QList<std::pair<QString, QString>> options;
    double weight = 1.0;
    bool operator==(const BlendPart &) const = default;
};

// A sweep of values with two decimals: the Hurst exponents of a batch, the
// correlation ranges of fields.
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

    // first + i x step, each the very decimal of two places it names, while
    // it does not exceed last + step / 2 (or the listed values). The
    // dialog's total, the progress range, the run and every front end take
    // this same sequence, so what the user is promised is what the run
    // does, and a value of a sweep is the value asked for alone.
    std::vector<double> values() const;
    // The same values reached by repeated addition from first, drift
    // included (0.7999999999999999 for 0.8): the walk fractal batches have
    // always made their surfaces of, which their maps depend on.
    std::vector<double> walked() const;
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
    // The metrics of every map's long table (PREFIXmetrics.csv), every
    // class and the landscape; none writes no table.
    MetricSelection metricTable;
    int neighbours = 8;
    // Keep only maps whose metrics meet every target, drawing at most
    // maxDraws maps for each cell of the batch (a cover, or an H and a
    // cover). Without targets no map is measured to be chosen.
    static constexpr IntLimits maxDrawLimits{1, 100000000};
    std::vector<MetricTarget> targets;
    int maxDraws = 1000;
    bool selects() const { return !targets.empty(); }

    // Classes beyond habitat and matrix, and the study area. Proportions
    // in percent, one a class, as given; their codes, or none for the
    // default ones (see classCodes()). A composition read from a map
    // gives both instead.
    std::vector<double> proportions;
    std::vector<qint32> classValues;
    QString proportionsOf;
    std::shared_ptr<const Composition> composition;
    // The template the maps take their rows, columns and place from, and
    // whose NoData cells (and those of maskValue) lie outside the study
    // area: read when the option is set, so that every front end sees the
    // same shape and the same refusal.
    QString mask;
    std::optional<qint64> maskValue;
    std::shared_ptr<const StudyArea> studyArea;

    // The shares of the classes, in percent: the composition's, or the
    // proportions given; empty for a map of habitat and matrix.
    std::vector<double> classShares() const;
    // The code of each class: the class values given, the composition's,
    // the matrix and habitat codes for two classes, or 1 to k.
    std::vector<qint32> classCodes() const;
    // Whether the classes, if any, are habitat and matrix at a whole cover:
    // none given, or two of whole shares.
    bool classesAreACover() const;
    // Whether the maps are cut into classes by rank rather than into
    // habitat and matrix by a cover: more than two classes, a share that
    // is not a whole per cent, or a study area. Two classes of whole
    // shares on the whole grid are a cover, and make its very files.
    bool cutsClasses() const;
    // The cover of two classes of whole shares, and where any classes are
    // given, the cover slot of their names: the last class's share,
    // rounded.
    std::optional<int> classCover() const;
    // The value cells outside the study area take: NODATA, or with none
    // given one that no class code is.
    qint64 outsideValue() const;
    // The same as the metrics take it, a 32-bit code: one that no class is
    // when NODATA lies beyond 32 bits.
    qint32 measuredOutside() const;

    std::optional<QString> refusal() const;
    // The checks of the classes, the composition and the study area alone.
    std::optional<QString> classRefusal() const;
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
