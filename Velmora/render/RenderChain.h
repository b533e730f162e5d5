// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// RenderChain.h: the body of the audio I/O callback, as plain C++ over planar blocks.
//
// Summary
//   renderBlock() runs once per audio block: it feeds input channel 0 into the analysis FIFO,
//   lets the switcher pick the active engine slot, resets that engine when it has just become
//   active, runs it from the input channels straight into the output channels (delay line or
//   one of the two stretch engines), applies the switcher's fade and silences output channels
//   beyond the processed ones. It knows nothing of PipeWire: the caller describes its memory
//   as planar blocks (AudioBlock).
//
//   Block length: output.frames. An input block shorter than that, a null channel pointer or
//   a channel beyond a block's channelCount counts as missing; nothing is ever read or
//   written past a block's frames.
//
//   Engine hand-over: the switcher starts on the chain's engine (ChainDsp), and a stretch
//   engine is reset off the audio thread and claimed here ready (tv_stretch_claim); leaving a
//   stretch slot releases it for the control side to prepare again (tv_stretch_release).
//   Should an engine still be being prepared when its slot becomes active, the block is
//   played as silence (the switcher is fading in from silence anyway) and the claim retried.
//
//   Timing: each block reads CLOCK_MONOTONIC at its start and end (a vDSO call on Linux,
//   no system call) and keeps the longest duration per slot, and separately for blocks in
//   which a slot change took place, in RenderTiming; the control side takes them (exchange).
//
//   After a switch to the delay line, its input is faded in over its first 1200 frames (its
//   first sound follows the switcher's fade-in by the engine's latency and would otherwise
//   start at full level), so a switch never clicks.
//
//   Missing channels are counted as underruns on the delay-line engine
//   (tv_engine_note_underrun): one per missing channel on the delay-line slot, one per
//   block on a stretch slot (which then processes nothing). Output channels that should
//   have carried processed audio but could not be processed are written as silence, so a
//   device buffer's stale contents are never played again.
//
// Real-time safety
//   renderBlock() allocates nothing, takes no lock, logs nothing and makes no system call.
//   It never fails and never throws.
//
// Thread safety
//   renderBlock() runs on the audio thread only. The context is fixed for the life of the
//   chain; its DSP objects must exist before the callback can run and be destroyed only
//   after it can no longer run. Other threads may meanwhile call the DSP objects' "any
//   thread" functions (factors, slot selection, counters) and read the FIFO.

#include "audio/AudioBlock.h"

#include <tonvel_dsp.h>
#include <tonvel_stretch.h>

#include <atomic>
#include <cstdint>

// Longest renderBlock() durations in nanoseconds since the last take(). Written by the audio
// thread only (a compare-exchange keeps the maximum), taken by one control thread at a time.
struct RenderTiming {
    std::atomic<std::uint32_t> slotNs[3] = {};  // blocks that ran one engine, by slot
    std::atomic<std::uint32_t> switchNs = {0}; // blocks in which the active slot changed

    struct Longest {
        double slotSeconds[3] = {};
        double switchSeconds = 0.0;
        double any() const;
    };
    Longest take();
    // Audio thread.
    static void note(std::atomic<std::uint32_t> &longest, std::uint32_t ns) noexcept;
};

// Fixed when the callback is created; never changes for the life of the chain.
struct RenderContext {
    tv_fifo *analysisFifo = nullptr; // capacity 65536 samples
    tv_switch *switcher = nullptr;
    tv_engine *delayLine = nullptr;        // also owns the chain's underrun counter
    tv_stretch *stretchBalanced = nullptr; // configured as the engine table says
    tv_stretch *stretchHighQuality = nullptr;
    uint32_t channelCount = 1; // processed channels, 1 ... 8 (limited to that)
    RenderTiming *timing = nullptr; // may be null: nothing is timed

    // Bookkeeping of renderBlock() on the audio thread, not configuration: a freshly reset
    // delay line would be silent for its latency and then start at full level, after the
    // switcher's fade-in is (nearly) over; instead its input is faded in over its first
    // 1200 frames. (The stretch engines fade their own input in after a reset.)
    mutable uint32_t onsetPosition = UINT32_MAX; // frames of that fade done (max: none due)
    // The slot whose stretch engine this context has claimed (max: none).
    mutable uint32_t claimedSlot = UINT32_MAX;
};

// One block. input: what was captured; output: what the listener hears. A block without
// input channels, output channels or frames is skipped. Null DSP handles in the context are
// tolerated (the DSP functions ignore them). RT safe, audio thread only.
void renderBlock(const RenderContext &context, ConstAudioBlock input, AudioBlock output) noexcept;
