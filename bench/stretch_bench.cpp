// SPDX-License-Identifier: GPL-3.0-or-later
// The three engines through the render chain, stereo 48 kHz: first a measured quality and
// cost report (printed before the benchmarks), then Google Benchmark timings of one block.
//
// Report, per engine and block size (512 and 1024 frames):
//   cpu %      thread CPU time / audio time over 20 s of a retuned three-harmonic tone
//   p99 us     99th percentile of one renderBlock call; "budget" is a quarter of the block
//   latency    reported by the engine vs measured by cross-correlation of noise bursts
//   cents      pitch error of a 440 Hz sine retuned to 432 Hz (zero crossings over 1 s)
//   SNR dB     retuned sine and three-harmonic tone against the ideal retuned signal
// and the largest sample-to-sample step while switching engines vs in a steady run.
#include "render/OfflineRender.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kChannels = 2;
constexpr double kFactor = 432.0 / 440.0;

double threadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double wallSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Interleaved stereo, the same signal on both channels.
std::vector<float> tone(const std::vector<double> &hz, const std::vector<double> &amp, size_t frames)
{
    std::vector<float> v(frames * kChannels);
    for (size_t i = 0; i < frames; ++i) {
        double s = 0.0;
        for (size_t k = 0; k < hz.size(); ++k)
            s += amp[k] * std::sin(2.0 * M_PI * hz[k] * static_cast<double>(i) / kRate);
        for (uint32_t c = 0; c < kChannels; ++c)
            v[i * kChannels + c] = static_cast<float>(s);
    }
    return v;
}

std::vector<float> noiseBursts(size_t frames)
{
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    std::vector<float> v(frames * kChannels, 0.0f);
    for (size_t i = 0; i < frames; ++i) {
        const float s = (i / 4800) % 3 == 1 ? noise(rng) : 0.0f;
        for (uint32_t c = 0; c < kChannels; ++c)
            v[i * kChannels + c] = s;
    }
    return v;
}

// The chain's raw output (latency included), block by block.
std::vector<float> renderRaw(OfflineRender &r, const std::vector<float> &in, uint32_t block,
                             std::vector<double> *callSeconds = nullptr)
{
    std::vector<float> out(in.size());
    const RenderContext &ctx = r.dsp().context();
    // The signals are interleaved like files; the chain is planar.
    std::vector<float> planarIn(static_cast<size_t>(block) * kChannels), planarOut(planarIn.size());
    float *ins[kChannels], *outs[kChannels];
    for (uint32_t c = 0; c < kChannels; ++c) {
        ins[c] = planarIn.data() + static_cast<size_t>(c) * block;
        outs[c] = planarOut.data() + static_cast<size_t>(c) * block;
    }
    const size_t frames = in.size() / kChannels;
    for (size_t off = 0; off + block <= frames; off += block) {
        for (uint32_t f = 0; f < block; ++f)
            for (uint32_t c = 0; c < kChannels; ++c)
                ins[c][f] = in[(off + f) * kChannels + c];
        const double t0 = callSeconds ? threadSeconds() : 0.0;
        renderBlock(ctx, ConstAudioBlock{ins, kChannels, block}, AudioBlock{outs, kChannels, block});
        if (callSeconds)
            callSeconds->push_back(threadSeconds() - t0);
        for (uint32_t f = 0; f < block; ++f)
            for (uint32_t c = 0; c < kChannels; ++c)
                out[(off + f) * kChannels + c] = outs[c][f];
    }
    return out;
}

double measuredHz(const std::vector<float> &v, size_t from, size_t to)
{
    double first = -1.0, last = -1.0;
    int n = 0;
    for (size_t i = from + 1; i < to; ++i) {
        const float p = v[(i - 1) * kChannels], q = v[i * kChannels];
        if (p < 0.0f && q >= 0.0f) {
            const double t = static_cast<double>(i - 1) + p / (p - q);
            if (first < 0.0)
                first = t;
            last = t;
            ++n;
        }
    }
    return n < 2 ? 0.0 : (n - 1) * kRate / (last - first);
}

// SNR of channel 0 in [from, to) against the best least-squares fit of sines at `hz`.
double snrDb(const std::vector<float> &v, size_t from, size_t to, const std::vector<double> &hz)
{
    // Normal equations for the 2K basis functions sin/cos(2 pi f t).
    const size_t k = 2 * hz.size();
    std::vector<double> a(k * k, 0.0), b(k, 0.0), basis(k);
    for (size_t i = from; i < to; ++i) {
        for (size_t j = 0; j < hz.size(); ++j) {
            const double w = 2.0 * M_PI * hz[j] * static_cast<double>(i) / kRate;
            basis[2 * j] = std::sin(w);
            basis[2 * j + 1] = std::cos(w);
        }
        for (size_t r = 0; r < k; ++r) {
            b[r] += basis[r] * v[i * kChannels];
            for (size_t c = 0; c < k; ++c)
                a[r * k + c] += basis[r] * basis[c];
        }
    }
    // Gaussian elimination (well conditioned: nearly orthogonal basis over many periods).
    for (size_t p = 0; p < k; ++p) {
        for (size_t r = p + 1; r < k; ++r) {
            const double m = a[r * k + p] / a[p * k + p];
            for (size_t c = p; c < k; ++c)
                a[r * k + c] -= m * a[p * k + c];
            b[r] -= m * b[p];
        }
    }
    std::vector<double> x(k);
    for (size_t p = k; p-- > 0;) {
        double s = b[p];
        for (size_t c = p + 1; c < k; ++c)
            s -= a[p * k + c] * x[c];
        x[p] = s / a[p * k + p];
    }
    double signal = 0.0, noise = 0.0;
    for (size_t i = from; i < to; ++i) {
        double fit = 0.0;
        for (size_t j = 0; j < hz.size(); ++j) {
            const double w = 2.0 * M_PI * hz[j] * static_cast<double>(i) / kRate;
            fit += x[2 * j] * std::sin(w) + x[2 * j + 1] * std::cos(w);
        }
        signal += fit * fit;
        const double e = v[i * kChannels] - fit;
        noise += e * e;
    }
    return 10.0 * std::log10(signal / std::max(noise, 1e-30));
}

int crossCorrelationLag(const std::vector<float> &in, const std::vector<float> &out, int maxLag)
{
    int best = 0;
    double bestValue = -1e300;
    const size_t frames = in.size() / kChannels;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double acc = 0.0;
        for (size_t i = 0; i + lag < frames; ++i)
            acc += static_cast<double>(in[i * kChannels]) * out[(i + lag) * kChannels];
        if (acc > bestValue) {
            bestValue = acc;
            best = lag;
        }
    }
    return best;
}

float largestStep(const std::vector<float> &v, size_t from, size_t to)
{
    float m = 0.0f;
    for (size_t i = std::max<size_t>(from, 1); i < to; ++i)
        for (uint32_t c = 0; c < kChannels; ++c)
            m = std::max(m, std::fabs(v[i * kChannels + c] - v[(i - 1) * kChannels + c]));
    return m;
}

void qualityReport()
{
    const std::vector<double> sineHz{440.0}, sineAmp{0.5};
    const std::vector<double> toneHz{440.0, 880.0, 1320.0}, toneAmp{0.4, 0.2, 0.1};
    std::vector<double> shiftedTone;
    for (double f : toneHz)
        shiftedTone.push_back(f * kFactor);
    const std::vector<float> sine = tone(sineHz, sineAmp, 3 * 48000);
    const std::vector<float> harmonic = tone(toneHz, toneAmp, 20 * 48000);
    const std::vector<float> bursts = noiseBursts(3 * 48000);

    std::printf("Engines through the render chain, stereo, 48 kHz, factor 432/440 unless noted\n\n");
    std::printf("%-12s %5s %7s %8s %8s %14s %9s %9s %9s\n", "engine", "block", "cpu %", "p99 us",
                "budget", "latency r/m", "cents", "SNR sine", "SNR tone");
    for (const EngineSpec &e : EngineTable::engines) {
        for (uint32_t block : {512u, 1024u}) {
            // Cost: 20 s of the three-harmonic tone.
            auto r = OfflineRender::create(kChannels, kRate, kFactor, e.kind, block);
            std::vector<double> calls;
            calls.reserve(harmonic.size() / kChannels / block);
            const double t0 = threadSeconds();
            const std::vector<float> toneOut = renderRaw(*r, harmonic, block, &calls);
            const double cpu = (threadSeconds() - t0) / 20.0 * 100.0;
            std::sort(calls.begin(), calls.end());
            const double p99 = calls[static_cast<size_t>(0.99 * (calls.size() - 1))] * 1e6;
            const double budget = block / kRate / 4.0 * 1e6;
            const size_t lat = r->latencyFrames();
            const long reported = r->dsp().latencyFrames(e.kind);

            // Latency at factor 1.
            auto unity = OfflineRender::create(kChannels, kRate, 1.0, e.kind, block);
            const int measured = crossCorrelationLag(bursts, renderRaw(*unity, bursts, block), 8000);

            // Pitch and SNR of the sine, over 1 s of steady output.
            auto s = OfflineRender::create(kChannels, kRate, kFactor, e.kind, block);
            const std::vector<float> sineOut = renderRaw(*s, sine, block);
            const size_t from = lat + 24000, to = from + 48000;
            const double cents = 1200.0 * std::log2(measuredHz(sineOut, from, to) / 432.0);
            const double snrSine = snrDb(sineOut, from, to, {432.0});
            const double snrTone = snrDb(toneOut, lat + 48000, lat + 96000, shiftedTone);

            char latency[32];
            std::snprintf(latency, sizeof latency, "%ld/%d", reported, measured);
            std::printf("%-12s %5u %7.2f %8.1f %8.0f %14s %+9.3f %9.1f %9.1f\n", e.cliName, block, cpu, p99, budget,
                        latency, cents, snrSine, snrTone);
        }
    }

    // Engine switches: sine through engine A, switch to B, compare the largest step with a
    // steady run. The step of the steady sine itself is 0.5 * 2 pi * 432 / 48000 = 0.028.
    std::printf("\nEngine switch (512-frame blocks, 440 Hz sine at 0.5, factor 432/440)\n");
    std::printf("%-26s %14s %14s\n", "switch", "largest step", "steady step");
    const std::vector<float> longSine = tone(sineHz, sineAmp, 4 * 48000);
    for (const EngineSpec &a : EngineTable::engines) {
        for (const EngineSpec &b : EngineTable::engines) {
            if (a.kind == b.kind)
                continue;
            auto r = OfflineRender::create(kChannels, kRate, kFactor, a.kind, 512, true);
            // Steady: the first 2 s after the latency; then switch and watch 1.5 s.
            std::vector<float> out(longSine.size());
            const size_t frames = longSine.size() / kChannels;
            const size_t switchAt = 2 * 48000 / 512 * 512;
            for (size_t off = 0; off + 512 <= frames; off += 512) {
                if (off == switchAt)
                    r->select(b.kind);
                std::vector<float> raw = renderRaw(*r, std::vector<float>(longSine.begin() + off * kChannels,
                                                                          longSine.begin() + (off + 512) * kChannels), 512);
                std::copy(raw.begin(), raw.end(), out.begin() + off * kChannels);
            }
            const float steady = largestStep(out, 12000, switchAt);
            const float during = largestStep(out, switchAt, frames);
            char label[40];
            std::snprintf(label, sizeof label, "%s -> %s", a.cliName, b.cliName);
            std::printf("%-26s %14.4f %14.4f\n", label, during, steady);
        }
    }

    // Offline retune speed, the render chain alone (velmora-cli adds file decoding/encoding).
    {
        const size_t frames = 180 * 48000;
        const std::vector<float> music = tone(toneHz, toneAmp, frames);
        auto r = OfflineRender::create(kChannels, kRate, kFactor, EngineKind::balanced, 512);
        std::vector<float> out(512 * kChannels);
        const double t0 = threadSeconds(), w0 = wallSeconds();
        for (size_t off = 0; off < frames; off += 512)
            r->process(music.data() + off * kChannels, static_cast<uint32_t>(std::min<size_t>(512, frames - off)), out.data());
        while (r->flush(out.data(), 512) > 0) {
        }
        const double cpu = threadSeconds() - t0, wall = wallSeconds() - w0;
        std::printf("\nOffline render of 3 min stereo, balanced, 512-frame blocks: %.2f s CPU (%.1fx real time), "
                    "%.2f s wall\n\n", cpu, 180.0 / cpu, wall);
    }
    std::fflush(stdout);
}

void BM_RenderBlock(benchmark::State &state)
{
    const EngineSpec &engine = EngineTable::engines[static_cast<size_t>(state.range(0))];
    const auto block = static_cast<uint32_t>(state.range(1));
    auto r = OfflineRender::create(kChannels, kRate, kFactor, engine.kind, block);
    // Planar: the same tone on every channel.
    const std::vector<float> interleaved = tone({440.0, 880.0, 1320.0}, {0.4, 0.2, 0.1}, block);
    std::vector<float> in(block), out(interleaved.size());
    for (uint32_t f = 0; f < block; ++f)
        in[f] = interleaved[static_cast<size_t>(f) * kChannels];
    const float *ins[kChannels];
    float *outs[kChannels];
    for (uint32_t c = 0; c < kChannels; ++c) {
        ins[c] = in.data();
        outs[c] = out.data() + static_cast<size_t>(c) * block;
    }
    for (auto _ : state) {
        renderBlock(r->dsp().context(), ConstAudioBlock{ins, kChannels, block}, AudioBlock{outs, kChannels, block});
        benchmark::DoNotOptimize(out.data());
    }
    // Audio hundredths of a second per second, inverted: CPU percent of one core.
    state.counters["cpu_pct"] = benchmark::Counter(static_cast<double>(state.iterations()) * block / kRate / 100.0,
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetLabel(engine.cliName);
}
BENCHMARK(BM_RenderBlock)
    ->ArgsProduct({{0, 1, 2}, {512, 1024}})  // rows of the engine table
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    qualityReport();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
