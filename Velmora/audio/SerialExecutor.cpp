// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SerialExecutor.h"

#include "audio/ThreadSafety.h"

#include <deque>

#include <pthread.h>

struct SerialExecutor::State {
    Mutex mutex;
    std::condition_variable_any wake;
    std::deque<std::function<void()>> tasks GUARDED_BY(mutex);
    bool stopping GUARDED_BY(mutex) = false;

    static void run(const std::shared_ptr<State> &state, const std::string &threadName);
};

void SerialExecutor::State::run(const std::shared_ptr<State> &s, const std::string &threadName)
{
    pthread_setname_np(pthread_self(), threadName.c_str());
    MutexLock lock(s->mutex);
    for (;;) {
        lock.wait(s->wake, [&]() REQUIRES(s->mutex) { return s->stopping || !s->tasks.empty(); });
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
        task = nullptr;  // release captures without the lock held
        lock.lock();
    }
    std::deque<std::function<void()>> dropped;
    dropped.swap(s->tasks);
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
    shutdown();
}

void SerialExecutor::shutdown()
{
    {
        MutexLock lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();  // called by one of our own tasks: the thread ends after it
    else
        thread_.join();
}

void SerialExecutor::post(std::function<void()> task)
{
    if (!task)
        return;
    {
        MutexLock lock(state_->mutex);
        if (state_->stopping)
            return;
        state_->tasks.push_back(std::move(task));
    }
    state_->wake.notify_one();
}
