/* SPDX-License-Identifier: GPL-3.0-or-later */
/*
 * tonvel_dsp.h: the real-time DSP blocks of Velmora.
 *
 * Summary
 *   tv_fifo    single-producer/single-consumer sample ring (audio thread -> analysis worker)
 *   tv_engine  delay-line pitch shifter with two crossfaded read heads (low latency)
 *   tv_switch  per-block engine slot selection that changes slots only through silence
 *
 * Real-time safety
 *   Everything allocates only in *_create. After creation no function allocates, locks,
 *   logs or makes a system call; every function accepts a NULL handle and then does
 *   nothing (or returns 0). Create functions never throw; they return NULL on failure.
 *
 * Thread safety
 *   tv_fifo:   exactly one writer thread (tv_fifo_write) and one reader thread (tv_fifo_read).
 *   tv_engine: tv_engine_set_factor, tv_engine_jump_factor, tv_engine_note_underrun, tv_engine_underruns and
 *              tv_engine_latency_seconds may run on any thread while tv_engine_process_channel
 *              runs (a new factor is picked up at the next process call); process and reset
 *              run on the audio thread only.
 *   tv_switch: tv_switch_select and tv_switch_frames from any thread; begin_block and
 *              apply_fade on the audio thread only.
 */
#ifndef TONVEL_DSP_H
#define TONVEL_DSP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tv_fifo tv_fifo;
typedef struct tv_engine tv_engine;
typedef struct tv_switch tv_switch;

/* ---- Sample FIFO -------------------------------------------------------- */

/* Control thread. Capacity: smallest power of two >= max(size, 1024); NULL above 2^31. */
tv_fifo *tv_fifo_create(uint32_t requested_size);
/* Control thread. */
void tv_fifo_destroy(tv_fifo *fifo);
/* Any thread. */
uint32_t tv_fifo_capacity(const tv_fifo *fifo);
/* RT safe, writer thread. Appends frames samples read at source[k * stride]; stride 0 = 1. */
void tv_fifo_write(tv_fifo *fifo, const float *source, uint32_t stride, uint32_t frames);
/* RT safe, reader thread. Copies up to max_frames of the oldest trustworthy samples; returns 0
 * (and skips ahead) when the writer may have overwritten any of them during the copy. */
uint32_t tv_fifo_read(tv_fifo *fifo, float *destination, uint32_t max_frames);

/* ---- Delay-line retune engine ------------------------------------------- */

/* Control thread. */
tv_engine *tv_engine_create(uint32_t delay_frames, double sample_rate);
tv_engine *tv_engine_create_custom(uint32_t delay_frames, double sample_rate, double fade_fraction);
void tv_engine_destroy(tv_engine *engine);
/* Audio thread (or before the audio callback exists). */
void tv_engine_reset(tv_engine *engine);
/* Any thread. */
void tv_engine_set_factor(tv_engine *engine, double factor);
/* Any thread. Like tv_engine_set_factor, but every channel's next process call starts at the
 * new factor instead of gliding to it (for audio that goes somewhere new, e.g. another device). */
void tv_engine_jump_factor(tv_engine *engine, double factor);
/* RT safe, audio thread. */
void tv_engine_process_channel(tv_engine *engine, uint32_t channel,
                               const float *input, uint32_t input_stride,
                               float *output, uint32_t output_stride, uint32_t frames);
/* RT safe, any thread. */
void tv_engine_note_underrun(tv_engine *engine);
uint64_t tv_engine_underruns(const tv_engine *engine);
double tv_engine_latency_seconds(const tv_engine *engine);

/* ---- Engine switcher ---------------------------------------------------- */

/* Control thread. */
tv_switch *tv_switch_create(double sample_rate);
void tv_switch_destroy(tv_switch *sw);
/* Control thread, before the audio callback exists. Selects the slot (limited to 0 ... 2) and
 * makes it active at full gain at once, without a fade or a switch. */
void tv_switch_start(tv_switch *sw, int32_t slot);
/* Any thread. Slot limited to 0 ... 2. */
void tv_switch_select(tv_switch *sw, int32_t slot);
/* RT safe, audio thread. Returns the active slot; *switched (may be NULL) tells a new activation. */
uint32_t tv_switch_begin_block(tv_switch *sw, uint32_t frames, uint32_t *switched);
/* RT safe, audio thread. Multiplies one channel by this block's gain ramp; commit on the last. */
void tv_switch_apply_fade(tv_switch *sw, float *samples, uint32_t stride, uint32_t frames, int commit);
/* Any thread. */
uint64_t tv_switch_frames(const tv_switch *sw);

#ifdef __cplusplus
}
#endif

#endif /* TONVEL_DSP_H */
