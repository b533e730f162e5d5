// SPDX-License-Identifier: GPL-3.0-or-later
// After creation, every call the audio thread makes allocates nothing: the global
// allocation functions (and, outside sanitizer builds, malloc itself) count here.
#include "tonvel_dsp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<bool> armed{false};
std::atomic<long> allocations{0};
void count()
{
    if (armed.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *malloc(size_t size) { return count(), __libc_malloc(size); }
void *calloc(size_t n, size_t size) { return count(), __libc_calloc(n, size); }
void *realloc(void *p, size_t size) { return count(), __libc_realloc(p, size); }
}
#endif

void *operator new(size_t size)
{
    count();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](size_t size) { return operator new(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return count(), std::malloc(size ? size : 1); }
void *operator new[](size_t size, const std::nothrow_t &t) noexcept { return operator new(size, t); }
// These pair malloc with free themselves; GCC cannot see that through the replacements.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void *p) noexcept { std::free(p); }
void operator delete[](void *p) noexcept { std::free(p); }
void operator delete(void *p, size_t) noexcept { std::free(p); }
void operator delete[](void *p, size_t) noexcept { std::free(p); }

TEST(TvDspAllocations, audio_thread_calls_allocate_nothing_after_creation)
{
    armed = true;
    tv_switch *probe = tv_switch_create(48000); // the counter does count
    armed = false;
    EXPECT_GT(allocations.exchange(0), 0);
    tv_switch_destroy(probe);

    tv_fifo *fifo = tv_fifo_create(65536);
    tv_engine *engine = tv_engine_create(2048, 48000);
    tv_engine *odd = tv_engine_create_custom(3000, 44100, 0.2);
    tv_switch *sw = tv_switch_create(48000);
    std::vector<float> in(2 * 4096, 0.25f), out(2 * 4096), drained(8192);
    armed = true;
    tv_engine_set_factor(engine, 432.0 / 440.0);
    tv_engine_reset(engine);
    tv_switch_select(sw, 2);
    for (uint32_t block = 0; block < 50; ++block) {
        const uint32_t frames = block % 2 ? 512 : 4096;
        uint32_t switched = 0;
        tv_fifo_write(fifo, in.data(), 2, frames);
        tv_switch_begin_block(sw, frames, &switched);
        if (switched)
            tv_engine_reset(engine);
        tv_engine_set_factor(engine, block % 3 ? 0.98 : 1.02); // keeps the smoothing busy
        for (uint32_t c = 0; c < 2; ++c) {
            tv_engine_process_channel(engine, c, in.data() + c, 2, out.data() + c, 2, frames);
            tv_engine_process_channel(odd, c, in.data() + c, 2, out.data() + c, 2, frames);
            tv_switch_apply_fade(sw, out.data() + c, 2, frames, c == 1);
        }
        tv_engine_note_underrun(engine);
        tv_fifo_read(fifo, drained.data(), uint32_t(drained.size()));
    }
    (void)(tv_engine_underruns(engine) + tv_engine_latency_seconds(engine) + tv_switch_frames(sw));
    armed = false;
    EXPECT_EQ(allocations.load(), 0);
    tv_fifo_destroy(fifo);
    tv_engine_destroy(engine);
    tv_engine_destroy(odd);
    tv_switch_destroy(sw);
}
