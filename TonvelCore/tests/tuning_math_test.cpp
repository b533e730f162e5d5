// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningMath.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace TuningMath;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

TEST(TuningMathFactor, clamps_a4_into_the_free_range)
{
    EXPECT_EQ(factor(400.0), 0.9090909090909091);
    EXPECT_EQ(factor(399.9), 0.9090909090909091);
    EXPECT_EQ(factor(-inf), 0.9090909090909091);
    EXPECT_EQ(factor(nan), 0.9090909090909091);
    EXPECT_EQ(factor(470.0), 470.0 / 440.0);
    EXPECT_EQ(factor(500.0), 470.0 / 440.0);
    EXPECT_EQ(factor(inf), 470.0 / 440.0);
    EXPECT_EQ(factor(432.0), 0.9818181818181818);
    EXPECT_EQ(factor(440.0), 1.0);
    EXPECT_TRUE(freeA4Range.contains(400.0) && freeA4Range.contains(470.0));
    EXPECT_FALSE(freeA4Range.contains(399.999) || freeA4Range.contains(470.001));
}

TEST(TuningMathCents, is_zero_for_factors_that_are_not_positive_and_finite)
{
    EXPECT_EQ(cents(0.0), 0.0);
    EXPECT_EQ(cents(-1.0), 0.0);
    EXPECT_EQ(cents(inf), 0.0);
    EXPECT_EQ(cents(nan), 0.0);
    EXPECT_EQ(cents(2.0), 1200.0);
    EXPECT_NEAR(cents(0.981818), -31.767, 0.001);
}

// A minus sign (never the ASCII hyphen), and ± for anything that rounds to zero.
TEST(TuningMathFormatCents, uses_minus_sign_plus_minus_and_one_decimal)
{
    EXPECT_EQ(formatCents(-31.767), QString::fromUtf8("\u221231.8 ct"));
    EXPECT_EQ(formatCents(15.6384), QStringLiteral("+15.6 ct"));
    EXPECT_EQ(formatCents(0.05), QStringLiteral("+0.1 ct"));
    EXPECT_EQ(formatCents(-0.05), QString::fromUtf8("\u22120.1 ct"));
    EXPECT_EQ(formatCents(1234.56), QStringLiteral("+1234.6 ct"));
    for (double v : {0.0, -0.0, -0.04, 0.04, -0.0499, 1e-300, -1e-300})
        EXPECT_EQ(formatCents(v), QString::fromUtf8("\u00b10.0 ct")) << v;
}

} // namespace
