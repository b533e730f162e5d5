// SPDX-License-Identifier: GPL-3.0-or-later
// The detection is shown whenever analysis runs; it moves the factor only with automatic
// correction on, and nothing counts once the analysis stopped.
#include "controller/TuningDetection.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

TEST(TuningDetection, is_shown_always_and_corrects_only_with_automatic_on)
{
    TuningDetection d(false);
    QSignalSpy moved(&d, &TuningDetection::correctionMoved);
    const TuningAnalyzer::Estimate sharp{445.0, 19.56, 0.8};
    d.consume(sharp, 0.1); // before the start
    EXPECT_EQ(d.a4(), 440.0);

    d.start(nullptr, 48000);
    d.consume(sharp, 0.1);
    EXPECT_EQ(d.a4(), 445.0);
    EXPECT_TRUE(d.isConfident());
    EXPECT_EQ(d.appliedCents(), 0.0);
    EXPECT_EQ(d.correctedFactor(1.0), 1.0);
    EXPECT_EQ(moved.count(), 0);

    d.setAutomatic(true);
    for (int i = 0; i < 10; ++i)
        d.consume(sharp, 0.1);
    EXPECT_GT(d.appliedCents(), 1.9);
    EXPECT_LT(d.correctedFactor(1.0), 1.0);
    EXPECT_EQ(moved.count(), 10);

    d.setAutomatic(false);
    EXPECT_EQ(d.a4(), 440.0);
    EXPECT_EQ(d.confidence(), 0.0);
    EXPECT_EQ(d.appliedCents(), 0.0);
    EXPECT_EQ(d.correctedFactor(1.0), 1.0);

    d.stop();
    d.consume(sharp, 0.1); // posted before the stop
    EXPECT_EQ(d.a4(), 440.0);
}

TEST(TuningDetection, a_new_track_holds_the_correction_until_its_estimate_is_confident)
{
    TuningDetection d(false);
    d.start(nullptr, 48000);
    d.setAutomatic(true);
    const TuningAnalyzer::Estimate sharp{445.0, 19.56, 0.8}, unsure{441.0, 3.9, 0.1}, standard{440.0, 0.0, 0.8};
    for (int i = 0; i < 20; ++i)
        d.consume(sharp, 0.1);
    const double held = d.appliedCents();
    ASSERT_GT(held, 3.9);

    d.startNewTrack();
    EXPECT_EQ(d.confidence(), 0.0);
    for (int i = 0; i < 20; ++i) // without the new track it would glide back towards 0 here
        d.consume(unsure, 0.1);
    EXPECT_EQ(d.appliedCents(), held);
    EXPECT_EQ(d.a4(), 441.0);
    d.consume(standard, 0.5); // then the glide, no faster than before
    EXPECT_NEAR(d.appliedCents(), held - 1.0, 1e-9);
}
