// SPDX-License-Identifier: GPL-3.0-or-later
// New DSP objects take over from old ones without a gap: the old ones play while the new ones
// fill their latency, then the two are cross-faded, and nothing is allocated meanwhile.
#include "render/RenderCrossfade.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "../../TonvelStretch/tests/AllocationCounter.h"

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;

struct HandOver {
    std::vector<float> out;
    bool doneAfterFade = false;
    long allocations = 0;
};

// Plays `seconds` of a 440 Hz sine: `warm` seconds through the old objects alone, then through
// the hand-over to new ones of the same engine kind (blocks of `block`, mono).
HandOver handOver(EngineKind kind, double warm, double seconds, uint32_t block = kBlock, uint32_t maxFrames = kBlock)
{
    const std::shared_ptr<ChainDsp> oldDsp = ChainDsp::create(1, kRate, 4096, 1.0, kind, false);
    const std::shared_ptr<ChainDsp> newDsp = ChainDsp::create(1, kRate, 4096, 1.0, kind, false);
    EXPECT_TRUE(oldDsp && newDsp);
    const auto fade = RenderCrossfade::create(oldDsp, *newDsp, kind, maxFrames);
    std::vector<float> in(block);
    HandOver r;
    r.out.resize(static_cast<size_t>(seconds * kRate) / block * block);
    CountAllocations counter;
    for (size_t at = 0; at < r.out.size(); at += block) {
        for (uint32_t k = 0; k < block; ++k)
            in[k] = static_cast<float>(0.5 * std::sin(2 * M_PI * 440.0 * static_cast<double>(at + k) / kRate));
        const float *inChannels[] = {in.data()};
        float *outChannels[] = {r.out.data() + at};
        const ConstAudioBlock input{inChannels, 1, block};
        const AudioBlock output{outChannels, 1, block};
        if (at < warm * kRate)
            renderBlock(oldDsp->context(), input, output);
        else
            fade->render(newDsp->context(), input, output);
    }
    r.allocations = counter.count();
    r.doneAfterFade = fade->done();
    return r;
}

// The quietest 5 ms of the output from `from` on, against the sine's amplitude.
double quietest(const std::vector<float> &out, size_t from)
{
    double lowest = 1.0;
    for (size_t i = from; i + 240 <= out.size(); i += 240)
        lowest = std::min(lowest, static_cast<double>(*std::max_element(out.begin() + i, out.begin() + i + 240)) / 0.5);
    return lowest;
}

// At factor 1 both delay lines give the input delayed by the same amount: the hand-over is
// seamless to the sample (a gap or a doubled level would show at once).
TEST(RenderCrossfade, delay_line_hand_over_is_seamless_and_allocates_nothing)
{
    const HandOver r = handOver(EngineKind::lowLatency, 0.1, 0.3);
    const size_t delay = EngineTable::delayFrames / 2 + 1;
    double worst = 0.0;
    for (size_t i = delay; i < r.out.size(); ++i)
        worst = std::max(worst, std::fabs(r.out[i] - 0.5 * std::sin(2 * M_PI * 440.0 * double(i - delay) / kRate)));
    EXPECT_LT(worst, 1e-3);
    EXPECT_TRUE(r.doneAfterFade);
    EXPECT_EQ(r.allocations, 0);
}

// A new stretch engine is silent for about 57 ms: the old one covers that, no 5 ms is quiet.
TEST(RenderCrossfade, stretch_hand_over_leaves_no_gap)
{
    const HandOver r = handOver(EngineKind::balanced, 0.3, 0.8);
    EXPECT_GT(quietest(r.out, static_cast<size_t>(0.15 * kRate)), 0.95);
    EXPECT_TRUE(r.doneAfterFade);
}

// A block larger than the scratch memory ends the cross-fade: the new objects play alone.
TEST(RenderCrossfade, block_beyond_the_scratch_ends_the_fade_at_once)
{
    const HandOver r = handOver(EngineKind::lowLatency, 0.0, 0.1, 1024, 32);
    EXPECT_TRUE(r.doneAfterFade);
    EXPECT_TRUE(std::all_of(r.out.begin(), r.out.begin() + 1024, [](float v) { return v == 0.0f; }));
}

} // namespace
