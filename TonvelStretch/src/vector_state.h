// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Puts the calling thread's vector registers back into the clean state before SSE-heavy
// library code runs on it.
//
// Code that uses 256- or 512-bit registers and returns without `vzeroupper` leaves their upper
// halves "in use" (Qt 6.4's string hash does so on CPUs with VAES and AVX-512: every QHash or
// QSet of strings). The state belongs to the thread and is copied into every thread it starts.
// In that state each legacy SSE instruction also merges the stale upper half, a dependency
// that makes Rubber Band (built for SSE2) and our own SSE code run two to five times slower.
// One `vzeroupper` ends it until the next such call on the thread.
//
// Real-time safe: one instruction (or nothing on CPUs without AVX); no allocation, no lock,
// no system call.
//

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace tv {

__attribute__((target("avx"))) inline void zeroUpperVectorHalves()
{
    _mm256_zeroupper();
}

inline void clearVectorState()
{
    if (__builtin_cpu_supports("avx"))
        zeroUpperVectorHalves();
}

} // namespace tv

#else

namespace tv {
inline void clearVectorState() {}
} // namespace tv

#endif
