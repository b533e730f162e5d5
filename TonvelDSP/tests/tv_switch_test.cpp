// SPDX-License-Identifier: GPL-3.0-or-later
#include "tonvel_dsp.h"

#include <tv_handles.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace {

tv::SwitchPtr make(double rate) { return tv::SwitchPtr(tv_switch_create(rate)); }

struct Block {
    uint32_t active = 0, switched = 0;
    std::vector<float> left, right; // a block of ones after the fade
};

// One render-chain block: begin, then the same ramp on both channels of an interleaved
// stereo buffer, committing with the last.
Block runBlock(tv_switch *sw, uint32_t frames = 512)
{
    Block b;
    b.active = tv_switch_begin_block(sw, frames, &b.switched);
    std::vector<float> stereo(2 * frames, 1.f);
    tv_switch_apply_fade(sw, stereo.data(), 2, frames, 0);
    tv_switch_apply_fade(sw, stereo.data() + 1, 2, frames, 1);
    for (uint32_t k = 0; k < frames; ++k) {
        b.left.push_back(stereo[2 * k]);
        b.right.push_back(stereo[2 * k + 1]);
    }
    return b;
}

} // namespace

// 0 -> 2 at 48 kHz in 512-frame blocks: gain 1 -> 0.573 -> 0.147 -> 0 (silent from frame
// 1200), slot 2 activated once, then rising to 1 over 1200 frames.
TEST(TvSwitch, change_walks_through_silence_fade_out_then_fade_in)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    std::vector<float> gain;
    for (int i = 0; i < 7; ++i) {
        const Block b = runBlock(sw.get());
        EXPECT_EQ(b.active, i < 3 ? 0u : 2u) << i;
        EXPECT_EQ(b.switched, i == 3 ? 1u : 0u) << i;
        EXPECT_EQ(b.left, b.right) << "both channels carry the same ramp";
        gain.insert(gain.end(), b.left.begin(), b.left.end());
    }
    EXPECT_FLOAT_EQ(gain[0], 1.f - 1.f / 1200); // the first faded frame carries one step
    EXPECT_NEAR(gain[511], 1 - 512.0 / 1200, 1e-6);
    EXPECT_NEAR(gain[1023], 1 - 1024.0 / 1200, 1e-6);
    EXPECT_EQ(std::count(gain.begin() + 1201, gain.begin() + 1536, 0.f), 1536 - 1201);
    EXPECT_FLOAT_EQ(gain[1536], 1.f / 1200);
    EXPECT_NEAR(gain[1536 + 599], 0.5, 1e-6);
    EXPECT_EQ(std::count(gain.begin() + 1536 + 1200, gain.end(), 1.f), gain.end() - gain.begin() - 1536 - 1200);
}

// Changed back during the fade-out, the same slot fades in again from where it stood; changed
// to a third slot, the pending one comes first, then fades out again and the third follows.
TEST(TvSwitch, changes_during_a_fade_out)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    const Block out = runBlock(sw.get());
    tv_switch_select(sw.get(), 0);
    const Block back = runBlock(sw.get());
    EXPECT_FLOAT_EQ(back.left[0], out.left[511] + 1.f / 1200);
    EXPECT_EQ(back.left[511], 1.f);
    for (int i = 0; i < 5; ++i) {
        const Block b = runBlock(sw.get());
        EXPECT_EQ(b.active + b.switched, 0u);
        EXPECT_EQ(b.left, std::vector<float>(512, 1.f));
    }

    tv_switch_select(sw.get(), 2);
    runBlock(sw.get());
    tv_switch_select(sw.get(), 1);
    std::vector<uint32_t> activated;
    for (int i = 0; i < 12; ++i)
        if (const Block b = runBlock(sw.get()); b.switched)
            activated.push_back(b.active);
    EXPECT_EQ(activated, (std::vector<uint32_t>{2, 1}));
}

TEST(TvSwitch, steady_state_is_bit_identical_slots_and_rates_are_clamped_and_start_is_immediate)
{
    auto sw = make(0); // falls back to the 48 kHz step, 1/1200
    std::vector<float> samples{0.1f, -3.5e-39f, 1e30f, -0.f, std::bit_cast<float>(0x7fc00001u)};
    const auto before = samples;
    tv_switch_begin_block(sw.get(), 5, nullptr);
    tv_switch_apply_fade(sw.get(), samples.data(), 1, 5, 1);
    EXPECT_EQ(std::memcmp(samples.data(), before.data(), sizeof(float) * samples.size()), 0);

    tv_switch_select(sw.get(), 7);
    Block b = runBlock(sw.get());
    EXPECT_FLOAT_EQ(b.left[0], 1.f - 1.f / 1200);
    while (!b.switched)
        b = runBlock(sw.get());
    EXPECT_EQ(b.active, 2u);
    tv_switch_select(sw.get(), -3);
    do
        b = runBlock(sw.get());
    while (!b.switched);
    EXPECT_EQ(b.active, 0u);
    for (auto [rate, step] : {std::pair{44100.0, 1 / 1102.5}, std::pair{double(INFINITY), 1 / 1200.0}}) {
        auto other = make(rate);
        tv_switch_select(other.get(), 1);
        EXPECT_FLOAT_EQ(runBlock(other.get()).left[0], float(1 - step)) << rate;
    }
    // A chain opening on a stretch slot plays it at once: no fade, no switch to reset it on.
    auto opening = make(48000);
    tv_switch_start(opening.get(), 9);
    b = runBlock(opening.get());
    EXPECT_EQ(b.active, 2u);
    EXPECT_EQ(b.switched, 0u);
    EXPECT_EQ(b.left, std::vector<float>(512, 1.f));
}

TEST(TvSwitch, frames_sum_all_begun_blocks_and_zero_frames_still_transition)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 1);
    for (uint32_t frames : {512u, 1u, 4096u}) // gain reaches 0
        runBlock(sw.get(), frames);
    uint32_t switched = 0;
    EXPECT_EQ(tv_switch_begin_block(sw.get(), 0, &switched), 1u);
    EXPECT_EQ(switched, 1u);
    EXPECT_EQ(tv_switch_frames(sw.get()), 4609u);

    switched = 5;
    float x = 0.5f;
    EXPECT_EQ(tv_switch_begin_block(nullptr, 512, &switched) + switched + tv_switch_frames(nullptr), 0u);
    tv_switch_apply_fade(nullptr, &x, 1, 1, 1);
    tv_switch_apply_fade(sw.get(), nullptr, 1, 1, 1);
    tv_switch_select(nullptr, 1);
    tv_switch_destroy(nullptr);
    EXPECT_EQ(x, 0.5f);
}

// The control thread selects and polls the frame count while the audio thread runs
// blocks (checked for data races in the thread-sanitizer build).
TEST(TvSwitch, select_and_frames_may_run_beside_the_audio_thread)
{
    auto sw = make(48000);
    std::atomic<bool> stop{false}, started{false};
    std::thread control([&] {
        for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            tv_switch_select(sw.get(), i % 3);
            (void)tv_switch_frames(sw.get());
            started = true;
            std::this_thread::yield();
        }
    });
    while (!started)
        std::this_thread::yield();
    for (int i = 0; i < 2000; ++i)
        runBlock(sw.get(), 64);
    stop = true;
    control.join();
    EXPECT_EQ(tv_switch_frames(sw.get()), 2000u * 64);
}
