// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the pitch and latency tests measure on a rendered signal.
#include <cmath>
#include <cstddef>
#include <vector>

namespace signalmeasures {

// Frequency from interpolated upward zero crossings of every `stride`-th sample (one channel
// of an interleaved signal) in frames [from, to); 0 with fewer than two crossings.
inline double measuredHz(const std::vector<float> &v, std::size_t from, std::size_t to, double rate,
                         std::size_t stride = 1)
{
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float p = v[(i - 1) * stride], q = v[i * stride];
        if (p < 0.0f && q >= 0.0f) {
            last = double(i - 1) + p / (p - q);
            first = first < 0.0 ? last : first;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * rate / (last - first);
}

inline double cents(double ratio)
{
    return 1200.0 * std::log2(ratio);
}

// Lag (minLag ... maxLag, negative: out leads) at which out best matches in.
inline int crossCorrelationLag(const std::vector<float> &in, const std::vector<float> &out, int maxLag,
                               int minLag = 0)
{
    int best = 0;
    double bestValue = -1e300;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        double acc = 0.0;
        for (std::ptrdiff_t i = lag < 0 ? -lag : 0;
             i < std::ptrdiff_t(in.size()) && i + lag < std::ptrdiff_t(out.size()); ++i)
            acc += double(in[i]) * out[i + lag];
        if (acc > bestValue)
            bestValue = acc, best = lag;
    }
    return best;
}

} // namespace signalmeasures
