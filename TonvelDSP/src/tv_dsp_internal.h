// SPDX-License-Identifier: GPL-3.0-or-later
// Hooks for the unit tests of TonvelDSP; not part of the public interface.
#ifndef TV_DSP_INTERNAL_H
#define TV_DSP_INTERNAL_H

#include "tonvel_dsp.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Control thread, while neither side runs. Moves the FIFO's write and read indices to
 * index (the FIFO then appears empty), so tests can cross the 2^32 wrap quickly. */
void tv_fifo_test_set_index(tv_fifo *fifo, uint32_t index);

/* Control thread, while processing does not run. Moves the write index of every channel
 * to index, leaving the rings, delays and factors alone. */
void tv_engine_test_set_write_index(tv_engine *engine, uint32_t index);

/* Control thread. Chooses the engine's four-lane (AVX2) loop, if the processor has it,
 * or the portable one; returns whether the four-lane loop is now in use. */
int tv_engine_test_use_avx2(tv_engine *engine, int enable);

#ifdef __cplusplus
}
#endif

#endif /* TV_DSP_INTERNAL_H */
