// SPDX-License-Identifier: GPL-3.0-or-later
// pw_rebuild_loop: runs the retuning engine on the real PipeWire server and rebuilds it again
// and again (the analysis worker reading the whole time), the way the controller does after a
// device change or a stall. Built for AddressSanitizer runs too.
//
//   pw_rebuild_loop [--iterations 200] [--hold-ms 60] [--factor 0.5]
// Prints one summary line:
//   iterations=N failures=F distinct_taps=T build_ms_median=M build_ms_max=X caller_block_ms_max=B
// distinct_taps counts the chains opened (1: every rebuild kept the streams); build_ms is from
// rebuild() to the `running` event; caller_block_ms is the longest any engine call (start,
// rebuild, setFactor, stats, stop) kept this thread.
#include "analysis/TuningAnalysisWorker.h"
#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"
#include "tool_option.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Forwards to the real server and counts the chains it opens.
class CountingServer final : public AudioServer {
public:
    explicit CountingServer(std::shared_ptr<AudioServer> real) : real_(std::move(real)) {}
    void setEvents(Events e, Executor x) override { real_->setEvents(std::move(e), std::move(x)); }
    bool isConnected() const override { return real_->isConnected(); }
    bool hasSessionManager() const override { return real_->hasSessionManager(); }
    OutputDevice defaultOutput() override { return real_->defaultOutput(); }
    std::unique_ptr<AudioChain> openChain(const OutputDevice &d, RenderCallback r) override
    {
        ++opens;
        return real_->openChain(d, std::move(r));
    }
    int clearStaleRouting() override { return real_->clearStaleRouting(); }
    void setScope(const ChainScope &scope) override { real_->setScope(scope); }
    std::vector<AppEntry> applications() const override { return real_->applications(); }
    int opens = 0;

private:
    std::shared_ptr<AudioServer> real_;
};

// Waits up to `ms` for `done`, keeping Qt's events (the analysis worker's) flowing.
template <typename F> bool waitFor(int ms, F done)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!done() && Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int iterations = int(option(argc, argv, "--iterations", 200)), holdMs = int(option(argc, argv, "--hold-ms", 60));
    const double factor = option(argc, argv, "--factor", 0.5);
    const EngineKind kind = EngineKind::lowLatency; // all engines are built; this one plays
    std::shared_ptr<CountingServer> server;
    try {
        server = std::make_shared<CountingServer>(PipeWireServer::connect());
    } catch (const AudioError &e) {
        std::fprintf(stderr, "%s\n", e.errorDescription().c_str());
        return 1;
    }
    auto engine = TapEngine::create(server);
    engine->clearStaleRouting();
    // Events run at once on the engine's threads: they only count.
    std::atomic<int> runs{0}, failures{0};
    RetuneEngine::Events events;
    events.running = [&](const RunInfo &) { ++runs; };
    events.failed = [&](const AudioError &e) {
        std::fprintf(stderr, "%s\n", e.errorDescription().c_str());
        ++failures;
    };
    engine->setEvents(events, [](std::function<void()> t) { t(); });

    double callerMax = 0.0;
    auto timed = [&](auto call) {
        const auto t = Clock::now();
        call();
        callerMax = std::max(callerMax, msSince(t));
    };
    TuningAnalysisWorker worker;
    std::vector<double> builds;
    timed([&] { engine->start(factor, kind); });
    if (!waitFor(10000, [&] { return runs + failures > 0; }) || failures) {
        std::fprintf(stderr, "first start failed\n");
        return 1;
    }
    worker.start(engine, engine->runInfo()->sampleRate);
    for (int i = 1; i <= iterations; ++i) {
        const int before = runs;
        const auto t = Clock::now();
        timed([&] { engine->rebuild(); });
        if (!waitFor(10000, [&] { return runs > before || failures > 0; })) {
            std::fprintf(stderr, "iteration %d: no answer\n", i);
            ++failures;
        }
        builds.push_back(msSince(t));
        const auto hold = Clock::now();
        waitFor(holdMs, [&] {
            timed([&] { engine->stats(); });
            timed([&] { engine->setFactor(factor); });
            return msSince(hold) >= holdMs;
        });
        if (failures)
            break;
    }
    timed([&] { engine->stop(); });
    worker.stop();
    std::sort(builds.begin(), builds.end());
    std::printf("iterations=%d failures=%d distinct_taps=%d build_ms_median=%.1f build_ms_max=%.1f "
                "caller_block_ms_max=%.1f\n",
                iterations, failures.load(), server->opens, builds.empty() ? -1.0 : builds[builds.size() / 2],
                builds.empty() ? -1.0 : builds.back(), callerMax);
    engine.reset();
    server.reset();
    return failures == 0 ? 0 : 1;
}
