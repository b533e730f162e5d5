// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/OfflineRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::unique_ptr<OfflineRender> OfflineRender::create(uint32_t channels, double sampleRate, double factor,
                                                     EngineKind engine, uint32_t blockFrames, bool allEngines,
                                                     ChainDsp::Use use)
{
    if (blockFrames == 0)
        return nullptr;
    std::unique_ptr<OfflineRender> r(new OfflineRender);
    r->dsp_ = ChainDsp::create(channels, sampleRate, EngineTable::stretchMaxFrames(blockFrames), factor,
                               engine, allEngines, nullptr, use);
    if (!r->dsp_)
        return nullptr;
    r->channels_ = channels;
    r->block_ = blockFrames;
    r->silence_.assign(static_cast<size_t>(blockFrames) * channels, 0.0f);
    r->scratch_.assign(static_cast<size_t>(blockFrames) * channels, 0.0f);

    // The chain opens on its engine, which is ready: nothing to settle.
    const RenderContext &c = r->dsp_->context();
    if (engine != EngineKind::lowLatency) {
        r->latency_ = tv_stretch_latency_frames(engine == EngineKind::balanced ? c.stretchBalanced
                                                                               : c.stretchHighQuality);
    } else {
        // At factor 1 the delay line's output is its input N/2 + 1 frames late.
        r->latency_ = r->dsp_->latencyFrames(EngineKind::lowLatency) + 1;
    }
    r->dropRemaining_ = r->latency_;
    return r;
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
    renderBlock(dsp_->context(), &in, &out);
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
        const auto owed =
            static_cast<uint32_t>(std::min<uint64_t>(framesIn_ - framesOut_, maxFrames - written));
        const uint32_t frames = renderInto(
            silence_.data(),
            std::min(owed + static_cast<uint32_t>(std::min<uint64_t>(dropRemaining_, block_)), block_),
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
