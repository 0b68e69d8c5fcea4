#include "core/mappublisher.h"

#include <QFileInfo>

#include <utility>

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
    discard();
}

FileResult MapPublisher::add(FinishedMap map)
{
    if (m_consumer) {
        if (map.listed)
            m_consumer(std::move(map.record), std::move(map.cells));
        return std::nullopt;
    }
    for (const PendingFile &file : map.files)
        m_pendingBytes += QFileInfo(file.temporaryPath()).size();
    m_pending.push_back(std::move(map));
    if (!m_sync || qsizetype(m_pending.size()) >= groupMaps || m_pendingBytes >= groupBytes)
        return flush();
    return std::nullopt;
}

FileResult MapPublisher::flush()
{
    FileResult failure;
    [[maybe_unused]] FileResult syncFailure;
    std::size_t synced = m_pending.size();
    // One wait for the disk for the whole group: the maps of a run share a
    // folder, so syncing the file system that holds the first puts every
    // one of them on disk.
    if (m_sync && !m_pending.empty()) {
#ifdef Q_OS_LINUX
        if (!m_pending.front().files.empty() &&
            (failure = m_pending.front().files.front().syncFileSystem()))
            synced = 0;
#else
        // Without a wait for the whole file system, each file waits for
        // itself; the maps before the first that fails are still named.
        for (std::size_t i = 0; i < m_pending.size() && !syncFailure; ++i) {
            for (PendingFile &file : m_pending[i].files) {
                if ((syncFailure = file.sync())) {
                    synced = i;
                    break;
                }
            }
        }
#endif
    }
    for (std::size_t i = 0; i < synced && !failure; ++i) {
        FinishedMap &map = m_pending[i];
        for (PendingFile &file : map.files) {
            if ((failure = file.publish()))
                break;
        }
        if (!failure && map.listed)
            m_written.append(std::move(map.record));
    }
    discard();
    return failure ? failure : syncFailure;
}

void MapPublisher::discard()
{
    m_pending.clear();
    m_pendingBytes = 0;
}
