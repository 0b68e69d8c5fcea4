// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A second thread that runs one task at a time for the thread that owns it,
// so that a batch can make two maps at once without starting a thread for
// every map. The owner starts a task, does its own share, then waits; the
// mutex orders everything the task wrote before what the owner reads after
// wait().
class HelperThread final {
public:
    HelperThread();
    ~HelperThread();
    HelperThread(const HelperThread &) = delete;
    HelperThread &operator=(const HelperThread &) = delete;

    // When the system could not give a thread, start() runs the task at
    // once on the calling thread.
    void start(std::function<void()> task);
    void wait();

private:
    void loop();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::function<void()> m_task;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};
