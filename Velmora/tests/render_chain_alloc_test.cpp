// SPDX-License-Identifier: GPL-3.0-or-later
// The render chain runs on the audio thread: across engine switches (with their hand-over of
// engines prepared off the audio thread), factor glides and varying block sizes it must not
// allocate at all, and it never has to reset a stretch engine itself.
#include "render/ChainDsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../../TonvelStretch/tests/AllocationCounter.h"

namespace {

TEST(RenderChainAllocation, counter_sees_heap_allocations)
{
    CountAllocations counter;
    auto *v = new std::vector<float>(100);
    const long seen = counter.count();
    delete v;
    EXPECT_GE(seen, 2);
}

TEST(RenderChainAllocation, thousand_blocks_with_switches_and_glides_allocate_nothing)
{
    constexpr double rate = 48000.0;
    // The live chain's objects, sized for the largest block PipeWire hands out.
    const auto dsp =
        ChainDsp::create(2, rate, EngineTable::stretchMaxFrames(8192), 1.0, EngineKind::lowLatency, true);
    ASSERT_TRUE(dsp);
    const RenderContext &context = dsp->context();

    // Planar input, interleaved output with two extra channels, as large as the largest block.
    std::vector<float> left(8192), right(8192), out(4 * 8192);
    for (size_t i = 0; i < left.size(); ++i)
        left[i] = right[i] = static_cast<float>(0.3 * std::sin(0.0576 * static_cast<double>(i)));
    const uint32_t blocks[] = {512, 1024, 256, 2048, 480, 8192, 1};
    const double factors[] = {432.0 / 440.0, 1.0, 0.95, 1.05, 0.9, 1.1};
    const EngineKind kinds[] = {EngineKind::balanced, EngineKind::lowLatency,  EngineKind::highQuality,
                                EngineKind::balanced, EngineKind::highQuality, EngineKind::lowLatency};

    long allocated = 0;
    {
        CountAllocations counter;
        for (int call = 0; call < 1000; ++call) {
            if (call % 50 == 0)
                dsp->setFactor(factors[(call / 50) % std::size(factors)]);
            if (call % 120 == 0)
                dsp->select(kinds[(call / 120) % std::size(kinds)]);
            const uint32_t frames = blocks[call % std::size(blocks)];
            const float *in[] = {left.data(), right.data()};
            float *output[] = {out.data(), out.data() + 8192, out.data() + 2 * 8192, out.data() + 3 * 8192};
            renderBlock(context, ConstAudioBlock{in, 2, frames}, AudioBlock{output, 4, frames});
        }
        allocated = counter.count();
    }
    EXPECT_EQ(allocated, 0);
    // The switches really happened: every engine processed audio, timed as switches.
    EXPECT_GT(dsp->frames(), 1000000u);
    EXPECT_EQ(dsp->audioThreadResets(), 0u);
    const RenderTiming::Longest longest = dsp->takeRenderTiming();
    EXPECT_GT(longest.switchSeconds, 0.0);
    EXPECT_GT(longest.slotSeconds[EngineTable::spec(EngineKind::highQuality).slot], 0.0);
}

} // namespace
