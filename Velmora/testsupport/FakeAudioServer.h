// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// FakeAudioServer: an in-memory AudioServer for tests. Devices are records; an open chain runs
// its render callback only when a test calls renderSine(); events fire when a test changes the
// default device, the rate or the connection. Opening can be made to fail, or to wait until
// the test releases it (to show that the caller is not the one waiting). Thread-safe.
//
#include "audio/AudioServer.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

class FakeAudioServer final : public AudioServer {
public:
    std::uint32_t addDevice(const std::string &name, const std::string &description, double rate,
                            int channels = 2, std::uint32_t maxBlockFrames = 1024)
    {
        return locked([&] {
            const auto id = std::uint32_t(devices_.size() + 30);
            devices_[id] = OutputDevice{id, name, description, rate, channels, maxBlockFrames};
            return id;
        });
    }
    // 0: none; fires defaultOutputChanged
    void setDefault(std::uint32_t id) { change(default_, id, &Events::defaultOutputChanged); }
    void setRate(double rate); // every device and the open chain; fires rateChanged
    void setConnected(bool connected) { change(connected_, connected, &Events::connection, connected); }
    // Without a session manager there is no default output; fires sessionManager.
    void setSessionManager(bool present) { change(manager_, present, &Events::sessionManager, present); }
    void failNextOpen(int status)
    {
        locked([&] { failOpen_ = status; });
    }
    void holdOpens(bool hold) // openChain waits while held
    {
        locked([&] { hold_ = hold; });
        released_.notify_all();
    }

    struct Chain { // what the open chain is and was told
        bool open = false;
        OutputDevice device;
        std::uint32_t latency = 0;
        bool idle = false;
        ChainHealth health = ChainHealth::healthy;
    };
    Chain chain() const { return locked([&] { return chain_; }); }
    void changeChain(const std::function<void(Chain &)> &change)
    {
        locked([&] { change(chain_); });
    }
    int opens() const { return locked([&] { return opens_; }); }          // chains opened so far
    int waitingOpens() const { return locked([&] { return waiting_; }); } // openChain calls held right now
    // `blocks` blocks of `frames` frames of a sine on two channels through the open chain's
    // callback, continuing at `phase`; the left output's peak, -1 when no chain is open.
    float renderSine(double hz, float amplitude, int blocks, std::uint32_t frames, std::uint64_t &phase);

    int staleRoutes = 0;

    void setScope(const ChainScope &) override {}
    std::vector<AppEntry> applications() const override { return {}; }
    void setEvents(Events events, Executor executor) override
    {
        std::lock_guard lock(mutex_);
        events_ = std::move(events);
        executor_ = std::move(executor);
    }
    bool isConnected() const override { return locked([&] { return connected_; }); }
    bool hasSessionManager() const override { return locked([&] { return manager_; }); }
    OutputDevice defaultOutput() override;
    std::unique_ptr<AudioChain> openChain(const OutputDevice &device, RenderCallback render) override;
    int clearStaleRouting() override
    {
        return locked([&] { return std::exchange(staleRoutes, 0); });
    }

private:
    class Open;
    template <typename F> auto locked(F f) const -> decltype(f())
    {
        std::lock_guard lock(mutex_);
        return f();
    }
    // Sets `field` and fires `event` with `args` through the executor, outside the lock.
    template <typename T, typename Event, typename... Args> void change(T &field, T value, Event Events::*event, Args... args)
    {
        locked([&] {
            field = value;
            if (executor_)
                executor_([events = events_, event, args...] {
                    if (events.*event)
                        (events.*event)(args...);
                });
        });
    }

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::map<std::uint32_t, OutputDevice> devices_;
    std::uint32_t default_ = 0;
    bool connected_ = true;
    bool manager_ = true;
    int failOpen_ = 0;
    bool hold_ = false;
    int opens_ = 0;
    int waiting_ = 0;
    Chain chain_;
    RenderCallback render_;
    const void *owner_ = nullptr; // the open chain object
    Events events_;
    Executor executor_;
};
