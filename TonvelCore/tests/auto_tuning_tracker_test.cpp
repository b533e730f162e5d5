// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/AutoTuningTracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Estimate = TuningAnalyzer::Estimate;

TEST(AutoTuningTracker, starts_and_resets_to_no_correction_in_fallback)
{
    AutoTuningTracker t;
    EXPECT_EQ(t.appliedCents(), 0.0);
    EXPECT_EQ(t.targetCents(), 0.0);
    EXPECT_TRUE(t.usingFallback());
    t.update({443.0, 12.0, 0.9}, 3.0);
    t.reset();
    EXPECT_EQ(t, AutoTuningTracker());
    EXPECT_EQ(t.factor(0.981818), 0.981818);   // exactly the static factor
    EXPECT_EQ(t.appliedA4(), 440.0);
}

TEST(AutoTuningTracker, confidence_of_exactly_0_35_is_confident_and_0_3499_or_a_non_finite_offset_is_not)
{
    AutoTuningTracker t;
    t.update({443.0, 12.0, 0.35}, 0.1);
    EXPECT_FALSE(t.usingFallback());
    EXPECT_EQ(t.targetCents(), 12.0);
    EXPECT_DOUBLE_EQ(t.appliedCents(), 0.2);

    t.update({443.0, 12.0, 0.3499}, 0.1);
    EXPECT_TRUE(t.usingFallback());
    EXPECT_EQ(t.targetCents(), 0.0);
    EXPECT_EQ(t.appliedCents(), 0.0);   // 0.2 back at 0.2 per step: snapped

    t.update({443.0, 12.0, 0.9}, 1.0);
    t.update({440.0, std::numeric_limits<double>::quiet_NaN(), 0.9}, 1.0);
    EXPECT_TRUE(t.usingFallback());
    EXPECT_EQ(t.appliedCents(), 0.0);
}

TEST(AutoTuningTracker, zero_or_negative_elapsed_moves_nothing_but_updates_target)
{
    AutoTuningTracker t;
    t.update({443.0, 12.0, 0.8}, 0.5);
    const double applied = t.appliedCents();
    for (double elapsed : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(t.update({430.0, -40.0, 0.8}, elapsed), applied);
        EXPECT_EQ(t.targetCents(), -40.0);
        EXPECT_FALSE(t.usingFallback());
        EXPECT_EQ(t.update({430.0, -40.0, 0.1}, elapsed), applied);
        EXPECT_TRUE(t.usingFallback());
        EXPECT_EQ(t.targetCents(), 0.0);
    }
}

TEST(AutoTuningTracker, glides_at_2_cents_per_second_towards_12_cents_and_back)
{
    AutoTuningTracker t;
    const Estimate music{443.06, 12.0, 0.6};
    for (int i = 0; i < 30; ++i)
        t.update(music, 0.1);
    EXPECT_NEAR(t.appliedCents(), 6.0, 1e-9);   // 3 s at 2 cents per second
    for (int i = 0; i < 30; ++i)
        t.update(music, 0.1);
    EXPECT_NEAR(t.appliedCents(), 12.0, 1e-9);   // 6 s: there (up to the rounding of 60 steps)
    t.update(music, 0.1);
    EXPECT_EQ(t.appliedCents(), 12.0);   // and exactly there, without overshoot
    EXPECT_NEAR(t.appliedA4(), 443.06, 0.01);
    EXPECT_NEAR(t.factor(0.981818), 0.97504, 1e-5);   // 443.06 Hz music lands on 432 Hz

    t.update({443.06, 12.0, 0.2}, 1.0);
    EXPECT_NEAR(t.appliedCents(), 10.0, 1e-12);   // unsure: back towards 0 at the same speed
}

} // namespace
