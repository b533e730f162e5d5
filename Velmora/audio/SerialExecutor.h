// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// SerialExecutor: one worker thread that runs posted tasks one after another, in order.
//
// Summary
//   Stands in for a serial dispatch queue: the tap engine's chain worker
//   ("<application id>.chain") is one. Tasks run on the executor's own thread, never on the
//   poster's. shutdown() (also run by the destructor) drops tasks that have not started, waits
//   for the one that runs and joins the thread, so nothing of the owner runs after it; the
//   owner calls it before it tears down anything its tasks use. From a task of its own it
//   cannot wait for itself: the thread then ends after that task.
//
// Real-time safety
//   Not for the real-time thread: post() allocates and locks.
//
// Thread safety
//   post() and shutdown() may be called from any thread.
//
#include <functional>
#include <memory>
#include <string>
#include <thread>

class SerialExecutor {
public:
    explicit SerialExecutor(std::string label);
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    const std::string &label() const { return label_; }

    // Queues `task`; it runs after every task posted before it. Dropped after shutdown().
    void post(std::function<void()> task);
    // Final: see the summary. Harmless when called again.
    void shutdown();

private:
    struct State;

    const std::string label_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};
