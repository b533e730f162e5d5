// SPDX-License-Identifier: GPL-3.0-or-later
//
// Summary
//   Delay-line pitch shifter: per channel a power-of-two ring is written at the input
//   rate and read by two heads half a window apart that drift by (1 - factor) samples per
//   sample; a raised-cosine table crossfades the heads so each is silent where it wraps.
//
// Real-time safety
//   tv_engine_create allocates the eight rings; nothing after it allocates, locks, logs
//   or makes system calls. The window is a table, never evaluated with cos at run time.
//
// Thread safety
//   The target factor and the underrun counter are lock-free atomics, so set_factor,
//   note_underrun and the getters may run on any thread while processing runs. The
//   target is read once per process call. Reset and process run on the audio thread.
//
// The inner loop produces exactly the samples of the plain per-sample formulation (the
// unit tests compare bit for bit): same operations in the same order, with floor()
// replaced by truncation plus correction, the division by a power-of-two N folded into
// one exact scale, and the factor smoothing skipped once it has reached its fixed point.

#include "tv_dsp_internal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

#if defined(__SSE2__) && defined(__x86_64__) && !defined(TV_ENGINE_PORTABLE)
#define TV_ENGINE_SSE2 1
#include <emmintrin.h>
#endif

// The loop helpers below must fold into the per-sample loop.
#if defined(__GNUC__)
#define TV_INLINE inline __attribute__((always_inline))
#else
#define TV_INLINE inline
#endif

namespace {

constexpr uint32_t kChannels = 8;
constexpr uint32_t kTableSize = 4096;
constexpr uint32_t kMinDelay = 64;
constexpr uint32_t kMaxDelay = 65536;
// Longest stretch processed with one ring offset (keeps offset positions below 2^31).
constexpr uint32_t kMaxSegment = 1u << 24;

// One ring slot: the sample and its difference to the next slot's sample, stored when the
// next sample is written, both widened to double. The difference is the float
// subtraction the linear interpolation needs, done once per written sample instead of
// twice per read; widening is exact, so reads give the same values as a float ring.
struct Slot {
    double x;
    double dx;
};

// Window entry i and its float difference to entry i + 1 (0 for the last), widened.
struct WindowEntry {
    double base;
    double slope;
};

struct Channel {
    Slot *ring = nullptr;
    uint32_t writeIndex = 0;
    double delay = 0.0;   // distance of head A behind the write position, in [0, N]
    double smoothed = 1.0;
};

} // namespace

struct tv_engine {
    Channel channels[kChannels];
    WindowEntry window[kTableSize + 1];
    uint32_t length = 0;    // N
    uint32_t capacity = 0;
    uint32_t mask = 0;
    double sampleRate = 48000.0;
    double smoothing = 0.0;
    std::atomic<double> target{1.0};
    std::atomic<uint64_t> underruns{0};
};

static_assert(std::atomic<double>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

namespace {

void freeRings(tv_engine *e)
{
    for (Channel &c : e->channels) {
        delete[] c.ring;
        c.ring = nullptr;
    }
}

void buildWindow(WindowEntry *table, double fade)
{
    const double f = std::min(std::max(fade, 0.05), 0.5);
    const double a = 0.25 - f / 2;
    const double b = 0.75 - f / 2;
    float weights[kTableSize + 1];
    for (uint32_t i = 0; i <= kTableSize; ++i) {
        const double x = double(i) / kTableSize;
        double weight;
        if (x < a)
            weight = 0.0;
        else if (x < a + f)
            weight = (1.0 - std::cos(std::numbers::pi * (x - a) / f)) / 2;
        else if (x < b)
            weight = 1.0;
        else if (x < b + f)
            weight = (1.0 + std::cos(std::numbers::pi * (x - b) / f)) / 2;
        else
            weight = 0.0;
        weights[i] = float(weight);
    }
    for (uint32_t i = 0; i <= kTableSize; ++i)
        table[i] = {weights[i], i < kTableSize ? double(weights[i + 1] - weights[i]) : 0.0};
}

struct LoopConstants {
    const WindowEntry *window;
    uint32_t mask;
    double length;     // N
    double half;       // N / 2
    double scale;      // 4096 / N when N is a power of two
    double target;
    double smoothing;
};

// What a process call carries from one stretch of samples to the next.
struct LoopState {
    const float *input;
    float *output;
    uint32_t w;
    double d;
    double s;
    float previous; // the sample written last
};

// Crossfade weight of head A at delay d. At p = 4096 the slope is 0, which yields the last
// entry exactly, so no branch is needed; the clamp only guards memory.
template <bool PowerOfTwo>
TV_INLINE double windowWeight(const LoopConstants &k, double d)
{
    const double p = PowerOfTwo ? d * k.scale : d / k.length * kTableSize;
    const uint32_t i = std::min(uint32_t(p), kTableSize);
    return k.window[i].base + k.window[i].slope * (p - i);
}

// One sample's bookkeeping after its reads: smooth the factor, move the heads.
template <bool Steady>
TV_INLINE void advance(const LoopConstants &k, double step, double &d, double &s)
{
    if constexpr (!Steady)
        s = s + (k.target - s) * k.smoothing;
    d = d + (Steady ? step : 1.0 - s);
    if (d >= k.length) [[unlikely]]
        d = d - k.length;
    else if (d < 0.0) [[unlikely]]
        d = d + k.length;
}

TV_INLINE double secondHead(const LoopConstants &k, double d)
{
    const double dB = d + k.half;
    return dB >= k.length ? dB - k.length : dB;
}

TV_INLINE void writeSample(Slot *ring, uint32_t mask, uint32_t w, float x, float &previous)
{
    ring[w & mask].x = x;
    ring[(w - 1) & mask].dx = x - previous;
    previous = x;
}

#if defined(TV_ENGINE_SSE2)

// Splits two read positions r into ring index (low 32 bits, lanes 0 and 1 of `index`) and
// r - floor(r), without a library floor.
// Offset: the caller guarantees base <= r (base an integer multiple of the capacity), so
//   r - base is exact, non-negative and below 2^31: truncation is floor, and the index
//   modulo the capacity is unchanged.
// Otherwise: adding 1.5 * 2^52 rounds to the nearest integer and leaves it in the low
//   mantissa bits (two's complement, so positions below 0 mask correctly); where rounding
//   went up, the compare mask (-1 per lane) steps it down.
template <bool Offset>
TV_INLINE __m128d splitPositions(__m128d r, __m128d base, __m128i &index)
{
    if constexpr (Offset) {
        const __m128d local = _mm_sub_pd(r, base);
        index = _mm_cvttpd_epi32(local);
        return _mm_sub_pd(local, _mm_cvtepi32_pd(index));
    } else {
        const __m128d magic = _mm_set1_pd(0x1.8p52);
        const __m128d rounded = _mm_add_pd(r, magic);
        const __m128d nearest = _mm_sub_pd(rounded, magic);
        const __m128d up = _mm_cmplt_pd(r, nearest);
        index = _mm_add_epi32(_mm_shuffle_epi32(_mm_castpd_si128(rounded), 0x08),
                              _mm_shuffle_epi32(_mm_castpd_si128(up), 0x08));
        return _mm_sub_pd(r, _mm_sub_pd(nearest, _mm_and_pd(up, _mm_set1_pd(1.0))));
    }
}

// Linear interpolation at two slots: x + dx * frac per lane.
TV_INLINE __m128d interpolate(const Slot *ring, uint64_t twoIndices, __m128d frac)
{
    const __m128d s0 = _mm_loadu_pd(&ring[uint32_t(twoIndices)].x);
    const __m128d s1 = _mm_loadu_pd(&ring[twoIndices >> 32].x);
    return _mm_add_pd(_mm_unpacklo_pd(s0, s1), _mm_mul_pd(_mm_unpackhi_pd(s0, s1), frac));
}

// Heads A and B of one sample, one per lane; returns the crossfaded output.
template <bool Offset>
TV_INLINE double oneSample(const LoopConstants &k, const Slot *ring, __m128i mask, __m128d base, double wd, double d,
                           double weight)
{
    const __m128d r = _mm_sub_pd(_mm_sub_pd(_mm_set1_pd(wd), _mm_setr_pd(d, secondHead(k, d))), _mm_set1_pd(1.0));
    __m128i index;
    const __m128d frac = splitPositions<Offset>(r, base, index);
    const uint64_t both = uint64_t(_mm_cvtsi128_si64(_mm_and_si128(index, mask)));
    const __m128d heads = interpolate(ring, both, frac);
    const __m128d weighted = _mm_mul_pd(heads, _mm_setr_pd(weight, 1.0 - weight));
    return _mm_cvtsd_f64(_mm_add_sd(weighted, _mm_unpackhi_pd(weighted, weighted)));
}

// Two consecutive samples, one per lane (delays d0, d1; write positions wd, wd + 1).
// Both input samples must already be in the ring: the reads of the first sample never
// reach the slot written by the second.
template <bool PowerOfTwo, bool Offset>
TV_INLINE __m128 twoSamples(const LoopConstants &k, const Slot *ring, __m128i mask, __m128d base, double wd,
                            double d0, double d1)
{
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d length = _mm_set1_pd(k.length);
    const __m128d d = _mm_setr_pd(d0, d1);
    __m128d dB = _mm_add_pd(d, _mm_set1_pd(k.half));
    dB = _mm_sub_pd(dB, _mm_and_pd(_mm_cmpge_pd(dB, length), length));

    __m128d p = PowerOfTwo ? _mm_mul_pd(d, _mm_set1_pd(k.scale))
                           : _mm_mul_pd(_mm_div_pd(d, length), _mm_set1_pd(double(kTableSize)));
    p = _mm_min_pd(p, _mm_set1_pd(double(kTableSize))); // never above; guards the table
    const __m128i i = _mm_cvttpd_epi32(p);
    const __m128d pFrac = _mm_sub_pd(p, _mm_cvtepi32_pd(i));
    const uint64_t iBoth = uint64_t(_mm_cvtsi128_si64(i));
    const __m128d w0 = _mm_loadu_pd(&k.window[uint32_t(iBoth)].base);
    const __m128d w1 = _mm_loadu_pd(&k.window[iBoth >> 32].base);
    const __m128d weight = _mm_add_pd(_mm_unpacklo_pd(w0, w1), _mm_mul_pd(_mm_unpackhi_pd(w0, w1), pFrac));

    const __m128d wv = _mm_setr_pd(wd, wd + 1.0);
    __m128i indexA, indexB;
    const __m128d fracA = splitPositions<Offset>(_mm_sub_pd(_mm_sub_pd(wv, d), one), base, indexA);
    const __m128d fracB = splitPositions<Offset>(_mm_sub_pd(_mm_sub_pd(wv, dB), one), base, indexB);
    const __m128i index = _mm_and_si128(_mm_unpacklo_epi64(indexA, indexB), mask);
    const __m128d a = interpolate(ring, uint64_t(_mm_cvtsi128_si64(index)), fracA);
    const __m128d b = interpolate(ring, uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index))), fracB);
    return _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(a, weight), _mm_mul_pd(_mm_sub_pd(one, weight), b)));
}

// `count` samples during which w neither wraps nor, with Offset, comes closer than a
// capacity to 0; base is then (w - capacity) rounded down to a multiple of the capacity.
template <bool PowerOfTwo, bool Steady, bool Offset>
void segment(const LoopConstants &k, Slot *ring, uint32_t capacity, LoopState &st, uint32_t inStride,
             uint32_t outStride, uint32_t count)
{
    const uint32_t mask = k.mask;
    const __m128i maskV = _mm_set1_epi32(int(mask));
    const __m128d base = _mm_set1_pd(Offset ? double((st.w - capacity) & ~mask) : 0.0);
    const double step = 1.0 - st.s; // used only when Steady
    const float *in = st.input;
    float *out = st.output;
    uint32_t w = st.w;
    double wd = double(w);
    double d = st.d;
    double s = st.s;
    float previous = st.previous;

    uint32_t n = 0;
    for (; n + 1 < count; n += 2) {
        writeSample(ring, mask, w, in[0], previous);
        writeSample(ring, mask, w + 1, in[inStride], previous);
        in += 2 * size_t(inStride);
        const double d0 = d;
        advance<Steady>(k, step, d, s);
        const double d1 = d;
        advance<Steady>(k, step, d, s);
        const __m128 y = twoSamples<PowerOfTwo, Offset>(k, ring, maskV, base, wd, d0, d1);
        out[0] = _mm_cvtss_f32(y);
        out[outStride] = _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
        out += 2 * size_t(outStride);
        w += 2;
        wd += 2.0;
    }
    if (n < count) {
        writeSample(ring, mask, w, in[0], previous);
        in += inStride;
        const double weight = windowWeight<PowerOfTwo>(k, d);
        out[0] = float(oneSample<Offset>(k, ring, maskV, base, wd, d, weight));
        out += outStride;
        advance<Steady>(k, step, d, s);
        ++w;
    }
    st = {in, out, w, d, s, previous};
}

#else

TV_INLINE double tap(const Slot *ring, uint32_t mask, double r)
{
    int64_t j = int64_t(r);
    double jd = double(j);
    if (jd > r) { // truncation rounded a negative position up
        j -= 1;
        jd -= 1.0;
    }
    const Slot &slot = ring[uint64_t(j) & mask];
    return slot.x + slot.dx * (r - jd);
}

template <bool PowerOfTwo, bool Steady, bool Offset>
void segment(const LoopConstants &k, Slot *ring, uint32_t, LoopState &st, uint32_t inStride, uint32_t outStride,
             uint32_t count)
{
    const double step = 1.0 - st.s;
    double wd = double(st.w);
    for (uint32_t n = 0; n < count; ++n) {
        writeSample(ring, k.mask, st.w, *st.input, st.previous);
        st.input += inStride;
        const double weight = windowWeight<PowerOfTwo>(k, st.d);
        const double a = tap(ring, k.mask, wd - st.d - 1.0);
        const double b = tap(ring, k.mask, wd - secondHead(k, st.d) - 1.0);
        *st.output = float(a * weight + (1.0 - weight) * b);
        st.output += outStride;
        advance<Steady>(k, step, st.d, st.s);
        ++st.w;
        wd += 1.0;
    }
}

#endif

// Steady: the smoothed factor is at its fixed point for this target, so the smoothing
// step would reproduce it exactly and is left out.
template <bool PowerOfTwo, bool Steady>
void run(const LoopConstants &k, Channel &ch, uint32_t capacity, const float *input, uint32_t inStride,
         float *output, uint32_t outStride, uint32_t frames)
{
    LoopState st{input, output, ch.writeIndex, ch.delay, ch.smoothed, float(ch.ring[(ch.writeIndex - 1) & k.mask].x)};
    while (frames > 0) {
        // Split where w wraps (its double value is counted up within a segment) and
        // where w reaches the capacity (from there on positions never go below 0).
        uint32_t count = std::min(frames, kMaxSegment);
        const uint32_t untilWrap = 0u - st.w;
        if (untilWrap != 0)
            count = std::min(count, untilWrap);
        if (st.w >= capacity) {
            segment<PowerOfTwo, Steady, true>(k, ch.ring, capacity, st, inStride, outStride, count);
        } else {
            count = std::min(count, capacity - st.w);
            segment<PowerOfTwo, Steady, false>(k, ch.ring, capacity, st, inStride, outStride, count);
        }
        frames -= count;
    }
    ch.writeIndex = st.w;
    ch.delay = st.d;
    ch.smoothed = st.s;
}

} // namespace

extern "C" tv_engine *tv_engine_create_custom(uint32_t delay_frames, double sample_rate, double fade_fraction)
{
    try {
        auto *e = new (std::nothrow) tv_engine;
        if (!e)
            return nullptr;
        e->length = std::min(std::max(delay_frames, kMinDelay), kMaxDelay);
        e->capacity = 1;
        while (e->capacity < 2 * e->length)
            e->capacity <<= 1;
        e->mask = e->capacity - 1;
        e->sampleRate = sample_rate > 0.0 ? sample_rate : 48000.0;
        e->smoothing = 1.0 - std::exp(-1.0 / (e->sampleRate * 0.04));
        buildWindow(e->window, fade_fraction);
        for (Channel &c : e->channels) {
            c.ring = new (std::nothrow) Slot[e->capacity]();
            if (!c.ring) {
                freeRings(e);
                delete e;
                return nullptr;
            }
        }
        return e;
    } catch (...) {
        return nullptr;
    }
}

extern "C" tv_engine *tv_engine_create(uint32_t delay_frames, double sample_rate)
{
    return tv_engine_create_custom(delay_frames, sample_rate, 0.5);
}

extern "C" void tv_engine_destroy(tv_engine *engine)
{
    if (!engine)
        return;
    freeRings(engine);
    delete engine;
}

extern "C" void tv_engine_reset(tv_engine *engine)
{
    if (!engine)
        return;
    const double target = engine->target.load(std::memory_order_relaxed);
    for (Channel &c : engine->channels) {
        std::memset(static_cast<void *>(c.ring), 0, sizeof(Slot) * engine->capacity);
        c.writeIndex = 0;
        c.delay = 0.0;
        c.smoothed = target;
    }
}

extern "C" void tv_engine_set_factor(tv_engine *engine, double factor)
{
    if (!engine)
        return;
    if (!std::isfinite(factor) || factor <= 0.0)
        factor = 1.0;
    factor = std::min(std::max(factor, 0.25), 4.0);
    engine->target.store(factor, std::memory_order_relaxed);
}

extern "C" void tv_engine_process_channel(tv_engine *engine, uint32_t channel,
                                          const float *input, uint32_t input_stride,
                                          float *output, uint32_t output_stride, uint32_t frames)
{
    if (!engine || !input || !output || channel >= kChannels || frames == 0)
        return;
    Channel &ch = engine->channels[channel];
    const uint32_t n = engine->length;
    LoopConstants k{engine->window, engine->mask, double(n), n * 0.5,
                    double(kTableSize) / n, engine->target.load(std::memory_order_relaxed),
                    engine->smoothing};
    const bool steady = ch.smoothed + (k.target - ch.smoothed) * k.smoothing == ch.smoothed;
    const bool powerOfTwo = (n & (n - 1)) == 0;
    if (powerOfTwo) {
        if (steady)
            run<true, true>(k, ch, engine->capacity, input, input_stride, output, output_stride, frames);
        else
            run<true, false>(k, ch, engine->capacity, input, input_stride, output, output_stride, frames);
    } else {
        if (steady)
            run<false, true>(k, ch, engine->capacity, input, input_stride, output, output_stride, frames);
        else
            run<false, false>(k, ch, engine->capacity, input, input_stride, output, output_stride, frames);
    }
}

extern "C" void tv_engine_note_underrun(tv_engine *engine)
{
    if (engine)
        engine->underruns.fetch_add(1, std::memory_order_relaxed);
}

extern "C" uint64_t tv_engine_underruns(const tv_engine *engine)
{
    return engine ? engine->underruns.load(std::memory_order_relaxed) : 0;
}

extern "C" double tv_engine_latency_seconds(const tv_engine *engine)
{
    if (!engine || !(engine->sampleRate > 0.0))
        return 0.0;
    return engine->length * 0.5 / engine->sampleRate;
}

extern "C" void tv_engine_test_set_write_index(tv_engine *engine, uint32_t index)
{
    if (!engine)
        return;
    const uint32_t mask = engine->mask;
    for (Channel &c : engine->channels) {
        c.writeIndex = index;
        // The slot before the write position gets its difference at the next write;
        // every other slot must again hold the difference to its successor.
        for (uint32_t j = 0; j <= mask; ++j)
            c.ring[j].dx = float(c.ring[(j + 1) & mask].x) - float(c.ring[j].x);
    }
}
