// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the tuning analysis: one 16384-point frame at 48 kHz, and a whole 3-minute stereo
// recording fed the way `velmora-cli detect` feeds it (first channel, hop-sized blocks).
#include "TonvelCore/TuningAnalyzer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr double rate = 48000.0;

// A steady chord with a few partials per note, slightly flat of 440 Hz.
std::vector<float> music(std::size_t frames, int channels)
{
    const double notes[] = {110.0, 220.0, 277.18, 329.63, 440.0};
    std::vector<float> out(frames * std::size_t(channels));
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        double v = 0;
        for (double f : notes)
            for (int k = 1; k <= 4; ++k)
                v += 0.05 / k * std::sin(2.0 * std::numbers::pi * f * 0.995 * k * t);
        for (int c = 0; c < channels; ++c)
            out[i * std::size_t(channels) + std::size_t(c)] = float(v);
    }
    return out;
}

void BM_TuningAnalyzer_OneFrame16384(benchmark::State &state)
{
    auto analyzer = TuningAnalyzer::create(rate, 16384);
    const std::vector<float> signal = music(1 << 18, 1);
    analyzer->append(signal.data(), 16384 - 8192);
    std::size_t pos = 0;
    for (auto _ : state) {
        // Each hop completes exactly one frame.
        analyzer->append(signal.data() + pos, 8192);
        pos = (pos + 8192) % (signal.size() - 8192);
    }
    benchmark::DoNotOptimize(analyzer->estimate());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TuningAnalyzer_OneFrame16384)->Unit(benchmark::kMicrosecond);

void BM_TuningAnalyzer_Detect3MinutesStereo(benchmark::State &state)
{
    constexpr std::size_t frames = std::size_t(180 * rate);
    const std::vector<float> stereo = music(frames, 2);
    std::vector<float> mono(8192);
    for (auto _ : state) {
        auto analyzer = TuningAnalyzer::create(rate, 16384);
        for (std::size_t pos = 0; pos < frames; pos += mono.size()) {
            const std::size_t n = std::min(mono.size(), frames - pos);
            for (std::size_t i = 0; i < n; ++i)
                mono[i] = stereo[2 * (pos + i)];
            analyzer->append(mono.data(), std::int64_t(n));
        }
        benchmark::DoNotOptimize(analyzer->estimate());
    }
    // Seconds of audio per second of work.
    state.counters["realtime_x"] = benchmark::Counter(180.0 * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TuningAnalyzer_Detect3MinutesStereo)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
