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
// Speed without changing a sample: the output is bit for bit that of the plain
// per-sample formulation (the unit tests compare against one), so every operation keeps
// its order and precision. What differs is where the work happens:
// - the only serial part, smoothing the factor and moving the heads, runs as its own
//   pass per piece of a block, and the next channel, which starts from the same state,
//   reuses its result;
// - everything else is independent per sample and runs two (SSE2) or four (AVX2,
//   chosen at creation) samples per step;
// - floor() becomes an exact integer conversion, the division by a power-of-two N one
//   exact scale, and the smoothing step is skipped once it has reached its fixed point;
// - the ring keeps each sample's difference to its successor, computed once on write.

#include "tv_dsp_internal.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

#if defined(__SSE2__) && defined(__x86_64__) && !defined(TV_ENGINE_PORTABLE)
#define TV_ENGINE_SSE2 1
#include <immintrin.h>
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
// Samples whose head delays are computed in one go (and may be reused by the next channel).
constexpr uint32_t kPiece = 4096;

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
    uint32_t jumpsSeen = 0; // tv_engine_jump_factor calls this channel has taken over
};

// The delays of a piece depend only on the starting delay, smoothed factor, target and
// length. Channels of one block share all four, so the next channel reuses them.
struct DelayCache {
    bool valid = false;
    double delay = 0.0, smoothed = 0.0, target = 0.0;
    uint32_t count = 0;
    double delayAfter = 0.0, smoothedAfter = 0.0;

    bool matches(double d, double s, double t, uint32_t n) const
    {
        return valid && count == n && std::bit_cast<uint64_t>(delay) == std::bit_cast<uint64_t>(d) &&
               std::bit_cast<uint64_t>(smoothed) == std::bit_cast<uint64_t>(s) &&
               std::bit_cast<uint64_t>(target) == std::bit_cast<uint64_t>(t);
    }
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
    double *delays = nullptr; // kPiece entries, scratch of the audio thread
    DelayCache cache;
    bool avx2 = false;        // the processor runs the four-lane loop
    std::atomic<double> target{1.0};
    std::atomic<uint32_t> jumps{0}; // bumped after the target by tv_engine_jump_factor
    std::atomic<uint64_t> underruns{0};
};

static_assert(std::atomic<double>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

namespace {

bool cpuHasAvx2()
{
#if defined(TV_ENGINE_SSE2) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

void freeBuffers(tv_engine *e)
{
    for (Channel &c : e->channels) {
        delete[] c.ring;
        c.ring = nullptr;
    }
    delete[] e->delays;
    e->delays = nullptr;
}

void buildWindow(WindowEntry *table, double fade)
{
    // A fraction that is not a number cannot be limited; it gets the default.
    const double f = std::isnan(fade) ? 0.5 : std::min(std::max(fade, 0.05), 0.5);
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
    uint32_t capacity;
    double length;     // N
    double half;       // N / 2
    double scale;      // 4096 / N when N is a power of two
    double target;
    double smoothing;
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

TV_INLINE double secondHead(const LoopConstants &k, double d)
{
    const double dB = d + k.half;
    return dB >= k.length ? dB - k.length : dB;
}

// The only serial part: smooth the factor, move the heads; delays[i] is head A's delay
// at sample i. Steady: the smoothed factor is at its fixed point for this target, so the
// smoothing step would reproduce it exactly and is left out.
template <bool Steady>
void computeDelays(const LoopConstants &k, double *delays, uint32_t count, double &delay, double &smoothed)
{
    double d = delay, s = smoothed; // locals: the stores to delays[] must not alias them
    const double step = 1.0 - s;    // used only when Steady
    const double length = k.length, target = k.target, smoothing = k.smoothing;
    for (uint32_t i = 0; i < count; ++i) {
        delays[i] = d;
        if constexpr (!Steady)
            s = s + (target - s) * smoothing;
        d = d + (Steady ? step : 1.0 - s);
        if (d >= length) [[unlikely]]
            d = d - length;
        else if (d < 0.0) [[unlikely]]
            d = d + length;
    }
    delay = d;
    smoothed = s;
}

// Stores count input samples from position w on, with their differences.
TV_INLINE void writeChunk(Slot *ring, uint32_t mask, uint32_t w, const float *&in, uint32_t stride, uint32_t count,
                          float &previous)
{
    for (uint32_t i = 0; i < count; ++i) {
        const float x = *in;
        in += stride;
        ring[(w + i) & mask].x = x;
        ring[(w + i - 1) & mask].dx = x - previous;
        previous = x;
    }
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
template <bool PowerOfTwo, bool Offset>
TV_INLINE double oneSample(const LoopConstants &k, const Slot *ring, __m128i mask, __m128d base, double wd, double d)
{
    const double weight = windowWeight<PowerOfTwo>(k, d);
    const __m128d r = _mm_sub_pd(_mm_sub_pd(_mm_set1_pd(wd), _mm_setr_pd(d, secondHead(k, d))), _mm_set1_pd(1.0));
    __m128i index;
    const __m128d frac = splitPositions<Offset>(r, base, index);
    const uint64_t both = uint64_t(_mm_cvtsi128_si64(_mm_and_si128(index, mask)));
    const __m128d heads = interpolate(ring, both, frac);
    const __m128d weighted = _mm_mul_pd(heads, _mm_setr_pd(weight, 1.0 - weight));
    return _mm_cvtsd_f64(_mm_add_sd(weighted, _mm_unpackhi_pd(weighted, weighted)));
}

// Two consecutive samples, one per lane (delays d, write positions wd and wd + 1).
template <bool PowerOfTwo, bool Offset>
TV_INLINE __m128 twoSamples(const LoopConstants &k, const Slot *ring, __m128i mask, __m128d base, __m128d wv,
                            __m128d d)
{
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d length = _mm_set1_pd(k.length);
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

    __m128i indexA, indexB;
    const __m128d fracA = splitPositions<Offset>(_mm_sub_pd(_mm_sub_pd(wv, d), one), base, indexA);
    const __m128d fracB = splitPositions<Offset>(_mm_sub_pd(_mm_sub_pd(wv, dB), one), base, indexB);
    const __m128i index = _mm_and_si128(_mm_unpacklo_epi64(indexA, indexB), mask);
    const __m128d a = interpolate(ring, uint64_t(_mm_cvtsi128_si64(index)), fracA);
    const __m128d b = interpolate(ring, uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(index, index))), fracB);
    return _mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(a, weight), _mm_mul_pd(_mm_sub_pd(one, weight), b)));
}

// Outputs of count samples from write position w on, whose inputs are in the ring.
// Offset requires w >= capacity (positions never below w - capacity).
template <bool PowerOfTwo, bool Offset>
void readChunk(const LoopConstants &k, const Slot *ring, uint32_t w, const double *delays, uint32_t count,
               float *&out, uint32_t stride)
{
    const __m128i mask = _mm_set1_epi32(int(k.mask));
    const __m128d base = _mm_set1_pd(Offset ? double((w - k.capacity) & ~k.mask) : 0.0);
    __m128d wv = _mm_setr_pd(double(w), double(w) + 1.0);
    const __m128d two = _mm_set1_pd(2.0);
    uint32_t i = 0;
    for (; i + 1 < count; i += 2) {
        const __m128 y = twoSamples<PowerOfTwo, Offset>(k, ring, mask, base, wv, _mm_loadu_pd(delays + i));
        out[0] = _mm_cvtss_f32(y);
        out[stride] = _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
        out += 2 * size_t(stride);
        wv = _mm_add_pd(wv, two);
    }
    if (i < count) {
        out[0] = float(oneSample<PowerOfTwo, Offset>(k, ring, mask, base, _mm_cvtsd_f64(wv), delays[i]));
        out += stride;
    }
}

// The same per-lane operations four samples at a time, for processors with AVX2 (chosen
// at run time). No fused multiply-add is enabled, so every lane rounds exactly as above.
#define TV_AVX2_INLINE inline __attribute__((always_inline, target("avx2")))

template <bool Offset>
TV_AVX2_INLINE __m256d splitPositions4(__m256d r, __m256d base, __m128i &index)
{
    if constexpr (Offset) {
        const __m256d local = _mm256_sub_pd(r, base);
        index = _mm256_cvttpd_epi32(local);
        return _mm256_sub_pd(local, _mm256_cvtepi32_pd(index));
    } else {
        const __m256d magic = _mm256_set1_pd(0x1.8p52);
        const __m256d rounded = _mm256_add_pd(r, magic);
        const __m256d nearest = _mm256_sub_pd(rounded, magic);
        const __m256d up = _mm256_cmp_pd(r, nearest, _CMP_LT_OQ);
        const __m256i lowHalves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
        index = _mm_add_epi32(
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(rounded), lowHalves)),
            _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(up), lowHalves)));
        return _mm256_sub_pd(r, _mm256_sub_pd(nearest, _mm256_and_pd(up, _mm256_set1_pd(1.0))));
    }
}

// Loads the pairs of doubles at four indices; first/second get the pairs' halves.
TV_AVX2_INLINE void load4(const double *pairs, __m128i index, __m256d &first, __m256d &second)
{
    const uint64_t i01 = uint64_t(_mm_cvtsi128_si64(index));
    const uint64_t i23 = uint64_t(_mm_extract_epi64(index, 1));
    const __m256d p02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(pairs + 2 * uint32_t(i01))),
                                             _mm_loadu_pd(pairs + 2 * uint32_t(i23)), 1);
    const __m256d p13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(pairs + 2 * (i01 >> 32))),
                                             _mm_loadu_pd(pairs + 2 * (i23 >> 32)), 1);
    first = _mm256_unpacklo_pd(p02, p13);
    second = _mm256_unpackhi_pd(p02, p13);
}

template <bool PowerOfTwo, bool Offset>
__attribute__((target("avx2"))) void readChunkAvx2(const LoopConstants &k, const Slot *ring, uint32_t w,
                                                   const double *delays, uint32_t count, float *&out,
                                                   uint32_t stride)
{
    const __m128i mask = _mm_set1_epi32(int(k.mask));
    const __m256d base = _mm256_set1_pd(Offset ? double((w - k.capacity) & ~k.mask) : 0.0);
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d length = _mm256_set1_pd(k.length);
    const __m256d half = _mm256_set1_pd(k.half);
    const __m256d scale = _mm256_set1_pd(k.scale);
    const __m256d tableSize = _mm256_set1_pd(double(kTableSize));
    const double *slots = &ring[0].x;
    const double *table = &k.window[0].base;
    const double wd = double(w);
    __m256d wv = _mm256_setr_pd(wd, wd + 1.0, wd + 2.0, wd + 3.0);
    uint32_t i = 0;
    for (; i + 3 < count; i += 4) {
        const __m256d d = _mm256_loadu_pd(delays + i);
        __m256d dB = _mm256_add_pd(d, half);
        dB = _mm256_sub_pd(dB, _mm256_and_pd(_mm256_cmp_pd(dB, length, _CMP_GE_OQ), length));

        __m256d p = PowerOfTwo ? _mm256_mul_pd(d, scale) : _mm256_mul_pd(_mm256_div_pd(d, length), tableSize);
        p = _mm256_min_pd(p, tableSize);
        const __m128i ti = _mm256_cvttpd_epi32(p);
        const __m256d pFrac = _mm256_sub_pd(p, _mm256_cvtepi32_pd(ti));
        __m256d wBase, wSlope;
        load4(table, ti, wBase, wSlope);
        const __m256d weight = _mm256_add_pd(wBase, _mm256_mul_pd(wSlope, pFrac));

        __m128i ia, ib;
        const __m256d fa = splitPositions4<Offset>(_mm256_sub_pd(_mm256_sub_pd(wv, d), one), base, ia);
        const __m256d fb = splitPositions4<Offset>(_mm256_sub_pd(_mm256_sub_pd(wv, dB), one), base, ib);
        __m256d xa, dxa, xb, dxb;
        load4(slots, _mm_and_si128(ia, mask), xa, dxa);
        load4(slots, _mm_and_si128(ib, mask), xb, dxb);
        const __m256d a = _mm256_add_pd(xa, _mm256_mul_pd(dxa, fa));
        const __m256d b = _mm256_add_pd(xb, _mm256_mul_pd(dxb, fb));
        const __m128 y = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(a, weight), _mm256_mul_pd(_mm256_sub_pd(one, weight), b)));
        if (stride == 1) {
            _mm_storeu_ps(out, y);
        } else {
            alignas(16) float lanes[4];
            _mm_store_ps(lanes, y);
            out[0] = lanes[0];
            out[stride] = lanes[1];
            out[2 * size_t(stride)] = lanes[2];
            out[3 * size_t(stride)] = lanes[3];
        }
        out += 4 * size_t(stride);
        wv = _mm256_add_pd(wv, _mm256_set1_pd(4.0));
    }
    readChunk<PowerOfTwo, Offset>(k, ring, w + i, delays + i, count - i, out, stride);
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

template <bool PowerOfTwo, bool Offset>
void readChunk(const LoopConstants &k, const Slot *ring, uint32_t w, const double *delays, uint32_t count,
               float *&out, uint32_t stride)
{
    double wd = double(w);
    for (uint32_t i = 0; i < count; ++i) {
        const double d = delays[i];
        const double weight = windowWeight<PowerOfTwo>(k, d);
        const double a = tap(ring, k.mask, wd - d - 1.0);
        const double b = tap(ring, k.mask, wd - secondHead(k, d) - 1.0);
        *out = float(a * weight + (1.0 - weight) * b);
        out += stride;
        wd += 1.0;
    }
}

#endif

template <bool PowerOfTwo, bool Steady>
void run(tv_engine *e, const LoopConstants &k, Channel &ch, const float *input, uint32_t inStride, float *output,
         uint32_t outStride, uint32_t frames)
{
    Slot *const ring = ch.ring;
    const uint32_t mask = k.mask;
    // Writing more than N - 2 samples ahead of the reads would overwrite slots they need.
    const uint32_t chunkLimit = e->length - 2;
    uint32_t w = ch.writeIndex;
    double d = ch.delay;
    double s = ch.smoothed;
    float previous = float(ring[(w - 1) & mask].x);
    while (frames > 0) {
        // A piece never crosses the wrap of w at 2^32 (its double value is counted up)
        // nor w = capacity (from there on positions are never below 0).
        uint32_t piece = std::min(frames, kPiece);
        const uint32_t untilWrap = 0u - w;
        if (untilWrap != 0)
            piece = std::min(piece, untilWrap);
        const bool offset = w >= k.capacity;
        if (!offset)
            piece = std::min(piece, k.capacity - w);

        DelayCache &cache = e->cache;
        if (cache.matches(d, s, k.target, piece)) {
            d = cache.delayAfter;
            s = cache.smoothedAfter;
        } else {
            cache = {true, d, s, k.target, piece, 0.0, 0.0};
            computeDelays<Steady>(k, e->delays, piece, d, s);
            cache.delayAfter = d;
            cache.smoothedAfter = s;
        }

        for (uint32_t done = 0; done < piece;) {
            const uint32_t count = std::min(piece - done, chunkLimit);
            writeChunk(ring, mask, w, input, inStride, count, previous);
            const double *delays = e->delays + done;
#if defined(TV_ENGINE_SSE2)
            if (e->avx2) {
                if (offset)
                    readChunkAvx2<PowerOfTwo, true>(k, ring, w, delays, count, output, outStride);
                else
                    readChunkAvx2<PowerOfTwo, false>(k, ring, w, delays, count, output, outStride);
            } else
#endif
            if (offset)
                readChunk<PowerOfTwo, true>(k, ring, w, delays, count, output, outStride);
            else
                readChunk<PowerOfTwo, false>(k, ring, w, delays, count, output, outStride);
            w += count;
            done += count;
        }
        frames -= piece;
    }
    ch.writeIndex = w;
    ch.delay = d;
    ch.smoothed = s;
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
        // An infinite rate would freeze the factor smoothing; it counts as invalid too.
        e->sampleRate = sample_rate > 0.0 && std::isfinite(sample_rate) ? sample_rate : 48000.0;
        e->smoothing = 1.0 - std::exp(-1.0 / (e->sampleRate * 0.04));
        buildWindow(e->window, fade_fraction);
        e->avx2 = cpuHasAvx2();
        e->delays = new (std::nothrow) double[kPiece];
        if (!e->delays) {
            delete e;
            return nullptr;
        }
        for (Channel &c : e->channels) {
            c.ring = new (std::nothrow) Slot[e->capacity]();
            if (!c.ring) {
                freeBuffers(e);
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
    freeBuffers(engine);
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

extern "C" void tv_engine_jump_factor(tv_engine *engine, double factor)
{
    if (!engine)
        return;
    tv_engine_set_factor(engine, factor);
    engine->jumps.fetch_add(1, std::memory_order_release);
}

extern "C" void tv_engine_process_channel(tv_engine *engine, uint32_t channel,
                                          const float *input, uint32_t input_stride,
                                          float *output, uint32_t output_stride, uint32_t frames)
{
    if (!engine || !input || !output || channel >= kChannels || frames == 0)
        return;
    Channel &ch = engine->channels[channel];
    // A jump is taken over before the target is read: it is at least the jump's target.
    if (const uint32_t jumps = engine->jumps.load(std::memory_order_acquire); jumps != ch.jumpsSeen) {
        ch.jumpsSeen = jumps;
        ch.smoothed = engine->target.load(std::memory_order_relaxed);
    }
    const uint32_t n = engine->length;
    LoopConstants k{engine->window, engine->mask, engine->capacity, double(n), n * 0.5,
                    double(kTableSize) / n, engine->target.load(std::memory_order_relaxed),
                    engine->smoothing};
    const bool steady = ch.smoothed + (k.target - ch.smoothed) * k.smoothing == ch.smoothed;
    const bool powerOfTwo = (n & (n - 1)) == 0;
    if (powerOfTwo) {
        if (steady)
            run<true, true>(engine, k, ch, input, input_stride, output, output_stride, frames);
        else
            run<true, false>(engine, k, ch, input, input_stride, output, output_stride, frames);
    } else {
        if (steady)
            run<false, true>(engine, k, ch, input, input_stride, output, output_stride, frames);
        else
            run<false, false>(engine, k, ch, input, input_stride, output, output_stride, frames);
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

extern "C" int tv_engine_test_use_avx2(tv_engine *engine, int enable)
{
    if (!engine)
        return 0;
    engine->avx2 = enable && cpuHasAvx2();
    return engine->avx2;
}
