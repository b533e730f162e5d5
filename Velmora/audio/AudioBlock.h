// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The block a render callback is handed: planar 32-bit float samples in memory that the sound
// server owns, one pointer per channel, each channel `frames` samples long (frame f of
// channel c is channels[c][f]). The render chain works on these alone, so it runs without a
// server. A null channel pointer carries nothing: that channel is missing in this block.
//
#include <cstdint>

// What was captured: read only.
struct ConstAudioBlock {
    const float *const *channels = nullptr;
    std::uint32_t channelCount = 0;
    std::uint32_t frames = 0;

    const float *channel(std::uint32_t c) const noexcept { return c < channelCount ? channels[c] : nullptr; }
};

// What is played.
struct AudioBlock {
    float *const *channels = nullptr;
    std::uint32_t channelCount = 0;
    std::uint32_t frames = 0;

    float *channel(std::uint32_t c) const noexcept { return c < channelCount ? channels[c] : nullptr; }
    operator ConstAudioBlock() const noexcept { return {channels, channelCount, frames}; }
};
