// SPDX-License-Identifier: GPL-3.0-or-later
// Supervision against an audio layer in memory and hand-driven timers: failed starts, the
// restart debounce, stalls, a lost sound server and the end of the resume attempts, shutdown.
#include "controller/ChainSupervisor.h"
#include "controller/TuningDetection.h"

#include "ControllerTestKit.h"
#include "FakeRetuneEngine.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

using ControllerTestKit::settle;
using State = ChainSupervisor::ChainState;

namespace {

struct ChainSupervisorTest : ::testing::Test {
    ChainSupervisorTest() { ControllerTestKit::ensureApp(); }

    ChainSupervisor &make()
    {
        chain.reset();
        engine = std::make_shared<FakeRetuneEngine>();
        chain = std::make_unique<ChainSupervisor>(engine, timers, detection);
        return *chain;
    }
    ChainSupervisor &running()
    {
        make().start();
        engine->finishBuild();
        settle();
        return *chain;
    }
    int count(const char *call) const { return int(std::count(engine->calls.begin(), engine->calls.end(), call)); }

    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>();
    TuningDetection detection{false};
    std::shared_ptr<FakeRetuneEngine> engine;
    std::unique_ptr<ChainSupervisor> chain;
};

} // namespace

TEST_F(ChainSupervisorTest, failed_start_gives_up_with_the_error_and_a_later_start_clears_it)
{
    ChainSupervisor &c = make();
    QSignalSpy gaveUp(&c, &ChainSupervisor::gaveUp);
    c.start();
    EXPECT_EQ(c.state(), State::starting);
    engine->failBuild("Kette aufbauen");
    settle();
    EXPECT_EQ(gaveUp.count(), 1);
    EXPECT_EQ(c.state(), State::stopped);
    EXPECT_TRUE(c.errorMessage().startsWith(QStringLiteral("Kette aufbauen fehlgeschlagen")));
    EXPECT_TRUE(c.needsPermissionHint());
    timers->advance(5000);
    EXPECT_EQ(count("start"), 1); // no retry by itself

    c.start();
    c.setEngine(EngineKind::balanced); // chosen while the chain is being built
    c.setFactor(1.5);
    EXPECT_TRUE(c.errorMessage().isEmpty());
    EXPECT_FALSE(c.needsPermissionHint());
    engine->finishBuild();
    settle();
    EXPECT_EQ(c.state(), State::running);
    EXPECT_EQ(engine->selected, EngineKind::balanced);
    EXPECT_EQ(engine->factor, 1.5);
    EXPECT_EQ(c.outputDeviceName(), QStringLiteral("Lautsprecher"));
    EXPECT_EQ(c.sampleRate(), 48000.0);
    EXPECT_EQ(c.latencySeconds(), 0.120);
}

TEST_F(ChainSupervisorTest, requests_within_the_debounce_rebuild_once_with_the_last_reason)
{
    ChainSupervisor &c = running();
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    timers->advance(300);
    engine->requestRebuild("Samplerate geändert");
    settle();
    timers->advance(399);
    EXPECT_EQ(count("rebuild"), 0);
    timers->advance(1);
    EXPECT_EQ(count("rebuild"), 1);
    EXPECT_EQ(c.state(), State::rebuilding);
    engine->finishBuild();
    settle();
    EXPECT_EQ(c.rebuilds(), 1);
    EXPECT_EQ(c.lastRebuildReason(), QStringLiteral("Samplerate geändert"));

    c.stop();
    EXPECT_EQ(c.rebuilds(), 0);
    EXPECT_TRUE(c.lastRebuildReason().isEmpty());
    EXPECT_EQ(c.sampleRate(), 44100.0); // the device's own rate once stopped
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    timers->advance(1000);
    EXPECT_EQ(count("rebuild"), 1);
}

TEST_F(ChainSupervisorTest, only_a_chain_that_stands_still_without_being_idle_is_rebuilt)
{
    const struct {
        bool advancing, idle, rebuilt;
    } cases[] = {{false, false, true}, {false, true, false}, {true, false, false}};
    for (const auto &c : cases) {
        running();
        for (int poll = 0; poll < 3; ++poll) {
            engine->stats_.frames += c.advancing ? 1024 : 0;
            engine->stats_.idle = c.idle;
            timers->advance(1000);
        }
        timers->advance(400);
        EXPECT_EQ(count("rebuild"), c.rebuilt ? 1 : 0) << c.advancing << c.idle;
        if (c.rebuilt) {
            engine->finishBuild();
            settle();
            EXPECT_EQ(chain->lastRebuildReason(), QStringLiteral("Audio stand still"));
        }
    }
}

TEST_F(ChainSupervisorTest, lost_sound_server_is_waited_for_and_resumed_until_the_attempts_run_out)
{
    // The session manager may need a while after the server is back: every failed resume
    // before the last is tried again on the next poll; the last one gives up.
    for (const int failures : {ChainSupervisor::resumeAttempts - 1, ChainSupervisor::resumeAttempts}) {
        SCOPED_TRACE(failures);
        ChainSupervisor &c = running();
        QSignalSpy gaveUp(&c, &ChainSupervisor::gaveUp);
        engine->connection(false);
        settle();
        EXPECT_EQ(c.state(), State::waitingForServer);
        EXPECT_TRUE(c.serverLost());
        EXPECT_EQ(c.errorMessage(),
                  QStringLiteral("PipeWire ist nicht erreichbar. Velmora macht weiter, sobald es wieder da ist."));
        engine->failBuild(); // the engine's own attempt while the server is away
        settle();
        EXPECT_EQ(gaveUp.count(), 0);

        engine->connection(true);
        settle();
        for (int i = 0; i < failures; ++i) {
            engine->failBuild();
            settle();
            timers->advance(1000);
        }
        EXPECT_EQ(count("start"), 1 + std::min(failures + 1, ChainSupervisor::resumeAttempts));
        if (failures < ChainSupervisor::resumeAttempts) {
            engine->finishBuild();
            settle();
            EXPECT_EQ(c.state(), State::running);
            EXPECT_EQ(c.lastRebuildReason(), QStringLiteral("PipeWire wieder erreichbar"));
            EXPECT_TRUE(c.errorMessage().isEmpty());
        } else {
            EXPECT_EQ(gaveUp.count(), 1);
            EXPECT_EQ(c.state(), State::stopped);
            EXPECT_TRUE(c.errorMessage().startsWith(QStringLiteral("Kette aufbauen fehlgeschlagen")));
            EXPECT_TRUE(c.needsPermissionHint());
        }
        EXPECT_FALSE(c.serverLost());
    }
}

TEST_F(ChainSupervisorTest, a_session_away_is_shown_in_words_and_its_return_counts_as_a_rebuild)
{
    const std::pair<SessionWait, const char *> cases[] = {
        {SessionWait::sessionManager, "Warte auf den Sitzungsmanager"},
        {SessionWait::outputDevice, "Warte auf ein Ausgabegerät"},
    };
    for (const auto &[why, words] : cases) {
        ChainSupervisor &c = running();
        engine->sessionAway(why);
        settle();
        EXPECT_EQ(c.state(), State::waitingForSession);
        EXPECT_TRUE(c.errorMessage().startsWith(QString::fromUtf8(words))) << words;
        engine->finishBuild(); // the engine's own build once the session is back
        settle();
        EXPECT_EQ(c.state(), State::running);
        EXPECT_EQ(c.lastRebuildReason(), QStringLiteral("Sitzung wieder bereit"));
        EXPECT_TRUE(c.errorMessage().isEmpty());
    }
}

TEST_F(ChainSupervisorTest, after_shutdown_nothing_builds_a_chain_again)
{
    ChainSupervisor &c = running();
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    c.shutdown();
    engine->stats_.frames = 0;
    timers->advance(10000);
    c.stop();
    c.start();
    EXPECT_EQ(count("start"), 1);
    EXPECT_EQ(count("rebuild"), 0);
}
