// SPDX-License-Identifier: GPL-3.0-or-later
#include "tonvel_dsp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using SwitchPtr = std::unique_ptr<tv_switch, decltype(&tv_switch_destroy)>;
SwitchPtr make(double rate) { return SwitchPtr(tv_switch_create(rate), &tv_switch_destroy); }

struct Block {
    uint32_t active;
    uint32_t switched;
    std::vector<float> left, right; // all-ones input after the fade
};

// One render-chain block: begin, fade both channels of an interleaved stereo buffer of
// ones (commit with the last), as the render chain does.
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

// Slot 0 to slot 2 at 48 kHz in 512-frame blocks: 1 -> 0.573 -> 0.147 -> 0 (silent from
// frame 1200), then slot 2 is activated once and rises to 1 over the next 1200 frames.
TEST(TvSwitch, change_walks_through_silence_fade_out_then_fade_in)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    std::vector<Block> blocks;
    for (int i = 0; i < 7; ++i)
        blocks.push_back(runBlock(sw.get()));

    const uint32_t active[] = {0, 0, 0, 2, 2, 2, 2};
    std::vector<float> gain; // the ramp as seen on the left channel, frame by frame
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(blocks[i].active, active[i]) << "block " << i;
        EXPECT_EQ(blocks[i].switched, i == 3 ? 1u : 0u) << "block " << i;
        EXPECT_EQ(blocks[i].left, blocks[i].right) << "both channels carry the same ramp";
        gain.insert(gain.end(), blocks[i].left.begin(), blocks[i].left.end());
    }
    EXPECT_FLOAT_EQ(gain[0], 1.f - 1.f / 1200); // the first faded frame already carries one step
    EXPECT_NEAR(gain[511], 1 - 512.0 / 1200, 1e-6);
    EXPECT_NEAR(gain[1023], 1 - 1024.0 / 1200, 1e-6);
    for (size_t k = 1201; k < 3 * 512; ++k)
        ASSERT_EQ(gain[k], 0.f) << k;
    EXPECT_FLOAT_EQ(gain[3 * 512], 1.f / 1200); // fade-in starts from silence
    EXPECT_NEAR(gain[3 * 512 + 599], 0.5, 1e-6);
    for (size_t k = 3 * 512 + 1200; k < gain.size(); ++k)
        ASSERT_EQ(gain[k], 1.f) << k;
}

TEST(TvSwitch, changing_back_during_fade_out_fades_the_same_slot_in_again)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    const Block out = runBlock(sw.get());
    tv_switch_select(sw.get(), 0);
    const Block back = runBlock(sw.get());
    EXPECT_EQ(back.active, 0u);
    EXPECT_EQ(back.switched, 0u);
    EXPECT_FLOAT_EQ(back.left[0], out.left[511] + 1.f / 1200); // rises from where it stood
    EXPECT_EQ(back.left[511], 1.f);
    for (int i = 0; i < 5; ++i) {
        const Block b = runBlock(sw.get());
        EXPECT_EQ(b.active, 0u);
        EXPECT_EQ(b.switched, 0u);
        EXPECT_EQ(b.left, std::vector<float>(512, 1.f));
    }
}

// A change requested during a fade-out does not replace the pending slot: slot 2 comes
// first, then fades out again and slot 1 follows.
TEST(TvSwitch, change_during_fade_out_activates_pending_slot_first)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    runBlock(sw.get());
    tv_switch_select(sw.get(), 1);
    std::vector<uint32_t> activations;
    std::vector<uint32_t> active;
    for (int i = 0; i < 12; ++i) {
        const Block b = runBlock(sw.get());
        active.push_back(b.active);
        if (b.switched)
            activations.push_back(b.active);
    }
    EXPECT_EQ(activations, (std::vector<uint32_t>{2, 1}));
    EXPECT_EQ(active[2], 2u); // slot 2 active on the third block after the request
    EXPECT_EQ(active.back(), 1u);
}

TEST(TvSwitch, steady_state_leaves_samples_bit_identical)
{
    auto sw = make(44100);
    std::vector<float> samples{0.1f, -3.5e-39f, 1e30f, -0.f, 0.33333334f, std::bit_cast<float>(0x7fc00001u)};
    const auto before = samples;
    uint32_t switched = 9;
    EXPECT_EQ(tv_switch_begin_block(sw.get(), 6, &switched), 0u);
    EXPECT_EQ(switched, 0u);
    tv_switch_apply_fade(sw.get(), samples.data(), 1, 6, 1);
    EXPECT_EQ(std::memcmp(samples.data(), before.data(), sizeof(float) * samples.size()), 0);
}

TEST(TvSwitch, slot_is_clamped_and_ramp_follows_the_sample_rate)
{
    auto sw = make(0); // falls back to the 48 kHz step, 1/1200
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

    auto slow = make(44100);
    tv_switch_select(slow.get(), 1);
    EXPECT_FLOAT_EQ(runBlock(slow.get()).left[0], float(1 - 1 / 1102.5));
}

TEST(TvSwitch, frame_count_sums_all_begun_blocks_and_zero_frames_still_transition)
{
    auto sw = make(48000);
    tv_switch_select(sw.get(), 1);
    uint64_t sum = 0;
    for (uint32_t frames : {512u, 1u, 4096u}) {
        runBlock(sw.get(), frames);
        sum += frames;
    }
    EXPECT_EQ(tv_switch_frames(sw.get()), sum); // gain is now 0
    uint32_t switched = 0;
    EXPECT_EQ(tv_switch_begin_block(sw.get(), 0, &switched), 1u);
    EXPECT_EQ(switched, 1u);
    EXPECT_EQ(tv_switch_frames(sw.get()), sum);
    EXPECT_EQ(tv_switch_begin_block(sw.get(), 10, nullptr), 1u);
    EXPECT_EQ(tv_switch_frames(sw.get()), sum + 10);
}

TEST(TvSwitch, null_handle_and_samples_do_nothing)
{
    uint32_t switched = 5;
    EXPECT_EQ(tv_switch_begin_block(nullptr, 512, &switched), 0u);
    EXPECT_EQ(switched, 0u);
    float x = 0.5f;
    tv_switch_apply_fade(nullptr, &x, 1, 1, 1);
    tv_switch_select(nullptr, 1);
    EXPECT_EQ(tv_switch_frames(nullptr), 0u);
    tv_switch_destroy(nullptr);

    auto sw = make(48000);
    tv_switch_select(sw.get(), 2);
    tv_switch_begin_block(sw.get(), 1, nullptr);
    tv_switch_apply_fade(sw.get(), nullptr, 1, 1, 1);
    tv_switch_apply_fade(sw.get(), &x, 1, 1, 1);
    EXPECT_FLOAT_EQ(x, 0.5f * (1.f - 1.f / 1200));
}

// The control thread selects and polls the frame count while the audio thread runs
// blocks (checked for data races in the thread-sanitizer build).
TEST(TvSwitch, select_and_frames_may_run_beside_the_audio_thread)
{
    auto sw = make(48000);
    std::atomic<bool> stop{false};
    std::thread control([&] {
        uint64_t last = 0;
        for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            tv_switch_select(sw.get(), i % 3);
            const uint64_t now = tv_switch_frames(sw.get());
            EXPECT_GE(now, last);
            last = now;
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 2000; ++i)
        runBlock(sw.get(), 64);
    stop = true;
    control.join();
    EXPECT_EQ(tv_switch_frames(sw.get()), 2000u * 64);
}
