// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Streaming band-limited resampler for 1 ... 8 channels at a ratio that may change between
// calls (a gliding pitch factor), private to the stretch library.
//
// Summary
//   Reads its input at `step` input frames per output frame (0.25 ... 4): above 1 the output
//   is shorter and higher. Kaiser-windowed sinc, 64 taps at step <= 1 (stopband from the
//   input's Nyquist frequency on, at least 90 dB down; flat to about 19 kHz at 48 kHz),
//   widened by the step above 1 so that the output's Nyquist frequency bounds the band.
//   Coefficients come from one table of 512 phases per tap, interpolated linearly; at
//   step <= 1 the taps of one output frame are one contiguous row, computed once for all
//   channels and applied with vector arithmetic. A step change takes effect at the next
//   output frame, phase-continuous. The output is delayed by kHalfTaps input frames.
//
// Real-time safety
//   create() allocates (the shared table on first use, the history buffers); reset(),
//   setStep() and process() allocate nothing, take no lock and make no system call.
//
// Thread safety
//   One object is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <vector>

namespace tv {

class Resampler {
public:
    static constexpr uint32_t kHalfTaps = 32;
    static constexpr double kMinStep = 0.25;
    static constexpr double kMaxStep = 4.0;

    // At most maxInput frames per process() call. Throws std::bad_alloc.
    Resampler(uint32_t channels, uint32_t maxInput);

    // Forgets all input; the next output frame is the next input frame (after the delay).
    void reset();
    // Input frames per output frame, limited to kMinStep ... kMaxStep.
    void setStep(double step);
    double step() const { return step_; }

    // Frames process() may write for maxInput input frames at the smallest step.
    uint32_t maxOutput() const { return maxOutput_; }
    // Appends frames (<= maxInput) of every in[c] and writes the output frames that became
    // computable to out[c] (room for maxOutput()). Returns how many.
    uint32_t process(const float *const *in, uint32_t frames, float *const *out);

private:
    uint32_t channels_;
    uint32_t maxInput_;
    uint32_t maxOutput_;
    uint32_t capacity_; // frames of history per channel
    const float *table_; // shared, immutable
    std::vector<float> history_; // channels x capacity_
    std::vector<float> taps_;    // one output frame's coefficients
    uint32_t available_ = 0;     // valid frames in each history
    double position_ = 0.0;      // input position of the next output frame
    double step_ = 1.0;

    float *history(uint32_t c) { return history_.data() + static_cast<size_t>(c) * capacity_; }
};

} // namespace tv
