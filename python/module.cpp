// SPDX-License-Identifier: GPL-3.0-or-later
// The compiled part of the patchwright package. A batch's keywords go to the
// core's batch description as they are, which parses and refuses them as it
// does the command line's options; maps and records come back as NumPy
// arrays and dicts. The requests, generators,
// manifest fields and readers are the core's own, so that nothing here can
// make a map other than the command line would.

#include "core/batch/batchmanifest.h"
#include "core/batch/batchoptions.h"
#include "core/batch/classcut.h"
#include "core/batch/classify.h"
#include "core/batch/mapfamily.h"
#include "core/batch/mapqueue.h"
#include "core/batch/mapsource.h"
#include "core/files/regularfile.h"
#include "core/grid/gridshape.h"
#include "core/grid/landscapegrid.h"
#include "core/grid/mapreader.h"
#include "core/grid/nearestsource.h"
#include "core/metrics/landscapemeasure.h"
#include "core/metrics/landscapemetrics.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace py = pybind11;

namespace {

using SurfaceValues = decltype(MapFamily::Surface::values);

// Raised for an argument of the wrong type: a TypeError, and a ValueError
// too, so that a caller who catches ValueError for every bad argument, as
// the package documents, catches these as well.
PyObject *argumentTypeError = nullptr;

[[noreturn]] void refuseType(const std::string &message)
{
    PyErr_SetString(argumentTypeError, message.c_str());
    throw py::error_already_set();
}

// An option named in a message, as a caller writes it in Python.
QString pythonSpelling(const QString &key, const QString &value)
{
    const BatchOption *option = anyBatchOption(key);
    const OptionType type = option ? option->type : OptionType::Text;
    if (type == OptionType::Flag || (type == OptionType::Metrics && value.isEmpty()))
        return key + QStringLiteral("=True");
    if (value.isEmpty())
        return key;
    if (type == OptionType::Share)
        return QStringLiteral("%1=(%2)").arg(
            key, value.toLower().replace(QLatin1Char('/'), QStringLiteral(", ")));
    if (type == OptionType::Choice || type == OptionType::Text || type == OptionType::Metrics)
        return QStringLiteral("%1='%2'").arg(key, value);
    return QStringLiteral("%1=%2").arg(key, value);
}

QString spelled(const Phrase &phrase)
{
    return phrase.spelled(&pythonSpelling);
}

[[noreturn]] void refuse(const Phrase &message)
{
    throw py::value_error(spelled(message).toStdString());
}

// Raised as a warning when a batch ends with fewer maps than it asked for.
PyObject *shortfallWarning = nullptr;

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

template <typename Cells> py::array_t<qint32> cellArray(Cells cells, int rows, int columns)
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
    if (field.type == ManifestType::Measure) {
        double number = 0;
        if (const auto [ptr, ec] = std::from_chars(begin, end, number);
            ec == std::errc() && ptr == end)
            return py::float_(number);
    } else if (field.type != ManifestType::Text) {
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
                // A batch with targets says how a map's cell fared once the
                // cell is done; the dict given now is completed then.
                if (m_columns.selection)
                    m_given.append(dict);
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
        const QList<Phrase> shortfalls = m_queue->shortfalls();
        const QList<MapRecord> settled = m_queue->settledRecords();
        m_queue.reset();
        if (failure)
            std::rethrow_exception(failure);
        if (result.status == BatchResult::Status::Failed)
            throw std::runtime_error(result.message.toStdString());
        for (qsizetype i = 0; i < std::min(settled.size(), m_given.size()); ++i) {
            const py::dict settledFields = fieldDict(manifestFields(settled[i], m_columns));
            for (const char *column : {"cell_draws", "cell_acceptance"})
                m_given[i][column] = settledFields[column];
        }
        m_given.clear();
        // Covers or cells that got fewer maps than asked, as the command
        // line warns of them; a filter that makes warnings errors raises.
        for (const Phrase &line : shortfalls)
            if (PyErr_WarnEx(shortfallWarning, spelled(line).toUtf8().constData(), 1) != 0)
                throw py::error_already_set();
    }

    ManifestColumns m_columns;
    std::unique_ptr<MapQueue> m_queue;
    // The records given of a batch with targets, to complete at its end.
    QList<py::dict> m_given;
    // Only read and written with the GIL held.
    bool m_reading = false;
    pid_t m_process;
};

// The whole number an index-like object is; beyond 64 bits a number is
// beyond every limit, and is refused with the limit's words.
qint64 clampedIndex(PyObject *object)
{
    const auto whole = py::reinterpret_steal<py::int_>(PyNumber_Index(object));
    if (!whole)
        throw py::error_already_set();
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(whole.ptr(), &overflow);
    if (overflow != 0)
        return overflow > 0 ? std::numeric_limits<qint64>::max()
                            : std::numeric_limits<qint64>::min();
    return qint64(number);
}

// A keyword's value in the type the batch description takes: Python's
// bool, int, float and str as themselves, any other iterable of numbers
// (a range, a list, a NumPy array) as a list.
OptionValue optionValue(const char *key, const py::handle &value)
{
    PyObject *object = value.ptr();
    if (PyBool_Check(object))
        return object == Py_True;
    if (PyUnicode_Check(object))
        return QString::fromStdString(value.cast<std::string>());
    // A range is FIRST:LAST:STEP as Python writes it; taken as such, an
    // empty one is refused with its bounds rather than as an empty list.
    if (PyRange_Check(object)) {
        const py::ssize_t start = value.attr("start").cast<py::ssize_t>();
        const py::ssize_t stop = value.attr("stop").cast<py::ssize_t>();
        const py::ssize_t step = value.attr("step").cast<py::ssize_t>();
        const py::ssize_t length = py::len(value);
        const py::ssize_t last =
            length > 0 ? start + (length - 1) * step : (step > 0 ? stop - 1 : stop + 1);
        return QStringLiteral("%1:%2:%3").arg(start).arg(last).arg(step);
    }
    // A NumPy array of one dimension or more is a list of its values, as
    // any other sequence; one of none is the number it holds.
    if (py::isinstance<py::array>(value)) {
        const auto array = py::reinterpret_borrow<py::array>(value);
        if (array.ndim() == 0)
            return optionValue(key, array.attr("item")());
        if (array.ndim() > 1)
            refuseType(QStringLiteral("%1 must be a sequence of numbers, not an array of %2 "
                                      "dimensions")
                           .arg(QLatin1String(key))
                           .arg(array.ndim())
                           .toStdString());
        if (array.dtype().kind() == 'b' || !std::strchr("iuf", array.dtype().kind()))
            refuseType(QStringLiteral("%1 must hold numbers, not an array of %2")
                           .arg(QLatin1String(key),
                                QString::fromStdString(py::str(array.dtype()).cast<std::string>()))
                           .toStdString());
        return array.attr("astype")("float64").attr("tolist")().cast<std::vector<double>>();
    }
    if (PyIndex_Check(object))
        return clampedIndex(object);
    if (PyFloat_Check(object) || py::hasattr(value, "__float__"))
        return value.cast<double>();
    // Targets are {metric: (min, max)}, None for an open side; the
    // description reads them as the command line writes them.
    if (PyDict_Check(object)) {
        QStringList targets;
        for (const auto &[metric, bounds] : py::reinterpret_borrow<py::dict>(value)) {
            std::vector<py::object> pair;
            if (!PyUnicode_Check(bounds.ptr())) {
                try {
                    pair = py::cast<std::vector<py::object>>(bounds);
                } catch (const py::cast_error &) {
                    // Not a sequence: refused below with the others.
                }
            }
            if (pair.size() != 2)
                refuseType(QStringLiteral("%1 must map each metric to (min, max), not %2")
                               .arg(QLatin1String(key), QString::fromStdString(py::repr(bounds)))
                               .toStdString());
            const auto side = [key](const py::object &bound) {
                if (bound.is_none())
                    return QString();
                if (PyUnicode_Check(bound.ptr()) || PyBool_Check(bound.ptr()) ||
                    !(PyIndex_Check(bound.ptr()) || py::hasattr(bound, "__float__")))
                    refuseType(QStringLiteral("%1 bounds are numbers or None, not %2")
                                   .arg(QLatin1String(key), QString::fromStdString(py::repr(bound)))
                                   .toStdString());
                return QString::number(bound.cast<double>(), 'g', 17);
            };
            targets.append(
                QStringLiteral("%1=%2:%3")
                    .arg(QString::fromStdString(py::str(metric)), side(pair[0]), side(pair[1])));
        }
        return targets.join(QLatin1Char(','));
    }
    if (py::isinstance<py::iterable>(value) && !PyBytes_Check(object)) {
        std::vector<double> numbers;
        for (const py::handle item : value) {
            if (PyBool_Check(item.ptr()) ||
                !(PyIndex_Check(item.ptr()) || py::hasattr(item, "__float__")))
                refuseType(QStringLiteral("%1 must hold numbers, not %2")
                               .arg(QLatin1String(key), QString::fromStdString(py::repr(item)))
                               .toStdString());
            numbers.push_back(item.cast<double>());
        }
        return numbers;
    }
    refuseType(QStringLiteral("%1 cannot be %2")
                   .arg(QLatin1String(key), QString::fromStdString(py::repr(value)))
                   .toStdString());
}

// A blend, [(family, {option: value}, weight), ...] with the weight 1 when
// left out, as the command line writes it.
QString blendText(const std::string &name, const py::handle &value)
{
    const QString key = QString::fromStdString(name);
    const auto refuse = [&key](const QString &what) {
        refuseType(QStringLiteral("%1 is a list of (family, {option: value}, weight), not %2")
                       .arg(key, what)
                       .toStdString());
    };
    const auto plain = [&key](const py::handle &item) {
        QString text;
        if (PyUnicode_Check(item.ptr()))
            text = QString::fromStdString(item.cast<std::string>());
        else if (PyBool_Check(item.ptr()))
            refuseType(QStringLiteral("%1 option values are numbers or str, not %2")
                           .arg(key, QString::fromStdString(py::repr(item)))
                           .toStdString());
        else if (PyIndex_Check(item.ptr()))
            text = QString::number(item.cast<qint64>());
        else if (py::hasattr(item, "__float__"))
            text = QString::number(item.cast<double>(), 'g', 17);
        else
            refuseType(QStringLiteral("%1 option values are numbers or str, not %2")
                           .arg(key, QString::fromStdString(py::repr(item)))
                           .toStdString());
        // The command line's separators cannot be told from a value's.
        if (text.contains(QLatin1Char(':')) || text.contains(QLatin1Char(',')) ||
            text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('=')))
            throw py::value_error(QStringLiteral("%1 option values hold no ':', ',', ';' or '=': "
                                                 "%2")
                                      .arg(key, text)
                                      .toStdString());
        return text;
    };
    if (PyUnicode_Check(value.ptr()) || !py::isinstance<py::iterable>(value))
        refuse(QString::fromStdString(py::repr(value)));
    QStringList parts;
    for (const py::handle part : value) {
        std::vector<py::object> items;
        if (!PyUnicode_Check(part.ptr()) && py::isinstance<py::sequence>(part))
            items = py::cast<std::vector<py::object>>(part);
        if ((items.size() != 2 && items.size() != 3) || !PyUnicode_Check(items[0].ptr()) ||
            !(items[1].is_none() || PyDict_Check(items[1].ptr())))
            refuse(QString::fromStdString(py::repr(part)));
        QString text = plain(items[0]);
        QStringList options;
        if (!items[1].is_none())
            for (const auto &[option, given] : py::reinterpret_borrow<py::dict>(items[1]))
                options.append(plain(option) + QLatin1Char('=') + plain(given));
        if (!options.isEmpty())
            text += QLatin1Char(':') + options.join(QLatin1Char(','));
        if (items.size() == 3) {
            if (PyUnicode_Check(items[2].ptr()) || PyBool_Check(items[2].ptr()) ||
                !(PyIndex_Check(items[2].ptr()) || py::hasattr(items[2], "__float__")))
                refuse(QString::fromStdString(py::repr(part)));
            text += QStringLiteral(":weight=") + QString::number(items[2].cast<double>(), 'g', 17);
        }
        parts.append(text);
    }
    return parts.join(QLatin1Char(';'));
}

// Sets one option of a request from a Python value; `name` is the keyword
// as the caller wrote it, which the error names.
void applyKeyword(FamilyRequest &request, const BatchOption &option, const std::string &name,
                  const py::handle &value)
{
    // Text is the command line's way of writing numbers, not Python's.
    if (PyUnicode_Check(value.ptr()) && option.type != OptionType::Text &&
        option.type != OptionType::Choice && option.type != OptionType::Metrics)
        refuseType(QStringLiteral("%1 must not be text: %2")
                       .arg(QString::fromStdString(name), QString::fromStdString(py::repr(value)))
                       .toStdString());
    // Metric names come as a list of str too, as the command line's N,N.
    OptionValue given;
    if (option.type == OptionType::Metrics && !PyUnicode_Check(value.ptr()) &&
        !PyBool_Check(value.ptr()) && py::isinstance<py::iterable>(value)) {
        QStringList names;
        for (const py::handle item : value) {
            if (!PyUnicode_Check(item.ptr()))
                refuseType(
                    QStringLiteral("%1 names metrics as str, not %2")
                        .arg(QString::fromStdString(name), QString::fromStdString(py::repr(item)))
                        .toStdString());
            names.append(QString::fromStdString(item.cast<std::string>()));
        }
        given = names.join(QLatin1Char(','));
    } else if (option.type == OptionType::Blends) {
        given = blendText(name, value);
    } else {
        given = optionValue(name.c_str(), value);
    }
    if (const auto error = setOption(request, option, given)) {
        const std::string message = name + ' ' + error->reason.toStdString();
        if (error->kind == OptionError::Kind::Type)
            refuseType(message);
        throw py::value_error(message);
    }
}

const MapFamily &familyOf(const std::string &word)
{
    if (const MapFamily *family = familyNamed(QString::fromStdString(word)))
        return *family;
    throw py::value_error("there is no family '" + word + "'; there are " +
                          familyWords(QStringLiteral("and")).toStdString());
}

// A request of a family from a function's keywords, as the batch
// description reads them: only the options that change maps or records,
// since an array is no file. Options the request's other choices leave
// unused are warned of, as the command line warns of them.
std::unique_ptr<FamilyRequest> requestOf(const MapFamily &family, const std::string &function,
                                         const py::dict &keywords)
{
    std::unique_ptr<FamilyRequest> request = family.newRequest();
    QStringList given;
    for (const auto &[name, value] : keywords) {
        const std::string key = py::str(name);
        const BatchOption *option = findBatchOption(family, QString::fromStdString(key));
        if (!option || option->scope != OptionScope::Maps || key != option->key)
            refuseType(QStringLiteral("%1() got an unexpected keyword argument '%2'")
                           .arg(QString::fromStdString(function), QString::fromStdString(key))
                           .toStdString());
        // None stands for an option that is off by default (shard): given
        // back, as the signature shows it, it leaves the option out.
        if (value.is_none() && std::holds_alternative<QString>(optionDefault(family, *option)) &&
            std::get<QString>(optionDefault(family, *option)).isEmpty())
            continue;
        applyKeyword(*request, *option, key, value);
        given.append(QLatin1String(option->key));
    }
    if (const auto refusal = request->refusal())
        refuse(*refusal);
    for (const Phrase &advice : requestAdvice(*request, given))
        if (PyErr_WarnEx(PyExc_UserWarning, spelled(advice).toUtf8().constData(), 2) != 0)
            throw py::error_already_set();
    return request;
}

std::unique_ptr<Batch> batchOf(const std::string &word, const py::dict &keywords)
{
    const MapFamily &family = familyOf(word);
    const std::unique_ptr<FamilyRequest> request = requestOf(family, word + "_batch", keywords);
    // The long table is a file beside the manifest, which a batch in
    // memory does not write; its maps are measured by metrics().
    if (!request->output.metricTable.isEmpty())
        throw py::value_error("metrics names the metrics of a table the command line writes "
                              "beside the manifest; measure the maps of a batch with "
                              "patchwright.metrics()");
    std::unique_ptr<MapSource> source = family.source(*request);
    // What the source itself refuses (a model the embedding cannot draw
    // exactly) is refused here, as the command line refuses it, before the
    // first map.
    if (const auto refusal = withoutGil([&] { return source->refusal(); }))
        refuse(*refusal);
    return std::make_unique<Batch>(std::move(source), request->output.prefix);
}

py::object pythonValue(const OptionValue &value)
{
    return std::visit(
        [](const auto &v) -> py::object {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, QString>)
                return v.isEmpty() ? py::object(py::none()) : py::object(py::str(v.toStdString()));
            else
                return py::cast(v);
        },
        value);
}

// The families, for the package's functions: word and title.
py::list describeFamilies()
{
    py::list families;
    for (const MapFamily *family : mapFamilies()) {
        py::dict entry;
        entry["word"] = family->word();
        entry["title"] = family->title().toStdString();
        entry["summary"] = family->summary().toStdString();
        families.append(entry);
    }
    return families;
}

// The description of a family's keywords, for the package's signatures,
// docstrings and stubs: key, default, help and, for choices, the words.
py::list describeOptions(const std::string &word)
{
    const MapFamily &family = familyOf(word);
    py::list options;
    for (const BatchOption &option : family.options()) {
        if (option.scope != OptionScope::Maps)
            continue;
        py::dict entry;
        entry["key"] = option.key;
        py::object fallback = pythonValue(optionDefault(family, option));
        // Covers are whole numbers, and read best as the range they are.
        if (option.type == OptionType::CoverSweep) {
            const auto covers = fallback.cast<std::vector<double>>();
            if (covers.size() > 1)
                fallback = py::module_::import("builtins")
                               .attr("range")(int(covers.front()), int(covers.back()) + 1,
                                              int(covers[1] - covers[0]));
        } else if (option.type == OptionType::Whole && !fallback.is_none()) {
            fallback = py::int_(fallback);
        } else if (option.type == OptionType::TargetList) {
            fallback = py::dict();
        } else if (option.type == OptionType::Blends) {
            fallback = py::tuple();
        }
        entry["default"] = fallback;
        entry["help"] = spelled(optionHelp(family, option)).toStdString();
        entry["flag"] = option.type == OptionType::Flag;
        entry["type"] = optionTypeWord(option.type);
        py::list words;
        for (const QString &word : option.words())
            words.append(word.toStdString());
        entry["choices"] = words;
        options.append(entry);
    }
    return options;
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

    SurfaceValues take(std::size_t count)
    {
        const std::lock_guard lock(m_mutex);
        if (m_values.size() != count)
            return {};
        return std::exchange(m_values, {});
    }

    static void give(void *storage)
    {
        std::unique_ptr<SurfaceValues> values(static_cast<SurfaceValues *>(storage));
        FreedBlock &freed = instance();
        const std::lock_guard lock(freed.m_mutex);
        std::swap(freed.m_values, *values);
    }

private:
    std::mutex m_mutex;
    SurfaceValues m_values;
};

// The whole number a Python value is, beyond 64 bits at the edge of its
// side, so that a limit refuses it with the limit's words.
qint64 wholeNumber(const char *name, const py::object &value)
{
    if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        refuseType(QStringLiteral("%1 must be a whole number, not %2")
                       .arg(QLatin1String(name), QString::fromStdString(py::repr(value)))
                       .toStdString());
    return clampedIndex(value.ptr());
}

// The real values a map of a batch of these keywords was made from, for a
// cover and a replicate (see MapFamily::surface), as a float64 array.
py::array_t<double> surfaceOf(const std::string &word, const py::dict &keywords,
                              const py::object &coverValue, const py::object &replicateValue)
{
    const MapFamily &family = familyOf(word);
    const std::unique_ptr<FamilyRequest> request = requestOf(family, word + "_surface", keywords);
    const qint64 cover = wholeNumber("cover", coverValue);
    const qint64 replicate = wholeNumber("replicate", replicateValue);
    MapFamily::Surface surface;
    const std::optional<Phrase> failure = withoutGil([&] {
        // A fractal surface is built on the lattice of the longer side
        // before its corner is kept.
        const std::size_t side = std::size_t(request->shape.longerSide()) + 1;
        const std::size_t count = side * side;
        // A loop that builds, measures and drops surfaces of one size fills
        // the same memory again.
        surface.values = FreedBlock::instance().take(count);
        if (surface.values.empty()) {
            surface.values.reserve(count);
            adviseHugePages(surface.values.data(), count * sizeof(double));
        }
        return family.surface(*request, cover, replicate, surface);
    });
    if (failure)
        refuse(*failure);
    const double *values = surface.values.data();
    return owningArray(std::move(surface.values), values, surface.rows, surface.columns,
                       FreedBlock::give);
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
    // Ctrl-C reaches Python only while it holds the GIL: between blocks of
    // the file the read takes it back for a moment to let a pending signal
    // handler run, and stops if that raised.
    bool interrupted = false;
    PyThreadState *state = PyEval_SaveThread();
    const ReadStop stop = [&interrupted, &state] {
        PyEval_RestoreThread(state);
        interrupted = PyErr_CheckSignals() != 0;
        state = PyEval_SaveThread();
        return interrupted;
    };
    FileResult error;
    try {
        error = readMap(path, grid, stop);
    } catch (...) {
        PyEval_RestoreThread(state);
        throw;
    }
    PyEval_RestoreThread(state);
    if (interrupted)
        throw py::error_already_set();
    if (error)
        refuse(error->message());
    const std::size_t rows = grid.rowCount();
    const std::size_t columns = rows > 0 ? grid.row(0).size() : 0;
    if (const auto refusal = raggedRefusal(grid, path, QStringLiteral("2D array")))
        refuse(*refusal);
    // The grid's rows lie one after the other in a single vector.
    const qint32 *cells = rows > 0 ? grid.row(0).data() : nullptr;
    return owningArray(std::move(grid), cells, py::ssize_t(rows), py::ssize_t(columns));
}

// A batch's measuring options, with their words, limits and defaults:
// patches join by `neighbours`, a cell is `cellSize` map units wide.
struct Measuring {
    int neighbours;
    double cellSize;
};

Measuring measuringOf(const py::object &cellSizeValue, const py::object &neighboursValue)
{
    const MapFamily &family = *mapFamilies().front();
    const std::unique_ptr<FamilyRequest> request = family.newRequest();
    for (const auto &[key, value] :
         {std::pair{"cell_size", cellSizeValue}, std::pair{"neighbours", neighboursValue}})
        if (!value.is_none())
            applyKeyword(*request, *findBatchOption(family, QLatin1String(key)), key, value);
    const BatchOutput &output = request->output;
    if (const auto refusal = output.refusal())
        refuse(*refusal);
    return {output.neighbours, output.georeference.cellSize};
}

// The rows and columns of a 2D array; sides are counted in 32 bits further
// on, NumPy's are 64.
std::pair<int, int> mapShape(const py::array &map)
{
    if (map.ndim() != 2)
        throw py::value_error("a map is a 2D array");
    for (py::ssize_t axis = 0; axis < 2; ++axis)
        if (map.shape(axis) > std::numeric_limits<int>::max())
            throw py::value_error(
                QStringLiteral("a map of %1 %2 is beyond the %3 a side may have")
                    .arg(QString::number(map.shape(axis)),
                         axis == 0 ? QStringLiteral("rows") : QStringLiteral("columns"),
                         QString::number(std::numeric_limits<int>::max()))
                    .toStdString());
    return {int(map.shape(0)), int(map.shape(1))};
}

py::dict mapMetrics(const py::array_t<std::uint8_t, py::array::c_style> &habitat,
                    const py::object &cellSizeValue, const py::object &neighboursValue)
{
    const Measuring measuring = measuringOf(cellSizeValue, neighboursValue);
    const int neighbours = measuring.neighbours;
    const double cellSize = measuring.cellSize;
    const std::pair<int, int> shape = mapShape(habitat);
    const int rows = shape.first;
    const int columns = shape.second;
    const LandscapeMetrics metrics = withoutGil([&] {
        if (rows == 0 || columns == 0)
            return landscapeMetrics(habitat.data(), rows, columns, neighbours, cellSize);
        // Each thread keeps its accumulator for the next map of the same
        // width: built afresh, its tables cost more page faults than the
        // measuring itself (about 20 ms against 5 for a 1000 x 1000 map).
        struct Kept {
            int columns = 0;
            int neighbours = 0;
            double cellSize = 0;
            std::unique_ptr<LandscapeMetricsAccumulator> accumulator;
        };
        thread_local Kept kept;
        if (!kept.accumulator || kept.columns != columns || kept.neighbours != neighbours ||
            kept.cellSize != cellSize) {
            kept.accumulator.reset();
            kept.accumulator =
                std::make_unique<LandscapeMetricsAccumulator>(columns, neighbours, cellSize);
            kept.columns = columns;
            kept.neighbours = neighbours;
            kept.cellSize = cellSize;
        }
        try {
            for (int r = 0; r < rows; ++r)
                kept.accumulator->addRow(habitat.data() + qint64(r) * columns);
            return kept.accumulator->finish();
        } catch (...) {
            // A map left half added is no start for the next one.
            kept.accumulator.reset();
            throw;
        }
    });
    return fieldDict(manifestMetricFields(metrics));
}

// Every cell's Euclidean distance (between cell centres, exact) to the
// nearest nonzero cell of `sources`, divided by the largest: the distance
// gradient of the cells a caller holds rather than of a raster file.
py::array_t<double> sourceDistances(const py::array_t<std::uint8_t, py::array::c_style> &sources)
{
    if (sources.ndim() != 2 || sources.shape(0) < 1 || sources.shape(1) < 1)
        throw py::value_error("the sources must be a two-dimensional array of cells");
    const auto rows = sources.shape(0);
    const auto columns = sources.shape(1);
    if (rows * columns > qint64(nearestsource::noSource))
        throw py::value_error("the sources hold more cells than a map may");
    const std::uint8_t *given = sources.data();
    if (std::none_of(given, given + rows * columns, [](std::uint8_t s) { return s != 0; }))
        throw py::value_error("the sources hold no source cell: every cell is 0");
    py::array_t<double> out({rows, columns});
    double *values = out.mutable_data();
    withoutGil([&] {
        std::vector<std::uint32_t> nearest(std::size_t(rows * columns));
        for (std::size_t i = 0; i < nearest.size(); ++i)
            nearest[i] = given[i] ? std::uint32_t(i) : nearestsource::noSource;
        nearestsource::transform(nearest.data(), int(rows), int(columns));
        nearestsource::scaledDistances(nearest.data(), int(rows), int(columns), values);
    });
    return out;
}

// A surface classified into classes of exact sizes, as `patchwright-cli
// classify` does a file: the codes of the classes (1 to k unless given),
// `noData` where `inside` (bytes, nonzero inside; None for all) leaves a
// cell out or the value is NaN.
py::array_t<qint32>
classifySurface(const py::array_t<double, py::array::c_style> &values,
                const std::vector<double> &proportions, const std::vector<qint32> &classValues,
                const std::optional<py::array_t<std::uint8_t, py::array::c_style>> &inside,
                qint64 noData)
{
    const ClassifyRequest request{proportions, classValues};
    if (const auto refusal = request.refusal(noData))
        throw py::value_error(refusal->toStdString());
    const std::pair<int, int> shape = mapShape(values);
    const int rows = shape.first;
    const int columns = shape.second;
    if (inside && (inside->ndim() != 2 || inside->shape(0) != rows || inside->shape(1) != columns))
        throw py::value_error(QStringLiteral("the mask must have the surface's %1 x %2 cells")
                                  .arg(rows)
                                  .arg(columns)
                                  .toStdString());
    const std::vector<qint32> codes = request.codes();
    std::vector<qint32> cells(std::size_t(rows) * std::size_t(columns));
    bool empty = false;
    withoutGil([&] {
        std::vector<qint64> counts;
        const std::vector<std::uint8_t> classes = classifyCells(
            values.data(), rows, columns, inside ? inside->data() : nullptr, proportions, &counts);
        empty = std::all_of(counts.begin(), counts.end(), [](qint64 c) { return c == 0; });
        for (std::size_t i = 0; i < classes.size(); ++i)
            cells[i] = classes[i] == outsideClass ? qint32(noData) : codes[classes[i]];
    });
    if (empty && rows > 0 && columns > 0)
        throw py::value_error("no cell lies inside the study area: every value is NaN or "
                              "masked out");
    return cellArray(std::move(cells), rows, columns);
}

// The long table of the metrics `names` picks ("all", or names separated by
// commas) of a map of any codes, cells of `noData` outside the landscape, as
// `patchwright-cli metrics` measures a file: columns (whether a row is of the
// class level, its class, its metric, its value) that the package makes a
// table of.
py::tuple metricTable(const py::array_t<qint32, py::array::c_style> &codes,
                      const std::string &names, const py::object &cellSizeValue,
                      const py::object &neighboursValue, std::optional<qint32> noData)
{
    const Measuring measuring = measuringOf(cellSizeValue, neighboursValue);
    QString refusal;
    const std::optional<MetricSelection> selection =
        MetricSelection::parse(QString::fromStdString(names), refusal);
    if (!selection)
        throw py::value_error(QStringLiteral("metric: %1").arg(refusal).toStdString());
    const std::pair<int, int> shape = mapShape(codes);
    const int rows = shape.first;
    const int columns = shape.second;
    const MetricOptions options{measuring.neighbours, measuring.cellSize, noData};
    const std::optional<std::vector<MetricRow>> measured = withoutGil([&] {
        return measureClassMap({codes.data(), std::size_t(qint64(rows) * columns)}, rows, columns,
                               options, *selection);
    });
    if (!measured)
        throw py::value_error(QStringLiteral("a map of more than %1 different codes; metrics "
                                             "need a map of classes, such as land cover, not of "
                                             "measurements such as heights")
                                  .arg(maxMeasuredClasses)
                                  .toStdString());
    const std::vector<MetricRow> &table = *measured;
    const auto count = py::ssize_t(table.size());
    py::array_t<bool> isClass(count);
    py::array_t<qint32> classes(count);
    py::array_t<double> values(count);
    py::list metrics(count);
    // A name is static text and a few dozen of them make every row: one
    // Python string each.
    std::vector<std::pair<const char *, py::str>> spelled;
    for (py::ssize_t i = 0; i < count; ++i) {
        const MetricRow &row = table[std::size_t(i)];
        isClass.mutable_at(i) = row.level == MetricLevel::Class;
        classes.mutable_at(i) = row.classCode;
        values.mutable_at(i) = row.value;
        auto known = std::find_if(spelled.begin(), spelled.end(),
                                  [&row](const auto &name) { return name.first == row.metric; });
        if (known == spelled.end())
            known = spelled.insert(spelled.end(), {row.metric, py::str(row.metric)});
        metrics[std::size_t(i)] = known->second;
    }
    return py::make_tuple(isClass, classes, metrics, values);
}

} // namespace

PYBIND11_MODULE(_patchwright, m)
{
    m.doc() = "The compiled engine of the patchwright package; use the package instead.";
    argumentTypeError = PyErr_NewExceptionWithDoc(
        "patchwright.ArgumentTypeError",
        "An argument of the wrong type: both a TypeError and a ValueError.",
        py::make_tuple(py::handle(PyExc_TypeError), py::handle(PyExc_ValueError)).ptr(), nullptr);
    if (!argumentTypeError)
        throw py::error_already_set();
    m.attr("ArgumentTypeError") = py::handle(argumentTypeError);
    shortfallWarning = PyErr_NewExceptionWithDoc(
        "patchwright.ShortfallWarning",
        "A batch ended with fewer maps than it asked for: covers no cut could give, or cells "
        "whose draws did not meet the targets.",
        PyExc_UserWarning, nullptr);
    if (!shortfallWarning)
        throw py::error_already_set();
    m.attr("ShortfallWarning") = py::handle(shortfallWarning);

    py::class_<Batch>(m, "Batch")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &Batch::next)
        .def("close", &Batch::close)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Batch &batch, const py::args &) {
            batch.close();
            return false;
        });

    m.def("families", &describeFamilies);
    m.def("batch", &batchOf, py::arg("family"), py::arg("keywords"));
    m.def("options", &describeOptions, py::arg("family"));
    m.def("surface", &surfaceOf, py::arg("family"), py::arg("keywords"), py::arg("cover"),
          py::arg("replicate"));
    m.def("read_map", &readMapFile, py::arg("path"));
    m.def("source_distances", &sourceDistances, py::arg("sources"));
    m.def("metrics", &mapMetrics, py::arg("habitat"), py::arg("cell_size"), py::arg("neighbours"));
    m.def("classify", &classifySurface, py::arg("values"), py::arg("proportions"),
          py::arg("class_values"), py::arg("inside"), py::arg("nodata"));
    m.def("metric_table", &metricTable, py::arg("codes"), py::arg("names"), py::arg("cell_size"),
          py::arg("neighbours"), py::arg("nodata"));
}
