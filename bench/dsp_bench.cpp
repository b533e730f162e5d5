// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the real-time DSP blocks and the analysis FFT. The "time_per_sample" counter is
// the time per channel sample (per stereo frame: twice that).
#include "tonvel_dsp.h"
#include "tv_fft.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr uint32_t kBlock = 512;

std::vector<float> sine(size_t n, double hz, double rate)
{
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = float(0.5 * std::sin(2 * std::numbers::pi * hz * double(i) / rate));
    return v;
}

// With --benchmark_repetitions, the fastest repetition is the figure least disturbed by
// other load on the machine.
double fastest(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

// Inverted rate of samples per second: time per sample (printed as e.g. "4.2ns").
void perSample(benchmark::State &state, double samplesPerIteration)
{
    state.counters["time_per_sample"] = benchmark::Counter(
        samplesPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Delay-line engine on one interleaved stereo block of 512 frames, both channels.
// gliding:0 = steady factor; gliding:1 = a new factor every block, so the factor
// smoothing never settles (the slower case).
void BM_DelayEngineStereo512(benchmark::State &state)
{
    const bool gliding = state.range(0) != 0;
    tv_engine *engine = tv_engine_create(2048, 48000.0);
    tv_engine_set_factor(engine, 432.0 / 440.0);
    tv_engine_reset(engine);
    constexpr size_t kBlocks = 64;
    const auto mono = sine(kBlock * kBlocks, 440.0, 48000.0);
    std::vector<float> in(2 * mono.size()), out(2 * kBlock);
    for (size_t k = 0; k < mono.size(); ++k)
        in[2 * k] = in[2 * k + 1] = mono[k];
    size_t block = 0;
    bool up = false;
    for (auto _ : state) {
        const float *frames = in.data() + 2 * kBlock * block;
        block = (block + 1) % kBlocks;
        if (gliding)
            tv_engine_set_factor(engine, (up = !up) ? 1.02 : 0.98);
        tv_engine_process_channel(engine, 0, frames, 2, out.data(), 2, kBlock);
        tv_engine_process_channel(engine, 1, frames + 1, 2, out.data() + 1, 2, kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    perSample(state, 2.0 * kBlock);
    tv_engine_destroy(engine);
}
BENCHMARK(BM_DelayEngineStereo512)->Arg(0)->Arg(1)->ArgName("gliding")->ComputeStatistics("min", fastest);

// One 512-sample block written (stride 2, as from an interleaved buffer) and read back.
void BM_FifoWriteReadBlock512(benchmark::State &state)
{
    tv_fifo *fifo = tv_fifo_create(65536);
    std::vector<float> in(2 * kBlock, 0.25f), out(kBlock);
    for (auto _ : state) {
        tv_fifo_write(fifo, in.data(), 2, kBlock);
        benchmark::DoNotOptimize(tv_fifo_read(fifo, out.data(), kBlock));
        benchmark::ClobberMemory();
    }
    perSample(state, kBlock);
    tv_fifo_destroy(fifo);
}
BENCHMARK(BM_FifoWriteReadBlock512)->ComputeStatistics("min", fastest);

void BM_Fft16384(benchmark::State &state)
{
    constexpr uint32_t n = 16384;
    tv_fft *fft = tv_fft_create(n);
    const auto in = sine(n, 440.0, 48000.0);
    std::vector<float> re(n / 2), im(n / 2);
    for (auto _ : state) {
        tv_fft_forward(fft, in.data(), re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    perSample(state, n);
    tv_fft_destroy(fft);
}
BENCHMARK(BM_Fft16384)->ComputeStatistics("min", fastest);

} // namespace

BENCHMARK_MAIN();
