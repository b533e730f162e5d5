// SPDX-License-Identifier: GPL-3.0-or-later
//
// Summary
//   Chooses once per block which engine slot runs and changes slots only through
//   silence: fade the active slot out over 25 ms, switch at the next block start, fade
//   the new slot in. Also counts the frames of all blocks begun.
//
// Real-time safety
//   tv_switch_create allocates; begin_block and apply_fade do constant work per block
//   plus one multiply per sample while fading, and nothing per sample when steady.
//
// Thread safety
//   The selected slot and the frame counter are lock-free atomics (select and frames may
//   run on any thread). Everything else is touched only by the audio thread.

#include "tonvel_dsp.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <new>

struct tv_switch {
    std::atomic<uint32_t> selected{0};
    std::atomic<uint64_t> frames{0};
    uint32_t active = 0;
    uint32_t pending = 0;
    bool fadingOut = false;
    double gain = 1.0;
    double blockStartGain = 1.0;
    double step = 1.0 / 1200.0;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(std::atomic<uint64_t>::is_always_lock_free);

extern "C" tv_switch *tv_switch_create(double sample_rate)
{
    try {
        auto *sw = new (std::nothrow) tv_switch;
        if (!sw)
            return nullptr;
        if (sample_rate > 0.0 && std::isfinite(sample_rate)) // an infinite rate would never fade
            sw->step = 1.0 / (sample_rate * 0.025);
        return sw;
    } catch (...) {
        return nullptr;
    }
}

extern "C" void tv_switch_destroy(tv_switch *sw)
{
    delete sw;
}

extern "C" void tv_switch_select(tv_switch *sw, int32_t slot)
{
    if (sw)
        sw->selected.store(uint32_t(std::clamp(slot, 0, 2)), std::memory_order_relaxed);
}

extern "C" void tv_switch_start(tv_switch *sw, int32_t slot)
{
    if (!sw)
        return;
    tv_switch_select(sw, slot);
    sw->active = sw->pending = sw->selected.load(std::memory_order_relaxed);
    sw->fadingOut = false;
    sw->gain = sw->blockStartGain = 1.0;
}

extern "C" uint32_t tv_switch_begin_block(tv_switch *sw, uint32_t frames, uint32_t *switched)
{
    if (switched)
        *switched = 0;
    if (!sw)
        return 0;
    const uint32_t selected = sw->selected.load(std::memory_order_relaxed);
    bool changeWhenSilent;
    if (selected == sw->active) {
        if (sw->fadingOut && sw->gain > 0.0) {
            sw->fadingOut = false; // changed back before silence: fade the same slot in again
            changeWhenSilent = false;
        } else {
            changeWhenSilent = sw->fadingOut;
        }
    } else {
        if (!sw->fadingOut) { // a change during a fade-out keeps the slot already pending
            sw->fadingOut = true;
            sw->pending = selected;
        }
        changeWhenSilent = true;
    }
    if (changeWhenSilent && sw->gain <= 0.0) {
        sw->active = sw->pending;
        sw->fadingOut = false;
        if (switched)
            *switched = 1;
    }
    sw->blockStartGain = sw->gain;
    sw->frames.fetch_add(frames, std::memory_order_relaxed);
    return sw->active;
}

extern "C" void tv_switch_apply_fade(tv_switch *sw, float *samples, uint32_t stride, uint32_t frames, int commit)
{
    if (!sw || !samples)
        return;
    const double s = sw->fadingOut ? -sw->step : sw->step;
    double g = sw->blockStartGain;
    if (!sw->fadingOut && g >= 1.0) {
        if (commit)
            sw->gain = 1.0;
        return;
    }
    for (uint32_t k = 0; k < frames; ++k) {
        g = std::clamp(g + s, 0.0, 1.0);
        float &x = samples[size_t(k) * stride];
        x = float(x * g);
    }
    if (commit)
        sw->gain = g;
}

extern "C" uint64_t tv_switch_frames(const tv_switch *sw)
{
    return sw ? sw->frames.load(std::memory_order_relaxed) : 0;
}
