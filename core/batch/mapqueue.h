// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/batch/batchresult.h"
#include "core/batch/maprecord.h"
#include "core/batch/mapsource.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A map of a batch kept in memory: its record and its codes, row by row.
struct QueuedMap {
    MapRecord record;
    MapCells cells;
};

// The one way a batch runs in memory, for every front end that keeps maps
// rather than files (Python, R without a folder): on a thread of its own,
// with the maps it makes in a short queue, for a reader that takes them one
// at a time, at its own pace. The
// maker waits while the queue is full, so a batch of thousands of large maps
// never holds more than a few of them; the reader waits with a time limit, so
// that it can look after other things (a Python interpreter's signals)
// between two waits. Nothing here knows of Python.
class MapQueue final {
public:
    // Starts making the maps at once. The names in the records are
    // nameStem followed by each map's own tail.
    MapQueue(std::unique_ptr<MapSource> source, const QString &nameStem,
             std::size_t capacity = defaultCapacity);
    // Cancels the batch and waits for its thread.
    ~MapQueue();
    MapQueue(const MapQueue &) = delete;
    MapQueue &operator=(const MapQueue &) = delete;

    // Two maps: one to hand over while the next is being made.
    static constexpr std::size_t defaultCapacity = 2;

    enum class Status {
        // A map was taken.
        Map,
        // The batch has ended and every map it made has been taken.
        End,
        // Neither within the time given.
        Waiting,
    };
    Status next(std::chrono::milliseconds timeout, std::optional<QueuedMap> &map);

    // Stops the batch at its next check; the maps not yet taken are dropped,
    // and next() gives End once the batch has stopped. It does not wait, so
    // it may be called while another thread waits in next().
    void cancel();

    // Once next() gave End: how the batch ended, and what it threw, if it
    // threw (a map too large for memory, say).
    const BatchResult &result() const { return m_result; }
    std::exception_ptr failure() const { return m_failure; }
    // Once next() gave End after a whole batch: the covers or cells that got
    // fewer maps than asked, in the source's words, and how each cell of a
    // batch with targets fared.
    const QList<Phrase> &shortfalls() const { return m_shortfalls; }
    const QStringList &acceptance() const { return m_acceptance; }
    // Once next() gave End: for a batch with targets, the records of its
    // maps in the order they were taken, with what they say of their cells
    // (MapSource::settleRecords), which only the end of a cell tells.
    const QList<MapRecord> &settledRecords() const { return m_settled; }

private:
    void add(MapRecord record, MapCells cells);
    void run(const QString &nameStem);

    std::unique_ptr<MapSource> m_source;
    const std::size_t m_capacity;
    std::mutex m_mutex;
    // Signalled when a map was added or the batch ended.
    std::condition_variable m_filled;
    // Signalled when a map was taken or the batch was cancelled.
    std::condition_variable m_emptied;
    std::deque<QueuedMap> m_maps;
    // Read by the batch at each of its checks without the lock; written
    // under it, so that a maker about to wait for room cannot miss it.
    std::atomic<bool> m_canceled = false;
    bool m_done = false;
    BatchResult m_result;
    std::exception_ptr m_failure;
    // The maps made, a count a cell, for the shortfalls; written by the
    // batch's thread only.
    MapTally m_made;
    QList<Phrase> m_shortfalls;
    QStringList m_acceptance;
    // The records of a batch with targets, kept to be settled.
    QList<MapRecord> m_settled;
    std::thread m_thread;
};
