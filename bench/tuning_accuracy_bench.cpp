// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the tuning analyzer on generated material: pure, harmonic, chord, piano-like and
// vibrato tones at ten known offsets, and noise, drums and silence that should stay unsure.
// Prints a table (mean, worst and mean signed error after 8 s, lowest confidence) and the time
// a steady chord needs to become confident. The unit test checks the essentials; this is the
// report to read when the analysis changes.
#include "TonvelCore/TuningAnalyzer.h"

#include "../TonvelCore/tests/ToneSignals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace ts = tonesignals;

constexpr double rate = 48000.0;
constexpr double seconds = 8.0;
constexpr double offsets[] = {0.0, -31.77, 12.0, 25.0, -25.0, 48.0, -48.0, -10.0, 36.0, 5.0};
// Notes (semitones from A4) cycled through the offsets, so peaks land at many bin fractions.
constexpr double melodyNotes[] = {0, 3, -5, -12, 7, -9, 10, -2, 5, -7};

TuningAnalyzer::Estimate analyse(const std::vector<float> &signal)
{
    auto a = TuningAnalyzer::create(rate, 16384);
    a->append(signal);
    return a->estimate();
}

// Error on the circle of one semitone: -50 <= e < 50.
double wrappedError(double measured, double truth)
{
    const double e = std::fmod(measured - truth + 150.0, 100.0);
    return (e < 0 ? e + 100.0 : e) - 50.0;
}

// Seconds of steady sound until the confidence first reaches the threshold (fed hop by hop).
double secondsToConfidence(const std::vector<float> &signal)
{
    auto a = TuningAnalyzer::create(rate, 16384);
    const std::size_t hop = std::size_t(a->hopSize());
    for (std::size_t pos = 0; pos + hop <= signal.size(); pos += hop) {
        a->append(signal.data() + pos, std::int64_t(hop));
        if (a->estimate().isConfident())
            return double(pos + hop) / rate;
    }
    return INFINITY;
}

void row(const char *kind, const std::function<std::vector<float>(double note, double offset)> &make)
{
    double sumAbs = 0, worst = 0, sumSigned = 0, lowest = 1;
    for (std::size_t i = 0; i < std::size(offsets); ++i) {
        const auto e = analyse(make(melodyNotes[i], offsets[i]));
        const double err = wrappedError(e.centsOffset, offsets[i]);
        sumAbs += std::abs(err);
        sumSigned += err;
        worst = std::max(worst, std::abs(err));
        lowest = std::min(lowest, e.confidence);
    }
    const double n = double(std::size(offsets));
    std::printf("| %-24s | %10.3f | %11.3f | %+11.3f | %14.2f |\n", kind, sumAbs / n, worst, sumSigned / n,
                lowest);
}

} // namespace

int main()
{
    std::printf("Tuning analyzer accuracy, 48 kHz, N = 16384, after %.0f s, %zu offsets from %+.2f to %+.2f "
                "cents\n\n",
                seconds, std::size(offsets), -48.0, 48.0);
    std::printf("| %-24s | %10s | %11s | %11s | %14s |\n|%s|\n", "kind", "mean |err|", "worst |err|",
                "mean signed", "confidence min",
                "--------------------------|------------|-------------|-------------|----------------");
    row("pure tone", [](double note, double off) { return ts::sine(ts::noteHz(note, off), seconds, rate); });
    row("pure tone >= 440 Hz",
        [](double note, double off) { return ts::sine(ts::noteHz(std::abs(note) + 1, off), seconds, rate); });
    row("harmonic, 4 partials", [](double note, double off) {
        return ts::harmonicTone(ts::noteHz(note, off) / 2, 4, seconds, rate);
    });
    row("harmonic, 10 partials", [](double note, double off) {
        return ts::harmonicTone(ts::noteHz(note, off) / 2, 10, seconds, rate);
    });
    row("chord, 4 notes x 8", [](double, double off) {
        return ts::chord({-21, -9, -5, -2}, off, 8, seconds, rate);
    });
    row("piano-like, stretched", [](double, double off) {
        return ts::pianoLike({-21, -17, -14, -9, -5, -2, 3}, off, seconds, rate);
    });
    row("vibrato +-20 ct, 5.5 Hz", [](double note, double off) {
        return ts::vibrato(ts::noteHz(note, off) / 2, 20.0, 5.5, 6, seconds, rate);
    });

    std::printf("\n| %-24s | %10s |\n|--------------------------|------------|\n", "unsure material",
                "confidence");
    const std::pair<const char *, std::vector<float>> unsure[] = {
        {"white noise", ts::whiteNoise(seconds, rate)},
        {"pink noise", ts::pinkNoise(seconds, rate)},
        {"drums", ts::drums(seconds, rate)},
        {"silence", std::vector<float>(std::size_t(seconds * rate), 0.0f)},
        {"quiet hiss", ts::whiteNoise(seconds, rate, 0.002)},
    };
    for (const auto &[name, signal] : unsure)
        std::printf("| %-24s | %10.3f |\n", name, analyse(signal).confidence);

    std::printf("\nSteady chord, time to first confidence >= %.2f: %.2f s at 440 Hz, %.2f s at 432 Hz\n",
                TuningAnalyzer::confidenceThreshold,
                secondsToConfidence(ts::chord({-21, -9, -5, -2}, 0.0, 8, seconds, rate)),
                secondsToConfidence(ts::chord({-21, -9, -5, -2}, -31.77, 8, seconds, rate)));
    return 0;
}
