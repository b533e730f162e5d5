// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Reference-pitch arithmetic. A factor is output frequency / input frequency.
namespace TuningMath {

inline constexpr double standardA4 = 440.0;

struct ClosedRange {
    double lowerBound;
    double upperBound;
    constexpr bool contains(double v) const { return v >= lowerBound && v <= upperBound; }
};
inline constexpr ClosedRange freeA4Range{400.0, 470.0};

// Factor that retunes standard pitch to `a4`, with `a4` clamped to freeA4Range.
double factor(double forA4);
// 1200 * log2(factor); 0 for zero, negative, infinite or NaN factors.
double cents(double forFactor);
// "+15.6 ct", "−31.8 ct" (U+2212), "±0.0 ct" (U+00B1) for anything that rounds to zero.
QString formatCents(double cents);

} // namespace TuningMath
