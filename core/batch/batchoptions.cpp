// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchoptions.h"

#include "core/batch/rangeparser.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchOptions", text);
}

constexpr ChoiceWord generatorTable[] = {
    {"classic", int(Generator::Classic),
     QT_TRANSLATE_NOOP("BatchOptions", "Classic (as earlier batches)")},
    {"philox", int(Generator::Philox),
     QT_TRANSLATE_NOOP("BatchOptions", "Philox (independent replicates)")},
};
constexpr ChoiceWord cutTable[] = {
    {"ladder", int(FractalCut::Ladder), QT_TRANSLATE_NOOP("BatchOptions", "Ladder of thresholds")},
    {"exact", int(FractalCut::Exact), QT_TRANSLATE_NOOP("BatchOptions", "Exact cover")},
};
constexpr ChoiceWord modelTable[] = {
    {"exponential", int(CovarianceModel::Exponential),
     QT_TRANSLATE_NOOP("BatchOptions", "Exponential")},
    {"gaussian", int(CovarianceModel::Gaussian), QT_TRANSLATE_NOOP("BatchOptions", "Gaussian")},
    {"matern", int(CovarianceModel::Matern), QT_TRANSLATE_NOOP("BatchOptions", "Matern")},
    {"fbm", int(CovarianceModel::Fbm),
     QT_TRANSLATE_NOOP("BatchOptions", "Fractional Brownian motion (exact)")},
};
constexpr ChoiceWord formatTable[] = {
    {"plain", int(MapFormat::Plain), QT_TRANSLATE_NOOP("BatchOptions", "Plain text (.txt)")},
    {"asc", int(MapFormat::AsciiGrid), QT_TRANSLATE_NOOP("BatchOptions", "ESRI ASCII grid (.asc)")},
    {"tif", int(MapFormat::GeoTiff), QT_TRANSLATE_NOOP("BatchOptions", "GeoTIFF (.tif)")},
};

using Type = OptionType;
using Scope = OptionScope;

// The options every kind of batch has, then each kind's own, in the order
// of --help: the folder and the sweep first, the output's details last.
constexpr BatchOption commonHead[] = {
    {"out", Type::Text, Scope::Files, "DIR",
     "Folder for the maps and the batch list; created if missing."},
    {"cover", Type::CoverSweep, Scope::Maps, "FIRST:LAST:STEP", "Cover percentages.", nullptr,
     "requested_cover"},
    {"size", Type::Whole, Scope::Maps, "N", "Cells per side of each square map.", nullptr, "size"},
    {"replicates", Type::Whole, Scope::Maps, "N", "Maps per cover.", nullptr, "replicate"},
};

constexpr BatchOption commonTail[] = {
    {"prefix", Type::Text, Scope::Maps, "TEXT", "File name prefix.", nullptr, "file"},
    {"post_string", Type::Text, Scope::Files, "TEXT", "Text appended to every batch list line."},
    {"cover_value", Type::Whole, Scope::Maps, "N", "Code written for habitat cells.", nullptr,
     "cover_value"},
    {"matrix_value", Type::Whole, Scope::Maps, "N", "Code written for matrix cells.", nullptr,
     "matrix_value"},
    {"format", Type::Choice, Scope::Maps, "FORMAT",
     "File format of the maps: plain (.txt), asc (ESRI ASCII grid, .asc) or tif (GeoTIFF, "
     ".tif), both for GIS tools.",
     nullptr, "file", formatTable},
    {"overwrite", Type::Flag, Scope::Files, nullptr,
     "Replace the files of an earlier run with the same prefix in the folder; without it such a "
     "run is refused."},
    {"no_sync", Type::Flag, Scope::Files, nullptr,
     "Name maps without waiting for the disk to hold them: faster on a busy disk, but a crash "
     "can then leave a name on a partial map. For scratch runs on a RAM disk."},
    {"shard", Type::Share, Scope::Maps, "K/N",
     "Makes only the K-th of N shares of the batch, to run it as N tasks (a job array, GNU "
     "parallel): each share makes exactly the maps, names and manifest rows the whole batch "
     "makes for its part, and `merge` gathers the shares' folders into the whole run. Shares "
     "are balanced by work: random and Gaussian field batches by map (by cell with --target), "
     "fractal batches by cell of H and cover (by H with --write-surfaces). Every generator, "
     "cut and option splits exactly; the classic generator jumps ahead to where a share's "
     "draws start.",
     nullptr, "file"},
    {"resume", Type::Flag, Scope::Files, nullptr,
     "Finishes a run of the same request that stopped (killed, a full disk) in the folder: "
     "every map is made again, one already there is kept when it holds the same bytes, only "
     "the missing ones are written, and the folder ends as after a run that never stopped. A "
     "folder that holds another request's run is refused."},
    {"generator", Type::Choice, Scope::Maps, "NAME",
     "Where the randomness comes from: classic (the 15-bit generator every earlier batch used) "
     "or philox (independent replicates; see the README).",
     nullptr, "generator", generatorTable},
    {"nodata", Type::Whole, Scope::Files, "N",
     "NODATA value of asc and tif maps, neither code (by default -9999 for asc, for tif -9999 or "
     "the largest value of the cell type that is not a code)."},
    {"cell_size", Type::Number, Scope::Maps, "S",
     "Side of a cell in map units, for asc and tif maps and the metrics' areas.", nullptr,
     "area_mn"},
    {"origin", Type::Point, Scope::Place, "X,Y", "Lower-left corner of asc and tif maps."},
    {"crs", Type::Text, Scope::Place, "CRS",
     "Coordinate reference system of tif maps, as GDAL takes it (for example EPSG:3035)."},
    {"metrics", Type::Flag, Scope::Maps, nullptr,
     "Adds each map's landscape metrics to the manifest: habitat cells, NP, LPI, AREA_MN, "
     "AREA_AM, ED and GYRATE_AM.",
     nullptr, "np"},
    {"neighbours", Type::Whole, Scope::Maps, "N",
     "Cells that join into one patch for the metrics: 8 (sides and corners) or 4 (sides).", nullptr,
     "np"},
    {"target", Type::TargetList, Scope::Maps, "METRIC=MIN:MAX",
     "Keeps only maps whose metric lies in MIN..MAX (inclusive; either may be empty); METRIC is "
     "np, lpi, area_mn, area_am, ed or gyrate_am. Give it once per metric. Maps are drawn in "
     "order and measured in memory; rejected maps are never written. Needs --generator philox "
     "(and for fractal maps --cut exact --distinct-surfaces).",
     nullptr, "draw"},
    {"max_draws", Type::Whole, Scope::Maps, "N",
     "With --target: maps drawn at most for each cover (and H) before it is given up as short; "
     "for fractal maps also the surfaces each H may build.",
     nullptr, "draw"},
};

constexpr BatchOption randomOwn[] = {
    {"seed", Type::Whole, Scope::Maps, "N", "Seed of the batch.", nullptr, "seed"},
};

constexpr BatchOption fractalOwn[] = {
    {"hurst", Type::HurstSweep, Scope::Maps, "FIRST:LAST:STEP",
     "Hurst exponents, with at most two decimals.", "H", "H"},
    {"surfaces", Type::Whole, Scope::Maps, "N", "Surfaces each H may build.", nullptr,
     "surfaces_per_h"},
    {"first_seed", Type::Whole, Scope::Maps, "S",
     "Seed of each H's first surface; give runs of different H disjoint seeds with it.", nullptr,
     "first_seed"},
    {"distinct_surfaces", Type::Flag, Scope::Maps, nullptr,
     "No surface gives two maps of one H and cover: replicates come from different surfaces.",
     nullptr, "distinct_surfaces"},
    {"cut", Type::Choice, Scope::Maps, "HOW",
     "How a surface is cut: ladder (80 fixed thresholds) or exact (at its own quantile, so each "
     "map holds exactly round(cover x cells / 100) habitat cells).",
     nullptr, "cut", cutTable},
    {"write_surfaces", Type::Flag, Scope::Files, nullptr,
     "Also writes, for every surface that gave a map, the rescaled surface the maps were cut "
     "from (PREFIX + H + _surface_ + seed; float32 .tif with --format tif, else an ESRI grid "
     "with 7 significant digits); the manifest then names it.",
     nullptr, "surface_file"},
};

// Gaussian fields are drawn from Philox alone; every other kind also
// offers the classic generator.
constexpr BatchOption gaussianOwn[] = {
    {"model", Type::Choice, Scope::Maps, "MODEL",
     "Covariance of the fields: exponential, gaussian or matern (each with the correlation "
     "range --range, in cells), or fbm, an exact fractional Brownian surface of Hurst exponent "
     "--hurst (see the README for the formulas).",
     nullptr, "model", modelTable},
    {"range", Type::HurstSweep, Scope::Maps, "FIRST:LAST:STEP",
     "Correlation ranges in cells, with at most two decimals; one field per range, cover and "
     "replicate. Not for fbm.",
     nullptr, "range"},
    {"hurst", Type::HurstSweep, Scope::Maps, "FIRST:LAST:STEP",
     "Hurst exponents of fbm fields, with at most two decimals.", "H", "H"},
    {"nu", Type::Number, Scope::Maps, "NU",
     "Smoothness of the matern model, with at most two decimals (0.5 is the exponential model).",
     nullptr, "nu"},
    {"seed", Type::Whole, Scope::Maps, "N",
     "Seed of the batch; each field is drawn from it, its range (or H), cover and replicate.",
     nullptr, "seed"},
    {"cut", Type::Choice, Scope::Maps, "HOW",
     "How a field is cut: exact (at its own quantile, so each map holds exactly round(cover x "
     "cells / 100) habitat cells) or ladder (rescaled to 0..1 and cut at the lowest of 80 fixed "
     "thresholds whose whole percentage is the cover; a field none of them fits gives no map).",
     nullptr, "cut", cutTable},
    {"write_surfaces", Type::Flag, Scope::Files, nullptr,
     "Also writes the field every map was cut from, named as the map with _surface (float32 "
     ".tif with --format tif, else an ESRI grid with 7 significant digits); the manifest then "
     "names it.",
     nullptr, "surface_file"},
};

std::vector<BatchOption> joined(std::span<const BatchOption> own, bool classicGenerator = true)
{
    std::vector<BatchOption> options(std::begin(commonHead), std::end(commonHead));
    options.insert(options.end(), own.begin(), own.end());
    for (const BatchOption &option : commonTail)
        if (classicGenerator || std::string_view(option.key) != "generator")
            options.push_back(option);
    return options;
}

// A field of a request as the options see it. The origin is two fields that
// one option sets together; --no-sync is the opposite of the request's sync.
struct Point {
    double *x;
    double *y;
};
struct Negated {
    bool *value;
};
using Field =
    std::variant<int *, bool *, double *, QString *, std::optional<qint64> *, Generator *,
                 FractalCut *, MapFormat *, CovarianceModel *, CoverRange *, HurstRange *, Point,
                 Negated, std::vector<MetricTarget> *, std::optional<BatchShard> *>;

template <typename Request> std::optional<Field> commonField(Request &request, std::string_view key)
{
    BatchOutput &out = request.output;
    if (key == "out")
        return &out.folder;
    if (key == "cover")
        return &request.covers;
    if (key == "size")
        return &request.size;
    if (key == "replicates")
        return &request.replicates;
    if constexpr (requires { request.generator; })
        if (key == "generator")
            return &request.generator;
    if (key == "prefix")
        return &out.prefix;
    if (key == "post_string")
        return &out.postString;
    if (key == "cover_value")
        return &out.coverValue;
    if (key == "matrix_value")
        return &out.matrixValue;
    if (key == "format")
        return &out.format;
    if (key == "overwrite")
        return &out.overwrite;
    if (key == "no_sync")
        return Negated{&out.sync};
    if (key == "shard")
        return &out.shard;
    if (key == "resume")
        return &out.resume;
    if (key == "nodata")
        return &out.noData;
    if (key == "cell_size")
        return &out.georeference.cellSize;
    if (key == "origin")
        return Point{&out.georeference.originX, &out.georeference.originY};
    if (key == "crs")
        return &out.georeference.crs;
    if (key == "metrics")
        return &out.metrics;
    if (key == "neighbours")
        return &out.neighbours;
    if (key == "target")
        return &out.targets;
    if (key == "max_draws")
        return &out.maxDraws;
    return std::nullopt;
}

std::optional<Field> fieldOf(RandomBatchRequest &request, std::string_view key)
{
    if (key == "seed")
        return &request.seed;
    return commonField(request, key);
}

std::optional<Field> fieldOf(FractalBatchRequest &request, std::string_view key)
{
    if (key == "hurst")
        return &request.hurst;
    if (key == "surfaces")
        return &request.surfaces;
    if (key == "first_seed")
        return &request.firstSeed;
    if (key == "distinct_surfaces")
        return &request.distinctSurfaces;
    if (key == "cut")
        return &request.cut;
    if (key == "write_surfaces")
        return &request.writeSurfaces;
    return commonField(request, key);
}

std::optional<Field> fieldOf(GaussianBatchRequest &request, std::string_view key)
{
    if (key == "model")
        return &request.model;
    if (key == "range")
        return &request.ranges;
    if (key == "hurst")
        return &request.hurst;
    if (key == "nu")
        return &request.nu;
    if (key == "seed")
        return &request.seed;
    if (key == "cut")
        return &request.cut;
    if (key == "write_surfaces")
        return &request.writeSurfaces;
    return commonField(request, key);
}

template <typename... F> struct Overloaded : F... {
    using F::operator()...;
};
template <typename... F> Overloaded(F...) -> Overloaded<F...>;

OptionError typeError(const char *expected)
{
    return {OptionError::Kind::Type, tr("must be %1").arg(tr(expected))};
}

OptionError valueError(const QString &reason)
{
    return {OptionError::Kind::Value, reason};
}

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

// Whole numbers beyond any limit are held at the edge of int, so that the
// request refuses them with the words of its limits.
int clampedInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                  std::numeric_limits<int>::max()));
}

// R hands every number over as a double: one that is a whole number is one.
std::optional<qint64> wholeOf(double value)
{
    if (!std::isfinite(value) || value != std::trunc(value))
        return std::nullopt;
    return qint64(std::clamp(value, -9.0e18, 9.0e18));
}

std::variant<qint64, OptionError> whole(const OptionValue &value)
{
    if (const auto *number = std::get_if<qint64>(&value))
        return *number;
    if (const auto *number = std::get_if<double>(&value)) {
        if (const auto exact = wholeOf(*number))
            return *exact;
        return valueError(tr("is not a whole number: %1").arg(QString::number(*number)));
    }
    if (const auto *text = std::get_if<QString>(&value)) {
        if (const auto parsed = parseInt(*text))
            return qint64(*parsed);
        return valueError(tr("is not a whole number: %1").arg(quoted(*text)));
    }
    return typeError("a whole number");
}

std::variant<double, OptionError> number(const OptionValue &value)
{
    if (const auto *whole = std::get_if<qint64>(&value))
        return double(*whole);
    if (const auto *number = std::get_if<double>(&value)) {
        if (std::isfinite(*number))
            return *number;
        return valueError(tr("is not a finite number: %1").arg(QString::number(*number)));
    }
    if (const auto *text = std::get_if<QString>(&value)) {
        if (const auto parsed = parseDouble(*text))
            return *parsed;
        return valueError(tr("is not a number: %1").arg(quoted(*text)));
    }
    return typeError("a number");
}

// H is shown with two decimals; a value within rounding of one is taken as
// it, so that seq(0.1, 0.9, 0.1) in R or numpy.arange in Python means what
// 0.1:0.9:0.1 means. Any other value is passed on for the request to refuse.
double hundredths(double value)
{
    const double rounded = std::round(value * 100.0);
    return std::fabs(value * 100.0 - rounded) < 1e-9 ? rounded / 100.0 : value;
}

// A sweep as a front end gave it: FIRST:LAST:STEP taken as written, or the
// values to visit.
struct Sweep {
    std::optional<DoubleRange> range;
    std::vector<double> values;
};

std::variant<Sweep, OptionError> sweepOf(const OptionValue &value, bool wholeNumbers)
{
    if (const auto *list = std::get_if<std::vector<double>>(&value))
        return Sweep{std::nullopt, *list};
    if (std::holds_alternative<qint64>(value) || std::holds_alternative<double>(value)) {
        const auto one = number(value);
        if (const auto *error = std::get_if<OptionError>(&one))
            return *error;
        return Sweep{std::nullopt, {std::get<double>(one)}};
    }
    const auto *text = std::get_if<QString>(&value);
    if (!text)
        return typeError("a number or a list of numbers");
    const auto parse = [wholeNumbers](QStringView part) -> std::optional<double> {
        if (!wholeNumbers)
            return parseDouble(part);
        if (const auto whole = parseInt(part))
            return double(*whole);
        return std::nullopt;
    };
    const QList<QStringView> fields = QStringView(*text).split(QLatin1Char(':'));
    const QList<QStringView> parts =
        fields.size() == 3 ? fields : QStringView(*text).split(QLatin1Char(','));
    std::vector<double> numbers;
    for (const QStringView part : parts)
        if (const auto parsed = parse(part))
            numbers.push_back(*parsed);
    if (numbers.size() != std::size_t(parts.size()) || fields.size() == 2 || fields.size() > 3)
        return valueError(
            tr("must be FIRST:LAST:STEP, one value or a list A,B,C with %1, not %2")
                .arg(wholeNumbers ? tr("whole numbers") : tr("decimal numbers"), quoted(*text)));
    if (fields.size() == 3)
        return Sweep{DoubleRange{numbers[0], numbers[1], numbers[2]}, {}};
    return Sweep{std::nullopt, numbers};
}

// The range FIRST:LAST:STEP that visits a list of values, when they are
// evenly spaced and increasing; otherwise the list stands as it is.
struct Listed {};
std::variant<DoubleRange, Listed, OptionError> rangeOfList(const std::vector<double> &values,
                                                           const QString &what, double tolerance,
                                                           double singleStep)
{
    if (values.empty())
        return valueError(tr("is an empty list: the range holds no %1").arg(what));
    for (double v : values)
        if (!std::isfinite(v))
            return valueError(tr("holds %1, which is not a finite number").arg(v));
    if (values.size() == 1)
        return DoubleRange{values[0], values[0], singleStep};
    const double step = values[1] - values[0];
    // Values that no step reaches stay a list; the request checks that
    // they increase.
    for (std::size_t i = 2; i < values.size(); ++i)
        if (std::fabs((values[i] - values[i - 1]) - step) > tolerance)
            return Listed{};
    if (!(step > 0))
        return Listed{};
    return DoubleRange{values.front(), values.back(), step};
}

std::optional<OptionError> assignCovers(CoverRange &covers, const OptionValue &value)
{
    const auto sweep = sweepOf(value, true);
    if (const auto *error = std::get_if<OptionError>(&sweep))
        return *error;
    const Sweep &s = std::get<Sweep>(sweep);
    for (double v : s.values)
        if (!wholeOf(v))
            return valueError(tr("holds %1, which is not a whole number").arg(v));
    using Parsed = std::variant<DoubleRange, Listed, OptionError>;
    const Parsed range = s.range ? Parsed(*s.range) : rangeOfList(s.values, tr("cover"), 0.0, 1.0);
    if (const auto *error = std::get_if<OptionError>(&range))
        return *error;
    const auto held = [](double v) { return clampedInt(qint64(std::clamp(v, -3.0e9, 3.0e9))); };
    if (std::holds_alternative<Listed>(range)) {
        covers = {held(s.values.front()), held(s.values.back()), 1};
        for (const double v : s.values)
            covers.listed.push_back(held(v));
        return std::nullopt;
    }
    const auto &r = std::get<DoubleRange>(range);
    covers = {held(r.first), held(r.last), held(r.step)};
    return std::nullopt;
}

// `what` names one value of the sweep in messages: H, or range.
std::optional<OptionError> assignHurst(HurstRange &hurst, const OptionValue &value,
                                       const QString &what)
{
    const auto sweep = sweepOf(value, false);
    if (const auto *error = std::get_if<OptionError>(&sweep))
        return *error;
    const Sweep &s = std::get<Sweep>(sweep);
    if (s.range) {
        hurst = {s.range->first, s.range->last, s.range->step};
        return std::nullopt;
    }
    const auto range = rangeOfList(s.values, what, 1e-9, 0.1);
    if (const auto *error = std::get_if<OptionError>(&range))
        return *error;
    if (std::holds_alternative<Listed>(range)) {
        hurst = {hundredths(s.values.front()), hundredths(s.values.back()), 0.1};
        for (const double v : s.values)
            hurst.listed.push_back(hundredths(v));
        return std::nullopt;
    }
    const auto &r = std::get<DoubleRange>(range);
    hurst = {hundredths(r.first), hundredths(r.last), hundredths(r.step)};
    return std::nullopt;
}

std::optional<OptionError> assignPoint(Point point, const OptionValue &value)
{
    std::vector<double> xy;
    if (const auto *text = std::get_if<QString>(&value)) {
        const QList<QStringView> parts = QStringView(*text).split(QLatin1Char(','));
        for (const QStringView part : parts)
            if (const auto parsed = parseDouble(part))
                xy.push_back(*parsed);
        if (parts.size() != 2 || xy.size() != 2)
            return valueError(tr("must be X,Y, not %1").arg(quoted(*text)));
    } else if (const auto *list = std::get_if<std::vector<double>>(&value)) {
        xy = *list;
        if (xy.size() != 2 || !std::isfinite(xy[0]) || !std::isfinite(xy[1]))
            return valueError(tr("must be two finite numbers, X and Y"));
    } else {
        return typeError("two numbers, X and Y");
    }
    *point.x = xy[0];
    *point.y = xy[1];
    return std::nullopt;
}

std::optional<OptionError> assignShard(std::optional<BatchShard> &shard, const OptionValue &value)
{
    std::vector<qint64> parts;
    bool complete = false;
    if (const auto *text = std::get_if<QString>(&value)) {
        if (text->isEmpty()) {
            shard.reset();
            return std::nullopt;
        }
        const QList<QStringView> fields = QStringView(*text).split(QLatin1Char('/'));
        for (const QStringView field : fields)
            if (const auto parsed = parseInt(field))
                parts.push_back(*parsed);
        complete = fields.size() == 2 && parts.size() == 2;
        if (!complete)
            return valueError(tr("must be K/N, the K-th of N shares, not %1").arg(quoted(*text)));
    } else if (const auto *list = std::get_if<std::vector<double>>(&value)) {
        for (const double v : *list)
            if (const auto exact = wholeOf(v))
                parts.push_back(*exact);
        if (list->size() != 2 || parts.size() != 2)
            return valueError(tr("must be two whole numbers, K and N: the K-th of N shares"));
    } else {
        return typeError("K and N, the K-th of N shares");
    }
    shard = BatchShard{clampedInt(parts[0]), clampedInt(parts[1])};
    return std::nullopt;
}

std::optional<OptionError> assignFlag(bool &flag, const OptionValue &value)
{
    if (const auto *on = std::get_if<bool>(&value)) {
        flag = *on;
        return std::nullopt;
    }
    return typeError("true or false");
}

std::optional<OptionError> assign(const Field &field, const BatchOption &option,
                                  const OptionValue &value)
{
    const auto choice = [&]() -> std::variant<int, OptionError> {
        const auto *text = std::get_if<QString>(&value);
        if (!text)
            return typeError("a word");
        if (const auto chosen = choiceValue(option.choices, *text))
            return *chosen;
        return valueError(
            tr("must be %1, not %2").arg(option.words().join(tr(" or ")), quoted(*text)));
    };
    const auto setChoice = [&](auto *target) -> std::optional<OptionError> {
        const auto chosen = choice();
        if (const auto *error = std::get_if<OptionError>(&chosen))
            return *error;
        *target = std::remove_pointer_t<decltype(target)>(std::get<int>(chosen));
        return std::nullopt;
    };
    return std::visit(
        Overloaded{
            [&](int *target) -> std::optional<OptionError> {
                const auto parsed = whole(value);
                if (const auto *error = std::get_if<OptionError>(&parsed))
                    return *error;
                *target = clampedInt(std::get<qint64>(parsed));
                return std::nullopt;
            },
            [&](std::optional<qint64> *target) -> std::optional<OptionError> {
                const auto parsed = whole(value);
                if (const auto *error = std::get_if<OptionError>(&parsed))
                    return *error;
                *target = std::get<qint64>(parsed);
                return std::nullopt;
            },
            [&](double *target) -> std::optional<OptionError> {
                const auto parsed = number(value);
                if (const auto *error = std::get_if<OptionError>(&parsed))
                    return *error;
                *target = std::get<double>(parsed);
                return std::nullopt;
            },
            [&](QString *target) -> std::optional<OptionError> {
                const auto *text = std::get_if<QString>(&value);
                if (!text)
                    return typeError("text");
                *target = *text;
                return std::nullopt;
            },
            [&](bool *target) { return assignFlag(*target, value); },
            [&](Negated target) {
                bool given = false;
                auto error = assignFlag(given, value);
                if (!error)
                    *target.value = !given;
                return error;
            },
            [&](Generator *target) { return setChoice(target); },
            [&](FractalCut *target) { return setChoice(target); },
            [&](MapFormat *target) { return setChoice(target); },
            [&](CovarianceModel *target) { return setChoice(target); },
            [&](CoverRange *target) { return assignCovers(*target, value); },
            [&](HurstRange *target) {
                return assignHurst(*target, value,
                                   std::string_view(option.key) == "hurst"
                                       ? QStringLiteral("H")
                                       : QString::fromLatin1(option.key));
            },
            [&](Point target) { return assignPoint(target, value); },
            [&](std::vector<MetricTarget> *target) -> std::optional<OptionError> {
                const auto *text = std::get_if<QString>(&value);
                if (!text)
                    return typeError("METRIC=MIN:MAX targets");
                if (text->isEmpty()) {
                    target->clear();
                    return std::nullopt;
                }
                if (auto error = parseTargets(*text, *target))
                    return valueError(*error);
                return std::nullopt;
            },
            [&](std::optional<BatchShard> *target) { return assignShard(*target, value); },
        },
        field);
}

// Every digit a double needs to be read back as itself: a request written
// down must not lose what tells it from another.
QString numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString numberText(int value)
{
    return QString::number(value);
}

QString rangeText(double first, double last, double step)
{
    return QStringLiteral("%1:%2:%3").arg(numberText(first), numberText(last), numberText(step));
}

template <typename T> QString listText(const std::vector<T> &values)
{
    QStringList texts;
    for (const T value : values)
        texts.append(numberText(value));
    return texts.join(QLatin1Char(','));
}

QString choiceWord(std::span<const ChoiceWord> words, int value)
{
    for (const ChoiceWord &word : words)
        if (word.value == value)
            return QString::fromLatin1(word.word);
    return {};
}

// The value of a field as a front end would pass it back.
OptionValue valueOf(const Field &field, const BatchOption &option)
{
    return std::visit(
        Overloaded{
            [](int *v) -> OptionValue { return qint64(*v); },
            [](bool *v) -> OptionValue { return *v; },
            [](Negated v) -> OptionValue { return !*v.value; },
            [](double *v) -> OptionValue { return *v; },
            [](QString *v) -> OptionValue { return *v; },
            [](std::optional<qint64> *v) -> OptionValue {
                return v->has_value() ? OptionValue(**v) : OptionValue(QString());
            },
            [&](Generator *v) -> OptionValue { return choiceWord(option.choices, int(*v)); },
            [&](FractalCut *v) -> OptionValue { return choiceWord(option.choices, int(*v)); },
            [&](MapFormat *v) -> OptionValue { return choiceWord(option.choices, int(*v)); },
            [&](CovarianceModel *v) -> OptionValue { return choiceWord(option.choices, int(*v)); },
            [](CoverRange *v) -> OptionValue {
                std::vector<double> values;
                for (const int cover : v->values())
                    values.push_back(cover);
                return values;
            },
            [](HurstRange *v) -> OptionValue {
                std::vector<double> values;
                for (double h : v->values())
                    values.push_back(hundredths(h));
                return values;
            },
            [](Point v) -> OptionValue {
                return std::vector<double>{*v.x, *v.y};
            },
            [](std::vector<MetricTarget> *v) -> OptionValue { return targetsText(*v); },
            [](std::optional<BatchShard> *v) -> OptionValue { return shareText(*v); },
        },
        field);
}

QString textOf(const Field &field, const BatchOption &option)
{
    return std::visit(
        Overloaded{
            [](CoverRange *v) {
                return v->listed.empty() ? rangeText(v->first, v->last, v->step)
                                         : listText(v->listed);
            },
            [](HurstRange *v) {
                return v->listed.empty() ? rangeText(v->first, v->last, v->step)
                                         : listText(v->listed);
            },
            [](Point v) { return QStringLiteral("%1,%2").arg(numberText(*v.x), numberText(*v.y)); },
            [&](const auto &) {
                const OptionValue value = valueOf(field, option);
                if (const auto *whole = std::get_if<qint64>(&value))
                    return QString::number(*whole);
                if (const auto *number = std::get_if<double>(&value))
                    return numberText(*number);
                if (const auto *flag = std::get_if<bool>(&value))
                    return *flag ? QStringLiteral("on") : QString();
                return std::get<QString>(value);
            },
        },
        field);
}

// The request a front end starts from: the request's own defaults, with the
// kind's prefix.
template <typename Request> Request startingRequest(BatchKind kind)
{
    Request request;
    request.output.prefix = defaultPrefix(kind);
    return request;
}

template <typename Result, typename Use>
Result withDefaultField(BatchKind kind, const BatchOption &option, Use use)
{
    if (kind == BatchKind::Random) {
        auto request = startingRequest<RandomBatchRequest>(kind);
        return use(*fieldOf(request, option.key));
    }
    if (kind == BatchKind::Gaussian) {
        auto request = startingRequest<GaussianBatchRequest>(kind);
        return use(*fieldOf(request, option.key));
    }
    auto request = startingRequest<FractalBatchRequest>(kind);
    return use(*fieldOf(request, option.key));
}

QString span(IntLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

QString span(HundredthsLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

template <typename Request> QString sweepLimits(const Request &)
{
    return tr("FIRST %1, LAST %2, STEP %3")
        .arg(span(Request::firstCoverLimits), span(Request::lastCoverLimits),
             span(Request::coverStepLimits));
}

template <typename Request> QString commonLimits(std::string_view key)
{
    if (key == "cover")
        return sweepLimits(Request());
    if (key == "size")
        return span(Request::sizeLimits);
    if (key == "replicates")
        return span(Request::replicateLimits);
    if (key == "cover_value")
        return span(BatchOutput::coverValueLimits);
    if (key == "max_draws")
        return span(BatchOutput::maxDrawLimits);
    if (key == "matrix_value")
        return span(BatchOutput::matrixValueLimits);
    return {};
}

QString sweepSpan(HundredthsLimits first, HundredthsLimits last, HundredthsLimits step)
{
    return tr("FIRST %1, LAST %2, STEP %3").arg(span(first), span(last), span(step));
}

QString gaussianLimits(std::string_view key)
{
    using Request = GaussianBatchRequest;
    if (key == "range")
        return sweepSpan(Request::firstRangeLimits, Request::lastRangeLimits,
                         Request::rangeStepLimits);
    if (key == "hurst")
        return sweepSpan(Request::firstHurstLimits, Request::lastHurstLimits,
                         Request::hurstStepLimits);
    if (key == "nu")
        return span(Request::nuLimits);
    if (key == "seed")
        return span(Request::seedLimits);
    return commonLimits<Request>(key);
}

QString limitsOf(BatchKind kind, std::string_view key)
{
    if (kind == BatchKind::Random) {
        if (key == "seed")
            return span(RandomBatchRequest::seedLimits);
        return commonLimits<RandomBatchRequest>(key);
    }
    if (kind == BatchKind::Gaussian)
        return gaussianLimits(key);
    using Request = FractalBatchRequest;
    if (key == "hurst")
        return sweepSpan(Request::firstHurstLimits, Request::lastHurstLimits,
                         Request::hurstStepLimits);
    if (key == "size")
        return tr("%1, at most %2 for fractal maps")
            .arg(span(Request::sizeLimits))
            .arg(Request::maxMapSize);
    if (key == "surfaces")
        return span(Request::surfaceLimits);
    if (key == "first_seed")
        return span(Request::firstSeedLimits);
    return commonLimits<Request>(key);
}

} // namespace

QString optionHelp(BatchKind kind, const BatchOption &option)
{
    QString text = tr(option.help);
    const QString limits = limitsOf(kind, option.key);
    if (!limits.isEmpty())
        text += QLatin1Char(' ') + tr("Limits: %1.").arg(limits);
    const QString fallback = optionDefaultText(kind, option);
    if (!fallback.isEmpty())
        text += QLatin1Char(' ') + tr("Default: %1.").arg(fallback);
    return text;
}

QString BatchOption::cliName() const
{
    return QString::fromLatin1(key).replace(QLatin1Char('_'), QLatin1Char('-'));
}

QStringList BatchOption::words() const
{
    return choiceWords(choices);
}

QStringList choiceWords(std::span<const ChoiceWord> words)
{
    QStringList list;
    for (const ChoiceWord &word : words)
        list.append(QString::fromLatin1(word.word));
    return list;
}

std::span<const BatchOption> batchOptions(BatchKind kind)
{
    static const std::vector<BatchOption> random = joined(randomOwn);
    static const std::vector<BatchOption> fractal = joined(fractalOwn);
    static const std::vector<BatchOption> gaussian = joined(gaussianOwn, false);
    switch (kind) {
    case BatchKind::Random:
        return random;
    case BatchKind::Fractal:
        return fractal;
    case BatchKind::Gaussian:
        break;
    }
    return gaussian;
}

const BatchOption *findBatchOption(BatchKind kind, QAnyStringView name)
{
    for (const BatchOption &option : batchOptions(kind))
        if (QAnyStringView::compare(name, QLatin1String(option.key)) == 0 ||
            QAnyStringView::compare(name, option.cliName()) == 0)
            return &option;
    return nullptr;
}

QString respelled(const QString &message, OptionSpelling spell)
{
    // A mention starts a word; its value, when the option takes one, is
    // the next word if that is a value the option can take.
    static const QRegularExpression mention(QStringLiteral("(?<![^\\s(])--([a-z][a-z-]*)"));
    static const QRegularExpression nextWord(QStringLiteral(" ([A-Za-z0-9_/+-]+(?:\\.[0-9]+)?)"));
    QString out;
    qsizetype copied = 0;
    auto mentions = mention.globalMatch(message);
    while (mentions.hasNext()) {
        const QRegularExpressionMatch match = mentions.next();
        if (match.capturedStart() < copied)
            continue;
        const BatchOption *option = nullptr;
        for (const BatchKind kind : {BatchKind::Random, BatchKind::Fractal, BatchKind::Gaussian})
            if (!option)
                option = findBatchOption(kind, match.capturedView(1));
        if (!option)
            continue;
        qsizetype end = match.capturedEnd();
        QString value;
        if (option->type != OptionType::Flag) {
            const QRegularExpressionMatch word =
                nextWord.match(message, end, QRegularExpression::NormalMatch,
                               QRegularExpression::AnchorAtOffsetMatchOption);
            const QString token = word.captured(1);
            bool number = false;
            token.toDouble(&number);
            static const QRegularExpression share(QStringLiteral("^(\\d+|K)/(\\d+|N)$"));
            const bool fits =
                word.hasMatch() &&
                ((option->type == OptionType::Choice && option->words().contains(token)) ||
                 ((option->type == OptionType::Whole || option->type == OptionType::Number) &&
                  (number || token == QLatin1String(option->valueName))) ||
                 (option->type == OptionType::Share && share.match(token).hasMatch()));
            if (fits) {
                value = token;
                end = word.capturedEnd();
            }
        }
        out += QStringView(message).sliced(copied, match.capturedStart() - copied);
        out += spell(*option, value);
        copied = end;
    }
    out += QStringView(message).sliced(copied);
    return out;
}

QString optionDefaultText(BatchKind kind, const BatchOption &option)
{
    return withDefaultField<QString>(kind, option,
                                     [&](const Field &field) { return textOf(field, option); });
}

QString optionText(const RandomBatchRequest &request, const BatchOption &option)
{
    RandomBatchRequest copy = request;
    return textOf(*fieldOf(copy, option.key), option);
}

QString optionText(const FractalBatchRequest &request, const BatchOption &option)
{
    FractalBatchRequest copy = request;
    return textOf(*fieldOf(copy, option.key), option);
}

QString optionText(const GaussianBatchRequest &request, const BatchOption &option)
{
    GaussianBatchRequest copy = request;
    return textOf(*fieldOf(copy, option.key), option);
}

bool isRunOption(const BatchOption &option)
{
    const std::string_view key = option.key;
    return key == "out" || key == "overwrite" || key == "no_sync" || key == "shard" ||
           key == "resume";
}

namespace {

template <typename Request> QStringList recordOf(BatchKind kind, const Request &request)
{
    QStringList lines;
    for (const BatchOption &option : batchOptions(kind))
        if (!isRunOption(option))
            lines.append(QLatin1String(option.key) + QLatin1Char('=') +
                         optionText(request, option));
    return lines;
}

} // namespace

QStringList requestRecord(const RandomBatchRequest &request)
{
    return recordOf(BatchKind::Random, request);
}

QStringList requestRecord(const FractalBatchRequest &request)
{
    return recordOf(BatchKind::Fractal, request);
}

QStringList requestRecord(const GaussianBatchRequest &request)
{
    return recordOf(BatchKind::Gaussian, request);
}

QString shareText(const std::optional<BatchShard> &shard)
{
    return shard ? QStringLiteral("%1/%2").arg(shard->index).arg(shard->count) : QString();
}

OptionValue optionDefault(BatchKind kind, const BatchOption &option)
{
    return withDefaultField<OptionValue>(
        kind, option, [&](const Field &field) { return valueOf(field, option); });
}

std::optional<OptionError> setOption(RandomBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value)
{
    return assign(*fieldOf(request, option.key), option, value);
}

std::optional<OptionError> setOption(FractalBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value)
{
    return assign(*fieldOf(request, option.key), option, value);
}

std::optional<OptionError> setOption(GaussianBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value)
{
    return assign(*fieldOf(request, option.key), option, value);
}

const char *kindWord(BatchKind kind)
{
    switch (kind) {
    case BatchKind::Random:
        return "random";
    case BatchKind::Fractal:
        return "fractal";
    case BatchKind::Gaussian:
        break;
    }
    return "gaussian";
}

std::optional<BatchKind> batchKindNamed(QAnyStringView word)
{
    for (const BatchKind kind : batchKinds)
        if (QAnyStringView::compare(word, QLatin1String(kindWord(kind))) == 0)
            return kind;
    return std::nullopt;
}

QString defaultPrefix(BatchKind kind)
{
    switch (kind) {
    case BatchKind::Random:
        return QStringLiteral("RND_");
    case BatchKind::Fractal:
        return QStringLiteral("FBM_");
    case BatchKind::Gaussian:
        break;
    }
    return QStringLiteral("GRF_");
}

QString wordOf(Generator generator)
{
    return choiceWord(generatorTable, int(generator));
}

QString wordOf(FractalCut cut)
{
    return choiceWord(cutTable, int(cut));
}

QString wordOf(MapFormat format)
{
    return choiceWord(formatTable, int(format));
}

QString wordOf(CovarianceModel model)
{
    return choiceWord(modelTable, int(model));
}

std::span<const ChoiceWord> generatorWords()
{
    return generatorTable;
}

std::span<const ChoiceWord> cutWords()
{
    return cutTable;
}

std::span<const ChoiceWord> formatWords()
{
    return formatTable;
}

std::span<const ChoiceWord> modelWords()
{
    return modelTable;
}

std::optional<int> choiceValue(std::span<const ChoiceWord> words, QAnyStringView word)
{
    for (const ChoiceWord &entry : words)
        if (QAnyStringView::compare(word, QLatin1String(entry.word)) == 0)
            return entry.value;
    return std::nullopt;
}
