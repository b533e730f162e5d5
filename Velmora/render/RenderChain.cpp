// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/RenderChain.h"

#include "audio/EngineTable.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

constexpr uint32_t kMaxChannels = 8;
// Input fade-in of a freshly activated delay line: 25 ms at 48 kHz.
constexpr uint32_t kOnsetFrames = 1200;
constexpr uint32_t kOnsetChunk = 256;

// An input channel that can feed a whole block, or null.
const float *inputChannel(ConstAudioBlock input, uint32_t n, uint32_t frames) noexcept
{
    return input.frames >= frames ? input.channel(n) : nullptr;
}

void writeSilence(float *channel, uint32_t frames) noexcept
{
    std::fill_n(channel, frames, 0.0f);
}

// Silences the processed output channels that exist, after an engine could not run on them.
void silenceProcessedOutputs(AudioBlock output, uint32_t channels) noexcept
{
    for (uint32_t n = 0; n < channels; ++n) {
        if (float *out = output.channel(n))
            writeSilence(out, output.frames);
    }
}

void runDelayLine(const RenderContext &context, ConstAudioBlock input, AudioBlock output,
                  uint32_t channels) noexcept
{
    const uint32_t frames = output.frames;
    for (uint32_t n = 0; n < channels; ++n) {
        float *out = output.channel(n);
        const float *in = inputChannel(input, n, frames);
        if (!out || !in) {
            tv_engine_note_underrun(context.delayLine);
            if (out)
                writeSilence(out, frames);
            continue;
        }
        uint32_t done = 0;
        if (context.onsetPosition < kOnsetFrames) {
            // The engine was just reset: its input fades in (via a small copy), so that its
            // output does not jump from silence to full level after its latency.
            float ramped[kOnsetChunk];
            const uint32_t rampFrames = std::min(frames, kOnsetFrames - context.onsetPosition);
            while (done < rampFrames) {
                const uint32_t len = std::min(kOnsetChunk, rampFrames - done);
                for (uint32_t k = 0; k < len; ++k) {
                    const float g = 0.5f
                                    - 0.5f
                                          * std::cos(3.14159265f * (context.onsetPosition + done + k + 1.0f)
                                                     / (kOnsetFrames + 1.0f));
                    ramped[k] = in[done + k] * g;
                }
                tv_engine_process_channel(context.delayLine, n, ramped, 1, out + done, 1, len);
                done += len;
            }
        }
        if (done < frames)
            tv_engine_process_channel(context.delayLine, n, in + done, 1, out + done, 1, frames - done);
    }
    if (context.onsetPosition < kOnsetFrames)
        context.onsetPosition += std::min(frames, kOnsetFrames - context.onsetPosition);
}

void runStretch(const RenderContext &context, tv_stretch *stretch, ConstAudioBlock input, AudioBlock output,
                uint32_t channels) noexcept
{
    for (uint32_t n = 0; n < channels; ++n) {
        float *out = output.channel(n);
        const float *in = inputChannel(input, n, output.frames);
        if (!in || !out) {
            tv_engine_note_underrun(context.delayLine);
            silenceProcessedOutputs(output, channels);
            return;
        }
        tv_stretch_set_channel(stretch, n, in, 1, out, 1);
    }
    tv_stretch_process(stretch, output.frames);
}

// vDSO on Linux: no system call.
std::uint64_t monotonicNs() noexcept
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
}

// Releases every stretch engine but the one of `slot` (the audio thread no longer runs them).
void releaseOthers(const RenderContext &context, tv_stretch *keep) noexcept
{
    for (tv_stretch *s : {context.stretchBalanced, context.stretchHighQuality}) {
        if (s != keep)
            tv_stretch_release(s);
    }
}

} // namespace

double RenderTiming::Longest::any() const
{
    return std::max({slotSeconds[0], slotSeconds[1], slotSeconds[2], switchSeconds});
}

RenderTiming::Longest RenderTiming::take()
{
    Longest l;
    for (int s = 0; s < 3; ++s)
        l.slotSeconds[s] = slotNs[s].exchange(0, std::memory_order_relaxed) * 1e-9;
    l.switchSeconds = switchNs.exchange(0, std::memory_order_relaxed) * 1e-9;
    return l;
}

void RenderTiming::note(std::atomic<std::uint32_t> &longest, std::uint32_t ns) noexcept
{
    std::uint32_t seen = longest.load(std::memory_order_relaxed);
    while (ns > seen && !longest.compare_exchange_weak(seen, ns, std::memory_order_relaxed)) {
    }
}

static bool renderTimed(const RenderContext &context, ConstAudioBlock input, AudioBlock output,
                        uint32_t &slot) noexcept;

void renderBlock(const RenderContext &context, ConstAudioBlock input, AudioBlock output) noexcept
{
    if (context.timing == nullptr) {
        uint32_t slot = 0;
        renderTimed(context, input, output, slot);
        return;
    }
    const std::uint64_t start = monotonicNs();
    uint32_t slot = 0;
    const bool changed = renderTimed(context, input, output, slot);
    const auto ns = static_cast<std::uint32_t>(std::min<std::uint64_t>(monotonicNs() - start, UINT32_MAX));
    RenderTiming &t = *context.timing;
    RenderTiming::note(changed ? t.switchNs : t.slotNs[std::min(slot, 2u)], ns);
}

// The block itself; true when the active slot changed in it. `slot`: the active slot.
static bool renderTimed(const RenderContext &context, ConstAudioBlock input, AudioBlock output,
                        uint32_t &slot) noexcept
{
    // 1. Block length: the output's.
    const uint32_t frames = output.frames;
    if (input.channelCount == 0 || output.channelCount == 0 || frames == 0)
        return false;
    const uint32_t channels = std::clamp(context.channelCount, 1u, kMaxChannels);

    // 2. Analysis feed: input channel 0, as far as it goes.
    if (const float *first = input.channel(0))
        tv_fifo_write(context.analysisFifo, first, 1, std::min(frames, input.frames));

    // 3. Engine selection (also the liveness frame count).
    uint32_t switched = 0;
    slot = tv_switch_begin_block(context.switcher, frames, &switched);
    constexpr uint32_t highQualitySlot = EngineTable::spec(EngineKind::highQuality).slot;
    constexpr uint32_t balancedSlot = EngineTable::spec(EngineKind::balanced).slot;
    tv_stretch *stretch = slot == highQualitySlot ? context.stretchHighQuality
                          : slot == balancedSlot  ? context.stretchBalanced
                                                  : nullptr;

    // 4. A freshly activated engine starts from cleared state: the delay line is cleared
    // here (cheap), a stretch engine was reset off this thread and is claimed ready.
    const bool stretchSlot = slot == highQualitySlot || slot == balancedSlot;
    if (switched) {
        releaseOthers(context, stretch);
        context.claimedSlot = UINT32_MAX;
        if (!stretchSlot) {
            tv_engine_reset(context.delayLine);
            context.onsetPosition = 0;
        }
    }
    bool changed = switched != 0;
    if (stretchSlot && context.claimedSlot != slot) {
        if (tv_stretch_claim(stretch)) {
            context.claimedSlot = slot;
            changed = true;
        }
    }

    // 5./6. Processing.
    if (stretchSlot && context.claimedSlot != slot)
        silenceProcessedOutputs(output, channels); // still being prepared elsewhere
    else if (stretchSlot)
        runStretch(context, stretch, input, output, channels);
    else
        runDelayLine(context, input, output, channels);

    // 7. Fade: the same ramp on every processed channel; the last channel actually faded
    // stores the ramp's end, so a slot change completes whatever the output's width.
    uint32_t lastFaded = channels;
    for (uint32_t n = 0; n < channels; ++n) {
        if (output.channel(n))
            lastFaded = n;
    }
    for (uint32_t n = 0; n <= lastFaded && lastFaded < channels; ++n) {
        if (float *out = output.channel(n))
            tv_switch_apply_fade(context.switcher, out, 1, frames, n == lastFaded);
    }

    // 8. Silence the output channels beyond the processed ones.
    for (uint32_t n = channels; n < output.channelCount; ++n) {
        if (float *out = output.channel(n))
            writeSilence(out, frames);
    }
    return changed;
}
