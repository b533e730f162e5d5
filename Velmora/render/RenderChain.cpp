// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/RenderChain.h"

#include "audio/EngineTable.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace {

constexpr uint32_t kSampleBytes = sizeof(float);
constexpr uint32_t kMaxChannels = 8;
// Input fade-in of a freshly activated delay line: 25 ms at 48 kHz.
constexpr uint32_t kOnsetFrames = 1200;
constexpr uint32_t kOnsetChunk = 256;

uint32_t bufferCount(const AudioBufferList &list) noexcept
{
    return std::min(list.mNumberBuffers, AudioBufferList::kMaxBuffers);
}

// Frames a buffer holds: its bytes divided by the size of one interleaved frame.
uint32_t bufferFrames(const AudioBuffer &buffer) noexcept
{
    if (buffer.mNumberChannels == 0)
        return 0;
    return buffer.mDataByteSize / kSampleBytes / buffer.mNumberChannels;
}

// A channel that can carry a whole block.
bool locateForBlock(const AudioBufferList &list, uint32_t n, uint32_t frames, ChannelLocation &out) noexcept
{
    return locateChannel(list, n, out) && out.frames >= frames;
}

void writeSilence(const ChannelLocation &channel, uint32_t frames) noexcept
{
    const uint32_t count = std::min(frames, channel.frames);
    for (uint32_t k = 0; k < count; ++k)
        channel.data[static_cast<size_t>(k) * channel.stride] = 0.0f;
}

// Silences the processed output channels that exist, after an engine could not run on them.
void silenceProcessedOutputs(AudioBufferList &output, uint32_t channels, uint32_t frames) noexcept
{
    ChannelLocation out;
    for (uint32_t n = 0; n < channels; ++n) {
        if (locateForBlock(output, n, frames, out))
            writeSilence(out, frames);
    }
}

void runDelayLine(const RenderContext &context, const AudioBufferList &input, AudioBufferList &output,
                  uint32_t channels, uint32_t frames) noexcept
{
    ChannelLocation in;
    ChannelLocation out;
    for (uint32_t n = 0; n < channels; ++n) {
        const bool haveOut = locateForBlock(output, n, frames, out);
        if (!haveOut || !locateForBlock(input, n, frames, in)) {
            tv_engine_note_underrun(context.delayLine);
            if (haveOut)
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
                    ramped[k] = in.data[static_cast<size_t>(done + k) * in.stride] * g;
                }
                tv_engine_process_channel(context.delayLine, n, ramped, 1,
                                          out.data + static_cast<size_t>(done) * out.stride, out.stride, len);
                done += len;
            }
        }
        if (done < frames) {
            tv_engine_process_channel(context.delayLine, n, in.data + static_cast<size_t>(done) * in.stride,
                                      in.stride, out.data + static_cast<size_t>(done) * out.stride,
                                      out.stride, frames - done);
        }
    }
    if (context.onsetPosition < kOnsetFrames)
        context.onsetPosition += std::min(frames, kOnsetFrames - context.onsetPosition);
}

void runStretch(const RenderContext &context, tv_stretch *stretch, const AudioBufferList &input,
                AudioBufferList &output, uint32_t channels, uint32_t frames) noexcept
{
    ChannelLocation in;
    ChannelLocation out;
    for (uint32_t n = 0; n < channels; ++n) {
        if (!locateForBlock(input, n, frames, in) || !locateForBlock(output, n, frames, out)) {
            tv_engine_note_underrun(context.delayLine);
            silenceProcessedOutputs(output, channels, frames);
            return;
        }
        tv_stretch_set_channel(stretch, n, in.data, in.stride, out.data, out.stride);
    }
    tv_stretch_process(stretch, frames);
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

bool locateChannel(const AudioBufferList &list, uint32_t n, ChannelLocation &out) noexcept
{
    const uint32_t count = bufferCount(list);
    uint64_t first = 0; // flat number of the current buffer's channel 0
    for (uint32_t b = 0; b < count; ++b) {
        const AudioBuffer &buffer = list.mBuffers[b];
        if (n < first + buffer.mNumberChannels) {
            if (buffer.mData == nullptr)
                return false;
            out.data = buffer.mData + (n - first);
            out.stride = buffer.mNumberChannels;
            out.frames = bufferFrames(buffer);
            // A buffer too small for one frame holds no sample of this channel.
            return out.frames > 0;
        }
        first += buffer.mNumberChannels;
    }
    return false;
}

static bool renderTimed(const RenderContext &context, const AudioBufferList *inputList,
                        AudioBufferList *outputList, uint32_t &slot) noexcept;

void renderBlock(const RenderContext &context, const AudioBufferList *inputList,
                 AudioBufferList *outputList) noexcept
{
    if (context.timing == nullptr) {
        uint32_t slot = 0;
        renderTimed(context, inputList, outputList, slot);
        return;
    }
    const std::uint64_t start = monotonicNs();
    uint32_t slot = 0;
    const bool changed = renderTimed(context, inputList, outputList, slot);
    const auto ns = static_cast<std::uint32_t>(std::min<std::uint64_t>(monotonicNs() - start, UINT32_MAX));
    RenderTiming &t = *context.timing;
    RenderTiming::note(changed ? t.switchNs : t.slotNs[std::min(slot, 2u)], ns);
}

// The block itself; true when the active slot changed in it. `slot`: the active slot.
static bool renderTimed(const RenderContext &context, const AudioBufferList *inputList,
                        AudioBufferList *outputList, uint32_t &slot) noexcept
{
    // 1. Block length, from the first output buffer.
    if (inputList == nullptr || outputList == nullptr)
        return false;
    const AudioBufferList &input = *inputList;
    AudioBufferList &output = *outputList;
    if (bufferCount(input) == 0 || bufferCount(output) == 0)
        return false;
    const uint32_t c = output.mBuffers[0].mNumberChannels;
    if (c == 0)
        return false;
    const uint32_t frames = bufferFrames(output.mBuffers[0]);
    if (frames == 0)
        return false;
    const uint32_t channels = std::clamp(context.channelCount, 1u, kMaxChannels);

    // 2. Analysis feed: first channel of the first input buffer that has channels.
    for (uint32_t b = 0; b < bufferCount(input); ++b) {
        const AudioBuffer &buffer = input.mBuffers[b];
        if (buffer.mNumberChannels == 0)
            continue;
        if (buffer.mData != nullptr) {
            tv_fifo_write(context.analysisFifo, buffer.mData, buffer.mNumberChannels,
                          std::min(frames, bufferFrames(buffer)));
        }
        break;
    }

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
        silenceProcessedOutputs(output, channels, frames); // still being prepared elsewhere
    else if (stretchSlot)
        runStretch(context, stretch, input, output, channels, frames);
    else
        runDelayLine(context, input, output, channels, frames);

    // 7. Fade: the same ramp on every processed channel; the last channel actually faded
    // stores the ramp's end, so a slot change completes whatever the output's width.
    ChannelLocation out;
    uint32_t lastFaded = channels;
    for (uint32_t n = 0; n < channels; ++n) {
        if (locateForBlock(output, n, frames, out))
            lastFaded = n;
    }
    for (uint32_t n = 0; n <= lastFaded && lastFaded < channels; ++n) {
        if (locateForBlock(output, n, frames, out))
            tv_switch_apply_fade(context.switcher, out.data, out.stride, frames, n == lastFaded);
    }

    // 8. Silence the output channels beyond the processed ones, up to the first missing one.
    for (uint32_t n = channels;; ++n) {
        if (!locateChannel(output, n, out))
            break;
        writeSilence(out, frames);
    }
    return changed;
}
