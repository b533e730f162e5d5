// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis worker against a tap engine on the fake audio server. That it reads the tuning
// of what plays through a real chain is tests/e2e/dbus/test_mpris.sh's.
#include "analysis/TuningAnalysisWorker.h"
#include "audio/TapEngine.h"
#include "testsupport/FakeAudioServer.h"
#include "testsupport/controller/ControllerTestKit.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

class AnalysisWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ControllerTestKit::ensureApp();
        fake->setDefault(fake->addDevice("speakers", "Lautsprecher", 48000.0, 2, 480));
        worker.setOnEstimate([this](const TuningAnalyzer::Estimate &e, double elapsed) {
            estimates.push_back(e);
            elapsedValues.push_back(elapsed);
        });
    }
    void TearDown() override
    {
        worker.stop();
        if (engine)
            engine->stop();
        TapEngine::shutdownAll();
    }

    // One 100 ms stretch of a sine through the I/O callback (10 blocks of 480 frames).
    void play(double hz, std::uint64_t &phase) { fake->renderSine(hz, 0.4f, 10, 480, phase); }

    void startEngine()
    {
        engine->start(1.0, EngineKind::lowLatency);
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine->runInfo().has_value(); }));
    }

    std::shared_ptr<FakeAudioServer> fake = std::make_shared<FakeAudioServer>();
    std::shared_ptr<TapEngine> engine = TapEngine::create(fake);
    TuningAnalysisWorker worker;
    std::vector<TuningAnalyzer::Estimate> estimates;
    std::vector<double> elapsedValues;
};

TEST_F(AnalysisWorkerTest, failed_analyzer_leaves_the_worker_stopped_and_logs_once_per_start)
{
    static std::atomic<int> workerWarnings{0};
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
            workerWarnings +=
                type == QtWarningMsg
                && message == QStringLiteral("Velmora: Stimmungserkennung liess sich nicht anlegen.");
        });
    worker.start(engine, 0.0);
    EXPECT_FALSE(worker.isRunning());
    worker.start(engine, -1.0);
    qInstallMessageHandler(previous);
    EXPECT_EQ(workerWarnings.load(), 2);
    EXPECT_FALSE(worker.isRunning());
}

TEST_F(AnalysisWorkerTest, engine_without_chain_still_reports_every_100_ms)
{
    worker.start(engine, 48000.0); // engine exists, no chain
    ASSERT_TRUE(QTest::qWaitFor([&] { return estimates.size() >= 3; }));
    EXPECT_EQ(estimates.front(), TuningAnalyzer::Estimate::assumedStandard);
    EXPECT_EQ(elapsedValues.front(), 0.1);
}

TEST_F(AnalysisWorkerTest, stop_twice_reset_while_stopped_and_destroyed_engine_are_harmless)
{
    worker.stop();
    worker.reset();
    worker.start(engine, 48000.0);
    worker.tick(); // posts an estimate ...
    worker.stop(); // ... that must not arrive after the stop
    worker.stop();
    EXPECT_FALSE(worker.isRunning());
    worker.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(estimates.empty());

    worker.start(engine, 48000.0);
    engine.reset(); // a destroyed engine gives no estimates
    worker.tick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(estimates.empty());
}

TEST_F(AnalysisWorkerTest, worker_never_reads_a_freed_fifo)
{
    // Audio keeps flowing, the worker keeps draining (its timer plus a second thread ticking
    // as fast as it can), and the chain is stopped, restarted, rebuilt and shut down
    // underneath it. A read of a released FIFO would be a use-after-free (ASan).
    startEngine();
    worker.start(engine, 48000.0);
    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::uint64_t phase = 0;
        while (!done.load())
            play(440.0, phase);
    });
    std::thread ticker([&] {
        while (!done.load())
            worker.tick();
    });
    for (int i = 0; i < 8; ++i) {
        if (i % 4 == 3)
            TapEngine::shutdownAll();
        if (i % 2)
            fake->setRate(i % 4 == 1 ? 44100.0 : 48000.0); // a rebuild with new DSP objects
        engine->rebuild();
        engine->stop();
        engine->start(1.0, EngineKind::lowLatency);
        if (i % 3 == 0)
            worker.start(engine, 48000.0); // the restart path restarts the worker while it polls
    }
    done = true;
    audio.join();
    ticker.join();
    worker.stop();
    engine->stop();
    float sample = 0.0f;
    EXPECT_FALSE(engine->readAnalysisSamples(&sample, 1));
}

} // namespace
