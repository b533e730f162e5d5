/* SPDX-License-Identifier: GPL-3.0-or-later */
/*
 * tonvel_stretch.h: pitch-preserving pitch shifter over Rubber Band (R3 engine, real-time mode).
 *
 * Summary
 *   tv_stretch changes the pitch of 1 ... 8 channels by a factor (output frequency / input
 *   frequency, 0.25 ... 4.0) without changing their duration: every tv_stretch_process call
 *   produces exactly as many frames as it consumes, delayed by a fixed latency
 *   (tv_stretch_latency_seconds). Channels are bound one by one to strided memory
 *   (interleaved or planar device buffers) with tv_stretch_set_channel; blocks longer than
 *   max_frames are cut into chunks of at most max_frames.
 *
 *   The factor glides to its target with a one-pole smoother of 50 ms time constant,
 *   advanced once per chunk by the chunk's duration; the library's pitch scale is only
 *   re-set when the applied factor moved by more than 1e-7.
 *
 *   Configuration: block_ms <= 120 selects the library's short window (lower latency and
 *   CPU, the "balanced" engine), a longer block its standard window ("highQuality").
 *   interval_ms has no counterpart in the library and is only validated and recorded;
 *   neither has a tonality limit. Both are replaced together by 240 ms / 30 ms when either
 *   is not greater than 0. Library options: real-time mode, R3 engine, pitch mode
 *   "high consistency" (made for changing pitch; the "high quality" mode clicks when a
 *   glide crosses 1.0), short window for the balanced engine.
 *
 *   Latency (tv_stretch_latency_frames, about 57 ms balanced, 90 ms high quality) is fixed
 *   for the life of the handle and exact at factor 1.0, whatever factors and resets came
 *   before. Away from 1.0 the library's analysis reaches further back for lower factors
 *   and less far for higher ones, so the output arrives a little later or earlier: about
 *   +0.4 / +0.9 ms (balanced / high quality) at 432/440 and +2.5 / -2.2 ms (balanced),
 *   +4.9 / -3.0 ms (high quality) at A4 = 400 / 470 Hz. The wrapper keeps an output FIFO
 *   pre-filled with enough frames that the library never runs it dry at any factor of the
 *   range, steady or gliding. Should it lag further all the same (never seen), the missing
 *   frames are written as silence and counted (tv_stretch_underflow_frames), and skipped
 *   when they arrive late, so the latency does not drift.
 *
 * Real-time safety
 *   tv_stretch_create_custom allocates everything (staging, FIFOs, the library object) and
 *   warms the library up over the whole factor range 0.25 ... 4.0, so that the library's
 *   lazily built resampler tables reach their largest size. Creation takes about 0.05-0.1 s
 *   of CPU; the first instance of a configuration in a process, which also measures the
 *   library's lag, about 0.25 s balanced, 0.45 s high quality. After creation no function
 *   allocates, locks, logs or makes a system call, at any factor; tv_stretch_reset re-primes
 *   the library (its start pad, a few ms of work). Every function accepts a NULL handle and then does
 *   nothing (or returns 0).
 *   Create never throws; it returns NULL on bad arguments or when memory cannot be had.
 *   Create, reset and process first clear the calling thread's upper vector state
 *   (src/vector_state.h): the library runs several times slower on a thread left dirty.
 *
 * Hand-over between threads
 *   A reset (library reset, start pad pushed through several analysis hops, a few ms) is too
 *   heavy for an audio callback. An engine the callback is not using is therefore reset on a
 *   control thread and handed over ready: the audio thread claims an engine before it
 *   processes with it (tv_stretch_claim: ready -> live, nothing else to do) and releases it
 *   when it switches away (live -> stale); tv_stretch_prepare resets a stale engine off the
 *   audio thread (stale -> ready). The states are one atomic word, so neither side ever
 *   waits. Only if the audio thread claims an engine that nobody prepared since its release
 *   does it reset the engine itself, as before (counted: tv_stretch_claim_resets).
 *
 * Thread safety
 *   tv_stretch_set_factor and the const getters may run on any thread while
 *   tv_stretch_process runs (the target factor is one atomic 64-bit value, read once per
 *   process call). tv_stretch_process, tv_stretch_set_channel and tv_stretch_reset run on
 *   the audio thread only (or on the control thread before the audio callback exists).
 */
#ifndef TONVEL_STRETCH_H
#define TONVEL_STRETCH_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tv_stretch tv_stretch;

/* The library configuration of tv_stretch_create_options; all zero is the R3 engine with its
 * standard window and pitch mode "high consistency". Every configuration keeps the
 * wrapper's guarantees (fixed latency, no allocation after creation). */
enum { TV_STRETCH_ENGINE_FINER = 0, TV_STRETCH_ENGINE_FASTER = 1 };       /* R3 / R2 */
enum { TV_STRETCH_WINDOW_STANDARD = 0, TV_STRETCH_WINDOW_SHORT = 1, TV_STRETCH_WINDOW_LONG = 2 };
enum { TV_STRETCH_PITCH_CONSISTENCY = 0, TV_STRETCH_PITCH_QUALITY = 1, TV_STRETCH_PITCH_SPEED = 2 };
enum { TV_STRETCH_TRANSIENTS_CRISP = 0, TV_STRETCH_TRANSIENTS_MIXED = 1, TV_STRETCH_TRANSIENTS_SMOOTH = 2 };
typedef struct tv_stretch_options {
    uint32_t engine;
    uint32_t window;
    uint32_t pitch;
    uint32_t formant_preserved; /* 0: formants move with the pitch */
    uint32_t channels_together; /* 0: channels analysed apart */
    uint32_t transients;        /* R2 only */
    uint32_t phase_independent; /* R2 only; 0: laminar */
    /* 1: the library only stretches time (by the factor, its pitch mode "high speed", which
     * leaves the pitch alone) and the wrapper's own band-limited resampler (64-tap windowed
     * sinc, >= 90 dB stopband) brings the duration back, moving the pitch. About half the
     * library's cost; `pitch` is then ignored. 0: the library shifts the pitch itself. */
    uint32_t own_resampler;
} tv_stretch_options;

/* Control thread. NULL if channels is 0 or above 8, max_frames is 0, sample_rate is not
 * greater than 0 (or not finite), or memory cannot be had. */
tv_stretch *tv_stretch_create_custom(uint32_t channels, uint32_t max_frames, double sample_rate,
                                     double block_ms, double interval_ms);
/* Control thread. The same with an explicit library configuration (NULL: all zero); block and
 * interval samples read 0. NULL also for values outside the enumerations above. */
tv_stretch *tv_stretch_create_options(uint32_t channels, uint32_t max_frames, double sample_rate,
                                      const tv_stretch_options *options);
/* Control thread, after the audio callback is gone. */
void tv_stretch_destroy(tv_stretch *stretch);

/* Audio thread (or before the audio callback exists). Clears all audio state, restores the
 * fixed latency and jumps the applied factor to the target (no glide). RT safe. */
void tv_stretch_reset(tv_stretch *stretch);

/* Control thread, any time. Resets the engine if the audio thread released it since it was
 * last ready (see "Hand-over"); does nothing to an engine the audio thread uses or that is
 * ready. Returns 1 when the engine is ready (or in use) afterwards. */
int tv_stretch_prepare(tv_stretch *stretch);
/* RT safe, audio thread, before processing with the engine. Returns 1 when it may process:
 * it was ready (its factor then jumps to the target, as after a reset), already in use, or
 * released and not yet prepared (then reset here). Returns 0
 * while tv_stretch_prepare resets it on another thread: process nothing this block. */
int tv_stretch_claim(tv_stretch *stretch);
/* RT safe, audio thread, after its last block with the engine. Nothing if not in use. */
void tv_stretch_release(tv_stretch *stretch);
/* Any thread. Claims that had to reset on the audio thread. */
uint64_t tv_stretch_claim_resets(const tv_stretch *stretch);

/* Any thread. Target = factor if finite and > 0, else 1.0; then limited to 0.25 ... 4.0. */
void tv_stretch_set_factor(tv_stretch *stretch, double factor);

/* RT safe, audio thread. Binds channel (< channels; otherwise ignored): sample k of the
 * next process call is read from input[k * input_stride] and written to
 * output[k * output_stride]. Stride 0 counts as 1. Bindings persist until re-bound. */
void tv_stretch_set_channel(tv_stretch *stretch, uint32_t channel,
                            const float *input, uint32_t input_stride,
                            float *output, uint32_t output_stride);

/* RT safe, audio thread. Reads frames samples from every bound input and writes frames
 * samples to every bound output. If any channel has a NULL input or output, returns
 * without touching anything (outputs and factor state unchanged). */
void tv_stretch_process(tv_stretch *stretch, uint32_t frames);

/* Any thread. Fixed total latency (input to output) in seconds / in frames, exact at
 * factor 1.0 (see the summary for other factors). */
double tv_stretch_latency_seconds(const tv_stretch *stretch);
uint32_t tv_stretch_latency_frames(const tv_stretch *stretch);

/* Any thread. Inspection, for the owner's diagnostics and for tests. */
double tv_stretch_target_factor(const tv_stretch *stretch);
double tv_stretch_applied_factor(const tv_stretch *stretch);  /* audio-thread value */
uint32_t tv_stretch_channels(const tv_stretch *stretch);
uint32_t tv_stretch_max_frames(const tv_stretch *stretch);
uint32_t tv_stretch_block_samples(const tv_stretch *stretch);     /* block ms in samples */
uint32_t tv_stretch_interval_samples(const tv_stretch *stretch);  /* interval ms in samples */
int tv_stretch_uses_short_window(const tv_stretch *stretch);
/* Frames written as silence because the library lagged beyond the latency reserve
 * (a safety net; not expected at any factor). Cleared by tv_stretch_reset. */
uint64_t tv_stretch_underflow_frames(const tv_stretch *stretch);

#ifdef __cplusplus
}
#endif

#endif /* TONVEL_STRETCH_H */
