// The compiled part of the patchwright package. It takes plain values, which
// patchwright/__init__.py makes from what a Python user passes (ranges,
// names), and hands back dicts and NumPy arrays. The requests, generators,
// manifest fields and readers are the core's own, so that nothing here can
// make a map other than the command line would.

#include "core/batchmanifest.h"
#include "core/batchrequest.h"
#include "core/landscapegrid.h"
#include "core/landscapemetrics.h"
#include "core/mapreader.h"
#include "core/regularfile.h"
#include "fractal/fastfbmsurface.h"
#include "fractal/fractalmapgenerator.h"
#include "python/mapqueue.h"
#include "random/randommapgenerator.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <exception>
#include <initializer_list>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

namespace py = pybind11;

namespace {

[[noreturn]] void refuse(const QString &message)
{
    throw py::value_error(message.toStdString());
}

// A 2D array over storage that the array then owns: the storage moves to
// the heap, and the capsule that is the array's base hands it to `release`
// (by default, deletes it) with the array's last reference.
template <typename Storage> void deleteStorage(void *storage)
{
    delete static_cast<Storage *>(storage);
}

template <typename T, typename Storage>
py::array_t<T> owningArray(Storage storage, const T *cells, py::ssize_t rows, py::ssize_t columns,
                           void (*release)(void *) = deleteStorage<Storage>)
{
    auto owned = std::make_unique<Storage>(std::move(storage));
    py::capsule base(owned.get(), release);
    owned.release();
    return py::array_t<T>({rows, columns}, cells, base);
}

py::array_t<qint32> cellArray(std::vector<qint32> cells, int rows, int columns)
{
    const qint32 *data = cells.data();
    return owningArray(std::move(cells), data, rows, columns);
}

// Runs `work` without the GIL and returns what it returns. Not a scoped
// py::gil_scoped_release: while the interpreter shuts down, a daemon thread
// that takes the GIL back is ended by pthread_exit, and the process aborts if
// that unwinding has to leave a destructor, as it would the scoped release's.
template <typename Work> auto withoutGil(Work work)
{
    using Result = decltype(work());
    PyThreadState *state = PyEval_SaveThread();
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<Result>, bool, Result>> result;
    try {
        if constexpr (std::is_void_v<Result>) {
            work();
            result = true;
        } else {
            result = work();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*result);
}

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// A field as the manifest's reader would take it, with one type per column
// whatever the row holds, so that a mean patch area of exactly 20 is a float
// like every other: measures as float, counts, codes and seeds as int, words
// as str, an empty field (a map that is not fractal, a mean over no patches)
// as None. Text that is not the number its column holds stays text.
py::object fieldValue(const ManifestField &field)
{
    const QByteArray &text = field.value;
    if (text.isEmpty())
        return py::none();
    const char *begin = text.constData();
    const char *end = begin + text.size();
    const std::string_view name = field.name;
    if (isOneOf(name, {"file", "kind", "generator", "cut", "distinct_surfaces", "surface_file"}))
        return py::str(begin, std::size_t(text.size()));
    if (isOneOf(name, {"realised_cover", "H", "threshold", "lpi", "area_mn", "area_am", "ed",
                       "gyrate_am"})) {
        double number = 0;
        if (const auto [ptr, ec] = std::from_chars(begin, end, number);
            ec == std::errc() && ptr == end)
            return py::float_(number);
    } else {
        long long whole = 0;
        if (const auto [ptr, ec] = std::from_chars(begin, end, whole);
            ec == std::errc() && ptr == end)
            return py::int_(whole);
        // The stream of a Philox map may need all 64 bits.
        unsigned long long large = 0;
        if (const auto [ptr, ec] = std::from_chars(begin, end, large);
            ec == std::errc() && ptr == end)
            return py::int_(large);
    }
    return py::str(begin, std::size_t(text.size()));
}

py::dict fieldDict(const QList<ManifestField> &fields, qsizetype from = 0)
{
    py::dict dict;
    for (qsizetype i = from; i < fields.size(); ++i)
        dict[fields[i].name] = fieldValue(fields[i]);
    return dict;
}

// The maps of one batch, for Python's iteration protocol. The batch runs on
// its own thread; a reader waits for the next map without the GIL, waking
// often enough to let Ctrl-C through.
class Batch final {
public:
    Batch(std::unique_ptr<MapSource> source, const QString &prefix)
        : m_columns(source->manifestColumns())
        , m_queue(std::make_unique<MapQueue>(std::move(source), prefix))
        , m_process(::getpid())
    {}
    // Keeps the GIL while the batch stops, unlike close(): a destructor runs
    // in a daemon thread as the interpreter ends too, and must not give the
    // GIL up then (see withoutGil). The batch needs no GIL to stop.
    ~Batch() { leaveIfForked(); }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;

    py::tuple next()
    {
        static constexpr std::chrono::milliseconds signalInterval{50};
        // Another thread may close the batch while this one waits without
        // the GIL, but it must not take the queue away under it, and two
        // readers at once would end it twice; Python's generators refuse
        // the same.
        if (leaveIfForked())
            throw std::runtime_error(
                "this batch was started in another process, before os.fork(); its maps are "
                "made there, so start a new batch in this one");
        if (m_reading)
            throw py::value_error("the batch is already being read by another thread");
        m_reading = true;
        const auto done = qScopeGuard([this] { m_reading = false; });
        while (m_queue) {
            if (PyErr_CheckSignals() != 0) {
                release();
                throw py::error_already_set();
            }
            std::optional<QueuedMap> map;
            const MapQueue::Status status =
                withoutGil([&] { return m_queue->next(signalInterval, map); });
            if (status == MapQueue::Status::Map) {
                const MapRecord &record = map->record;
                py::dict dict = fieldDict(manifestFields(record, m_columns));
                return py::make_tuple(
                    std::move(dict),
                    cellArray(std::move(map->cells), record.rowCount, record.columnCount));
            }
            if (status == MapQueue::Status::End)
                end();
        }
        throw py::stop_iteration();
    }

    // Stops the batch and frees what it holds; a reader waiting in another
    // thread then gets to the end and frees it.
    void close()
    {
        if (leaveIfForked())
            return;
        if (m_reading)
            m_queue->cancel();
        else
            release();
    }

private:
    // In a child made by fork() the batch's thread does not exist, and its
    // lock may be held for ever by a thread that is gone: the queue is left
    // untouched, its memory the parent's copy.
    bool leaveIfForked()
    {
        if (::getpid() == m_process)
            return false;
        static_cast<void>(m_queue.release());
        return true;
    }

    // The batch finishes the map it is making first, which must not hold up
    // every other Python thread.
    void release()
    {
        if (m_queue)
            withoutGil([this] { m_queue.reset(); });
    }

    void end()
    {
        const std::exception_ptr failure = m_queue->failure();
        const BatchResult result = m_queue->result();
        m_queue.reset();
        if (failure)
            std::rethrow_exception(failure);
        if (result.status == BatchResult::Status::Failed)
            throw std::runtime_error(result.message.toStdString());
    }

    ManifestColumns m_columns;
    std::unique_ptr<MapQueue> m_queue;
    // Only read and written with the GIL held.
    bool m_reading = false;
    pid_t m_process;
};

BatchOutput outputOf(const std::string &prefix, qint32 coverValue, qint32 matrixValue, int format,
                     bool metrics, int neighbours, double cellSize)
{
    BatchOutput output;
    output.prefix = QString::fromStdString(prefix);
    output.coverValue = coverValue;
    output.matrixValue = matrixValue;
    output.format = MapFormat(format);
    output.metrics = metrics;
    output.neighbours = neighbours;
    output.georeference.cellSize = cellSize;
    return output;
}

std::unique_ptr<Batch> randomBatch(int coverFirst, int coverLast, int coverStep, int size,
                                   int replicates, qint32 seed, int generator,
                                   const std::string &prefix, qint32 coverValue, qint32 matrixValue,
                                   int format, bool metrics, int neighbours, double cellSize)
{
    RandomBatchRequest request;
    request.covers = {coverFirst, coverLast, coverStep};
    request.size = size;
    request.replicates = replicates;
    request.seed = seed;
    request.generator = Generator(generator);
    request.output =
        outputOf(prefix, coverValue, matrixValue, format, metrics, neighbours, cellSize);
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    return std::make_unique<Batch>(std::make_unique<RandomMapGenerator>(request),
                                   request.output.prefix);
}

std::unique_ptr<Batch> fractalBatch(double hurstFirst, double hurstLast, double hurstStep,
                                    int coverFirst, int coverLast, int coverStep, int size,
                                    int replicates, int generator, int cut, bool distinctSurfaces,
                                    int surfaces, int firstSeed, const std::string &prefix,
                                    qint32 coverValue, qint32 matrixValue, int format, bool metrics,
                                    int neighbours, double cellSize)
{
    FractalBatchRequest request;
    request.hurst = {hurstFirst, hurstLast, hurstStep};
    request.covers = {coverFirst, coverLast, coverStep};
    request.size = size;
    request.replicates = replicates;
    request.generator = Generator(generator);
    request.cut = FractalCut(cut);
    request.distinctSurfaces = distinctSurfaces;
    request.surfaces = surfaces;
    request.firstSeed = firstSeed;
    request.output =
        outputOf(prefix, coverValue, matrixValue, format, metrics, neighbours, cellSize);
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    return std::make_unique<Batch>(std::make_unique<FractalMapGenerator>(request),
                                   request.output.prefix);
}

// Asks the kernel to back a large buffer with huge pages, as NumPy does for
// its own arrays: a 4096 surface block is 134 MB, and touching it page by
// page for the first time costs more than building the surface.
void adviseHugePages(const void *data, std::size_t bytes)
{
    constexpr std::uintptr_t hugePage = std::uintptr_t(2) << 20;
    const auto first = (reinterpret_cast<std::uintptr_t>(data) + hugePage - 1) & ~(hugePage - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(hugePage - 1);
    // Only advice: where it is refused, the block is built all the same.
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
}

// The storage of the last surface array Python let go of, for the next
// surface of the same size. A loop that builds a surface, measures it and
// drops it then writes into memory that is already there, as a batch does,
// instead of paying for fresh pages and clearing them every time.
class FreedBlock final {
public:
    static FreedBlock &instance()
    {
        // Never destroyed: arrays may still be freed while the process ends.
        static auto *freed = new FreedBlock;
        return *freed;
    }

    std::vector<double> take(std::size_t count)
    {
        const std::lock_guard lock(m_mutex);
        if (m_values.size() != count)
            return {};
        return std::exchange(m_values, {});
    }

    static void give(void *storage)
    {
        std::unique_ptr<std::vector<double>> values(static_cast<std::vector<double> *>(storage));
        FreedBlock &freed = instance();
        const std::lock_guard lock(freed.m_mutex);
        std::swap(freed.m_values, *values);
    }

private:
    std::mutex m_mutex;
    std::vector<double> m_values;
};

py::array_t<double> fbmSurface(int size, double H, int seed, int generator)
{
    // The surface a fractal batch of this size, H and first seed would cut
    // its first maps from, so the batch's limits and words apply.
    FractalBatchRequest request;
    request.hurst = {H, H, 0.1};
    request.size = size;
    request.firstSeed = seed;
    if (const auto refusal = request.refusal())
        refuse(*refusal);
    FbmBlock block;
    const FastFbmSurface::Status status = withoutGil([&] {
        const std::size_t count = (std::size_t(size) + 1) * (std::size_t(size) + 1);
        // A block of the whole lattice is built within this capacity, so the
        // advice holds for it; a smaller one needs a margin beyond its values
        // and gets new storage, as it costs little.
        block.values = FreedBlock::instance().take(count);
        if (block.values.empty()) {
            block.values.reserve(count);
            adviseHugePages(block.values.data(), count * sizeof(double));
        }
        // The engine keeps no lattice of its own: a surface is built in the
        // storage of its block.
        return FastFbmSurface().generate(H, size, FbmSurface::defaultMaxLevel, seed, block,
                                         Generator(generator));
    });
    if (status != FastFbmSurface::Status::Ok)
        throw std::bad_alloc();
    const py::ssize_t side = block.size + 1;
    const double *values = block.values.data();
    return owningArray(std::move(block.values), values, side, side, FreedBlock::give);
}

QString pathOf(const py::object &path)
{
    // As the file system spells it, whatever the text's encoding.
    const py::bytes bytes = py::module_::import("os").attr("fsencode")(path);
    return QFile::decodeName(QByteArray::fromStdString(std::string(bytes)));
}

py::array_t<qint32> readMapFile(const py::object &pathObject)
{
    const QString path = pathOf(pathObject);
    // A file that cannot be opened is the system's business; one that
    // opens but holds no map is a bad argument.
    QFile file;
    if (const FileResult error = openRegularFile(path, file)) {
        PyErr_SetString(QFileInfo::exists(path) ? PyExc_OSError : PyExc_FileNotFoundError,
                        error->message().toUtf8().constData());
        throw py::error_already_set();
    }
    file.close();
    LandscapeGrid grid;
    const FileResult error = withoutGil([&] { return readMap(path, grid); });
    if (error)
        refuse(error->message());
    const std::size_t rows = grid.rowCount();
    const std::size_t columns = rows > 0 ? grid.row(0).size() : 0;
    for (std::size_t r = 1; r < rows; ++r)
        if (grid.row(r).size() != columns)
            refuse(QStringLiteral("%1: its rows differ in length (row 1 has %2 cells, row %3 has "
                                  "%4); a ragged grid cannot be a 2D array")
                       .arg(path, QString::number(columns), QString::number(r + 1),
                            QString::number(grid.row(r).size())));
    // The grid's rows lie one after the other in a single vector.
    const qint32 *cells = rows > 0 ? grid.row(0).data() : nullptr;
    return owningArray(std::move(grid), cells, py::ssize_t(rows), py::ssize_t(columns));
}

py::dict mapMetrics(const py::array_t<std::uint8_t, py::array::c_style> &habitat, double cellSize,
                    int neighbours)
{
    BatchOutput output;
    output.neighbours = neighbours;
    output.georeference.cellSize = cellSize;
    if (const auto refusal = output.refusal())
        refuse(*refusal);
    if (habitat.ndim() != 2)
        throw py::value_error("a map is a 2D array");
    // Sides are counted in 32 bits further on; NumPy's are 64.
    for (py::ssize_t axis = 0; axis < 2; ++axis)
        if (habitat.shape(axis) > std::numeric_limits<int>::max())
            throw py::value_error(
                QStringLiteral("a map of %1 %2 is beyond the %3 a side may have")
                    .arg(QString::number(habitat.shape(axis)),
                         axis == 0 ? QStringLiteral("rows") : QStringLiteral("columns"),
                         QString::number(std::numeric_limits<int>::max()))
                    .toStdString());
    MapRecord record;
    record.metrics = withoutGil([&] {
        return landscapeMetrics(habitat.data(), int(habitat.shape(0)), int(habitat.shape(1)),
                                neighbours, cellSize);
    });
    const qsizetype classic = manifestFields(MapRecord()).size();
    return fieldDict(manifestFields(record, {false, false, true}), classic);
}

} // namespace

PYBIND11_MODULE(_patchwright, m)
{
    m.doc() = "The compiled engine of the patchwright package; use the package instead.";

    py::class_<Batch>(m, "Batch")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Batch::next)
        .def("close", &Batch::close)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Batch &batch, const py::args &) {
            batch.close();
            return false;
        });

    m.def("random_batch", &randomBatch, py::kw_only(), py::arg("cover_first"),
          py::arg("cover_last"), py::arg("cover_step"), py::arg("size"), py::arg("replicates"),
          py::arg("seed"), py::arg("generator"), py::arg("prefix"), py::arg("cover_value"),
          py::arg("matrix_value"), py::arg("format"), py::arg("metrics"), py::arg("neighbours"),
          py::arg("cell_size"));
    m.def("fractal_batch", &fractalBatch, py::kw_only(), py::arg("hurst_first"),
          py::arg("hurst_last"), py::arg("hurst_step"), py::arg("cover_first"),
          py::arg("cover_last"), py::arg("cover_step"), py::arg("size"), py::arg("replicates"),
          py::arg("generator"), py::arg("cut"), py::arg("distinct_surfaces"), py::arg("surfaces"),
          py::arg("first_seed"), py::arg("prefix"), py::arg("cover_value"), py::arg("matrix_value"),
          py::arg("format"), py::arg("metrics"), py::arg("neighbours"), py::arg("cell_size"));
    m.def("fbm_surface", &fbmSurface, py::arg("size"), py::arg("h"), py::arg("seed"),
          py::arg("generator"));
    m.def("read_map", &readMapFile, py::arg("path"));
    m.def("metrics", &mapMetrics, py::arg("habitat"), py::arg("cell_size"), py::arg("neighbours"));
}
