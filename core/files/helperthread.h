// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
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

// Tasks run ahead of the thread that takes their results, in order, each on
// a thread of its own: a batch draws its next maps while it writes one. A
// task the system has no thread for, or every task when `threads` is off,
// runs when its turn comes. Whatever ends the owner's loop, the destructor
// waits for every task already running, so that none outlives what it
// writes into; declare it after that.
class TasksAhead final {
public:
    explicit TasksAhead(bool threads)
        : m_threads(threads)
    {}
    ~TasksAhead();
    TasksAhead(const TasksAhead &) = delete;
    TasksAhead &operator=(const TasksAhead &) = delete;

    void start(std::function<void()> task);
    // Waits for the first task started and not yet taken, and takes it.
    void takeFirst();
    int running() const { return int(m_pending.size()); }

private:
    bool m_threads;
    std::deque<std::future<void>> m_pending;
};
