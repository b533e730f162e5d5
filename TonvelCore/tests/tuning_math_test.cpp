// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningMath.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace TuningMath;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A4 clamped into the free range (non-finite values to its bottom or top); cents are 0 for
// factors that are not positive and finite.
TEST(TuningMath, factor_clamps_a4_into_the_free_range_and_cents_need_a_usable_factor)
{
    const double lowest = 0.9090909090909091, highest = 470.0 / 440.0;
    for (auto [a4, f] : {std::pair{400.0, lowest}, {399.9, lowest}, {-inf, lowest}, {nan, lowest}, {470.0, highest},
                         {500.0, highest}, {inf, highest}, {432.0, 0.9818181818181818}, {440.0, 1.0}})
        EXPECT_EQ(factor(a4), f) << a4;
    EXPECT_TRUE(freeA4Range.contains(400.0) && freeA4Range.contains(470.0));
    EXPECT_FALSE(freeA4Range.contains(399.999) || freeA4Range.contains(470.001));
    for (double unusable : {0.0, -1.0, inf, nan})
        EXPECT_EQ(cents(unusable), 0.0) << unusable;
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
