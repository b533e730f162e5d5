// SPDX-License-Identifier: GPL-3.0-or-later
// The retuning engine against the fake audio server: builds off the caller's thread, reports
// by events, keeps what still fits on a rebuild, closes at once on stop, survives a lost server.
#include "audio/TapEngine.h"
#include "testsupport/FakeAudioServer.h"

#include <gtest/gtest.h>

#include <QTest>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>

namespace {

// What the engine reported, in order, as text.
struct Recorder {
    RetuneEngine::Events events()
    {
        RetuneEngine::Events e;
        e.running = [this](const RunInfo &) { add("running"); };
        e.failed = [this](const AudioError &error) { add("failed: " + error.errorDescription()); };
        e.rebuildNeeded = [this](const std::string &reason) { add("rebuild: " + reason); };
        e.serverConnection = [this](bool connected) { add(connected ? "server back" : "server lost"); };
        e.waiting = [this](SessionWait why) {
            add(why == SessionWait::sessionManager ? "waiting: session manager" : "waiting: output device");
        };
        return e;
    }
    void add(std::string line)
    {
        std::lock_guard lock(mutex);
        log.push_back(std::move(line));
        changed.notify_all();
    }
    // The log once it has `count` lines (or after 5 s).
    std::vector<std::string> waitFor(std::size_t count)
    {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(5), [&] { return log.size() >= count; });
        return log;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> log;
};

class TapEngineTest : public ::testing::Test {
protected:
    void SetUp() override { fresh(); }
    void TearDown() override
    {
        if (engine)
            engine->stop();
    }

    // A new server with speakers (the default) and headphones, arranged before the engine
    // exists, so that no event of the arrangement reaches the engine.
    void fresh(const std::function<void()> &arrange = {})
    {
        if (engine)
            engine->stop();
        engine.reset();
        fake = std::make_shared<FakeAudioServer>();
        speakers = fake->addDevice("speakers", "Lautsprecher", 48000.0, 2, 512);
        headphones = fake->addDevice("headphones", "Kopfhoerer", 48000.0, 2, 512);
        fake->setDefault(speakers);
        if (arrange)
            arrange();
        engine = TapEngine::create(fake);
        { std::lock_guard lock(recorder.mutex); recorder.log.clear(); }
        engine->setEvents(recorder.events(), [](std::function<void()> task) { task(); });
    }

    void startAndWait(EngineKind kind = EngineKind::lowLatency)
    {
        const std::size_t before = recorder.waitFor(0).size();
        engine->start(1.0, kind);
        ASSERT_EQ(recorder.waitFor(before + 1).back(), "running");
    }
    void rebuildAndWait()
    {
        // Events may still arrive from the engine's thread: count under the recorder's lock.
        const auto runs = [&] {
            std::lock_guard lock(recorder.mutex);
            return std::count(recorder.log.begin(), recorder.log.end(), "running");
        };
        const auto before = runs();
        engine->rebuild();
        ASSERT_TRUE(QTest::qWaitFor([&] { return runs() > before; }));
    }
    // `blocks` blocks of a 440 Hz sine; the left output's peak (-1: no chain).
    float render(int blocks = 1) { return fake->renderSine(440.0, 0.5f, blocks, 512, phase); }

    std::shared_ptr<FakeAudioServer> fake;
    std::uint32_t speakers = 0, headphones = 0;
    std::shared_ptr<TapEngine> engine;
    Recorder recorder;
    std::uint64_t phase = 0;
};

TEST_F(TapEngineTest, start_reports_what_runs_and_tells_players_the_selected_engines_latency)
{
    for (const EngineSpec &e : EngineTable::engines) {
        startAndWait(e.kind);
        std::optional<RunInfo> info = engine->runInfo();
        ASSERT_TRUE(info);
        EXPECT_EQ(info->outputDeviceName, "Lautsprecher");
        EXPECT_EQ(info->sampleRate, 48000.0);
        EXPECT_GT(info->latencySeconds(e.kind), 0.0) << e.cliName; // the selected engine plays first
        EXPECT_EQ(fake->chain().latency, std::lround(info->latencySeconds(e.kind) * 48000.0)) << e.cliName;
        // The other engines follow while the chain plays (a hang bound: under ThreadSanitizer
        // on a loaded machine their creation takes several seconds).
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return engine->runInfo()->balancedSeconds * engine->runInfo()->highQualitySeconds > 0; },
            30000));
        info = engine->runInfo();
        EXPECT_GT(info->balancedSeconds, info->lowLatencySeconds);
        EXPECT_GT(info->highQualitySeconds, info->balancedSeconds);
        engine->selectEngine(EngineKind::highQuality);
        EXPECT_EQ(fake->chain().latency, std::lround(info->highQualitySeconds * 48000.0));
        engine->stop();
        EXPECT_FALSE(engine->isRunning());
        EXPECT_FALSE(engine->runInfo());
        EXPECT_FALSE(fake->chain().open); // closed at once: applications are back on their device
    }
}

TEST_F(TapEngineTest, processed_channels_are_limited_to_one_to_eight)
{
    for (auto [device, processed] : {std::pair{0, 1}, {1, 1}, {2, 2}, {12, 8}}) {
        fresh([&, device = device] {
            fake->setDefault(fake->addDevice("wide", "Wide", 48000.0, device, 512));
        });
        startAndWait();
        EXPECT_EQ(engine->runInfo()->channels, processed) << device;
        engine->stop();
    }
}

TEST_F(TapEngineTest, failed_start_names_the_operation_and_leaves_nothing_behind)
{
    struct Case {
        std::function<void()> arrange;
        std::string message;
    };
    const Case cases[] = {
        {[&] { fake->setDefault(0); },
         "Kein Standard-Ausgabegeraet vorhanden fehlgeschlagen (-19: No such device)"},
        {[&] { fake->failNextOpen(-EBUSY); },
         "Aufnahme-Senke anlegen fehlgeschlagen (-16: Device or resource busy)"},
        {[&] { fake->setConnected(false); },
         "Standard-Ausgabegeraet lesen fehlgeschlagen (-32: Broken pipe)"},
    };
    for (const Case &c : cases) {
        fresh(c.arrange);
        engine->start(1.0, EngineKind::balanced);
        EXPECT_EQ(recorder.waitFor(1).back(), "failed: " + c.message);
        EXPECT_FALSE(engine->isRunning());
        EXPECT_FALSE(fake->chain().open);
    }
}

TEST_F(TapEngineTest, start_returns_at_once_and_a_stop_drops_the_build_silently)
{
    fake->holdOpens(true); // the build waits inside openChain
    engine->start(1.0, EngineKind::balanced);
    engine->start(1.0, EngineKind::balanced); // under way: nothing more
    EXPECT_TRUE(engine->isRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->waitingOpens() == 1; }));
    engine->stop();
    fake->holdOpens(false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake->opens() == 1 && !fake->chain().open; }));
}

TEST_F(TapEngineTest, the_chain_renders_and_feeds_the_analysis_until_stopped)
{
    startAndWait();
    EXPECT_GT(render(10), 0.4f);
    EXPECT_EQ(engine->stats().frames, 5120u);
    std::vector<float> samples(8192);
    EXPECT_EQ(engine->readAnalysisSamples(samples.data(), 8192), 5120u);
    fake->changeChain([](auto &c) { c.idle = true; });
    EXPECT_TRUE(engine->stats().idle);
    engine->stop();
    EXPECT_FALSE(engine->readAnalysisSamples(samples.data(), 8192));
    EXPECT_EQ(render(), -1.0f);
}

TEST_F(TapEngineTest, rebuild_keeps_the_chain_and_the_dsp_objects_while_they_fit)
{
    struct Case {
        const char *what;
        std::function<void()> change;
        int opens;          // chains opened in all
        bool framesKept;    // same DSP objects
        const char *device; // what the chain plays to afterwards
    };
    const Case cases[] = {
        {"nothing changed", [] {}, 1, true, "speakers"},
        {"new default device", [&] { fake->setDefault(headphones); }, 1, true, "headphones"},
        {"new rate", [&] { fake->setRate(44100.0); }, 1, false, "speakers"},
        {"failed stream", [&] { fake->changeChain([](auto &c) { c.health = ChainHealth::failed; }); }, 2,
         true, "speakers"},
    };
    for (const Case &c : cases) {
        fresh();
        startAndWait();
        render();
        c.change();
        rebuildAndWait();
        EXPECT_EQ(fake->opens(), c.opens) << c.what;
        EXPECT_EQ(engine->stats().frames == 512, c.framesKept) << c.what;
        EXPECT_EQ(fake->chain().device.nodeName, c.device) << c.what;
        EXPECT_GT(render(4), 0.4f) << c.what; // beyond the delay line's latency
    }
}

TEST_F(TapEngineTest, device_and_rate_changes_ask_for_a_rebuild)
{
    startAndWait();
    fake->setDefault(headphones);
    fake->setRate(48000.0); // the rate the chain runs at: nothing to do
    fake->setRate(44100.0);
    EXPECT_EQ(recorder.waitFor(3), (std::vector<std::string>{"running", "rebuild: Ausgabegerät gewechselt",
                                                             "rebuild: Samplerate geändert"}));
}

TEST_F(TapEngineTest, a_lost_server_is_reported_and_the_engine_comes_back_by_itself)
{
    startAndWait();
    fake->setConnected(false);
    EXPECT_EQ(recorder.waitFor(2).back(), "server lost");
    EXPECT_EQ(engine->stats().health, ChainHealth::serverLost);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fake->chain().open; }));
    engine->rebuild(); // nothing to build on: waits for the server
    EXPECT_TRUE(engine->isRunning());
    fake->setConnected(true);
    EXPECT_EQ(recorder.waitFor(4),
              (std::vector<std::string>{"running", "server lost", "server back", "running"}));
    EXPECT_EQ(engine->stats().health, ChainHealth::healthy);
    EXPECT_EQ(fake->opens(), 2);
}

TEST_F(TapEngineTest, a_session_that_goes_away_is_waited_out_and_retuned_again_on_its_return)
{
    struct Case {
        const char *what;
        std::function<void()> leave;
        std::function<void()> back;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"session manager", [&] { fake->setSessionManager(false); }, [&] { fake->setSessionManager(true); },
         {"running", "waiting: session manager", "running"}},
        {"no output device left", [&] { fake->setDefault(0), engine->rebuild(); },
         [&] { fake->setDefault(headphones); },
         {"running", "rebuild: Ausgabegerät gewechselt", "waiting: output device", "running"}},
    };
    for (const Case &c : cases) {
        fresh();
        startAndWait();
        c.leave();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fake->chain().open; })) << c.what;
        EXPECT_TRUE(engine->isRunning()) << c.what;
        c.back();
        EXPECT_EQ(recorder.waitFor(c.log.size()), c.log) << c.what;
        EXPECT_TRUE(fake->chain().open) << c.what;
        EXPECT_GT(render(4), 0.4f) << c.what;
    }
}

TEST_F(TapEngineTest, a_rebuild_that_fails_under_a_kept_chain_closes_it_before_its_dsp_objects)
{
    startAndWait();
    fake->setRate(0.0); // no DSP objects can be built for it; the healthy chain would be kept
    engine->rebuild();
    EXPECT_EQ(recorder.waitFor(3).back(),
              "failed: DSP-Objekte anlegen fehlgeschlagen (-12: Cannot allocate memory)");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fake->chain().open; }));
    EXPECT_FALSE(engine->isRunning());
    EXPECT_LT(render(), 0.0f); // no callback left that could use freed objects
}

TEST_F(TapEngineTest, engines_completed_after_a_stop_or_engine_destruction_are_dropped_quietly)
{
    for (const bool destroy : {false, true}) {
        fresh();
        startAndWait(EngineKind::balanced); // the other two are built on the worker now
        engine->stop();
        if (destroy)
            engine.reset(); // joins the worker: nothing of it runs afterwards
        EXPECT_EQ(recorder.waitFor(1).size(), 1u) << destroy;
        EXPECT_FALSE(fake->chain().open) << destroy;
    }
}

TEST_F(TapEngineTest, shutdown_all_closes_every_chain)
{
    fake->staleRoutes = 2;
    EXPECT_EQ(engine->clearStaleRouting(), 2);
    startAndWait();
    TapEngine::shutdownAll();
    EXPECT_FALSE(fake->chain().open);
}

} // namespace
