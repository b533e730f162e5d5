// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TapEngine: builds, runs and tears down the retuning chain.
//
// Summary
//   One locked sequence builds the chain: default output device, tap (every other
//   application's audio), aggregate device (tap + output device), the DSP objects (delay-line
//   engine, two stretch engines, switcher, analysis FIFO) and the render callback, then starts
//   the device. Teardown runs in a fixed order and never fails. The engine watches the default
//   output device and the chain's sample rate and asks its owner for a rebuild through
//   onRebuildNeeded; it never rebuilds by itself. A process-wide registry lets shutdownAll()
//   tear down every running chain at exit. Written against AudioPlatform only.
//
// Real-time safety
//   Nothing here runs on the real-time thread. The render callback (render/RenderChain.h)
//   gets a fixed RenderContext; every DSP object exists before the callback is registered, and
//   none is freed before the platform's destroyIOProcID() has guaranteed that no call is in
//   flight.
//
// Thread safety
//   start(), stop(), the handle getters and runInfo() belong to the owner's (controller's)
//   thread. shutdownAll() may run on any thread, any number of times. readAnalysisSamples()
//   is for the analysis worker's thread; it shares a lock with the FIFO's release, so the
//   worker never reads a freed FIFO. isIdle() may be called from any thread. onRebuildNeeded
//   is called on listenerQueue().
//
#include "audio/AudioError.h"
#include "audio/AudioPlatform.h"
#include "audio/EngineTable.h"
#include "audio/RetuneEngine.h"

#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>


class TapEngine : public std::enable_shared_from_this<TapEngine> {
    struct Private {};

public:
    using RunInfo = ::RunInfo;

    using RebuildCallback = std::function<void(const std::string &reason)>;

    static std::shared_ptr<TapEngine> create(std::shared_ptr<AudioPlatform> platform);
    TapEngine(Private, std::shared_ptr<AudioPlatform> platform);
    ~TapEngine();
    TapEngine(const TapEngine &) = delete;
    TapEngine &operator=(const TapEngine &) = delete;

    // Builds and starts the chain; throws AudioError, after which nothing of the failed build
    // remains. Returns at once when already running. Fails (-EBUSY, "Zweite Audiokette
    // starten") while another engine of this process runs a chain.
    void start(double factor, EngineKind engine, std::uint32_t delayFrames);
    // Tears the chain down. Harmless when nothing runs.
    void stop();

    // Tells the platform how much the running chain delays the audio with `kind` selected, so
    // players keep pictures in step. start() does it for the engine it starts with; call it
    // again after selecting another engine in the switcher. Harmless when nothing runs.
    void reportLatency(EngineKind kind);

    bool isRunning() const { return running_.load(); }
    std::optional<RunInfo> runInfo() const;
    // True while the running chain is paused by the platform because nothing plays; the
    // switcher's frame counter then stands still and that is not a stall.
    bool isIdle() const;

    void setOnRebuildNeeded(RebuildCallback callback);
    void installDefaultDeviceListener();
    void removeDefaultDeviceListener();

    // DSP handles of the running chain (null when none), for the owner's thread.
    tv_engine *dsp() const { return dsp_.load(); }
    tv_stretch *stretchBalanced() const { return stretchBalanced_.load(); }
    tv_stretch *stretchHQ() const { return stretchHQ_.load(); }
    tv_switch *switcher() const { return switcher_.load(); }
    bool hasAnalysisFifo() const;

    // Analysis worker: reads up to maxFrames samples from the analysis FIFO. nullopt when the
    // chain has no FIFO. Serialised with the FIFO's release in teardown.
    std::optional<std::uint32_t> readAnalysisSamples(float *destination, std::uint32_t maxFrames);
    // Runs `body` with the current analysis FIFO (null when none); teardown does not release
    // the FIFO while `body` runs. Only the analysis consumer may read from it.
    void withAnalysisFifo(const std::function<void(tv_fifo *fifo)> &body);

    SerialExecutor &listenerQueue() { return listenerQueue_; }
    AudioObjectID tapID() const { return tapID_; }
    AudioObjectID aggregateID() const { return aggregateID_.load(); }

    // Tears down every running chain of the process synchronously; leaves isRunning and
    // runInfo as they were. For process exit.
    static void shutdownAll();
    // Clean-up at start-up of what an earlier run that died left behind: aggregate devices
    // with our UID prefix that no live process owns, and stale routing. Returns the count.
    static int removeOrphanedAggregateDevices(AudioPlatform &platform);
    // "<application id>.aggregate."
    static std::string aggregateUIDPrefix();

private:
    void buildChain(double factor, EngineKind engineKind, std::uint32_t delayFrames);
    void teardownLocked();
    void reportLatencyLocked(EngineKind kind);
    void installSampleRateListener(AudioObjectID device);
    void removeSampleRateListener();
    void notifyRebuild(const char *reason);
    void releaseChainSlot();

    std::shared_ptr<AudioPlatform> platform_;
    AudioObjectID tapID_ = 0;
    std::atomic<AudioObjectID> aggregateID_{0};
    std::optional<AudioDeviceIOProcID> ioProcID_;
    std::atomic<tv_engine *> dsp_{nullptr};
    std::atomic<tv_stretch *> stretchBalanced_{nullptr};
    std::atomic<tv_stretch *> stretchHQ_{nullptr};
    std::atomic<tv_switch *> switcher_{nullptr};
    tv_fifo *analysisFifo_ = nullptr;  // guarded by fifoMutex_
    mutable std::mutex fifoMutex_;
    std::atomic<bool> running_{false};
    std::optional<RunInfo> runInfo_;
    mutable std::mutex stateMutex_;  // runInfo_, onRebuildNeeded_
    RebuildCallback onRebuildNeeded_;
    AudioListenerID defaultDeviceListener_ = 0;
    AudioListenerID sampleRateListener_ = 0;
    AudioObjectID listenedDevice_ = 0;
    std::mutex listenerMutex_;  // the listener fields above
    SerialExecutor listenerQueue_;
    std::mutex chainLock_;
};
