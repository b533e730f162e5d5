// SPDX-License-Identifier: GPL-3.0-or-later
// The whole-file estimator on material with a known answer. Its accuracy over many styles is
// measured by bench/eval (detect_eval_report); here: the cases its design exists for.
#include "TonvelCore/FileTuningEstimator.h"

#include "ToneSignals.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace tonesignals;
constexpr double rate = 22050.0;
constexpr double seconds = 8.0;

std::vector<float> mix(const std::vector<float> &a, const std::vector<float> &b)
{
    std::vector<float> out(a);
    for (std::size_t i = 0; i < out.size() && i < b.size(); ++i)
        out[i] += b[i];
    return out;
}

// Mains hum: 50 Hz and its harmonics, falling as 1/k^2.
std::vector<float> hum()
{
    std::vector<Partial> list;
    for (int k = 1; k <= 9; ++k)
        list.push_back({50.0 * k, 0.3 / (k * k)});
    return partials(list, seconds, rate);
}

TEST(FileTuningEstimator, EstimatesAndConfidence)
{
    const struct {
        const char *name;
        std::vector<float> signal;
        double cents; // expected offset; NAN: not checked
        double tolerance;
        bool confident;
    } cases[] = {
        // 10 partials: the flat 5th and 7th harmonics must not pull the estimate.
        {"harmonic chords at 432 Hz", chord({-9, -5, -2, 3}, -31.77, 10, seconds, rate), -31.77, 0.3, true},
        // The octave partials of a stiff string are sharp.
        {"stiff-string notes at 444 Hz", pianoLike({-21, -17, -14, -9, -5, -2}, 15.67, seconds, rate), 15.67, 1.0,
         true},
        // A melody over steady hum: the hum's lines (about +34 ct) are not the music's.
        {"music over hum", mix(hum(), pianoLike({-12, -8, -5, 0, 2, 4}, -10.0, seconds, rate)), -10.0, 0.5, true},
        {"mains hum alone", hum(), NAN, 0.0, false},
        // One pitch class cannot show a tuning, however steady.
        {"a single test tone", sine(432.0, seconds, rate), -31.77, 0.3, false},
        {"white noise", whiteNoise(seconds, rate), NAN, 0.0, false},
        {"drums", drums(seconds, rate), NAN, 0.0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto e = FileTuningEstimator::create(rate);
        ASSERT_TRUE(e);
        e->append(c.signal);
        const auto r = e->estimate();
        if (!std::isnan(c.cents)) {
            EXPECT_NEAR(r.centsOffset, c.cents, c.tolerance);
            EXPECT_NEAR(r.a4Hz, 440.0 * std::exp2(r.centsOffset / 1200.0), 1e-9);
        }
        EXPECT_EQ(r.isConfident(), c.confident) << r.confidence;
        EXPECT_GE(r.centsOffset, -50.0);
        EXPECT_LT(r.centsOffset, 50.0);
    }
}

TEST(FileTuningEstimator, RejectsUnusableRatesAndKnowsNothingBeforeSound)
{
    for (const double r : {0.0, -44100.0, 1000.0, double(NAN), double(INFINITY)})
        EXPECT_FALSE(FileTuningEstimator::create(r)) << r;
    auto e = FileTuningEstimator::create(48000.0);
    ASSERT_TRUE(e);
    e->append(std::vector<float>(96000, 0.0f));
    e->append(nullptr, 100);
    EXPECT_EQ(e->estimate(), TuningAnalyzer::Estimate::assumedStandard);
}

} // namespace
