// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningAnalyzer.h"

#include "ToneSignals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// Counts every allocation of this program, to prove that feeding frames allocates nothing.
#include "../../TonvelStretch/tests/AllocationCounter.h"

namespace {

using tonesignals::sine;
using Estimate = TuningAnalyzer::Estimate;

constexpr double rate = 48000.0;
constexpr std::int64_t n = 16384;

std::unique_ptr<TuningAnalyzer> analyzer48k()
{
    auto a = TuningAnalyzer::create(rate, n);
    EXPECT_NE(a, nullptr);
    return a;
}

Estimate analyse(const std::vector<float> &signal, double sampleRate = rate)
{
    auto a = TuningAnalyzer::create(sampleRate, n);
    a->append(signal);
    return a->estimate();
}

// Log-parabolic interpolation on a Hann window misplaces a lone peak by up to 0.0166 bin
// (none at a bin centre or half-way between bins); in cents that is what a pure tone may read.
double interpolationBiasCents(double hz, double sampleRate = rate)
{
    return 1200.0 * std::log2(1.0 + 0.0170 * sampleRate / double(n) / hz);
}

TEST(TuningAnalyzerCreate, rejects_bad_sizes_and_rates_accepts_1024_and_extreme_rates)
{
    // 1 << 32 is beyond the FFT's 32-bit size.
    for (std::int64_t size : {std::int64_t(1000), std::int64_t(1536), std::int64_t(512), std::int64_t(0),
                              std::int64_t(-16384), std::int64_t(1) << 32})
        EXPECT_EQ(TuningAnalyzer::create(rate, size), nullptr) << size;
    for (double r :
         {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        EXPECT_EQ(TuningAnalyzer::create(r, n), nullptr) << r;
    auto small = TuningAnalyzer::create(rate, 1024); // the smallest size
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->hopSize(), 512);
    // Extreme rates analyse without harm.
    for (double r : {1e-300, 1.0, 1e300}) {
        auto a = TuningAnalyzer::create(r, 1024);
        ASSERT_NE(a, nullptr);
        a->append(sine(0.01, 1.0, 48000.0));
        EXPECT_EQ(a->estimate().centsOffset, 0.0);
        EXPECT_EQ(a->estimate().confidence, 0.0);
    }
}

TEST(TuningAnalyzerFraming, fewer_than_n_samples_analyse_nothing_then_each_half_frame_one_more)
{
    auto a = analyzer48k();
    const std::vector<float> tone = sine(440.0, 1.0, rate);
    a->append(tone.data(), -5); // negative and null input are ignored
    a->append(nullptr, 100);
    EXPECT_EQ(a->inputFill(), 0);
    a->append(tone.data(), n - 1);
    EXPECT_EQ(a->analysedFrames(), 0u);
    EXPECT_EQ(a->estimate(), Estimate::assumedStandard);

    a->append(tone.data() + n - 1, 1);
    EXPECT_EQ(a->analysedFrames(), 1u);
    EXPECT_EQ(a->inputFill(), n / 2);
    const double oneFrame = a->estimate().confidence;
    EXPECT_GT(oneFrame, 0.0); // one frame is some evidence, not yet enough to act on
    EXPECT_LT(oneFrame, TuningAnalyzer::confidenceThreshold);

    a->append(tone.data() + n, n / 2 - 1);
    EXPECT_EQ(a->analysedFrames(), 1u);
    a->append(tone.data() + n + n / 2 - 1, 1);
    EXPECT_EQ(a->analysedFrames(), 2u);
    EXPECT_GT(a->estimate().confidence, oneFrame);
}

TEST(TuningAnalyzerFraming, block_size_does_not_change_the_result)
{
    const std::vector<float> chord = tonesignals::chord({-9, -5, -2}, -7.0, 6, 4.0, rate);
    auto whole = analyzer48k();
    whole->append(chord);
    auto pieces = analyzer48k();
    for (std::size_t pos = 0, step = 1; pos < chord.size(); pos += step, step = step * 7 % 5001 + 1)
        pieces->append(chord.data() + pos, std::int64_t(std::min(step, chord.size() - pos)));
    EXPECT_EQ(whole->analysedFrames(), pieces->analysedFrames());
    EXPECT_EQ(whole->analysedFrames(), std::uint64_t((chord.size() - n) / (n / 2) + 1));
    EXPECT_EQ(whole->estimate(), pieces->estimate());
}

// Silence, a tone below the level gate and a peak below the 60 Hz band all count as nothing.
TEST(TuningAnalyzerEstimate, silence_quiet_tones_and_peaks_below_60_hz_never_move_off_assumed_standard)
{
    auto a = analyzer48k();
    a->append(std::vector<float>(std::size_t(rate * 10), 0.0f));
    a->append(sine(440.0, 5.0, rate, 0.0005)); // mean square under 1e-6
    EXPECT_GT(a->analysedFrames(), 80u);
    EXPECT_EQ(a->estimate(), Estimate::assumedStandard);
    EXPECT_EQ(analyse(sine(59.9, 4.0, rate)), Estimate::assumedStandard);
}

TEST(TuningAnalyzerEstimate, offset_of_exactly_plus_50_is_reported_as_minus_50)
{
    const Estimate e = TuningAnalyzer::estimateFrom(-2.0, +0.0, 2.0, 1.0); // atan2 = +pi
    EXPECT_EQ(e.centsOffset, -50.0);
    EXPECT_DOUBLE_EQ(e.confidence, 1.0);
    EXPECT_EQ(TuningAnalyzer::estimateFrom(-2.0, -0.0, 2.0, 1.0).centsOffset, -50.0); // atan2 = -pi
}

// After the music stops the offset stays; once the evidence no longer covers three seconds the
// confidence fades by a factor e every 7 s of silence.
TEST(TuningAnalyzerEstimate, silence_after_music_keeps_the_offset_and_fades_the_confidence)
{
    auto a = analyzer48k();
    a->append(sine(432.0, 6.0, rate));
    const Estimate heard = a->estimate();
    ASSERT_TRUE(heard.isConfident());
    a->append(std::vector<float>(std::size_t(rate * 5), 0.0f));
    const Estimate fading = a->estimate();
    a->append(std::vector<float>(std::size_t(rate * 7), 0.0f));
    const Estimate later = a->estimate();
    EXPECT_NEAR(fading.centsOffset, heard.centsOffset, 0.1); // the last frames still hold the tone's end
    EXPECT_NEAR(later.centsOffset, fading.centsOffset, 1e-9);
    EXPECT_LT(fading.confidence, heard.confidence);
    EXPECT_NEAR(later.confidence / fading.confidence, std::exp(-1.0), 0.01);
}

// Non-finite samples (and finite ones whose square overflows in single precision) must not
// poison the estimate.
std::vector<float> withBadSamples(std::vector<float> v)
{
    v[1000] = std::numeric_limits<float>::infinity();
    v[40000] = std::numeric_limits<float>::quiet_NaN();
    v[70000] = 3e38f;
    return v;
}

// Pure tones read their offset to within the interpolation bound at any rate, near the wrap
// (staying on their side; +50 is -50) and at the bottom of the band. Rich material reads it
// within a few cents (off-grid partials pull rich tones flat, stretched piano partials sharp)
// and is confident within 4 s; deviations average as angles (+45 and -45 cents are 10 cents
// apart, their mean at the wrap); noise and drums stay unsure. Offsets compare on the circle.
TEST(TuningAnalyzerEstimate, tones_and_music_read_their_offset_and_noise_and_drums_stay_unsure)
{
    namespace ts = tonesignals;
    const double at12 = ts::noteHz(3, 12.0), up48 = ts::noteHz(0, 48.0), down48 = ts::noteHz(0, -48.0),
                 up50 = ts::noteHz(0, 50.0);
    const double sure = TuningAnalyzer::confidenceThreshold;
    const struct {
        const char *name;
        std::vector<float> signal;
        double offset, allowed; // allowed < 0: must stay below the confidence threshold
        double confidence;      // at least (the threshold: isConfident)
        double sampleRate = rate;
    } cases[] = {
        {"440 Hz, 0.19 bin off a centre", sine(440.0, 8.0, rate), 0.0, interpolationBiasCents(440.0), 0.9},
        {"432 Hz with bad samples", withBadSamples(sine(432.0, 8.0, rate)), -31.77, 0.1, 0.95},
        {"+12 at 44.1 kHz", sine(at12, 8.0, 44100.0), 12.0, interpolationBiasCents(at12, 44100.0), 0.9, 44100.0},
        {"+12 at 96 kHz", sine(at12, 8.0, 96000.0), 12.0, interpolationBiasCents(at12, 96000.0), 0.9, 96000.0},
        {"+48", sine(up48, 8.0, rate), 48.0, interpolationBiasCents(up48), 0.9},
        {"-48", sine(down48, 8.0, rate), -48.0, interpolationBiasCents(down48), 0.9},
        {"+50", sine(up50, 8.0, rate), -50.0, interpolationBiasCents(up50), 0.9},
        {"60 Hz", sine(60.0, 8.0, rate), 1200.0 * std::log2(60.0 / 440.0) + 3400.0, 0.5, 0.9}, // -49.4
        {"chord at 432", ts::chord({-21, -9, -5, -2}, -31.77, 8, 4.0, rate), -31.77, 6.0, sure},
        {"harmonic tone", ts::harmonicTone(ts::noteHz(-12, 25.0), 10, 4.0, rate), 25.0, 6.0, sure},
        {"piano-like", ts::pianoLike({-21, -17, -14, -9, -5, -2, 3}, 12.0, 4.0, rate), 12.0, 8.0, sure},
        {"vibrato", ts::vibrato(ts::noteHz(-9, -45.0), 20.0, 5.5, 6, 4.0, rate), -45.0, 6.0, sure},
        // cos(18 degrees) = 0.95 when both weigh the same
        {"+45 and -45", ts::partials({{ts::noteHz(0, 45.0), 0.3}, {ts::noteHz(7, -45.0), 0.3}}, 8.0, rate),
         -50.0, 1.0, 0.9},
        {"white noise", ts::whiteNoise(8.0, rate), 0.0, -1.0, 0.0},
        {"pink noise", ts::pinkNoise(8.0, rate), 0.0, -1.0, 0.0},
        {"drums", ts::drums(8.0, rate), 0.0, -1.0, 0.0},
    };
    for (const auto &c : cases) {
        const Estimate e = analyse(c.signal, c.sampleRate);
        if (c.allowed < 0) {
            EXPECT_LT(e.confidence, TuningAnalyzer::confidenceThreshold) << c.name;
            continue;
        }
        EXPECT_GE(e.confidence, c.confidence) << c.name;
        EXPECT_NEAR(std::remainder(e.centsOffset - c.offset, 100.0), 0.0, c.allowed) << c.name;
        EXPECT_NEAR(e.a4Hz, 440.0 * std::exp2(e.centsOffset / 1200.0), 1e-9) << c.name;
        EXPECT_GE(e.centsOffset, -50.0) << c.name;
        EXPECT_LT(e.centsOffset, 50.0) << c.name;
    }
}

TEST(TuningAnalyzerLifecycle, feeding_and_reset_allocate_nothing_and_reset_starts_afresh)
{
    const std::vector<float> music = tonesignals::chord({-21, -9, -5, -2, 3}, 5.0, 8, 3.0, rate);
    auto a = analyzer48k();
    long allocated = 0;
    {
        CountAllocations counter;
        a->append(music);
        a->append(music.data(), 1000);
        a->reset();
        allocated = counter.count();
    }
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(a->estimate(), Estimate::assumedStandard);
    EXPECT_EQ(a->inputFill(), 0);
    EXPECT_EQ(a->analysedFrames(), 0u);
    a->append(music);
    EXPECT_EQ(a->estimate(), analyse(music)); // identical to a fresh analyzer
}

} // namespace
