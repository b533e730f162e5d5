// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeRetuneEngine.h"

#include <limits>

void FakeRetuneEngine::setEvents(Events events, Executor executor)
{
    events_ = std::move(events);
    executor_ = std::move(executor);
}

void FakeRetuneEngine::post(std::function<void()> task)
{
    if (executor_)
        executor_(std::move(task));
}

void FakeRetuneEngine::start(double f, EngineKind engine)
{
    calls.push_back("start");
    if (running_)
        return;
    factor = f;
    selected = engine;
    running_ = building_ = true;
}

void FakeRetuneEngine::rebuild()
{
    calls.push_back("rebuild");
    if (running_)
        building_ = true;
}

void FakeRetuneEngine::stop()
{
    calls.push_back("stop");
    running_ = building_ = false;
}

std::optional<RunInfo> FakeRetuneEngine::runInfo() const
{
    return running_ && !building_ ? std::optional<RunInfo>(info) : std::nullopt;
}

void FakeRetuneEngine::finishBuild()
{
    building_ = false;
    post([this, info = info] {
        if (events_.running)
            events_.running(info);
    });
}

void FakeRetuneEngine::failBuild(const std::string &operation)
{
    running_ = building_ = false;
    post([this, operation] {
        if (events_.failed)
            events_.failed(AudioError(-2, operation));
    });
}

void FakeRetuneEngine::requestRebuild(const std::string &reason)
{
    post([this, reason] {
        if (events_.rebuildNeeded)
            events_.rebuildNeeded(reason);
    });
}

void FakeRetuneEngine::connection(bool connected)
{
    post([this, connected] {
        if (events_.serverConnection)
            events_.serverConnection(connected);
    });
}

std::optional<std::uint32_t> FakeRetuneEngine::readAnalysisSamples(float *, std::uint32_t)
{
    return running_ ? std::optional<std::uint32_t>(0) : std::nullopt;
}

class ManualTimer : public TimerSource::Timer {
public:
    ManualTimer(ManualTimers &owner, int id) : owner_(owner), id_(id) {}
    ~ManualTimer() override { owner_.timers_.erase(id_); }
    void start(int ms, bool repeating) override
    {
        auto &e = owner_.timers_[id_];
        e.due = owner_.now_ + ms;
        e.interval = ms;
        e.repeating = repeating;
    }
    void stop() override { owner_.timers_[id_].due = -1; }
    bool isActive() const override { return owner_.timers_.at(id_).due >= 0; }

private:
    ManualTimers &owner_;
    int id_;
};

std::unique_ptr<TimerSource::Timer> ManualTimers::create(std::function<void()> onTimeout)
{
    const int id = nextId_++;
    timers_[id].fire = std::move(onTimeout);
    return std::make_unique<ManualTimer>(*this, id);
}

void ManualTimers::advance(int milliseconds)
{
    const long long end = now_ + milliseconds;
    for (;;) {
        int next = -1;
        long long due = std::numeric_limits<long long>::max();
        for (const auto &[id, e] : timers_) {
            if (e.due >= 0 && e.due <= end && e.due < due) {
                due = e.due;
                next = id;
            }
        }
        if (next < 0)
            break;
        now_ = due;
        Entry &e = timers_[next];
        e.due = e.repeating ? now_ + e.interval : -1;
        const auto fire = e.fire; // the callback may stop or restart this very timer
        fire();
    }
    now_ = end;
}
