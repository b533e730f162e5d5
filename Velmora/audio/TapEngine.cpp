// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TapEngine.h"

#include "identity/AppIdentity.h"
#include "render/ChainDsp.h"
#include "render/RenderCrossfade.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <set>

namespace {

const QLoggingCategory &lcTapEngine()
{
    return AppIdentity::logCategory("TapEngine");
}

// Every engine of the process, for shutdownAll(). Never destroyed: exit hooks may run late.
struct Registry {
    Mutex lock;
    std::set<TapEngine *> engines GUARDED_BY(lock);
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

RenderCallback renderWith(const std::shared_ptr<ChainDsp> &dsp)
{
    RenderContext context = dsp->context();
    if (auto fade = dsp->handover()) // the objects it replaced play on while it fills its latency
        return [context, fade](ConstAudioBlock input, AudioBlock output) { fade->render(context, input, output); };
    return [context](ConstAudioBlock input, AudioBlock output) { renderBlock(context, input, output); };
}

} // namespace

// The server's events and the worker's tasks use the engine by plain pointer: the destructor
// first silences the server (no event is in flight once setEvents returns) and then joins the
// worker, so neither runs once it has begun.
std::shared_ptr<TapEngine> TapEngine::create(std::shared_ptr<AudioServer> server)
{
    auto engine = std::make_shared<TapEngine>(Private{}, std::move(server));
    TapEngine *e = engine.get();
    AudioServer::Events events;
    events.defaultOutputChanged = [e] {
        MutexLock lock(e->mutex_);
        e->deliver(e->generation_, [](const Events &ev) {
            if (ev.defaultOutputChanged)
                ev.defaultOutputChanged();
        });
        if (e->waiting_) {
            lock.unlock();
            e->resume(); // perhaps a device to play to again
        } else if (e->running_ && !e->serverLost_) {
            e->deliver(e->generation_, [](const Events &ev) {
                if (ev.rebuildNeeded)
                    ev.rebuildNeeded("Ausgabegerät gewechselt");
            });
        }
    };
    events.rateChanged = [e](double rate) {
        MutexLock lock(e->mutex_);
        if (e->running_ && e->dsp_ && rate != e->dsp_->sampleRate())
            e->deliver(e->generation_, [](const Events &ev) {
                if (ev.rebuildNeeded)
                    ev.rebuildNeeded("Samplerate geändert");
            });
    };
    events.connection = [e](bool connected) {
        std::unique_ptr<AudioChain> dead;
        bool rebuild = false;
        {
            MutexLock calls(e->chainMutex_);
            MutexLock lock(e->mutex_);
            e->serverLost_ = !connected;
            if (!connected)
                dead = std::move(e->chain_);
            rebuild = connected && e->running_;
            e->deliver(e->generation_, [connected](const Events &ev) {
                if (ev.serverConnection)
                    ev.serverConnection(connected);
            });
        }
        dead.reset();
        if (rebuild)
            e->build(e->generation_, Build::reconnect);
    };
    events.applicationsChanged = [e] {
        MutexLock lock(e->mutex_);
        e->deliver(e->generation_, [](const Events &ev) {
            if (ev.applicationsChanged)
                ev.applicationsChanged();
        });
    };
    events.sessionManager = [e](bool present) {
        if (present)
            e->resume();
        else
            e->wait(SessionWait::sessionManager);
    };
    // A session event (its return above all) must not wait behind engines still being built,
    // which takes seconds on a loaded machine: it counts as a queued build, which cancels that
    // work, and the engines are completed once the events are through.
    engine->server_->setEvents(std::move(events), [e](std::function<void()> task) {
        ++e->queuedBuilds_;
        e->worker_.post([e, task = std::move(task)] {
            --e->queuedBuilds_;
            task();
            if (e->queuedBuilds_.load() == 0)
                e->completeRunningEngines();
        });
    });
    return engine;
}

TapEngine::TapEngine(Private, std::shared_ptr<AudioServer> server)
    : server_(std::move(server)), worker_(AppIdentity::qualified("chain").toStdString()),
      engineBuilder_(AppIdentity::qualified("engines").toStdString())
{
    MutexLock lock(registry().lock);
    registry().engines.insert(this);
}

// Shutdown order: no new events, no task running, then the chain (its callback) before the DSP
// objects it used.
TapEngine::~TapEngine()
{
    {
        MutexLock lock(registry().lock);
        registry().engines.erase(this);
    }
    server_->setEvents({}, {});
    shuttingDown_ = true;
    engineBuilder_.shutdown(); // before the worker it posts to
    worker_.shutdown();
    MutexLock calls(chainMutex_); // nothing else runs any more
    chain_.reset();
    MutexLock lock(mutex_);
    dsp_.reset();
}

void TapEngine::setEvents(Events events, Executor executor)
{
    MutexLock lock(mutex_);
    events_ = std::move(events);
    executor_ = std::move(executor);
}

// Caller holds mutex_. Delivered only if no stop() came in between.
void TapEngine::deliver(std::uint64_t generation, std::function<void(const Events &)> call)
{
    if (!executor_)
        return;
    executor_([weak = weak_from_this(), generation, events = events_, call = std::move(call)] {
        auto self = weak.lock();
        if (self && self->generation_.load() == generation)
            call(events);
    });
}

void TapEngine::start(double factor, EngineKind engine)
{
    std::uint64_t generation = 0;
    {
        MutexLock lock(mutex_);
        if (running_)
            return;
        running_ = true;
        factor_ = factor;
        engine_ = engine;
        generation = generation_.load();
    }
    ++queuedBuilds_;
    worker_.post([this, generation] {
        --queuedBuilds_;
        build(generation, Build::fresh);
    });
}

void TapEngine::rebuild()
{
    post(Build::rebuild);
}

// The running DSP objects keep the old device's tuning until the build moves the output.
void TapEngine::rebuildForDevice(double factor, EngineKind engine)
{
    {
        MutexLock lock(mutex_);
        if (!running_)
            return;
        deviceKeepsDsp_ = engine_ == EngineKind::lowLatency && engine == EngineKind::lowLatency;
        factor_ = factor;
        engine_ = engine;
    }
    post(Build::device);
}

void TapEngine::post(Build kind)
{
    std::uint64_t generation = 0;
    {
        MutexLock lock(mutex_);
        if (!running_)
            return;
        generation = generation_.load();
    }
    ++queuedBuilds_;
    worker_.post([this, generation, kind] {
        --queuedBuilds_;
        build(generation, kind);
    });
}

void TapEngine::stop()
{
    std::unique_ptr<AudioChain> chain;
    std::shared_ptr<ChainDsp> dsp;
    {
        MutexLock calls(chainMutex_);
        MutexLock lock(mutex_);
        ++generation_;
        running_ = false;
        waiting_.reset();
        runInfo_.reset();
        chain = std::move(chain_);
        dsp = std::move(dsp_);
    }
    chain.reset(); // applications return to their device now
    dsp.reset();
}

// Worker thread: the session went away. The chain is closed (its nodes would hold up a
// returning session manager, and nothing can be linked meanwhile); the DSP objects stay for
// the return. Said once per wait.
void TapEngine::wait(SessionWait why)
{
    std::unique_ptr<AudioChain> closed;
    {
        MutexLock calls(chainMutex_);
        MutexLock lock(mutex_);
        if (!running_ || serverLost_)
            return;
        closed = std::move(chain_);
        if (waiting_ != why) {
            qCWarning(lcTapEngine(), "%s", why == SessionWait::sessionManager
                                               ? "Warte auf den Sitzungsmanager"
                                               : "Warte auf ein Ausgabegeraet");
            deliver(generation_, [why](const Events &e) {
                if (e.waiting)
                    e.waiting(why);
            });
        }
        waiting_ = why;
    }
}

// Worker thread: the session may be back; a new chain if so, else the wait goes on.
void TapEngine::resume()
{
    std::uint64_t generation = 0;
    {
        MutexLock calls(chainMutex_);
        MutexLock lock(mutex_);
        if (!running_ || serverLost_ || (!waiting_ && chain_))
            return;
        generation = generation_;
    }
    build(generation, Build::reconnect);
}

// Worker thread. Keeps what still fits; see the header.
void TapEngine::build(std::uint64_t generation, Build kind)
{
    auto fail = [this, generation](const AudioError &error) {
        std::unique_ptr<AudioChain> chain;
        std::shared_ptr<ChainDsp> dsp;
        {
            MutexLock calls(chainMutex_);
            MutexLock lock(mutex_);
            if (generation != generation_)
                return;
            running_ = false;
            waiting_.reset();
            runInfo_.reset();
            chain = std::move(chain_);
            dsp = std::move(dsp_);
            deliver(generation, [error](const Events &e) {
                if (e.failed)
                    e.failed(error);
            });
        }
        chain.reset(); // its callback still renders with the DSP objects until it is closed
        dsp.reset();
        qCWarning(lcTapEngine(), "%s", error.what());
    };

    OutputDevice device;
    try {
        device = server_->defaultOutput();
    } catch (const AudioError &error) {
        if (kind == Build::fresh) {
            fail(error);
        } else if (server_->isConnected()) {
            // The session went away under a running chain: wait for it, as for the server.
            wait(server_->hasSessionManager() ? SessionWait::outputDevice : SessionWait::sessionManager);
        }
        return; // a lost server: the engine rebuilds by itself once it is back
    }
    const auto channels = static_cast<std::uint32_t>(std::clamp(device.channels, 1, 8));

    // A chain whose stream failed, or one of a lost server, is never adopted.
    bool keepChain = false;
    std::shared_ptr<ChainDsp> dsp;
    std::shared_ptr<ChainDsp> replaced;
    std::unique_ptr<AudioChain> old;
    double factor = 1.0;
    EngineKind engine = EngineKind::lowLatency;
    {
        const bool rebuild = kind == Build::rebuild || kind == Build::device;
        MutexLock calls(chainMutex_);
        {
            MutexLock lock(mutex_);
            if (generation != generation_ || (rebuild && serverLost_))
                return;
            // A stretch engine holds audio shifted for the old device: a device build keeps only
            // the delay line, which jumps to the new factor.
            if ((kind != Build::device || deviceKeepsDsp_) && dsp_ && dsp_->sampleRate() == device.rate
                && dsp_->channels() == channels)
                dsp = dsp_;
            replaced = dsp_;
            factor = factor_;
            engine = engine_;
        }
        keepChain = rebuild && chain_ && chain_->health() == ChainHealth::healthy;
        if (!keepChain)
            old = std::move(chain_);
    }
    old.reset(); // closed before a new chain opens: one chain per process

    const bool newDsp = !dsp;
    const std::uint32_t maxFrames = EngineTable::stretchMaxFrames(device.maxBlockFrames);
    if (newDsp) {
        // The selected engine first; the others follow once the chain runs.
        ChainDsp::Failure failure;
        dsp = ChainDsp::create(channels, device.rate, maxFrames, factor, engine, false, &failure);
        if (!dsp) {
            fail(AudioError(-ENOMEM, failure.operation));
            return;
        }
    }
    std::unique_ptr<AudioChain> fresh;
    if (!keepChain) {
        try {
            fresh = server_->openChain(device, renderWith(dsp));
        } catch (const AudioError &error) {
            if (kind == Build::fresh || error.status() != -ENODEV) {
                fail(error);
                return;
            }
            // The device went in between, as a returning session manager's stand-in sink does
            // once the real devices are there: the next default device resumes the chain.
            qCWarning(lcTapEngine(), "%s", error.what());
            bool waiting = false;
            {
                MutexLock lock(mutex_);
                waiting = waiting_.has_value();
            }
            if (!waiting)
                wait(SessionWait::outputDevice);
            return;
        }
    }

    RunInfo info;
    {
        MutexLock calls(chainMutex_);
        if (generation != generation_)
            return; // stopped meanwhile: `fresh` closes on the way out
        if (fresh) {
            chain_ = std::move(fresh);
        } else if (!chain_) {
            return; // closed by a lost server meanwhile; its return rebuilds
        } else {
            if (chain_->device().nodeName != device.nodeName) {
                if (kind == Build::device && !newDsp)
                    dsp->jumpFactor(factor);
                try {
                    chain_->retarget(device);
                } catch (const AudioError &error) {
                    qCWarning(lcTapEngine(), "%s", error.what());
                }
            }
            if (newDsp) {
                // Another device starts afresh: nothing of the old one's tuning cross-fades in.
                if (kind != Build::device)
                    dsp->handOverFrom(replaced, engine, maxFrames);
                chain_->setRender(renderWith(dsp));
            }
        }
        {
            MutexLock lock(mutex_);
            if (generation != generation_)
                return;
            waiting_.reset();
            if (dsp != dsp_) {
                replaced = std::move(dsp_);
                dsp_ = dsp;
                engineFrames_ = maxFrames;
            }
            dsp_->setFactor(factor_);
            applySelection();
            info.outputDeviceName = device.description;
            info.sampleRate = device.rate;
            info.channels = int(channels);
            runInfo_ = info;
            noteLatencies();
            info = *runInfo_;
        }
        publishLatency(); // players know the latency before anyone hears that the chain runs
        MutexLock lock(mutex_);
        deliver(generation, [info](const Events &e) {
            if (e.running)
                e.running(info);
        });
    }
    replaced.reset();
    qCInfo(lcTapEngine(), "Kette laeuft: %s, %.0f Hz, %d Kanaele (%s)", info.outputDeviceName.c_str(),
           info.sampleRate, info.channels,
           keepChain ? (newDsp ? "Strom behalten, DSP neu" : "Strom und DSP behalten") : "neu aufgebaut");
    completeEngines(generation, dsp, maxFrames);
}

// Worker thread: has the engines the running chain does not have yet built on the engine
// builder, then hands the chain a context that names them. The engine that plays is not touched.
void TapEngine::completeEngines(std::uint64_t generation, const std::shared_ptr<ChainDsp> &dsp,
                                std::uint32_t maxFrames)
{
    double factor = 1.0;
    {
        MutexLock lock(mutex_);
        if (generation != generation_ || dsp_ != dsp || enginesUnderWay_ == dsp)
            return;
        if (dsp->has(EngineKind::balanced) && dsp->has(EngineKind::highQuality))
            return;
        enginesUnderWay_ = dsp; // no other thread adds engines to it until they are handed over
        factor = factor_;
    }
    engineBuilder_.post([this, generation, dsp, maxFrames, factor] {
        ChainDsp::Failure failure;
        // A stop, a build asked for meanwhile or the engine's end wait for the engine under way
        // at most; the worker completes the engines once its events are through.
        auto engines = std::make_shared<ChainDsp::Engines>(dsp->buildMissingEngines(maxFrames, factor, &failure, [&] {
            return generation != generation_ || shuttingDown_.load() || queuedBuilds_.load() > 0;
        }));
        worker_.post([this, generation, dsp, engines, operation = failure.operation] {
            {
                MutexLock lock(mutex_);
                if (enginesUnderWay_ == dsp)
                    enginesUnderWay_.reset();
                if (!engines->balanced && !engines->highQuality) {
                    if (*operation) // else cancelled before the first one
                        qCWarning(lcTapEngine(), "%s fehlgeschlagen: nur die gewaehlte Engine laeuft", operation);
                    else
                        // Cancelled: a build that ran meanwhile found this one under way and
                        // left the engines to it.
                        worker_.post([this] { completeRunningEngines(); });
                    return;
                }
            }
            MutexLock calls(chainMutex_);
            {
                MutexLock lock(mutex_);
                if (generation != generation_ || dsp_ != dsp || !chain_)
                    return;
                dsp_->addEngines(std::move(*engines));
                dsp_->setFactor(factor_);
            }
            chain_->setRender(renderWith(dsp));
            {
                MutexLock lock(mutex_);
                applySelection();
            }
            publishLatency();
            MutexLock lock(mutex_);
            noteLatencies();
        });
    });
}

// Worker thread: the engines a cancelled completeEngines left out, for the running chain.
void TapEngine::completeRunningEngines()
{
    std::uint64_t generation = 0;
    std::shared_ptr<ChainDsp> dsp;
    std::uint32_t maxFrames = 0;
    {
        MutexLock calls(chainMutex_);
        MutexLock lock(mutex_);
        if (!running_ || !chain_ || !dsp_)
            return;
        generation = generation_;
        dsp = dsp_;
        maxFrames = engineFrames_;
    }
    completeEngines(generation, dsp, maxFrames);
}

// An engine that is still being built is selected once it exists; the caller then publishes
// its latency.
void TapEngine::applySelection()
{
    if (dsp_ && dsp_->has(engine_))
        dsp_->select(engine_);
}

// Tells players the selected engine's latency (under chainMutex_, so the last one told is the
// one selected last). Only their picture timing depends on it: a failure is the chain's to log.
void TapEngine::publishLatency()
{
    std::uint32_t frames = 0;
    {
        MutexLock lock(mutex_);
        if (!dsp_ || !dsp_->has(engine_))
            return;
        frames = dsp_->latencyFrames(engine_);
    }
    if (chain_)
        chain_->setProcessingLatency(frames);
}

// Caller holds mutex_.
void TapEngine::noteLatencies()
{
    if (!runInfo_ || !dsp_)
        return;
    runInfo_->lowLatencySeconds = dsp_->latencySeconds(EngineKind::lowLatency);
    runInfo_->balancedSeconds = dsp_->latencySeconds(EngineKind::balanced);
    runInfo_->highQualitySeconds = dsp_->latencySeconds(EngineKind::highQuality);
}

bool TapEngine::isRunning() const
{
    MutexLock lock(mutex_);
    return running_;
}

std::optional<RunInfo> TapEngine::runInfo() const
{
    MutexLock lock(mutex_);
    return runInfo_;
}

void TapEngine::setFactor(double factor)
{
    MutexLock lock(mutex_);
    factor_ = factor;
    if (dsp_)
        dsp_->setFactor(factor);
}

void TapEngine::selectEngine(EngineKind engine)
{
    MutexLock calls(chainMutex_);
    {
        MutexLock lock(mutex_);
        engine_ = engine;
        applySelection();
    }
    publishLatency();
}

EngineStats TapEngine::stats() const
{
    EngineStats s;
    bool serverLost = false;
    MutexLock calls(chainMutex_);
    {
        MutexLock lock(mutex_);
        if (dsp_) {
            s.frames = dsp_->frames();
            s.underruns = dsp_->underruns();
            s.longestRenderSeconds = dsp_->recentLongestRenderSeconds();
        }
        serverLost = serverLost_;
    }
    s.idle = chain_ && chain_->isIdle();
    s.health = serverLost ? ChainHealth::serverLost : chain_ ? chain_->health() : ChainHealth::healthy;
    return s;
}

std::optional<std::string> TapEngine::defaultOutputName() const
{
    try {
        return server_->defaultOutput().description;
    } catch (const AudioError &) {
        return std::nullopt;
    }
}

double TapEngine::defaultOutputRate() const
{
    try {
        return server_->defaultOutput().rate;
    } catch (const AudioError &) {
        return 0.0;
    }
}

std::optional<std::uint32_t> TapEngine::readAnalysisSamples(float *destination, std::uint32_t maxFrames)
{
    std::shared_ptr<ChainDsp> dsp;
    {
        MutexLock lock(mutex_);
        dsp = dsp_;
    }
    if (!dsp)
        return std::nullopt;
    return dsp->readAnalysis(destination, maxFrames);
}

int TapEngine::clearStaleRouting()
{
    return std::max(0, server_->clearStaleRouting());
}

void TapEngine::closeForExit()
{
    std::unique_ptr<AudioChain> chain;
    {
        MutexLock calls(chainMutex_);
        ++generation_;
        chain = std::move(chain_);
    }
    chain.reset();
}

void TapEngine::shutdownAll()
{
    MutexLock lock(registry().lock);
    for (TapEngine *engine : registry().engines)
        engine->closeForExit();
}

std::optional<std::string> TapEngine::defaultOutputKey() const
{
    try {
        const OutputDevice d = server_->defaultOutput();
        return d.nodeName.empty() ? d.description : d.nodeName;
    } catch (const AudioError &) {
        return std::nullopt;
    }
}

void TapEngine::setScope(const ChainScope &scope)
{
    server_->setScope(scope);
}

std::vector<AppEntry> TapEngine::applications() const
{
    return server_->applications();
}
