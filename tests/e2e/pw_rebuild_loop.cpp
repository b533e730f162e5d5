// SPDX-License-Identifier: GPL-3.0-or-later
// pw_rebuild_loop: starts the tap engine on the real PipeWire platform, then stops and starts it
// again and again (with the analysis worker polling the FIFO the whole time), the way the
// controller rebuilds after a device or rate change. Built for AddressSanitizer runs too.
//
//   pw_rebuild_loop [--iterations 200] [--hold-ms 60] [--factor 0.5] [--engines all|lowLatency]
// Prints one summary line:
//   iterations=N failures=F distinct_taps=T gap_ms_median=M gap_ms_max=X
#include "analysis/TuningAnalysisWorker.h"
#include "audio/AudioError.h"
#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWirePlatform.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int iterations = 200, holdMs = 60;
    double factor = 0.5;
    bool allEngines = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--iterations")) iterations = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--hold-ms")) holdMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--factor")) factor = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--engines")) allEngines = std::strcmp(argv[i + 1], "all") == 0;
    }
    std::shared_ptr<PipeWirePlatform> platform;
    try {
        platform = PipeWirePlatform::connect();
    } catch (const AudioError &e) {
        std::fprintf(stderr, "%s\n", e.errorDescription().c_str());
        return 1;
    }
    TapEngine::removeOrphanedAggregateDevices(*platform);
    auto engine = TapEngine::create(platform);
    TuningAnalysisWorker worker;
    int failures = 0;
    std::set<AudioObjectID> taps;
    std::vector<double> gaps;
    const EngineKind kinds[] = {EngineKind::lowLatency, EngineKind::balanced, EngineKind::highQuality};
    auto pump = [&](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    for (int i = 0; i <= iterations; ++i) {
        const EngineKind kind = allEngines ? kinds[i % 3] : EngineKind::lowLatency;
        try {
            engine->start(factor, kind, 2048);
            taps.insert(engine->tapID());
            if (auto info = engine->runInfo())
                worker.start(engine, info->sampleRate);
        } catch (const AudioError &e) {
            std::fprintf(stderr, "iteration %d: %s\n", i, e.errorDescription().c_str());
            ++failures;
        }
        if (i > 0) {
            const double gap = platform->lastRebuildGapMs();
            if (gap >= 0)
                gaps.push_back(gap);
        }
        pump(holdMs);
        if (i == iterations)
            break;
        // Restart path: the worker may still be polling while the chain goes away.
        engine->stop();
        worker.stop();
    }
    worker.stop();
    engine->stop();
    platform->releaseParked();
    std::sort(gaps.begin(), gaps.end());
    std::printf("iterations=%d failures=%d distinct_taps=%zu gap_ms_median=%.1f gap_ms_max=%.1f\n", iterations,
                failures, taps.size(), gaps.empty() ? -1.0 : gaps[gaps.size() / 2], gaps.empty() ? -1.0 : gaps.back());
    engine.reset();
    platform.reset();
    return failures == 0 ? 0 : 1;
}
