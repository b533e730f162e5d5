// SPDX-License-Identifier: GPL-3.0-or-later
// Which Rubber Band configuration could serve each stretch engine: cost and quality of every
// candidate through tv_stretch (stereo, 48 kHz, 440 -> 432 Hz), in one run, as a table.
//
//   cpu256 / cpu2048  thread CPU / audio time over 10 s of a three-harmonic tone + noise,
//                     in blocks of 256 and 2048 frames (% of one core)
//   res440 dB         what is left at 440 Hz of a 440 Hz sine, against the 432 Hz it became
//   AM %              amplitude modulation of that steady sine: (max - min) / (max + min) of
//                     its RMS over exactly 9 periods (1000 frames)
//   smear ms          width of a click in the output, where it stays above 10 % of its peak
//   chord dB          the largest level error of the partials of an A major chord (440,
//                     554.37, 659.26 Hz) after the shift, or by how much a leak left at an
//                     old partial exceeds -60 dB
//   lat ms            the wrapper's fixed latency
// The "peer" rows are the configuration of EasyEffects' pitch plugin (7.0: realtime R2,
// pitch high consistency, channels together, crispness 3 = smooth transients and laminar
// phase, formants shifted; "faster" selects pitch high speed), run through the same wrapper.
// Nothing is asserted; render/ChainDsp.cpp names the figures its choice for files rests on.
#include "tonvel_stretch.h"

#include <tv_handles.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr double kFactor = 432.0 / 440.0;

struct Candidate {
    const char *name;
    tv_stretch_options options;
};

double threadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<float> sines(std::initializer_list<double> hz, double amplitude, double seconds)
{
    std::vector<float> v(static_cast<size_t>(seconds * kRate));
    for (size_t i = 0; i < v.size(); ++i) {
        double s = 0.0;
        for (double f : hz)
            s += amplitude * std::sin(2.0 * M_PI * f * static_cast<double>(i) / kRate);
        v[i] = static_cast<float>(s);
    }
    return v;
}

// Mono signal through a stereo engine (both channels the same), in blocks of `block`; returns
// the left output with the latency removed.
std::vector<float> render(tv_stretch *s, const std::vector<float> &in, uint32_t block)
{
    const uint32_t latency = tv_stretch_latency_frames(s);
    std::vector<float> padded(in);
    padded.resize(in.size() + latency + block, 0.0f);
    std::vector<float> left(padded.size()), right(padded.size());
    for (size_t off = 0; off + block <= padded.size(); off += block) {
        tv_stretch_set_channel(s, 0, padded.data() + off, 1, left.data() + off, 1);
        tv_stretch_set_channel(s, 1, padded.data() + off, 1, right.data() + off, 1);
        tv_stretch_process(s, block);
    }
    return {left.begin() + latency, left.begin() + latency + static_cast<long>(in.size())};
}

// Amplitude of frequency hz in v[from, to) (Hann window, Goertzel-like projection).
double amplitude(const std::vector<float> &v, size_t from, size_t to, double hz)
{
    double re = 0.0, im = 0.0, wsum = 0.0;
    for (size_t i = from; i < to; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * static_cast<double>(i - from) / static_cast<double>(to - from));
        const double ph = 2.0 * M_PI * hz * static_cast<double>(i) / kRate;
        re += w * v[i] * std::cos(ph);
        im += w * v[i] * std::sin(ph);
        wsum += w;
    }
    return 2.0 * std::hypot(re, im) / wsum;
}

double dB(double ratio)
{
    return 20.0 * std::log10(std::max(ratio, 1e-12));
}

struct Row {
    double cpu256 = 0, cpu2048 = 0, residual = 0, am = 0, smear = 0, chord = 0, latencyMs = 0;
};

double cpuPercent(const tv_stretch_options &o, uint32_t block)
{
    tv::StretchPtr s(tv_stretch_create_options(2, std::max<uint32_t>(block, 4096), kRate, &o));
    tv_stretch_set_factor(s.get(), kFactor);
    tv_stretch_reset(s.get());
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    std::vector<float> in = sines({220.0, 440.0, 1320.0}, 0.2, 10.0);
    for (float &x : in)
        x += noise(rng);
    const double t0 = threadSeconds();
    render(s.get(), in, block);
    return 100.0 * (threadSeconds() - t0) / 10.0;
}

Row measure(const tv_stretch_options &o)
{
    Row r;
    r.cpu256 = cpuPercent(o, 256);
    r.cpu2048 = cpuPercent(o, 2048);
    tv::StretchPtr s(tv_stretch_create_options(2, 4096, kRate, &o));
    tv_stretch_set_factor(s.get(), kFactor);
    tv_stretch_reset(s.get());
    r.latencyMs = 1000.0 * tv_stretch_latency_seconds(s.get());

    const size_t from = static_cast<size_t>(kRate), to = static_cast<size_t>(3 * kRate);
    const std::vector<float> sine = render(s.get(), sines({440.0}, 0.5, 3.0), 512);
    r.residual = dB(amplitude(sine, from, to, 440.0) / amplitude(sine, from, to, 432.0));
    double lo = 1e9, hi = 0.0;
    for (size_t i = from; i + 1000 <= to; i += 250) {
        double sum = 0.0;
        for (size_t k = i; k < i + 1000; ++k)
            sum += static_cast<double>(sine[k]) * sine[k];
        lo = std::min(lo, sum);
        hi = std::max(hi, sum);
    }
    r.am = 100.0 * (std::sqrt(hi) - std::sqrt(lo)) / (std::sqrt(hi) + std::sqrt(lo));

    tv_stretch_reset(s.get());
    std::vector<float> clicks(static_cast<size_t>(3 * kRate), 0.0f);
    for (size_t i = 24000; i < clicks.size(); i += 24000)
        clicks[i] = 1.0f;
    const std::vector<float> out = render(s.get(), clicks, 512);
    std::vector<double> widths;
    for (size_t i = 48000; i + 4800 < out.size(); i += 24000) {
        const size_t a = i - 4800, b = i + 4800;
        float peak = 0.0f;
        for (size_t k = a; k < b; ++k)
            peak = std::max(peak, std::fabs(out[k]));
        size_t first = b, last = a;
        for (size_t k = a; k < b; ++k) {
            if (std::fabs(out[k]) >= 0.1f * peak) {
                first = std::min(first, k);
                last = k;
            }
        }
        widths.push_back(1000.0 * static_cast<double>(last - first) / kRate);
    }
    std::sort(widths.begin(), widths.end());
    r.smear = widths.empty() ? 0.0 : widths[widths.size() / 2];

    tv_stretch_reset(s.get());
    const double chord[] = {440.0, 554.365, 659.255};
    const std::vector<float> played = render(s.get(), sines({chord[0], chord[1], chord[2]}, 0.2, 3.0), 512);
    for (double f : chord) {
        r.chord = std::max(r.chord, std::fabs(dB(amplitude(played, from, to, f * kFactor) / 0.2)));
        r.chord = std::max(r.chord, dB(amplitude(played, from, to, f) / 0.2) + 60.0); // leak above -60 dB
    }
    return r;
}

} // namespace

// Arguments: run only the configurations whose names contain one of them.
int main(int argc, char **argv)
{
    using O = tv_stretch_options;
    constexpr uint32_t R2 = TV_STRETCH_ENGINE_FASTER, shortW = TV_STRETCH_WINDOW_SHORT,
                       quality = TV_STRETCH_PITCH_QUALITY, speed = TV_STRETCH_PITCH_SPEED,
                       smooth = TV_STRETCH_TRANSIENTS_SMOOTH, mixed = TV_STRETCH_TRANSIENTS_MIXED;
    const Candidate candidates[] = {
        {"R3 short consistency (balanced)", O{0, shortW, 0, 0, 0, 0, 0, 0}},
        {"R3 short quality", O{0, shortW, quality, 0, 0, 0, 0, 0}},
        {"R3 short speed", O{0, shortW, speed, 0, 0, 0, 0, 0}},
        {"R3 short consistency formant", O{0, shortW, 0, 1, 0, 0, 0, 0}},
        {"R3 short consistency together", O{0, shortW, 0, 0, 1, 0, 0, 0}},
        {"R3 standard consistency (highQ)", O{}},
        {"R3 standard quality", O{0, 0, quality, 0, 0, 0, 0, 0}},
        {"R3 standard speed", O{0, 0, speed, 0, 0, 0, 0, 0}},
        {"R3 standard consistency together", O{0, 0, 0, 0, 1, 0, 0, 0}},
        {"R2 consistency crisp", O{R2, 0, 0, 0, 0, 0, 0, 0}},
        {"R2 consistency smooth", O{R2, 0, 0, 0, 0, smooth, 0, 0}},
        {"R2 consistency mixed", O{R2, 0, 0, 0, 0, mixed, 0, 0}},
        {"R2 quality smooth", O{R2, 0, quality, 0, 0, smooth, 0, 0}},
        {"R2 speed smooth", O{R2, 0, speed, 0, 0, smooth, 0, 0}},
        {"R2 speed smooth together", O{R2, 0, speed, 0, 1, smooth, 0, 0}},
        {"R2 consistency smooth indep.", O{R2, 0, 0, 0, 0, smooth, 1, 0}},
        {"R2 short consistency smooth", O{R2, shortW, 0, 0, 0, smooth, 0, 0}},
        {"R2 long consistency smooth", O{R2, TV_STRETCH_WINDOW_LONG, 0, 0, 0, smooth, 0, 0}},
        {"peer (EasyEffects 7.0)", O{R2, 0, 0, 0, 1, smooth, 0, 0}},
        {"peer faster", O{R2, 0, speed, 0, 1, smooth, 0, 0}},
        {"R3 short + own resampler", O{0, shortW, 0, 0, 0, 0, 0, 1}},
        {"R3 standard + own resampler", O{0, 0, 0, 0, 0, 0, 0, 1}},
        {"R2 smooth + own resampler", O{R2, 0, 0, 0, 0, smooth, 0, 1}},
        {"R2 smooth together + own res.", O{R2, 0, 0, 0, 1, smooth, 0, 1}},
        {"R2 short smooth + own res.", O{R2, shortW, 0, 0, 0, smooth, 0, 1}},
        {"R2 crisp + own resampler", O{R2, 0, 0, 0, 0, 0, 0, 1}},
    };
    std::printf("stretch configurations, stereo %.0f Hz, 440 -> 432 Hz\n", kRate);
    std::printf("%-34s %7s %8s %9s %6s %8s %8s %7s\n", "configuration", "cpu256", "cpu2048", "res440dB", "AM%",
                "smear ms", "chord dB", "lat ms");
    for (const Candidate &c : candidates) {
        bool wanted = argc < 2;
        for (int k = 1; k < argc; ++k)
            wanted = wanted || std::strstr(c.name, argv[k]) != nullptr;
        if (!wanted)
            continue;
        if (!tv::StretchPtr(tv_stretch_create_options(2, 4096, kRate, &c.options))) {
            std::printf("%-34s not available\n", c.name);
            continue;
        }
        const Row r = measure(c.options);
        std::printf("%-34s %7.2f %8.2f %9.1f %6.2f %8.1f %8.2f %7.1f\n", c.name, r.cpu256, r.cpu2048, r.residual,
                    r.am, r.smear, r.chord, r.latencyMs);
        std::fflush(stdout);
    }
    return 0;
}
