// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/batchjob.h"

#include "core/batch/batchlist.h"
#include "core/batch/batchmanifest.h"
#include "core/batch/batchoptions.h"
#include "core/batch/mapnames.h"
#include "core/files/filelock.h"
#include "core/files/outputpaths.h"
#include "core/files/regularfile.h"
#include "core/files/writefully.h"
#include "core/version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("BatchJob", text);
}

// QSaveFile writes beside its target under the target's name and a dot and
// six characters, which must fit the file system as well as the names
// themselves.
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

// What a name holds when it is not a regular file: a FIFO, a folder, a
// link (wherever it points), ...; nothing when it is one or is free.
std::optional<QString> nonRegularFileKind(const QString &path)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode))
        return std::nullopt;
    if (S_ISFIFO(info.st_mode))
        return tr("a FIFO");
    if (S_ISDIR(info.st_mode))
        return tr("a folder");
    if (S_ISLNK(info.st_mode))
        return tr("a symbolic link");
    if (S_ISSOCK(info.st_mode))
        return tr("a socket");
    return tr("a device");
}

// What a run's journal holds: the run's record on its first line, a line
// per file named, then the zeros of the room the run set aside. One larger
// than any run could write is read no further than that.
struct Journal {
    std::optional<RunRecord> header;
    QStringList names;
};

Journal readJournal(const QString &path)
{
    constexpr qint64 mostBytes = qint64(64) << 20;
    Journal journal;
    QFile file;
    if (openRegularFile(path, file))
        return journal;
    QByteArray content = file.read(mostBytes);
    if (const qsizetype end = content.indexOf('\0'); end >= 0)
        content.truncate(end);
    QList<QByteArray> lines = content.split('\n');
    // A header cut short by a crash is no record, and names no file.
    if (!lines.isEmpty() && lines.first().startsWith('{')) {
        journal.header = RunRecord::fromJsonLine(lines.first());
        lines.removeFirst();
    }
    for (const QByteArray &line : std::as_const(lines))
        if (!line.isEmpty())
            journal.names.append(QFile::decodeName(line));
    return journal;
}

// Columns a resumed run writes anew for every map: the release, and how a
// cell with targets fared, which is known only at the end.
bool rewrittenColumn(const QByteArray &name)
{
    return name == "version" || name == "cell_draws" || name == "cell_acceptance";
}

} // namespace

QStringList BatchReport::failures() const
{
    QStringList lines;
    if (result.status == BatchResult::Status::Failed)
        lines.append(tr("stopped after %1 maps: %2").arg(maps.size()).arg(result.message));
    for (const auto &[what, error] :
         {std::pair{tr("batch list"), &batchListError}, std::pair{tr("manifest"), &manifestError},
          std::pair{tr("table of metrics"), &metricsTableError},
          std::pair{tr("record of the share"), &shardRecordError}})
        if (*error)
            lines.append(tr("%1 not written: %2").arg(what, (*error)->message()));
    return lines;
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

BatchJob::BatchJob(const FamilyRequest &request)
    : m_source(request.family().source(request))
{}

BatchJob::~BatchJob() = default;
BatchJob::BatchJob(BatchJob &&) noexcept = default;
BatchJob &BatchJob::operator=(BatchJob &&) noexcept = default;

RunRecord BatchJob::runRecord() const
{
    return {QLatin1String(m_source->family().word()), shareText(m_source->output().shard),
            QString::fromLatin1(patchwrightVersion), m_source->requestRecord()};
}

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
    // A folder that cannot be made is told with the system's reason before
    // the space of the disk it would be on is weighed.
    QString created;
    if (const auto refusal = prepareOutputFolder(folder, &created))
        return BatchRefusal{Kind::Folder, *refusal};
    // A batch the disk cannot hold is refused now, not found out hours later,
    // and leaves no folder behind made only for it. A resumed run needs room
    // only for the files that are not there yet.
    FilesPresent present;
    if (m_source->output().resume)
        for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            if (!file.isSymLink() && m_source->writesFile(file.fileName())) {
                present.bytes += double(file.size());
                ++present.files;
            }
    if (const auto refusal = m_source->diskSpaceRefusal(folder, present)) {
        removeCreatedFolders(folder, created);
        return BatchRefusal{Kind::DiskSpace, *refusal};
    }
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
    for (const QString &name :
         {m_source->longestMapName(stem), batchListName(stem), manifestName(stem),
          lockFileName(stem), journalName(stem), shardRecordName(stem)}) {
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
                .arg(QDir::toNativeSeparators(folder), QString::number(nameMax), longestName,
                     QString::number(longest), QString::number(temporarySuffixLength))};
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
    const QString shownName = QDir::toNativeSeparators(name);
    // Only a regular file can be a run's lock. Reading anything else as one
    // would wait on a pipe forever or report a process that does not exist.
    if (const auto what = nonRegularFileKind(name))
        return BatchRefusal{BatchRefusal::Kind::Conflict,
                            tr("\"%1\" is %2, not the lock file of a run, so no run holds it; "
                               "remove it, or choose another folder or prefix")
                                .arg(shownName, *what)};
    // The kernel holds the lock for as long as this run lives: a killed
    // run's lock is free at once, whatever process has its id by then.
    auto taken = FileLock::take(name);
    if (auto *lock = std::get_if<FileLock>(&taken)) {
        m_lock = std::make_unique<FileLock>(std::move(*lock));
        return std::nullopt;
    }
    const FileLock::Refusal &refusal = std::get<FileLock::Refusal>(taken);
    const QString shownFolder =
        QDir::toNativeSeparators(QDir(m_source->output().folder).absolutePath());
    switch (refusal.kind) {
    case FileLock::Refusal::Kind::Held:
        if (refusal.holder.pid <= 0)
            return BatchRefusal{BatchRefusal::Kind::Locked,
                                tr("another run is writing into \"%1\" with the prefix \"%2\"; "
                                   "wait for it to end, or choose another folder or prefix")
                                    .arg(shownFolder, m_source->output().prefix)};
        return BatchRefusal{
            BatchRefusal::Kind::Locked,
            tr("another run (process %1 on %2) is writing into \"%3\" with the prefix \"%4\"; "
               "wait for it to end, or choose another folder or prefix")
                .arg(QString::number(refusal.holder.pid),
                     refusal.holder.host.isEmpty() ? tr("this computer") : refusal.holder.host,
                     shownFolder, m_source->output().prefix)};
    case FileLock::Refusal::Kind::NotALock:
        return BatchRefusal{BatchRefusal::Kind::Conflict,
                            tr("\"%1\" is %2, not the lock file of a run, so no run holds it; "
                               "remove it, or choose another folder or prefix")
                                .arg(shownName, refusal.reason)};
    case FileLock::Refusal::Kind::Failed:
        break;
    }
    return BatchRefusal{BatchRefusal::Kind::Folder,
                        tr("cannot create the lock file \"%1\" that keeps other runs out of the "
                           "folder while this one writes: %2")
                            .arg(shownName, refusal.reason)};
}

std::optional<BatchRefusal> BatchJob::earlierRunRefusal()
{
    const BatchOutput &output = m_source->output();
    const QDir folder(QDir(output.folder).absolutePath());
    const MapFamily &family = m_source->family();
    // What a name in the folder is to this run: a map or a surface of its
    // family's, by the family's own names, after the prefix.
    const auto placeOf = [&output](const MapFamily &of,
                                   const QString &entry) -> std::optional<NamePlace> {
        if (!entry.startsWith(output.prefix))
            return std::nullopt;
        return of.names().read(QStringView(entry).mid(output.prefix.size()));
    };
    const auto ownMap = [&](const QString &entry) {
        const auto place = placeOf(family, entry);
        return place && !place->surface;
    };
    const auto otherMap = [&](const QString &entry) {
        for (const MapFamily *other : mapFamilies())
            if (other != &family)
                if (const auto place = placeOf(*other, entry); place && !place->surface)
                    return true;
        return false;
    };
    const QString stem = nameStem();
    const QString listName = QFileInfo(batchListName(stem)).fileName();
    const QString manifest = QFileInfo(manifestName(stem)).fileName();
    const QString table = QFileInfo(metricsTableName(stem)).fileName();
    const QString journal = QFileInfo(journalName(stem)).fileName();
    const QString shareRecord = QFileInfo(shardRecordName(stem)).fileName();
    // The surfaces of a family that writes them go with its maps.
    const auto isOurs = [&](const QString &entry) {
        return placeOf(family, entry) || entry == listName || entry == manifest || entry == table ||
               entry == shareRecord;
    };

    QStringList earlier;
    QStringList links;
    QStringList otherKind;
    bool unfinished = false;
    m_earlierMaps.clear();
    m_leftovers.clear();
    // Files, and links wherever they point; a folder in the way of a name is
    // no earlier run's, and writing there fails with its own reason.
    const QFileInfoList entries = folder.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : entries) {
        const QString entry = info.fileName();
        if (info.isDir() && !info.isSymLink())
            continue;
        const bool ours = isOurs(entry);
        if (entry == journal) {
            if (info.isSymLink())
                links.append(entry);
            else
                unfinished = true;
            continue;
        }
        // A file being written has the name of its target, a dot and six
        // letters or digits; a killed run leaves it behind.
        if (!ours && entry.size() > 7 && entry.at(entry.size() - 7) == QLatin1Char('.') &&
            isOurs(entry.chopped(7)) && !info.isSymLink()) {
            m_leftovers.append(entry);
            continue;
        }
        if (!ours) {
            if (otherMap(entry))
                otherKind.append(entry);
            continue;
        }
        if (info.isSymLink())
            links.append(entry);
        earlier.append(entry);
        if (ownMap(entry))
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
                .arg(shownFolder, QString::number(otherKind.size()), output.prefix,
                     someNames(otherKind), QLatin1String(family.word()))};
    if (output.resume)
        return resumeRefusal(earlier, unfinished);
    if (unfinished && !earlier.isEmpty() && !(output.overwrite || m_overwrite)) {
        const QStringList journalLines = readJournal(folder.filePath(journal)).names;
        const QSet<QString> journaled(journalLines.begin(), journalLines.end());
        QStringList own;
        QStringList older;
        for (const QString &entry : std::as_const(earlier))
            (journaled.contains(entry) ? own : older).append(entry);
        return BatchRefusal{
            Kind::ExistingFiles,
            tr("\"%1\" holds the files of a run with the prefix \"%2\" that did not finish: "
               "%3 maps and surfaces written by it (named in \"%4\") beside %5 files of an "
               "earlier run (%6); ask to overwrite them, or choose another folder or prefix")
                    .arg(shownFolder, output.prefix, QString::number(own.size()),
                         QDir::toNativeSeparators(folder.filePath(journal)),
                         QString::number(older.size()), someNames(older)) +
                Phrase::marked(QStringLiteral(" ({overwrite})")),
            earlier.size()};
    }
    if (!earlier.isEmpty() && !(output.overwrite || m_overwrite))
        return BatchRefusal{Kind::ExistingFiles,
                            tr("\"%1\" already holds %2 files of an earlier run with the prefix "
                               "\"%3\" (%4); this batch would replace them or sit beside them: "
                               "ask to overwrite them, or choose another folder or prefix")
                                    .arg(shownFolder, QString::number(earlier.size()),
                                         output.prefix, someNames(earlier)) +
                                Phrase::marked(QStringLiteral(" ({overwrite})")),
                            earlier.size()};
    return std::nullopt;
}

std::optional<BatchRefusal> BatchJob::resumeRefusal(const QStringList &earlier, bool killed)
{
    using Kind = BatchRefusal::Kind;
    const QString stem = nameStem();
    const QString shownFolder =
        QDir::toNativeSeparators(QDir(m_source->output().folder).absolutePath());
    const RunRecord mine = runRecord();
    m_stopped = StoppedRun();
    m_stopped.killed = killed;
    const auto anotherRequest = [&](const QString &source, const QStringList &differences) {
        return BatchRefusal{Kind::Conflict,
                            Phrase::marked(tr("\"%1\" holds another request's run, not this "
                                              "one's (%2 records %3); it is left as it is: resume "
                                              "with that request, or choose another folder, or "
                                              "replace it with {overwrite}"))
                                .arg(shownFolder)
                                .arg(source)
                                .arg(differences.join(QStringLiteral(", ")))};
    };

    // What the folder records of the run that stopped there, most telling
    // first: the journal of a killed run, a share's record, the manifest of a
    // run stopped by a full disk or by the user.
    if (killed) {
        const Journal journal = readJournal(journalName(stem));
        if (journal.header) {
            if (const QStringList differences = mine.differencesFrom(*journal.header);
                !differences.isEmpty())
                return anotherRequest(QDir::toNativeSeparators(journalName(stem)), differences);
            m_stopped.recorded = true;
            m_stopped.sameRequest = true;
        }
        m_stopped.named = QSet<QString>(journal.names.begin(), journal.names.end());
    }
    if (QFileInfo(shardRecordName(stem)).isFile()) {
        // A record that cannot be read is no record; the run writes it anew.
        const auto read = readShareRecord(shardRecordName(stem));
        if (const auto *share = std::get_if<ShareRecord>(&read)) {
            if (const QStringList differences = mine.differencesFrom(share->run);
                !differences.isEmpty())
                return anotherRequest(QDir::toNativeSeparators(shardRecordName(stem)), differences);
            m_stopped.recorded = true;
            if (!killed)
                for (const ShareRecord::Map &map : share->maps)
                    m_stopped.named << map.file << map.surface;
        }
    }
    QFile manifest;
    if (!killed && QFileInfo::exists(manifestName(stem))) {
        if (const FileResult error = openRegularFile(manifestName(stem), manifest))
            return BatchRefusal{
                Kind::Conflict,
                tr("cannot read the manifest of the run to resume: %1").arg(error->message())};
        const QString shownManifest = QDir::toNativeSeparators(manifestName(stem));
        const QByteArray header = manifestHeader(m_source->manifestColumns());
        if (manifest.readLine() != header)
            return anotherRequest(shownManifest, {tr("other columns")});
        m_stopped.manifestHeader = header.trimmed();
        while (!manifest.atEnd()) {
            const QByteArray line = manifest.readLine().trimmed();
            if (line.isEmpty())
                continue;
            const QString file = QString::fromUtf8(splitManifestRow(line).first());
            if (!m_source->writesFile(file))
                return anotherRequest(shownManifest, {tr("the map %1").arg(file)});
            m_stopped.named.insert(file);
            m_stopped.manifestRows.insert(file, line);
        }
        m_stopped.recorded = true;
    }
    m_stopped.named.remove(QString());

    // Maps this request does not make: an earlier run's, left as any run
    // leaves them, when the run that stopped here was this request's;
    // another request's run otherwise.
    const QStringList records{QFileInfo(batchListName(stem)).fileName(),
                              QFileInfo(manifestName(stem)).fileName(),
                              QFileInfo(shardRecordName(stem)).fileName()};
    QStringList foreign;
    for (const QString &entry : earlier)
        if (!records.contains(entry) && !m_source->writesFile(entry))
            foreign.append(entry);
    if (!foreign.isEmpty() && !m_stopped.recorded)
        return BatchRefusal{Kind::Conflict,
                            Phrase::marked(tr("\"%1\" holds %2 files with the prefix \"%3\" that "
                                              "this request does not make (%4), and no record of "
                                              "a run of this request: it holds another request's "
                                              "run, which is left as it is; choose another "
                                              "folder, or replace it with {overwrite}"))
                                .arg(shownFolder)
                                .arg(QString::number(foreign.size()))
                                .arg(m_source->output().prefix)
                                .arg(someNames(foreign))};
    return std::nullopt;
}

MapPublisher::Resumption BatchJob::resumption(std::atomic<bool> &touched,
                                              std::atomic<qint64> &kept) const
{
    MapPublisher::Resumption resumption;
    resumption.kept = [&kept] { ++kept; };
    // A file the stopped run did not write, at a name it was to write, is
    // the earlier run's that it would have replaced, had it not stopped; so
    // is any that differs where a killed run's journal held this request.
    resumption.mayReplace = [this, &touched](const QString &target) {
        const bool replace =
            m_stopped.sameRequest ||
            (m_stopped.recorded && !m_stopped.named.contains(QFileInfo(target).fileName()));
        if (replace)
            touched = true;
        return replace;
    };
    if (!m_stopped.manifestRows.isEmpty())
        resumption.checkKept = [this](const MapRecord &record) { return checkKeptRow(record); };
    return resumption;
}

FileResult BatchJob::checkKeptRow(const MapRecord &record) const
{
    const QString file = QFileInfo(record.fileName).fileName();
    const auto row = m_stopped.manifestRows.constFind(file);
    if (row == m_stopped.manifestRows.constEnd())
        return std::nullopt;
    const QList<QByteArray> names = m_stopped.manifestHeader.split(',');
    const QList<QByteArray> old = splitManifestRow(*row);
    const QList<QByteArray> now =
        splitManifestRow(manifestRow(record, m_source->manifestColumns()).trimmed());
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (rewrittenColumn(names[i]) || old.value(i) == now.value(i))
            continue;
        return FileError{QDir::toNativeSeparators(manifestName(nameStem())),
                         tr("gives the map \"%1\" %2 %3 where this request makes %4: the folder "
                            "holds another request's run, which is left as it is")
                             .arg(file, QString::fromUtf8(names[i]),
                                  QString::fromUtf8(old.value(i)),
                                  QString::fromUtf8(now.value(i)))};
    }
    return std::nullopt;
}

FileResult BatchJob::writeShareRecord(const BatchReport &report,
                                      const QHash<QString, Fingerprint> &fingerprints) const
{
    const BatchOutput &output = m_source->output();
    ShareRecord record;
    record.run = runRecord();
    // A share is complete only when it made every map of its part and
    // wrote their list and manifest; merge takes nothing else.
    record.complete = report.result.status == BatchResult::Status::Completed &&
                      !report.batchListError && !report.manifestError && !report.metricsTableError;
    // A whole batch that ran to its end is described by its list and
    // manifest. One that stopped short keeps its request in the record a
    // share keeps, since its list and manifest do not say all of it (the
    // cell size and neighbours of metrics it has not yet measured): a run
    // that differs is refused before it makes a map, not at the first.
    if (!output.shard && record.complete) {
        const QString name = shardRecordName(nameStem());
        const QFileInfo earlier(name);
        QFile file(name);
        if ((earlier.isFile() || earlier.isSymLink()) && !file.remove())
            return FileError{
                QDir::toNativeSeparators(name),
                tr("the record of the run this one finished stays: %1").arg(file.errorString())};
        return std::nullopt;
    }
    record.maps.reserve(std::size_t(report.maps.size()));
    const ManifestColumns columns = m_source->manifestColumns();
    const QString axis = m_source->request().sweepAxis().name;
    for (const MapRecord &map : report.maps) {
        const QString file = QFileInfo(map.fileName).fileName();
        record.maps.push_back({map.position, file, map.surfaceFile, fingerprints.value(file),
                               fingerprints.value(map.surfaceFile),
                               fingerprintOf(manifestRow(map, columns).chopped(1)),
                               output.metricTable.isEmpty()
                                   ? Fingerprint{}
                                   : fingerprintOf(metricsTableRows(map, axis))});
    }
    return ::writeShareRecord(shardRecordName(nameStem()), record,
                              output.sync ? OnDisk::Wait : OnDisk::DontWait);
}

FileResult BatchJob::removeEarlierRecords() const
{
    const QString stem = nameStem();
    for (const QString &name :
         {batchListName(stem), manifestName(stem), metricsTableName(stem), shardRecordName(stem)}) {
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

void BatchJob::removeLeftovers() const
{
    const QDir folder(QDir(m_source->output().folder).absolutePath());
    // A temporary file that cannot be removed is only clutter; the run
    // does not depend on it.
    for (const QString &name : m_leftovers)
        QFile::remove(folder.filePath(name));
}

BatchReport BatchJob::run(BatchProgress &progress)
{
    BatchReport report;
    report.refusal = prepare();
    if (report.refusal)
        return report;

    const BatchOutput &output = m_source->output();
    const QString stem = nameStem();
    report.batchListPath = batchListName(stem);
    report.manifestPath = manifestName(stem);
    // Until the list and the manifest are written, the journal says which
    // request this run makes and which files it named: a run killed halfway
    // through replacing an earlier one leaves the next run able to tell them
    // apart, and one resuming it able to tell its request. A pipe at its
    // name would hold the run forever.
    QFile journal(journalName(stem));
    const QString shownJournal = QDir::toNativeSeparators(journal.fileName());
    if (const auto what = nonRegularFileKind(journal.fileName())) {
        report.result = BatchResult::failed(
            FileError{shownJournal, tr("%1 stands at the name of the run's journal").arg(*what)}
                .message());
        return report;
    }
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        report.result =
            BatchResult::failed(FileError{shownJournal, journal.errorString()}.message());
        return report;
    }
    // A resumed run names again what the run it finishes had named, so that
    // it can be killed in turn and resumed. Under a limit on the size of one
    // file that the request would take half of, the journal holds the names
    // alone: such a limit is no full disk (see the room set aside below).
    QByteArray head = runRecord().toJsonLine() + '\n';
    if (rlimit limit{}; ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
                        limit.rlim_cur < rlim_t(head.size()) * 2)
        head.clear();
    for (const QString &name : std::as_const(m_stopped.named))
        head += QFile::encodeName(name) + '\n';
    if (const auto error = writeFully(journal, head)) {
        journal.remove();
        report.result = BatchResult::failed(FileError{shownJournal, *error}.message());
        return report;
    }
    // The journal holds, until the maps are done, the room the batch list
    // and the manifest will take: a disk that fills up during the run
    // cannot take it from them. A limit on the size of one file (EFBIG) is
    // no full disk: the three files are then written as they come.
    if (const int error =
            ::posix_fallocate(journal.handle(), 0, off_t(head.size() + m_source->recordBytes()));
        error == ENOSPC || error == EDQUOT) {
        journal.remove();
        report.result = BatchResult::failed(
            FileError{shownJournal, tr("no room for the batch list and the manifest (%1 bytes): %2")
                                        .arg(QString::number(m_source->recordBytes()),
                                             QString::fromLocal8Bit(std::strerror(error)))}
                .message());
        return report;
    }
    // Whether the run named a file that was not there, or replaced one:
    // a resumed run that did neither leaves the folder as it found it.
    std::atomic<bool> touched = false;
    const auto journalNames = [&journal, &shownJournal,
                               &touched](const QStringList &targets) -> FileResult {
        QByteArray lines;
        for (const QString &target : targets) {
            lines += QFile::encodeName(QFileInfo(target).fileName()) + '\n';
            if (!touched && !QFileInfo(target).isFile())
                touched = true;
        }
        if (const auto error = writeFully(journal, lines))
            return FileError{shownJournal, *error};
        return std::nullopt;
    };
    // The old list and manifest go before the first map is replaced, so that
    // however this run ends, no list describes maps that are no longer the
    // ones it names. A resumed run replaces none that a list of its
    // request names; the records of a killed run's folder may be an earlier
    // run's, and go as that run would have removed them.
    if (!output.resume || m_stopped.killed) {
        if (const FileResult error = removeEarlierRecords()) {
            journal.remove();
            report.result = BatchResult::failed(error->message());
            return report;
        }
    }
    removeLeftovers();
    // What a share's files hold is recorded for `merge` to check.
    QHash<QString, Fingerprint> fingerprints;
    std::atomic<qint64> kept = 0;
    report.result =
        m_source->writeMaps(stem, report.maps, progress, journalNames,
                            output.resume ? std::optional(resumption(touched, kept)) : std::nullopt,
                            output.shard ? &fingerprints : nullptr);
    report.resumed = output.resume;
    report.mapsResumed = kept;
    // The room set aside goes to the list and the manifest; the names stay
    // until both are written.
    journal.resize(journal.pos());
    if (output.resume && !touched && report.result.status != BatchResult::Status::Completed) {
        // Nothing changed: the records of the run it was to finish still
        // describe the folder, and a journal that was not there goes.
        journal.close();
        if (!m_stopped.killed)
            journal.remove();
        report.folderUntouched = true;
        m_lock.reset();
        return report;
    }
    // A run that did not wait for the disk for its maps does not wait for
    // it at the end either.
    const OnDisk onDisk = output.sync ? OnDisk::Wait : OnDisk::DontWait;
    report.batchListError = writeBatchList(report.fileNames(), stem, output.postString, onDisk);
    m_source->settleRecords(report.maps);
    // The long table, tens of rows a map, is written beside the manifest
    // rather than after it: both only read the settled records. Without a
    // thread to spare, it is written after the manifest.
    const QList<MapRecord> &maps = report.maps;
    std::future<FileResult> table;
    if (!output.metricTable.isEmpty()) {
        report.metricsTablePath = metricsTableName(stem);
        table = std::async(std::launch::async | std::launch::deferred,
                           [&maps, &stem, axis = m_source->request().sweepAxis().name, onDisk] {
                               return writeMetricsTable(maps, stem, axis, onDisk);
                           });
    }
    report.manifestError = writeManifest(maps, stem, m_source->manifestColumns(), onDisk);
    if (table.valid())
        report.metricsTableError = table.get();
    report.shardRecordError = writeShareRecord(report, fingerprints);
    // Once the batch list names the run's maps, it is the record of the
    // run; the journal stays only for a run that could not write it.
    journal.close();
    if (!report.batchListError)
        journal.remove();
    if (report.result.status == BatchResult::Status::Completed)
        report.shortfalls = m_source->shortfalls(MapTally::of(report.maps));
    report.acceptance = m_source->acceptance();

    QSet<QString> rewritten;
    for (const MapRecord &map : std::as_const(report.maps))
        rewritten.insert(QFileInfo(map.fileName).fileName());
    report.olderMapsKept =
        std::count_if(m_earlierMaps.begin(), m_earlierMaps.end(),
                      [&](const QString &name) { return !rewritten.contains(name); });
    m_lock.reset();
    return report;
}
