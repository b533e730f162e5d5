// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SerialExecutor.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include <pthread.h>

struct SerialExecutor::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<std::function<void()>> tasks;
    std::uint64_t posted = 0;
    std::uint64_t finished = 0;
    bool stopping = false;

    static void run(const std::shared_ptr<State> &state, const std::string &threadName);
};

void SerialExecutor::State::run(const std::shared_ptr<State> &s, const std::string &threadName)
{
    pthread_setname_np(pthread_self(), threadName.c_str());
    std::unique_lock lock(s->mutex);
    for (;;) {
        s->wake.wait(lock, [&] { return s->stopping || !s->tasks.empty(); });
        if (s->stopping)
            break;
        std::function<void()> task = std::move(s->tasks.front());
        s->tasks.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task must not take the queue down with it.
        }
        task = nullptr;  // release captures before counting the task as done
        lock.lock();
        ++s->finished;
        s->done.notify_all();
    }
    std::deque<std::function<void()>> dropped;
    dropped.swap(s->tasks);
    s->done.notify_all();
    lock.unlock();
    dropped.clear();  // captures are released without the lock held
}

SerialExecutor::SerialExecutor(std::string label)
    : label_(std::move(label))
    , state_(std::make_shared<State>())
{
    // Thread names are limited to 15 characters: keep the distinctive end of the label.
    std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    thread_ = std::thread([state = state_, name = std::move(name)] { State::run(state, name); });
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // destroyed by one of our own tasks: the thread ends after it
    else
        thread_.join();
}

void SerialExecutor::post(std::function<void()> task)
{
    if (!task)
        return;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping)
            return;
        state_->tasks.push_back(std::move(task));
        ++state_->posted;
    }
    state_->wake.notify_one();
}

void SerialExecutor::sync()
{
    if (isCurrent())
        return;
    std::unique_lock lock(state_->mutex);
    const std::uint64_t target = state_->posted;
    state_->done.wait(lock, [&] { return state_->finished >= target || state_->stopping; });
}

bool SerialExecutor::isCurrent() const
{
    return std::this_thread::get_id() == thread_.get_id();
}
