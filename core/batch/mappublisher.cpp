// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mappublisher.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

// Whether two files hold the same bytes; nothing, with the reason, when one
// cannot be read.
std::optional<bool> sameContent(const QString &a, const QString &b, QString &reason)
{
    QFile first(a);
    QFile second(b);
    for (QFile *file : {&first, &second})
        if (!file->open(QIODevice::ReadOnly)) {
            reason = file->errorString();
            return std::nullopt;
        }
    if (first.size() != second.size())
        return false;
    constexpr qint64 chunk = qint64(1) << 20;
    while (!first.atEnd()) {
        const QByteArray left = first.read(chunk);
        const QByteArray right = second.read(chunk);
        for (QFile *file : {&first, &second})
            if (file->error() != QFileDevice::NoError) {
                reason = file->errorString();
                return std::nullopt;
            }
        if (left.isEmpty() || left != right)
            return false;
    }
    return true;
}

} // namespace

MapPublisher::MapPublisher(QList<MapRecord> &written, bool syncToDisk)
    : m_written(written)
    , m_sync(syncToDisk)
{}

MapPublisher::MapPublisher(Consumer consumer)
    : m_written(m_unused)
    , m_sync(false)
    , m_consumer(std::move(consumer))
{}

MapPublisher::~MapPublisher()
{
    // A run reports how its last group ended through flush(); here the
    // group is only waited for, so that no thread outlives the run's list.
    waitForNaming();
    discard();
}

FileResult MapPublisher::add(FinishedMap map)
{
    if (m_made && map.listed)
        m_made();
    if (m_consumer) {
        if (map.listed)
            m_consumer(std::move(map.record), std::move(map.cells));
        return std::nullopt;
    }
    for (const PendingFile &file : map.files)
        m_pendingBytes += QFileInfo(file.temporaryPath()).size();
    m_pending.push_back(std::move(map));
    if (!m_sync)
        return flush();
    if (qsizetype(m_pending.size()) >= groupMaps || m_pendingBytes >= groupBytes)
        return startNaming();
    return std::nullopt;
}

FileResult MapPublisher::startNaming()
{
    if (FileResult failure = waitForNaming()) {
        discard();
        return failure;
    }
    if (!m_namer)
        m_namer = std::make_unique<HelperThread>();
    m_naming = std::move(m_pending);
    discard();
    m_namingStarted = true;
    m_namer->start([this] { m_namingResult = name(m_naming); });
    return std::nullopt;
}

FileResult MapPublisher::waitForNaming()
{
    if (!m_namingStarted)
        return std::nullopt;
    m_namer->wait();
    m_namingStarted = false;
    m_naming.clear();
    return std::exchange(m_namingResult, std::nullopt);
}

FileResult MapPublisher::flush()
{
    FileResult failure = waitForNaming();
    if (!failure)
        failure = name(m_pending);
    discard();
    return failure;
}

FileResult MapPublisher::name(std::vector<FinishedMap> &maps)
{
    FileResult failure;
    [[maybe_unused]] FileResult syncFailure;
    std::size_t synced = maps.size();
    // A resumed run drops the new copy of a file already there with the
    // same bytes before it waits for the disk: the file it keeps is there.
    PendingFile *written = nullptr;
    for (FinishedMap &map : maps)
        for (PendingFile &file : map.files) {
            if (m_fingerprints && file.isPending()) {
                auto taken = fingerprintOfFile(file.temporaryPath());
                if (const auto *error = std::get_if<FileError>(&taken))
                    return *error;
                m_fingerprints->insert(QFileInfo(file.target()).fileName(),
                                       std::get<Fingerprint>(taken));
            }
            if (m_resumption && isKept(file))
                file.discard();
            else if (!written)
                written = &file;
        }
    // One wait for the disk for the whole group: the maps of a run share a
    // folder, so syncing the file system that holds one puts every one of
    // them on disk.
    if (m_sync && written) {
#ifdef Q_OS_LINUX
        if ((failure = written->syncFileSystem()))
            synced = 0;
#else
        // Without a wait for the whole file system, each file waits for
        // itself; the maps before the first that fails are still named.
        for (std::size_t i = 0; i < maps.size() && !syncFailure; ++i) {
            for (PendingFile &file : maps[i].files) {
                if ((syncFailure = file.sync())) {
                    synced = i;
                    break;
                }
            }
        }
#endif
    }
    for (std::size_t i = 0; i < synced && !failure; ++i) {
        FinishedMap &map = maps[i];
        if (m_beforeNaming) {
            QStringList targets;
            for (const PendingFile &file : map.files)
                targets.append(file.target());
            if ((failure = m_beforeNaming(targets)))
                break;
        }
        bool allKept = !map.files.empty();
        for (PendingFile &file : map.files) {
            // A file dropped above is kept as it is.
            allKept = allKept && !file.isPending();
            if (file.isPending() && (failure = m_resumption ? nameOrReplace(file) : file.publish()))
                break;
        }
        if (!failure && m_resumption && allKept && map.listed && m_resumption->checkKept)
            failure = m_resumption->checkKept(map.record);
        if (!failure && m_resumption && allKept && map.listed && m_resumption->kept)
            m_resumption->kept();
        if (!failure && map.listed)
            m_written.append(std::move(map.record));
    }
    return failure ? failure : syncFailure;
}

bool MapPublisher::isKept(const PendingFile &file)
{
    // A link at a target was refused before the run started; one that
    // appeared since is replaced, never followed, as any run replaces it.
    const QFileInfo existing(file.target());
    QString reason;
    return existing.isFile() && !existing.isSymLink() &&
           sameContent(file.temporaryPath(), file.target(), reason).value_or(false);
}

FileResult MapPublisher::nameOrReplace(PendingFile &file) const
{
    const QFileInfo existing(file.target());
    if (!existing.isFile() || existing.isSymLink() ||
        (m_resumption->mayReplace && m_resumption->mayReplace(file.target())))
        return file.publish();
    // What cannot be read, or holds other bytes, is left as it is.
    QString reason;
    const std::optional<bool> same = sameContent(file.temporaryPath(), file.target(), reason);
    file.discard();
    return FileError{file.target(),
                     same ? QCoreApplication::translate(
                                "MapPublisher",
                                "holds other bytes than this request makes under that name: the "
                                "folder holds another request's run, which is left as it is")
                          : reason};
}

void MapPublisher::discard()
{
    m_pending.clear();
    m_pendingBytes = 0;
}
