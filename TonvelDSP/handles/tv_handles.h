// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Owning handles for the tv_ DSP objects, for C++ callers (product and tests alike).
// Each destroys its object when it goes out of scope; like the destroy functions, they are
// for the control thread only, never the real-time thread. The destroy functions are
// declared here so that one header serves the DSP, stretch and FFT libraries: using a
// handle needs only the library that owns that object.
//
#include <memory>

extern "C" {
typedef struct tv_fifo tv_fifo;
typedef struct tv_engine tv_engine;
typedef struct tv_switch tv_switch;
typedef struct tv_stretch tv_stretch;
typedef struct tv_fft tv_fft;
void tv_fifo_destroy(tv_fifo *fifo);
void tv_engine_destroy(tv_engine *engine);
void tv_switch_destroy(tv_switch *sw);
void tv_stretch_destroy(tv_stretch *stretch);
void tv_fft_destroy(tv_fft *fft);
}

namespace tv {

template <typename T, void (*Destroy)(T *)>
struct Deleter {
    void operator()(T *object) const { Destroy(object); }
};

using FifoPtr = std::unique_ptr<tv_fifo, Deleter<tv_fifo, tv_fifo_destroy>>;
using EnginePtr = std::unique_ptr<tv_engine, Deleter<tv_engine, tv_engine_destroy>>;
using SwitchPtr = std::unique_ptr<tv_switch, Deleter<tv_switch, tv_switch_destroy>>;
using StretchPtr = std::unique_ptr<tv_stretch, Deleter<tv_stretch, tv_stretch_destroy>>;
using FftPtr = std::unique_ptr<tv_fft, Deleter<tv_fft, tv_fft_destroy>>;

} // namespace tv
