// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TonvelCore/TuningAnalyzer.h"

// Turns detection estimates into a slowly moving correction in cents: it glides towards the
// detected offset at most maxCentsPerSecond, and back to 0 whenever the estimate is not
// confident. A plain value type used on one thread; no lock.
class AutoTuningTracker
{
public:
    static constexpr double maxCentsPerSecond = 2.0;

    double appliedCents() const { return appliedCents_; }
    double targetCents() const { return targetCents_; }
    bool usingFallback() const { return usingFallback_; }

    void reset() { *this = AutoTuningTracker(); }
    // One step; elapsed is seconds since the previous update. Returns the new appliedCents.
    double update(const TuningAnalyzer::Estimate &estimate, double elapsed);
    // staticFactor / 2^(appliedCents / 1200): exactly staticFactor without a correction.
    double factor(double fromStatic) const;
    // 440 * 2^(appliedCents / 1200): the A4 the correction assumes the music to have.
    double appliedA4() const;

    friend bool operator==(const AutoTuningTracker &, const AutoTuningTracker &) = default;

private:
    double appliedCents_ = 0.0;
    double targetCents_ = 0.0;
    bool usingFallback_ = true;
};
