// SPDX-License-Identifier: GPL-3.0-or-later
#include "render/RenderChain.h"

#include <tv_handles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
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

// Planar channels in heap memory of exactly the described size, so a sanitizer sees every overrun.
struct Channels {
    Channels(uint32_t count, uint32_t frames, float fill = 0.0f) : frames(frames)
    {
        for (uint32_t c = 0; c < count; ++c) {
            memory.push_back(std::make_unique<float[]>(frames));
            std::fill_n(memory.back().get(), frames, fill);
            pointers.push_back(memory.back().get());
        }
    }
    float *data(uint32_t channel) { return pointers[channel]; }
    float &at(uint32_t channel, uint32_t frame) { return pointers[channel][frame]; }
    AudioBlock block() { return {pointers.data(), static_cast<uint32_t>(pointers.size()), frames}; }

    uint32_t frames;
    std::vector<std::unique_ptr<float[]>> memory;
    std::vector<float *> pointers;
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

void fillRamp(Channels &b)
{
    for (uint32_t c = 0; c < b.pointers.size(); ++c)
        for (uint32_t f = 0; f < b.frames; ++f)
            b.at(c, f) = ramp(c, f);
}

TEST(RenderChainSkip, blocks_without_frames_or_channels_are_skipped)
{
    Chain chain(1);
    Channels in(1, kBlock, 0.5f);
    Channels out(1, kBlock, 0.25f);
    Channels none(0, kBlock);
    for (auto [input, output] : {std::pair{in.block(), AudioBlock{out.pointers.data(), 1, 0}},
                                 std::pair{none.block(), out.block()}, std::pair{in.block(), none.block()}})
        renderBlock(chain.context, input, output);
    EXPECT_TRUE(chain.drainFifo().empty());
    EXPECT_EQ(tv_switch_frames(chain.switcher), 0u);
    EXPECT_EQ(out.at(0, 0), 0.25f);
}

// Outputs as wide as the processed channels and wider: each processed channel arrives delayed
// on its own channel, every other one is exactly 0 in every block (the device's buffers hold
// stale samples). The analysis gets input channel 0.
TEST(RenderChainLayout, channels_stay_apart_extra_outputs_are_silent_and_the_fifo_gets_channel_0)
{
    for (uint32_t outChannels : {2u, 3u, 8u}) {
        Chain chain(2);
        Channels in(2, kBlock);
        fillRamp(in);
        Channels out(outChannels, kBlock);
        for (int block = 0; block < 2; ++block) {
            for (uint32_t c = 0; c < outChannels; ++c)
                std::fill_n(out.data(c), kBlock, 9.0f);
            renderBlock(chain.context, in.block(), out.block());
            for (uint32_t c = 0; c < outChannels; ++c)
                for (uint32_t f = 0; f < kBlock; ++f) {
                    const float expected = c >= 2 ? 0.0f : block > 0 ? out.at(c, f)
                                         : f >= kDelay ? ramp(c, f - kDelay) : 0.0f;
                    ASSERT_EQ(out.at(c, f), expected) << outChannels << " outputs, channel " << c << " frame " << f;
                }
        }
        EXPECT_EQ(tv_switch_frames(chain.switcher), 2 * kBlock);
        EXPECT_EQ(tv_engine_underruns(chain.engine), 0u);
        const std::vector<float> analysed = chain.drainFifo();
        ASSERT_EQ(analysed.size(), 2 * kBlock);
        for (uint32_t f = 0; f < 2 * kBlock; ++f)
            ASSERT_EQ(analysed[f], ramp(0, f % kBlock)) << f;
    }
}

// On the delay line, one underrun per missing channel and block; the present channel still
// plays, an output whose input is missing is silenced.
TEST(RenderChainMissing, delay_line_counts_each_missing_channel_and_silences_its_output)
{
    Chain chain(2);
    Channels in(2, kBlock);
    fillRamp(in);
    Channels monoOut(1, kBlock);
    for (int block = 1; block <= 2; ++block) {
        renderBlock(chain.context, in.block(), monoOut.block());
        EXPECT_EQ(tv_engine_underruns(chain.engine), static_cast<uint64_t>(block));
    }
    EXPECT_EQ(monoOut.at(0, kDelay), ramp(0, 0));

    Channels monoIn(1, kBlock, 0.5f);
    Channels out(2, kBlock, 0.75f);
    renderBlock(chain.context, monoIn.block(), out.block());
    EXPECT_EQ(tv_engine_underruns(chain.engine), 3u);
    EXPECT_EQ(out.at(0, kBlock - 1), 0.5f);
    EXPECT_TRUE(allAre(out.data(1), kBlock, 0.0f));
}

// Switches to slot 2 and renders until the balanced stretch is active. Returns the blocks used.
int switchToBalanced(Chain &chain, Channels &in, Channels &out)
{
    tv_switch_select(chain.switcher, 2);
    for (int block = 1; block <= 20; ++block) {
        renderBlock(chain.context, in.block(), out.block());
        // The stretch engine outputs exact silence for its latency after its reset.
        if (allAre(out.data(0), out.frames, 0.0f))
            return block;
    }
    return -1;
}

TEST(RenderChainMissing, stretch_with_input_missing_channel_1_counts_one_underrun_per_block)
{
    Chain chain(2, true);
    Channels stereoIn(2, kBlock, 0.5f);
    Channels out(2, kBlock);
    ASSERT_GT(switchToBalanced(chain, stereoIn, out), 0);
    const uint64_t before = tv_engine_underruns(chain.engine);
    const double appliedBefore = tv_stretch_applied_factor(chain.balanced);

    tv_stretch_set_factor(chain.balanced, 0.9);
    Channels monoIn(1, kBlock, 0.5f);
    Channels garbageOut(2, kBlock, 0.75f);
    for (int block = 1; block <= 3; ++block) {
        renderBlock(chain.context, monoIn.block(), garbageOut.block());
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
    Channels in(2, kBlock, 0.5f);
    Channels out(1, kBlock);
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
    Channels in(1, kBlock);
    Channels out(1, kBlock);
    const float steadyStep = static_cast<float>(0.5 * 2.0 * M_PI * 432.0 / kRate);
    uint64_t frame = 0;
    float previous = 0.0f;
    for (int32_t slot : {2, 0, 1, 0, 2, 1, 2}) {
        tv_switch_select(chain.switcher, slot);
        float largest = 0.0f;
        for (int block = 0; block < 40; ++block) { // about 0.4 s per engine
            for (uint32_t f = 0; f < kBlock; ++f, ++frame)
                in.at(0, f) = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 440.0 * frame / kRate));
            renderBlock(chain.context, in.block(), out.block());
            for (uint32_t f = 0; f < kBlock; ++f) {
                largest = std::max(largest, std::fabs(out.at(0, f) - previous));
                previous = out.at(0, f);
            }
        }
        EXPECT_LT(largest, 1.3f * steadyStep) << "switch to slot " << slot;
    }
}

// An input shorter than the block and null channels are never read or written (checked by
// the sanitizer build): a short input is missing on every channel.
TEST(RenderChainBounds, short_input_counts_as_missing_and_null_channels_are_skipped)
{
    Chain chain(2, true);
    Channels in(2, kBlock / 2, 0.5f);
    Channels out(4, kBlock, 0.4f);
    out.pointers[1] = nullptr;
    renderBlock(chain.context, in.block(), out.block());
    EXPECT_EQ(chain.drainFifo().size(), kBlock / 2); // the analysis takes what there is
    EXPECT_EQ(tv_engine_underruns(chain.engine), 2u); // one per channel on the delay line
    for (uint32_t c : {0u, 2u, 3u})
        EXPECT_TRUE(allAre(out.data(c), kBlock, 0.0f)) << c;
}

} // namespace
