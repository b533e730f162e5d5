// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/RenderCrossfade.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// Channels of scratch per frame of the largest block: an output wider than this (beyond
// the 8 processed channels) ends the cross-fade rather than being mirrored.
constexpr std::uint32_t kScratchChannels = 16;
// The incoming engines' own fade-in: a stretch engine's input onset (25 ms), the render
// chain's delay-line input fade (1200 frames).
constexpr double kStretchOnsetSeconds = 0.025;
constexpr std::uint32_t kDelayLineOnsetFrames = 1200;

} // namespace

std::shared_ptr<RenderCrossfade> RenderCrossfade::create(std::shared_ptr<ChainDsp> outgoing,
                                                         const ChainDsp &incoming, EngineKind kind,
                                                         std::uint32_t maxFrames)
{
    const bool delayLine = kind == EngineKind::lowLatency;
    // The delay line's output is its input N/2 + 1 frames late.
    const std::uint32_t primeFrames = incoming.latencyFrames(kind) + (delayLine ? 1 : 0);
    const auto fadeFrames = delayLine ? kDelayLineOnsetFrames
                                      : static_cast<std::uint32_t>(std::lround(kStretchOnsetSeconds * incoming.sampleRate()));
    try {
        std::shared_ptr<RenderCrossfade> x(new RenderCrossfade);
        x->outgoingContext_ = outgoing ? outgoing->context() : RenderContext{};
        x->outgoing_ = std::move(outgoing);
        x->scratch_.assign(static_cast<size_t>(std::max(maxFrames, 1u)) * kScratchChannels, 0.0f);
        x->prime_ = primeFrames;
        x->fade_ = std::max(fadeFrames, 1u);
        x->done_ = !x->outgoing_;
        return x;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// The complement of the incoming engine's own raised-cosine fade-in, which starts at prime_.
float RenderCrossfade::outgoingGain(std::uint64_t frame) const noexcept
{
    if (frame < prime_)
        return 1.0f;
    if (frame >= prime_ + fade_)
        return 0.0f;
    const double x = static_cast<double>(frame - prime_ + 1) / static_cast<double>(fade_ + 1);
    return static_cast<float>(0.5 + 0.5 * std::cos(M_PI * x));
}

void RenderCrossfade::render(const RenderContext &incoming, ConstAudioBlock input, AudioBlock output) noexcept
{
    if (done_.load(std::memory_order_relaxed)) {
        renderBlock(incoming, input, output);
        return;
    }
    // The outgoing objects render into scratch channels shaped like the output.
    if (output.channelCount > kScratchChannels
        || static_cast<size_t>(output.frames) * output.channelCount > scratch_.size()) {
        done_.store(true, std::memory_order_release);
        renderBlock(incoming, input, output);
        return;
    }
    float *scratchChannels[kScratchChannels] = {};
    for (std::uint32_t c = 0; c < output.channelCount; ++c) {
        if (output.channels[c])
            scratchChannels[c] = scratch_.data() + static_cast<size_t>(c) * output.frames;
    }
    const AudioBlock scratch{scratchChannels, output.channelCount, output.frames};
    if (position_ == 0)
        incoming.onsetPosition = 0; // a fresh delay line fades its input in (RenderChain.h)
    renderBlock(outgoingContext_, input, scratch);
    renderBlock(incoming, input, output);

    for (std::uint32_t c = 0; c < output.channelCount; ++c) {
        float *o = output.channels[c];
        if (!o)
            continue;
        const float *old = scratchChannels[c];
        for (std::uint32_t f = 0; f < output.frames; ++f) {
            const float g = outgoingGain(position_ + f);
            if (g <= 0.0f)
                break;
            o[f] += old[f] * g;
        }
    }
    position_ += output.frames;
    if (position_ >= prime_ + fade_)
        done_.store(true, std::memory_order_release);
}
