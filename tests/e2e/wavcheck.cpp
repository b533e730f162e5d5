// SPDX-License-Identifier: GPL-3.0-or-later
// wavcheck: measures recordings of the end-to-end tests (first channel, or the channel given).
//
//   wavcheck pitch FILE [--from S] [--length S] [--ref HZ]
//       strongest frequency (Blackman-Harris window, refined by golden-section search on the
//       DFT magnitude), its level, and the level at --ref relative to it in dB
//   wavcheck tone FILE --hz F [--window-ms 100] [--above X] [--from S] [--to S] [--beside G]
//       level of one frequency per window (Hann): how many windows carry it above X, the
//       highest level, and where the first such window starts and the last ends ("first_s",
//       "last_s", -1 if none). With --beside G a window counts only if F also stands out by
//       X/2 over its mirror image around G (2G - F): a gap or phase jump in a loud tone at G
//       leaks to both sides alike, a real tone at F sits on one side.
//   wavcheck gaps FILE [--threshold X] [--min-ms 5]
//       silent stretches inside the signal region (between first and last sample above X)
//   wavcheck timeline FILE --from S [--to S] [--retuned HZ] [--plain HZ] [--window-ms 10]
//       what a listener hears after a fault at S: per window silence (peak below 0.01), retuned
//       or unprocessed tone (zero-crossing pitch within 3 Hz of --retuned / --plain, default
//       432 and 440). Prints the longest silence from S on, how long after S the final
//       retuned stretch starts (-1 if the recording does not end retuned), and how much
//       unprocessed audio was heard, and the timeline run-length coded (S silence, R retuned,
//       U unprocessed, X other; lengths in ms).
#include "../../TonvelStretch/tests/SignalMeasures.h"
#include "tool_option.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Audio {
    std::vector<float> samples;  // one channel
    double rate = 0;
};

bool load(const char *path, int channel, Audio &out)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(path, SFM_READ, &info);
    if (!f) {
        std::fprintf(stderr, "wavcheck: cannot open %s: %s\n", path, sf_strerror(nullptr));
        return false;
    }
    std::vector<float> all(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    channel = std::min(channel, info.channels - 1);
    out.rate = info.samplerate;
    out.samples.resize(std::size_t(info.frames));
    for (sf_count_t i = 0; i < info.frames; ++i)
        out.samples[std::size_t(i)] = all[std::size_t(i) * std::size_t(info.channels) + std::size_t(channel)];
    return true;
}

// Windowed DFT magnitude at frequency hz (normalised so a full-scale sine gives its amplitude).
double magnitude(const std::vector<float> &x, const std::vector<double> &w, double wsum, double rate, double hz)
{
    // A rotating phasor instead of sin/cos per sample; re-anchored every 4096 samples so
    // rounding cannot drift.
    const double step = 2.0 * M_PI * hz / rate;
    const double cr = std::cos(step), ci = -std::sin(step);
    double re = 0, im = 0, pr = 1, pi = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        if ((n & 4095) == 0) {
            pr = std::cos(step * double(n));
            pi = -std::sin(step * double(n));
        }
        const double v = x[n] * w[n];
        re += v * pr;
        im += v * pi;
        const double t = pr * cr - pi * ci;
        pi = pr * ci + pi * cr;
        pr = t;
    }
    return 2.0 * std::sqrt(re * re + im * im) / wsum;
}

int pitch(const Audio &a, int argc, char **argv)
{
    const std::size_t from = std::size_t(option(argc, argv, "--from", 0.5) * a.rate);
    std::size_t len = std::size_t(option(argc, argv, "--length", 2.0) * a.rate);
    if (from >= a.samples.size()) {
        std::printf("error=too_short\n");
        return 1;
    }
    len = std::min(len, a.samples.size() - from);
    std::vector<float> x(a.samples.begin() + long(from), a.samples.begin() + long(from + len));
    std::vector<double> w(len);
    double wsum = 0;
    for (std::size_t n = 0; n < len; ++n) {
        const double t = 2.0 * M_PI * double(n) / double(len - 1);
        w[n] = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) - 0.01168 * std::cos(3 * t);
        wsum += w[n];
    }
    // Coarse scan 50 ... 2000 Hz in 1 Hz steps, then golden-section refinement.
    double best = 0, bestHz = 0;
    for (double hz = 50; hz <= 2000; hz += 1.0) {
        const double m = magnitude(x, w, wsum, a.rate, hz);
        if (m > best) {
            best = m;
            bestHz = hz;
        }
    }
    double lo = bestHz - 1.0, hi = bestHz + 1.0;
    const double g = (std::sqrt(5.0) - 1) / 2;
    double c = hi - g * (hi - lo), d = lo + g * (hi - lo);
    double fc = magnitude(x, w, wsum, a.rate, c), fd = magnitude(x, w, wsum, a.rate, d);
    for (int i = 0; i < 40; ++i) {
        if (fc > fd) {
            hi = d; d = c; fd = fc; c = hi - g * (hi - lo); fc = magnitude(x, w, wsum, a.rate, c);
        } else {
            lo = c; c = d; fc = fd; d = lo + g * (hi - lo); fd = magnitude(x, w, wsum, a.rate, d);
        }
    }
    const double hz = (lo + hi) / 2;
    const double level = magnitude(x, w, wsum, a.rate, hz);
    const double ref = option(argc, argv, "--ref", 440.0);
    const double refLevel = magnitude(x, w, wsum, a.rate, ref);
    std::printf("frequency=%.4f level=%.4f ref_db=%.1f\n", hz, level,
                20.0 * std::log10(std::max(refLevel, 1e-12) / std::max(level, 1e-12)));
    return 0;
}

int tone(const Audio &a, int argc, char **argv)
{
    const double hz = option(argc, argv, "--hz", 440.0);
    const std::size_t win = std::size_t(a.rate * option(argc, argv, "--window-ms", 100) / 1000.0);
    const double above = option(argc, argv, "--above", 0.05);
    const std::size_t from = std::size_t(option(argc, argv, "--from", 0.0) * a.rate);
    const std::size_t to = std::min(a.samples.size(), std::size_t(option(argc, argv, "--to", 1e9) * a.rate));
    const double beside = option(argc, argv, "--beside", 0.0);
    std::vector<double> w(win);
    double wsum = 0;
    for (std::size_t n = 0; n < win; ++n) {
        w[n] = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(n) / double(win - 1));
        wsum += w[n];
    }
    int over = 0;
    double highest = 0, first = -1, last = -1;
    // Half-overlapping windows, so a short burst is never split across two.
    for (std::size_t s = from; s + win <= to; s += win / 2) {
        std::vector<float> x(a.samples.begin() + long(s), a.samples.begin() + long(s + win));
        const double m = magnitude(x, w, wsum, a.rate, hz);
        highest = std::max(highest, m);
        const bool leakOnly = beside > 0 && m - magnitude(x, w, wsum, a.rate, 2 * beside - hz) <= above / 2;
        if (m > above && !leakOnly) {
            ++over;
            if (first < 0)
                first = double(s) / a.rate;
            last = double(s + win) / a.rate;
        }
    }
    std::printf("windows_above=%d highest_level=%.4f first_s=%.3f last_s=%.3f\n", over, highest, first, last);
    return 0;
}

int gaps(const Audio &a, int argc, char **argv)
{
    const double th = option(argc, argv, "--threshold", 0.01);
    const double minMs = option(argc, argv, "--min-ms", 5);
    std::size_t first = a.samples.size(), last = 0;
    for (std::size_t i = 0; i < a.samples.size(); ++i)
        if (std::fabs(a.samples[i]) > th) {
            first = std::min(first, i);
            last = i;
        }
    double longest = 0, total = 0;
    int count = 0;
    std::size_t run = 0;
    for (std::size_t i = first; i <= last && i < a.samples.size(); ++i) {
        if (std::fabs(a.samples[i]) <= th) {
            ++run;
            continue;
        }
        const double ms = 1000.0 * double(run) / a.rate;
        // A sine crosses zero twice per period: only longer runs are gaps.
        if (ms >= minMs) {
            ++count;
            total += ms;
            longest = std::max(longest, ms);
        }
        run = 0;
    }
    std::printf("gaps=%d longest_ms=%.1f total_ms=%.1f\n", count, longest, total);
    return 0;
}

int timeline(const Audio &a, int argc, char **argv)
{
    const double windowMs = option(argc, argv, "--window-ms", 10);
    const std::size_t win = std::size_t(a.rate * windowMs / 1000.0);
    const double retunedHz = option(argc, argv, "--retuned", 432),
                 plainHz = option(argc, argv, "--plain", 440);
    const std::size_t from = std::size_t(std::max(0.0, option(argc, argv, "--from", 0)) * a.rate);
    const std::size_t to = std::min(a.samples.size(), std::size_t(option(argc, argv, "--to", 1e9) * a.rate));
    // A dropped quantum (about 20 ms) or the seam of a crossfade is not a fault: only a stretch
    // of at least this long that is not retuned counts against recovery.
    const std::size_t badRun = std::size_t(60 / windowMs);
    enum Kind { Silent, Retuned, Plain, Other };
    std::vector<Kind> kinds;
    for (std::size_t s = from; s + win <= to; s += win) {
        float peak = 0;
        for (std::size_t i = s; i < s + win; ++i)
            peak = std::max(peak, std::fabs(a.samples[i]));
        // Two windows of zero crossings: 10 ms holds only four periods of 440 Hz.
        const double hz = signalmeasures::measuredHz(a.samples, s, s + std::min(2 * win, to - s), a.rate);
        kinds.push_back(peak < 0.01f                    ? Silent
                        : std::fabs(hz - retunedHz) < 3 ? Retuned
                        : std::fabs(hz - plainHz) < 3   ? Plain
                                                        : Other);
    }
    std::size_t silence = 0, longestSilence = 0, plain = 0, run = 0, retunedFrom = 0;
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        silence = kinds[i] == Silent ? silence + 1 : 0;
        longestSilence = std::max(longestSilence, silence);
        plain += kinds[i] == Plain;
        run = kinds[i] == Retuned ? 0 : run + 1;
        if (run >= badRun)
            retunedFrom = i + 1;
    }
    // The final retuned stretch must be long enough to be heard as such.
    const bool retuned = kinds.size() - retunedFrom >= std::size_t(300 / windowMs);
    // The timeline itself, run-length coded (its start): S silence, R retuned, U unprocessed,
    // X other (a mix, a dropout's edge).
    std::string runs;
    for (std::size_t i = 0, n = 1; i < kinds.size() && runs.size() < 400; ++i, ++n)
        if (i + 1 == kinds.size() || kinds[i + 1] != kinds[i]) {
            runs += (runs.empty() ? "" : ",") + std::string(1, "SRUX"[kinds[i]])
                    + std::to_string(long(double(n) * windowMs));
            n = 0;
        }
    std::printf("silence_ms=%.0f retuned_ms=%.0f plain_ms=%.0f length_ms=%.0f runs=%s\n",
                double(longestSilence) * windowMs, retuned ? double(retunedFrom) * windowMs : -1.0,
                double(plain) * windowMs, double(kinds.size()) * windowMs, runs.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: wavcheck pitch|gaps|tone|timeline FILE [options]\n");
        return 2;
    }
    Audio a;
    if (!load(argv[2], int(option(argc, argv, "--channel", 0)), a))
        return 1;
    const std::string cmd = argv[1];
    if (cmd == "pitch") return pitch(a, argc, argv);
    if (cmd == "gaps") return gaps(a, argc, argv);
    if (cmd == "tone") return tone(a, argc, argv);
    if (cmd == "timeline") return timeline(a, argc, argv);
    std::fprintf(stderr, "wavcheck: unknown command %s\n", cmd.c_str());
    return 2;
}
