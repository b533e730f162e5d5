// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// FakeRetuneEngine: an audio layer in memory for the controller's tests. Records every call;
// the test decides when a build finishes (finishBuild / failBuild) and sends the events a real
// engine would (requestRebuild, connection), all through the executor the owner gave.
// ManualTimers: timers that fire only when the test advances the clock.
//
// Thread safety: one thread, the test's.
//
#include "audio/RetuneEngine.h"
#include "controller/TimerSource.h"

#include <map>
#include <string>
#include <vector>

class FakeRetuneEngine : public RetuneEngine {
public:
    std::vector<std::string> calls; // "start", "rebuild", "stop", in order
    double factor = 0.0;
    EngineKind selected = EngineKind::lowLatency;
    EngineStats stats_;
    std::optional<std::string> defaultOutput = "Lautsprecher";
    RunInfo info{"Lautsprecher", 48000.0, 2, 0.0213, 0.120, 0.250};

    // A build under way ends; each event is posted through the executor.
    void finishBuild()
    {
        building_ = false;
        post(&Events::running, info);
    }
    void failBuild(const std::string &operation = "Kette aufbauen")
    {
        running_ = building_ = false;
        post(&Events::failed, AudioError(-2, operation));
    }
    void requestRebuild(const std::string &reason) { post(&Events::rebuildNeeded, reason); }
    void connection(bool connected) { post(&Events::serverConnection, connected); }
    void sessionAway(SessionWait why) { post(&Events::waiting, why); }
    // The default output becomes `name` (key and name alike), announced as a real engine does.
    void changeDefault(const std::string &name)
    {
        defaultOutput = name;
        post(&Events::defaultOutputChanged);
        if (running_)
            requestRebuild("Ausgabegerät gewechselt");
    }
    ChainScope scope;
    std::vector<AppEntry> apps;
    void announceApplications() { post(&Events::applicationsChanged); }

    void setEvents(Events events, Executor executor) override
    {
        events_ = std::move(events);
        executor_ = std::move(executor);
    }
    void start(double f, EngineKind engine) override;
    void rebuild() override
    {
        calls.push_back("rebuild");
        building_ = building_ || running_;
    }
    void rebuildForDevice(double f, EngineKind engine) override
    {
        calls.push_back("rebuildForDevice");
        factor = f;
        selected = engine;
        building_ = building_ || running_;
    }
    void stop() override
    {
        calls.push_back("stop");
        running_ = building_ = false;
    }
    bool isRunning() const override { return running_; }
    std::optional<RunInfo> runInfo() const override
    {
        return running_ && !building_ ? std::optional<RunInfo>(info) : std::nullopt;
    }
    void setFactor(double f) override { factor = f; }
    void selectEngine(EngineKind engine) override { selected = engine; }
    EngineStats stats() const override { return stats_; }
    std::optional<std::string> defaultOutputName() const override { return defaultOutput; }
    double defaultOutputRate() const override { return 44100.0; }
    void setScope(const ChainScope &s) override { scope = s; }
    std::vector<AppEntry> applications() const override { return apps; }
    std::optional<std::uint32_t> readAnalysisSamples(float *, std::uint32_t) override
    {
        return running_ ? std::optional<std::uint32_t>(0) : std::nullopt;
    }

private:
    template <typename Event, typename... Args> void post(Event Events::*event, Args... args)
    {
        if (executor_)
            executor_([this, event, args...] {
                if (events_.*event)
                    (events_.*event)(args...);
            });
    }
    Events events_;
    Executor executor_;
    bool running_ = false;
    bool building_ = false;
};

class ManualTimers : public TimerSource {
public:
    std::unique_ptr<Timer> create(std::function<void()> onTimeout) override;
    // Moves the clock on, firing every timer that falls due on the way, in order.
    void advance(int milliseconds);

private:
    struct Entry {
        std::function<void()> fire;
        long long due = -1; // -1: stopped
        int interval = 0;
        bool repeating = false;
    };
    friend class ManualTimer;
    std::map<int, Entry> timers_;
    int nextId_ = 0;
    long long now_ = 0;
};
