// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Batches of files on several cores for velmora-cli retune and detect: a pool of workers takes
// the files in input order, while the calling thread prints each file's result in input order
// as soon as it and all before it are done, and draws the one progress bar in between.
// Ctrl-C (and SIGTERM, SIGHUP) only raise a flag: workers stop at their next block and clean
// up their own files, no new file is started.

#include "TerminalProgress.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sched.h>

namespace cli {

// Lock-free, so a signal handler may set it.
inline std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Catches Ctrl-C and friends for its lifetime.
class SignalGuard {
public:
    SignalGuard()
    {
        interrupted = false;
        struct sigaction sa = {};
        sa.sa_handler = [](int) { interrupted = true; };
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(signals_); ++i)
            sigaction(signals_[i], &sa, &old_[i]);
    }
    ~SignalGuard()
    {
        for (std::size_t i = 0; i < std::size(signals_); ++i)
            sigaction(signals_[i], &old_[i], nullptr);
    }
    SignalGuard(const SignalGuard &) = delete;
    SignalGuard &operator=(const SignalGuard &) = delete;

private:
    static constexpr int signals_[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction old_[std::size(signals_)] = {};
};

// The cores this process may run on (what nproc prints).
inline int availableCores()
{
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(std::thread::hardware_concurrency()));
}

// "--jobs N": a whole number from 1 to 1024.
inline std::optional<int> parseJobs(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < 1 || n > 1024)
        return std::nullopt;
    return n;
}

// Runs work(i) for every i in 0 ... count-1 on `jobs` threads and hands each result to
// report(i, result) on the calling thread, in order. report returns false to stop the batch
// (files not yet started are skipped; running ones finish). Returns how many were reported.
template <class Result, class Work, class Report>
qsizetype runBatch(qsizetype count, int jobs, TerminalProgress &progress, Work work, Report report)
{
    std::mutex lock;
    std::condition_variable ready;
    std::vector<std::optional<Result>> results(static_cast<std::size_t>(count));
    std::atomic<qsizetype> next{0};
    std::atomic<bool> stop{false};
    int running = int(std::min<qsizetype>(std::max(jobs, 1), count));

    auto worker = [&] {
        for (;;) {
            const qsizetype i = next.fetch_add(1);
            if (i >= count || stop || interrupted)
                break;
            Result r = work(i);
            std::lock_guard guard(lock);
            results[std::size_t(i)] = std::move(r);
            ready.notify_one();
        }
        std::lock_guard guard(lock);
        --running;
        ready.notify_one();
    };
    std::vector<std::jthread> threads;
    for (int t = 0, n = running; t < n; ++t)
        threads.emplace_back(worker);

    qsizetype reported = 0;
    std::unique_lock guard(lock);
    while (reported < count) {
        ready.wait_for(guard, std::chrono::milliseconds(100),
                       [&] { return results[std::size_t(reported)].has_value() || running == 0; });
        if (!results[std::size_t(reported)]) {
            if (running == 0)
                break; // stopped before this file started
            guard.unlock();
            progress.draw();
            guard.lock();
            continue;
        }
        Result r = std::move(*results[std::size_t(reported)]);
        guard.unlock();
        progress.clear();
        const bool go = report(reported, std::move(r));
        ++reported;
        guard.lock();
        if (!go) {
            stop = true;
            break;
        }
    }
    guard.unlock();
    threads.clear(); // joins
    progress.clear();
    return reported;
}

} // namespace cli
