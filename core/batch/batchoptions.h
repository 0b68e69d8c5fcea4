// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"
#include "core/batch/phrase.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <variant>
#include <vector>

class FamilyRequest;
class MapFamily;

// The one description of what a batch can be asked for: a row for every
// option of every family (core/batch/mapfamily.h), which says everything
// about it. Every front end reads its options from here: the command line
// builds its parser and --help, the Python module and the R package their
// keywords and signatures, the manifest its words, the dialogs their ranges,
// first values and choices. A new option is a row, the member it sets in the
// family's request, and the generator that uses it; no front end names it
// again.

// A value as a front end hands it over: the command line's text, or what a
// Python or R caller passed, already in the nearest C++ type. Sequences of
// numbers (a Python range or list, an R vector) arrive as a list.
using OptionValue = std::variant<bool, qint64, double, QString, std::vector<double>>;

// How an option's value is written and understood.
enum class OptionType {
    // On when given: a command-line switch, a logical elsewhere.
    Flag,
    Whole,
    Number,
    Text,
    // One word of the option's table.
    Choice,
    // Covers: FIRST:LAST:STEP, or a list of whole numbers.
    CoverSweep,
    // Values with two decimals (H, correlation ranges): FIRST:LAST:STEP, or
    // a list.
    HurstSweep,
    // X,Y, or a list of two numbers.
    Point,
    // N for N x N cells, RxC for R rows of C columns, or a list of one or
    // two whole numbers.
    Shape,
    // METRIC=MIN:MAX; given again (or as a list A,B) it adds a target.
    TargetList,
    // K/N, or a list of two whole numbers: the K-th of N shares.
    Share,
    // A,B,C, or a list of numbers (whole ones where the row says so).
    Numbers,
    // On when given, as a flag; given metric names (all, or np,contag,...)
    // it also chooses the metrics of each map's long table.
    Metrics,
    // FAMILY:OPTION=VALUE,...:weight=W; given again (or joined by ';') it
    // adds a surface to the blend.
    Blends,
};

// The type's word, as the front ends' signatures and stubs take it: flag,
// whole, number, text, choice, sweep (covers or values with two decimals),
// point, targets or share.
const char *optionTypeWord(OptionType type);

// Which front ends an option belongs to. Maps kept in memory (Python, R
// without a folder) know nothing of files; rasters (R) also carry where
// they lie.
enum class OptionScope {
    // Changes the maps or what their records say: every front end.
    Maps,
    // Where the cells lie on the ground: files and rasters.
    Place,
    // Only a run that writes files: folder, names of files, the disk.
    Files,
};

// Whether an option says which maps a batch makes and how it lists them, or
// how one run of it goes (its folder, the disk, its share, whether it
// finishes an earlier run): the shares of a batch, and a run and the run
// that finishes it, differ only in the latter.
enum class OptionRole { Request, Run };

// Where a front end that reads config.txt (the window, the command line)
// takes an option's value from when it is not given.
enum class ConfigSource { None, Prefix, PostString, CoverValue, MatrixValue };

// One word a choice option takes, the value it stands for, and how a
// dialog shows it.
struct ChoiceWord {
    const char *word;
    int value;
    const char *label;
};

// The allowed values of an option, as --help, the docstrings and the
// dialogs' ranges show them. The requests check against the same limits
// (their static members) in refusal().
struct OptionLimits {
    enum class Kind { None, Whole, Decimal, WholeSweep, DecimalSweep };
    Kind kind = Kind::None;
    // FIRST, LAST and STEP of a sweep; the first alone for a single value.
    IntLimits whole[3] = {};
    HundredthsLimits decimal[3] = {};
    // What the limits do not say ("at most 4096 for fractal maps").
    const char *note = nullptr;

    static constexpr OptionLimits of(IntLimits limits, const char *note = nullptr)
    {
        return {Kind::Whole, {limits}, {}, note};
    }
    static constexpr OptionLimits of(HundredthsLimits limits)
    {
        return {Kind::Decimal, {}, {limits}, nullptr};
    }
    static constexpr OptionLimits sweep(IntLimits first, IntLimits last, IntLimits step)
    {
        return {Kind::WholeSweep, {first, last, step}, {}, nullptr};
    }
    static constexpr OptionLimits sweep(HundredthsLimits first, HundredthsLimits last,
                                        HundredthsLimits step)
    {
        return {Kind::DecimalSweep, {}, {first, last, step}, nullptr};
    }
    // "2..8192", "FIRST 0..99, LAST 1..100, STEP 1..100"; empty without
    // limits.
    QString text() const;
};

// The member of a request an option sets, as the options see it. A sweep
// that may be left out (and is then drawn for each map) is an optional
// HurstRange, which an empty text empties again. A choice
// is an enum of the request read and written as the value of its word; the
// origin is two members that one option sets together; --no-sync is the
// opposite of the request's sync.
struct ChoiceField {
    void *target;
    int (*read)(const void *target);
    void (*write)(void *target, int value);
};
template <typename Enum> ChoiceField choiceField(Enum *target)
{
    return {target, [](const void *t) { return int(*static_cast<const Enum *>(t)); },
            [](void *t, int value) { *static_cast<Enum *>(t) = Enum(value); }};
}
struct PointField {
    double *x;
    double *y;
};
struct NegatedField {
    bool *value;
};
struct MetricsField {
    bool *on;
    MetricSelection *table;
};
using OptionField =
    std::variant<int *, bool *, double *, QString *, std::optional<qint64> *, ChoiceField,
                 CoverRange *, HurstRange *, std::optional<HurstRange> *, PointField, NegatedField,
                 std::vector<MetricTarget> *, std::optional<BatchShard> *, MetricsField, MapShape *,
                 std::vector<double> *, std::vector<qint32> *, std::vector<BlendPart> *>;

// A row of the description: everything about one option of one family.
struct BatchOption {
    // The keyword in Python and R; the command line writes it with '-' for
    // '_' (cover_value is --cover-value).
    const char *key;
    OptionType type;
    OptionScope scope;
    // The placeholder of --help (N, FIRST:LAST:STEP); none for a flag.
    const char *valueName;
    // One sentence or two for --help and the docs, with the options it
    // names marked as {key} or {key value} (see Phrase); the limits and the
    // default are added from the row and the request.
    const char *help;
    // What only the family can add to the help (what --target needs of
    // its other options), or nothing.
    const char *helpTail = nullptr;
    // The member of the family's request it sets. Its default is what a new
    // request of the family holds there (MapFamily::newRequest), so that
    // defaults are written once, in the requests' member initialisers.
    OptionField (*field)(FamilyRequest &request);
    OptionLimits limits = {};
    // A one-letter command-line alias (-H), or none.
    const char *shortName = nullptr;
    // What one value of a sweep is called in messages ("the range holds no
    // H"); the key when none.
    const char *valueNoun = nullptr;
    // The manifest column that records the option's effect on a map, for
    // options that change maps.
    const char *manifestColumn = nullptr;
    std::span<const ChoiceWord> choices = {};
    OptionRole role = OptionRole::Request;
    ConfigSource config = ConfigSource::None;
    // A run that writes files cannot do without it (the folder).
    bool neededForFiles = false;
    // A pilot sample (`scan`) takes it: it shapes the maps, not how many
    // there are, how they are written or how they are sampled.
    bool pilot = false;

    QString cliName() const;
    // The words of a choice option, in the order of its table.
    QStringList words() const;
};

// The option of a family with this keyword (or command-line name), if any.
const BatchOption *findBatchOption(const MapFamily &family, QAnyStringView name);
// The first family's option with this keyword: what an option named in a
// message is, whichever family's batch the message is about. Options of one
// key have one type in every family.
const BatchOption *anyBatchOption(QAnyStringView key);

// The option's help with its limits and its default, as --help, the Python
// docstrings and the R manual show it.
Phrase optionHelp(const MapFamily &family, const BatchOption &option);

// What a new request of the family holds for an option, as the command line
// writes it (1:100:1, classic); empty for a flag that is off or a value that
// has no default. The front ends show it; no front end keeps defaults of its
// own.
QString optionDefaultText(const MapFamily &family, const BatchOption &option);
// The same default in its own type, for front ends that show typed values.
OptionValue optionDefault(const MapFamily &family, const BatchOption &option);
// The value an option has in a request, as the command line writes it: with
// every option's text, a request can be written down and read back whole.
QString optionText(const FamilyRequest &request, const BatchOption &option);
// Every option of the request but the run's own, as "key=text" lines in the
// order of --help: what a run records of its request, so that a merge or a
// resumed run can tell whether two runs belong to one request.
QStringList requestRecord(const FamilyRequest &request);
// "K/N", or nothing for a whole batch.
QString shareText(const std::optional<BatchShard> &shard);

// What a request given with these options (their keys) does otherwise than
// its user may think, one warning a line: an option its other choices leave
// unused (FamilyRequest::unusedOptions), a reference system without an
// origin. Front ends warn of them; nothing is refused for them.
QList<Phrase> requestAdvice(const FamilyRequest &request, const QStringList &given);

// Why a value does not fit an option, as a front end shows it after the
// option's name in its own spelling ("--size", "size"): "is not a whole
// number: 'x'". A value of a type the option never takes (text for a flag
// in Python) is a type error there; anything else is a bad value.
struct OptionError {
    enum class Kind { Type, Value };
    Kind kind = Kind::Value;
    QString reason;
};

// Stores the value of one option in the request. The limits are checked
// afterwards, all together, by the request's refusal().
std::optional<OptionError> setOption(FamilyRequest &request, const BatchOption &option,
                                     const OptionValue &value);

// The words of the choices every family may offer, for the manifest, the
// dialogs and the front ends.
QString wordOf(Generator generator);
QString wordOf(FractalCut cut);
QString wordOf(MapFormat format);
std::span<const ChoiceWord> generatorWords();
std::span<const ChoiceWord> cutWords();
std::span<const ChoiceWord> formatWords();
QStringList choiceWords(std::span<const ChoiceWord> words);
// The word of a value in a table, or nothing; the value a word stands for.
QString choiceWord(std::span<const ChoiceWord> words, int value);
std::optional<int> choiceValue(std::span<const ChoiceWord> words, QAnyStringView word);
