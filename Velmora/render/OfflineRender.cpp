// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/OfflineRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint32_t kMaxChannels = 8;
constexpr uint32_t kDelayFrames = 2048;      // what the application asks the delay line for
constexpr uint32_t kStretchMaxFrames = 4096;
constexpr double kSettleSeconds = 0.2;       // fade-out, change and fade-in take about 50 ms

} // namespace

std::unique_ptr<OfflineRender> OfflineRender::create(uint32_t channels, double sampleRate, double factor,
                                                     RenderSlot slot, uint32_t blockFrames, bool allEngines)
{
    if (channels == 0 || channels > kMaxChannels || !(sampleRate > 0.0) || blockFrames == 0
        || slot > kRenderSlotBalanced)
        return nullptr;
    std::unique_ptr<OfflineRender> r(new OfflineRender);
    r->channels_ = channels;
    r->block_ = blockFrames;
    RenderContext &c = r->context_;
    c.channelCount = channels;
    c.analysisFifo = tv_fifo_create(65536);
    c.switcher = tv_switch_create(sampleRate);
    c.delayLine = tv_engine_create(kDelayFrames, sampleRate);
    const uint32_t maxFrames = std::max(kStretchMaxFrames, 2 * blockFrames);
    if (allEngines || slot == kRenderSlotBalanced)
        c.stretchBalanced = tv_stretch_create_custom(channels, maxFrames, sampleRate, 120.0, 30.0);
    if (allEngines || slot == kRenderSlotHighQuality)
        c.stretchHighQuality = tv_stretch_create_custom(channels, maxFrames, sampleRate, 240.0, 30.0);
    tv_stretch *stretch = slot == kRenderSlotBalanced ? c.stretchBalanced : c.stretchHighQuality;
    if (!c.analysisFifo || !c.switcher || !c.delayLine || (slot != kRenderSlotDelayLine && !stretch)
        || (allEngines && (!c.stretchBalanced || !c.stretchHighQuality)))
        return nullptr; // the destructor frees what exists

    tv_engine_set_factor(c.delayLine, factor);
    tv_stretch_set_factor(c.stretchBalanced, factor);
    tv_stretch_set_factor(c.stretchHighQuality, factor);
    tv_engine_reset(c.delayLine);
    tv_stretch_reset(c.stretchBalanced);
    tv_stretch_reset(c.stretchHighQuality);

    r->silence_.assign(static_cast<size_t>(blockFrames) * channels, 0.0f);
    r->scratch_.assign(static_cast<size_t>(blockFrames) * channels, 0.0f);

    // A chain opens on the delay line; let the switcher move to the wanted engine in
    // silence, then start that engine afresh so the stream begins on a clean state.
    if (slot != kRenderSlotDelayLine) {
        tv_switch_select(c.switcher, static_cast<int32_t>(slot));
        const auto settle = static_cast<uint64_t>(std::ceil(kSettleSeconds * sampleRate));
        for (uint64_t done = 0; done < settle; done += blockFrames)
            r->renderInto(r->silence_.data(), blockFrames, r->scratch_.data());
        tv_stretch_reset(stretch);
        r->latency_ = tv_stretch_latency_frames(stretch);
    } else {
        // At factor 1 the delay line's output is its input N/2 + 1 frames late.
        r->latency_ = static_cast<uint32_t>(std::lround(tv_engine_latency_seconds(c.delayLine) * sampleRate)) + 1;
    }
    r->dropRemaining_ = r->latency_;
    return r;
}

OfflineRender::~OfflineRender()
{
    tv_fifo_destroy(context_.analysisFifo);
    tv_switch_destroy(context_.switcher);
    tv_engine_destroy(context_.delayLine);
    tv_stretch_destroy(context_.stretchBalanced);
    tv_stretch_destroy(context_.stretchHighQuality);
}

void OfflineRender::select(RenderSlot slot)
{
    tv_switch_select(context_.switcher, static_cast<int32_t>(slot));
}

uint32_t OfflineRender::renderInto(const float *input, uint32_t frames, float *output)
{
    frames = std::min(frames, block_);
    AudioBufferList in;
    in.mNumberBuffers = 1;
    in.mBuffers[0].mNumberChannels = channels_;
    in.mBuffers[0].mDataByteSize = frames * channels_ * static_cast<uint32_t>(sizeof(float));
    in.mBuffers[0].mData = const_cast<float *>(input); // read only: the chain never writes input
    AudioBufferList out = in;
    out.mBuffers[0].mData = output;
    renderBlock(context_, &in, &out);
    return frames;
}

uint32_t OfflineRender::process(const float *input, uint32_t frames, float *output)
{
    frames = renderInto(input, frames, scratch_.data());
    framesIn_ += frames;
    const auto drop = static_cast<uint32_t>(std::min<uint64_t>(dropRemaining_, frames));
    dropRemaining_ -= drop;
    const uint32_t keep = frames - drop;
    std::memcpy(output, scratch_.data() + static_cast<size_t>(drop) * channels_,
                static_cast<size_t>(keep) * channels_ * sizeof(float));
    framesOut_ += keep;
    return keep;
}

uint32_t OfflineRender::flush(float *output, uint32_t maxFrames)
{
    uint32_t written = 0;
    while (written < maxFrames && framesOut_ < framesIn_) {
        const auto owed = static_cast<uint32_t>(std::min<uint64_t>(framesIn_ - framesOut_, maxFrames - written));
        const uint32_t frames = renderInto(silence_.data(), std::min(owed + static_cast<uint32_t>(std::min<uint64_t>(dropRemaining_, block_)), block_),
                                           scratch_.data());
        const auto drop = static_cast<uint32_t>(std::min<uint64_t>(dropRemaining_, frames));
        dropRemaining_ -= drop;
        const uint32_t keep = std::min(frames - drop, owed);
        std::memcpy(output + static_cast<size_t>(written) * channels_,
                    scratch_.data() + static_cast<size_t>(drop) * channels_,
                    static_cast<size_t>(keep) * channels_ * sizeof(float));
        written += keep;
        framesOut_ += keep;
    }
    return written;
}
