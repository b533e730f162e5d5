// SPDX-License-Identifier: GPL-3.0-or-later
// Proves that the stretch engine allocates nothing after creation: every heap allocation of
// this program is counted (malloc family and operator new are replaced; under ASan, whose
// allocator cannot be replaced, its allocation hook counts instead).
#include "tonvel_stretch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "AllocationCounter.h"

namespace {

// The counter itself must see allocations, or a zero would prove nothing.
TEST(StretchAllocation, counter_sees_heap_allocations)
{
    CountAllocations counter;
    auto *v = new std::vector<float>(1000);
    void *p = std::malloc(64);
    const long seen = counter.count();
    std::free(p);
    delete v;
    EXPECT_GE(seen, 2);
}

void runWithGlides(double blockMs, uint32_t channels)
{
    constexpr double rate = 48000.0;
    tv_stretch *s = tv_stretch_create_custom(channels, 16384, rate, blockMs, 30.0);
    ASSERT_NE(s, nullptr);
    tv_stretch_set_factor(s, 432.0 / 440.0);
    tv_stretch_reset(s);

    // Interleaved device-like buffers, sized for the largest block used below.
    std::vector<float> in(8192 * channels), out(8192 * channels);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(0.3 * std::sin(0.0576 * static_cast<double>(i / channels)));

    // Block sizes as a sound server hands them out, factors as presets, the free A4 range,
    // the automatic correction and engine switches (reset) produce them.
    const uint32_t blocks[] = {512, 1024, 256, 2048, 128, 8192, 480, 1};
    const double factors[] = {1.0, 0.98, 1.02, 432.0 / 440.0, 0.9, 1.1, 0.85, 1.15, 1.0, 0.7, 2.0};
    long allocated = 0;
    {
        CountAllocations counter;
        for (int call = 0; call < 1000; ++call) {
            if (call % 40 == 0)
                tv_stretch_set_factor(s, factors[(call / 40) % std::size(factors)]);
            if (call % 333 == 332)
                tv_stretch_reset(s);
            const uint32_t frames = blocks[call % std::size(blocks)];
            for (uint32_t c = 0; c < channels; ++c)
                tv_stretch_set_channel(s, c, in.data() + c, channels, out.data() + c, channels);
            tv_stretch_process(s, frames);
        }
        allocated = counter.count();
    }
    EXPECT_EQ(allocated, 0) << "heap allocations during 1000 process calls";
    tv_stretch_destroy(s);
}

TEST(StretchAllocation, balanced_1000_calls_with_glides_allocate_nothing)
{
    runWithGlides(120.0, 2);
}

TEST(StretchAllocation, high_quality_1000_calls_with_glides_allocate_nothing)
{
    runWithGlides(240.0, 2);
}

TEST(StretchAllocation, six_channels_allocate_nothing)
{
    runWithGlides(120.0, 6);
}

} // namespace
