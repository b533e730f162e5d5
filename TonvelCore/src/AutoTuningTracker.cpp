// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/AutoTuningTracker.h"

#include <cmath>

double AutoTuningTracker::update(const TuningAnalyzer::Estimate &estimate, double elapsed)
{
    // A non-finite offset is never trusted: it would push the correction away for good.
    const bool confident = estimate.confidence >= TuningAnalyzer::confidenceThreshold
        && std::isfinite(estimate.centsOffset);
    usingFallback_ = !confident;
    targetCents_ = confident ? estimate.centsOffset : 0.0;

    if (!(elapsed > 0.0))
        return appliedCents_;

    const double step = maxCentsPerSecond * elapsed;
    const double diff = targetCents_ - appliedCents_;
    if (step >= std::abs(diff))
        appliedCents_ = targetCents_;   // snap: never overshoot
    else if (diff < 0.0)
        appliedCents_ -= step;
    else
        appliedCents_ += step;
    return appliedCents_;
}

double AutoTuningTracker::factor(double fromStatic) const
{
    return fromStatic / std::exp2(appliedCents_ / 1200.0);
}

double AutoTuningTracker::appliedA4() const
{
    return 440.0 * std::exp2(appliedCents_ / 1200.0);
}
