// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// RenderCrossfade: hands the render callback over from one chain's DSP objects to new ones
// (a new device rate) without a gap.
//
// Summary
//   New DSP objects are silent for their engine's latency, and then fade in by themselves (a
//   stretch engine fades its input in after a reset; the delay line's input fade is started
//   here). Meanwhile the outgoing objects go on rendering the same input into scratch memory,
//   and that is what the listener hears, fading out over the very frames in which the new
//   output fades in; after that the outgoing objects are no longer run and done() turns true. Both sides run the same engine kind, so their outputs line up within
//   the difference of their latencies. The pitch factor is a ratio: the outgoing objects give
//   the right pitch at the new rate too (only their time constants are off by the ratio of
//   the rates, for about 100 ms).
//
// Real-time safety
//   create() allocates the scratch memory (control thread). render() allocates nothing, takes
//   no lock and makes no system call beyond renderBlock()'s. A block whose output does not fit
//   the scratch memory ends the cross-fade at once (the incoming output alone).
//
// Thread safety
//   render() runs on the audio thread, from one callback at a time; a callback that replaces
//   another one (new engines added) may go on with the same object. done() from any thread.
//   The outgoing objects are freed with the last owner of this object, never by render().

#include "render/ChainDsp.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class RenderCrossfade {
public:
    // From `outgoing` to `incoming`, which plays `kind`. Null only when memory cannot be had.
    // maxFrames: the largest block the callback gets.
    static std::shared_ptr<RenderCrossfade> create(std::shared_ptr<ChainDsp> outgoing, const ChainDsp &incoming,
                                                   EngineKind kind, std::uint32_t maxFrames);

    // One block: `incoming` as renderBlock() would run it, cross-faded from the outgoing objects.
    void render(const RenderContext &incoming, ConstAudioBlock input, AudioBlock output) noexcept;
    bool done() const { return done_.load(std::memory_order_acquire); }

private:
    RenderCrossfade() = default;
    float outgoingGain(std::uint64_t frame) const noexcept;

    std::shared_ptr<ChainDsp> outgoing_;
    RenderContext outgoingContext_;
    std::vector<float> scratch_;
    std::uint64_t prime_ = 0;
    std::uint64_t fade_ = 1;
    std::uint64_t position_ = 0; // incoming frames rendered so far (audio thread)
    std::atomic<bool> done_{false};
};
