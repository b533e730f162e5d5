// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/AutoTuningTracker.h"

#include <cmath>

double AutoTuningTracker::update(const TuningAnalyzer::Estimate &estimate, double elapsed)
{
    // A non-finite offset is never trusted: it would push the correction away for good.
    const bool confident = estimate.confidence >= TuningAnalyzer::confidenceThreshold
        && std::isfinite(estimate.centsOffset);
    m_usingFallback = !confident;
    m_targetCents = confident ? estimate.centsOffset : 0.0;

    if (!(elapsed > 0.0))
        return m_appliedCents;

    const double step = maxCentsPerSecond * elapsed;
    const double diff = m_targetCents - m_appliedCents;
    if (step >= std::abs(diff))
        m_appliedCents = m_targetCents;   // snap: never overshoot
    else if (diff < 0.0)
        m_appliedCents -= step;
    else
        m_appliedCents += step;
    return m_appliedCents;
}

double AutoTuningTracker::factor(double fromStatic) const
{
    return fromStatic / std::exp2(m_appliedCents / 1200.0);
}

double AutoTuningTracker::appliedA4() const
{
    return 440.0 * std::exp2(m_appliedCents / 1200.0);
}
