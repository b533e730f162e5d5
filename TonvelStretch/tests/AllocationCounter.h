// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Counts every heap allocation of the test program that includes this header (exactly one
// translation unit per program): the malloc family is replaced (operator new calls it); under
// ASan and TSan, whose allocators cannot be replaced, their allocation hook counts instead.
// CountAllocations counts between its construction and count().

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void noteAllocation()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

struct CountAllocations {
    CountAllocations()
    {
        allocations = 0;
        counting = true;
    }
    ~CountAllocations() { counting = false; }
    long count() const { return allocations.load(); }
};

} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizer runtime (its header is not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                                         void (*free_hook)(const volatile void *));

namespace {
void mallocHook(const volatile void *, size_t) { noteAllocation(); }
void freeHook(const volatile void *) {}
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
} // namespace

#else
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);

void *malloc(size_t size)
{
    noteAllocation();
    return __libc_malloc(size);
}
void *calloc(size_t n, size_t size)
{
    noteAllocation();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t size)
{
    noteAllocation();
    return __libc_realloc(p, size);
}
void *memalign(size_t alignment, size_t size)
{
    noteAllocation();
    return __libc_memalign(alignment, size);
}
void *aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    void *p = memalign(alignment, size);
    return p ? (*out = p, 0) : ENOMEM;
}
} // extern "C"

#endif

