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
//
// Real-time safety
//   create() and destruction allocate and free: control thread only, and only while no render
//   call uses the objects. The other members call the DSP's "any thread" functions and may run
//   while renderBlock() runs on the audio thread.
//
// Thread safety
//   setFactor(), select(), frames(), underruns() and the latency getters from any thread;
//   readAnalysis() from the one analysis consumer only.
//
#include "audio/EngineTable.h"
#include "render/RenderChain.h"

#include <tv_handles.h>

#include <cstdint>
#include <functional>
#include <memory>

class ChainDsp {
public:
    struct Failure {
        const char *operation = ""; // German name of the object that could not be created
    };

    // Null when channels is not 1 ... 8, the rate is not positive, or an object cannot be
    // created (`failure` then names it). Builds the stretch engine of `selected`, and the other
    // one too when `allEngines` is set.
    static std::unique_ptr<ChainDsp> create(std::uint32_t channels, double sampleRate,
                                            std::uint32_t maxFrames, double factor, EngineKind selected,
                                            bool allEngines, Failure *failure = nullptr);

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
    void select(EngineKind kind);
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
    RenderContext context_;
};
