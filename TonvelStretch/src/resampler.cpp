// SPDX-License-Identifier: GPL-3.0-or-later
#include "resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tv {
namespace {

constexpr uint32_t kTaps = 2 * Resampler::kHalfTaps;
constexpr uint32_t kPhases = 512;
constexpr double kStopbandDb = 95.0;
// Widest half kernel, at the largest step; also the history kept before the read position.
constexpr uint32_t kMaxHalf = Resampler::kHalfTaps * 4;
constexpr uint32_t kLanes = 4;

typedef float Vec4 __attribute__((vector_size(16)));

Vec4 load(const float *p)
{
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float *p, Vec4 v)
{
    std::memcpy(p, &v, sizeof v);
}

double besselI0(double x)
{
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Rows p = 0 ... kPhases, row p tap j = h(j - kHalfTaps + 1 - p / kPhases), each row summing
// to 1. Kaiser design: the transition band ends at the Nyquist frequency.
std::vector<float> buildTable()
{
    const double transition = (kStopbandDb - 7.95) / (14.36 * kTaps);
    const double cutoff = 0.5 - transition / 2.0; // cycles per input frame
    const double beta = 0.1102 * (kStopbandDb - 8.7);
    const double i0Beta = besselI0(beta);
    std::vector<float> table(static_cast<size_t>(kPhases + 1) * kTaps);
    std::vector<double> row(kTaps);
    for (uint32_t p = 0; p <= kPhases; ++p) {
        double sum = 0.0;
        for (uint32_t j = 0; j < kTaps; ++j) {
            const double u = static_cast<double>(j) - Resampler::kHalfTaps + 1.0 - static_cast<double>(p) / kPhases;
            const double r = u / Resampler::kHalfTaps;
            const double window = std::fabs(r) < 1.0 ? besselI0(beta * std::sqrt(1.0 - r * r)) / i0Beta : 0.0;
            const double x = 2.0 * cutoff * u;
            const double sinc = x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            row[j] = 2.0 * cutoff * sinc * window;
            sum += row[j];
        }
        for (uint32_t j = 0; j < kTaps; ++j)
            table[static_cast<size_t>(p) * kTaps + j] = static_cast<float>(row[j] / sum);
    }
    return table;
}

const float *sharedTable()
{
    static const std::vector<float> table = buildTable();
    return table.data();
}

// The kernel at u (input frames from the output position, step 1), from the table.
float kernelAt(const float *table, double u)
{
    const double v = u + Resampler::kHalfTaps - 1.0;
    const double j = std::ceil(v);
    if (j < 0.0 || j >= kTaps)
        return 0.0f;
    const double phase = (j - v) * kPhases;
    const auto p = static_cast<uint32_t>(phase);
    const auto t = static_cast<float>(phase - p);
    const float *a = table + static_cast<size_t>(p) * kTaps + static_cast<size_t>(j);
    return a[0] + t * (a[kTaps] - a[0]);
}

// Sum of taps[k] * x[k] over count (a multiple of kLanes) taps.
float dot(const float *taps, const float *x, uint32_t count)
{
    Vec4 a = {0, 0, 0, 0}, b = {0, 0, 0, 0};
    uint32_t k = 0;
    for (; k + 2 * kLanes <= count; k += 2 * kLanes) {
        a += load(taps + k) * load(x + k);
        b += load(taps + k + kLanes) * load(x + k + kLanes);
    }
    for (; k < count; k += kLanes)
        a += load(taps + k) * load(x + k);
    a += b;
    return (a[0] + a[1]) + (a[2] + a[3]);
}

} // namespace

Resampler::Resampler(uint32_t channels, uint32_t maxInput)
    : channels_(channels)
    , maxInput_(maxInput)
    // Left over from a step of 4 (up to 2 half kernels), all read at the smallest step.
    , maxOutput_(static_cast<uint32_t>((maxInput + 2 * kMaxHalf) / kMinStep) + 4)
    , capacity_(maxInput + 3 * kMaxHalf + 4)
    , table_(sharedTable())
    // kLanes of slack: a dot product may read up to kLanes - 1 frames past the valid ones.
    , history_(static_cast<size_t>(channels) * capacity_ + kLanes, 0.0f)
    , taps_(2 * kMaxHalf + 2 * kLanes, 0.0f)
{
    reset();
}

void Resampler::reset()
{
    std::fill(history_.begin(), history_.end(), 0.0f);
    available_ = kMaxHalf;
    position_ = kMaxHalf;
}

void Resampler::setStep(double step)
{
    step_ = std::clamp(step, kMinStep, kMaxStep);
}

uint32_t Resampler::process(const float *const *in, uint32_t frames, float *const *out)
{
    frames = std::min({frames, maxInput_, capacity_ - available_});
    for (uint32_t c = 0; c < channels_; ++c)
        std::memcpy(history(c) + available_, in[c], static_cast<size_t>(frames) * sizeof(float));
    available_ += frames;

    const bool narrow = step_ <= 1.0;
    const uint32_t half = narrow ? kHalfTaps : static_cast<uint32_t>(std::ceil(kHalfTaps * step_));
    const uint32_t count = narrow ? kTaps : (2 * half + kLanes - 1) / kLanes * kLanes;
    float *taps = taps_.data();
    uint32_t produced = 0;
    while (produced < maxOutput_) {
        const auto base = static_cast<uint32_t>(position_);
        if (base + half >= available_)
            break;
        const double frac = position_ - base;
        if (narrow) {
            const double phase = frac * kPhases;
            const auto p = static_cast<uint32_t>(phase);
            const float t = static_cast<float>(phase - p);
            const float *r0 = table_ + static_cast<size_t>(p) * kTaps;
            for (uint32_t j = 0; j < kTaps; j += kLanes) {
                const Vec4 a = load(r0 + j);
                store(taps + j, a + t * (load(r0 + kTaps + j) - a));
            }
        } else {
            // Kernel widened by the step: its cutoff follows the output's Nyquist frequency.
            const double scale = 1.0 / step_;
            double sum = 0.0;
            for (uint32_t j = 0; j < 2 * half; ++j) {
                taps[j] = kernelAt(table_, (static_cast<double>(j) - half + 1.0 - frac) * scale);
                sum += taps[j];
            }
            const auto norm = static_cast<float>(sum != 0.0 ? 1.0 / sum : 0.0);
            for (uint32_t j = 0; j < 2 * half; ++j)
                taps[j] *= norm;
            for (uint32_t j = 2 * half; j < count; ++j)
                taps[j] = 0.0f;
        }
        for (uint32_t c = 0; c < channels_; ++c)
            out[c][produced] = dot(taps, history(c) + base - half + 1, count);
        ++produced;
        position_ += step_;
    }

    // Keep kMaxHalf frames before the read position, enough for any later step.
    const auto base = static_cast<uint32_t>(position_);
    if (base > kMaxHalf) {
        const uint32_t drop = std::min(base - kMaxHalf, available_);
        for (uint32_t c = 0; c < channels_; ++c)
            std::memmove(history(c), history(c) + drop, static_cast<size_t>(available_ - drop) * sizeof(float));
        available_ -= drop;
        position_ -= drop;
    }
    return produced;
}

} // namespace tv
