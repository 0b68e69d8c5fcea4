#include "core/batchjob.h"

#include "core/batchlist.h"
#include "core/batchmanifest.h"
#include "core/outputpaths.h"

#include <utility>

QStringList BatchReport::fileNames() const
{
    QStringList names;
    names.reserve(maps.size());
    for (const MapRecord &map : maps)
        names.append(map.fileName);
    return names;
}

BatchJob::BatchJob(std::unique_ptr<MapSource> source)
    : m_source(std::move(source))
{}

BatchJob::~BatchJob() = default;
BatchJob::BatchJob(BatchJob &&) noexcept = default;
BatchJob &BatchJob::operator=(BatchJob &&) noexcept = default;

QString BatchJob::nameStem() const
{
    const BatchOutput &output = m_source->output();
    return ::nameStem(output.folder, output.prefix);
}

std::optional<BatchRefusal> BatchJob::prepare()
{
    if (m_prepared)
        return *m_prepared;
    auto refuse = [this](BatchRefusal::Kind kind, const QString &message) {
        m_prepared = BatchRefusal{kind, message};
        return *m_prepared;
    };
    if (const auto refusal = m_source->refusal())
        return refuse(BatchRefusal::Kind::Request, *refusal);
    const QString &folder = m_source->output().folder;
    // A batch the disk cannot hold is refused now, not found out hours later.
    if (const auto refusal = m_source->diskSpaceRefusal(folder))
        return refuse(BatchRefusal::Kind::DiskSpace, *refusal);
    if (const auto refusal = prepareOutputFolder(folder))
        return refuse(BatchRefusal::Kind::Folder, *refusal);
    m_prepared = std::optional<BatchRefusal>();
    return std::nullopt;
}

BatchReport BatchJob::run(BatchProgress &progress)
{
    BatchReport report;
    report.refusal = prepare();
    if (report.refusal)
        return report;

    const QString stem = nameStem();
    report.result = m_source->writeMaps(stem, report.maps, progress);
    // The list and the manifest name exactly the maps that are complete on
    // disk, also after a failure or a stop, so the run's work is never
    // orphaned.
    report.batchListPath = batchListFileName(stem);
    report.manifestPath = manifestFileName(stem);
    report.batchListError = writeBatchList(report.fileNames(), stem, m_source->output().postString);
    report.manifestError = writeManifest(report.maps, stem);
    return report;
}
