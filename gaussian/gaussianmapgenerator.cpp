#include "gaussian/gaussianmapgenerator.h"

#include "core/diskspace.h"
#include "core/mapnames.h"
#include "core/mappublisher.h"
#include "core/mapwriter.h"
#include "core/surfacecut.h"
#include "core/surfacegrid.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <deque>
#include <future>
#include <limits>
#include <system_error>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("GaussianMapGenerator", text);
}

// Fields drawn ahead of the one being written. Above this many cells a
// side, a field's spectrum takes hundreds of megabytes, and one is drawn
// at a time.
constexpr int drawnAhead = 2;
constexpr int largeSide = 2048;

// The fixed thresholds of a ladder cut, built by repeated addition as the
// fractal ladder is.
std::vector<double> ladderThresholds()
{
    std::vector<double> ladder;
    double t = 0.1;
    for (int k = 0; k < FractalBatchRequest::ladderSteps; ++k, t += 0.01)
        ladder.push_back(t);
    return ladder;
}

} // namespace

struct GaussianMapGenerator::Field {
    std::size_t axisIndex = 0;
    double axisValue = 0;
    int cover = 0;
    int replicate = 0;
    std::vector<double> values;
    bool drawn = false;
};

GaussianMapGenerator::GaussianMapGenerator(const GaussianBatchRequest &request)
    : m_request(request)
    , m_axis(request.axisValues())
    , m_embeddings(m_axis.size())
{}

GaussianMapGenerator::~GaussianMapGenerator() = default;

FieldModel GaussianMapGenerator::fieldModel(const GaussianBatchRequest &request, double axisValue)
{
    FieldModel model;
    model.model = request.model;
    model.nu = request.nu;
    if (request.model == CovarianceModel::Fbm)
        model.hurst = axisValue;
    else
        model.range = axisValue;
    return model;
}

FieldStream GaussianMapGenerator::fieldStream(const GaussianBatchRequest &request, double axisValue,
                                              int cover, int replicate)
{
    FieldStream stream;
    stream.seed = std::uint32_t(request.seed);
    stream.axisHundredths = std::uint32_t(std::llround(axisValue * 100.0));
    stream.cover = std::uint32_t(cover);
    stream.replicate = std::uint32_t(replicate);
    return stream;
}

QString GaussianMapGenerator::progressLabel(const GaussianBatchRequest &request, double axisValue,
                                            int replicate)
{
    return QStringLiteral("gerando para ") +
           (request.model == CovarianceModel::Fbm ? QStringLiteral("h=") : QStringLiteral("r=")) +
           QString::asprintf("%.2f", axisValue) + QStringLiteral(" amostra no.") +
           QString::number(replicate);
}

const CirculantEmbedding *GaussianMapGenerator::embedding(std::size_t index, QString *refusal) const
{
    if (!m_embeddings[index]) {
        auto built =
            CirculantEmbedding::build(fieldModel(m_request, m_axis[index]), m_request.size);
        if (!built.embedding) {
            if (refusal)
                *refusal = tr("no exact %1 field at %2 %3: %4")
                               .arg(covarianceModelName(m_request.model),
                                    m_request.model == CovarianceModel::Fbm ? tr("H") : tr("range"),
                                    QString::asprintf("%.2f", m_axis[index]), built.refusal);
            return nullptr;
        }
        m_embeddings[index] = std::move(built.embedding);
    }
    return m_embeddings[index].get();
}

std::optional<QString> GaussianMapGenerator::refusal() const
{
    if (auto refusal = m_request.refusal())
        return refusal;
    // Every embedding is built before the first map: a sweep that cannot
    // be drawn to its end is refused, not cut short. Their spectra take a
    // sixteenth of a field's memory each, a few megabytes at common sizes.
    for (std::size_t i = 0; i < m_axis.size(); ++i) {
        QString reason;
        if (!embedding(i, &reason))
            return reason;
        if (m_request.size > largeSide && i > 0)
            m_embeddings[i - 1].reset();
    }
    return std::nullopt;
}

std::optional<QString> GaussianMapGenerator::diskSpaceRefusal(const QString &folder) const
{
    return DiskSpace(folder).batchRefusal(m_request);
}

QString GaussianMapGenerator::longestMapName(const QString &nameStem) const
{
    double widest = 0;
    for (double value : m_axis)
        widest = std::max(widest, value);
    const QString map = gaussianMapName(nameStem, m_request.model, widest, 100,
                                        m_request.replicates, m_request.output.format);
    if (!m_request.writeSurfaces)
        return map;
    return gaussianSurfaceName(nameStem, m_request.model, widest, 100, m_request.replicates,
                               m_request.output.format);
}

BatchResult GaussianMapGenerator::makeMaps(const QString &nameStem, MapPublisher &publisher,
                                           BatchProgress &progress)
{
    // The fields in the order their maps are written.
    std::vector<Field> plan;
    const CoverRange &covers = m_request.covers;
    for (std::size_t a = 0; a < m_axis.size(); ++a)
        for (qint64 cover = covers.first; cover <= covers.last; cover += covers.step)
            for (int r = 1; r <= m_request.replicates; ++r) {
                Field field;
                field.axisIndex = a;
                field.axisValue = m_axis[a];
                field.cover = int(cover);
                field.replicate = r;
                plan.push_back(std::move(field));
            }

    MapWriter writer(m_request.output, publisher.inMemory());
    auto end = [&publisher](BatchResult result) {
        if (FileResult error = publisher.flush(); error && result.ok())
            return BatchResult::failed(error->message());
        return result;
    };
    progress.setMaximum(
        int(std::min<qint64>(qint64(plan.size()), std::numeric_limits<int>::max())));
    progress.setLabelText(QStringLiteral("Calculando..."));
    progress.setValue(0);

    const int ahead = m_request.size > largeSide ? 0 : drawnAhead;
    // Builds every embedding on this thread first: the helpers only read them.
    for (std::size_t a = 0; a < m_axis.size(); ++a)
        if (ahead > 0 && !embedding(a, nullptr))
            return end(BatchResult::failed(*refusal()));
    // Fields are drawn in groups of consecutive ones, each group on a
    // helper thread of its own, so that small fields do not each pay for a
    // thread and a handoff: a group is about 2^21 spectral entries. Group g
    // is drawn in workspace g % (ahead + 1), since no more than ahead + 1
    // consecutive groups are drawn at once.
    const qint64 side = ahead > 0 ? m_embeddings.front()->side() : 0;
    const std::size_t group =
        ahead > 0
            ? std::size_t(std::clamp<qint64>((qint64(1) << 21) / (side * (side / 2 + 1)), 1, 64))
            : 1;
    std::vector<FieldWorkspace> workspaces(std::size_t(ahead) + 1);
    auto draw = [this, &plan](std::size_t first, std::size_t last, FieldWorkspace *workspace) {
        for (std::size_t k = first; k < last; ++k) {
            Field &field = plan[k];
            const CirculantEmbedding *e = embedding(field.axisIndex, nullptr);
            field.drawn =
                e && e->draw(fieldStream(m_request, field.axisValue, field.cover, field.replicate),
                             field.values, *workspace);
        }
    };

    std::deque<std::future<void>> pending;
    std::size_t next = 0;
    auto launch = [&] {
        while (next < plan.size() && int(pending.size()) <= ahead) {
            const std::size_t first = next;
            next = std::min(plan.size(), first + group);
            FieldWorkspace *workspace = &workspaces[(first / group) % workspaces.size()];
            try {
                pending.push_back(std::async(ahead > 0 ? std::launch::async : std::launch::deferred,
                                             draw, first, next, workspace));
            } catch (const std::system_error &) {
                pending.push_back(std::async(std::launch::deferred, draw, first, next, workspace));
            }
        }
    };
    // Whatever ends the run, no helper outlives the fields it draws into.
    struct Drain {
        std::deque<std::future<void>> &pending;
        ~Drain()
        {
            // A deferred draw that never ran is dropped unrun.
            for (auto &f : pending)
                if (f.valid() &&
                    f.wait_for(std::chrono::seconds(0)) != std::future_status::deferred)
                    f.wait();
        }
    } drain{pending};

    std::vector<double> scratch;
    for (std::size_t k = 0; k < plan.size(); ++k) {
        Field &field = plan[k];
        progress.setLabelText(progressLabel(m_request, field.axisValue, field.replicate));
        if (k % group == 0) {
            launch();
            pending.front().get();
            pending.pop_front();
        }
        if (m_request.size > largeSide && k + 1 < plan.size() &&
            plan[k + 1].axisIndex != field.axisIndex)
            m_embeddings[field.axisIndex].reset();
        if (!field.drawn) {
            QString reason;
            if (!embedding(field.axisIndex, &reason))
                return end(BatchResult::failed(reason));
            const int side = m_embeddings[field.axisIndex]->side();
            return end(BatchResult::failed(
                tr("There is not enough memory for a Gaussian field of %1 x %1 points.")
                    .arg(side)));
        }
        if (FileResult error = writeMap(field, nameStem, writer, publisher, scratch))
            return end(BatchResult::failed(error->message()));
        std::vector<double>().swap(field.values);
        progress.setValue(int(std::min<qint64>(qint64(k) + 1, std::numeric_limits<int>::max())));
        if (progress.wasCanceled())
            return end(BatchResult::canceled());
    }
    return end(BatchResult::completed());
}

FileResult GaussianMapGenerator::writeMap(const Field &field, const QString &nameStem,
                                          MapWriter &writer, MapPublisher &publisher,
                                          std::vector<double> &scratch) const
{
    const int size = m_request.size;
    const qint64 cells = qint64(size) * size;
    // A ladder cut reads the field rescaled to [0, 1], as fractal surfaces
    // are; an exact cut reads it as drawn.
    std::vector<double> rescaled;
    const double *values = field.values.data();
    double threshold = 0;
    qint64 tiesAbove = 0;
    if (m_request.cut == FractalCut::Exact) {
        scratch.clear();
        const ExactCoverCut cut = exactCoverCut(values, size, size, field.cover, scratch);
        threshold = cut.threshold;
        tiesAbove = cut.tiesAbove;
    } else {
        const auto [low, high] = std::minmax_element(field.values.begin(), field.values.end());
        const double lowest = *low;
        const double span = *high - *low;
        rescaled.resize(field.values.size());
        for (std::size_t i = 0; i < rescaled.size(); ++i)
            rescaled[i] = span > 0 ? (field.values[i] - lowest) / span : 0.0;
        values = rescaled.data();
        scratch.assign(rescaled.begin(), rescaled.end());
        std::sort(scratch.begin(), scratch.end());
        static const std::vector<double> ladder = ladderThresholds();
        bool found = false;
        for (double t : ladder) {
            const qint64 above =
                qint64(scratch.end() - std::upper_bound(scratch.begin(), scratch.end(), t));
            if (int(double(above) / double(cells) * 100.0) == field.cover) {
                threshold = t;
                found = true;
                break;
            }
        }
        if (!found)
            return std::nullopt;
    }

    const BatchOutput &output = m_request.output;
    const QString name = gaussianMapName(nameStem, m_request.model, field.axisValue, field.cover,
                                         field.replicate, output.format);
    if (FileResult error = writer.open(name, size, size))
        return error;
    putCutRows(writer, values, size, size, threshold, tiesAbove);
    FinishedMap map;
    if (FileResult error = writer.finish(map))
        return error;
    const bool writeSurface = m_request.writeSurfaces && !publisher.inMemory();
    const QString surfaceName =
        writeSurface ? gaussianSurfaceName(nameStem, m_request.model, field.axisValue, field.cover,
                                           field.replicate, output.format)
                     : QString();
    MapRecord &record = map.record;
    record.fileName = name;
    record.kind = MapRecord::Kind::Gaussian;
    record.rowCount = size;
    record.columnCount = size;
    record.requestedCover = field.cover;
    record.cellCount = cells;
    record.habitatCells = writer.habitatCellCount();
    record.H = m_request.model == CovarianceModel::Fbm ? field.axisValue : 0.0;
    record.threshold = threshold;
    record.seed = m_request.seed;
    record.replicate = field.replicate;
    record.coverValue = output.coverValue;
    record.matrixValue = output.matrixValue;
    record.cut = m_request.cut;
    record.tiedHabitat = tiesAbove;
    record.model = m_request.model;
    record.range = m_request.model == CovarianceModel::Fbm ? 0.0 : field.axisValue;
    record.nu = m_request.nu;
    record.surfaceFile = QFileInfo(surfaceName).fileName();
    if (FileResult error = publisher.add(std::move(map)))
        return error;
    if (!writeSurface)
        return std::nullopt;
    // The field goes after its map, named after it and in no list.
    FinishedMap surface;
    surface.listed = false;
    surface.files.emplace_back();
    if (FileResult error = writeSurfaceGrid(values, size, size, surfaceName, output.format,
                                            output.georeference, {threshold}, surface.files.back()))
        return error;
    return publisher.add(std::move(surface));
}

QStringList GaussianMapGenerator::shortfalls(const QList<MapRecord> &written) const
{
    if (m_request.cut == FractalCut::Exact)
        return {};
    // Ladder cuts: a field none of whose thresholds gives its cover.
    std::vector<std::array<int, 101>> counts(m_axis.size());
    for (const MapRecord &map : written) {
        const double value = m_request.model == CovarianceModel::Fbm ? map.H : map.range;
        const auto a = std::size_t(std::find(m_axis.begin(), m_axis.end(), value) - m_axis.begin());
        if (a < m_axis.size() && map.requestedCover >= 0 && map.requestedCover <= 100)
            ++counts[a][std::size_t(map.requestedCover)];
    }
    QStringList lines;
    const CoverRange &covers = m_request.covers;
    for (qint64 cover = covers.first; cover <= covers.last; cover += covers.step) {
        QStringList short_;
        for (std::size_t a = 0; a < m_axis.size(); ++a) {
            const int count = counts[a][std::size_t(cover)];
            if (count < m_request.replicates)
                short_.append(tr("%1 of %2 at %3")
                                  .arg(count)
                                  .arg(m_request.replicates)
                                  .arg(QString::asprintf("%.2f", m_axis[a])));
        }
        if (!short_.isEmpty())
            lines.append(tr("cover %1 fell short: %2; no threshold of the ladder cut those "
                            "fields at that cover (exact cuts always do)")
                             .arg(cover)
                             .arg(short_.join(QStringLiteral(", "))));
    }
    return lines;
}

BatchJob gaussianBatchJob(const GaussianBatchRequest &request)
{
    return BatchJob(std::make_unique<GaussianMapGenerator>(request));
}
