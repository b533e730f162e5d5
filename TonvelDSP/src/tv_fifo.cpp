// SPDX-License-Identifier: GPL-3.0-or-later
//
// Summary
//   Single-producer/single-consumer ring of float samples with free-running 32-bit
//   indices. The writer never waits and overwrites the oldest samples when the reader
//   falls behind; the reader detects that and only ever returns runs of consecutive
//   samples.
//
// Real-time safety
//   tv_fifo_create allocates; tv_fifo_write and tv_fifo_read neither allocate, lock,
//   log nor make system calls.
//
// Thread safety
//   One writer thread and one reader thread. The writer publishes a claim index (the
//   end of the block it is about to store) before it touches the ring, and the write
//   index after the block is complete. Ring slots are relaxed/acquire/release atomics,
//   so a slot being overwritten while the reader copies it is not a data race: if the
//   reader sees a new value it also sees the claim that covers it, and discards the copy.

#include "tv_dsp_internal.h"

#include <algorithm>
#include <atomic>
#include <new>

namespace {
constexpr uint32_t kMinCapacity = 1024;
constexpr uint32_t kMaxCapacity = 1u << 31;
} // namespace

struct tv_fifo {
    uint32_t capacity = 0;
    uint32_t mask = 0;
    std::atomic<float> *buffer = nullptr;
    // Writer and reader indices live on separate cache lines.
    alignas(64) std::atomic<uint32_t> claimIndex{0};   // written by the writer before storing
    std::atomic<uint32_t> writeIndex{0};               // written by the writer after storing
    alignas(64) std::atomic<uint32_t> readIndex{0};    // written by the reader only
};

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<float>) == sizeof(float));

extern "C" tv_fifo *tv_fifo_create(uint32_t requested_size)
{
    // Rounding anything above 2^31 up to a power of two would not fit in 32 bits.
    if (requested_size > kMaxCapacity)
        return nullptr;
    uint32_t capacity = kMinCapacity;
    while (capacity < requested_size)
        capacity <<= 1;
    try {
        auto *fifo = new (std::nothrow) tv_fifo;
        if (!fifo)
            return nullptr;
        fifo->buffer = new (std::nothrow) std::atomic<float>[capacity]; // value-initialised: 0.0f
        if (!fifo->buffer) {
            delete fifo;
            return nullptr;
        }
        fifo->capacity = capacity;
        fifo->mask = capacity - 1;
        return fifo;
    } catch (...) {
        return nullptr;
    }
}

extern "C" void tv_fifo_destroy(tv_fifo *fifo)
{
    if (!fifo)
        return;
    delete[] fifo->buffer;
    delete fifo;
}

extern "C" uint32_t tv_fifo_capacity(const tv_fifo *fifo)
{
    return fifo ? fifo->capacity : 0;
}

extern "C" void tv_fifo_write(tv_fifo *fifo, const float *source, uint32_t stride, uint32_t frames)
{
    if (!fifo || !source || frames == 0)
        return;
    if (stride == 0)
        stride = 1;
    if (frames > fifo->capacity) {
        source += size_t(frames - fifo->capacity) * stride;
        frames = fifo->capacity;
    }
    const uint32_t w = fifo->writeIndex.load(std::memory_order_relaxed);
    fifo->claimIndex.store(w + frames, std::memory_order_relaxed);
    // Each release store orders the claim before the sample: a reader that loads a new
    // sample (acquire) is guaranteed to see the claim afterwards.
    const uint32_t mask = fifo->mask;
    std::atomic<float> *buffer = fifo->buffer;
    for (uint32_t k = 0; k < frames; ++k)
        buffer[(w + k) & mask].store(source[size_t(k) * stride], std::memory_order_release);
    fifo->writeIndex.store(w + frames, std::memory_order_release);
}

extern "C" uint32_t tv_fifo_read(tv_fifo *fifo, float *destination, uint32_t max_frames)
{
    if (!fifo || !destination || max_frames == 0)
        return 0;
    const uint32_t capacity = fifo->capacity;
    const uint32_t r = fifo->readIndex.load(std::memory_order_relaxed);
    const uint32_t w = fifo->writeIndex.load(std::memory_order_acquire);
    uint32_t available = w - r;
    uint32_t start = r;
    if (available > capacity) { // the writer has lapped the reader
        start = w - capacity;
        available = capacity;
    }
    if (available == 0)
        return 0;
    const uint32_t n = std::min(max_frames, available);

    // Copy in two spans so the inner loops index contiguously.
    const uint32_t mask = fifo->mask;
    const uint32_t first = start & mask;
    const uint32_t span1 = std::min(n, capacity - first);
    const std::atomic<float> *buffer = fifo->buffer;
    for (uint32_t k = 0; k < span1; ++k)
        destination[k] = buffer[first + k].load(std::memory_order_acquire);
    for (uint32_t k = span1; k < n; ++k)
        destination[k] = buffer[k - span1].load(std::memory_order_acquire);

    // Anything the writer has claimed up to now may have replaced what was copied.
    const uint32_t claimed = fifo->claimIndex.load(std::memory_order_acquire);
    if (claimed - start > capacity) {
        fifo->readIndex.store(claimed - capacity, std::memory_order_release);
        return 0;
    }
    fifo->readIndex.store(start + n, std::memory_order_release);
    return n;
}

extern "C" void tv_fifo_test_set_index(tv_fifo *fifo, uint32_t index)
{
    if (!fifo)
        return;
    fifo->claimIndex.store(index);
    fifo->writeIndex.store(index);
    fifo->readIndex.store(index);
}
