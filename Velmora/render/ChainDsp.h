// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ChainDsp: the DSP objects of one chain (analysis FIFO, switcher, delay line, the stretch
// engines), built from the engine table, and the render context over them.
//
// Summary
//   create() builds everything a chain needs for one rate and channel count, sets the factor
//   and selects the engine; the live chain and the offline render both use it, so the engines
//   are configured in one place. Only the objects exist here; renderBlock() runs them.
//   The switcher starts on the selected engine, which is ready at once. select() first
//   prepares (resets) every stretch engine the audio thread has released since it last
//   used it, so the callback only flips to an engine that is ready (RenderChain.h).
//
// Real-time safety
//   create() and destruction allocate and free: control thread only, and only while no render
//   call uses the objects. The other members call the DSP's "any thread" functions and may run
//   while renderBlock() runs on the audio thread.
//
// Thread safety
//   setFactor(), frames(), underruns() and the latency getters from any thread; select() and
//   the timing readers from one control thread at a time; readAnalysis() from the one
//   analysis consumer only.
//
#include "audio/EngineTable.h"
#include "render/RenderChain.h"

#include <tv_handles.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class RenderCrossfade;

class ChainDsp {
public:
    struct Failure {
        const char *operation = ""; // German name of the object that could not be created
    };

    // What the stretch engines serve: the live chain, or files (no latency limit and a steady
    // factor: the balanced engine then uses the cheapest library configuration of the same
    // measured quality, bench/stretch_options_bench).
    enum class Use { live, files };

    // Null when channels is not 1 ... 8, the rate is not positive, or an object cannot be
    // created (`failure` then names it). Builds the stretch engine of `selected`, and the other
    // one too when `allEngines` is set.
    static std::unique_ptr<ChainDsp> create(std::uint32_t channels, double sampleRate,
                                            std::uint32_t maxFrames, double factor, EngineKind selected,
                                            bool allEngines, Failure *failure = nullptr, Use use = Use::live);

    // The stretch engines create() left out, built off to the side (slow: call it without
    // holding anything the audio or control threads wait for), then handed to addEngines().
    struct Engines {
        tv::StretchPtr balanced;
        tv::StretchPtr highQuality;
    };
    // Stops before the next engine once `cancelled` says so (what was built is returned).
    Engines buildMissingEngines(std::uint32_t maxFrames, double factor, Failure *failure = nullptr,
                                const std::function<bool()> &cancelled = {}) const;
    // Takes them over; context() then names them. Control thread, while no other thread calls
    // this object; a render callback keeps the context it was given.
    void addEngines(Engines engines);
    bool has(EngineKind kind) const;

    const RenderContext &context() const { return context_; }
    double sampleRate() const { return sampleRate_; }
    std::uint32_t channels() const { return context_.channelCount; }
    // Latency of an engine in seconds; 0 for a stretch engine that is not built (yet).
    double latencySeconds(EngineKind kind) const;
    std::uint32_t latencyFrames(EngineKind kind) const;

    void setFactor(double factor);
    // The delay line takes `factor` at its next block instead of gliding to it; the stretch
    // engines, which hold audio already shifted, just get it.
    void jumpFactor(double factor);
    // Prepares the released stretch engines (a few ms each, on the calling thread), then
    // selects `kind` in the switcher.
    void select(EngineKind kind);
    // The longest render callbacks since the last take (for measurements).
    RenderTiming::Longest takeRenderTiming() { return timing_->take(); }
    // The longest render callback of the last one to two seconds, whoever else reads it.
    double recentLongestRenderSeconds();
    // Lets `outgoing` (the objects these replace, same engine kind) play on while these fill
    // their latency, cross-faded (RenderCrossfade). maxFrames: the largest block of the chain.
    void handOverFrom(std::shared_ptr<ChainDsp> outgoing, EngineKind kind, std::uint32_t maxFrames);
    // The hand-over a render callback must run, or null once it is over (the outgoing objects
    // are then released here; a callback that still holds them keeps them until it is dropped).
    std::shared_ptr<RenderCrossfade> handover();
    // Resets the audio thread had to do itself, because an engine was not prepared in time.
    std::uint64_t audioThreadResets() const;
    std::uint64_t frames() const { return tv_switch_frames(switcher_.get()); }
    std::uint64_t underruns() const { return tv_engine_underruns(delayLine_.get()); }
    std::uint32_t readAnalysis(float *destination, std::uint32_t maxFrames);

private:
    ChainDsp() = default;

    double sampleRate_ = 0.0;
    tv::FifoPtr fifo_;
    tv::SwitchPtr switcher_;
    tv::EnginePtr delayLine_;
    tv::StretchPtr balanced_;
    tv::StretchPtr highQuality_;
    std::unique_ptr<RenderTiming> timing_ = std::make_unique<RenderTiming>();
    RenderContext context_;

    std::shared_ptr<RenderCrossfade> handover_;

    std::mutex recentMutex_; // the window below
    std::chrono::steady_clock::time_point windowStart_{};
    double currentWindow_ = 0.0;
    double previousWindow_ = 0.0;
};
