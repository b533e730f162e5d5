// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// RetuneEngine: what the controller needs of the audio layer.
//
// Summary
//   Builds a retuning chain to the default output device, changes its factor and engine while
//   it runs, reads its statistics, and reports what happens to it as events: the chain runs
//   (or a start failed), a rebuild is wanted (the default output or the rate changed), the
//   sound server went away or came back. TapEngine is the implementation; the controller's
//   tests use a fake of their own.
//
// Threads
//   Every call belongs to the owner's thread (the controller's main thread), except
//   readAnalysisSamples(), which belongs to the analysis worker's thread. start() and
//   rebuild() return at once: the heavy building runs elsewhere and its result arrives as the
//   `running` or `failed` event. Events are always handed to the Executor given in
//   setEvents(), never called from inside one of these calls.
//
#include "audio/AudioError.h"
#include "audio/AudioServer.h"  // ChainHealth
#include "audio/EngineTable.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the running chain plays to and how much each engine delays the audio.
struct RunInfo {
    std::string outputDeviceName; // never our own virtual sink; "Unbekannt" when not known
    double sampleRate = 0.0;
    int channels = 0;
    // 0 for an engine still being built: after a start or a new rate the selected engine plays
    // first, the others follow within about a second (read runInfo() again).
    double lowLatencySeconds = 0.0;
    double balancedSeconds = 0.0;
    double highQualitySeconds = 0.0;

    double latencySeconds(EngineKind kind) const
    {
        return kind == EngineKind::lowLatency ? lowLatencySeconds
             : kind == EngineKind::balanced   ? balancedSeconds
                                              : highQualitySeconds;
    }
};

struct EngineStats {
    std::uint64_t frames = 0;    // frames processed; stands still while idle
    std::uint64_t underruns = 0; // the delay-line engine's underrun count
    bool idle = false;           // nothing plays, the streams are paused: alive, not stalled
    double longestRenderSeconds = 0.0; // longest render callback of the last one to two seconds
    ChainHealth health = ChainHealth::healthy;
};

// Why applications play unprocessed for now; the engine retunes them again by itself.
enum class SessionWait {
    sessionManager, // nothing links streams to devices (restarting, crashed)
    outputDevice,   // there is no output device to play to
};

class RetuneEngine {
public:
    struct Events {
        std::function<void(const RunInfo &info)> running;              // a start or rebuild finished
        std::function<void(const AudioError &error)> failed;           // nothing of that build remains
        std::function<void(const std::string &reason)> rebuildNeeded;  // "Ausgabegerät gewechselt", ...
        std::function<void(bool connected)> serverConnection;          // lost (false) / back (true)
        // The chain was closed because the session went away; `running` follows once it is
        // back, without a call of the owner.
        std::function<void(SessionWait why)> waiting;
        // The default output device changed, whether or not a chain runs.
        std::function<void()> defaultOutputChanged;
        std::function<void()> applicationsChanged; // see applications()
    };
    using Executor = std::function<void(std::function<void()> task)>;

    virtual ~RetuneEngine() = default;

    // Events run through `executor` (the controller posts them to its own thread).
    virtual void setEvents(Events events, Executor executor) = 0;

    // Builds the chain and starts it; returns at once. `running` or `failed` follows. While a
    // chain runs or is being built, does nothing.
    virtual void start(double factor, EngineKind engine) = 0;
    // Rebuilds the running chain (new device, new rate, stall), keeping what can be kept.
    // `running` or `failed` follows. Nothing when no chain runs.
    virtual void rebuild() = 0;
    // A rebuild onto the current default output that plays `factor` with `engine` there from
    // its first block: nothing of the old device's tuning (a glide, audio an engine still
    // holds) reaches the new device; the old one keeps its own until the output moves.
    virtual void rebuildForDevice(double factor, EngineKind engine)
    {
        setFactor(factor);
        selectEngine(engine);
        rebuild();
    }
    // Final stop: applications return to their device at once; a build under way is dropped
    // and reports nothing. Harmless when nothing runs.
    virtual void stop() = 0;

    // True from start() until stop() or a `failed` event.
    virtual bool isRunning() const = 0;
    virtual std::optional<RunInfo> runInfo() const = 0;

    // All three engines at once; also applied to a chain that is still being built.
    virtual void setFactor(double factor) = 0;
    // Selects the engine in the switcher and tells players its latency.
    virtual void selectEngine(EngineKind engine) = 0;
    virtual EngineStats stats() const = 0;

    // The current default output device's name, never our own sink; nullopt when there is none.
    virtual std::optional<std::string> defaultOutputName() const = 0;
    // Its rate before a chain runs (0 when unknown).
    virtual double defaultOutputRate() const = 0;

    // Analysis worker's thread: reads up to maxFrames samples of the first channel from the
    // running chain. nullopt when no chain runs.
    virtual std::optional<std::uint32_t> readAnalysisSamples(float *destination, std::uint32_t maxFrames) = 0;

    // Owner's thread, once at start-up: clears routing that an earlier run, which died, left
    // on still-playing applications. Returns how many entries were cleared.
    virtual int clearStaleRouting() { return 0; }

    // The default output's key for settings kept per device (PipeWire: node.name, else its
    // description); nullopt when there is none.
    virtual std::optional<std::string> defaultOutputKey() const { return defaultOutputName(); }
    // Which applications are retuned; applies to the running chain at once and to later ones.
    virtual void setScope(const ChainScope &) {}
    // Applications seen playing during this run.
    virtual std::vector<AppEntry> applications() const { return {}; }
};
