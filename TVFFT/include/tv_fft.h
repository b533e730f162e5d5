/* SPDX-License-Identifier: GPL-3.0-or-later */
/*
 * tv_fft.h: forward real FFT for the tuning analyzer.
 *
 * Summary
 *   Power-of-two sizes only. Output is split into two arrays of N/2 floats:
 *   real[k] = Re X[k] for k = 0 ... N/2-1, imag[k] = Im X[k] for k = 1 ... N/2-1,
 *   and imag[0] carries the (real) Nyquist bin X[N/2]. No scaling.
 *
 * Real-time safety
 *   tv_fft_create allocates and plans (planning is serialised process-wide, since the
 *   planner is not thread-safe). tv_fft_forward allocates nothing and takes no lock.
 *
 * Wisdom
 *   Planning measures the machine (about 0.1-0.3 s for the analysis sizes). What it learnt can
 *   be saved and loaded again, so that a later process plans the same sizes in milliseconds.
 *   A missing, unreadable or foreign file is simply not used.
 *
 * Thread safety
 *   One handle is used by one thread at a time; distinct handles are independent.
 */
#ifndef TV_FFT_H
#define TV_FFT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tv_fft tv_fft;

/* Control thread. NULL if size < 2, not a power of two, or memory cannot be had. */
tv_fft *tv_fft_create(uint32_t size);
/* Control thread. */
void tv_fft_destroy(tv_fft *fft);
/* Control thread. Loads planning wisdom from path; 1 when it was used, 0 otherwise (missing,
 * unreadable or invalid: planning measures as before). */
int tv_fft_load_wisdom(const char *path);
/* Control thread. Saves all wisdom gathered in this process to path, atomically (a temporary
 * file in the same folder, renamed over it): readers see the old file or the new one, never
 * a part. 1 on success. */
int tv_fft_save_wisdom(const char *path);
/* Worker thread. input: N floats; out_real, out_imag: N/2 floats each. */
void tv_fft_forward(tv_fft *fft, const float *input, float *out_real, float *out_imag);

#ifdef __cplusplus
}
#endif

#endif /* TV_FFT_H */
