#include "core/batchjob.h"

#include "core/batchlist.h"
#include "core/batchmanifest.h"
#include "core/mapnames.h"
#include "core/outputpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchJob", text);
}

// QSaveFile writes beside its target under the target's name and a dot and
// six characters; QLockFile clears a stale lock through its name and
// ".rmlock". Both must fit the file system as well as the names themselves.
constexpr qsizetype temporarySuffixLength = 7;

// Names, with their folder, shown in a message: the first few, and how many
// more there are.
QString someNames(const QStringList &names)
{
    constexpr qsizetype shown = 5;
    QString text = names.mid(0, shown).join(QStringLiteral(", "));
    if (names.size() > shown)
        text += tr(" and %1 more").arg(names.size() - shown);
    return text;
}

} // namespace

BatchResult MapSource::writeMaps(const QString &nameStem, QList<MapRecord> &written,
                                 BatchProgress &progress)
{
    MapPublisher publisher(written, output().sync);
    return makeMaps(nameStem, publisher, progress);
}

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
    // Absolute, so that the batch list names the maps wherever it is read
    // from, whatever folder the run was started in.
    return ::nameStem(QDir(output.folder).absolutePath(), output.prefix);
}

void BatchJob::allowOverwrite()
{
    m_overwrite = true;
    m_prepared.reset();
}

std::optional<BatchRefusal> BatchJob::prepare()
{
    if (!m_prepared)
        m_prepared = check();
    return *m_prepared;
}

std::optional<BatchRefusal> BatchJob::check()
{
    using Kind = BatchRefusal::Kind;
    if (const auto refusal = m_source->refusal())
        return BatchRefusal{Kind::Request, *refusal};
    const QString &folder = m_source->output().folder;
    // A batch the disk cannot hold is refused now, not found out hours later.
    if (const auto refusal = m_source->diskSpaceRefusal(folder))
        return BatchRefusal{Kind::DiskSpace, *refusal};
    if (const auto refusal = prepareOutputFolder(folder))
        return BatchRefusal{Kind::Folder, *refusal};
    if (auto refusal = nameLengthRefusal(QDir(folder).absolutePath()))
        return refusal;
    if (auto refusal = lock())
        return refusal;
    return earlierRunRefusal();
}

std::optional<BatchRefusal> BatchJob::nameLengthRefusal(const QString &folder) const
{
    const QString stem = nameStem();
    qsizetype longest = 0;
    QString longestName;
    for (const QString &name : {m_source->longestMapName(stem), batchListName(stem),
                                manifestName(stem), lockFileName(stem)}) {
        const QString fileName = QFileInfo(name).fileName();
        const qsizetype bytes = QFile::encodeName(fileName).size() + temporarySuffixLength;
        if (bytes > longest) {
            longest = bytes;
            longestName = fileName;
        }
    }
    const QByteArray encodedFolder = QFile::encodeName(folder);
    errno = 0;
    long nameMax = ::pathconf(encodedFolder.constData(), _PC_NAME_MAX);
    if (nameMax <= 0)
        nameMax = NAME_MAX;
    if (longest > nameMax)
        return BatchRefusal{
            BatchRefusal::Kind::Names,
            tr("the file names of this batch would be too long for the file system of \"%1\", "
               "which allows %2 bytes in a name: \"%3\" takes %4, with the %5 of a temporary "
               "name; choose a shorter prefix")
                .arg(QDir::toNativeSeparators(folder))
                .arg(nameMax)
                .arg(longestName)
                .arg(longest)
                .arg(temporarySuffixLength)};
    const qsizetype pathBytes = encodedFolder.size() + 1 + longest;
    if (pathBytes >= PATH_MAX)
        return BatchRefusal{BatchRefusal::Kind::Names,
                            tr("the paths of this batch would be %1 bytes long, more than the "
                               "%2 the system allows; choose a shorter folder or prefix")
                                .arg(pathBytes)
                                .arg(PATH_MAX - 1)};
    return std::nullopt;
}

std::optional<BatchRefusal> BatchJob::lock()
{
    if (m_lock)
        return std::nullopt;
    const QString name = lockFileName(nameStem());
    auto lock = std::make_unique<QLockFile>(name);
    // A lock is stale only when its process is gone, however long a run
    // takes; QLockFile checks the process id on this host.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        m_lock = std::move(lock);
        return std::nullopt;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        lock->getLockInfo(&pid, &host, &application);
        return BatchRefusal{
            BatchRefusal::Kind::Locked,
            tr("another run (process %1 on %2) is writing into \"%3\" with the prefix \"%4\"; "
               "wait for it to end, or choose another folder or prefix")
                .arg(pid)
                .arg(host.isEmpty() ? tr("this computer") : host)
                .arg(QDir::toNativeSeparators(QDir(m_source->output().folder).absolutePath()))
                .arg(m_source->output().prefix)};
    }
    return BatchRefusal{BatchRefusal::Kind::Folder,
                        tr("cannot create the lock file \"%1\" that keeps other runs out of the "
                           "folder while this one writes")
                            .arg(QDir::toNativeSeparators(name))};
}

std::optional<BatchRefusal> BatchJob::earlierRunRefusal()
{
    const BatchOutput &output = m_source->output();
    const QDir folder(QDir(output.folder).absolutePath());
    const MapRecord::Kind kind = m_source->kind();
    const QRegularExpression ownMaps = mapNamesOf(kind, output.prefix);
    std::vector<QRegularExpression> otherMaps;
    for (MapRecord::Kind other :
         {MapRecord::Kind::Random, MapRecord::Kind::Fractal, MapRecord::Kind::Gaussian})
        if (other != kind)
            otherMaps.push_back(mapNamesOf(other, output.prefix));
    // The surfaces of a kind that writes them go with its maps.
    const std::optional<QRegularExpression> surfaceFiles =
        kind == MapRecord::Kind::Fractal    ? std::optional(surfaceFileNames(output.prefix))
        : kind == MapRecord::Kind::Gaussian ? std::optional(gaussianSurfaceNames(output.prefix))
                                            : std::nullopt;
    const QString stem = nameStem();
    const QString listName = QFileInfo(batchListName(stem)).fileName();
    const QString manifest = QFileInfo(manifestName(stem)).fileName();

    QStringList earlier;
    QStringList links;
    QStringList otherKind;
    m_earlierMaps.clear();
    // Files, and links wherever they point; a folder in the way of a name is
    // no earlier run's, and writing there fails with its own reason.
    const QFileInfoList entries = folder.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : entries) {
        const QString entry = info.fileName();
        if (info.isDir() && !info.isSymLink())
            continue;
        const bool ownMap = ownMaps.match(entry).hasMatch();
        const bool ours = ownMap || entry == listName || entry == manifest ||
                          (surfaceFiles && surfaceFiles->match(entry).hasMatch());
        if (!ours) {
            if (std::any_of(otherMaps.begin(), otherMaps.end(),
                            [&entry](const QRegularExpression &names) {
                                return names.match(entry).hasMatch();
                            }))
                otherKind.append(entry);
            continue;
        }
        if (info.isSymLink())
            links.append(entry);
        earlier.append(entry);
        if (ownMap)
            m_earlierMaps.append(entry);
    }

    using Kind = BatchRefusal::Kind;
    const QString shownFolder = QDir::toNativeSeparators(folder.path());
    if (!links.isEmpty())
        return BatchRefusal{Kind::Conflict,
                            tr("\"%1\" holds symbolic links at names this batch writes (%2); a run "
                               "never writes through a link, which could lead out of the folder: "
                               "remove them or choose another folder")
                                .arg(shownFolder, someNames(links))};
    if (!otherKind.isEmpty())
        return BatchRefusal{
            Kind::Conflict,
            tr("\"%1\" holds %2 maps with the prefix \"%3\" (%4); a %5 batch with the same "
               "prefix would share their batch list and manifest: choose another prefix or "
               "folder")
                .arg(shownFolder)
                .arg(otherKind.size())
                .arg(output.prefix, someNames(otherKind),
                     kind == MapRecord::Kind::Random    ? tr("random")
                     : kind == MapRecord::Kind::Fractal ? tr("fractal")
                                                        : tr("Gaussian field"))};
    if (!earlier.isEmpty() && !(output.overwrite || m_overwrite))
        return BatchRefusal{Kind::ExistingFiles,
                            tr("\"%1\" already holds %2 files of an earlier run with the prefix "
                               "\"%3\" (%4); this batch would replace them or sit beside them: "
                               "ask to overwrite them, or choose another folder or prefix")
                                .arg(shownFolder)
                                .arg(earlier.size())
                                .arg(output.prefix, someNames(earlier)),
                            earlier.size()};
    return std::nullopt;
}

FileResult BatchJob::removeEarlierRecords() const
{
    const QString stem = nameStem();
    for (const QString &name : {batchListName(stem), manifestName(stem)}) {
        const QFileInfo info(name);
        // A folder in the way is left to fail the write with its reason.
        if ((!info.exists() && !info.isSymLink()) || (info.isDir() && !info.isSymLink()))
            continue;
        QFile file(name);
        if (!file.remove())
            return FileError{QDir::toNativeSeparators(name), file.errorString()};
    }
    return std::nullopt;
}

BatchReport BatchJob::run(BatchProgress &progress)
{
    BatchReport report;
    report.refusal = prepare();
    if (report.refusal)
        return report;

    const QString stem = nameStem();
    report.batchListPath = batchListName(stem);
    report.manifestPath = manifestName(stem);
    // The old list and manifest go before the first map is replaced, so that
    // however this run ends, no list describes maps that are no longer the
    // ones it names.
    if (const FileResult error = removeEarlierRecords()) {
        report.result = BatchResult::failed(error->message());
        return report;
    }
    report.result = m_source->writeMaps(stem, report.maps, progress);
    report.batchListError = writeBatchList(report.fileNames(), stem, m_source->output().postString);
    report.manifestError = writeManifest(report.maps, stem, m_source->manifestColumns());
    if (report.result.status == BatchResult::Status::Completed)
        report.shortfalls = m_source->shortfalls(report.maps);

    QSet<QString> rewritten;
    for (const MapRecord &map : std::as_const(report.maps))
        rewritten.insert(QFileInfo(map.fileName).fileName());
    report.olderMapsKept =
        std::count_if(m_earlierMaps.begin(), m_earlierMaps.end(),
                      [&](const QString &name) { return !rewritten.contains(name); });
    m_lock.reset();
    return report;
}
