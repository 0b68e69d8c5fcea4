// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchoptions.h"

#include "core/batch/blendtext.h"
#include "core/batch/mapfamily.h"
#include "core/batch/rangeparser.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

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
constexpr ChoiceWord formatTable[] = {
    {"plain", int(MapFormat::Plain), QT_TRANSLATE_NOOP("BatchOptions", "Plain text (.txt)")},
    {"asc", int(MapFormat::AsciiGrid), QT_TRANSLATE_NOOP("BatchOptions", "ESRI ASCII grid (.asc)")},
    {"tif", int(MapFormat::GeoTiff), QT_TRANSLATE_NOOP("BatchOptions", "GeoTIFF (.tif)")},
};

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

std::optional<OptionError> assignPoint(PointField point, const OptionValue &value)
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

std::optional<OptionError> assignShape(MapShape &shape, const OptionValue &value)
{
    std::vector<qint64> sides;
    bool complete = false;
    if (const auto *text = std::get_if<QString>(&value)) {
        const QString lower = text->trimmed().toLower();
        const QList<QStringView> fields = QStringView(lower).split(QLatin1Char('x'));
        for (const QStringView field : fields)
            if (const auto parsed = parseInt(field.trimmed()))
                sides.push_back(*parsed);
        complete = fields.size() <= 2 && sides.size() == std::size_t(fields.size());
        if (!complete)
            return valueError(tr("must be N (N x N cells) or RxC (R rows of C columns), not %1")
                                  .arg(quoted(*text)));
    } else if (const auto *whole = std::get_if<qint64>(&value)) {
        sides.push_back(*whole);
    } else if (const auto *list = std::get_if<std::vector<double>>(&value)) {
        for (const double v : *list)
            if (const auto exact = wholeOf(v))
                sides.push_back(*exact);
        if (list->empty() || list->size() > 2 || sides.size() != list->size())
            return valueError(tr("must be one or two whole numbers: N, or rows and columns"));
    } else if (const auto *number = std::get_if<double>(&value)) {
        const auto exact = wholeOf(*number);
        if (!exact)
            return valueError(tr("is not a whole number: %1").arg(*number));
        sides.push_back(*exact);
    } else {
        return typeError("N, or rows and columns");
    }
    shape = {clampedInt(sides.front()), clampedInt(sides.back())};
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

// A list A,B,C as text, or the numbers themselves; an empty text or list
// clears it.
std::optional<OptionError> assignNumbers(std::vector<double> &numbers, const OptionValue &value)
{
    if (const auto *list = std::get_if<std::vector<double>>(&value)) {
        numbers = *list;
        return std::nullopt;
    }
    if (std::holds_alternative<qint64>(value) || std::holds_alternative<double>(value)) {
        const auto one = number(value);
        if (const auto *error = std::get_if<OptionError>(&one))
            return *error;
        numbers = {std::get<double>(one)};
        return std::nullopt;
    }
    const auto *text = std::get_if<QString>(&value);
    if (!text)
        return typeError("a list of numbers");
    std::vector<double> parsed;
    if (!text->trimmed().isEmpty()) {
        for (const QStringView part : QStringView(*text).split(QLatin1Char(','))) {
            const auto one = parseDouble(part.trimmed());
            if (!one)
                return valueError(
                    tr("must be numbers separated by commas, A,B,C, not %1").arg(quoted(*text)));
            parsed.push_back(*one);
        }
    }
    numbers = parsed;
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

std::optional<OptionError> assign(const OptionField &field, const BatchOption &option,
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
    const auto setChoice = [&](ChoiceField target) -> std::optional<OptionError> {
        const auto chosen = choice();
        if (const auto *error = std::get_if<OptionError>(&chosen))
            return *error;
        target.write(target.target, std::get<int>(chosen));
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
            [&](NegatedField target) {
                bool given = false;
                auto error = assignFlag(given, value);
                if (!error)
                    *target.value = !given;
                return error;
            },
            [&](ChoiceField target) { return setChoice(target); },
            [&](CoverRange *target) { return assignCovers(*target, value); },
            [&](HurstRange *target) {
                return assignHurst(
                    *target, value,
                    QString::fromLatin1(option.valueNoun ? option.valueNoun : option.key));
            },
            [&](std::optional<HurstRange> *target) -> std::optional<OptionError> {
                if (const auto *text = std::get_if<QString>(&value); text && text->isEmpty()) {
                    target->reset();
                    return std::nullopt;
                }
                HurstRange given;
                if (auto error = assignHurst(
                        given, value,
                        QString::fromLatin1(option.valueNoun ? option.valueNoun : option.key)))
                    return error;
                *target = given;
                return std::nullopt;
            },
            [&](PointField target) { return assignPoint(target, value); },
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
            [&](std::vector<BlendPart> *target) -> std::optional<OptionError> {
                const auto *text = std::get_if<QString>(&value);
                if (!text)
                    return typeError("FAMILY:OPTION=VALUE,...:weight=W blends");
                if (auto error = parseBlends(*text, *target))
                    return valueError(*error);
                return std::nullopt;
            },
            [&](std::optional<BatchShard> *target) { return assignShard(*target, value); },
            [&](MapShape *target) { return assignShape(*target, value); },
            [&](std::vector<double> *target) { return assignNumbers(*target, value); },
            [&](std::vector<qint32> *target) -> std::optional<OptionError> {
                std::vector<double> numbers;
                if (auto error = assignNumbers(numbers, value))
                    return error;
                std::vector<qint32> wholes;
                for (const double number : numbers) {
                    const auto whole = wholeOf(number);
                    if (!whole || *whole < std::numeric_limits<qint32>::min() ||
                        *whole > std::numeric_limits<qint32>::max())
                        return valueError(tr("must be whole numbers of 32 bits, not %1")
                                              .arg(QString::number(number, 'g', 17)));
                    wholes.push_back(qint32(*whole));
                }
                *target = wholes;
                return std::nullopt;
            },
            [&](MetricsField target) -> std::optional<OptionError> {
                if (std::holds_alternative<bool>(value)) {
                    *target.table = MetricSelection::none();
                    return assignFlag(*target.on, value);
                }
                const auto *text = std::get_if<QString>(&value);
                if (!text)
                    return typeError("true, false or metric names");
                QString refusal;
                const auto chosen = MetricSelection::parse(*text, refusal);
                if (!chosen)
                    return valueError(refusal);
                *target.on = true;
                *target.table = *chosen;
                return std::nullopt;
            },
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

// The value of a field as a front end would pass it back.
OptionValue valueOf(const OptionField &field, const BatchOption &option)
{
    return std::visit(
        Overloaded{
            [](int *v) -> OptionValue { return qint64(*v); },
            [](bool *v) -> OptionValue { return *v; },
            [](NegatedField v) -> OptionValue { return !*v.value; },
            [](double *v) -> OptionValue { return *v; },
            [](QString *v) -> OptionValue { return *v; },
            [](std::optional<qint64> *v) -> OptionValue {
                return v->has_value() ? OptionValue(**v) : OptionValue(QString());
            },
            [&](ChoiceField v) -> OptionValue {
                return choiceWord(option.choices, v.read(v.target));
            },
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
            [](std::optional<HurstRange> *v) -> OptionValue {
                if (!*v)
                    return QString();
                std::vector<double> values;
                for (double h : (*v)->values())
                    values.push_back(hundredths(h));
                return values;
            },
            [](PointField v) -> OptionValue {
                return std::vector<double>{*v.x, *v.y};
            },
            [](std::vector<MetricTarget> *v) -> OptionValue { return targetsText(*v); },
            [](std::vector<BlendPart> *v) -> OptionValue { return blendsText(*v); },
            [](std::optional<BatchShard> *v) -> OptionValue { return shareText(*v); },
            [](MapShape *v) -> OptionValue {
                if (v->isSquare())
                    return qint64(v->rows);
                return std::vector<double>{double(v->rows), double(v->columns)};
            },
            [](MetricsField v) -> OptionValue {
                return v.table->isEmpty() ? OptionValue(*v.on) : OptionValue(v.table->text());
            },
            // None stands for no list, as for the other options off by
            // default.
            [](std::vector<double> *v) -> OptionValue {
                return v->empty() ? OptionValue(QString()) : OptionValue(*v);
            },
            [](std::vector<qint32> *v) -> OptionValue {
                if (v->empty())
                    return QString();
                return std::vector<double>(v->begin(), v->end());
            },
        },
        field);
}

QString textOf(const OptionField &field, const BatchOption &option)
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
            [](std::optional<HurstRange> *v) {
                if (!*v)
                    return QString();
                return (*v)->listed.empty() ? rangeText((*v)->first, (*v)->last, (*v)->step)
                                            : listText((*v)->listed);
            },
            [](PointField v) {
                return QStringLiteral("%1,%2").arg(numberText(*v.x), numberText(*v.y));
            },
            [](MapShape *v) { return v->text(); },
            [](std::vector<double> *v) { return listText(*v); },
            [](std::vector<qint32> *v) { return listText(std::vector<int>(v->begin(), v->end())); },
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

QString span(IntLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

QString span(HundredthsLimits limits)
{
    return QStringLiteral("%1..%2").arg(limits.min).arg(limits.max);
}

template <typename Limits> QString sweepSpan(const Limits (&limits)[3])
{
    return tr("FIRST %1, LAST %2, STEP %3").arg(span(limits[0]), span(limits[1]), span(limits[2]));
}

OptionField fieldIn(FamilyRequest &request, const BatchOption &option)
{
    return option.field(request);
}

} // namespace

const char *optionTypeWord(OptionType type)
{
    switch (type) {
    case OptionType::Flag:
        return "flag";
    case OptionType::Whole:
        return "whole";
    case OptionType::Number:
        return "number";
    case OptionType::Text:
        return "text";
    case OptionType::Choice:
        return "choice";
    case OptionType::CoverSweep:
    case OptionType::HurstSweep:
        return "sweep";
    case OptionType::Point:
        return "point";
    case OptionType::Shape:
        return "shape";
    case OptionType::TargetList:
        return "targets";
    case OptionType::Blends:
        return "blends";
    case OptionType::Metrics:
        return "metrics";
    case OptionType::Numbers:
        return "numbers";
    case OptionType::Share:
        break;
    }
    return "share";
}

QString OptionLimits::text() const
{
    QString text;
    switch (kind) {
    case Kind::None:
        return {};
    case Kind::Whole:
        text = span(whole[0]);
        break;
    case Kind::Decimal:
        text = span(decimal[0]);
        break;
    case Kind::WholeSweep:
        text = sweepSpan(whole);
        break;
    case Kind::DecimalSweep:
        text = sweepSpan(decimal);
        break;
    }
    if (note)
        text += QStringLiteral(", ") + tr(note);
    return text;
}

Phrase optionHelp(const MapFamily &family, const BatchOption &option)
{
    QString text = tr(option.help);
    if (option.helpTail)
        text += QLatin1Char(' ') + tr(option.helpTail);
    Phrase help = Phrase::marked(text);
    const QString limits = option.limits.text();
    if (!limits.isEmpty())
        help += Phrase(QLatin1Char(' ') + tr("Limits: %1.").arg(limits));
    const QString fallback = optionDefaultText(family, option);
    if (!fallback.isEmpty())
        help += Phrase(QLatin1Char(' ') + tr("Default: %1.").arg(fallback));
    return help;
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

const BatchOption *findBatchOption(const MapFamily &family, QAnyStringView name)
{
    for (const BatchOption &option : family.options())
        if (QAnyStringView::compare(name, QLatin1String(option.key)) == 0 ||
            QAnyStringView::compare(name, option.cliName()) == 0)
            return &option;
    return nullptr;
}

const BatchOption *anyBatchOption(QAnyStringView key)
{
    for (const MapFamily *family : mapFamilies())
        for (const BatchOption &option : family->options())
            if (QAnyStringView::compare(key, QLatin1String(option.key)) == 0)
                return &option;
    return nullptr;
}

QString optionDefaultText(const MapFamily &family, const BatchOption &option)
{
    const std::unique_ptr<FamilyRequest> request = family.newRequest();
    return textOf(fieldIn(*request, option), option);
}

OptionValue optionDefault(const MapFamily &family, const BatchOption &option)
{
    const std::unique_ptr<FamilyRequest> request = family.newRequest();
    return valueOf(fieldIn(*request, option), option);
}

QString optionText(const FamilyRequest &request, const BatchOption &option)
{
    // The fields are read, never written, through the copy.
    const std::unique_ptr<FamilyRequest> copy = request.clone();
    return textOf(fieldIn(*copy, option), option);
}

QStringList requestRecord(const FamilyRequest &request)
{
    const std::unique_ptr<FamilyRequest> copy = request.clone();
    QStringList lines;
    for (const BatchOption &option : request.family().options())
        if (option.role == OptionRole::Request)
            lines.append(QLatin1String(option.key) + QLatin1Char('=') +
                         textOf(fieldIn(*copy, option), option));
    return lines;
}

QList<Phrase> requestAdvice(const FamilyRequest &request, const QStringList &given)
{
    QList<Phrase> advice = request.unusedOptions(given);
    const BatchOutput &output = request.output;
    if (output.studyArea)
        for (const char *key : {"size", "cell_size", "origin", "crs"})
            if (given.contains(QLatin1String(key)))
                advice.append(Phrase::mention(QLatin1String(key)) +
                              Phrase::marked(tr(" is left unused: the maps take their rows, "
                                                "columns and place from {mask}")));
    if (!output.classShares().empty() && given.contains(QStringLiteral("cover")))
        advice.append(Phrase::marked(tr("{cover} is left unused: the proportions give each "
                                        "map's classes")));
    // A reference system puts the map's corner at the origin, which for a
    // projected system is rarely where a study lies.
    const Georeference &place = output.georeference;
    if (!place.crs.isEmpty() && !output.studyArea && !given.contains(QStringLiteral("origin")))
        advice.append(Phrase::marked(tr("{crs} without {origin} puts the map's lower-left corner "
                                        "at 0,0 of %1"))
                          .arg(place.crs));
    return advice;
}

QString shareText(const std::optional<BatchShard> &shard)
{
    return shard ? QStringLiteral("%1/%2").arg(shard->index).arg(shard->count) : QString();
}

namespace {

// What the files named by the options give a request: the study area its
// shape and place, the composition its classes. Read once a path is set
// (or the mask value changes), and settled after every option whatever the
// order the options come in, so that the template wins over a size or a
// place given beside it (of which requestAdvice() warns).
std::optional<OptionError> settleInputs(FamilyRequest &request)
{
    BatchOutput &output = request.output;
    if (output.mask.isEmpty()) {
        output.studyArea.reset();
    } else if (!output.studyArea || output.studyArea->path != output.mask ||
               output.studyArea->maskValue != output.maskValue) {
        auto area = std::make_shared<StudyArea>();
        if (FileResult error = readStudyArea(output.mask, output.maskValue, *area)) {
            output.studyArea.reset();
            return valueError(error->message());
        }
        output.studyArea = std::move(area);
    }
    if (output.proportionsOf.isEmpty()) {
        output.composition.reset();
    } else if (!output.composition || output.composition->path != output.proportionsOf) {
        auto composition = std::make_shared<Composition>();
        if (FileResult error = readComposition(output.proportionsOf, *composition)) {
            output.composition.reset();
            return valueError(error->message());
        }
        if (composition->classes.size() < 2)
            return valueError(tr("%1 holds a single class, and a map needs two at least")
                                  .arg(QDir::toNativeSeparators(output.proportionsOf)));
        output.composition = std::move(composition);
    }
    if (const StudyArea *area = output.studyArea.get()) {
        request.shape = {area->rowCount, area->columnCount};
        // A plain file has no header to hold the place, but maps kept in
        // memory (R's rasters) lie where the template does.
        output.georeference = area->georeference;
    }
    // Classes make one map a replicate, whose names carry the last class's
    // share where a cover stands; two classes of whole shares are that
    // cover.
    if (const auto cover = output.classCover()) {
        request.covers = CoverRange(*cover, *cover, 1);
        request.covers.listed = {*cover};
        const std::vector<qint32> codes = output.classCodes();
        if (codes.size() == 2) {
            output.matrixValue = codes[0];
            output.coverValue = codes[1];
        }
    }
    if (auto error = request.settleOwnInputs())
        return valueError(*error);
    return std::nullopt;
}

} // namespace

std::optional<OptionError> setOption(FamilyRequest &request, const BatchOption &option,
                                     const OptionValue &value)
{
    if (auto error = assign(fieldIn(request, option), option, value))
        return error;
    return settleInputs(request);
}

QString choiceWord(std::span<const ChoiceWord> words, int value)
{
    for (const ChoiceWord &word : words)
        if (word.value == value)
            return QString::fromLatin1(word.word);
    return {};
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

std::optional<int> choiceValue(std::span<const ChoiceWord> words, QAnyStringView word)
{
    for (const ChoiceWord &entry : words)
        if (QAnyStringView::compare(word, QLatin1String(entry.word)) == 0)
            return entry.value;
    return std::nullopt;
}
