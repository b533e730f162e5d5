// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/TimerSource.h"

#include <QTimer>

namespace {

class QtTimer : public TimerSource::Timer {
public:
    explicit QtTimer(std::function<void()> onTimeout)
    {
        // Precise: the debounce and the poll are short and the stall count depends on them.
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [fire = std::move(onTimeout)] { fire(); });
    }
    void start(int milliseconds, bool repeating) override
    {
        timer_.setSingleShot(!repeating);
        timer_.start(milliseconds);
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

class QtTimerSource : public TimerSource {
public:
    std::unique_ptr<Timer> create(std::function<void()> onTimeout) override
    {
        return std::make_unique<QtTimer>(std::move(onTimeout));
    }
};

} // namespace

std::shared_ptr<TimerSource> TimerSource::qt()
{
    return std::make_shared<QtTimerSource>();
}
