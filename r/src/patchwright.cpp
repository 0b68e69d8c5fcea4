// SPDX-License-Identifier: GPL-3.0-or-later
// The compiled part of the patchwright R package. A batch's arguments go to
// the core's batch description as R gave them, which parses and refuses them
// as it does the command line's options; maps and records come back as plain
// vectors that R/patchwright.R wraps in terra rasters and data frames. The
// requests, generators, manifest fields and readers are the core's, so that
// nothing here can make a map other than the command line would.

#include "core/batch/batchjob.h"
#include "core/batch/batchmanifest.h"
#include "core/batch/batchoptions.h"
#include "core/batch/batchprogress.h"
#include "core/batch/classcut.h"
#include "core/batch/classify.h"
#include "core/batch/mapfamily.h"
#include "core/batch/mapqueue.h"
#include "core/files/bulkmemory.h"
#include "core/grid/gridshape.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapreader.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"

#include <R_ext/Rallocators.h>
#include <R_ext/Rdynload.h>
#include <Rcpp.h>

#include <QDir>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace {

// An option named in a message, as a caller writes it in R.
QString rSpelling(const QString &key, const QString &value)
{
    const BatchOption *option = anyBatchOption(key);
    const OptionType type = option ? option->type : OptionType::Text;
    if (type == OptionType::Flag || (type == OptionType::Metrics && value.isEmpty()))
        return key + QStringLiteral(" = TRUE");
    if (value.isEmpty())
        return key;
    if (type == OptionType::Share)
        return QStringLiteral("%1 = c(%2)")
            .arg(key, value.toLower().replace(QLatin1Char('/'), QStringLiteral(", ")));
    if (type == OptionType::Choice || type == OptionType::Text || type == OptionType::Metrics)
        return QStringLiteral("%1 = \"%2\"").arg(key, value);
    return QStringLiteral("%1 = %2").arg(key, value);
}

QString spelled(const Phrase &phrase)
{
    return phrase.spelled(&rSpelling);
}

[[noreturn]] void refuse(const Phrase &message)
{
    throw Rcpp::exception(spelled(message).toUtf8().constData(), false);
}

QString fromR(SEXP text)
{
    return QString::fromUtf8(Rf_translateCharUTF8(text));
}

// A value as a message shows it: one element as itself, longer ones by kind.
QString shown(SEXP value)
{
    if (Rf_xlength(value) != 1 || Rf_isNewList(value))
        return QStringLiteral("a %1 of length %2")
            .arg(QString::fromUtf8(Rf_type2char(TYPEOF(value))))
            .arg(Rf_xlength(value));
    if (Rf_isString(value))
        return QLatin1Char('\'') + fromR(STRING_ELT(value, 0)) + QLatin1Char('\'');
    if (Rf_isLogical(value))
        return LOGICAL(value)[0] == NA_LOGICAL ? QStringLiteral("NA")
               : LOGICAL(value)[0]             ? QStringLiteral("TRUE")
                                               : QStringLiteral("FALSE");
    if (Rf_isInteger(value))
        return INTEGER(value)[0] == NA_INTEGER ? QStringLiteral("NA")
                                               : QString::number(INTEGER(value)[0]);
    if (Rf_isReal(value))
        return QString::number(REAL(value)[0], 'g', 17);
    return QString::fromUtf8(Rf_type2char(TYPEOF(value)));
}

// A bound of a target; NA leaves that side open. NaN is no bound, and
// neither is an infinity: both are refused with the other bad values.
QString boundText(double bound)
{
    return ISNA(bound) ? QString() : QString::number(bound, 'g', 17);
}

// Targets as list(np = c(5, 10), lpi = c(20, NA)), in the command line's
// METRIC=MIN:MAX, which the description reads.
QString targetsText(const QString &name, SEXP value)
{
    const SEXP metrics = Rf_getAttrib(value, R_NamesSymbol);
    const auto notTargets = [&] {
        refuse(QStringLiteral("%1 must be a list of METRIC = c(MIN, MAX), NA for an open side, "
                              "not %2")
                   .arg(name, shown(value)));
    };
    if (!Rf_isNewList(value) || (Rf_xlength(value) > 0 && Rf_isNull(metrics)))
        notTargets();
    QStringList targets;
    for (R_xlen_t i = 0; i < Rf_xlength(value); ++i) {
        const SEXP bounds = VECTOR_ELT(value, i);
        if (!(Rf_isReal(bounds) || Rf_isInteger(bounds) || Rf_isLogical(bounds)) ||
            Rf_xlength(bounds) != 2)
            notTargets();
        const SEXP numbers = PROTECT(Rf_coerceVector(bounds, REALSXP));
        targets.append(QStringLiteral("%1=%2:%3")
                           .arg(fromR(STRING_ELT(metrics, i)), boundText(REAL(numbers)[0]),
                                boundText(REAL(numbers)[1])));
        UNPROTECT(1);
    }
    return targets.join(QLatin1Char(','));
}

// A blend as list(list("planar", list(direction = 30), 0.5), ...), each
// part its family, its options (a named list, or NULL) and its weight (1
// when left out), in the command line's FAMILY:OPTION=VALUE,...:weight=W.
QString blendsText(const QString &name, SEXP value)
{
    const auto notBlend = [&](SEXP part) {
        refuse(QStringLiteral("%1 must be a list of list(family, list(option = value), weight), "
                              "not one holding %2")
                   .arg(name, shown(part)));
    };
    const auto single = [&](SEXP item) {
        if (Rf_xlength(item) != 1 || !(Rf_isString(item) || Rf_isReal(item) || Rf_isInteger(item)))
            notBlend(item);
        QString text;
        if (Rf_isString(item)) {
            if (STRING_ELT(item, 0) == NA_STRING)
                notBlend(item);
            text = fromR(STRING_ELT(item, 0));
        } else if (Rf_isInteger(item)) {
            if (INTEGER(item)[0] == NA_INTEGER)
                notBlend(item);
            text = QString::number(INTEGER(item)[0]);
        } else {
            text = QString::number(REAL(item)[0], 'g', 17);
        }
        // The command line's separators cannot be told from a value's.
        for (const char separator : {':', ',', ';', '='})
            if (text.contains(QLatin1Char(separator)))
                refuse(QStringLiteral("%1 option values hold no ':', ',', ';' or '=': %2")
                           .arg(name, text));
        return text;
    };
    if (!Rf_isNewList(value))
        notBlend(value);
    QStringList parts;
    for (R_xlen_t i = 0; i < Rf_xlength(value); ++i) {
        const SEXP part = VECTOR_ELT(value, i);
        const R_xlen_t items = Rf_xlength(part);
        if (!Rf_isNewList(part) || items < 2 || items > 3 || !Rf_isString(VECTOR_ELT(part, 0)))
            notBlend(part);
        QString text = single(VECTOR_ELT(part, 0));
        const SEXP options = VECTOR_ELT(part, 1);
        const SEXP keys = Rf_getAttrib(options, R_NamesSymbol);
        if (!Rf_isNull(options) &&
            (!Rf_isNewList(options) || (Rf_xlength(options) > 0 && Rf_isNull(keys))))
            notBlend(part);
        QStringList given;
        for (R_xlen_t k = 0; k < Rf_xlength(options); ++k)
            given.append(fromR(STRING_ELT(keys, k)) + QLatin1Char('=') +
                         single(VECTOR_ELT(options, k)));
        if (!given.isEmpty())
            text += QLatin1Char(':') + given.join(QLatin1Char(','));
        if (items == 3) {
            const SEXP weight = VECTOR_ELT(part, 2);
            if (!(Rf_isReal(weight) || Rf_isInteger(weight)) || Rf_xlength(weight) != 1)
                notBlend(part);
            text += QStringLiteral(":weight=") + single(weight);
        }
        parts.append(text);
    }
    return parts.join(QLatin1Char(';'));
}

// An argument's value in the type the batch description takes: a logical
// as a flag, a string as text, one number as itself and several (a vector,
// seq()) as a list; NULL leaves the option out, as R's own functions take
// it. Text is the command line's way of writing numbers, not R's.
std::optional<OptionValue> optionValue(const BatchOption &option, const QString &name, SEXP value)
{
    if (Rf_isNull(value))
        return std::nullopt;
    if (option.type == OptionType::TargetList)
        return targetsText(name, value);
    if (option.type == OptionType::Blends)
        return blendsText(name, value);
    const R_xlen_t length = Rf_xlength(value);
    if (Rf_isFactor(value))
        refuse(
            QStringLiteral("%1 must not be a factor; give its text with as.character()").arg(name));
    switch (TYPEOF(value)) {
    case LGLSXP:
        if (length == 1 && LOGICAL(value)[0] != NA_LOGICAL)
            return LOGICAL(value)[0] != 0;
        break;
    case STRSXP:
        if (option.type == OptionType::Metrics && length >= 1) {
            // Metric names as a vector, as the command line's N,N.
            QStringList names;
            for (R_xlen_t i = 0; i < length; ++i) {
                if (STRING_ELT(value, i) == NA_STRING)
                    refuse(QStringLiteral("%1 must not hold NA").arg(name));
                names.append(fromR(STRING_ELT(value, i)));
            }
            return names.join(QLatin1Char(','));
        }
        if (option.type != OptionType::Text && option.type != OptionType::Choice)
            refuse(QStringLiteral("%1 must not be text: %2").arg(name, shown(value)));
        if (length == 1 && STRING_ELT(value, 0) != NA_STRING)
            return fromR(STRING_ELT(value, 0));
        break;
    case INTSXP:
    case REALSXP: {
        std::vector<double> numbers(static_cast<std::size_t>(length));
        for (R_xlen_t i = 0; i < length; ++i) {
            numbers[std::size_t(i)] = Rf_isInteger(value) ? INTEGER(value)[i] : REAL(value)[i];
            if ((Rf_isInteger(value) && INTEGER(value)[i] == NA_INTEGER) ||
                (Rf_isReal(value) && ISNA(REAL(value)[i])))
                refuse(QStringLiteral("%1 must not hold NA").arg(name));
        }
        if (length != 1)
            return numbers;
        if (Rf_isInteger(value))
            return qint64(INTEGER(value)[0]);
        return numbers[0];
    }
    default:
        break;
    }
    refuse(QStringLiteral("%1 cannot be %2").arg(name, shown(value)));
}

// Sets one option of a request from an R value, with the core's words.
void applyArgument(FamilyRequest &request, const BatchOption &option, const QString &name,
                   SEXP value)
{
    if (const auto given = optionValue(option, name, value))
        if (const auto error = setOption(request, option, *given))
            refuse(name + QLatin1Char(' ') + error->reason);
}

const MapFamily &familyOf(SEXP wordValue)
{
    const QString word = Rf_isString(wordValue) && Rf_xlength(wordValue) == 1
                             ? fromR(STRING_ELT(wordValue, 0))
                             : QString();
    if (const MapFamily *family = familyNamed(word))
        return *family;
    refuse(
        QStringLiteral("family must be %1, not '%2'").arg(familyWords(QStringLiteral("or")), word));
}

// A request of a family from a call's named arguments, which are the
// description's keywords. Every option is taken: in memory, the ones that
// only shape files are kept for a call that names a folder. Options the
// request's other choices leave unused are warned of, as the command line
// warns of them.
std::unique_ptr<FamilyRequest> requestOf(const MapFamily &family, SEXP arguments,
                                         QStringList &advice)
{
    std::unique_ptr<FamilyRequest> request = family.newRequest();
    const SEXP names = Rf_getAttrib(arguments, R_NamesSymbol);
    QStringList given;
    for (R_xlen_t i = 0; i < Rf_xlength(arguments); ++i) {
        const QString name = Rf_isNull(names) ? QString() : fromR(STRING_ELT(names, i));
        if (name.isEmpty())
            refuse(QStringLiteral("every argument needs its name, as option = value"));
        const BatchOption *option = findBatchOption(family, name);
        if (!option || name != QLatin1String(option->key))
            refuse(QStringLiteral("Unknown option '%1'; batch_options(\"%2\") lists them.")
                       .arg(name, QLatin1String(family.word())));
        if (Rf_isNull(VECTOR_ELT(arguments, i)))
            continue;
        applyArgument(*request, *option, name, VECTOR_ELT(arguments, i));
        given.append(name);
    }
    if (!request->output.folder.isEmpty())
        request->output.folder =
            QDir(QString::fromLocal8Bit(R_ExpandFileName(request->output.folder.toLocal8Bit())))
                .absolutePath();
    // Warned of by the R code, where a warning may become an error without
    // jumping over these frames.
    for (const Phrase &line : requestAdvice(*request, given))
        advice.append(spelled(line));
    return request;
}

// Between two maps or surfaces, lets Ctrl-C stop the batch: R's interrupt
// is taken inside a top-level context, so that it cannot jump over the
// batch's destructors, and is raised again once the batch has ended.
class InterruptProgress final : public BatchProgress {
public:
    void setMaximum(int) override {}
    void setLabelText(const QString &) override {}
    void setValue(int) override {}
    bool wasCanceled() const override
    {
        if (!m_interrupted)
            m_interrupted =
                R_ToplevelExec([](void *) { R_CheckUserInterrupt(); }, nullptr) == FALSE;
        return m_interrupted;
    }

private:
    mutable bool m_interrupted = false;
};

// Allocation that R may refuse with an error of its own, which must unwind
// the C++ frames above it rather than jump over them.
SEXP protectedAllocation(SEXP (*allocate)(void *), void *data)
{
    return Rcpp::unwindProtect(allocate, data);
}

// The vectors of whole maps and surfaces live in the engine's bulk memory,
// faulted in large pages where the system offers them. The block of the
// last such vector R let go of is kept for the next vector of the same size:
// a loop of surfaces or batches then fills memory that is already there, as
// the Python module's does, instead of paying for fresh pages every time,
// which on some machines costs more than making the surface.
class KeptBlock final {
public:
    // Blocks beyond this go back to the system at once.
    static constexpr std::size_t maxKeptBytes = std::size_t(256) << 20;
    // Room before the vector for the size of its block, which R does not
    // pass back when it frees it; a multiple of any alignment R needs.
    static constexpr std::size_t header = 64;

    static void *allocate(R_allocator_t *, std::size_t bytes)
    {
        const std::size_t total = bytes + header;
        void *block = std::exchange(s_kept, nullptr);
        if (block && *static_cast<std::size_t *>(block) != total) {
            BulkMemory::freeLarge(block);
            block = nullptr;
        }
        if (!block) {
            try {
                block = BulkMemory::allocateLarge(total);
            } catch (const std::bad_alloc &) {
                // R reports it, as it reports any vector it cannot have.
                return nullptr;
            }
            *static_cast<std::size_t *>(block) = total;
        }
        return static_cast<char *>(block) + header;
    }

    static void free(R_allocator_t *, void *vector)
    {
        void *block = static_cast<char *>(vector) - header;
        if (*static_cast<std::size_t *>(block) > maxKeptBytes) {
            BulkMemory::freeLarge(block);
            return;
        }
        if (s_kept)
            BulkMemory::freeLarge(s_kept);
        s_kept = block;
    }

private:
    // Only R's main thread allocates and frees R's vectors.
    static inline void *s_kept = nullptr;
};

SEXP bulkVector(SEXPTYPE type, R_xlen_t length)
{
    struct Request {
        SEXPTYPE type;
        R_xlen_t length;
    } request{type, length};
    const std::size_t bytes =
        std::size_t(length) * (type == REALSXP ? sizeof(double) : sizeof(int));
    if (bytes < BulkMemory::largeBytes)
        return protectedAllocation(
            [](void *data) {
                const auto *r = static_cast<Request *>(data);
                return Rf_allocVector(r->type, r->length);
            },
            &request);
    return protectedAllocation(
        [](void *data) {
            static R_allocator_t allocator{KeptBlock::allocate, KeptBlock::free, nullptr, nullptr};
            const auto *r = static_cast<Request *>(data);
            return Rf_allocVector3(r->type, r->length, &allocator);
        },
        &request);
}

// A field's number, or `missing` for an empty field or text that is no such
// number.
template <typename T> T parsed(const QByteArray &value, T missing)
{
    T number{};
    const char *end = value.constData() + value.size();
    const auto [ptr, ec] = std::from_chars(value.constData(), end, number);
    return value.isEmpty() || ec != std::errc() || ptr != end ? missing : number;
}

// Column c of the rows as an R vector, each field made by `value`.
template <typename Vector, typename Value>
SEXP columnOf(const std::vector<QList<ManifestField>> &rows, qsizetype c, Value value)
{
    Vector vector(R_xlen_t(rows.size()));
    for (std::size_t r = 0; r < rows.size(); ++r)
        vector[R_xlen_t(r)] = value(rows[r][c].value);
    return vector;
}

// The records as a list of columns, named as the manifest names them, each
// in its column's type: words as character, measures and the counts that
// may outgrow 32 bits as double, other whole numbers as integer. An empty
// field is NA.
SEXP recordColumns(const std::vector<QList<ManifestField>> &rows,
                   const QList<ManifestField> &header)
{
    Rcpp::List list(header.size());
    Rcpp::CharacterVector names(header.size());
    for (qsizetype c = 0; c < header.size(); ++c) {
        names[c] = header[c].name;
        switch (header[c].type) {
        case ManifestType::Text:
            list[c] = columnOf<Rcpp::CharacterVector>(rows, c, [](const QByteArray &value) {
                return value.isEmpty()
                           ? NA_STRING
                           : Rf_mkCharLenCE(value.constData(), int(value.size()), CE_UTF8);
            });
            break;
        case ManifestType::Whole:
            list[c] = columnOf<Rcpp::IntegerVector>(
                rows, c, [](const QByteArray &value) { return parsed(value, NA_INTEGER); });
            break;
        case ManifestType::Measure:
        case ManifestType::LargeWhole:
            list[c] = columnOf<Rcpp::NumericVector>(
                rows, c, [](const QByteArray &value) { return parsed(value, NA_REAL); });
            break;
        }
    }
    list.attr("names") = names;
    return list;
}

SEXP recordColumns(const QList<MapRecord> &records, const ManifestColumns &columns)
{
    std::vector<QList<ManifestField>> rows;
    rows.reserve(std::size_t(records.size()));
    for (const MapRecord &record : records)
        rows.push_back(manifestFields(record, columns));
    return recordColumns(rows, manifestFields(MapRecord(), columns));
}

SEXP textVector(const QStringList &lines)
{
    Rcpp::CharacterVector vector(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        vector[i] = lines[i].toStdString();
    return vector;
}

SEXP textVector(const QList<Phrase> &lines)
{
    QStringList texts;
    for (const Phrase &line : lines)
        texts.append(spelled(line));
    return textVector(texts);
}

SEXP georeferenceList(const Georeference &georeference)
{
    return Rcpp::List::create(
        Rcpp::Named("cell_size") = georeference.cellSize,
        Rcpp::Named("origin") =
            Rcpp::NumericVector::create(georeference.originX, georeference.originY),
        Rcpp::Named("crs") = std::string(georeference.crs.toUtf8().constData()));
}

// Runs a batch job into the request's folder: the job's refusals, lock and
// overwrite rules and failures, as the command line meets them.
SEXP runJob(std::unique_ptr<MapSource> source, const QStringList &advice)
{
    const ManifestColumns columns = source->manifestColumns();
    BatchJob job(std::move(source));
    if (const auto refusal = job.prepare())
        refuse(refusal->message);
    InterruptProgress progress;
    const BatchReport report = job.run(progress);
    if (const QStringList failures = report.failures(); !failures.isEmpty())
        refuse(failures.join(QLatin1Char('\n')));
    if (report.result.status == BatchResult::Status::Canceled)
        throw Rcpp::internal::InterruptedException();
    return Rcpp::List::create(Rcpp::Named("records") = recordColumns(report.maps, columns),
                              Rcpp::Named("shortfalls") = textVector(report.shortfalls),
                              Rcpp::Named("acceptance") = textVector(report.acceptance),
                              Rcpp::Named("advice") = textVector(advice));
}

// Makes the maps in memory, through the core's one in-memory run: their
// records, and their cells as one integer vector, map after map, each map's
// rows one after the other from the top, as terra orders a raster's cells.
// The maps go into it as they are taken, so a batch holds its maps once;
// between two waits for the next map, Ctrl-C is let through.
SEXP runInMemory(std::unique_ptr<MapSource> source, const QStringList &advice)
{
    static constexpr std::chrono::milliseconds interruptInterval{50};
    const ManifestColumns columns = source->manifestColumns();
    const BatchOutput output = source->output();
    const int rows = source->request().shape.rows;
    const int columnCount = source->request().shape.columns;
    const R_xlen_t mapCells = R_xlen_t(rows) * columnCount;
    const R_xlen_t planned = R_xlen_t(source->plannedMaps());
    if (mapCells > 0 && planned > R_XLEN_T_MAX / mapCells)
        refuse(QStringLiteral("%1 maps of %2 x %3 cells are more than R holds in one vector; "
                              "write them to a folder with out = instead")
                   .arg(planned)
                   .arg(rows)
                   .arg(columnCount));
    Rcpp::IntegerVector cells(bulkVector(INTSXP, planned * mapCells));
    QList<MapRecord> records;
    InterruptProgress interrupt;
    {
        MapQueue queue(std::move(source), output.prefix);
        for (;;) {
            std::optional<QueuedMap> map;
            const MapQueue::Status status = queue.next(interruptInterval, map);
            if (status == MapQueue::Status::End)
                break;
            if (status == MapQueue::Status::Map) {
                if (records.size() >= planned)
                    throw std::logic_error("a batch made more maps than it planned");
                int *const first = INTEGER(cells) + records.size() * mapCells;
                std::memcpy(first, map->cells.data(), std::size_t(mapCells) * sizeof(qint32));
                // Outside the study area is NA in R, as terra reads NoData.
                if (output.studyArea)
                    std::replace(first, first + mapCells, int(output.measuredOutside()),
                                 NA_INTEGER);
                records.append(std::move(map->record));
            }
            if (interrupt.wasCanceled()) {
                queue.cancel();
                throw Rcpp::internal::InterruptedException();
            }
        }
        if (queue.failure())
            std::rethrow_exception(queue.failure());
        if (queue.result().status == BatchResult::Status::Failed)
            refuse(QStringLiteral("stopped after %1 maps: %2")
                       .arg(records.size())
                       .arg(queue.result().message));
        if (!queue.settledRecords().isEmpty())
            records = queue.settledRecords();
        // Covers that fell short leave the end unused.
        if (R_xlen_t(records.size()) < planned) {
            Rcpp::IntegerVector made(bulkVector(INTSXP, R_xlen_t(records.size()) * mapCells));
            std::memcpy(INTEGER(made), INTEGER(cells), std::size_t(Rf_xlength(made)) * sizeof(int));
            cells = made;
        }
        return Rcpp::List::create(
            Rcpp::Named("records") = recordColumns(records, columns), Rcpp::Named("cells") = cells,
            Rcpp::Named("rows") = rows, Rcpp::Named("columns") = columnCount,
            Rcpp::Named("georeference") = georeferenceList(output.georeference),
            Rcpp::Named("shortfalls") = textVector(queue.shortfalls()),
            Rcpp::Named("acceptance") = textVector(queue.acceptance()),
            Rcpp::Named("advice") = textVector(advice));
    }
}

SEXP rValue(const OptionValue &value)
{
    return std::visit(
        [](const auto &v) -> SEXP {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool>)
                return Rf_ScalarLogical(v);
            else if constexpr (std::is_same_v<T, qint64>)
                return v >= INT_MIN && v <= INT_MAX ? Rf_ScalarInteger(int(v))
                                                    : Rf_ScalarReal(double(v));
            else if constexpr (std::is_same_v<T, double>)
                return Rcpp::wrap(v);
            else if constexpr (std::is_same_v<T, QString>)
                return v.isEmpty() ? R_NilValue : Rcpp::wrap(v.toStdString());
            else
                return Rcpp::wrap(v);
        },
        value);
}

// A layer's cells as class codes, with the code of the cells outside the
// landscape (NA, NaN and `noData`): `noData` where a code can be it, else one
// no cell inside holds. Nothing when every cell is inside and no code was
// given.
template <typename Cell>
std::optional<qint32> classCodes(const Cell *cells, std::vector<qint32> &codes,
                                 std::optional<double> noData, R_xlen_t layer)
{
    constexpr double lowest = std::numeric_limits<qint32>::min();
    constexpr double highest = std::numeric_limits<qint32>::max();
    std::vector<bool> outside(codes.size());
    bool anyOutside = false;
    double low = highest;
    double high = lowest;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        double value;
        if constexpr (std::is_same_v<Cell, int>)
            value = cells[i] == NA_INTEGER ? std::nan("") : double(cells[i]);
        else
            value = cells[i];
        if (std::isnan(value) || (noData && value == *noData)) {
            outside[i] = anyOutside = true;
            continue;
        }
        if (value != std::trunc(value) || value < lowest || value > highest)
            refuse(QStringLiteral("layer %1 holds %2, which is not a whole number of 32 bits; "
                                  "metrics need a class code in every cell (NA cells and nodata "
                                  "lie outside the landscape)")
                       .arg(layer + 1)
                       .arg(QString::number(value, 'g', 17)));
        codes[i] = qint32(value);
        low = std::min(low, value);
        high = std::max(high, value);
    }
    std::optional<qint32> code;
    if (noData && *noData >= lowest && *noData <= highest)
        code = qint32(*noData);
    else if (!anyOutside)
        return std::nullopt;
    else if (low > lowest)
        code = std::numeric_limits<qint32>::min();
    else if (high < highest)
        code = std::numeric_limits<qint32>::max();
    else {
        // Codes at both ends of 32 bits: the first gap between them.
        std::vector<qint32> present;
        for (std::size_t i = 0; i < codes.size(); ++i)
            if (!outside[i])
                present.push_back(codes[i]);
        std::sort(present.begin(), present.end());
        const auto gap = std::adjacent_find(present.begin(), present.end(), [](qint32 a, qint32 b) {
            return qint64(b) - qint64(a) > 1;
        });
        code = *gap + 1;
    }
    for (std::size_t i = 0; i < codes.size(); ++i)
        if (outside[i])
            codes[i] = *code;
    return code;
}

} // namespace

extern "C" {

// A batch of a family, in memory or, with out =, into a folder.
SEXP pw_batch(SEXP wordValue, SEXP arguments)
{
    BEGIN_RCPP
    const MapFamily &family = familyOf(wordValue);
    QStringList advice;
    const std::unique_ptr<FamilyRequest> request = requestOf(family, arguments, advice);
    std::unique_ptr<MapSource> source = family.source(*request);
    if (!request->output.folder.isEmpty())
        return runJob(std::move(source), advice);
    // The long table is a file beside the manifest; a batch in memory has
    // neither, and its maps are measured by metrics().
    if (!request->output.metricTable.isEmpty())
        refuse(QStringLiteral("metrics names the metrics of a table written beside the manifest, "
                              "which needs out =; measure maps in memory with metrics()"));
    if (const auto refusal = source->refusal())
        refuse(*refusal);
    return runInMemory(std::move(source), advice);
    END_RCPP
}

// The families, for the package's functions.
SEXP pw_families()
{
    BEGIN_RCPP
    QStringList words;
    QStringList summaries;
    for (const MapFamily *family : mapFamilies()) {
        words.append(QLatin1String(family->word()));
        summaries.append(family->summary());
    }
    return Rcpp::List::create(Rcpp::Named("word") = textVector(words),
                              Rcpp::Named("summary") = textVector(summaries));
    END_RCPP
}

// The keywords of a family's batch, as the description gives them: each
// one's default in R's type (NULL where there is none) and as the command
// line writes it, its type and its help.
SEXP pw_batch_options(SEXP wordValue)
{
    BEGIN_RCPP
    const MapFamily &family = familyOf(wordValue);
    const auto options = family.options();
    Rcpp::CharacterVector keys(options.size());
    Rcpp::CharacterVector helps(options.size());
    Rcpp::CharacterVector types(options.size());
    Rcpp::CharacterVector texts(options.size());
    Rcpp::List defaults(options.size());
    Rcpp::List words(options.size());
    for (std::size_t i = 0; i < options.size(); ++i) {
        keys[i] = options[i].key;
        helps[i] = spelled(optionHelp(family, options[i])).toStdString();
        types[i] = optionTypeWord(options[i].type);
        texts[i] = optionDefaultText(family, options[i]).toStdString();
        defaults[i] = rValue(optionDefault(family, options[i]));
        words[i] = textVector(options[i].words());
    }
    return Rcpp::List::create(Rcpp::Named("keyword") = keys, Rcpp::Named("default") = defaults,
                              Rcpp::Named("text") = texts, Rcpp::Named("type") = types,
                              Rcpp::Named("choices") = words, Rcpp::Named("help") = helps);
    END_RCPP
}

// The real values a map of a batch of these arguments was made from, for a
// cover and a replicate (MapFamily::surface).
SEXP pw_surface(SEXP wordValue, SEXP arguments, SEXP coverValue, SEXP replicateValue)
{
    BEGIN_RCPP
    const MapFamily &family = familyOf(wordValue);
    QStringList advice;
    const std::unique_ptr<FamilyRequest> request = requestOf(family, arguments, advice);
    // Whole numbers as R holds them; their limits are the family's.
    const auto whole = [](const char *name, SEXP value) {
        if (!Rf_isNumeric(value) || Rf_isLogical(value) || Rf_xlength(value) != 1 ||
            !std::isfinite(Rf_asReal(value)) || Rf_asReal(value) != std::floor(Rf_asReal(value)))
            refuse(QStringLiteral("%1 must be a whole number, not %2")
                       .arg(QLatin1String(name), shown(value)));
        return qint64(std::clamp(Rf_asReal(value), -1e15, 1e15));
    };
    const qint64 cover = whole("cover", coverValue);
    const qint64 replicate = whole("replicate", replicateValue);
    // The storage of the last surface is kept for the next of the same
    // size: a loop of surfaces then fills memory that is already there.
    static MapFamily::Surface surface;
    if (const auto failure = family.surface(*request, cover, replicate, surface))
        refuse(*failure);
    const R_xlen_t count = R_xlen_t(surface.rows) * surface.columns;
    Rcpp::NumericVector values(bulkVector(REALSXP, count));
    std::memcpy(REAL(values), surface.values.data(), std::size_t(count) * sizeof(double));
    return Rcpp::List::create(Rcpp::Named("values") = values, Rcpp::Named("rows") = surface.rows,
                              Rcpp::Named("columns") = surface.columns,
                              Rcpp::Named("advice") = textVector(advice));
    END_RCPP
}

SEXP pw_read_map(SEXP pathValue)
{
    BEGIN_RCPP
    if (!Rf_isString(pathValue) || Rf_xlength(pathValue) != 1 ||
        STRING_ELT(pathValue, 0) == NA_STRING)
        refuse(QStringLiteral("path must be one file name, not %1").arg(shown(pathValue)));
    const QString path = fromR(STRING_ELT(pathValue, 0));
    LandscapeGrid grid;
    MapFileInfo info;
    if (const FileResult error = readMap(path, grid, {}, &info))
        refuse(error->message());
    const std::size_t rows = grid.rowCount();
    const std::size_t columns = rows > 0 ? grid.row(0).size() : 0;
    if (const auto refusal = raggedRefusal(grid, path, QStringLiteral("raster")))
        refuse(*refusal);
    Rcpp::IntegerVector cells(bulkVector(INTSXP, R_xlen_t(grid.cellCount())));
    if (rows > 0)
        std::memcpy(INTEGER(cells), grid.row(0).data(), grid.cellCount() * sizeof(qint32));
    // Grids GIS tools read say where they lie, which terra reads from the
    // header.
    const bool georeferenced = info.format != MapFormat::Plain;
    return Rcpp::List::create(Rcpp::Named("cells") = cells, Rcpp::Named("rows") = int(rows),
                              Rcpp::Named("columns") = int(columns),
                              Rcpp::Named("georeferenced") = georeferenced);
    END_RCPP
}

// A batch's measuring options, with their words, limits and defaults.
BatchOutput measuringOf(SEXP cellSizeValue, SEXP neighboursValue)
{
    const MapFamily &family = *mapFamilies().front();
    const std::unique_ptr<FamilyRequest> request = family.newRequest();
    for (const auto &[key, value] :
         {std::pair{"cell_size", cellSizeValue}, std::pair{"neighbours", neighboursValue}})
        applyArgument(*request, *findBatchOption(family, QLatin1String(key)), QLatin1String(key),
                      value);
    if (const auto refusal = request->output.refusal())
        refuse(*refusal);
    return request->output;
}

// The metrics of every layer of `values` (a layer's cells from the top row
// down, layer after layer), habitat being the cells equal to `habitat` or,
// when it is NULL, those that are neither 0 nor NA.
SEXP pw_metrics(SEXP values, SEXP rowsValue, SEXP columnsValue, SEXP habitatValue,
                SEXP cellSizeValue, SEXP neighboursValue)
{
    BEGIN_RCPP
    const BatchOutput output = measuringOf(cellSizeValue, neighboursValue);
    const int rows = Rf_asInteger(rowsValue);
    const int columns = Rf_asInteger(columnsValue);
    const R_xlen_t cellCount = R_xlen_t(rows) * columns;
    const bool anyHabitat = Rf_isNull(habitatValue);
    double habitat = 0;
    if (!anyHabitat) {
        if (!Rf_isNumeric(habitatValue) || Rf_xlength(habitatValue) != 1 ||
            !std::isfinite(Rf_asReal(habitatValue)))
            refuse(QStringLiteral("habitat is not a number: %1").arg(shown(habitatValue)));
        habitat = Rf_asReal(habitatValue);
    }
    const R_xlen_t layers = cellCount > 0 ? Rf_xlength(values) / cellCount : 0;
    std::vector<QList<ManifestField>> measured;
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(cellCount));
    for (R_xlen_t layer = 0; layer < layers; ++layer) {
        const R_xlen_t offset = layer * cellCount;
        if (Rf_isInteger(values)) {
            const int *cells = INTEGER(values) + offset;
            for (R_xlen_t i = 0; i < cellCount; ++i)
                mask[std::size_t(i)] = anyHabitat ? cells[i] != 0 && cells[i] != NA_INTEGER
                                                  : cells[i] != NA_INTEGER && cells[i] == habitat;
        } else {
            const double *cells = REAL(values) + offset;
            for (R_xlen_t i = 0; i < cellCount; ++i)
                mask[std::size_t(i)] =
                    anyHabitat ? cells[i] != 0 && !std::isnan(cells[i]) : cells[i] == habitat;
        }
        measured.push_back(manifestMetricFields(landscapeMetrics(
            mask.data(), rows, columns, output.neighbours, output.georeference.cellSize)));
    }
    return recordColumns(measured, manifestMetricFields(LandscapeMetrics()));
    END_RCPP
}

// A layer of `values` (row-major, NA outside the study area) classified
// into classes of exact sizes, as `patchwright-cli classify` does a file:
// the codes of the classes (`classValues`, or 1 to k when NULL), NA outside
// the study area or where `inside` (logical, NULL for all) is FALSE.
SEXP pw_classify(SEXP values, SEXP rowsValue, SEXP columnsValue, SEXP proportionsValue,
                 SEXP classValuesValue, SEXP insideValue)
{
    BEGIN_RCPP
    const int rows = Rf_asInteger(rowsValue);
    const int columns = Rf_asInteger(columnsValue);
    const R_xlen_t cellCount = R_xlen_t(rows) * columns;
    ClassifyRequest request;
    const Rcpp::NumericVector proportions(proportionsValue);
    request.proportions.assign(proportions.begin(), proportions.end());
    if (!Rf_isNull(classValuesValue)) {
        const Rcpp::NumericVector codes(classValuesValue);
        for (const double code : codes) {
            if (!std::isfinite(code) || code != std::trunc(code) ||
                std::fabs(code) > std::numeric_limits<qint32>::max())
                refuse(QStringLiteral("values are class codes, 32-bit whole numbers, not %1")
                           .arg(code));
            request.classValues.push_back(qint32(code));
        }
    }
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    if (Rf_xlength(values) != cellCount)
        refuse(QStringLiteral("x must have one layer"));
    const Rcpp::NumericVector surface(values);
    std::vector<std::uint8_t> inside(static_cast<std::size_t>(cellCount), 1);
    if (!Rf_isNull(insideValue)) {
        const Rcpp::LogicalVector mask(insideValue);
        if (mask.size() != cellCount)
            refuse(QStringLiteral("mask must have the cells of x, %1 x %2").arg(rows).arg(columns));
        for (R_xlen_t i = 0; i < cellCount; ++i)
            inside[std::size_t(i)] = mask[i] == TRUE;
    }
    std::vector<qint64> counts;
    const std::vector<std::uint8_t> classes =
        classifyCells(surface.begin(), rows, columns, inside.data(), request.proportions, &counts);
    if (cellCount > 0 && std::all_of(counts.begin(), counts.end(), [](qint64 c) { return c == 0; }))
        refuse(QStringLiteral("no cell lies inside the study area: every value is NA or masked "
                              "out"));
    const std::vector<qint32> codes = request.codes();
    Rcpp::IntegerVector cells(cellCount);
    for (R_xlen_t i = 0; i < cellCount; ++i)
        cells[i] =
            classes[std::size_t(i)] == outsideClass ? NA_INTEGER : codes[classes[std::size_t(i)]];
    return cells;
    END_RCPP
}

// The long table of the metrics `names` picks ("all" or metric names) of
// every layer of `values`, as `patchwright-cli metrics` measures a file, in
// the reference tool's columns: layer, level, class, id, metric, value.
SEXP pw_metric_table(SEXP values, SEXP rowsValue, SEXP columnsValue, SEXP namesValue,
                     SEXP noDataValue, SEXP cellSizeValue, SEXP neighboursValue)
{
    BEGIN_RCPP
    const BatchOutput output = measuringOf(cellSizeValue, neighboursValue);
    if (!Rf_isString(namesValue) || Rf_xlength(namesValue) == 0)
        refuse(QStringLiteral("metric must be \"all\" or metric names such as c(\"np\", "
                              "\"contag\"), not %1")
                   .arg(shown(namesValue)));
    QStringList names;
    for (R_xlen_t i = 0; i < Rf_xlength(namesValue); ++i)
        names.append(STRING_ELT(namesValue, i) == NA_STRING ? QStringLiteral("NA")
                                                            : fromR(STRING_ELT(namesValue, i)));
    QString refusal;
    const std::optional<MetricSelection> selection =
        MetricSelection::parse(names.join(QLatin1Char(',')), refusal);
    if (!selection)
        refuse(QStringLiteral("metric: %1").arg(refusal));
    std::optional<double> noData;
    if (!Rf_isNull(noDataValue)) {
        if (!Rf_isNumeric(noDataValue) || Rf_isLogical(noDataValue) ||
            Rf_xlength(noDataValue) != 1 || !std::isfinite(Rf_asReal(noDataValue)) ||
            Rf_asReal(noDataValue) != std::trunc(Rf_asReal(noDataValue)))
            refuse(QStringLiteral("nodata must be a cell code, a whole number, not %1")
                       .arg(shown(noDataValue)));
        noData = Rf_asReal(noDataValue);
    }
    const int rows = Rf_asInteger(rowsValue);
    const int columns = Rf_asInteger(columnsValue);
    const R_xlen_t cellCount = R_xlen_t(rows) * columns;
    const R_xlen_t layers = cellCount > 0 ? Rf_xlength(values) / cellCount : 1;
    std::vector<qint32> codes(static_cast<std::size_t>(cellCount));
    std::vector<std::pair<int, MetricRow>> table;
    InterruptProgress interrupt;
    for (R_xlen_t layer = 0; layer < layers; ++layer) {
        MetricOptions options{output.neighbours, output.georeference.cellSize, std::nullopt};
        if (cellCount > 0)
            options.noData =
                Rf_isInteger(values)
                    ? classCodes(INTEGER(values) + layer * cellCount, codes, noData, layer)
                    : classCodes(REAL(values) + layer * cellCount, codes, noData, layer);
        const std::optional<std::vector<MetricRow>> measured =
            measureClassMap(codes, rows, columns, options, *selection);
        if (!measured)
            refuse(QStringLiteral("layer %1 has more than %2 different codes; metrics need a map "
                                  "of classes, such as land cover, not of measurements such as "
                                  "heights")
                       .arg(layer + 1)
                       .arg(maxMeasuredClasses));
        for (const MetricRow &row : *measured)
            table.emplace_back(int(layer + 1), row);
        if (interrupt.wasCanceled())
            throw Rcpp::internal::InterruptedException();
    }
    const auto count = R_xlen_t(table.size());
    Rcpp::IntegerVector layerColumn(count);
    Rcpp::CharacterVector levelColumn(count);
    Rcpp::IntegerVector classColumn(count);
    Rcpp::IntegerVector idColumn(count, NA_INTEGER);
    Rcpp::CharacterVector metricColumn(count);
    Rcpp::NumericVector valueColumn(count);
    for (R_xlen_t i = 0; i < count; ++i) {
        const auto &[layer, row] = table[std::size_t(i)];
        layerColumn[i] = layer;
        levelColumn[i] = levelName(row.level);
        classColumn[i] = row.level == MetricLevel::Class ? row.classCode : NA_INTEGER;
        metricColumn[i] = row.metric;
        valueColumn[i] = std::isnan(row.value) ? NA_REAL : row.value;
    }
    return Rcpp::List::create(
        Rcpp::Named("layer") = layerColumn, Rcpp::Named("level") = levelColumn,
        Rcpp::Named("class") = classColumn, Rcpp::Named("id") = idColumn,
        Rcpp::Named("metric") = metricColumn, Rcpp::Named("value") = valueColumn);
    END_RCPP
}

static const R_CallMethodDef callMethods[] = {
    {"pw_batch", reinterpret_cast<DL_FUNC>(&pw_batch), 2},
    {"pw_families", reinterpret_cast<DL_FUNC>(&pw_families), 0},
    {"pw_batch_options", reinterpret_cast<DL_FUNC>(&pw_batch_options), 1},
    {"pw_surface", reinterpret_cast<DL_FUNC>(&pw_surface), 4},
    {"pw_read_map", reinterpret_cast<DL_FUNC>(&pw_read_map), 1},
    {"pw_metrics", reinterpret_cast<DL_FUNC>(&pw_metrics), 6},
    {"pw_metric_table", reinterpret_cast<DL_FUNC>(&pw_metric_table), 7},
    {"pw_classify", reinterpret_cast<DL_FUNC>(&pw_classify), 6},
    {nullptr, nullptr, 0},
};

void R_init_patchwright(DllInfo *info)
{
    R_registerRoutines(info, nullptr, callMethods, nullptr, nullptr);
    R_useDynamicSymbols(info, FALSE);
}

} // extern "C"
