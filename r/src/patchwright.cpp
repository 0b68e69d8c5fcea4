// The compiled part of the patchwright R package. It takes R values as the
// user gave them, turns each into the request's own typed value, and lets
// the request refuse what it refuses, in its own words; it hands back plain
// vectors that R/patchwright.R wraps in terra rasters and data frames. The
// requests, generators, manifest fields and readers are the core's, so that
// nothing here can make a map other than the command line would.

#include "core/batchjob.h"
#include "core/batchmanifest.h"
#include "core/batchprogress.h"
#include "core/batchrequest.h"
#include "core/landscapegrid.h"
#include "core/landscapemetrics.h"
#include "core/mappublisher.h"
#include "core/mapreader.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fractalmapgenerator.h"
#include "random/randommapgenerator.h"

#include <R_ext/Rdynload.h>
#include <Rcpp.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void refuse(const QString &message)
{
    throw Rcpp::exception(message.toUtf8().constData(), false);
}

QString describe(SEXP value)
{
    if (Rf_length(value) != 1)
        return QStringLiteral("a vector of length %1").arg(Rf_length(value));
    if (Rf_isString(value))
        return QString::fromUtf8(Rf_translateCharUTF8(STRING_ELT(value, 0)));
    if (Rf_isInteger(value) || Rf_isLogical(value))
        return INTEGER(value)[0] == NA_INTEGER ? QStringLiteral("NA")
                                               : QString::number(INTEGER(value)[0]);
    if (Rf_isReal(value))
        return QString::number(REAL(value)[0], 'g', 17);
    return QString::fromUtf8(Rf_type2char(TYPEOF(value)));
}

// The numbers of a numeric vector, NA and all.
std::vector<double> numbers(SEXP value, const QString &name, const char *what)
{
    if (Rf_isInteger(value)) {
        std::vector<double> out;
        for (R_xlen_t i = 0; i < Rf_xlength(value); ++i)
            out.push_back(INTEGER(value)[i] == NA_INTEGER ? NA_REAL : INTEGER(value)[i]);
        return out;
    }
    if (!Rf_isReal(value))
        refuse(
            QStringLiteral("%1 is not %2: '%3'").arg(name, QLatin1String(what), describe(value)));
    return {REAL(value), REAL(value) + Rf_xlength(value)};
}

double number(SEXP value, const QString &name)
{
    const std::vector<double> values = numbers(value, name, "a number");
    if (values.size() != 1 || !std::isfinite(values[0]))
        refuse(QStringLiteral("%1 is not a number: '%2'").arg(name, describe(value)));
    return values[0];
}

// A whole number clamped to 64 bits; every limit lies well inside them, so
// the request refuses a clamped value with the words it has for the value.
qint64 whole(double value, const QString &name, SEXP given)
{
    if (!std::isfinite(value) || value != std::floor(value))
        refuse(QStringLiteral("%1 is not a whole number: '%2'").arg(name, describe(given)));
    return qint64(std::clamp(value, -9.0e18, 9.0e18));
}

qint64 whole(SEXP value, const QString &name)
{
    const std::vector<double> values = numbers(value, name, "a whole number");
    if (values.size() != 1)
        refuse(QStringLiteral("%1 is not a whole number: '%2'").arg(name, describe(value)));
    return whole(values[0], name, value);
}

int wholeInt(SEXP value, const QString &name)
{
    return int(std::clamp<qint64>(whole(value, name), std::numeric_limits<int>::min(),
                                  std::numeric_limits<int>::max()));
}

bool flag(SEXP value, const QString &name)
{
    if (!Rf_isLogical(value) || Rf_length(value) != 1 || LOGICAL(value)[0] == NA_LOGICAL)
        refuse(QStringLiteral("%1 must be TRUE or FALSE, not '%2'").arg(name, describe(value)));
    return LOGICAL(value)[0] != 0;
}

QString text(SEXP value, const QString &name)
{
    if (!Rf_isString(value) || Rf_length(value) != 1 || STRING_ELT(value, 0) == NA_STRING)
        refuse(
            QStringLiteral("%1 must be one character string, not '%2'").arg(name, describe(value)));
    return QString::fromUtf8(Rf_translateCharUTF8(STRING_ELT(value, 0)));
}

int choice(SEXP value, const QString &name, const QStringList &choices)
{
    const QString word =
        Rf_isString(value) && Rf_length(value) == 1 ? text(value, name) : describe(value);
    const qsizetype index = choices.indexOf(word);
    if (index < 0)
        refuse(QStringLiteral("%1 must be %2, not '%3'")
                   .arg(name, choices.join(QStringLiteral(" or ")), word));
    return int(index);
}

// FIRST:LAST:STEP of an evenly spaced vector (1:100, seq(10, 90, 10), c(20,
// 40)) or of one value, whose step is 1 as on the command line.
struct Span {
    double first;
    double last;
    std::optional<double> step;
};

Span span(SEXP value, const QString &name, double tolerance)
{
    const std::vector<double> values = numbers(value, name, "a number or a vector of numbers");
    if (values.empty())
        refuse(QStringLiteral("%1 is empty: the range holds no value").arg(name));
    for (double v : values)
        if (!std::isfinite(v))
            refuse(QStringLiteral("%1 is not a number: '%2'").arg(name, describe(value)));
    if (values.size() == 1)
        return {values[0], values[0], std::nullopt};
    const double step = values[1] - values[0];
    for (std::size_t i = 2; i < values.size(); ++i)
        if (std::fabs(values[i] - values[i - 1] - step) > tolerance)
            refuse(QStringLiteral("the values of %1 are not evenly spaced, as FIRST:LAST:STEP "
                                  "gives them")
                       .arg(name));
    return {values.front(), values.back(), step};
}

CoverRange coverRange(SEXP value)
{
    const QString name = QStringLiteral("cover");
    const Span s = span(value, name, 0);
    auto asInt = [&](double v) {
        return int(std::clamp<qint64>(whole(v, name, value), INT_MIN, INT_MAX));
    };
    return {asInt(s.first), asInt(s.last), s.step ? asInt(*s.step) : 1};
}

// H is written with two decimals; a value within rounding of one is taken as
// it, so that seq(0.1, 0.9, 0.1) means 0.1:0.9:0.1. Any other value is passed
// on for the request to refuse.
double hundredths(double value)
{
    const double rounded = std::round(value * 100.0);
    return std::fabs(value * 100.0 - rounded) < 1e-9 ? rounded / 100.0 : value;
}

HurstRange hurstRange(SEXP value)
{
    const Span s = span(value, QStringLiteral("hurst"), 1e-9);
    return {hundredths(s.first), hundredths(s.last), s.step ? hundredths(*s.step) : 0.1};
}

// What a batch call asks beyond its request.
struct Call {
    QString out;
    bool overwrite = false;
};

using Setter = std::function<void(SEXP)>;

// The keywords both kinds of batch take, over their output.
std::map<std::string, Setter> outputSetters(BatchOutput &output, Call &call)
{
    return {
        {"out", [&](SEXP v) { call.out = text(v, QStringLiteral("out")); }},
        {"overwrite", [&](SEXP v) { call.overwrite = flag(v, QStringLiteral("overwrite")); }},
        {"no_sync", [&](SEXP v) { output.sync = !flag(v, QStringLiteral("no_sync")); }},
        {"prefix", [&](SEXP v) { output.prefix = text(v, QStringLiteral("prefix")); }},
        {"post_string",
         [&](SEXP v) { output.postString = text(v, QStringLiteral("post_string")); }},
        {"cover_value",
         [&](SEXP v) { output.coverValue = wholeInt(v, QStringLiteral("cover_value")); }},
        {"matrix_value",
         [&](SEXP v) { output.matrixValue = wholeInt(v, QStringLiteral("matrix_value")); }},
        {"format",
         [&](SEXP v) {
             output.format = MapFormat(
                 choice(v, QStringLiteral("format"),
                        {QStringLiteral("plain"), QStringLiteral("asc"), QStringLiteral("tif")}));
         }},
        {"nodata", [&](SEXP v) { output.noData = whole(v, QStringLiteral("nodata")); }},
        {"cell_size",
         [&](SEXP v) { output.georeference.cellSize = number(v, QStringLiteral("cell_size")); }},
        {"origin",
         [&](SEXP v) {
             const std::vector<double> xy = numbers(v, QStringLiteral("origin"), "X,Y");
             if (xy.size() != 2 || !std::isfinite(xy[0]) || !std::isfinite(xy[1]))
                 refuse(QStringLiteral("origin must be X,Y, not '%1'").arg(describe(v)));
             output.georeference.originX = xy[0];
             output.georeference.originY = xy[1];
         }},
        {"crs", [&](SEXP v) { output.georeference.crs = text(v, QStringLiteral("crs")); }},
        {"metrics", [&](SEXP v) { output.metrics = flag(v, QStringLiteral("metrics")); }},
        {"neighbours",
         [&](SEXP v) { output.neighbours = wholeInt(v, QStringLiteral("neighbours")); }},
    };
}

Generator generatorOf(SEXP value)
{
    return Generator(choice(value, QStringLiteral("generator"),
                            {QStringLiteral("classic"), QStringLiteral("philox")}));
}

void apply(std::map<std::string, Setter> setters, SEXP arguments)
{
    const SEXP names = Rf_getAttrib(arguments, R_NamesSymbol);
    for (R_xlen_t i = 0; i < Rf_xlength(arguments); ++i) {
        const char *name = Rf_isNull(names) ? "" : CHAR(STRING_ELT(names, i));
        if (*name == '\0')
            refuse(QStringLiteral("every argument needs its name, as option = value"));
        const auto setter = setters.find(name);
        if (setter == setters.end())
            refuse(QStringLiteral("unknown argument '%1'").arg(QString::fromUtf8(name)));
        // NULL leaves an option out, as R's own functions take it.
        if (Rf_isNull(VECTOR_ELT(arguments, i)))
            continue;
        setter->second(VECTOR_ELT(arguments, i));
    }
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

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// One type per manifest column whatever the rows hold, as the manifest's
// reader would take them: words as character, measures as double, codes and
// small counts as integer, and the counts that outgrow 32 bits as double.
// An empty field is NA.
enum class ColumnType { Text, Real, Integer };

ColumnType columnType(std::string_view name)
{
    if (isOneOf(name, {"file", "kind", "generator", "cut", "distinct_surfaces", "surface_file"}))
        return ColumnType::Text;
    if (isOneOf(name, {"realised_cover", "H", "threshold", "lpi", "area_mn", "area_am", "ed",
                       "gyrate_am", "stream", "tied_habitat", "habitat_cells", "np"}))
        return ColumnType::Real;
    return ColumnType::Integer;
}

// The records as a list of columns, named as the manifest names them.
SEXP recordColumns(const std::vector<MapRecord> &records, MapRecord::Kind kind,
                   const ManifestColumns &columns, qsizetype firstField = 0)
{
    MapRecord blank;
    blank.kind = kind;
    const QList<ManifestField> header = manifestFields(blank, columns);
    const qsizetype count = header.size() - firstField;
    const R_xlen_t rows = R_xlen_t(records.size());
    Rcpp::List list(count);
    Rcpp::CharacterVector names(count);
    std::vector<SEXP> vectors(std::size_t(count), nullptr);
    for (qsizetype c = 0; c < count; ++c) {
        const char *name = header[c + firstField].name;
        names[c] = name;
        switch (columnType(name)) {
        case ColumnType::Text:
            list[c] = Rcpp::CharacterVector(rows);
            break;
        case ColumnType::Real:
            list[c] = Rcpp::NumericVector(rows);
            break;
        case ColumnType::Integer:
            list[c] = Rcpp::IntegerVector(rows);
            break;
        }
        vectors[std::size_t(c)] = list[c];
    }
    for (R_xlen_t r = 0; r < rows; ++r) {
        const QList<ManifestField> fields = manifestFields(records[std::size_t(r)], columns);
        for (qsizetype c = 0; c < count; ++c) {
            const QByteArray &value = fields[c + firstField].value;
            const char *begin = value.constData();
            const char *end = begin + value.size();
            SEXP vector = vectors[std::size_t(c)];
            switch (columnType(fields[c + firstField].name)) {
            case ColumnType::Text:
                SET_STRING_ELT(vector, r,
                               value.isEmpty() ? NA_STRING
                                               : Rf_mkCharLenCE(begin, int(value.size()), CE_UTF8));
                break;
            case ColumnType::Real: {
                double number = NA_REAL;
                if (const auto [ptr, ec] = std::from_chars(begin, end, number);
                    value.isEmpty() || ec != std::errc() || ptr != end)
                    number = NA_REAL;
                REAL(vector)[r] = number;
                break;
            }
            case ColumnType::Integer: {
                int number = NA_INTEGER;
                if (const auto [ptr, ec] = std::from_chars(begin, end, number);
                    value.isEmpty() || ec != std::errc() || ptr != end)
                    number = NA_INTEGER;
                INTEGER(vector)[r] = number;
                break;
            }
            }
        }
    }
    list.attr("names") = names;
    return list;
}

SEXP georeferenceList(const Georeference &georeference)
{
    return Rcpp::List::create(
        Rcpp::Named("cell_size") = georeference.cellSize,
        Rcpp::Named("origin") =
            Rcpp::NumericVector::create(georeference.originX, georeference.originY),
        Rcpp::Named("crs") = std::string(georeference.crs.toUtf8().constData()));
}

// Runs a batch job into out: the job's refusals, lock and overwrite rules,
// as the command line meets them.
SEXP runJob(std::unique_ptr<MapSource> source, const Call &call)
{
    const MapRecord::Kind kind = source->kind();
    const ManifestColumns columns = source->manifestColumns();
    BatchJob job(std::move(source));
    if (call.overwrite)
        job.allowOverwrite();
    if (const auto refusal = job.prepare()) {
        if (refusal->kind == BatchRefusal::Kind::ExistingFiles)
            refuse(QStringLiteral("%1 (overwrite = TRUE)").arg(refusal->message));
        refuse(refusal->message);
    }
    InterruptProgress progress;
    const BatchReport report = job.run(progress);
    const auto written = report.maps.size();
    if (report.result.status == BatchResult::Status::Failed)
        refuse(QStringLiteral("stopped after %1 maps: %2").arg(written).arg(report.result.message));
    if (report.batchListError)
        refuse(QStringLiteral("batch list not written: %1").arg(report.batchListError->message()));
    if (report.manifestError)
        refuse(QStringLiteral("manifest not written: %1").arg(report.manifestError->message()));
    if (report.result.status == BatchResult::Status::Canceled)
        throw Rcpp::internal::InterruptedException();
    const std::vector<MapRecord> records(report.maps.begin(), report.maps.end());
    return Rcpp::List::create(Rcpp::Named("records") = recordColumns(records, kind, columns));
}

// Makes the maps in memory: their records, and their cells as one integer
// matrix of a column per map, each column the map's rows one after the
// other from the top, as terra orders a layer's cells.
SEXP runInMemory(std::unique_ptr<MapSource> source, int size)
{
    const MapRecord::Kind kind = source->kind();
    const ManifestColumns columns = source->manifestColumns();
    const BatchOutput output = source->output();
    std::vector<MapRecord> records;
    std::vector<std::vector<qint32>> cells;
    InterruptProgress progress;
    BatchResult result;
    {
        MapPublisher publisher([&](MapRecord record, std::vector<qint32> mapCells) {
            records.push_back(std::move(record));
            cells.push_back(std::move(mapCells));
        });
        result = source->makeMaps(output.prefix, publisher, progress);
    }
    source.reset();
    if (result.status == BatchResult::Status::Canceled)
        throw Rcpp::internal::InterruptedException();
    if (result.status == BatchResult::Status::Failed)
        refuse(QStringLiteral("stopped after %1 maps: %2").arg(records.size()).arg(result.message));

    const R_xlen_t mapCells = R_xlen_t(size) * size;
    Rcpp::IntegerMatrix matrix(int(mapCells), int(cells.size()));
    for (std::size_t m = 0; m < cells.size(); ++m) {
        std::memcpy(INTEGER(matrix) + R_xlen_t(m) * mapCells, cells[m].data(),
                    std::size_t(mapCells) * sizeof(qint32));
        std::vector<qint32>().swap(cells[m]);
    }
    return Rcpp::List::create(Rcpp::Named("records") = recordColumns(records, kind, columns),
                              Rcpp::Named("cells") = matrix, Rcpp::Named("size") = size,
                              Rcpp::Named("georeference") = georeferenceList(output.georeference));
}

template <typename Request>
SEXP runBatch(std::unique_ptr<MapSource> source, const Request &request, const Call &call)
{
    if (!call.out.isEmpty()) {
        Call absolute = call;
        absolute.out = QDir(call.out).absolutePath();
        return runJob(std::move(source), absolute);
    }
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    return runInMemory(std::move(source), request.size);
}

} // namespace

extern "C" {

SEXP pw_random_batch(SEXP arguments)
{
    BEGIN_RCPP
    RandomBatchRequest request;
    request.output.prefix = QStringLiteral("RND_");
    Call call;
    auto setters = outputSetters(request.output, call);
    setters.insert({
        {"cover", [&](SEXP v) { request.covers = coverRange(v); }},
        {"size", [&](SEXP v) { request.size = wholeInt(v, QStringLiteral("size")); }},
        {"replicates",
         [&](SEXP v) { request.replicates = wholeInt(v, QStringLiteral("replicates")); }},
        {"seed",
         [&](SEXP v) {
             request.seed =
                 qint32(std::clamp<qint64>(whole(v, QStringLiteral("seed")), INT_MIN, INT_MAX));
         }},
        {"generator", [&](SEXP v) { request.generator = generatorOf(v); }},
    });
    apply(setters, arguments);
    request.output.folder = call.out.isEmpty() ? QString() : QDir(call.out).absolutePath();
    return runBatch(std::make_unique<RandomMapGenerator>(request), request, call);
    END_RCPP
}

SEXP pw_fractal_batch(SEXP arguments)
{
    BEGIN_RCPP
    FractalBatchRequest request;
    request.output.prefix = QStringLiteral("FBM_");
    Call call;
    auto setters = outputSetters(request.output, call);
    setters.insert({
        {"hurst", [&](SEXP v) { request.hurst = hurstRange(v); }},
        {"cover", [&](SEXP v) { request.covers = coverRange(v); }},
        {"size", [&](SEXP v) { request.size = wholeInt(v, QStringLiteral("size")); }},
        {"replicates",
         [&](SEXP v) { request.replicates = wholeInt(v, QStringLiteral("replicates")); }},
        {"generator", [&](SEXP v) { request.generator = generatorOf(v); }},
        {"cut",
         [&](SEXP v) {
             request.cut = FractalCut(choice(v, QStringLiteral("cut"),
                                             {QStringLiteral("ladder"), QStringLiteral("exact")}));
         }},
        {"distinct_surfaces",
         [&](SEXP v) { request.distinctSurfaces = flag(v, QStringLiteral("distinct_surfaces")); }},
        {"surfaces", [&](SEXP v) { request.surfaces = wholeInt(v, QStringLiteral("surfaces")); }},
        {"first_seed",
         [&](SEXP v) { request.firstSeed = wholeInt(v, QStringLiteral("first_seed")); }},
        {"write_surfaces",
         [&](SEXP v) { request.writeSurfaces = flag(v, QStringLiteral("write_surfaces")); }},
    });
    apply(setters, arguments);
    request.output.folder = call.out.isEmpty() ? QString() : QDir(call.out).absolutePath();
    return runBatch(std::make_unique<FractalMapGenerator>(request), request, call);
    END_RCPP
}

SEXP pw_fbm_surface(SEXP sizeValue, SEXP hurstValue, SEXP seedValue, SEXP generatorValue)
{
    BEGIN_RCPP
    // The surface a fractal batch of this size, H and first seed would cut
    // its first maps from, so the batch's limits and words apply.
    FractalBatchRequest request;
    request.size = wholeInt(sizeValue, QStringLiteral("size"));
    const double H = hundredths(number(hurstValue, QStringLiteral("hurst")));
    request.hurst = {H, H, 0.1};
    request.firstSeed = wholeInt(seedValue, QStringLiteral("seed"));
    const Generator generator = generatorOf(generatorValue);
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    // The storage of the last block is kept for the next surface of the same
    // size: a loop of surfaces then fills memory that is already there.
    static FbmBlock block;
    const FastFbmSurface::Status status = FastFbmSurface().generate(
        H, request.size, FbmSurface::defaultMaxLevel, request.firstSeed, block, generator);
    if (status != FastFbmSurface::Status::Ok)
        throw std::bad_alloc();
    const R_xlen_t side = block.size + 1;
    Rcpp::NumericVector values(Rcpp::no_init(side * side));
    std::memcpy(REAL(values), block.values.data(), std::size_t(side * side) * sizeof(double));
    return values;
    END_RCPP
}

SEXP pw_read_map(SEXP pathValue)
{
    BEGIN_RCPP
    const QString path = text(pathValue, QStringLiteral("path"));
    LandscapeGrid grid;
    if (const FileResult error = readMap(path, grid))
        refuse(error->message());
    const std::size_t rows = grid.rowCount();
    const std::size_t columns = rows > 0 ? grid.row(0).size() : 0;
    for (std::size_t r = 1; r < rows; ++r)
        if (grid.row(r).size() != columns)
            refuse(QStringLiteral("%1: its rows differ in length (row 1 has %2 cells, row %3 has "
                                  "%4); a ragged grid cannot be a raster")
                       .arg(path)
                       .arg(columns)
                       .arg(r + 1)
                       .arg(grid.row(r).size()));
    Rcpp::IntegerVector cells(Rcpp::no_init(R_xlen_t(grid.cellCount())));
    if (rows > 0)
        std::memcpy(INTEGER(cells), grid.row(0).data(), grid.cellCount() * sizeof(qint32));
    return Rcpp::List::create(Rcpp::Named("cells") = cells, Rcpp::Named("rows") = int(rows),
                              Rcpp::Named("columns") = int(columns));
    END_RCPP
}

// The metrics of every column of `values` (a layer's cells from the top row
// down), habitat being the cells equal to `habitat` or, when it is NULL,
// those that are neither 0 nor NA.
SEXP pw_metrics(SEXP values, SEXP rowsValue, SEXP columnsValue, SEXP habitatValue,
                SEXP cellSizeValue, SEXP neighboursValue)
{
    BEGIN_RCPP
    BatchOutput output;
    output.neighbours = wholeInt(neighboursValue, QStringLiteral("neighbours"));
    output.georeference.cellSize = number(cellSizeValue, QStringLiteral("cell_size"));
    if (const auto refusal = output.refusal())
        refuse(*refusal);
    const int rows = Rf_asInteger(rowsValue);
    const int columns = Rf_asInteger(columnsValue);
    const R_xlen_t cellCount = R_xlen_t(rows) * columns;
    const bool anyHabitat = Rf_isNull(habitatValue);
    const double habitat = anyHabitat ? 0 : number(habitatValue, QStringLiteral("habitat"));
    const R_xlen_t layers = cellCount > 0 ? Rf_xlength(values) / cellCount : 0;
    std::vector<MapRecord> records(static_cast<std::size_t>(layers));
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
        records[std::size_t(layer)].metrics = landscapeMetrics(
            mask.data(), rows, columns, output.neighbours, output.georeference.cellSize);
    }
    const qsizetype classic = manifestFields(MapRecord()).size();
    return recordColumns(records, MapRecord::Kind::Random, {false, false, true}, classic);
    END_RCPP
}

static const R_CallMethodDef callMethods[] = {
    {"pw_random_batch", reinterpret_cast<DL_FUNC>(&pw_random_batch), 1},
    {"pw_fractal_batch", reinterpret_cast<DL_FUNC>(&pw_fractal_batch), 1},
    {"pw_fbm_surface", reinterpret_cast<DL_FUNC>(&pw_fbm_surface), 4},
    {"pw_read_map", reinterpret_cast<DL_FUNC>(&pw_read_map), 1},
    {"pw_metrics", reinterpret_cast<DL_FUNC>(&pw_metrics), 6},
    {nullptr, nullptr, 0},
};

void R_init_patchwright(DllInfo *info)
{
    R_registerRoutines(info, nullptr, callMethods, nullptr, nullptr);
    R_useDynamicSymbols(info, FALSE);
}

} // extern "C"
