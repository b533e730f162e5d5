// SPDX-License-Identifier: GPL-3.0-or-later
// tv_stretch over Rubber Band's R3 engine in real-time mode.
//
// Rubber Band takes input and gives output in its own amounts. To make every call return
// exactly as many frames as it consumes, with a constant delay, the wrapper
//   - feeds the library's preferred start pad of silence and drops its start delay from the
//     output after every reset, so the library's output lines up with its input;
//   - keeps one output FIFO per channel, pre-filled with `latency` frames of silence, and
//     moves everything the library gives into it; each call takes its frames from there.
// `latency` is the largest amount the library lags behind its input over the whole factor
// range, steady and gliding, measured at creation.
//
// The library's delay depends on the factor it runs at (its start delay is half its window
// divided by the factor), and it follows a factor change by giving more or fewer frames.
// Only the delay at factor 1 is a fixed point, so the start delay dropped after a reset is
// always that one, whatever the factor: dropping the reset factor's own start delay would
// shift the stream for good by the difference once the factor moves (550 frames after a
// reset at 0.7; beyond the FIFO, that is silence, after one at 0.25).
//
// With the wrapper's own resampler the library stretches time by the factor and the
// resampler reads its output at the factor's pace: together they keep the input's duration,
// so the unity start delay is dropped from the resampler's output.
#include "tonvel_stretch.h"
#include "resampler.h"
#include "vector_state.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

using RubberBand::RubberBandStretcher;

constexpr uint32_t kMaxChannels = 8;
constexpr double kMinFactor = 0.25;
constexpr double kMaxFactor = 4.0;
// Factors at which the library's lag is measured, steady and as glide ends: the whole range.
constexpr double kProbeFactors[] = {kMinFactor, 0.5, 0.85, 1.0, 1.15, 2.0, kMaxFactor};
constexpr double kGlideSeconds = 0.05;
constexpr double kOnsetSeconds = 0.025;
constexpr double kTransposeThreshold = 1e-7;
constexpr double kShortWindowMaxBlockMs = 120.0;
// Added to the measured lag: chunk boundaries fall anywhere in a real stream.
constexpr uint32_t kLatencyMargin = 64;

static_assert(std::atomic<double>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

// The library logs to stderr by default; on the audio thread nothing may log.
struct SilentLogger final : RubberBandStretcher::Logger {
    void log(const char *) override {}
    void log(const char *, double) override {}
    void log(const char *, double, double) override {}
};

double sanitizeFactor(double factor)
{
    if (!std::isfinite(factor) || factor <= 0.0)
        return 1.0;
    return std::clamp(factor, kMinFactor, kMaxFactor);
}

uint32_t nextPowerOfTwo(uint64_t v)
{
    uint64_t p = 1;
    while (p < v)
        p <<= 1;
    return static_cast<uint32_t>(p);
}

struct Binding {
    const float *input = nullptr;
    uint32_t inputStride = 1;
    float *output = nullptr;
    uint32_t outputStride = 1;
};

} // namespace

struct tv_stretch {
    std::unique_ptr<RubberBandStretcher> stretcher;
    std::unique_ptr<tv::Resampler> resampler; // own resampling: null when the library shifts
    float *resampledPointers[kMaxChannels] = {};
    std::vector<float> resampled; // channels x resampler->maxOutput()
    uint32_t channels = 0;
    uint32_t maxFrames = 0;
    double sampleRate = 0.0;
    uint32_t blockSamples = 0;
    uint32_t intervalSamples = 0;
    bool shortWindow = false;

    std::vector<float> inputStaging;  // channels x maxFrames, channel c at c * maxFrames
    std::vector<float> outputStaging; // same shape
    float *inputPointers[kMaxChannels] = {};
    float *outputPointers[kMaxChannels] = {};
    Binding bindings[kMaxChannels];

    std::atomic<double> targetFactor{1.0};
    std::atomic<double> appliedFactor{1.0};
    double lastTransposed = 1.0;

    // Output FIFO: channels rings of fifoCapacity frames; indices count frames.
    std::vector<float> fifo;
    uint32_t fifoCapacity = 0;
    uint32_t fifoMask = 0;
    uint64_t fifoRead = 0;
    uint64_t fifoWrite = 0;

    uint32_t latencyFrames = 0;
    // After a reset the input fades in over onsetFrames (raised cosine), so the output
    // starts smoothly when it emerges after the latency instead of jumping from silence.
    std::vector<float> onsetRamp;
    uint32_t onsetPosition = 0;
    uint64_t dropRemaining = 0; // library output still to discard (start delay)
    uint64_t silenceDebt = 0;   // frames padded with silence, to skip when they arrive
    std::atomic<uint64_t> underflowFrames{0};

    // Hand-over between the audio thread and a control thread (see the header).
    enum Hand : uint32_t { ready, live, stale, priming };
    std::atomic<uint32_t> hand{ready};
    std::atomic<uint64_t> claimResets{0};

    // Lag bookkeeping, used while measuring the latency at creation.
    uint64_t framesIn = 0;
    uint64_t framesOut = 0;
    uint64_t maxLag = 0;
    // The library's output trails its start delay by a few frames more; measured once.
    uint32_t extraDrop = 0;
    // The library's start delay at factor 1, dropped after every reset whatever the factor.
    uint64_t unityStartDelay = 0;
    bool probing = false;
    float probePeak = 0.0f;
    uint64_t probePeakIndex = 0;

    float *fifoChannel(uint32_t c) { return fifo.data() + static_cast<size_t>(c) * fifoCapacity; }
    uint64_t fifoLevel() const { return fifoWrite - fifoRead; }

    void transpose(double factor)
    {
        if (resampler) {
            stretcher->setTimeRatio(factor);
            resampler->setStep(factor);
        } else {
            stretcher->setPitchScale(factor);
        }
        lastTransposed = factor;
    }

    // Moves n frames the library gave to the FIFO, through the own resampler if there is one.
    void pushOutput(uint32_t n)
    {
        if (!resampler) {
            emit(outputPointers, n);
            return;
        }
        emit(resampledPointers, resampler->process(outputPointers, n, resampledPointers));
    }

    // Appends n frames of src to the FIFO, honouring start delay and debt.
    void emit(float *const *src, uint32_t n)
    {
        uint32_t from = 0;
        if (dropRemaining > 0) {
            const uint32_t d = static_cast<uint32_t>(std::min<uint64_t>(dropRemaining, n));
            dropRemaining -= d;
            from += d;
        }
        if (probing) {
            for (uint32_t k = from; k < n; ++k) {
                const float v = std::fabs(src[0][k]);
                if (v > probePeak) {
                    probePeak = v;
                    probePeakIndex = framesOut + (k - from);
                }
            }
        }
        framesOut += n - from;
        if (silenceDebt > 0 && from < n) {
            const uint32_t d = static_cast<uint32_t>(std::min<uint64_t>(silenceDebt, n - from));
            silenceDebt -= d;
            from += d;
        }
        // The FIFO is sized far above anything the library produces ahead of its input;
        // if that ever fails, the newest frames are dropped rather than overwriting.
        const uint64_t room = fifoCapacity - fifoLevel();
        const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(n - from, room));
        for (uint32_t c = 0; c < channels; ++c) {
            const float *samples = src[c] + from;
            float *ring = fifoChannel(c);
            for (uint32_t k = 0; k < count; ++k)
                ring[(fifoWrite + k) & fifoMask] = samples[k];
        }
        fifoWrite += count;
    }

    void drainLibrary()
    {
        for (;;) {
            const int available = stretcher->available();
            if (available <= 0)
                return;
            const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(available), maxFrames);
            const size_t got = stretcher->retrieve(outputPointers, n);
            if (got == 0)
                return;
            pushOutput(static_cast<uint32_t>(got));
        }
    }

    // Hands n frames of input staging to the library, in the amounts it asks for.
    void feedLibrary(uint32_t n)
    {
        const float *pieces[kMaxChannels];
        uint32_t offset = 0;
        while (offset < n) {
            const size_t required = stretcher->getSamplesRequired();
            uint32_t take = n - offset;
            if (required > 0 && required < take)
                take = static_cast<uint32_t>(required);
            for (uint32_t c = 0; c < channels; ++c)
                pieces[c] = inputPointers[c] + offset;
            // Worst lag within this piece: all of it fed, nothing new out yet.
            const uint64_t lag = framesIn + take > framesOut ? framesIn + take - framesOut : 0;
            maxLag = std::max(maxLag, lag);
            stretcher->process(pieces, take, false);
            framesIn += take;
            offset += take;
            drainLibrary();
        }
    }

    // Library reset, start pad, start delay and a FIFO holding `latencyFrames` of silence.
    void restart()
    {
        tv::clearVectorState();
        stretcher->reset();
        if (resampler)
            resampler->reset();
        const double target = targetFactor.load(std::memory_order_relaxed);
        appliedFactor.store(target, std::memory_order_relaxed);
        transpose(target);
        onsetPosition = 0;
        std::fill(inputStaging.begin(), inputStaging.end(), 0.0f);
        std::fill(outputStaging.begin(), outputStaging.end(), 0.0f);

        fifoRead = 0;
        fifoWrite = latencyFrames;
        for (uint32_t c = 0; c < channels; ++c)
            std::fill_n(fifoChannel(c), latencyFrames, 0.0f);
        dropRemaining = unityStartDelay + extraDrop;
        silenceDebt = 0;
        underflowFrames.store(0, std::memory_order_relaxed);

        // The pad is not part of the stream: only output past the start delay counts, and
        // it lines up with the first real input frame.
        framesOut = 0;
        uint64_t pad = stretcher->getPreferredStartPad();
        while (pad > 0) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(pad, maxFrames));
            feedLibrary(n);
            pad -= n;
        }
        framesIn = 0;
        maxLag = 0;
    }

    // One chunk (<= maxFrames): glide, transpose if needed, library, FIFO out.
    void processChunk(uint32_t offset, uint32_t chunk, bool bound, double target)
    {
        double applied = appliedFactor.load(std::memory_order_relaxed);
        const double a = std::exp(-static_cast<double>(chunk) / (kGlideSeconds * sampleRate));
        applied += (target - applied) * (1.0 - a);
        appliedFactor.store(applied, std::memory_order_relaxed);
        if (std::fabs(applied - lastTransposed) > kTransposeThreshold)
            transpose(applied);

        if (bound) {
            const auto rampEnd = static_cast<uint32_t>(onsetRamp.size());
            const uint32_t ramped = onsetPosition < rampEnd ? std::min(chunk, rampEnd - onsetPosition) : 0;
            for (uint32_t c = 0; c < channels; ++c) {
                const Binding &b = bindings[c];
                float *dst = inputPointers[c];
                const float *src = b.input + static_cast<size_t>(offset) * b.inputStride;
                for (uint32_t k = 0; k < chunk; ++k)
                    dst[k] = src[static_cast<size_t>(k) * b.inputStride];
                for (uint32_t k = 0; k < ramped; ++k)
                    dst[k] *= onsetRamp[onsetPosition + k];
            }
            onsetPosition += ramped;
        }
        feedLibrary(chunk);

        const uint32_t ready = static_cast<uint32_t>(std::min<uint64_t>(fifoLevel(), chunk));
        if (ready < chunk) {
            silenceDebt += chunk - ready;
            underflowFrames.fetch_add(chunk - ready, std::memory_order_relaxed);
        }
        if (bound) {
            for (uint32_t c = 0; c < channels; ++c) {
                const Binding &b = bindings[c];
                const float *ring = fifoChannel(c);
                float *dst = b.output + static_cast<size_t>(offset) * b.outputStride;
                uint32_t k = 0;
                for (; k < ready; ++k)
                    dst[static_cast<size_t>(k) * b.outputStride] = ring[(fifoRead + k) & fifoMask];
                for (; k < chunk; ++k)
                    dst[static_cast<size_t>(k) * b.outputStride] = 0.0f;
            }
        }
        fifoRead += ready;
    }

    // Runs the library over silence without touching any binding (creation only).
    void runSilence(uint32_t frames, uint32_t chunk)
    {
        for (uint32_t done = 0; done < frames; done += chunk)
            processChunk(0, std::min(chunk, frames - done), false, targetFactor.load());
    }
};

namespace {

struct Calibration {
    uint32_t extraDrop = 0;
    uint32_t latencyFrames = 0;
};

// Alignment and lag depend only on the library's configuration and rate, not on the audio
// or the channel count; they are measured once per configuration in this process.
Calibration measureCalibration(tv_stretch &s, uint32_t libraryRate)
{
    const uint32_t chunk = std::min<uint32_t>(s.maxFrames, 256);
    Calibration cal;

    // Alignment: an impulse at the first frame must come out at the first frame.
    s.extraDrop = 0;
    s.targetFactor.store(1.0);
    s.restart();
    s.probing = true;
    s.probePeak = 0.0f;
    s.inputPointers[0][0] = 1.0f;
    s.processChunk(0, chunk, false, 1.0);
    s.inputPointers[0][0] = 0.0f;
    s.runSilence(libraryRate / 2, chunk);
    s.probing = false;
    if (s.probePeak > 0.1f && s.probePeakIndex < libraryRate / 10)
        cal.extraDrop = static_cast<uint32_t>(s.probePeakIndex);
    s.extraDrop = cal.extraDrop;

    // Lag: the largest distance of the library's output behind its input, steady after a
    // reset at each probe factor, and while gliding between the extremes and back.
    uint64_t lag = 0;
    for (double f : kProbeFactors) {
        s.targetFactor.store(f);
        s.restart();
        s.runSilence(libraryRate / 4, chunk);
        lag = std::max(lag, s.maxLag);
    }
    s.targetFactor.store(1.0);
    s.restart();
    for (double f : {kMinFactor, kMaxFactor, kMinFactor, 1.0, 0.5, 2.0, 0.85, 1.15, 1.0}) {
        s.targetFactor.store(f);
        s.runSilence(libraryRate / 8, chunk);
    }
    lag = std::max(lag, s.maxLag);
    cal.latencyFrames = static_cast<uint32_t>(lag) + kLatencyMargin;
    return cal;
}

RubberBandStretcher::Options libraryOptions(const tv_stretch_options &o)
{
    using RB = RubberBandStretcher;
    RB::Options options = RB::OptionProcessRealTime | RB::OptionThreadingNever
                          | (o.engine == TV_STRETCH_ENGINE_FINER ? RB::OptionEngineFiner : RB::OptionEngineFaster);
    constexpr RB::Options windows[] = {RB::OptionWindowStandard, RB::OptionWindowShort, RB::OptionWindowLong};
    constexpr RB::Options pitches[] = {RB::OptionPitchHighConsistency, RB::OptionPitchHighQuality,
                                       RB::OptionPitchHighSpeed};
    constexpr RB::Options transients[] = {RB::OptionTransientsCrisp, RB::OptionTransientsMixed,
                                          RB::OptionTransientsSmooth};
    // Time stretching alone: "high speed" is the mode that leaves a pitch scale of 1 alone.
    options |= windows[o.window] | (o.own_resampler ? RB::OptionPitchHighSpeed : pitches[o.pitch])
               | transients[o.transients];
    options |= o.formant_preserved ? RB::OptionFormantPreserved : RB::OptionFormantShifted;
    options |= o.channels_together ? RB::OptionChannelsTogether : RB::OptionChannelsApart;
    options |= o.phase_independent ? RB::OptionPhaseIndependent : RB::OptionPhaseLaminar;
    return options;
}

Calibration calibration(tv_stretch &s, RubberBandStretcher::Options options, uint32_t libraryRate)
{
    struct Entry {
        RubberBandStretcher::Options options;
        bool ownResampler;
        uint32_t rate;
        Calibration cal;
    };
    static std::mutex mutex;
    static std::vector<Entry> cache;
    std::lock_guard lock(mutex);
    for (const Entry &e : cache) {
        if (e.options == options && e.ownResampler == (s.resampler != nullptr) && e.rate == libraryRate)
            return e.cal;
    }
    const Calibration cal = measureCalibration(s, libraryRate);
    cache.push_back({options, s.resampler != nullptr, libraryRate, cal});
    return cal;
}

} // namespace

extern "C" {

tv_stretch *tv_stretch_create_custom(uint32_t channels, uint32_t max_frames, double sample_rate,
                                     double block_ms, double interval_ms)
{
    if (!(block_ms > 0.0) || !(interval_ms > 0.0) || !std::isfinite(block_ms)
        || !std::isfinite(interval_ms)) {
        block_ms = 240.0;
        interval_ms = 30.0;
    }
    tv_stretch_options options{};
    options.window = block_ms <= kShortWindowMaxBlockMs ? TV_STRETCH_WINDOW_SHORT : TV_STRETCH_WINDOW_STANDARD;
    tv_stretch *s = tv_stretch_create_options(channels, max_frames, sample_rate, &options);
    if (s != nullptr) {
        const double samplesPerMs = sample_rate * 0.001;
        s->blockSamples = static_cast<uint32_t>(std::min(block_ms * samplesPerMs, 4.0e9));
        s->intervalSamples = static_cast<uint32_t>(std::min(interval_ms * samplesPerMs, 4.0e9));
    }
    return s;
}

tv_stretch *tv_stretch_create_options(uint32_t channels, uint32_t max_frames, double sample_rate,
                                      const tv_stretch_options *config)
{
    const tv_stretch_options o = config != nullptr ? *config : tv_stretch_options{};
    if (channels == 0 || channels > kMaxChannels || max_frames == 0 || !(sample_rate > 0.0)
        || !std::isfinite(sample_rate) || o.engine > TV_STRETCH_ENGINE_FASTER || o.window > TV_STRETCH_WINDOW_LONG
        || o.pitch > TV_STRETCH_PITCH_SPEED || o.transients > TV_STRETCH_TRANSIENTS_SMOOTH || o.own_resampler > 1)
        return nullptr;
    // Creation runs the library for a while (warm-up, calibration): on whatever thread calls.
    tv::clearVectorState();
    try {
        auto s = std::make_unique<tv_stretch>();
        s->channels = channels;
        s->maxFrames = max_frames;
        s->sampleRate = sample_rate;
        s->shortWindow = o.window == TV_STRETCH_WINDOW_SHORT;
        const RubberBandStretcher::Options options = libraryOptions(o);
        // The library is specified for 8 ... 192 kHz; the rate only shapes its analysis,
        // the pitch factor is a ratio and stays exact.
        const auto libraryRate = static_cast<uint32_t>(std::lround(std::clamp(sample_rate, 8000.0, 192000.0)));
        s->stretcher = std::make_unique<RubberBandStretcher>(
            libraryRate, channels, std::make_shared<SilentLogger>(), options, 1.0, 1.0);
        if (s->stretcher->getEngineVersion() != (o.engine == TV_STRETCH_ENGINE_FINER ? 3 : 2))
            return nullptr;
        s->stretcher->setMaxProcessSize(max_frames);
        s->unityStartDelay = s->stretcher->getStartDelay();
        if (o.own_resampler) {
            s->resampler = std::make_unique<tv::Resampler>(channels, max_frames);
            const size_t room = s->resampler->maxOutput();
            s->resampled.assign(static_cast<size_t>(channels) * room, 0.0f);
            for (uint32_t c = 0; c < channels; ++c)
                s->resampledPointers[c] = s->resampled.data() + c * room;
        }

        const size_t staging = static_cast<size_t>(channels) * max_frames;
        s->inputStaging.assign(staging, 0.0f);
        s->outputStaging.assign(staging, 0.0f);
        for (uint32_t c = 0; c < channels; ++c) {
            s->inputPointers[c] = s->inputStaging.data() + static_cast<size_t>(c) * max_frames;
            s->outputPointers[c] = s->outputStaging.data() + static_cast<size_t>(c) * max_frames;
        }

        // Provisional FIFO, big enough for any lag while measuring.
        s->fifoCapacity = nextPowerOfTwo(static_cast<uint64_t>(max_frames) + 4 * libraryRate);
        s->fifoMask = s->fifoCapacity - 1;
        s->fifo.assign(static_cast<size_t>(channels) * s->fifoCapacity, 0.0f);

        // Warm-up, then a glide across the whole factor range: the library builds its
        // resampler tables on the first pitch changes, which must not happen in real time.
        s->latencyFrames = 0;
        s->restart();
        s->runSilence(4 * max_frames, max_frames);
        const uint32_t glideChunk = std::min<uint32_t>(max_frames, 256);
        for (double f = kMinFactor; f < kMaxFactor; f *= 1.06) {
            s->targetFactor.store(f);
            s->appliedFactor.store(f);
            s->runSilence(glideChunk, glideChunk);
        }
        // The resampler keeps two states and rebuilds one on every factor change: its input
        // buffer grows to the largest of the two, longest at the top factor (resampling
        // down by exactly 4), and its phase table to the numerator of a rational
        // approximation of 1 / factor, at most its limit (96000 or 192000) plus 3. The top
        // factor, then these factors, bring both states to those maxima, so no later
        // factor or reset can grow them.
        for (double f : {kMaxFactor, 24001.0 / 96003.0, 24002.0 / 96003.0, 48001.0 / 192003.0, 48002.0 / 192003.0}) {
            if (s->resampler)
                break; // the library does not resample
            s->targetFactor.store(f);
            s->appliedFactor.store(f);
            s->runSilence(4096, std::min<uint32_t>(max_frames, 4096));
        }

        const Calibration cal = calibration(*s, options, libraryRate);
        s->extraDrop = cal.extraDrop;
        s->latencyFrames = cal.latencyFrames;

        const auto onset = static_cast<uint32_t>(std::lround(kOnsetSeconds * sample_rate));
        s->onsetRamp.resize(std::max<uint32_t>(onset, 1));
        for (size_t k = 0; k < s->onsetRamp.size(); ++k)
            s->onsetRamp[k] = static_cast<float>(0.5 - 0.5 * std::cos(M_PI * (k + 1.0) / (s->onsetRamp.size() + 1.0)));
        s->onsetPosition = static_cast<uint32_t>(s->onsetRamp.size());

        s->fifoCapacity = nextPowerOfTwo(static_cast<uint64_t>(s->latencyFrames) + max_frames + 16384);
        s->fifoMask = s->fifoCapacity - 1;
        s->fifo.assign(static_cast<size_t>(channels) * s->fifoCapacity, 0.0f);
        s->fifo.shrink_to_fit();

        s->targetFactor.store(1.0);
        s->restart();
        return s.release();
    } catch (...) {
        return nullptr;
    }
}

void tv_stretch_destroy(tv_stretch *stretch)
{
    delete stretch;
}

void tv_stretch_reset(tv_stretch *stretch)
{
    if (stretch == nullptr)
        return;
    stretch->restart();
}

int tv_stretch_prepare(tv_stretch *stretch)
{
    if (stretch == nullptr)
        return 0;
    uint32_t state = tv_stretch::stale;
    if (stretch->hand.compare_exchange_strong(state, tv_stretch::priming, std::memory_order_acquire)) {
        stretch->restart();
        stretch->hand.store(tv_stretch::ready, std::memory_order_release);
        return 1;
    }
    return state == tv_stretch::ready || state == tv_stretch::live ? 1 : 0;
}

int tv_stretch_claim(tv_stretch *stretch)
{
    if (stretch == nullptr)
        return 0;
    uint32_t state = stretch->hand.load(std::memory_order_acquire);
    if (state == tv_stretch::live)
        return 1;
    if (state == tv_stretch::priming
        || !stretch->hand.compare_exchange_strong(state, tv_stretch::live, std::memory_order_acquire))
        return 0; // being prepared right now (the exchange can only lose to tv_stretch_prepare)
    if (state == tv_stretch::stale) {
        stretch->restart();
        stretch->claimResets.fetch_add(1, std::memory_order_relaxed);
    } else {
        // Prepared at an older target: it has processed nothing yet, so it jumps (no glide).
        const double target = stretch->targetFactor.load(std::memory_order_relaxed);
        stretch->appliedFactor.store(target, std::memory_order_relaxed);
        if (target != stretch->lastTransposed)
            stretch->transpose(target);
    }
    return 1;
}

void tv_stretch_release(tv_stretch *stretch)
{
    if (stretch == nullptr)
        return;
    uint32_t state = tv_stretch::live;
    stretch->hand.compare_exchange_strong(state, tv_stretch::stale, std::memory_order_release,
                                          std::memory_order_relaxed);
}

uint64_t tv_stretch_claim_resets(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->claimResets.load(std::memory_order_relaxed);
}

void tv_stretch_set_factor(tv_stretch *stretch, double factor)
{
    if (stretch == nullptr)
        return;
    stretch->targetFactor.store(sanitizeFactor(factor), std::memory_order_relaxed);
}

void tv_stretch_set_channel(tv_stretch *stretch, uint32_t channel, const float *input,
                            uint32_t input_stride, float *output, uint32_t output_stride)
{
    if (stretch == nullptr || channel >= stretch->channels)
        return;
    Binding &b = stretch->bindings[channel];
    b.input = input;
    b.inputStride = input_stride == 0 ? 1 : input_stride;
    b.output = output;
    b.outputStride = output_stride == 0 ? 1 : output_stride;
}

void tv_stretch_process(tv_stretch *stretch, uint32_t frames)
{
    if (stretch == nullptr || frames == 0)
        return;
    for (uint32_t c = 0; c < stretch->channels; ++c) {
        if (stretch->bindings[c].input == nullptr || stretch->bindings[c].output == nullptr)
            return;
    }
    // The caller's thread may have run code that leaves the vector state dirty since.
    tv::clearVectorState();
    // The target is read once per call: all chunks of one call glide towards the same value.
    const double target = stretch->targetFactor.load(std::memory_order_relaxed);
    uint32_t offset = 0;
    while (offset < frames) {
        const uint32_t chunk = std::min(frames - offset, stretch->maxFrames);
        stretch->processChunk(offset, chunk, true, target);
        offset += chunk;
    }
}

double tv_stretch_latency_seconds(const tv_stretch *stretch)
{
    if (stretch == nullptr || !(stretch->sampleRate > 0.0))
        return 0.0;
    return stretch->latencyFrames / stretch->sampleRate;
}

uint32_t tv_stretch_latency_frames(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->latencyFrames;
}

double tv_stretch_target_factor(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0.0 : stretch->targetFactor.load(std::memory_order_relaxed);
}

double tv_stretch_applied_factor(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0.0 : stretch->appliedFactor.load(std::memory_order_relaxed);
}

uint32_t tv_stretch_channels(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->channels;
}

uint32_t tv_stretch_max_frames(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->maxFrames;
}

uint32_t tv_stretch_block_samples(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->blockSamples;
}

uint32_t tv_stretch_interval_samples(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->intervalSamples;
}

int tv_stretch_uses_short_window(const tv_stretch *stretch)
{
    return stretch != nullptr && stretch->shortWindow ? 1 : 0;
}

uint64_t tv_stretch_underflow_frames(const tv_stretch *stretch)
{
    return stretch == nullptr ? 0 : stretch->underflowFrames.load(std::memory_order_relaxed);
}

} // extern "C"
