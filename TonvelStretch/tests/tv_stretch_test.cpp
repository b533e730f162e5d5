// SPDX-License-Identifier: GPL-3.0-or-later
#include "tonvel_stretch.h"

#include <gtest/gtest.h>
#include <tv_handles.h>

#include "../../TonvelCore/tests/ToneSignals.h"
#include "AllocationCounter.h"
#include "SignalMeasures.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {

constexpr double kRate = 48000.0;
constexpr double kBalancedMs = 120.0;
constexpr double kHighQualityMs = 240.0;

using Stretch = tv::StretchPtr;
using namespace signalmeasures;
using tonesignals::sine;

Stretch make(double blockMs, uint32_t channels = 1, uint32_t maxFrames = 4096, double rate = kRate)
{
    return Stretch(tv_stretch_create_custom(channels, maxFrames, rate, blockMs, 30.0));
}

// Runs a mono signal through the engine in blocks of `block` frames.
std::vector<float> run(tv_stretch *s, const std::vector<float> &in, uint32_t block, uint32_t stride = 1)
{
    std::vector<float> out(in.size(), 0.0f);
    for (size_t off = 0; off < in.size(); off += block) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(block, in.size() - off));
        tv_stretch_set_channel(s, 0, in.data() + off, stride, out.data() + off, stride);
        tv_stretch_process(s, n);
    }
    return out;
}

// Single-sample clicks 4801 frames apart from `first` on: a click stays a click at any pitch
// (shifted noise hardly correlates with the original).
std::vector<float> clicks(size_t frames, size_t first)
{
    std::vector<float> v(frames, 0.0f);
    for (size_t i = first; i < frames; i += 4801)
        v[i] = 1.0f;
    return v;
}

TEST(StretchCreate, rejects_bad_channels_frames_and_rates_and_a_null_handle_is_ignored)
{
    for (auto [channels, frames, rate] : {std::tuple{9u, 512u, kRate}, {0u, 512u, kRate}, {2u, 0u, kRate},
                                          {2u, 512u, 0.0}, {2u, 512u, -44100.0}, {2u, 512u, double(NAN)}})
        EXPECT_EQ(tv_stretch_create_custom(channels, frames, rate, 120, 30), nullptr) << channels << frames << rate;
    float x = 1.0f;
    tv_stretch_destroy(nullptr);
    tv_stretch_reset(nullptr);
    tv_stretch_set_factor(nullptr, 0.5);
    tv_stretch_set_channel(nullptr, 0, &x, 1, &x, 1);
    tv_stretch_process(nullptr, 1);
    EXPECT_EQ(tv_stretch_latency_seconds(nullptr), 0.0);
    EXPECT_EQ(tv_stretch_latency_frames(nullptr), 0u);
    EXPECT_EQ(x, 1.0f);
}

TEST(StretchFactor, invalid_factors_store_one_and_extremes_are_limited)
{
    Stretch s = make(kBalancedMs);
    ASSERT_TRUE(s);
    for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 0.0, -1.0}) {
        tv_stretch_set_factor(s.get(), 0.9);
        tv_stretch_set_factor(s.get(), bad);
        EXPECT_EQ(tv_stretch_target_factor(s.get()), 1.0) << bad;
    }
    for (auto [given, stored] : {std::pair{10.0, 4.0}, std::pair{0.1, 0.25}}) {
        tv_stretch_set_factor(s.get(), given);
        EXPECT_EQ(tv_stretch_target_factor(s.get()), stored);
    }
}

// A new factor is reached by a glide with a 50 ms time constant: after 2400 frames about 63 %
// of the way is done, whatever the blocks; a block longer than max_frames glides as far as the
// same frames in small blocks and writes exactly its frames.
TEST(StretchFactor, glide_covers_63_percent_in_its_time_constant_whatever_the_blocks)
{
    Stretch small = make(kBalancedMs, 2, 4096);
    Stretch large = make(kBalancedMs, 2, 4096);
    ASSERT_TRUE(small && large);
    std::vector<float> in(2 * 10000, 0.25f), out(2 * 10000 + 64, 7.0f);
    for (tv_stretch *s : {small.get(), large.get()}) {
        tv_stretch_set_factor(s, 0.98);
        for (uint32_t c = 0; c < 2; ++c)
            tv_stretch_set_channel(s, c, in.data() + c, 2, out.data() + c, 2);
    }
    for (int call = 0; call < 5; ++call)
        tv_stretch_process(small.get(), 480);
    EXPECT_NEAR((1.0 - tv_stretch_applied_factor(small.get())) / 0.02, 1.0 - std::exp(-1.0), 0.005);
    for (int call = 0; call < 19; ++call) // 10000 frames in all
        tv_stretch_process(small.get(), 400);
    tv_stretch_process(large.get(), 10000);
    EXPECT_NEAR(tv_stretch_applied_factor(large.get()), tv_stretch_applied_factor(small.get()), 1e-9);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 20000, [](float v) { return v != 7.0f; }));
    EXPECT_TRUE(std::all_of(out.begin() + 20000, out.end(), [](float v) { return v == 7.0f; }));
    tv_stretch_reset(small.get()); // a reset jumps to the target
    EXPECT_EQ(tv_stretch_applied_factor(small.get()), 0.98);
}

TEST(StretchBinding, unbound_channel_makes_process_a_no_op_and_stride_zero_is_one)
{
    Stretch s = make(kBalancedMs, 2);
    ASSERT_TRUE(s);
    tv_stretch_set_factor(s.get(), 0.9);
    std::vector<float> in(512, 0.5f), out(512, 3.0f);
    tv_stretch_set_channel(s.get(), 0, in.data(), 1, out.data(), 1); // channel 1 never bound
    tv_stretch_process(s.get(), 512);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 3.0f; }));
    EXPECT_EQ(tv_stretch_applied_factor(s.get()), 1.0);
    // Binding past the channel count is ignored.
    tv_stretch_set_channel(s.get(), 2, in.data(), 1, out.data(), 1);
    tv_stretch_process(s.get(), 512);
    EXPECT_EQ(out[0], 3.0f);
    // Stride zero counts as one.
    Stretch a = make(kBalancedMs), b = make(kBalancedMs);
    const std::vector<float> tone = sine(440.0, 0.25, kRate);
    EXPECT_EQ(run(a.get(), tone, 512, 0), run(b.get(), tone, 512));
}

// Fixed latency: whatever the block sizes, the output is the same stream, sample for sample.
// (The library's rounding differs slightly with the amounts it is given; a shift of one
// frame would differ by up to 0.028 on this sine.)
TEST(StretchLatency, output_stays_aligned_whatever_the_block_partition)
{
    Stretch a = make(kBalancedMs, 1, 4096);
    Stretch b = make(kBalancedMs, 1, 4096);
    ASSERT_TRUE(a && b);
    for (tv_stretch *s : {a.get(), b.get()}) {
        tv_stretch_set_factor(s, 432.0 / 440.0);
        tv_stretch_reset(s);
    }
    const std::vector<float> in = sine(440.0, 1.0, kRate);
    const std::vector<float> steady = run(a.get(), in, 512);
    std::vector<float> varied(in.size());
    std::mt19937 rng(3);
    std::uniform_int_distribution<uint32_t> size(1, 6000);
    for (size_t off = 0; off < in.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(size(rng), in.size() - off));
        tv_stretch_set_channel(b.get(), 0, in.data() + off, 1, varied.data() + off, 1);
        tv_stretch_process(b.get(), n);
        off += n;
    }
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_LT(std::fabs(steady[i] - varied[i]), 0.01f) << "at frame " << i;
}

// The reported latency is exact at 1.0; below 1.0 the library's analysis window reaches
// further back (0.4 ms balanced, 0.8 ms high quality at 432/440).
TEST(StretchLatency, cross_correlation_agrees_with_reported_latency)
{
    // The search spans less than one click spacing.
    const std::vector<float> in = clicks(3 * 48000, 1000);
    for (auto [blockMs, factor, tolerance] : {std::tuple{kBalancedMs, 1.0, 16},
                                              {kBalancedMs, 432.0 / 440.0, 32},
                                              {kHighQualityMs, 1.0, 16},
                                              {kHighQualityMs, 432.0 / 440.0, 48}}) {
        Stretch s = make(blockMs, 1, 4096);
        ASSERT_TRUE(s);
        tv_stretch_set_factor(s.get(), factor);
        tv_stretch_reset(s.get());
        const std::vector<float> out = run(s.get(), in, 512);
        const int reported = static_cast<int>(tv_stretch_latency_frames(s.get()));
        EXPECT_NEAR(tv_stretch_latency_seconds(s.get()) * kRate, reported, 1e-6);
        EXPECT_NEAR(crossCorrelationLag(in, out, reported + 2000, reported - 2000), reported, tolerance)
            << blockMs << " " << factor;
        EXPECT_EQ(tv_stretch_underflow_frames(s.get()), 0u);
    }
}

// Any factor of the range, entered by a reset and left by a glide back to 1.0: nothing is
// allocated or written past the block, no frame is padded, and at 1.0 the output is exactly
// as late as reported again (the library's delay depends on the factor; a reset away from
// 1.0 once left it early by up to 4000 frames, or silent for good).
TEST(StretchReset, any_factor_from_a_reset_returns_to_the_reported_latency)
{
    constexpr uint32_t channels = 6;
    Stretch s = make(kBalancedMs, channels, 1024);
    ASSERT_TRUE(s);
    // Every channel carries the same signal; blocks alternate 700 and 1500 (above max_frames) frames.
    const auto runAll = [&](const std::vector<float> &mono, std::vector<float> &in, std::vector<float> &out) {
        for (size_t i = 0; i < channels * mono.size(); ++i)
            in[i] = mono[i / channels];
        for (size_t off = 0, n = 0; off < mono.size(); off += n) {
            n = std::min<size_t>(off % 2 ? 700 : 1500, mono.size() - off);
            for (uint32_t c = 0; c < channels; ++c)
                tv_stretch_set_channel(s.get(), c, &in[channels * off + c], channels,
                                       &out[channels * off + c], channels);
            tv_stretch_process(s.get(), static_cast<uint32_t>(n));
        }
    };
    const std::vector<float> tone = sine(440.0, 1.0, kRate);
    const std::vector<float> clicks = ::clicks(2 * 48000, 500);
    std::vector<float> in(channels * clicks.size()), out(channels * clicks.size() + 16, 9.0f);
    const int reported = static_cast<int>(tv_stretch_latency_frames(s.get()));
    for (double f : {4.0, 2.0, 0.25, 0.7}) {
        tv_stretch_set_factor(s.get(), f);
        {
            CountAllocations counter;
            tv_stretch_reset(s.get());
            runAll(tone, in, out);
            EXPECT_EQ(counter.count(), 0) << f;
        }
        tv_stretch_set_factor(s.get(), 1.0);
        runAll(clicks, in, out);
        EXPECT_TRUE(std::all_of(out.end() - 16, out.end(), [](float v) { return v == 9.0f; })) << f;
        EXPECT_TRUE(std::all_of(out.begin(), out.end() - 16, [](float v) { return std::isfinite(v); })) << f;
        // The last second, channel 5.
        const std::vector<float> a(clicks.begin() + 48000, clicks.end());
        std::vector<float> b(48000);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = out[channels * (48000 + i) + channels - 1];
        EXPECT_NEAR(crossCorrelationLag(a, b, reported + 2000, reported - 2000), reported, 16) << f;
    }
    EXPECT_EQ(tv_stretch_underflow_frames(s.get()), 0u);
}

// Hand-over: an engine prepared off the audio thread is claimed without a reset there; only
// a claim of a released, unprepared engine resets on the audio thread (the counted fallback).
TEST(StretchHandOver, prepared_engines_are_claimed_without_a_reset_on_the_audio_thread)
{
    Stretch s = make(kBalancedMs);
    ASSERT_TRUE(s);
    const std::vector<float> tone = sine(440.0, 0.2, kRate);
    EXPECT_EQ(tv_stretch_prepare(s.get()), 1); // fresh: ready, nothing to do
    EXPECT_EQ(tv_stretch_claim(s.get()), 1);
    run(s.get(), tone, 512);
    EXPECT_EQ(tv_stretch_prepare(s.get()), 1); // in use: left alone
    EXPECT_NE(run(s.get(), tone, 512), std::vector<float>(tone.size(), 0.0f));
    tv_stretch_release(s.get());
    EXPECT_EQ(tv_stretch_prepare(s.get()), 1);
    tv_stretch_set_factor(s.get(), 0.9);
    EXPECT_EQ(tv_stretch_claim(s.get()), 1);
    EXPECT_EQ(tv_stretch_applied_factor(s.get()), 0.9); // jumps: nothing played at the old one
    // Prepared means reset: nothing of the tone before, silent for the latency. (That the
    // sound then fades in without a click is the render chain's switch test.)
    const std::vector<float> out = run(s.get(), tone, 512);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + tv_stretch_latency_frames(s.get()) - 512,
                            [](float v) { return v == 0.0f; }));
    EXPECT_EQ(tv_stretch_claim_resets(s.get()), 0u);
    tv_stretch_release(s.get());
    EXPECT_EQ(tv_stretch_claim(s.get()), 1); // nobody prepared it: reset here
    EXPECT_EQ(tv_stretch_claim_resets(s.get()), 1u);
    EXPECT_EQ(tv_stretch_claim(nullptr) + tv_stretch_prepare(nullptr), 0);
}

// The control thread prepares while the audio thread claims, processes and releases: the two
// never touch the engine at once (TSan), and the audio thread never waits.
TEST(StretchHandOver, prepare_may_run_beside_the_audio_thread)
{
    Stretch s = make(kBalancedMs);
    ASSERT_TRUE(s);
    std::atomic<bool> done{false};
    std::thread control([&] {
        while (!done.load())
            tv_stretch_prepare(s.get());
    });
    std::vector<float> in(256, 0.25f), out(256);
    int processed = 0;
    for (int block = 0; block < 400; ++block) {
        if (tv_stretch_claim(s.get())) {
            tv_stretch_set_channel(s.get(), 0, in.data(), 1, out.data(), 1);
            tv_stretch_process(s.get(), 256);
            ++processed;
        }
        if (block % 8 == 7)
            tv_stretch_release(s.get());
    }
    done = true;
    control.join();
    EXPECT_GT(processed, 0);
}

#if defined(__x86_64__)
// XGETBV 1 reports which register states are in use; bit 2 is the upper halves of ymm0-15.
bool upperHalvesInUse()
{
    unsigned lo = 0, hi = 0;
    asm volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(1));
    return (lo & 4) != 0;
}

// Plain asm: a function built for AVX would get a vzeroupper from the compiler on return.
void dirtyUpperHalves()
{
    asm volatile("vpcmpeqd %%ymm8, %%ymm8, %%ymm8" ::: "xmm8");
}

// A thread that ran AVX code without vzeroupper (Qt's string hash does) makes SSE code, the
// library included, run several times slower; every entry into the library cleans up first.
TEST(StretchVectorState, create_reset_and_process_start_from_clean_upper_halves)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid_count(0xd, 1, &a, &b, &c, &d) || (a & 4) == 0 || !__builtin_cpu_supports("avx"))
        GTEST_SKIP() << "no AVX or no XGETBV 1 on this CPU";
    dirtyUpperHalves();
    ASSERT_TRUE(upperHalvesInUse());
    Stretch s = make(kBalancedMs);
    EXPECT_FALSE(upperHalvesInUse()) << "create";
    dirtyUpperHalves();
    tv_stretch_reset(s.get());
    EXPECT_FALSE(upperHalvesInUse()) << "reset";
    dirtyUpperHalves();
    run(s.get(), sine(440.0, 0.1, kRate), 4096);
    EXPECT_FALSE(upperHalvesInUse()) << "process";
}
#endif

} // namespace
