// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeRetuneEngine.h"

void FakeRetuneEngine::start(double f, EngineKind engine)
{
    calls.push_back("start");
    if (running_)
        return;
    factor = f;
    selected = engine;
    running_ = building_ = true;
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
    timers_[nextId_].fire = std::move(onTimeout);
    return std::make_unique<ManualTimer>(*this, nextId_++);
}

void ManualTimers::advance(int milliseconds)
{
    const long long end = now_ + milliseconds;
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it)
            if (it->second.due >= 0 && it->second.due <= end
                && (next == timers_.end() || it->second.due < next->second.due))
                next = it;
        if (next == timers_.end())
            break;
        Entry &e = next->second;
        now_ = e.due;
        e.due = e.repeating ? now_ + e.interval : -1;
        const auto fire = e.fire; // the callback may stop, restart or destroy this very timer
        fire();
    }
    now_ = end;
}
