// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/RenderChain.h"

#include <tv_handles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 512;
// Delay frames 64: at factor 1 after a reset the delay line outputs its input 33 frames late.
constexpr uint32_t kDelayFrames = 64;
constexpr uint32_t kDelay = kDelayFrames / 2 + 1;

// The DSP objects of one chain, with a short delay line so that delays stay countable.
struct Chain {
    Chain(uint32_t channels, bool withStretch = false)
        : balancedPtr(withStretch ? tv_stretch_create_custom(channels, 4096, kRate, 120, 30) : nullptr),
          highQualityPtr(withStretch ? tv_stretch_create_custom(channels, 4096, kRate, 240, 30) : nullptr)
    {
        tv_engine_reset(engine);
        context = {fifo, switcher, engine, balanced, highQuality, channels};
    }

    std::vector<float> drainFifo()
    {
        std::vector<float> all, part(4096);
        while (uint32_t n = tv_fifo_read(fifo, part.data(), 4096))
            all.insert(all.end(), part.begin(), part.begin() + n);
        return all;
    }

    tv::FifoPtr fifoPtr{tv_fifo_create(65536)};
    tv::SwitchPtr switcherPtr{tv_switch_create(kRate)};
    tv::EnginePtr enginePtr{tv_engine_create(kDelayFrames, kRate)};
    tv::StretchPtr balancedPtr, highQualityPtr;
    tv_fifo *fifo = fifoPtr.get();
    tv_switch *switcher = switcherPtr.get();
    tv_engine *engine = enginePtr.get();
    tv_stretch *balanced = balancedPtr.get();
    tv_stretch *highQuality = highQualityPtr.get();
    RenderContext context;
};

// Heap memory of exactly the described size, so a sanitizer sees every overrun.
struct Buffers {
    // One buffer per entry of `channelsPerBuffer`, each `frames` frames long.
    Buffers(std::vector<uint32_t> channelsPerBuffer, uint32_t frames, float fill = 0.0f)
    {
        for (uint32_t ch : channelsPerBuffer)
            add(ch, frames, fill);
    }
    void add(uint32_t channels, uint32_t frames, float fill = 0.0f)
    {
        memory.push_back(std::make_unique<float[]>(static_cast<size_t>(channels) * frames));
        std::fill_n(memory.back().get(), static_cast<size_t>(channels) * frames, fill);
        AudioBuffer &b = list.mBuffers[list.mNumberBuffers++];
        b.mNumberChannels = channels;
        b.mDataByteSize = channels * frames * sizeof(float);
        b.mData = channels > 0 ? memory.back().get() : nullptr;
    }
    float *data(uint32_t buffer) { return list.mBuffers[buffer].mData; }
    float &at(uint32_t buffer, uint32_t frame, uint32_t channel = 0)
    {
        return list.mBuffers[buffer].mData[frame * list.mBuffers[buffer].mNumberChannels + channel];
    }

    AudioBufferList list;
    std::vector<std::unique_ptr<float[]>> memory;
};

// A ramp that differs per channel: channel c, frame f -> c * 1000 + f + 1 (never 0).
float ramp(uint32_t channel, uint32_t frame)
{
    return static_cast<float>(channel * 1000 + (frame % 997) + 1) * 1e-4f;
}

bool allAre(const float *data, uint32_t count, float value)
{
    return std::all_of(data, data + count, [value](float v) { return v == value; });
}

void fillRamp(Buffers &b, uint32_t buffer, uint32_t firstChannel, uint32_t frames)
{
    const uint32_t n = b.list.mBuffers[buffer].mNumberChannels;
    for (uint32_t f = 0; f < frames; ++f)
        for (uint32_t c = 0; c < n; ++c)
            b.at(buffer, f, c) = ramp(firstChannel + c, f);
}

TEST(RenderChainSkip, output_smaller_than_one_frame_skips_the_block)
{
    Chain chain(1);
    Buffers in({1}, kBlock, 0.5f);
    Buffers out({1}, kBlock, 0.25f);
    out.list.mBuffers[0].mDataByteSize = 3;
    renderBlock(chain.context, &in.list, &out.list);
    EXPECT_TRUE(chain.drainFifo().empty());
    EXPECT_EQ(tv_switch_frames(chain.switcher), 0u);
    EXPECT_EQ(out.at(0, 0), 0.25f);

    // Empty and absent lists, and a first output buffer without channels, skip too.
    Buffers none({}, kBlock);
    Buffers noChannels({0, 1}, kBlock);
    renderBlock(chain.context, &none.list, &out.list);
    renderBlock(chain.context, &in.list, &none.list);
    renderBlock(chain.context, &in.list, &noChannels.list);
    renderBlock(chain.context, nullptr, &out.list);
    renderBlock(chain.context, &in.list, nullptr);
    EXPECT_EQ(tv_switch_frames(chain.switcher), 0u);
}

// Planar and interleaved both ways, and outputs wider than the processed channels: each
// processed channel arrives delayed on its own channel, every other one is exactly 0 in every
// block (the device's buffers hold stale samples).
TEST(RenderChainLayout, channels_stay_apart_in_every_layout_and_extra_outputs_are_silent)
{
    const struct {
        std::vector<uint32_t> in, out;
    } layouts[] = {{{1, 1}, {2}}, {{2}, {1, 1}}, {{2}, {8}}, {{1, 1}, {1, 1, 1, 1, 1, 1, 1, 1}}, {{2}, {2, 3}}};
    for (const auto &l : layouts) {
        Chain chain(2);
        Buffers in(l.in, kBlock);
        for (uint32_t b = 0, first = 0; b < l.in.size(); first += l.in[b++])
            fillRamp(in, b, first, kBlock);
        Buffers out(l.out, kBlock);
        for (int block = 0; block < 2; ++block) {
            for (uint32_t b = 0; b < l.out.size(); ++b)
                std::fill_n(out.data(b), l.out[b] * kBlock, 9.0f);
            renderBlock(chain.context, &in.list, &out.list);
            for (uint32_t b = 0, c = 0; b < l.out.size(); ++b)
                for (uint32_t bc = 0; bc < l.out[b]; ++bc, ++c)
                    for (uint32_t f = 0; f < kBlock; ++f) {
                        const float expected = c >= 2 ? 0.0f : block > 0 ? out.at(b, f, bc)
                                             : f >= kDelay ? ramp(c, f - kDelay) : 0.0f;
                        ASSERT_EQ(out.at(b, f, bc), expected) << l.out.size() << " buffers, channel " << c << " frame " << f;
                    }
        }
        EXPECT_EQ(tv_switch_frames(chain.switcher), 2 * kBlock);
        EXPECT_EQ(tv_engine_underruns(chain.engine), 0u);
    }
}

// The left channel of the first input buffer with channels; of a short one, what it holds.
TEST(RenderChainAnalysis, fifo_gets_left_channel_of_first_input_buffer_with_channels)
{
    Chain chain(2);
    Buffers in({0, 2}, kBlock);
    fillRamp(in, 1, 0, kBlock);
    Buffers out({2}, kBlock);
    renderBlock(chain.context, &in.list, &out.list);
    std::vector<float> expected(kBlock);
    for (uint32_t f = 0; f < kBlock; ++f)
        expected[f] = ramp(0, f);
    EXPECT_EQ(chain.drainFifo(), expected);

    Buffers shortIn({1}, 100);
    renderBlock(chain.context, &shortIn.list, &out.list);
    EXPECT_EQ(chain.drainFifo().size(), 100u);
}

// On the delay line, one underrun per missing channel and block; the present channel still
// plays, an output whose input is missing is silenced.
TEST(RenderChainMissing, delay_line_counts_each_missing_channel_and_silences_its_output)
{
    Chain chain(2);
    Buffers in({2}, kBlock);
    fillRamp(in, 0, 0, kBlock);
    Buffers monoOut({1}, kBlock);
    for (int block = 1; block <= 2; ++block) {
        renderBlock(chain.context, &in.list, &monoOut.list);
        EXPECT_EQ(tv_engine_underruns(chain.engine), static_cast<uint64_t>(block));
    }
    EXPECT_EQ(monoOut.at(0, kDelay), ramp(0, 0));

    Buffers monoIn({1}, kBlock, 0.5f);
    Buffers out({1, 1}, kBlock, 0.75f);
    renderBlock(chain.context, &monoIn.list, &out.list);
    EXPECT_EQ(tv_engine_underruns(chain.engine), 3u);
    EXPECT_EQ(out.at(0, kBlock - 1), 0.5f);
    EXPECT_TRUE(allAre(out.data(1), kBlock, 0.0f));
}

// Switches to slot 2 and renders until the balanced stretch is active. Returns the blocks used.
int switchToBalanced(Chain &chain, Buffers &in, Buffers &out)
{
    tv_switch_select(chain.switcher, 2);
    for (int block = 1; block <= 20; ++block) {
        renderBlock(chain.context, &in.list, &out.list);
        // The stretch engine outputs exact silence for its latency after its reset.
        const AudioBuffer &b = out.list.mBuffers[0];
        if (allAre(b.mData, b.mDataByteSize / sizeof(float), 0.0f))
            return block;
    }
    return -1;
}

TEST(RenderChainMissing, stretch_with_input_missing_channel_1_counts_one_underrun_per_block)
{
    Chain chain(2, true);
    Buffers stereoIn({2}, kBlock, 0.5f);
    Buffers out({1, 1}, kBlock);
    ASSERT_GT(switchToBalanced(chain, stereoIn, out), 0);
    const uint64_t before = tv_engine_underruns(chain.engine);
    const double appliedBefore = tv_stretch_applied_factor(chain.balanced);

    tv_stretch_set_factor(chain.balanced, 0.9);
    Buffers monoIn({1}, kBlock, 0.5f);
    Buffers garbageOut({1, 1}, kBlock, 0.75f);
    for (int block = 1; block <= 3; ++block) {
        renderBlock(chain.context, &monoIn.list, &garbageOut.list);
        EXPECT_EQ(tv_engine_underruns(chain.engine), before + block);
    }
    // The stretch did not run (its glide did not move), and the device's stale samples were
    // not played: both output channels are silent.
    EXPECT_EQ(tv_stretch_applied_factor(chain.balanced), appliedBefore);
    EXPECT_TRUE(allAre(garbageOut.data(0), kBlock, 0.0f) && allAre(garbageOut.data(1), kBlock, 0.0f));
}

// The new engine, prepared before, starts at its target factor (no glide) without a reset on
// the audio thread; the inactive one is left alone. With a mono output and two processed channels the fade must still be committed (by the only channel
// faded), or the gain saws between 1.0 and 0.57 and the slot never changes.
TEST(RenderChainSwitch, activation_hands_over_the_new_engine_and_completes_with_mono_output)
{
    Chain chain(2, true);
    tv_stretch_set_factor(chain.balanced, 0.98);
    Buffers in({2}, kBlock, 0.5f);
    Buffers out({1}, kBlock);
    const int blocks = switchToBalanced(chain, in, out);
    EXPECT_GT(blocks, 1);
    EXPECT_LE(blocks, 4); // 25 ms fade-out in 512-frame blocks, then the change
    EXPECT_EQ(tv_stretch_applied_factor(chain.balanced), 0.98);
    EXPECT_EQ(tv_stretch_applied_factor(chain.highQuality), 1.0);
    EXPECT_EQ(tv_stretch_claim_resets(chain.balanced), 0u);
}

// A switch fades the old engine out and the new one in; the new engine's first sound comes
// after its own latency, so it must start smoothly too. Sine through every slot change.
TEST(RenderChainSwitch, engine_switches_do_not_click)
{
    Chain chain(1, true);
    tv_engine_set_factor(chain.engine, 432.0 / 440.0);
    tv_stretch_set_factor(chain.balanced, 432.0 / 440.0);
    tv_stretch_set_factor(chain.highQuality, 432.0 / 440.0);
    Buffers in({1}, kBlock);
    Buffers out({1}, kBlock);
    const float steadyStep = static_cast<float>(0.5 * 2.0 * M_PI * 432.0 / kRate);
    uint64_t frame = 0;
    float previous = 0.0f;
    for (int32_t slot : {2, 0, 1, 0, 2, 1, 2}) {
        tv_switch_select(chain.switcher, slot);
        float largest = 0.0f;
        for (int block = 0; block < 40; ++block) { // about 0.4 s per engine
            for (uint32_t f = 0; f < kBlock; ++f, ++frame)
                in.at(0, f) = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * frame / kRate));
            renderBlock(chain.context, &in.list, &out.list);
            for (uint32_t f = 0; f < kBlock; ++f) {
                largest = std::max(largest, std::fabs(out.at(0, f) - previous));
                previous = out.at(0, f);
            }
        }
        EXPECT_LT(largest, 1.3f * steadyStep) << "switch to slot " << slot;
    }
}

// Buffers that hold fewer frames than the block, absurd buffer counts and null data are
// never read or written past their ends (checked by the sanitizer build).
TEST(RenderChainBounds, short_buffers_count_as_missing_and_are_never_overrun)
{
    Chain chain(2, true);
    Buffers in({1}, kBlock, 0.5f);
    in.add(1, kBlock / 2, 0.5f); // right input too short
    Buffers out({1}, kBlock, 0.1f);
    out.add(1, 10, 0.2f);         // right output too short
    out.add(1, kBlock / 4, 0.3f); // an extra channel, short: silenced as far as it goes
    renderBlock(chain.context, &in.list, &out.list);
    EXPECT_EQ(tv_engine_underruns(chain.engine), 1u); // channel 1: one count on the delay line
    EXPECT_TRUE(allAre(out.data(1), 10, 0.2f));
    EXPECT_TRUE(allAre(out.data(2), kBlock / 4, 0.0f));

    // More buffers claimed than a list can hold, and null data in the middle.
    Buffers many({1, 1}, kBlock, 0.5f);
    many.list.mNumberBuffers = 1000;
    Buffers nullOut({1, 1, 1, 1}, kBlock, 0.4f);
    nullOut.list.mBuffers[2].mData = nullptr;
    renderBlock(chain.context, &many.list, &nullOut.list);
    EXPECT_EQ(nullOut.at(3, 0), 0.4f); // silencing stops at the first missing channel
}

TEST(RenderChainBounds, locate_channel_numbers_flat_across_buffers)
{
    Buffers b({2, 0, 1, 3}, 16);
    ChannelLocation loc;
    const std::tuple<uint32_t, float *, uint32_t> expected[] = {
        {1, b.data(0) + 1, 2}, {2, b.data(2), 1}, {5, b.data(3) + 2, 3}};
    for (auto [channel, data, stride] : expected) {
        ASSERT_TRUE(locateChannel(b.list, channel, loc)) << channel;
        EXPECT_EQ(loc.data, data) << channel;
        EXPECT_EQ(loc.stride, stride) << channel;
        EXPECT_EQ(loc.frames, 16u) << channel;
    }
    EXPECT_FALSE(locateChannel(b.list, 6, loc));
    EXPECT_FALSE(locateChannel(b.list, 0xFFFFFFFFu, loc));
}

} // namespace
