// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// OverlappingFrames: gathers a stream of samples into frames of `size` samples that advance by
// `hop`, the framing both tuning estimators analyse. Allocates only at construction.
//
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

class OverlappingFrames {
public:
    OverlappingFrames(std::int64_t size, std::int64_t hop) : buffer_(std::size_t(size), 0.0f), hop_(hop) {}

    // Appends `count` samples and calls onFrame(frame) for every frame they complete; `frame`
    // holds `size` samples, oldest first, and is valid during the call only.
    template <typename OnFrame>
    void append(const float *samples, std::int64_t count, OnFrame &&onFrame)
    {
        const auto size = std::int64_t(buffer_.size());
        while (samples && count > 0) {
            const std::int64_t take = std::min(count, size - fill_);
            std::memcpy(buffer_.data() + fill_, samples, std::size_t(take) * sizeof(float));
            fill_ += take;
            samples += take;
            count -= take;
            if (fill_ == size) {
                onFrame(static_cast<const float *>(buffer_.data()));
                fill_ = size - hop_;
                std::memmove(buffer_.data(), buffer_.data() + hop_, std::size_t(fill_) * sizeof(float));
            }
        }
    }

    std::int64_t fill() const { return fill_; }
    void clear() { fill_ = 0; }

private:
    std::vector<float> buffer_;
    std::int64_t hop_;
    std::int64_t fill_ = 0;
};
