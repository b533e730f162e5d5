// SPDX-License-Identifier: GPL-3.0-or-later
#include "../src/resampler.h"

#include <gtest/gtest.h>

#include "AllocationCounter.h"

#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 48000.0;

// Resamples a sine of `hz` at `step`, in uneven chunks; returns the mono output.
std::vector<float> resampleSine(double hz, double step, size_t frames = 48000)
{
    tv::Resampler r(1, 1200);
    r.setStep(step);
    std::vector<float> in(frames), out(static_cast<size_t>(frames / step) + 8);
    for (size_t i = 0; i < frames; ++i)
        in[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * hz * static_cast<double>(i) / kRate));
    std::vector<float> piece(r.maxOutput());
    size_t produced = 0;
    for (size_t off = 0, chunk = 1; off < frames; off += chunk, chunk = chunk % 997 + 113) {
        const float *src = in.data() + off;
        float *dst = piece.data();
        const auto n = r.process(&src, static_cast<uint32_t>(std::min(chunk, frames - off)), &dst);
        std::copy_n(piece.begin(), n, out.begin() + static_cast<long>(produced));
        produced += n;
    }
    out.resize(produced);
    return out;
}

// Level in dB (re amplitude 0.5) of what is left in v[from, to) beside a sine of `hz`.
double residualDb(const std::vector<float> &v, size_t from, size_t to, double hz)
{
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0, xx = 0;
    for (size_t i = from; i < to; ++i) {
        const double c = std::cos(2 * M_PI * hz * i / kRate), s = std::sin(2 * M_PI * hz * i / kRate);
        cc += c * c, ss += s * s, cs += c * s, xc += v[i] * c, xs += v[i] * s, xx += double(v[i]) * v[i];
    }
    const double det = cc * ss - cs * cs, a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    const double rest = xx - a * xc - b * xs;
    return 10.0 * std::log10(std::max(rest / static_cast<double>(to - from), 1e-30) / 0.125);
}

TEST(Resampler, sines_keep_their_level_and_move_by_the_step_with_little_else)
{
    struct Case { double hz, step; };
    for (const Case c : {Case{1000, 0.25}, Case{440, 432.0 / 440.0}, Case{5000, 1.0}, Case{440, 1.02},
                         Case{10000, 1.6}, Case{1000, 4.0}}) {
        const std::vector<float> out = resampleSine(c.hz, c.step);
        ASSERT_GT(out.size(), 3000u);
        const size_t from = 1000, to = out.size() - 1000;
        EXPECT_LT(residualDb(out, from, to, c.hz * c.step), -85.0) << c.hz << " Hz at " << c.step;
        EXPECT_NEAR(static_cast<double>(out.size()), 48000.0 / c.step, 34.0 + 32.0 / c.step) << c.step;
    }
}

TEST(Resampler, content_above_the_output_band_is_removed)
{
    for (const double step : {1.5, 4.0}) {
        const std::vector<float> out = resampleSine(20000.0, step);
        double energy = 0.0;
        for (size_t i = 200; i < out.size() - 200; ++i)
            energy += double(out[i]) * out[i];
        EXPECT_LT(10.0 * std::log10(energy / (out.size() - 400) / 0.125 + 1e-30), -90.0) << step;
    }
}

TEST(Resampler, a_gliding_step_allocates_nothing)
{
    tv::Resampler r(2, 512);
    std::vector<float> in(512, 0.25f), out(r.maxOutput());
    const float *ins[] = {in.data(), in.data()};
    float *outs[] = {out.data(), out.data()};
    CountAllocations counter;
    for (double step = 0.25; step < 4.0; step *= 1.1) {
        r.setStep(step);
        r.process(ins, 512, outs);
    }
    r.reset();
    EXPECT_EQ(counter.count(), 0);
}

} // namespace
