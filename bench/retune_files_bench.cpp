// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of file retuning as velmora-cli retune runs it: the balanced engine, 4096-frame blocks,
// stereo 48 kHz, 432/440, creation included. Report first (FIGURE lines), then a Google
// Benchmark timing of one block.
//
// Each signal is rendered twice: on a thread started by one that had hashed a QString (as
// every Qt program does; on CPUs with VAES and AVX-512 that leaves the upper vector halves in
// use, and started threads inherit the state), and on a thread started before any Qt code.
// Both must run equally fast; before the stretch engine cleaned the state on entry the first
// ran about three times slower.
#include "render/OfflineRender.h"

#include <QHash>
#include <QString>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kChannels = 2;
constexpr double kFactor = 432.0 / 440.0;
constexpr uint32_t kBlock = 4096;
constexpr double kSeconds = 30.0;

double threadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::vector<float> stereo(size_t frames, const auto &sample)
{
    std::vector<float> v(frames * kChannels);
    for (size_t i = 0; i < frames; ++i)
        v[i * kChannels] = v[i * kChannels + 1] = static_cast<float>(sample(i));
    return v;
}

// 440 + 660 Hz at -6 dB, as `sox ... synth sine 440 sine 660 gain -6` makes it.
std::vector<float> twoSines(size_t frames)
{
    return stereo(frames, [](size_t i) {
        const double t = static_cast<double>(i) / kRate;
        return 0.5 * (std::sin(2 * M_PI * 440 * t) + std::sin(2 * M_PI * 660 * t));
    });
}

// Music-like: a chord every half second (five partials each, decaying) over soft noise.
std::vector<float> chords(size_t frames)
{
    static constexpr double roots[] = {220.0, 246.94, 196.0, 174.61};
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 0.01);
    return stereo(frames, [&](size_t i) {
        const double t = static_cast<double>(i) / kRate;
        const double root = roots[static_cast<size_t>(t * 2.0) % std::size(roots)];
        const double age = std::fmod(t, 0.5);
        double s = noise(rng);
        for (double ratio : {1.0, 1.25, 1.5})
            for (int k = 1; k <= 5; ++k)
                s += 0.08 / k * std::exp(-4.0 * age * k) * std::sin(2 * M_PI * root * ratio * k * t);
        return s;
    });
}

struct Cost {
    double create = 0.0;
    double render = 0.0;
};

Cost retune(const std::vector<float> &in)
{
    Cost cost;
    const double t0 = threadSeconds();
    auto r = OfflineRender::create(kChannels, kRate, kFactor, EngineKind::balanced, kBlock, false,
                                   ChainDsp::Use::files);
    const double t1 = threadSeconds();
    std::vector<float> out(static_cast<size_t>(kBlock) * kChannels);
    for (size_t off = 0; off < in.size(); off += out.size())
        r->process(in.data() + off, static_cast<uint32_t>(std::min(out.size(), in.size() - off) / kChannels),
                   out.data());
    while (r->flush(out.data(), kBlock) > 0) {
    }
    cost.create = t1 - t0;
    cost.render = threadSeconds() - t1;
    return cost;
}

Cost onNewThread(const std::vector<float> &in)
{
    Cost cost;
    std::thread([&] { cost = retune(in); }).join();
    return cost;
}

void report()
{
    const auto frames = static_cast<size_t>(kSeconds * kRate);
    const std::vector<float> inputs[] = {twoSines(frames), chords(frames)};
    const char *names[] = {"two sines", "chords"};
    Cost clean[2];
    for (size_t k = 0; k < 2; ++k)
        clean[k] = onNewThread(inputs[k]);
    QHash<QString, int> hashed;
    hashed.insert(QStringLiteral("--output"), 1);
    for (size_t k = 0; k < 2; ++k) {
        const Cost afterQt = onNewThread(inputs[k]);
        for (const auto &[label, c] : {std::pair{"clean thread", clean[k]}, std::pair{"after Qt's hash", afterQt}})
            std::printf("FIGURE: retune %s, %s: create %.2f s + render %.2f s CPU for %.0f s = %.1fx real "
                        "time per core\n",
                        names[k], label, c.create, c.render, kSeconds, kSeconds / (c.create + c.render));
    }
    std::fflush(stdout);
}

void BM_RetuneBlock(benchmark::State &state)
{
    auto r = OfflineRender::create(kChannels, kRate, kFactor, EngineKind::balanced, kBlock, false,
                                   ChainDsp::Use::files);
    const std::vector<float> in = chords(kBlock);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        r->process(in.data(), kBlock, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    // Audio seconds per CPU second: times real time on one core.
    state.counters["x_real_time"] = benchmark::Counter(static_cast<double>(state.iterations()) * kBlock / kRate,
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RetuneBlock)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    report();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
