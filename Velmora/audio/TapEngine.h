// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TapEngine: the retuning chain on an AudioServer: the RetuneEngine the controller uses.
//
// Summary
//   start() and rebuild() return at once; a worker thread ("<application id>.chain") asks the
//   server for the default output, builds the DSP objects (ChainDsp) for its rate and opens a
//   chain to it, then reports `running` or `failed`. New DSP objects start with the selected
//   engine alone; the other two follow on the worker while the chain already plays (their
//   latencies in runInfo() are 0 and selecting one takes effect once it exists). A rebuild
//   keeps what still fits: the open
//   chain while it is healthy (moved to a new default device if there is one) and the DSP
//   objects while the rate is unchanged, so a device change or a stall costs no gap; a chain
//   whose stream failed, or one of a lost server, is replaced by a new one.
//   rebuildForDevice() moves the chain to a new default device that has its own tuning: the
//   running objects keep the old device's factor and engine until the output moves; then the
//   delay line is kept and jumps to the new factor, while a stretch engine (on either side)
//   means new DSP objects, since it holds audio shifted for the old device. stop() is final:
//   the chain is closed at once and applications return to their device. When the server
//   goes away the engine says so (serverConnection(false), health serverLost) and builds a
//   new chain by itself once the server is back. The same holds for the session: when the
//   session manager goes away, or a rebuild finds no output device, the chain is closed (the
//   applications are the session's again), `waiting` says why, once, and a new chain is built
//   by itself once a default output is there again.
//
//   Shutdown order (destructor): the server's events are silenced, the worker is joined (a
//   build under way finishes first), then the chain is closed and the DSP objects freed.
//
// Real-time safety
//   Nothing here runs on the real-time thread. The render callback (render/RenderChain.h)
//   gets a fixed RenderContext; DSP objects are freed only after the chain has dropped the
//   callback that used them (AudioChain::setRender, or closing the chain).
//
// Thread safety
//   The RetuneEngine calls belong to the owner's thread, readAnalysisSamples() to the analysis
//   worker's; shutdownAll() may run on any thread, any number of times. Internal state is
//   guarded by one mutex that is never held while waiting for the server. The chain has its
//   own mutex, taken first, held while it is called (such calls may wait for the server) or
//   closed; owner-thread calls that touch the chain wait at most for one such call. The
//   thread-safety build checks these rules (ThreadSafety.h).
//
#include "audio/AudioServer.h"
#include "audio/RetuneEngine.h"
#include "audio/SerialExecutor.h"
#include "audio/ThreadSafety.h"

#include <atomic>
#include <memory>

class ChainDsp;

class TapEngine final : public RetuneEngine, public std::enable_shared_from_this<TapEngine> {
    struct Private {};

public:
    static std::shared_ptr<TapEngine> create(std::shared_ptr<AudioServer> server);
    TapEngine(Private, std::shared_ptr<AudioServer> server);
    ~TapEngine() override;
    TapEngine(const TapEngine &) = delete;
    TapEngine &operator=(const TapEngine &) = delete;

    void setEvents(Events events, Executor executor) override EXCLUDES(chainMutex_, mutex_);
    void start(double factor, EngineKind engine) override EXCLUDES(chainMutex_, mutex_);
    void rebuild() override EXCLUDES(chainMutex_, mutex_);
    void rebuildForDevice(double factor, EngineKind engine) override EXCLUDES(chainMutex_, mutex_);
    void stop() override EXCLUDES(chainMutex_, mutex_);
    bool isRunning() const override EXCLUDES(chainMutex_, mutex_);
    std::optional<RunInfo> runInfo() const override EXCLUDES(chainMutex_, mutex_);
    void setFactor(double factor) override EXCLUDES(chainMutex_, mutex_);
    void selectEngine(EngineKind engine) override EXCLUDES(chainMutex_, mutex_);
    EngineStats stats() const override EXCLUDES(chainMutex_, mutex_);
    std::optional<std::string> defaultOutputName() const override;
    double defaultOutputRate() const override;
    std::optional<std::uint32_t> readAnalysisSamples(float *destination, std::uint32_t maxFrames) override
        EXCLUDES(chainMutex_, mutex_);
    int clearStaleRouting() override;
    std::optional<std::string> defaultOutputKey() const override;
    void setScope(const ChainScope &scope) override;
    std::vector<AppEntry> applications() const override;

    // Closes every chain of the process at once, leaving isRunning and runInfo as they were.
    // For process exit (signals, exit hooks).
    static void shutdownAll();

private:
    enum class Build { fresh, rebuild, device, reconnect };
    void post(Build kind) EXCLUDES(chainMutex_, mutex_);
    void build(std::uint64_t generation, Build kind) EXCLUDES(chainMutex_, mutex_);
    void wait(SessionWait why) EXCLUDES(chainMutex_, mutex_);
    void resume() EXCLUDES(chainMutex_, mutex_);
    void completeEngines(std::uint64_t generation, const std::shared_ptr<ChainDsp> &dsp,
                         std::uint32_t maxFrames) EXCLUDES(chainMutex_, mutex_);
    void completeRunningEngines() EXCLUDES(chainMutex_, mutex_);
    void applySelection() REQUIRES(mutex_);
    void publishLatency() REQUIRES(chainMutex_) EXCLUDES(mutex_);
    void noteLatencies() REQUIRES(mutex_);
    void deliver(std::uint64_t generation, std::function<void(const Events &)> call) REQUIRES(mutex_);
    void closeForExit() EXCLUDES(chainMutex_, mutex_);

    std::shared_ptr<AudioServer> server_;
    std::atomic<bool> shuttingDown_{false}; // the destructor runs: the worker finishes up
    std::atomic<int> queuedBuilds_{0};      // start/rebuild tasks and server events not begun yet
    SerialExecutor worker_;
    // Builds the stretch engines a running chain does not have yet (a second or more on a loaded
    // machine), so that no session event waits behind them on the worker.
    SerialExecutor engineBuilder_;

    // Held while the chain is called or closed (which may wait for the server); taken before
    // mutex_.
    mutable Mutex chainMutex_;
    std::unique_ptr<AudioChain> chain_ GUARDED_BY(chainMutex_);
    mutable Mutex mutex_; // everything below; never held while waiting for the server
    Events events_ GUARDED_BY(mutex_);
    Executor executor_ GUARDED_BY(mutex_);
    std::atomic<std::uint64_t> generation_{0}; // bumped by stop(): a build under way is dropped
    bool running_ GUARDED_BY(mutex_) = false;
    std::uint32_t engineFrames_ GUARDED_BY(mutex_) = 0; // the running DSP's block limit
    std::shared_ptr<ChainDsp> enginesUnderWay_ GUARDED_BY(mutex_); // the DSP the engine builder works for
    bool serverLost_ GUARDED_BY(mutex_) = false;
    std::optional<SessionWait> waiting_ GUARDED_BY(mutex_); // chain closed until the session is back
    double factor_ GUARDED_BY(mutex_) = 1.0;
    EngineKind engine_ GUARDED_BY(mutex_) = EngineKind::lowLatency;
    // A device rebuild may keep the DSP objects: the delay line played before and plays after.
    bool deviceKeepsDsp_ GUARDED_BY(mutex_) = false;
    std::optional<RunInfo> runInfo_ GUARDED_BY(mutex_);
    std::shared_ptr<ChainDsp> dsp_ GUARDED_BY(mutex_);
};
