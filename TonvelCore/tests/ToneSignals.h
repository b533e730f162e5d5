// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Synthetic test material for the tuning analyzer: tones, chords, inharmonic and vibrato
// tones, noise and drum-like hits, each generated at a known offset from A4 = 440 Hz.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace tonesignals {

inline constexpr double twoPi = 2.0 * std::numbers::pi;

// Frequency of the note `semitonesFromA4` away from A4 when the music is tuned `offsetCents`
// away from 440 Hz.
inline double noteHz(double semitonesFromA4, double offsetCents)
{
    return 440.0 * std::exp2((semitonesFromA4 * 100.0 + offsetCents) / 1200.0);
}

struct Partial
{
    double hz;
    double amplitude;
};

// Sum of steady sinusoids; phases spread so the peaks do not line up.
inline std::vector<float> partials(const std::vector<Partial> &list, double seconds, double rate)
{
    std::vector<double> mix(std::size_t(seconds * rate), 0.0);
    double phase0 = 0.3;
    for (const Partial &p : list) {
        const double step = twoPi * p.hz / rate;
        for (std::size_t i = 0; i < mix.size(); ++i)
            mix[i] += p.amplitude * std::sin(phase0 + step * double(i));
        phase0 += 1.7;
    }
    return std::vector<float>(mix.begin(), mix.end());
}

inline std::vector<float> sine(double hz, double seconds, double rate, double amplitude = 0.5)
{
    return partials({{hz, amplitude}}, seconds, rate);
}

// Harmonic notes (semitones from A4) with `count` partials falling as 1/k (a bright, saw-like
// timbre), sounding together.
inline std::vector<float> chord(const std::vector<double> &semitones, double offsetCents, int count,
                                double seconds, double rate, double amplitude = 0.15)
{
    std::vector<Partial> list;
    for (double s : semitones)
        for (int k = 1; k <= count; ++k)
            list.push_back({noteHz(s, offsetCents) * k, amplitude / k});
    return partials(list, seconds, rate);
}

inline std::vector<float> harmonicTone(double f0, int count, double seconds, double rate)
{
    return chord({12.0 * std::log2(f0 / 440.0)}, 0.0, count, seconds, rate, 0.3);
}

// Piano-like: struck notes with stretched partials f_k = k f0 sqrt(1 + B k^2) that decay,
// higher partials faster; a new note every `interval` seconds from `semitones` in turn.
inline std::vector<float> pianoLike(const std::vector<double> &semitones, double offsetCents, double seconds,
                                    double rate, double inharmonicity = 4e-4, double interval = 0.5)
{
    const auto n = std::size_t(seconds * rate);
    std::vector<double> mix(n, 0.0);
    const auto noteLength = std::size_t(interval * rate);
    std::size_t start = 0;
    for (std::size_t note = 0; start < n; ++note, start += noteLength) {
        const double f0 = noteHz(semitones[note % semitones.size()], offsetCents);
        const std::size_t end = std::min(n, start + std::size_t(2.5 * rate));   // rings on under the next notes
        for (int k = 1; k <= 12; ++k) {
            const double fk = k * f0 * std::sqrt(1.0 + inharmonicity * k * k);
            if (fk > rate * 0.45)
                break;
            const double amp = 0.25 / k;
            const double decay = std::exp(-(1.5 + 0.4 * k) / rate);
            const double step = twoPi * fk / rate;
            double env = amp;
            for (std::size_t i = start; i < end; ++i) {
                mix[i] += env * std::sin(step * double(i - start) + k);
                env *= decay;
            }
        }
    }
    return std::vector<float>(mix.begin(), mix.end());
}

// Harmonic tone whose pitch swings ±depthCents around its centre at `rateHz`.
inline std::vector<float> vibrato(double f0, double depthCents, double rateHz, int count, double seconds,
                                  double rate)
{
    const auto n = std::size_t(seconds * rate);
    std::vector<float> out(n);
    double phase = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        const double f = f0 * std::exp2(depthCents * std::sin(twoPi * rateHz * t) / 1200.0);
        double v = 0.0;
        for (int k = 1; k <= count; ++k)
            v += 0.3 / k * std::sin(k * phase);
        out[i] = float(v);
        phase = std::fmod(phase + twoPi * f / rate, twoPi);
    }
    return out;
}

inline std::vector<float> whiteNoise(double seconds, double rate, double amplitude = 0.3, std::uint32_t seed = 1)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> out(std::size_t(seconds * rate));
    for (float &v : out)
        v = float(amplitude) * dist(gen);
    return out;
}

// Pink-ish noise: white noise through Paul Kellet's economy filter.
inline std::vector<float> pinkNoise(double seconds, double rate, std::uint32_t seed = 2)
{
    std::vector<float> white = whiteNoise(seconds, rate, 1.0, seed);
    double b0 = 0, b1 = 0, b2 = 0;
    for (float &v : white) {
        const double w = v;
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        v = float(0.1 * (b0 + b1 + b2 + w * 0.1848));
    }
    return white;
}

// A drum pattern at 120 bpm: kick (pitch sweep 160 -> 45 Hz), snare (noise + 190 Hz body),
// closed hi-hat (high-passed noise) on the eighths.
inline std::vector<float> drums(double seconds, double rate, std::uint32_t seed = 3)
{
    const auto n = std::size_t(seconds * rate);
    std::vector<float> out(n, 0.0f);
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    const auto eighth = std::size_t(0.25 * rate);
    for (std::size_t beat = 0; beat * eighth < n; ++beat) {
        const std::size_t start = beat * eighth;
        const std::size_t len = std::min(n - start, std::size_t(0.24 * rate));
        double phase = 0.0, prev = 0.0;
        for (std::size_t i = 0; i < len; ++i) {
            const double t = double(i) / rate;
            double v = 0.0;
            if (beat % 4 == 0) {   // kick
                const double f = 45.0 + 115.0 * std::exp(-t * 25.0);
                phase += twoPi * f / rate;
                v += 0.8 * std::exp(-t * 9.0) * std::sin(phase);
            } else if (beat % 4 == 2) {   // snare
                v += 0.4 * std::exp(-t * 18.0) * noise(gen) + 0.3 * std::exp(-t * 25.0) * std::sin(twoPi * 190.0 * t);
            }
            const double w = noise(gen);   // hi-hat: first difference of noise
            v += 0.15 * std::exp(-t * 60.0) * (w - prev);
            prev = w;
            out[start + i] += float(v);
        }
    }
    return out;
}

} // namespace tonesignals
