// SPDX-License-Identifier: GPL-3.0-or-later
#include "../src/tv_dsp_internal.h"

#include "../../TonvelCore/tests/ToneSignals.h"

#include <tv_handles.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <numeric>
#include <tuple>
#include <utility>
#include <vector>

namespace {

tv::EnginePtr make(uint32_t delay, double rate, double fade = 0.5)
{
    return tv::EnginePtr(tv_engine_create_custom(delay, rate, fade));
}

// The engine written down plainly, one step per line, with the library floor. The
// optimised engine must reproduce its output bit for bit.
struct Reference {
    uint32_t n, mask;
    double coefficient, target = 1.0;
    float table[4097];
    struct Channel {
        std::vector<float> ring;
        uint32_t w = 0;
        double d = 0.0, s = 1.0;
    } ch[8];

    Reference(uint32_t delay, double rate, double fade) : n(std::clamp(delay, 64u, 65536u))
    {
        mask = std::bit_ceil(2 * n) - 1;
        coefficient = 1.0 - std::exp(-1.0 / ((rate > 0 ? rate : 48000.0) * 0.04));
        const double f = std::isnan(fade) ? 0.5 : std::min(std::max(fade, 0.05), 0.5);
        const double a = 0.25 - f / 2, b = 0.75 - f / 2;
        for (int i = 0; i <= 4096; ++i) {
            const double x = i / 4096.0;
            table[i] = float(x < a ? 0 : x < a + f ? (1 - std::cos(std::numbers::pi * (x - a) / f)) / 2
                             : x < b ? 1 : x < b + f ? (1 + std::cos(std::numbers::pi * (x - b) / f)) / 2 : 0);
        }
        for (auto &c : ch)
            c.ring.assign(mask + 1, 0.f);
    }
    double tap(const Channel &c, double r) const
    {
        const double j = std::floor(r);
        const float x0 = c.ring[uint64_t(int64_t(j)) & mask], x1 = c.ring[uint64_t(int64_t(j) + 1) & mask];
        return x0 + (x1 - x0) * (r - j);
    }
    void process(uint32_t channel, const float *in, uint32_t inStride, float *out, uint32_t outStride, uint32_t frames)
    {
        Channel &c = ch[channel];
        for (uint32_t k = 0; k < frames; ++k, ++c.w) {
            c.ring[c.w & mask] = in[size_t(k) * inStride];
            double dB = c.d + n / 2.0;
            if (dB >= n)
                dB = dB - n;
            const double p = c.d / n * 4096;
            const uint32_t i = uint32_t(p);
            const double weight = i < 4096 ? table[i] + (table[i + 1] - table[i]) * (p - i) : table[4096];
            c.s = c.s + (target - c.s) * coefficient;
            const double a = tap(c, double(c.w) - c.d - 1), b = tap(c, double(c.w) - dB - 1);
            out[size_t(k) * outStride] = float(a * weight + (1 - weight) * b);
            c.d = c.d + (1 - c.s);
            if (c.d >= n)
                c.d = c.d - n;
            else if (c.d < 0)
                c.d = c.d + n;
        }
    }
};

std::vector<float> noise(size_t count, uint32_t seed)
{
    return tonesignals::whiteNoise(double(count), 1.0, 1.0, seed);
}

size_t firstDifference(const std::vector<float> &a, const std::vector<float> &b)
{
    return size_t(std::mismatch(a.begin(), a.end(), b.begin(), [](float x, float y) {
                      return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y);
                  }).first - a.begin());
}

// Engine and reference side by side over interleaved noise; block sizes and factors
// cycle through the given lists, one factor per block.
struct Scenario {
    uint32_t delay = 2048;
    double rate = 48000.0, fade = 0.5;
    std::vector<double> factors{432.0 / 440.0};
    std::vector<uint32_t> blocks{512};
    uint32_t channels = 2, startIndex = 0;
    size_t frames = 48000;
};

void expectBitExact(const Scenario &sc)
{
    for (int fourLanes : {0, 1}) { // both loops, where the processor has the wide one
        auto engine = make(sc.delay, sc.rate, sc.fade);
        if (tv_engine_test_use_avx2(engine.get(), fourLanes) != fourLanes)
            continue;
        Reference ref(sc.delay, sc.rate, sc.fade);
        tv_engine_set_factor(engine.get(), ref.target = sc.factors[0]);
        tv_engine_reset(engine.get());
        tv_engine_test_set_write_index(engine.get(), sc.startIndex);
        for (auto &c : ref.ch)
            c = {c.ring, sc.startIndex, 0.0, ref.target};
        const auto in = noise(sc.frames * sc.channels, sc.delay);
        std::vector<float> out(in.size()), expect(in.size());
        for (size_t pos = 0, block = 0; pos < sc.frames; ++block) {
            const auto frames = uint32_t(std::min<size_t>(sc.blocks[block % sc.blocks.size()], sc.frames - pos));
            tv_engine_set_factor(engine.get(), ref.target = sc.factors[block % sc.factors.size()]);
            for (size_t c = 0, at = pos * sc.channels; c < sc.channels; ++c, ++at) {
                tv_engine_process_channel(engine.get(), uint32_t(c), &in[at], sc.channels, &out[at], sc.channels, frames);
                ref.process(uint32_t(c), &in[at], sc.channels, &expect[at], sc.channels, frames);
            }
            pos += frames;
        }
        EXPECT_EQ(firstDifference(out, expect), out.size()) << (fourLanes ? "four lanes" : "two lanes");
    }
}

} // namespace

TEST(TvEngine, matches_plain_formulation_bit_for_bit)
{
    expectBitExact({});
    expectBitExact({.factors = {1.0}, .frames = 8000});
    expectBitExact({.factors = {0.25}, .blocks = {333}, .frames = 20000});
    expectBitExact({.factors = {4.0}, .blocks = {1, 2, 3, 4095}, .frames = 20000});
    // Gliding: a new factor every block, so the smoothing never settles.
    expectBitExact({.factors = {0.98, 1.02, 1.5, 0.7}, .blocks = {512, 17, 1024}});
    expectBitExact({.factors = {1.0, 1.0, 1.0, 0.5}, .blocks = {128}, .channels = 3});
    // Window length not a power of two, short and long windows, other fades and rates.
    expectBitExact({.delay = 3000, .factors = {1.06, 0.9}, .blocks = {441}});
    expectBitExact({.delay = 10, .rate = 44100, .fade = 0.01, .factors = {0.8}, .blocks = {64, 7}, .channels = 8,
                    .frames = 5000});
    expectBitExact({.delay = 100000, .rate = -1, .fade = 0.9, .factors = {3.0}, .frames = 150000});
    expectBitExact({.delay = 500, .rate = NAN, .fade = NAN, .factors = {0.9}, .frames = 5000}); // as 48 kHz, 0.5
    expectBitExact({.fade = 0.2, .factors = {0.95, 1.0}, .blocks = {4096}, .channels = 1});
}

// Read positions computed in 32 bits would jump by 2^32 here and read the wrong slots.
TEST(TvEngine, matches_plain_formulation_across_write_index_wrap)
{
    expectBitExact({.blocks = {500}, .startIndex = UINT32_MAX - 9000, .frames = 20000});
    expectBitExact({.delay = 3001, .factors = {1.3, 0.6}, .blocks = {511}, .startIndex = UINT32_MAX - 777,
                    .frames = 12000});
}

// A ramp as input with only head B audible (narrow fade, delay near 0) makes the output
// reveal the delay, which grows by 1 - smoothed factor per sample.
TEST(TvEngine, factor_change_glides_with_40ms_time_constant)
{
    auto engine = make(256, 48000, 0.05);
    tv_engine_set_factor(engine.get(), 1.0);
    tv_engine_reset(engine.get());
    tv_engine_set_factor(engine.get(), 0.98);
    std::vector<float> in(2400), out(2400);
    std::iota(in.begin(), in.end(), 0.f);
    for (size_t pos = 0; pos < in.size(); pos += 480)
        tv_engine_process_channel(engine.get(), 0, &in[pos], 1, &out[pos], 1, 480);
    auto delay = [&](size_t i) { return double(i) - 129.0 - out[i]; };
    auto progress = [&](size_t i) { return (delay(i + 20) - delay(i - 20)) / 40 / 0.02; };
    EXPECT_NEAR(progress(1920), 1 - std::exp(-1.0), 0.01);
    EXPECT_LT(progress(200), 0.15);
}

TEST(TvEngine, a_jump_takes_the_new_factor_at_once_on_every_channel)
{
    auto engine = make(256, 48000, 0.05);
    tv_engine_set_factor(engine.get(), 1.0);
    tv_engine_reset(engine.get());
    std::vector<float> in(1440), out[2] = {std::vector<float>(1440), std::vector<float>(1440)};
    std::iota(in.begin(), in.end(), 0.f);
    for (size_t pos = 0; pos < in.size(); pos += 480) {
        if (pos == 480)
            tv_engine_jump_factor(engine.get(), 0.98);
        for (uint32_t c = 0; c < 2; ++c)
            tv_engine_process_channel(engine.get(), c, &in[pos], 1, &out[c][pos], 1, 480);
    }
    for (const auto &o : out) {
        auto delay = [&](size_t i) { return double(i) - 129.0 - o[i]; };
        EXPECT_NEAR((delay(520) - delay(480)) / 40 / 0.02, 1.0, 0.01); // the whole drift at once
    }
}

TEST(TvEngine, invalid_factors_and_rates_fall_back_and_clamp)
{
    const std::pair<double, double> cases[] = {{NAN, 1.0}, {INFINITY, 1.0}, {0.0, 1.0}, {-1.0, 1.0}, {10.0, 4.0},
                                               {0.1, 0.25}};
    const auto in = noise(3000, 3);
    for (auto [given, stored] : cases) {
        auto engine = make(256, 48000);
        Reference ref(256, 48000, 0.5);
        tv_engine_set_factor(engine.get(), given);
        tv_engine_reset(engine.get());
        ref.target = ref.ch[0].s = stored;
        std::vector<float> out(in.size()), expect(in.size());
        tv_engine_process_channel(engine.get(), 0, in.data(), 1, out.data(), 1, 3000);
        ref.process(0, in.data(), 1, expect.data(), 1, 3000);
        EXPECT_EQ(firstDifference(out, expect), out.size()) << "factor " << given;
    }
    for (auto [delay, rate, seconds] : {std::tuple{2048u, 48000.0, 1024.0 / 48000}, {10u, 44100.0, 32.0 / 44100},
                                        {100000u, 0.0, 32768.0 / 48000}, {3000u, -5.0, 1500.0 / 48000},
                                        {3000u, double(INFINITY), 1500.0 / 48000}})
        EXPECT_DOUBLE_EQ(tv_engine_latency_seconds(make(delay, rate).get()), seconds) << delay << " " << rate;
}

TEST(TvEngine, invalid_channel_or_pointers_change_nothing_and_reset_forgets_audio)
{
    auto engine = make(256, 48000);
    const auto in = noise(1000, 5);
    std::vector<float> out(1000, 42.f), first(1000), again(1000);
    tv_engine_process_channel(engine.get(), 8, in.data(), 1, out.data(), 1, 1000);
    tv_engine_process_channel(engine.get(), 0, nullptr, 1, out.data(), 1, 1000);
    tv_engine_process_channel(engine.get(), 0, in.data(), 1, nullptr, 1, 1000);
    tv_engine_process_channel(nullptr, 0, in.data(), 1, out.data(), 1, 1000);
    EXPECT_EQ(std::count(out.begin(), out.end(), 42.f), 1000);
    tv_engine_set_factor(nullptr, 2.0);
    tv_engine_reset(nullptr);
    tv_engine_note_underrun(nullptr);
    EXPECT_EQ(tv_engine_underruns(nullptr) + tv_engine_latency_seconds(nullptr), 0.0);
    tv_engine_destroy(nullptr);

    tv_engine_set_factor(engine.get(), 1.25);
    tv_engine_note_underrun(engine.get());
    tv_engine_reset(engine.get());
    tv_engine_process_channel(engine.get(), 3, in.data(), 1, first.data(), 1, 1000); // untouched before
    tv_engine_process_channel(engine.get(), 3, in.data(), 1, again.data(), 1, 1000);
    tv_engine_reset(engine.get());
    tv_engine_process_channel(engine.get(), 3, in.data(), 1, again.data(), 1, 1000);
    EXPECT_EQ(firstDifference(first, again), first.size());
    EXPECT_EQ(tv_engine_underruns(engine.get()), 1u);
}
