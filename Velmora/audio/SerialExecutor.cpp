// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/SerialExecutor.h"

#include <pthread.h>

SerialExecutor::SerialExecutor(std::string label)
    : label_(std::move(label))
{
    thread_ = std::thread([this] { run(); });
}

SerialExecutor::~SerialExecutor()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else if (thread_.joinable())
        thread_.detach();
}

void SerialExecutor::post(std::function<void()> task)
{
    if (!task)
        return;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        tasks_.push_back(std::move(task));
        ++posted_;
    }
    wake_.notify_one();
}

void SerialExecutor::sync()
{
    if (isCurrent())
        return;
    std::unique_lock lock(mutex_);
    const std::uint64_t target = posted_;
    done_.wait(lock, [&] { return finished_ >= target || stopping_; });
}

bool SerialExecutor::isCurrent() const
{
    return std::this_thread::get_id() == thread_.get_id();
}

void SerialExecutor::run()
{
    // Thread names are limited to 15 characters: keep the distinctive end of the label.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(pthread_self(), name.c_str());

    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (stopping_)
            break;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task must not take the queue down with it.
        }
        task = nullptr;  // release captures before counting the task as done
        lock.lock();
        ++finished_;
        done_.notify_all();
    }
    std::deque<std::function<void()>> dropped;
    dropped.swap(tasks_);
    done_.notify_all();
    lock.unlock();
    dropped.clear();  // captures are released without the lock held
}
