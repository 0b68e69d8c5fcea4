// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/mapqueue.h"

#include "core/batch/batchprogress.h"
#include "core/batch/mappublisher.h"

#include <utility>

namespace {

// The batch's only way to learn that its reader has gone.
class FlagProgress final : public BatchProgress {
public:
    explicit FlagProgress(const std::atomic<bool> &canceled)
        : m_canceled(canceled)
    {}
    void setMaximum(int) override {}
    void setLabelText(const QString &) override {}
    void setValue(int) override {}
    bool wasCanceled() const override { return m_canceled.load(std::memory_order_relaxed); }

private:
    const std::atomic<bool> &m_canceled;
};

} // namespace

MapQueue::MapQueue(std::unique_ptr<MapSource> source, const QString &nameStem, std::size_t capacity)
    : m_source(std::move(source))
    , m_capacity(capacity > 0 ? capacity : 1)
    , m_thread([this, nameStem] { run(nameStem); })
{}

MapQueue::~MapQueue()
{
    cancel();
    m_thread.join();
}

void MapQueue::run(const QString &nameStem)
{
    FlagProgress progress(m_canceled);
    BatchResult result;
    std::exception_ptr failure;
    const bool settles = m_source->output().selects();
    QList<MapRecord> kept;
    try {
        MapPublisher publisher([this, settles, &kept](MapRecord record, MapCells cells) {
            m_made.add(record);
            if (settles)
                kept.append(record);
            add(std::move(record), std::move(cells));
        });
        result = m_source->makeMaps(nameStem, publisher, progress);
    } catch (...) {
        // A map of the largest size the request allows does not fit in
        // memory; the reader hears of it instead of the process ending.
        failure = std::current_exception();
    }
    QList<Phrase> shortfalls;
    QStringList acceptance;
    if (!failure && result.status == BatchResult::Status::Completed)
        shortfalls = m_source->shortfalls(m_made);
    if (!failure) {
        acceptance = m_source->acceptance();
        m_source->settleRecords(kept);
    }
    // The source's threads and storage go with the batch, not with the
    // reader, who may keep the queue for a long time after its end.
    m_source.reset();
    m_made = {};
    const std::lock_guard lock(m_mutex);
    m_shortfalls = std::move(shortfalls);
    m_acceptance = std::move(acceptance);
    m_settled = std::move(kept);
    m_result = std::move(result);
    m_failure = failure;
    m_done = true;
    m_filled.notify_all();
}

void MapQueue::add(MapRecord record, MapCells cells)
{
    std::unique_lock lock(m_mutex);
    m_emptied.wait(lock, [this] { return m_maps.size() < m_capacity || m_canceled; });
    if (m_canceled)
        return;
    m_maps.push_back({std::move(record), std::move(cells)});
    m_filled.notify_one();
}

MapQueue::Status MapQueue::next(std::chrono::milliseconds timeout, std::optional<QueuedMap> &map)
{
    std::unique_lock lock(m_mutex);
    if (!m_filled.wait_for(lock, timeout, [this] { return !m_maps.empty() || m_done; }))
        return Status::Waiting;
    if (m_maps.empty())
        return Status::End;
    map = std::move(m_maps.front());
    m_maps.pop_front();
    m_emptied.notify_one();
    return Status::Map;
}

void MapQueue::cancel()
{
    {
        const std::lock_guard lock(m_mutex);
        m_canceled = true;
        m_maps.clear();
    }
    m_emptied.notify_all();
}
