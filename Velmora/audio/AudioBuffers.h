// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The buffer records a render callback is handed: plain descriptions of sample memory that the
// sound server owns. The render chain works on these alone, so it runs without a server.
//
#include <cstdint>

// One buffer of 32-bit float samples, mNumberChannels interleaved: frame f of channel c is
// mData[f * mNumberChannels + c]. mData may be null (the buffer then carries nothing).
// mDataByteSize is the size of this block's samples, never more than the memory behind mData.
struct AudioBuffer {
    std::uint32_t mNumberChannels = 0;
    std::uint32_t mDataByteSize = 0;
    float *mData = nullptr;
};

// A list of buffers. mNumberBuffers above kMaxBuffers is treated as kMaxBuffers.
struct AudioBufferList {
    static constexpr std::uint32_t kMaxBuffers = 64;
    std::uint32_t mNumberBuffers = 0;
    AudioBuffer mBuffers[kMaxBuffers];
};
