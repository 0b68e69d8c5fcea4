// SPDX-License-Identifier: GPL-3.0-or-later
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
    // One wait for the disk for the whole group: the maps of a run share a
    // folder, so syncing the file system that holds the first puts every
    // one of them on disk.
    if (m_sync && !maps.empty()) {
#ifdef Q_OS_LINUX
        if (!maps.front().files.empty() && (failure = maps.front().files.front().syncFileSystem()))
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
        for (PendingFile &file : map.files) {
            if ((failure = file.publish()))
                break;
        }
        if (!failure && map.listed)
            m_written.append(std::move(map.record));
    }
    return failure ? failure : syncFailure;
}

void MapPublisher::discard()
{
    m_pending.clear();
    m_pendingBytes = 0;
}
