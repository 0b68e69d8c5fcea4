// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/files/helperthread.h"

#include <chrono>
#include <system_error>
#include <utility>

HelperThread::HelperThread()
{
    try {
        m_thread = std::thread([this] { loop(); });
    } catch (const std::system_error &) {
        // Tasks then run on the owner's thread, one after the other.
    }
}

HelperThread::~HelperThread()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void HelperThread::start(std::function<void()> task)
{
    if (!m_thread.joinable()) {
        task();
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_task = std::move(task);
        m_busy = true;
    }
    m_wake.notify_one();
}

void HelperThread::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_done.wait(lock, [this] { return !m_busy; });
}

void HelperThread::loop()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_busy; });
        if (m_stop)
            return;
        std::function<void()> task = std::move(m_task);
        lock.unlock();
        task();
        lock.lock();
        m_busy = false;
        m_done.notify_one();
    }
}

TasksAhead::~TasksAhead()
{
    // A deferred task that never ran is dropped unrun.
    for (auto &task : m_pending)
        if (task.valid() && task.wait_for(std::chrono::seconds(0)) != std::future_status::deferred)
            task.wait();
}

void TasksAhead::start(std::function<void()> task)
{
    try {
        m_pending.push_back(
            std::async(m_threads ? std::launch::async : std::launch::deferred, task));
    } catch (const std::system_error &) {
        m_pending.push_back(std::async(std::launch::deferred, std::move(task)));
    }
}

void TasksAhead::takeFirst()
{
    std::future<void> first = std::move(m_pending.front());
    m_pending.pop_front();
    first.get();
}
