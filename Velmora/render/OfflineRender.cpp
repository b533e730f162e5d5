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
    const size_t samples = static_cast<size_t>(blockFrames) * channels;
    r->scratch_.assign(samples, 0.0f);
    r->planarIn_.assign(samples, 0.0f);
    r->planarOut_.assign(samples, 0.0f);
    for (uint32_t c = 0; c < channels; ++c) {
        r->inChannels_.push_back(r->planarIn_.data() + static_cast<size_t>(c) * blockFrames);
        r->outChannels_.push_back(r->planarOut_.data() + static_cast<size_t>(c) * blockFrames);
    }

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
    for (uint32_t c = 0; c < channels_; ++c) {
        float *in = inChannels_[c];
        for (uint32_t f = 0; f < frames; ++f)
            in[f] = input ? input[static_cast<size_t>(f) * channels_ + c] : 0.0f;
    }
    renderBlock(dsp_->context(), ConstAudioBlock{inChannels_.data(), channels_, frames},
                AudioBlock{outChannels_.data(), channels_, frames});
    for (uint32_t c = 0; c < channels_; ++c) {
        const float *out = outChannels_[c];
        for (uint32_t f = 0; f < frames; ++f)
            output[static_cast<size_t>(f) * channels_ + c] = out[f];
    }
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
            nullptr,
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
