// SPDX-License-Identifier: GPL-3.0-or-later
// How long one render callback takes, against the period of the block, stereo 48 kHz.
//
// For each block size (256 and 2048 frames) and engine the chain is built as the live chain
// builds it (all engines, starting on that engine) and fed a three-harmonic tone at 432/440:
//   start      longest block of the first 0.3 s (the chain opening on its engine)
//   steady     longest and 99th percentile block over 5 s, and thread CPU / audio time
//   switch     longest block within 0.3 s after selecting this engine from each other one
// Durations are the thread's CPU time around renderBlock(), so that a block preempted on a
// loaded machine does not count its wait; "wall" is the longest wall-clock block of the
// steady run, preemption included. Nothing is asserted.
#include "render/ChainDsp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kChannels = 2;
constexpr double kFactor = 432.0 / 440.0;

double clockSeconds(clockid_t id)
{
    timespec t;
    clock_gettime(id, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

class Feed {
public:
    explicit Feed(uint32_t block) : block_(block), left_(block), right_(block), out_(block * kChannels) {}

    // Renders one block and returns its CPU time in seconds (wall clock into `wall`).
    double render(const ChainDsp &dsp, double *wall = nullptr)
    {
        for (uint32_t i = 0; i < block_; ++i, ++n_) {
            const double t = static_cast<double>(n_) / kRate;
            const double s = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.15 * std::sin(2 * M_PI * 440 * t)
                             + 0.07 * std::sin(2 * M_PI * 1320 * t);
            left_[i] = right_[i] = static_cast<float>(s);
        }
        const float *in[] = {left_.data(), right_.data()};
        float *out[kChannels];
        for (uint32_t c = 0; c < kChannels; ++c)
            out[c] = out_.data() + static_cast<size_t>(c) * block_;
        const double w0 = clockSeconds(CLOCK_MONOTONIC);
        const double t0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
        renderBlock(dsp.context(), ConstAudioBlock{in, 2, block_}, AudioBlock{out, kChannels, block_});
        const double cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - t0;
        if (wall)
            *wall = std::max(*wall, clockSeconds(CLOCK_MONOTONIC) - w0);
        return cpu;
    }

    // Longest block over `seconds`; every duration also goes to `all` when given.
    double run(const ChainDsp &dsp, double seconds, std::vector<double> *all = nullptr, double *wall = nullptr)
    {
        double longest = 0.0;
        const auto blocks = static_cast<uint64_t>(std::ceil(seconds * kRate / block_));
        for (uint64_t b = 0; b < blocks; ++b) {
            const double d = render(dsp, wall);
            longest = std::max(longest, d);
            if (all)
                all->push_back(d);
        }
        return longest;
    }

private:
    uint32_t block_;
    uint64_t n_ = 0;
    std::vector<float> left_, right_, out_;
};

void report(uint32_t block)
{
    const double periodMs = 1000.0 * block / kRate;
    std::printf("\nblock %u frames: period %.2f ms, half %.2f ms (all durations in ms)\n", block, periodMs,
                periodMs / 2);
    std::printf("%-12s %8s %8s %8s %8s %7s %10s %10s %10s\n", "engine", "start", "longest", "p99", "wall", "cpu %",
                "sw<-lowLat", "sw<-balan", "sw<-highQ");
    for (const EngineSpec &e : EngineTable::engines) {
        const auto dsp = ChainDsp::create(kChannels, kRate, EngineTable::stretchMaxFrames(block), kFactor, e.kind,
                                          true);
        if (!dsp) {
            std::printf("%-12s could not be built\n", e.cliName);
            continue;
        }
        Feed feed(block);
        const double start = feed.run(*dsp, 0.3);
        std::vector<double> all;
        const double cpu0 = clockSeconds(CLOCK_THREAD_CPUTIME_ID);
        double wall = 0.0;
        const double longest = feed.run(*dsp, 5.0, &all, &wall);
        const double cpu = clockSeconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        std::sort(all.begin(), all.end());
        const double p99 = all[all.size() * 99 / 100];
        double toThis[3] = {};
        for (const EngineSpec &from : EngineTable::engines) {
            if (from.kind == e.kind)
                continue;
            dsp->select(from.kind);
            feed.run(*dsp, 0.5);
            dsp->select(e.kind);
            toThis[&from - EngineTable::engines.data()] = feed.run(*dsp, 0.3);
        }
        std::printf("%-12s %8.3f %8.3f %8.3f %8.3f %7.2f", e.cliName, 1000 * start, 1000 * longest, 1000 * p99,
                    1000 * wall, 100.0 * cpu / 5.0);
        for (double d : toThis) {
            if (d > 0)
                std::printf(" %10.3f", 1000 * d);
            else
                std::printf(" %10s", "-");
        }
        std::printf("\n");
    }
}

} // namespace

int main()
{
    std::printf("render callback duration, stereo %.0f Hz, factor 432/440\n", kRate);
    for (uint32_t block : {256u, 2048u})
        report(block);
    return 0;
}
