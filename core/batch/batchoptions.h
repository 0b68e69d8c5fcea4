// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchrequest.h"

#include <QAnyStringView>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <variant>
#include <vector>

// The one description of what a batch can be asked for. Every front end
// reads its options from here: the command line builds its parser and
// --help, the Python module and the R package parse their keywords, the
// manifest writes its words, the dialogs fill their choices. A new option is
// a row here, the field it sets in the request, and the generator that uses
// it; no front end names it again.

enum class BatchKind { Random, Fractal, Gaussian };
constexpr BatchKind batchKinds[] = {BatchKind::Random, BatchKind::Fractal, BatchKind::Gaussian};

// The word of a kind, as the command line's commands, the Python module's
// and the R package's kind arguments write it, and the kind of a word.
const char *kindWord(BatchKind kind);
std::optional<BatchKind> batchKindNamed(QAnyStringView word);
// The kind of a request's type.
constexpr BatchKind kindOf(const RandomBatchRequest &)
{
    return BatchKind::Random;
}
constexpr BatchKind kindOf(const FractalBatchRequest &)
{
    return BatchKind::Fractal;
}
constexpr BatchKind kindOf(const GaussianBatchRequest &)
{
    return BatchKind::Gaussian;
}

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
    // H values, or the ranges of Gaussian fields: FIRST:LAST:STEP, or a
    // list, each with at most two decimals.
    HurstSweep,
    // X,Y, or a list of two numbers.
    Point,
    // METRIC=MIN:MAX; given again (or as a list A,B) it adds a target.
    TargetList,
    // K/N, or a list of two whole numbers: the K-th of N shares.
    Share,
};

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

// One word a choice option takes, the value it stands for, and how a
// dialog shows it.
struct ChoiceWord {
    const char *word;
    int value;
    const char *label;
};

struct BatchOption {
    // The keyword in Python and R; the command line writes it with '-' for
    // '_' (cover_value is --cover-value).
    const char *key;
    OptionType type;
    OptionScope scope;
    // The placeholder of --help (N, FIRST:LAST:STEP); none for a flag.
    const char *valueName;
    // One sentence or two for --help and the docs; the default and the
    // limits are added from the request.
    const char *help;
    // A one-letter command-line alias (-H), or none.
    const char *shortName = nullptr;
    // The manifest column that records the option's effect on a map, for
    // options that change maps.
    const char *manifestColumn = nullptr;
    std::span<const ChoiceWord> choices = {};

    QString cliName() const;
    // The words of a choice option, in the order of its table.
    QStringList words() const;
};

// The options of a kind of batch, in the order --help lists them.
std::span<const BatchOption> batchOptions(BatchKind kind);
// The option of that kind with this keyword (or command-line name), if any.
const BatchOption *findBatchOption(BatchKind kind, QAnyStringView name);

// The option's help with its limits and its default, as --help, the Python
// docstrings and the R manual show it.
QString optionHelp(BatchKind kind, const BatchOption &option);

// What the request of a kind holds for an option when nobody sets it, as the
// command line writes it (1:100:1, classic); empty for a flag that is off or
// a value that has no default. The front ends show it; no front end keeps
// defaults of its own.
QString optionDefaultText(BatchKind kind, const BatchOption &option);
// The value an option has in a request, as the command line writes it: with
// every option's text, a request can be written down and read back whole.
QString optionText(const RandomBatchRequest &request, const BatchOption &option);
QString optionText(const FractalBatchRequest &request, const BatchOption &option);
QString optionText(const GaussianBatchRequest &request, const BatchOption &option);
// Whether an option says how one run goes (its folder, the disk, its share,
// whether it finishes an earlier run) rather than which maps the batch makes
// and how it lists them: the shares of a batch, and a run and the run that
// finishes it, differ only in these.
bool isRunOption(const BatchOption &option);
// Every other option of the request, as "key=text" lines in the order of
// --help: what a run records of its request, so that a merge or a resumed
// run can tell whether two runs belong to one request.
QStringList requestRecord(const RandomBatchRequest &request);
QStringList requestRecord(const FractalBatchRequest &request);
QStringList requestRecord(const GaussianBatchRequest &request);
// "K/N", or nothing for a whole batch.
QString shareText(const std::optional<BatchShard> &shard);
// The same default in its own type, for front ends that show typed values.
OptionValue optionDefault(BatchKind kind, const BatchOption &option);

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
std::optional<OptionError> setOption(RandomBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value);
std::optional<OptionError> setOption(FractalBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value);
std::optional<OptionError> setOption(GaussianBatchRequest &request, const BatchOption &option,
                                     const OptionValue &value);

// How a front end other than the command line writes an option where a
// message names it: with the value the message gives it, or, for a switch
// or a mention without a value, an empty one.
using OptionSpelling = QString (*)(const BatchOption &option, const QString &value);
// The core's messages name options as the command line writes them ("add
// --cut exact", "(--max-draws 5)"). The same message with every such
// mention written by `spell`, as the Python module and the R package show
// it; anything else in it is left as it is.
QString respelled(const QString &message, OptionSpelling spell);

// The prefix a front end without config.txt gives a kind's file names.
QString defaultPrefix(BatchKind kind);

// The words of the enums, for the manifest, the dialogs and the front ends.
QString wordOf(Generator generator);
QString wordOf(FractalCut cut);
QString wordOf(MapFormat format);
QString wordOf(CovarianceModel model);
std::span<const ChoiceWord> generatorWords();
std::span<const ChoiceWord> cutWords();
std::span<const ChoiceWord> formatWords();
std::span<const ChoiceWord> modelWords();
QStringList choiceWords(std::span<const ChoiceWord> words);
// The value a word stands for in a table, or nothing.
std::optional<int> choiceValue(std::span<const ChoiceWord> words, QAnyStringView word);
