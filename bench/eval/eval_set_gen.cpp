// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the material of the detection evaluation set into a folder: MIDI compositions in many
// styles (rendered by make-eval-set.sh with Debian's soundfonts), additive and inharmonic
// clips as WAV, and plan.txt, one line per clip: name;kind;truth;options. Synthesised tunings
// are known by construction; soundfont clips add their instruments' measured tuning
// (--truths, after the calibration notes were rendered). Fixed seed: the same set everywhere.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;
std::mt19937 rng(20261206);

double uniform(double a, double b)
{
    return std::uniform_real_distribution<double>(a, b)(rng);
}
double normal(double sigma)
{
    return sigma > 0.0 ? std::normal_distribution<double>(0.0, sigma)(rng) : 0.0;
}
int pick(int n)
{
    return std::uniform_int_distribution<int>(0, n - 1)(rng);
}

// ---- MIDI -------------------------------------------------------------------------------

struct Midi {
    struct Event {
        std::uint32_t tick;
        int order; // at one tick: set-up, note off, bend, note on
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Event> events;
    static constexpr int ppq = 480;
    // Every pitched note as played, for weighting the instruments' own tuning into a truth.
    struct Use {
        int program, key, velocity;
        std::uint32_t ticks;
    };
    std::vector<Use> uses;
    int programs[16] = {};

    void add(std::uint32_t tick, int order, std::vector<std::uint8_t> b)
    {
        events.push_back({tick, order, std::move(b)});
    }
    void program(int ch, int prog, std::uint32_t tick = 0)
    {
        programs[ch] = prog;
        add(tick, 0, {std::uint8_t(0xC0 | ch), std::uint8_t(prog)});
    }
    void control(int ch, int cc, int v)
    {
        add(0, 0, {std::uint8_t(0xB0 | ch), std::uint8_t(cc), std::uint8_t(v)});
    }
    // Pitch bend in cents; the default bend range is two semitones.
    void bend(int ch, std::uint32_t tick, double cents, int order = 2)
    {
        const int v = std::clamp(int(std::lround(8192.0 + cents / 200.0 * 8192.0)), 0, 16383);
        add(tick, order, {std::uint8_t(0xE0 | ch), std::uint8_t(v & 127), std::uint8_t(v >> 7)});
    }
    void note(int ch, std::uint32_t tick, std::uint32_t length, int key, int velocity)
    {
        if (key < 0 || key > 127)
            return;
        add(tick, 3,
            {std::uint8_t(0x90 | ch), std::uint8_t(key), std::uint8_t(std::clamp(velocity, 1, 127))});
        add(tick + std::max<std::uint32_t>(length, 1), 1, {std::uint8_t(0x80 | ch), std::uint8_t(key), 0});
        if (ch != 9)
            uses.push_back(
                {programs[ch], key, std::clamp(velocity, 1, 127), std::max<std::uint32_t>(length, 1)});
    }
    bool write(const std::string &path, double bpm)
    {
        std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) {
            return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
        });
        std::vector<std::uint8_t> track;
        auto varlen = [&](std::uint32_t v) {
            std::uint8_t buf[5];
            int n = 0;
            buf[n++] = v & 127;
            while (v >>= 7)
                buf[n++] = std::uint8_t(0x80 | (v & 127));
            while (n > 0)
                track.push_back(buf[--n]);
        };
        const std::uint32_t usPerQuarter = std::uint32_t(60e6 / bpm);
        varlen(0);
        track.insert(track.end(), {0xFF, 0x51, 0x03, std::uint8_t(usPerQuarter >> 16),
                                   std::uint8_t(usPerQuarter >> 8), std::uint8_t(usPerQuarter)});
        std::uint32_t last = 0;
        for (const Event &e : events) {
            varlen(e.tick - last);
            last = e.tick;
            track.insert(track.end(), e.bytes.begin(), e.bytes.end());
        }
        varlen(ppq);
        track.insert(track.end(), {0xFF, 0x2F, 0x00});
        std::ofstream out(path, std::ios::binary);
        const std::uint8_t header[] = {'M', 'T', 'h', 'd',      0,         0,   0,   6,   0,
                                       0,   0,   1,   ppq >> 8, ppq & 255, 'M', 'T', 'r', 'k'};
        out.write(reinterpret_cast<const char *>(header), sizeof header);
        const std::uint32_t n = std::uint32_t(track.size());
        const std::uint8_t size[] = {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8),
                                     std::uint8_t(n)};
        out.write(reinterpret_cast<const char *>(size), 4);
        out.write(reinterpret_cast<const char *>(track.data()), std::streamsize(track.size()));
        return bool(out);
    }
};

enum class Texture { block, arpeggio, strum, sustain, none };

struct Style {
    const char *name;
    int bass, chords, melody; // GM programs, -1: not used
    Texture texture;
    bool drums;
    double bpm;
    int scale; // index into scales
    bool sevenths;
    int ensemble = 0;           // extra melody channels, each at its own small offset
    const char *font = nullptr; // soundfont; by default the two alternate
};

constexpr int scales[][7] = {
    {0, 2, 4, 5, 7, 9, 11}, // major
    {0, 2, 3, 5, 7, 8, 10}, // natural minor
    {0, 2, 3, 5, 7, 9, 10}, // dorian
    {0, 2, 3, 5, 7, 8, 11}, // harmonic minor
    {0, 2, 4, 5, 7, 9, 10}, // mixolydian
};

// A composition from a progression, bass, chords, a melody that favours chord tones, drums.
// Each channel is bent by the clip's detuning; the melody (and each ensemble voice) gets its
// own intonation error per note.
std::vector<Midi::Use> compose(const std::string &path, const Style &s, double detuneCents,
                               double jitterCents, double seconds)
{
    Midi m;
    const int tonic = pick(12);
    const int *scale = scales[s.scale];
    static const int progressions[][4] = {
        {0, 4, 5, 3}, {0, 5, 3, 4}, {1, 4, 0, 0}, {0, 3, 4, 0}, {5, 3, 0, 4}};
    const int *prog = progressions[pick(5)];
    const std::uint32_t bar = 4 * Midi::ppq;
    const int bars = int(std::ceil(seconds * s.bpm / 60.0 / 4.0));
    auto degree = [&](int d, int octaveBase) {
        const int o = (d >= 0 ? d / 7 : (d - 6) / 7);
        return octaveBase + tonic + 12 * o + scale[((d % 7) + 7) % 7];
    };
    const int melodyChannels = s.melody >= 0 ? 1 + s.ensemble : 0;
    for (int ch = 0; ch < 16; ++ch) {
        if (ch == 9)
            continue;
        m.control(ch, 91, s.texture == Texture::sustain ? 60 : 30);
        m.bend(ch, 0, detuneCents, 0);
    }
    if (s.bass >= 0)
        m.program(0, s.bass);
    if (s.chords >= 0)
        m.program(1, s.chords);
    for (int v = 0; v < melodyChannels; ++v)
        m.program(2 + v, s.melody);
    static const double spread[] = {-6.0, 5.0, -2.0, 3.0};

    int melodyDegree = 7 + pick(5);
    for (int b = 0; b < bars; ++b) {
        const std::uint32_t t0 = std::uint32_t(b) * bar;
        const int root = prog[b % 4];
        std::vector<int> chord = {root, root + 2, root + 4};
        if (s.sevenths)
            chord.push_back(root + 6);
        if (s.bass >= 0) {
            const int beats = s.drums ? 4 : 2;
            for (int i = 0; i < beats; ++i) {
                const int d = (i == 2 && pick(2)) ? root + 4 : root;
                m.note(0, t0 + std::uint32_t(i) * bar / beats, bar / beats - 20, degree(d, 36), 90);
            }
        }
        if (s.chords >= 0) {
            m.bend(1, t0, detuneCents + normal(jitterCents / 2.0), 2);
            switch (s.texture) {
            case Texture::block:
            case Texture::sustain:
                for (int d : chord)
                    m.note(1, t0, s.texture == Texture::sustain ? bar : bar / 2, degree(d, 55), 70);
                if (s.texture == Texture::block)
                    for (int d : chord)
                        m.note(1, t0 + bar / 2, bar / 2 - 40, degree(d, 55), 60);
                break;
            case Texture::arpeggio:
                for (int i = 0; i < 8; ++i)
                    m.note(1, t0 + std::uint32_t(i) * bar / 8, bar / 4,
                           degree(chord[std::size_t(i) % chord.size()] + (i / 4) * 7, 52), 65);
                break;
            case Texture::strum:
                for (int beat = 0; beat < 4; ++beat)
                    for (std::size_t i = 0; i < chord.size(); ++i)
                        m.note(1, t0 + std::uint32_t(beat) * bar / 4 + std::uint32_t(i) * 15, bar / 4 - 30,
                               degree(chord[i], 52), 75 - 10 * (beat % 2));
                break;
            case Texture::none:
                break;
            }
        }
        if (s.melody >= 0) {
            std::uint32_t t = t0;
            while (t < t0 + bar) {
                const std::uint32_t len = std::uint32_t(Midi::ppq / 2) * std::uint32_t(1 + pick(3));
                melodyDegree = std::clamp(melodyDegree + pick(5) - 2, 4, 14);
                if ((t - t0) % Midi::ppq == 0 && pick(2)) { // strong beats lean on chord tones
                    const int target = chord[std::size_t(pick(3))] + 7;
                    melodyDegree = std::clamp(target + 7 * ((melodyDegree - target) / 7), 4, 14);
                }
                const std::uint32_t l = std::min(len, t0 + bar - t);
                for (int v = 0; v < melodyChannels; ++v) {
                    const double off = v == 0 ? 0.0 : spread[(v - 1) % 4];
                    m.bend(2 + v, t, detuneCents + off + normal(jitterCents), 2);
                    m.note(2 + v, t, l - 20, degree(melodyDegree, 60), 85 - 8 * v);
                }
                t += l;
            }
        }
        if (s.drums) {
            for (int i = 0; i < 8; ++i) {
                const std::uint32_t t = t0 + std::uint32_t(i) * bar / 8;
                m.note(9, t, 60, s.sevenths ? 51 : 42, 70);
                if (i % 4 == 0)
                    m.note(9, t, 60, 36, 100);
                if (i % 4 == 2)
                    m.note(9, t, 60, 38, 95);
            }
        }
    }
    m.write(path, s.bpm);
    return m.uses;
}

void drumPattern(const std::string &path, bool latin, double seconds)
{
    Midi m;
    const double bpm = latin ? 104 : 122;
    const int bars = int(std::ceil(seconds * bpm / 240.0));
    for (int b = 0; b < bars; ++b) {
        for (int i = 0; i < 16; ++i) {
            const std::uint32_t t = std::uint32_t(b * 16 + i) * Midi::ppq / 4;
            if (latin) {
                static const int keys[] = {60, 61, 62, 63, 64, 75, 76, 77, 69, 70};
                if (pick(3))
                    m.note(9, t, 100, keys[pick(10)], 60 + pick(50));
            } else {
                m.note(9, t, 60, i % 2 ? 42 : 44, 60 + pick(20));
                if (i % 8 == 0 || (i == 10 && b % 2))
                    m.note(9, t, 60, 36, 110);
                if (i % 8 == 4)
                    m.note(9, t, 60, 38, 105);
                if (i == 14 && b % 4 == 3) {
                    m.note(9, t, 60, 45, 100);
                    m.note(9, t + 60, 60, 41, 100);
                }
            }
        }
    }
    m.write(path, bpm);
}

// ---- the soundfonts' own tuning ----------------------------------------------------------
//
// Soundfont instruments are not in tune: a sample's recorded pitch, its root key and its fine
// tuning disagree by a few cents, differently for every sample, so a clip rendered at a known
// bend is also off by its instruments' error. Every (font, program, key) a clip plays is
// rendered alone, unbent, dry, 1.5 s at velocity 100. Its frequency is the maximum of the
// Hann-windowed spectrum of 1.25 s of the sustain (from 0.15 s after the onset, zero-padded to
// 2^17 points, vertex of the parabola through the log magnitudes: well below 0.1 ct), searched
// within 40 ct of the key's fundamental; when the fundamental is weaker than a tenth of the
// strongest of the first four harmonics, the lowest harmonic that is not is used instead. A
// clip's truth is its nominal detuning plus the mean error of the notes it plays, each weighed
// by its duration, velocity squared and its level in the calibration (roughly its share of
// the clip's energy). A clip whose notes disagree by more than a few cents among themselves
// has no single tuning and is left out; instruments that do so (FluidR3's choir, bandoneon,
// violin, alto sax and fiddle, TimGM6mb's accordion and bandoneon: some of their samples lie
// 10 to 40 ct apart) are not used. The estimators under test play no part in this.
constexpr double calibrationNoteSeconds = 1.5, calibrationSpacingSeconds = 2.0;
constexpr double maxClipSpreadCents = 4.0;
constexpr double calibrationSkipSeconds = 0.15, calibrationWindowSeconds = 1.25;

void fft(std::vector<std::complex<double>> &a)
{
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> w = std::polar(1.0, -twoPi / double(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> wk = 1.0;
            for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
                const auto u = a[i + k], v = a[i + k + len / 2] * wk;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
        }
    }
}

struct NoteTuning {
    double cents = 0.0, level = 0.0;
    bool valid = false;
};

NoteTuning measureNote(const std::vector<double> &mono, int rate, double onset, int key)
{
    constexpr std::size_t n = std::size_t(1) << 17;
    const auto first = std::size_t((onset + calibrationSkipSeconds) * rate);
    const auto count = std::min(std::size_t(calibrationWindowSeconds * rate), n);
    if (first + count > mono.size())
        return {};
    std::vector<std::complex<double>> spectrum(n);
    double level = 0.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = mono[first + i];
        level += x * x;
        spectrum[i] = x * 0.5 * (1.0 - std::cos(twoPi * double(i) / double(count)));
    }
    fft(spectrum);
    const double nominal = 440.0 * std::exp2((key - 69) / 12.0);
    double hz[5] = {}, magnitude[5] = {}, strongest = 0.0;
    for (int h = 1; h <= 4; ++h) {
        const double centre = h * nominal * double(n) / rate;
        const auto lo = std::size_t(centre * std::exp2(-40.0 / 1200.0));
        const auto hi = std::min(std::size_t(centre * std::exp2(40.0 / 1200.0)) + 1, n / 2 - 2);
        if (lo < 2 || lo >= hi)
            continue;
        std::size_t best = lo;
        for (std::size_t k = lo; k <= hi; ++k)
            if (std::abs(spectrum[k]) > std::abs(spectrum[best]))
                best = k;
        const double a = std::log(std::abs(spectrum[best - 1]) + 1e-300);
        const double b = std::log(std::abs(spectrum[best]) + 1e-300);
        const double c = std::log(std::abs(spectrum[best + 1]) + 1e-300);
        const double d = a - 2.0 * b + c;
        hz[h] = (double(best) + (d < 0.0 ? 0.5 * (a - c) / d : 0.0)) * rate / double(n) / h;
        magnitude[h] = std::abs(spectrum[best]);
        strongest = std::max(strongest, magnitude[h]);
    }
    for (int h = 1; h <= 4; ++h) {
        if (strongest > 0.0 && magnitude[h] >= 0.1 * strongest)
            return {1200.0 * std::log2(hz[h] / nominal), level / double(count), true};
    }
    return {};
}

std::vector<double> readMono(const std::string &path, int *rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> frames(std::size_t(info.frames) * std::size_t(info.channels));
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    std::vector<double> mono(std::size_t(info.frames));
    for (std::size_t i = 0; i < mono.size(); ++i)
        for (int c = 0; c < info.channels; ++c)
            mono[i] += frames[i * std::size_t(info.channels) + std::size_t(c)];
    *rate = info.samplerate;
    return mono;
}

std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, sep);)
        fields.push_back(f);
    if (!line.empty() && line.back() == sep)
        fields.emplace_back();
    return fields;
}

// Measures the rendered calibration notes (calibration-FONT.wav), writes calibration.csv and
// the instruments' summary, and adds each soundfont clip's tuning error to its truth in plan.txt.
int correctTruths(const std::string &dir)
{
    std::map<std::string, std::vector<double>> audio;
    std::map<std::string, int> rates;
    std::map<std::tuple<std::string, int, int>, NoteTuning> notes;
    std::ifstream calibration(dir + "/calibration.txt");
    std::ofstream table(dir + "/calibration.csv");
    table << "font,program,key,cents,level\n";
    for (std::string line; std::getline(calibration, line);) {
        const auto f = split(line, ';');
        if (f.size() != 4)
            continue;
        if (!audio.count(f[0]))
            audio[f[0]] = readMono(dir + "/calibration-" + f[0] + ".wav", &rates[f[0]]);
        const NoteTuning t = measureNote(audio[f[0]], rates[f[0]], std::stod(f[3]), std::stoi(f[2]));
        notes[{f[0], std::stoi(f[1]), std::stoi(f[2])}] = t;
        table << f[0] << ',' << f[1] << ',' << f[2] << ',' << t.cents << ',' << t.level << '\n';
    }
    // Per instrument: mean, spread and range over its keys.
    std::FILE *summary = std::fopen((dir + "/calibration-summary.txt").c_str(), "w");
    for (auto it = notes.begin(); it != notes.end();) {
        const auto &[font, program, key] = it->first;
        std::vector<double> c;
        for (; it != notes.end() && std::get<0>(it->first) == font && std::get<1>(it->first) == program; ++it)
            if (it->second.valid)
                c.push_back(it->second.cents);
        double mean = 0.0, square = 0.0;
        for (double x : c)
            mean += x / double(c.size());
        for (double x : c)
            square += (x - mean) * (x - mean) / double(c.size());
        if (summary && !c.empty())
            std::fprintf(
                summary, "%-16s program %3d: %+6.2f ct, spread %5.2f ct, %+6.2f ... %+6.2f over %zu keys\n",
                font.c_str(), program, mean, std::sqrt(square), *std::min_element(c.begin(), c.end()),
                *std::max_element(c.begin(), c.end()), c.size());
    }
    // Each clip's weighted mean error.
    std::map<std::string, std::pair<double, double>> clipError; // weighted sum, weight
    std::map<std::string, double> clipSquares;
    std::ifstream usage(dir + "/usage.txt");
    for (std::string line; std::getline(usage, line);) {
        const auto f = split(line, ';');
        if (f.size() != 6)
            continue;
        const NoteTuning &t = notes[{f[1], std::stoi(f[2]), std::stoi(f[3])}];
        if (!t.valid)
            continue;
        const double v = std::stod(f[4]) / 127.0;
        const double w = std::stod(f[5]) * v * v * t.level;
        clipError[f[0]].first += w * t.cents;
        clipError[f[0]].second += w;
        clipSquares[f[0]] += w * t.cents * t.cents;
    }
    std::ifstream planIn(dir + "/plan.txt");
    std::vector<std::string> plan;
    for (std::string line; std::getline(planIn, line);) {
        auto f = split(line, ';');
        const auto e = f.size() >= 3 ? clipError.find(f[0]) : clipError.end();
        if (e != clipError.end() && e->second.second > 0.0 && !f[2].empty()) {
            const double mean = e->second.first / e->second.second;
            const double spread =
                std::sqrt(std::max(0.0, clipSquares[f[0]] / e->second.second - mean * mean));
            if (summary)
                std::fprintf(summary, "clip %-24s %+6.2f ct, spread over its notes %5.2f ct\n", f[0].c_str(),
                             mean, spread);
            if (spread > maxClipSpreadCents) {
                std::fprintf(stderr, "eval_set_gen: %s left out, its notes' own tuning spreads %.1f ct\n",
                             f[0].c_str(), spread);
                std::remove((dir + "/" + f[0] + ".mid").c_str());
                continue;
            }
            char b[32];
            std::snprintf(b, sizeof b, "%.3f", std::stod(f[2]) + mean);
            f[2] = b;
        }
        std::string joined;
        for (std::size_t i = 0; i < f.size(); ++i)
            joined += (i ? ";" : "") + f[i];
        plan.push_back(joined);
    }
    if (summary)
        std::fclose(summary);
    std::ofstream planOut(dir + "/plan.txt");
    for (const auto &line : plan)
        planOut << line << '\n';
    return planOut && table ? 0 : 1;
}

// ---- additive and inharmonic synthesis ----------------------------------------------------

struct Audio {
    int rate;
    int channels;
    std::vector<float> samples; // interleaved
    Audio(int r, int c, double seconds)
        : rate(r), channels(c), samples(std::size_t(seconds * r) * std::size_t(c), 0.0f)
    {
    }
    std::size_t frames() const { return samples.size() / std::size_t(channels); }
};

double noteHz(int semitonesFromA4, double cents)
{
    return 440.0 * std::exp2((semitonesFromA4 * 100.0 + cents) / 1200.0);
}

struct Tone {
    double hz;
    double start, length; // seconds
    double gain = 0.2;
    int partials = 10;
    double inharmonicity = 0.0; // stiff string: f_n = n f sqrt(1 + B n^2)
    double decay = 0.0;         // per second, grows with the partial number
    double vibratoCents = 0.0, vibratoHz = 5.5;
    double pan = 0.5;   // 0 left ... 1 right
    bool voice = false; // formant envelope of an open vowel
};

void addTone(Audio &a, const Tone &t)
{
    const auto first = std::size_t(t.start * a.rate);
    const auto count = std::min(std::size_t(t.length * a.rate), a.frames() - std::min(first, a.frames()));
    const double attack = 0.02 * a.rate, release = 0.05 * a.rate;
    const double vibPhase = uniform(0, twoPi);
    const double vibRate = t.vibratoHz * uniform(0.92, 1.08);
    for (int n = 1; n <= t.partials; ++n) {
        const double ratio = n * std::sqrt(1.0 + t.inharmonicity * n * n);
        if (t.hz * ratio > 0.45 * a.rate)
            break;
        double amp = t.gain / n;
        if (t.voice) {
            const double f = t.hz * n;
            amp = t.gain
                  * (std::exp(-std::pow((f - 700) / 250, 2)) + 0.6 * std::exp(-std::pow((f - 1150) / 250, 2))
                     + 0.25 * std::exp(-std::pow((f - 2700) / 400, 2)) + 0.05)
                  / std::sqrt(double(n));
        }
        double phase = uniform(0, twoPi);
        for (std::size_t i = 0; i < count; ++i) {
            const double s = double(i);
            const double env = std::min({1.0, s / attack, double(count - i) / release})
                               * std::exp(-t.decay * n * 0.3 * s / a.rate);
            const double bend =
                t.vibratoCents > 0.0
                    ? std::exp2(t.vibratoCents * std::sin(twoPi * vibRate * s / a.rate + vibPhase) / 1200.0)
                    : 1.0;
            phase += twoPi * t.hz * ratio * bend / a.rate;
            const float v = float(amp * env * std::sin(phase));
            float *frame = &a.samples[(first + i) * std::size_t(a.channels)];
            if (a.channels == 1)
                frame[0] += v;
            else {
                frame[0] += v * float(std::sqrt(1.0 - t.pan));
                frame[1] += v * float(std::sqrt(t.pan));
            }
        }
    }
}

void addNoise(Audio &a, double level, bool pink)
{
    double b0 = 0, b1 = 0, b2 = 0;
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
        const double w = uniform(-1.0, 1.0);
        double v = w;
        if (pink) { // three-pole approximation of a -3 dB/octave slope
            b0 = 0.99765 * b0 + w * 0.0990460;
            b1 = 0.96300 * b1 + w * 0.2965164;
            b2 = 0.57000 * b2 + w * 1.0526913;
            v = (b0 + b1 + b2 + w * 0.1848) * 0.25;
        }
        a.samples[i] += float(level * v);
    }
}

bool save(const std::string &path, const Audio &a)
{
    SF_INFO info{};
    info.samplerate = a.rate;
    info.channels = a.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const bool ok = sf_writef_float(f, a.samples.data(), sf_count_t(a.frames())) == sf_count_t(a.frames());
    return sf_close(f) == 0 && ok;
}

// A chord progression of the given tones built on scale degrees of a random key.
std::vector<std::vector<int>> progression(bool minor)
{
    const int t = pick(12) - 21; // tonic, semitones from A4, around C3 ... B3
    const int third = minor ? 3 : 4;
    return {{t, t + third, t + 7, t + 12},
            {t + 5, t + 5 + third, t + 12, t + 17},
            {t + 7, t + 11, t + 14, t + 19},
            {t - 3, t + 4, t + 9, t + 12}};
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::string(argv[1]) == "--truths")
        return correctTruths(argv[2]);
    if (argc != 2) {
        std::fprintf(stderr, "usage: eval_set_gen OUTPUT_DIR | --truths OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::ofstream plan(dir + "/plan.txt");
    std::ofstream usage(dir + "/usage.txt");             // clip;font;program;key;velocity;seconds
    std::ofstream calibration(dir + "/calibration.txt"); // font;program;key;onset seconds
    std::map<std::string, std::set<std::pair<int, int>>> calibrationNotes;
    bool ok = true;
    auto wav = [&](const std::string &name, const Audio &a, const std::string &truth) {
        ok = save(dir + "/" + name + ".wav", a) && ok;
        plan << name << ";wav;" << truth << ";\n";
    };
    auto cents = [](double c) {
        char b[32];
        std::snprintf(b, sizeof b, "%.3f", c);
        return std::string(b);
    };
    // Common reference pitches and random ones.
    const double references[] = {-31.77, 0.0, 15.67, 7.85, -19.56, 11.76, -11.82, 3.93, -45.0, 38.0};
    auto detuning = [&](int i) { return i % 3 == 2 ? uniform(-49.0, 49.0) : references[i % 10]; };

    // Soundfont compositions: name, style, soundfont, rate, sox effects, mp3 round trip.
    const Style styles[] = {
        {"piano-ballad", 0, 0, 0, Texture::arpeggio, false, 72, 0, false},
        {"string-ensemble", 42, 48, 40, Texture::sustain, false, 66, 1, false, 2},
        {"jazz-trio", 32, 4, 66, Texture::block, true, 132, 2, true},
        {"rock", 33, 30, 29, Texture::strum, true, 120, 4, false},
        {"organ-chorale", 19, 19, 19, Texture::sustain, false, 60, 0, false},
        {"flute-harp", -1, 46, 73, Texture::arpeggio, false, 90, 0, false},
        {"brass-fanfare", 58, 61, 56, Texture::block, false, 100, 0, false},
        {"choir", 53, 53, 53, Texture::sustain, false, 56, 1, false, 0, "FluidR3_GM.sf2"},
        {"folk", 32, 25, 110, Texture::strum, false, 110, 2, false, 0, "TimGM6mb.sf2"},
        {"synth-pop", 38, 89, 80, Texture::block, true, 118, 1, false},
        {"mallets", 32, 12, 11, Texture::arpeggio, false, 96, 0, true},
        {"woodwinds", 70, -1, 71, Texture::none, false, 84, 3, false},
        {"harpsichord", 6, 6, 6, Texture::arpeggio, false, 100, 3, false},
        {"accordion-waltz", 33, 21, 21, Texture::block, false, 140, 0, false, 0, "FluidR3_GM.sf2"},
        {"sax-piano", 32, 0, 65, Texture::block, true, 92, 2, true, 0, "TimGM6mb.sf2"},
        {"koto-pentatonic", -1, 107, 104, Texture::arpeggio, false, 80, 1, false},
        {"celesta", -1, 8, 10, Texture::arpeggio, false, 76, 0, false},
        {"nylon-guitar", -1, 24, 24, Texture::arpeggio, false, 88, 1, false},
        {"trumpet-band", 57, 61, 56, Texture::block, true, 108, 4, false},
        {"cello-solo", -1, -1, 42, Texture::none, false, 70, 1, false},
        {"violin-section", 43, 49, 40, Texture::sustain, false, 72, 0, false, 3, "TimGM6mb.sf2"},
        {"epiano-soul", 33, 5, 4, Texture::block, true, 86, 2, true},
        {"oboe-strings", 43, 48, 68, Texture::sustain, false, 64, 1, false, 0, "TimGM6mb.sf2"},
        {"clavinet-funk", 36, 7, 7, Texture::strum, true, 104, 4, false},
        {"harmonica-blues", 33, 22, 22, Texture::block, false, 120, 3, false},
        {"steel-guitar-country", 33, 25, 26, Texture::strum, true, 116, 0, false},
        {"pipe-organ-minor", 19, 19, 20, Texture::sustain, false, 64, 3, false, 0, "TimGM6mb.sf2"},
        {"vibes-jazz", 32, 11, 11, Texture::block, true, 140, 2, true},
    };
    const char *effects[] = {"",
                             "reverb 40",
                             "",
                             "reverb 70 50 100",
                             "",
                             "overdrive 3 reverb 20",
                             "",
                             "",
                             "reverb 30",
                             "",
                             "chorus 0.6 0.9 50 0.4 0.25 2 -t",
                             "reverb 50"};
    int i = 0;
    for (const Style &s : styles) {
        const double detune = detuning(i);
        const double jitter = i % 4 == 1 ? 6.0 : (i % 4 == 3 ? 2.0 : 0.0);
        const double length = 12.0 + (i * 7) % 11;
        const auto uses = compose(dir + "/" + s.name + ".mid", s, detune, jitter, length);
        // Every fourth clip is played back at another speed (tape varispeed): pitch moves too.
        double truth = detune;
        std::string fx = effects[i % std::size(effects)];
        if (i % 4 == 2) {
            const double speedCents = uniform(-40.0, 40.0);
            fx = "speed " + cents(std::exp2(speedCents / 1200.0)).substr(0, 8) + (fx.empty() ? "" : " " + fx);
            truth += speedCents;
        }
        const char *font = s.font ? s.font : i % 2 ? "TimGM6mb.sf2" : "FluidR3_GM.sf2";
        const int rate = i % 5 == 4 ? 48000 : 44100;
        const bool mp3 = i % 3 == 1;
        plan << s.name << ";midi;" << cents(truth) << ';' << font << ' ' << rate << ' ' << (mp3 ? 1 : 0)
             << ' ' << fx << '\n';
        for (const Midi::Use &u : uses) {
            calibrationNotes[font].insert({u.program, u.key});
            usage << s.name << ';' << font << ';' << u.program << ';' << u.key << ';' << u.velocity << ';'
                  << u.ticks * 60.0 / s.bpm / Midi::ppq << '\n';
        }
        ++i;
    }
    // The soundfonts' own tuning: every (program, key) a clip plays, alone, long and dry.
    for (const auto &[font, notes] : calibrationNotes) {
        Midi m;
        m.control(0, 91, 0);
        m.control(0, 93, 0);
        std::uint32_t t = 0;
        for (const auto &[program, key] : notes) {
            m.program(0, program, t);
            m.note(0, t, std::uint32_t(calibrationNoteSeconds * Midi::ppq), key, 100);
            calibration << font << ';' << program << ';' << key << ';' << t / double(Midi::ppq) << '\n';
            t += std::uint32_t(calibrationSpacingSeconds * Midi::ppq);
        }
        m.write(dir + "/calibration-" + font + ".mid", 60.0); // one quarter per second
    }

    // Additive material: harmonic chords, stiff-string piano, sung vibrato, just intonation,
    // an ensemble with spread offsets, sparse notes, a melody panned to one side.
    for (int k = 0; k < 2; ++k) {
        const double c = detuning(i++);
        Audio a(k ? 48000 : 44100, 2, 16.0);
        double t = 0.0;
        for (const auto &chord : progression(k == 1)) {
            for (int n : chord)
                addTone(a, {noteHz(n, c), t, 3.9, 0.12, 10});
            t += 4.0;
        }
        wav("additive-chords-" + std::to_string(k), a, cents(c));
    }
    for (int k = 0; k < 2; ++k) {
        const double c = detuning(i++);
        Audio a(44100, 2, 18.0);
        for (double t = 0.0; t < 17.0; t += 0.5) {
            const int n = pick(30) - 26 + 12 * k;
            Tone tone{noteHz(n, c), t, 1.4, 0.15, 16};
            tone.inharmonicity = 0.0004 * std::exp2(n / 24.0);
            tone.decay = 1.0;
            tone.pan = uniform(0.3, 0.7);
            addTone(a, tone);
        }
        wav("stiff-piano-" + std::to_string(k), a, cents(c));
    }
    for (const double depth : {30.0, 55.0, 80.0}) {
        const double c = detuning(i++);
        Audio a(44100, 1, 18.0);
        const int key = pick(7) - 16;
        static const int melody[] = {0, 2, 4, 5, 7, 5, 4, 2, 0, 4, 7, 12, 7, 4, 2, 0, -1, 0};
        for (int j = 0; j < 18; ++j) {
            Tone tone{noteHz(key + melody[j], c), j * 1.0, 0.95, 0.2, 24};
            tone.voice = true;
            tone.vibratoCents = depth;
            addTone(a, tone);
        }
        wav("sung-vibrato-" + std::to_string(int(depth)), a, cents(c));
    }
    for (int k = 0; k < 2; ++k) {
        const double c = detuning(i++);
        Audio a(44100, 1, 16.0);
        const int tonic = pick(12) - 24;
        const double root = noteHz(tonic, c);
        const double chords[][3] = {
            {1.0, 1.25, 1.5}, {4.0 / 3, 5.0 / 3, 2.0}, {1.5, 15.0 / 8, 9.0 / 4}, {1.0, 1.25, 1.5}};
        double t = 0.0;
        for (const auto &ch : chords) {
            addTone(a, {root / 2, t, 3.9, 0.15, 10});
            for (double r : ch)
                addTone(a, {root * r * (k ? 2.0 : 1.0), t, 3.9, 0.12, 8});
            t += 4.0;
        }
        wav("just-intonation-" + std::to_string(k), a, cents(c));
    }
    {
        const double c = detuning(i++);
        Audio a(44100, 2, 16.0);
        const double offsets[] = {-7.0, -3.0, 2.0, 8.0}; // mean 0
        for (double t = 0.0; t < 15.5; t += 0.75) {
            const int n = pick(12) - 12;
            for (int v = 0; v < 4; ++v) {
                Tone tone{noteHz(n + (v == 3 ? -12 : 0), c + offsets[v]), t, 0.7, 0.1, 12};
                tone.vibratoCents = 8.0;
                tone.pan = v / 3.0;
                addTone(a, tone);
            }
        }
        wav("ensemble-spread", a, cents(c));
    }
    for (int k = 0; k < 2; ++k) {
        const double c = detuning(i++);
        Audio a(44100, 1, 15.0);
        addNoise(a, 0.0005, true);
        for (int j = 0; j < 5 + k; ++j)
            addTone(a, {noteHz(pick(24) - 12, c), 0.5 + j * 2.6, 1.2, 0.25, 8});
        wav("sparse-notes-" + std::to_string(k), a, cents(c));
    }
    {
        const double c = detuning(i++);
        Audio a(44100, 2, 16.0);
        for (double t = 0.0; t < 15.5; t += 0.5) { // melody hard left, quiet bass drone right
            Tone tone{noteHz(pick(15) - 5, c), t, 0.48, 0.25, 8};
            tone.pan = 0.0;
            addTone(a, tone);
        }
        Tone drone{noteHz(-33, c + 20.0), 0.0, 16.0, 0.04, 6}; // a little out of tune on purpose
        drone.pan = 1.0;
        addTone(a, drone);
        wav("melody-left", a, cents(c));
    }

    // Untuned: noise, mains hum, sweeps; drums and speech are rendered by the script.
    {
        Audio w(44100, 2, 12.0), p(44100, 2, 12.0);
        addNoise(w, 0.3, false);
        addNoise(p, 0.5, true);
        wav("untuned-white-noise", w, "");
        wav("untuned-pink-noise", p, "");
    }
    for (const double mains : {50.0, 60.0}) {
        Audio a(44100, 1, 12.0);
        for (int k = 1; k <= 9; ++k)
            addTone(a, {mains * k * (1.0 + 0.0015 * (mains == 50.0)), 0.0, 12.0, 0.3 / (k * k), 1});
        addNoise(a, 0.002, true);
        wav("untuned-hum-" + std::to_string(int(mains)), a, "");
    }
    {
        Audio a(44100, 1, 14.0), b(44100, 1, 14.0);
        double pa = 0, pb = 0;
        for (std::size_t s = 0; s < a.frames(); ++s) {
            const double x = double(s) / double(a.frames());
            pa += twoPi * 40.0 * std::pow(200.0, x) / a.rate; // 40 Hz ... 8 kHz, exponential
            pb += twoPi * (100.0 + 2900.0 * x) / b.rate;      // 100 Hz ... 3 kHz, linear
            a.samples[s] = float(0.3 * std::sin(pa));
            b.samples[s] = float(0.3 * std::sin(pb));
        }
        wav("untuned-sweep-exp", a, "");
        wav("untuned-sweep-lin", b, "");
    }
    drumPattern(dir + "/untuned-drums-rock.mid", false, 12.0);
    drumPattern(dir + "/untuned-drums-latin.mid", true, 12.0);
    plan << "untuned-drums-rock;midi;;FluidR3_GM.sf2 44100 0 reverb 30\n";
    plan << "untuned-drums-latin;midi;;TimGM6mb.sf2 44100 1\n";
    plan << "untuned-speech-en;speech;;en The quick brown fox jumps over the lazy dog. A tuning detector "
            "should "
            "not hear any reference pitch in plain speech, however long it goes on.\n";
    plan << "untuned-speech-de;speech;;de Zwölf Boxkämpfer jagen Viktor quer über den großen Sylter Deich. "
            "Sprache "
            "hat keine Stimmung, auch wenn sie eine Weile dauert.\n";
    return ok && plan && usage && calibration ? 0 : 1;
}
