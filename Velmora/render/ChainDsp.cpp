// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/ChainDsp.h"

#include "render/RenderCrossfade.h"

#include <algorithm>
#include <cmath>

namespace {

// Balanced for files: R3, short window, stretching time only, and our own resampler moves
// the pitch. Same 440 Hz residual, AM, click width and chord as the live balanced engine at
// a little over half its cost. Live it would not do yet: every time-ratio change of a glide
// shifts the library's output by a fraction of a frame, which adds up over many glides; a
// file runs at one factor.
constexpr tv_stretch_options kFileBalanced{TV_STRETCH_ENGINE_FINER, TV_STRETCH_WINDOW_SHORT, 0, 0, 0, 0, 0, 1};

} // namespace

std::unique_ptr<ChainDsp> ChainDsp::create(std::uint32_t channels, double sampleRate, std::uint32_t maxFrames,
                                           double factor, EngineKind selected, bool allEngines,
                                           Failure *failure, Use use)
{
    auto fail = [failure](const char *operation) {
        if (failure)
            failure->operation = operation;
        return nullptr;
    };
    if (channels == 0 || channels > 8 || !(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return fail("DSP-Objekte anlegen");
    std::unique_ptr<ChainDsp> d(new ChainDsp);
    d->sampleRate_ = sampleRate;
    d->delayLine_.reset(tv_engine_create(EngineTable::delayFrames, sampleRate));
    if (!d->delayLine_)
        return fail("DSP-Engine anlegen");
    for (const EngineSpec &e : EngineTable::engines) {
        if (e.stretchBlockMs <= 0.0 || (!allEngines && e.kind != selected))
            continue;
        tv::StretchPtr s(use == Use::files && e.kind == EngineKind::balanced
                             ? tv_stretch_create_options(channels, maxFrames, sampleRate, &kFileBalanced)
                             : tv_stretch_create_custom(channels, maxFrames, sampleRate, e.stretchBlockMs,
                                                        e.stretchIntervalMs));
        if (!s)
            return fail("Stretch-Engine anlegen");
        (e.kind == EngineKind::balanced ? d->balanced_ : d->highQuality_) = std::move(s);
    }
    d->switcher_.reset(tv_switch_create(sampleRate));
    if (!d->switcher_)
        return fail("Umschalter anlegen");
    d->fifo_.reset(tv_fifo_create(EngineTable::analysisFifoFrames));
    if (!d->fifo_)
        return fail("Analyse-Puffer anlegen");

    d->setFactor(factor);
    tv_engine_reset(d->delayLine_.get());
    tv_stretch_reset(d->balanced_.get());
    tv_stretch_reset(d->highQuality_.get());
    tv_switch_start(d->switcher_.get(), static_cast<std::int32_t>(EngineTable::spec(selected).slot));
    d->context_ = RenderContext{d->fifo_.get(),     d->switcher_.get(),    d->delayLine_.get(),
                                d->balanced_.get(), d->highQuality_.get(), channels,
                                d->timing_.get()};
    return d;
}

ChainDsp::Engines ChainDsp::buildMissingEngines(std::uint32_t maxFrames, double factor, Failure *failure,
                                                const std::function<bool()> &cancelled) const
{
    Engines built;
    for (const EngineSpec &e : EngineTable::engines) {
        if (e.stretchBlockMs <= 0.0 || has(e.kind))
            continue;
        if (cancelled && cancelled())
            break;
        tv::StretchPtr s(tv_stretch_create_custom(context_.channelCount, maxFrames, sampleRate_,
                                                  e.stretchBlockMs, e.stretchIntervalMs));
        if (!s) {
            if (failure)
                failure->operation = "Stretch-Engine anlegen";
            return {};
        }
        tv_stretch_set_factor(s.get(), factor);
        tv_stretch_reset(s.get());
        (e.kind == EngineKind::balanced ? built.balanced : built.highQuality) = std::move(s);
    }
    return built;
}

void ChainDsp::addEngines(Engines engines)
{
    if (engines.balanced)
        balanced_ = std::move(engines.balanced);
    if (engines.highQuality)
        highQuality_ = std::move(engines.highQuality);
    context_.stretchBalanced = balanced_.get();
    context_.stretchHighQuality = highQuality_.get();
}

bool ChainDsp::has(EngineKind kind) const
{
    return kind == EngineKind::lowLatency
           || (kind == EngineKind::balanced ? balanced_ : highQuality_) != nullptr;
}

double ChainDsp::latencySeconds(EngineKind kind) const
{
    switch (kind) {
    case EngineKind::lowLatency:
        return tv_engine_latency_seconds(delayLine_.get());
    case EngineKind::balanced:
        return balanced_ ? tv_stretch_latency_seconds(balanced_.get()) : 0.0;
    case EngineKind::highQuality:
        return highQuality_ ? tv_stretch_latency_seconds(highQuality_.get()) : 0.0;
    }
    return 0.0;
}

std::uint32_t ChainDsp::latencyFrames(EngineKind kind) const
{
    return static_cast<std::uint32_t>(std::lround(latencySeconds(kind) * sampleRate_));
}

void ChainDsp::setFactor(double factor)
{
    tv_engine_set_factor(delayLine_.get(), factor);
    tv_stretch_set_factor(balanced_.get(), factor);
    tv_stretch_set_factor(highQuality_.get(), factor);
}

void ChainDsp::jumpFactor(double factor)
{
    setFactor(factor);
    tv_engine_jump_factor(delayLine_.get(), factor);
}

void ChainDsp::select(EngineKind kind)
{
    tv_stretch_prepare(balanced_.get());
    tv_stretch_prepare(highQuality_.get());
    tv_switch_select(switcher_.get(), static_cast<std::int32_t>(EngineTable::spec(kind).slot));
}

std::uint32_t ChainDsp::readAnalysis(float *destination, std::uint32_t maxFrames)
{
    return tv_fifo_read(fifo_.get(), destination, maxFrames);
}

double ChainDsp::recentLongestRenderSeconds()
{
    std::lock_guard lock(recentMutex_);
    const auto now = std::chrono::steady_clock::now();
    currentWindow_ = std::max(currentWindow_, timing_->take().any());
    if (now - windowStart_ >= std::chrono::seconds(1)) {
        previousWindow_ = currentWindow_;
        currentWindow_ = 0.0;
        windowStart_ = now;
    }
    return std::max(previousWindow_, currentWindow_);
}

std::uint64_t ChainDsp::audioThreadResets() const
{
    return tv_stretch_claim_resets(balanced_.get()) + tv_stretch_claim_resets(highQuality_.get());
}

void ChainDsp::handOverFrom(std::shared_ptr<ChainDsp> outgoing, EngineKind kind, std::uint32_t maxFrames)
{
    handover_ = outgoing ? RenderCrossfade::create(std::move(outgoing), *this, kind, maxFrames) : nullptr;
}

std::shared_ptr<RenderCrossfade> ChainDsp::handover()
{
    if (handover_ && handover_->done())
        handover_.reset();
    return handover_;
}
