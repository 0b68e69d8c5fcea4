// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/batch/tablemeasurer.h"

namespace {

// Small maps are written in bursts (a surface gives several covers at
// once, then the next is made), so many may wait and the thread measures
// through the bursts; large ones wait a few at a time, their bytes bounded.
constexpr std::size_t mostWaiting = 256;
constexpr std::size_t mostWaitingBytes = std::size_t(32) << 20;

} // namespace

TableMeasurer::TableMeasurer(const MetricOptions &options, const MetricSelection &selection,
                             qint32 matrixCode, qint32 coverCode)
    : m_options(options)
    , m_selection(selection)
    , m_matrixCode(matrixCode)
    , m_coverCode(coverCode)
    , m_thread([this] { run(); })
{}

TableMeasurer::~TableMeasurer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

std::shared_future<MeasuredMap> TableMeasurer::measure(std::vector<std::uint8_t> habitat,
                                                       int columns, bool withHabitat)
{
    std::unique_lock lock(m_mutex);
    const std::size_t bytes = habitat.size();
    m_changed.wait(lock, [this, bytes] {
        return m_waiting.empty() ||
               (m_waiting.size() < mostWaiting && m_waitingBytes + bytes <= mostWaitingBytes);
    });
    m_waitingBytes += bytes;
    m_waiting.push_back({std::move(habitat), columns, withHabitat, {}});
    std::shared_future<MeasuredMap> measured = m_waiting.back().measured.get_future().share();
    lock.unlock();
    m_changed.notify_all();
    return measured;
}

void TableMeasurer::run()
{
    for (;;) {
        Map map;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            // Stopping waits for the maps already handed over: their rows
            // are promised.
            if (m_waiting.empty())
                return;
            map = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_waitingBytes -= map.habitat.size();
        }
        m_changed.notify_all();
        try {
            if (map.columns != m_measurerColumns) {
                m_measurer =
                    std::make_unique<LandscapeMeasurer>(map.columns, m_options, m_selection);
                m_measurerColumns = map.columns;
            }
            for (std::size_t at = 0; at + std::size_t(map.columns) <= map.habitat.size();
                 at += std::size_t(map.columns))
                m_measurer->addRow(map.habitat.data() + at, m_matrixCode, m_coverCode);
            map.measured.set_value(map.withHabitat
                                       ? m_measurer->finishWithHabitat(m_coverCode)
                                       : MeasuredMap{m_measurer->finish(), std::nullopt});
        } catch (...) {
            // A measurer that failed halfway is not used again.
            m_measurer.reset();
            m_measurerColumns = -1;
            map.measured.set_exception(std::current_exception());
        }
    }
}
