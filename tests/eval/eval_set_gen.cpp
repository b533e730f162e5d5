// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the material of the detection evaluation set into a folder: MIDI compositions in many
// styles (rendered by make-eval-set.sh with Debian's soundfonts), additive and inharmonic
// clips as WAV, and plan.txt, one line per clip: name;kind;truth;options. Every tuning is
// known by construction. Fixed seed: the same set on every machine.
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <random>
#include <string>
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

    void add(std::uint32_t tick, int order, std::vector<std::uint8_t> b)
    {
        events.push_back({tick, order, std::move(b)});
    }
    void program(int ch, int prog) { add(0, 0, {std::uint8_t(0xC0 | ch), std::uint8_t(prog)}); }
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
void compose(const std::string &path, const Style &s, double detuneCents, double jitterCents, double seconds)
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: eval_set_gen OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::ofstream plan(dir + "/plan.txt");
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
        // The church organ of FluidR3 is itself about 7 ct sharp: its tuning is not known.
        {"organ-chorale", 19, 19, 19, Texture::sustain, false, 60, 0, false, 0, "TimGM6mb.sf2"},
        {"flute-harp", -1, 46, 73, Texture::arpeggio, false, 90, 0, false},
        {"brass-fanfare", 58, 61, 56, Texture::block, false, 100, 0, false},
        {"choir", 52, 52, 53, Texture::sustain, false, 56, 1, false},
        {"folk", 32, 25, 110, Texture::strum, false, 110, 2, false},
        {"synth-pop", 38, 89, 80, Texture::block, true, 118, 1, false},
        {"mallets", 32, 12, 11, Texture::arpeggio, false, 96, 0, true},
        {"woodwinds", 70, -1, 71, Texture::none, false, 84, 3, false},
        {"harpsichord", 6, 6, 6, Texture::arpeggio, false, 100, 3, false},
        {"accordion-waltz", 33, 21, 21, Texture::block, false, 140, 0, false},
        {"sax-piano", 32, 0, 65, Texture::block, true, 92, 2, true},
        {"koto-pentatonic", -1, 107, 104, Texture::arpeggio, false, 80, 1, false},
        {"celesta", -1, 8, 10, Texture::arpeggio, false, 76, 0, false},
        {"nylon-guitar", -1, 24, 24, Texture::arpeggio, false, 88, 1, false},
        {"trumpet-band", 57, 61, 56, Texture::block, true, 108, 4, false},
        {"cello-solo", -1, -1, 42, Texture::none, false, 70, 1, false},
        {"violin-section", 43, 49, 40, Texture::sustain, false, 72, 0, false, 3},
        {"epiano-soul", 33, 5, 4, Texture::block, true, 86, 2, true},
        {"oboe-strings", 43, 48, 68, Texture::sustain, false, 64, 1, false},
        {"clavinet-funk", 36, 7, 7, Texture::strum, true, 104, 4, false},
        {"bandoneon", 33, 23, 23, Texture::block, false, 120, 3, false},
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
        compose(dir + "/" + s.name + ".mid", s, detune, jitter, length);
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
        ++i;
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
    return ok && plan ? 0 : 1;
}
