// SPDX-License-Identifier: GPL-3.0-or-later
#include "../src/tv_dsp_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

namespace {

using FifoPtr = std::unique_ptr<tv_fifo, decltype(&tv_fifo_destroy)>;
FifoPtr make(uint32_t size) { return FifoPtr(tv_fifo_create(size), &tv_fifo_destroy); }

std::vector<float> ramp(size_t n, float first = 0.f)
{
    std::vector<float> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

std::vector<float> readAll(tv_fifo *fifo, uint32_t max)
{
    std::vector<float> out(max, -1.f);
    out.resize(tv_fifo_read(fifo, out.data(), max));
    return out;
}

} // namespace

TEST(TvFifo, capacity_is_power_of_two_at_least_1024)
{
    EXPECT_EQ(tv_fifo_capacity(make(0).get()), 1024u);
    EXPECT_EQ(tv_fifo_capacity(make(10).get()), 1024u);
    EXPECT_EQ(tv_fifo_capacity(make(1025).get()), 2048u);
    EXPECT_EQ(tv_fifo_capacity(make(65536).get()), 65536u);
}

TEST(TvFifo, sizes_above_2_pow_31_are_refused)
{
    EXPECT_EQ(tv_fifo_create((1u << 31) + 1), nullptr);
    EXPECT_EQ(tv_fifo_create(UINT32_MAX), nullptr);
}

TEST(TvFifo, null_handles_and_arguments_do_nothing)
{
    auto fifo = make(16);
    float sample = 1.f;
    tv_fifo_write(nullptr, &sample, 1, 1);
    tv_fifo_write(fifo.get(), nullptr, 1, 1);
    tv_fifo_write(fifo.get(), &sample, 1, 0);
    EXPECT_EQ(tv_fifo_read(fifo.get(), &sample, 1), 0u);
    tv_fifo_write(fifo.get(), &sample, 1, 1);
    EXPECT_EQ(tv_fifo_read(nullptr, &sample, 1), 0u);
    EXPECT_EQ(tv_fifo_read(fifo.get(), nullptr, 1), 0u);
    EXPECT_EQ(tv_fifo_read(fifo.get(), &sample, 0), 0u);
    EXPECT_EQ(tv_fifo_read(fifo.get(), &sample, 1), 1u); // still there
    EXPECT_EQ(tv_fifo_capacity(nullptr), 0u);
    tv_fifo_destroy(nullptr);
}

TEST(TvFifo, strided_write_takes_every_stride_th_element)
{
    auto fifo = make(1024);
    const auto interleaved = ramp(200);
    tv_fifo_write(fifo.get(), interleaved.data(), 2, 100);
    const auto got = readAll(fifo.get(), 4096);
    ASSERT_EQ(got.size(), 100u);
    for (size_t k = 0; k < got.size(); ++k)
        EXPECT_EQ(got[k], float(2 * k));

    tv_fifo_write(fifo.get(), interleaved.data(), 0, 3); // stride 0 counts as 1
    EXPECT_EQ(readAll(fifo.get(), 10), (std::vector<float>{0, 1, 2}));
}

TEST(TvFifo, overlong_write_keeps_only_the_last_capacity_samples)
{
    auto fifo = make(1024);
    const auto input = ramp(3000);
    tv_fifo_write(fifo.get(), input.data(), 1, 3000);
    const auto got = readAll(fifo.get(), 4096);
    EXPECT_EQ(got, ramp(1024, 3000 - 1024));
}

TEST(TvFifo, lapped_reader_resumes_at_oldest_sample_still_in_ring)
{
    auto fifo = make(1024);
    const auto input = ramp(1500);
    tv_fifo_write(fifo.get(), input.data(), 1, 1000);
    tv_fifo_write(fifo.get(), input.data() + 1000, 1, 500);
    const auto got = readAll(fifo.get(), 4096);
    EXPECT_EQ(got, ramp(1024, 476));
    EXPECT_TRUE(readAll(fifo.get(), 4096).empty());
}

TEST(TvFifo, partial_read_leaves_the_rest_in_order)
{
    auto fifo = make(1024);
    const auto input = ramp(25);
    tv_fifo_write(fifo.get(), input.data(), 1, 25);
    EXPECT_EQ(readAll(fifo.get(), 10), ramp(10));
    EXPECT_EQ(readAll(fifo.get(), 100), ramp(15, 10));
    EXPECT_TRUE(readAll(fifo.get(), 100).empty());
}

TEST(TvFifo, indices_wrap_past_2_pow_32_without_visible_effect)
{
    auto fifo = make(1024);
    // Start 700 samples before the wrap: blocks straddle both the ring end and 2^32.
    tv_fifo_test_set_index(fifo.get(), UINT32_MAX - 699);
    float next = 0, expect = 0;
    for (int round = 0; round < 8; ++round) {
        const auto block = ramp(300, next);
        tv_fifo_write(fifo.get(), block.data(), 1, 300);
        next += 300;
        for (float v : readAll(fifo.get(), 200 + 50 * round))
            ASSERT_EQ(v, expect++);
    }
    for (float v : readAll(fifo.get(), 4096))
        ASSERT_EQ(v, expect++);
    EXPECT_EQ(expect, next);

    // Overrun across the wrap: the oldest 1024 of 1500 remain.
    tv_fifo_test_set_index(fifo.get(), UINT32_MAX - 99);
    const auto input = ramp(1500);
    tv_fifo_write(fifo.get(), input.data(), 1, 1500);
    EXPECT_EQ(readAll(fifo.get(), 4096), ramp(1024, 476));
}

// One writer, one reader, sequence numbers as samples (their bit patterns, so all 2^32
// are distinct). Every successful read must be a run of consecutive numbers that starts
// at or after the end of the previous one: a read overlapping an overwrite must never
// return the mix. Runs under ThreadSanitizer in the thread-sanitizer build.
TEST(TvFifo, concurrent_writer_and_reader_only_ever_see_consecutive_runs)
{
    auto fifo = make(1024);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::vector<float> block(2 * 700);
        uint32_t seq = 0;
        uint32_t size = 1;
        while (!stop.load(std::memory_order_relaxed)) {
            size = size * 37 % 699 + 1; // 1 ... 699, scattered
            for (uint32_t k = 0; k < size; ++k)
                block[2 * k] = std::bit_cast<float>(seq + k);
            tv_fifo_write(fifo.get(), block.data(), 2, size);
            seq += size;
            if (size % 5 == 0)
                std::this_thread::yield(); // let the reader catch up now and then
        }
    });

    std::vector<float> buffer(1024);
    uint64_t reads = 0, samples = 0;
    bool first = true;
    uint32_t end = 0; // sequence number after the previous run
    uint32_t max = 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    bool broken = false;
    while (!broken && std::chrono::steady_clock::now() < deadline) {
        max = max * 13 % 1023 + 1;
        const uint32_t want = (max & 1) ? 1024 : max; // often everything: the oldest slots are contended
        const uint32_t n = tv_fifo_read(fifo.get(), buffer.data(), want);
        if (n == 0)
            continue;
        const uint32_t start = std::bit_cast<uint32_t>(buffer[0]);
        for (uint32_t k = 1; k < n && !broken; ++k) {
            EXPECT_EQ(std::bit_cast<uint32_t>(buffer[k]), start + k) << "read " << reads << " at " << k;
            broken = std::bit_cast<uint32_t>(buffer[k]) != start + k;
        }
        EXPECT_TRUE(first || start - end < (1u << 31)) << "run starts before the previous one ended";
        broken = broken || !(first || start - end < (1u << 31));
        first = false;
        end = start + n;
        ++reads;
        samples += n;
    }
    stop = true;
    writer.join();
    EXPECT_GT(reads, 0u);
    RecordProperty("reads", std::to_string(reads));
    RecordProperty("samples", std::to_string(samples));
}
