// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TimerSource: where the controller gets its timers (poll, restart debounce). The programs use
// Qt's timers on the main thread; tests use a manual clock they advance by hand, so supervision
// can be checked without waiting in real time.
//
// Thread safety: timers are created, started, stopped and fire on the owner's thread only.
//
#include <functional>
#include <memory>

class TimerSource {
public:
    class Timer {
    public:
        virtual ~Timer() = default;
        // (Re)starts the timer; a running one starts counting anew.
        virtual void start(int milliseconds, bool repeating) = 0;
        virtual void stop() = 0;
        virtual bool isActive() const = 0;
    };

    virtual ~TimerSource() = default;
    // A stopped timer that calls `onTimeout` each time it fires. Destroying it stops it.
    virtual std::unique_ptr<Timer> create(std::function<void()> onTimeout) = 0;

    // QTimer on the calling thread's event loop.
    static std::shared_ptr<TimerSource> qt();
};
