// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/metrics/landscapemeasure.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Measures the maps of a batch for its long table of metrics on a thread of
// its own, so that a batch of many small maps, which spends most of its
// time writing files, is not held up by measuring them one after another.
// The rows of a map are a function of its cells alone, so when they are
// measured changes nothing in them.
//
// A map is handed over whole, as bytes (nonzero for habitat); the maps
// waiting hold 32 MiB at most (or one map), so the memory it takes is
// bounded whatever the batch's map size.
class TableMeasurer final {
public:
    TableMeasurer(const MetricOptions &options, const MetricSelection &selection, qint32 matrixCode,
                  qint32 coverCode);
    // Measures every map handed over before it returns.
    ~TableMeasurer();
    TableMeasurer(const TableMeasurer &) = delete;
    TableMeasurer &operator=(const TableMeasurer &) = delete;

    // The rows of a map of `columns` columns, once measured, with the
    // manifest's metrics of its habitat when `withHabitat`
    // (LandscapeMeasurer::finishWithHabitat); waits while the maps already
    // handed over fill the queue.
    std::shared_future<MeasuredMap> measure(std::vector<std::uint8_t> habitat, int columns,
                                            bool withHabitat);

private:
    struct Map {
        std::vector<std::uint8_t> habitat;
        int columns = 0;
        bool withHabitat = false;
        std::promise<MeasuredMap> measured;
    };
    void run();

    const MetricOptions m_options;
    const MetricSelection m_selection;
    const qint32 m_matrixCode;
    const qint32 m_coverCode;
    std::unique_ptr<LandscapeMeasurer> m_measurer;
    int m_measurerColumns = -1;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Map> m_waiting;
    std::size_t m_waitingBytes = 0;
    bool m_stopping = false;
    std::thread m_thread;
};
