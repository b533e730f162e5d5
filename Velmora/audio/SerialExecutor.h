// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// SerialExecutor: one worker thread that runs posted tasks one after another, in order.
//
// Summary
//   Stands in for a serial dispatch queue: the tap engine's listener queue
//   ("<application id>.device-listener") is one. Tasks run on the executor's own thread, never
//   on the poster's. Destruction drops tasks that have not started and joins the thread; when
//   the executor is destroyed by one of its own tasks, the thread finishes that task and ends
//   by itself (its state outlives the object).
//
// Real-time safety
//   Not for the real-time thread: post() allocates and locks.
//
// Thread safety
//   post(), sync() and isCurrent() may be called from any thread. sync() from a task of this
//   executor returns at once (it cannot wait for itself).
//
#include <memory>
#include <string>
#include <thread>
#include <functional>

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
    struct State;

    const std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};
