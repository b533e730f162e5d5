// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// SerialExecutor: one worker thread that runs posted tasks one after another, in order.
//
// Summary
//   Stands in for a serial dispatch queue: the tap engine's listener queue
//   ("<application id>.device-listener") is one. Tasks run on the executor's own thread, never
//   on the poster's. Destruction drops tasks that have not started and joins the thread.
//
// Real-time safety
//   Not for the real-time thread: post() allocates and locks.
//
// Thread safety
//   post(), sync() and isCurrent() may be called from any thread. sync() from a task of this
//   executor returns at once (it cannot wait for itself).
//
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class SerialExecutor {
public:
    explicit SerialExecutor(std::string label);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    const std::string &label() const { return label_; }

    // Queues `task`; it runs after every task posted before it.
    void post(std::function<void()> task);
    // Waits until every task posted before this call has run.
    void sync();
    // True on the executor's own thread.
    bool isCurrent() const;

private:
    void run();

    const std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::function<void()>> tasks_;
    std::uint64_t posted_ = 0;
    std::uint64_t finished_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};
