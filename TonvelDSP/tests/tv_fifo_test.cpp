// SPDX-License-Identifier: GPL-3.0-or-later
#include "../src/tv_dsp_internal.h"

#include <tv_handles.h>
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <numeric>
#include <thread>
#include <vector>

namespace {

tv::FifoPtr make(uint32_t size) { return tv::FifoPtr(tv_fifo_create(size)); }

std::vector<float> ramp(size_t n, float first = 0.f)
{
    std::vector<float> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<float> read(tv_fifo *fifo, uint32_t max)
{
    std::vector<float> out(max);
    out.resize(tv_fifo_read(fifo, out.data(), max));
    return out;
}

} // namespace

TEST(TvFifo, capacity_is_power_of_two_from_1024_sizes_above_2_pow_31_are_refused_and_null_is_ignored)
{
    EXPECT_EQ(tv_fifo_capacity(make(10).get()), 1024u);
    EXPECT_EQ(tv_fifo_capacity(make(1025).get()), 2048u);
    EXPECT_EQ(tv_fifo_capacity(make(65536).get()), 65536u);
    EXPECT_EQ(tv_fifo_create((1u << 31) + 1), nullptr);
    EXPECT_EQ(tv_fifo_create(UINT32_MAX), nullptr);

    // Null arguments change nothing.
    auto fifo = make(16);
    float x = 1.f;
    tv_fifo_write(nullptr, &x, 1, 1);
    tv_fifo_write(fifo.get(), nullptr, 1, 1);
    tv_fifo_write(fifo.get(), &x, 1, 1);
    EXPECT_EQ(tv_fifo_read(nullptr, &x, 1) + tv_fifo_read(fifo.get(), nullptr, 1) + tv_fifo_read(fifo.get(), &x, 0), 0u);
    EXPECT_EQ(tv_fifo_read(fifo.get(), &x, 5), 1u);
    EXPECT_EQ(tv_fifo_capacity(nullptr), 0u);
    tv_fifo_destroy(nullptr);
}

TEST(TvFifo, writes_strided_keeps_newest_on_overflow_and_reads_in_order)
{
    auto fifo = make(1024);
    const auto input = ramp(3000);
    tv_fifo_write(fifo.get(), input.data(), 2, 100); // elements 0, 2, ... 198
    auto got = read(fifo.get(), 4096);
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got[99], 198.f);

    tv_fifo_write(fifo.get(), input.data(), 1, 3000); // only the last 1024 fit
    EXPECT_EQ(read(fifo.get(), 4096), ramp(1024, 3000 - 1024));

    tv_fifo_write(fifo.get(), input.data(), 1, 1000); // lapped reader: oldest kept is 476
    tv_fifo_write(fifo.get(), input.data() + 1000, 0, 500); // stride 0 counts as 1
    EXPECT_EQ(read(fifo.get(), 10), ramp(10, 476));
    EXPECT_EQ(read(fifo.get(), 4096), ramp(1014, 486));
    EXPECT_TRUE(read(fifo.get(), 4096).empty());
}

TEST(TvFifo, indices_wrap_past_2_pow_32_without_visible_effect)
{
    auto fifo = make(1024);
    tv_fifo_test_set_index(fifo.get(), UINT32_MAX - 699); // blocks straddle ring end and 2^32
    float next = 0, expect = 0;
    for (uint32_t round = 0; round < 8; ++round, next += 300) {
        tv_fifo_write(fifo.get(), ramp(300, next).data(), 1, 300);
        for (float v : read(fifo.get(), 200 + 50 * round))
            ASSERT_EQ(v, expect++);
    }
    for (float v : read(fifo.get(), 4096))
        ASSERT_EQ(v, expect++);
    EXPECT_EQ(expect, next);

    tv_fifo_test_set_index(fifo.get(), UINT32_MAX - 99); // overrun across the wrap
    tv_fifo_write(fifo.get(), ramp(1500).data(), 1, 1500);
    EXPECT_EQ(read(fifo.get(), 4096), ramp(1024, 476));
}

// Sequence numbers (as bit patterns) through a small ring, writer and reader racing:
// every read is a run of consecutive numbers starting at or after the previous run's
// end, so a read overlapping an overwrite never returns the mix. Validating reads only
// against the published write index fails this within seconds. Runs under TSan too.
TEST(TvFifo, concurrent_writer_and_reader_only_ever_see_consecutive_runs)
{
    auto fifo = make(1024);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<float> block(2 * 700);
        for (uint32_t seq = 0, size = 1; !stop.load(std::memory_order_relaxed); seq += size) {
            size = size * 37 % 699 + 1; // scattered 1 ... 699
            for (uint32_t k = 0; k < size; ++k)
                block[2 * k] = std::bit_cast<float>(seq + k);
            tv_fifo_write(fifo.get(), block.data(), 2, size);
            if (size % 5 == 0)
                std::this_thread::yield();
        }
    });
    std::vector<float> buffer(1024);
    uint64_t reads = 0, faults = 0;
    uint32_t end = 0, max = 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (faults == 0 && std::chrono::steady_clock::now() < deadline) {
        max = max * 13 % 1023 + 1;
        const uint32_t n = tv_fifo_read(fifo.get(), buffer.data(), max & 1 ? 1024 : max); // often all: oldest contended
        if (n == 0)
            continue;
        const uint32_t start = std::bit_cast<uint32_t>(buffer[0]);
        for (uint32_t k = 1; k < n; ++k)
            faults += std::bit_cast<uint32_t>(buffer[k]) != start + k;
        faults += reads > 0 && start - end >= (1u << 31); // starts before the previous end
        end = start + n;
        ++reads;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(faults, 0u) << "after " << reads << " reads";
    EXPECT_GT(reads, 0u);
}
