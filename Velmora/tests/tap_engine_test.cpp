// SPDX-License-Identifier: GPL-3.0-or-later
// Building, running and tearing down the chain, against the fake platform.
#include "audio/FakeAudioPlatform.h"
#include "audio/TapEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include <unistd.h>

using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

constexpr AudioObjectID kSelfObject = 77;

// Planar stereo blocks for driving the I/O callback.
struct Blocks {
    explicit Blocks(std::uint32_t frames, std::uint32_t channels = 2)
        : frames(frames)
        , in(channels, std::vector<float>(frames))
        , out(channels, std::vector<float>(frames))
    {
        inList.mNumberBuffers = outList.mNumberBuffers = channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            inList.mBuffers[c] = AudioBuffer{1, frames * 4, in[c].data()};
            outList.mBuffers[c] = AudioBuffer{1, frames * 4, out[c].data()};
        }
    }
    void sine(double hz, double rate, std::uint64_t &phase)
    {
        for (std::uint32_t f = 0; f < frames; ++f, ++phase)
            for (auto &ch : in)
                ch[f] = 0.5f * float(std::sin(2.0 * M_PI * hz * double(phase) / rate));
    }
    std::uint32_t frames;
    std::vector<std::vector<float>> in, out;
    AudioBufferList inList, outList;
};

class TapEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        speakers = fake->addDevice("speakers", "Lautsprecher", 48000.0, 512);
        fake->setDefaultOutputDevice(speakers);
        fake->setProcessObject(static_cast<std::int32_t>(::getpid()), kSelfObject);
    }
    void TearDown() override
    {
        if (engine)
            engine->stop();
        TapEngine::shutdownAll();
    }

    AudioError startExpectingError(EngineKind kind = EngineKind::lowLatency)
    {
        try {
            engine->start(1.0, kind, 2048);
        } catch (const AudioError &e) {
            return e;
        }
        ADD_FAILURE() << "start did not throw";
        return AudioError(0, "");
    }

    void expectNothingLeft()
    {
        EXPECT_EQ(engine->tapID(), 0u);
        EXPECT_EQ(engine->aggregateID(), 0u);
        EXPECT_EQ(engine->dsp(), nullptr);
        EXPECT_EQ(engine->stretchBalanced(), nullptr);
        EXPECT_EQ(engine->stretchHQ(), nullptr);
        EXPECT_EQ(engine->switcher(), nullptr);
        EXPECT_FALSE(engine->hasAnalysisFifo());
        EXPECT_EQ(fake->liveTaps(), 0u);
        EXPECT_EQ(fake->liveAggregates(), 0u);
        EXPECT_EQ(fake->liveIOProcs(), 0u);
        EXPECT_EQ(fake->listenerCount(speakers, kAudioDevicePropertyNominalSampleRate), 0u);
    }

    std::shared_ptr<FakeAudioPlatform> fake = std::make_shared<FakeAudioPlatform>();
    std::shared_ptr<TapEngine> engine = TapEngine::create(fake);
    AudioObjectID speakers = 0;
};

TEST_F(TapEngineTest, start_builds_the_described_tap_and_aggregate_device)
{
    engine->start(432.0 / 440.0, EngineKind::lowLatency, 2048);
    ASSERT_TRUE(engine->isRunning());

    // Our own output excluded from the tap (else it feeds back), muted while tapped.
    const CATapDescription tap = *fake->lastTapDescription();
    EXPECT_THAT(tap.excludedProcesses, ElementsAre(kSelfObject));
    EXPECT_EQ(tap.muteBehavior, CATapMutedWhenTapped);

    const AggregateDeviceDescription agg = *fake->lastAggregateDescription();
    EXPECT_THAT(agg.uid, StartsWith("org.velmora.Velmora.aggregate."));  // what orphan cleanup looks for
    EXPECT_EQ(agg.uid.size(), std::string("org.velmora.Velmora.aggregate.").size() + 36);
    EXPECT_EQ(agg.master, "speakers");
    ASSERT_EQ(agg.taps.size(), 1u);
    EXPECT_EQ(agg.taps[0].uid, "tap-" + tap.uuid);
    EXPECT_TRUE(agg.taps[0].drift);

    const TapEngine::RunInfo info = *engine->runInfo();
    EXPECT_EQ(info.outputDeviceName, "Lautsprecher");
    EXPECT_GT(info.highQualitySeconds, info.balancedSeconds);
    // The rate listener watches the device we play to, not the aggregate device.
    EXPECT_EQ(fake->listenerCount(speakers, kAudioDevicePropertyNominalSampleRate), 1u);
    EXPECT_EQ(fake->listenerCount(engine->aggregateID(), kAudioDevicePropertyNominalSampleRate), 0u);
    EXPECT_TRUE(fake->isStarted(engine->aggregateID()));
}

TEST_F(TapEngineTest, start_while_running_builds_nothing_and_stop_twice_is_harmless)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    engine->start(1.0, EngineKind::balanced, 2048);
    EXPECT_EQ(fake->callCount(FakeAudioPlatform::Op::createProcessTap), 1u);
    engine->stop();
    engine->stop();
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->runInfo().has_value());
    expectNothingLeft();
}

struct BuildFailure {
    const char *name;
    std::function<void(FakeAudioPlatform &)> inject;
    const char *description;
};

class TapEngineBuildFailure : public TapEngineTest, public ::testing::WithParamInterface<BuildFailure> {};

TEST_P(TapEngineBuildFailure, failed_build_reports_the_step_and_leaves_nothing_behind)
{
    GetParam().inject(*fake);
    EXPECT_EQ(startExpectingError().errorDescription(), GetParam().description);
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->runInfo().has_value());
    expectNothingLeft();

    // The failed build gave its claim on the process's one chain back.
    fake->clearFailures();
    fake->setDefaultOutputDevice(speakers);
    fake->tapFormat.mFormatFlags = kAudioFormatFlagIsFloat;
    fake->tapFormat.mBitsPerChannel = 32;
    auto other = TapEngine::create(fake);
    EXPECT_NO_THROW(other->start(1.0, EngineKind::lowLatency, 2048));
    other->stop();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, TapEngineBuildFailure,
    ::testing::Values(
        BuildFailure{"noDefaultDevice", [](FakeAudioPlatform &f) { f.setDefaultOutputDevice(0); },
                     "Kein Standard-Ausgabegeraet vorhanden fehlgeschlagen ('!dev' / 560227702)"},
        BuildFailure{"defaultDeviceRead",
                     [](FakeAudioPlatform &f) { f.failProperty(kAudioHardwarePropertyDefaultOutputDevice, -111); },
                     "Standard-Ausgabegeraet lesen fehlgeschlagen (-111)"},
        BuildFailure{"deviceUID", [](FakeAudioPlatform &f) { f.failProperty(kAudioDevicePropertyDeviceUID, -2); },
                     "Geraete-UID lesen fehlgeschlagen (-2)"},
        BuildFailure{"createTap",
                     [](FakeAudioPlatform &f) { f.failOperation(FakeAudioPlatform::Op::createProcessTap, -16); },
                     "Process-Tap erstellen fehlgeschlagen (-16)"},
        BuildFailure{"tapUID", [](FakeAudioPlatform &f) { f.failProperty(kAudioTapPropertyUID, -5); },
                     "Tap-UID lesen fehlgeschlagen (-5)"},
        BuildFailure{"createAggregate",
                     [](FakeAudioPlatform &f) {
                         f.failOperation(FakeAudioPlatform::Op::createAggregateDevice, OSStatus(fourCharCode("nope")));
                     },
                     "Aggregate-Device erstellen fehlgeschlagen ('nope' / 1852797029)"},
        BuildFailure{"tapFormat", [](FakeAudioPlatform &f) { f.failProperty(kAudioTapPropertyFormat, -50); },
                     "Tap-Format lesen fehlgeschlagen (-50)"},
        BuildFailure{"integerFormat",
                     [](FakeAudioPlatform &f) {
                         f.tapFormat.mFormatFlags = 0;
                         f.tapFormat.mBitsPerChannel = 16;
                     },
                     "Tap liefert kein 32-Bit-Float-PCM fehlgeschlagen ('!dat' / 560226676)"},
        BuildFailure{"createIOProc",
                     [](FakeAudioPlatform &f) { f.failOperation(FakeAudioPlatform::Op::createIOProcID, -12); },
                     "IOProc erstellen fehlgeschlagen (-12)"},
        BuildFailure{"deviceStart",
                     [](FakeAudioPlatform &f) { f.failOperation(FakeAudioPlatform::Op::deviceStart, -110); },
                     "Audiogeraet starten fehlgeschlagen (-110)"}),
    [](const ::testing::TestParamInfo<BuildFailure> &info) { return std::string(info.param.name); });

TEST_F(TapEngineTest, integer_tap_format_fails_after_tap_and_aggregate_and_destroys_both)
{
    fake->tapFormat.mFormatFlags = 0;
    fake->tapFormat.mBitsPerChannel = 16;
    startExpectingError();
    EXPECT_THAT(fake->callLog(), ElementsAre("createProcessTap", "createAggregateDevice", "destroyAggregateDevice",
                                 "destroyProcessTap"));
}

TEST_F(TapEngineTest, fallbacks_do_not_fail_the_build)
{
    fake->failProperty(kAudioObjectPropertyName, -1);
    fake->setProcessObject(static_cast<std::int32_t>(::getpid()), 0);  // no process object
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_EQ(engine->runInfo()->outputDeviceName, "Unbekannt");
    EXPECT_TRUE(fake->lastTapDescription()->excludedProcesses.empty());
}

struct ChannelCase {
    std::optional<std::vector<std::uint32_t>> outputStreams;  // nullopt: the query fails
    std::uint32_t tapChannels;
    int expected;
};

class TapEngineChannels : public TapEngineTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(TapEngineChannels, channels_are_the_smaller_side_limited_to_one_to_eight)
{
    const ChannelCase c = GetParam();
    fake->tapFormat.mChannelsPerFrame = c.tapChannels;
    if (c.outputStreams)
        fake->aggregateOutputStreams = *c.outputStreams;
    else
        fake->failProperty(kAudioDevicePropertyStreamConfiguration, -1);
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_EQ(engine->runInfo()->channels, c.expected);
    EXPECT_EQ(tv_stretch_channels(engine->stretchBalanced()), std::uint32_t(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, TapEngineChannels,
                         ::testing::Values(ChannelCase{std::vector<std::uint32_t>{2}, 2, 2},
                                           ChannelCase{std::vector<std::uint32_t>{1}, 2, 1},
                                           ChannelCase{std::nullopt, 2, 1},
                                           ChannelCase{std::vector<std::uint32_t>{}, 2, 1},
                                           ChannelCase{std::vector<std::uint32_t>{4, 8}, 8, 8},
                                           ChannelCase{std::vector<std::uint32_t>{2, 6}, 2, 2}));

struct FramesCase {
    std::optional<std::uint32_t> bufferFrameSize;  // nullopt: the read fails
    std::uint32_t expected;
};

class TapEngineMaxFrames : public TapEngineTest, public ::testing::WithParamInterface<FramesCase> {};

TEST_P(TapEngineMaxFrames, stretch_takes_a_whole_device_block_in_one_call)
{
    if (GetParam().bufferFrameSize)
        fake->aggregateBufferFrameSize = *GetParam().bufferFrameSize;
    else
        fake->failProperty(kAudioDevicePropertyBufferFrameSize, -1);
    engine->start(1.0, EngineKind::balanced, 2048);
    EXPECT_EQ(tv_stretch_max_frames(engine->stretchBalanced()), GetParam().expected);
    EXPECT_EQ(tv_stretch_max_frames(engine->stretchHQ()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TapEngineMaxFrames,
                         ::testing::Values(FramesCase{512u, 4096u}, FramesCase{8192u, 16384u},
                                           FramesCase{std::nullopt, 4096u}));

TEST_F(TapEngineTest, sample_rate_falls_back_to_the_tap_format_then_48k)
{
    fake->failProperty(kAudioDevicePropertyNominalSampleRate, -1);
    fake->tapFormat.mSampleRate = 44100.0;
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_EQ(engine->runInfo()->sampleRate, 44100.0);
    engine->stop();

    fake->clearFailures();
    fake->aggregateSampleRate = 0.0;
    fake->tapFormat.mSampleRate = 0.0;
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_EQ(engine->runInfo()->sampleRate, 48000.0);
    engine->stop();

    fake->aggregateSampleRate = std::nan("");
    fake->tapFormat.mSampleRate = 96000.0;
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_EQ(engine->runInfo()->sampleRate, 96000.0);
}

TEST_F(TapEngineTest, engine_kind_raw_value_is_the_switcher_slot)
{
    EXPECT_FALSE(EngineKinds::fromRawValue(3).has_value() || EngineKinds::fromRawValue(-1).has_value());
    for (const EngineKind kind : EngineKinds::allCases) {
        engine->start(1.0, kind, 2048);
        Blocks blocks(1024);
        for (int i = 0; i < 4; ++i)  // past the 25 ms fade from the initial slot
            ASSERT_TRUE(fake->runIOCycle(engine->aggregateID(), &blocks.inList, &blocks.outList));
        std::uint32_t switched = 0;
        EXPECT_EQ(tv_switch_begin_block(engine->switcher(), 0, &switched), std::uint32_t(EngineKinds::rawValue(kind)));
        engine->stop();
    }
}

TEST_F(TapEngineTest, the_selected_engines_latency_is_reported_in_frames)
{
    engine->start(1.0, EngineKind::balanced, 2048);
    const AudioObjectID device = engine->aggregateID();
    const TapEngine::RunInfo info = *engine->runInfo();
    auto frames = [&](double seconds) { return std::uint32_t(std::lround(seconds * info.sampleRate)); };
    EXPECT_EQ(fake->reportedLatency(device), frames(info.balancedSeconds));
    engine->reportLatency(EngineKind::lowLatency);
    EXPECT_EQ(fake->reportedLatency(device), 1024u);  // half the delay window
    engine->stop();
    engine->reportLatency(EngineKind::highQuality);  // nothing runs: harmless, nothing reported
    EXPECT_FALSE(fake->reportedLatency(device).has_value());
}

TEST_F(TapEngineTest, io_cycle_runs_the_render_chain_and_feeds_the_analysis_fifo)
{
    engine->start(432.0 / 440.0, EngineKind::lowLatency, 2048);
    Blocks blocks(480);
    std::uint64_t phase = 0;
    for (int i = 0; i < 20; ++i) {
        blocks.sine(440.0, 48000.0, phase);
        ASSERT_TRUE(fake->runIOCycle(engine->aggregateID(), &blocks.inList, &blocks.outList));
    }
    EXPECT_EQ(tv_switch_frames(engine->switcher()), 20u * 480u);  // the controller's liveness signal
    EXPECT_GT(*std::max_element(blocks.out[1].begin(), blocks.out[1].end()), 0.1f);
    std::vector<float> drained(16384);
    EXPECT_EQ(engine->readAnalysisSamples(drained.data(), 16384), 20u * 480u);
    EXPECT_FLOAT_EQ(drained[100], 0.5f * float(std::sin(2.0 * M_PI * 440.0 * 100 / 48000.0)));
}

TEST_F(TapEngineTest, teardown_stops_the_callback_before_anything_is_destroyed)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    fake->clearCallLog();
    engine->stop();
    EXPECT_THAT(fake->callLog(), ElementsAre("removePropertyListener 'nsrt' / 1853059700", "deviceStop",
                                             "destroyIOProcID", "destroyAggregateDevice", "destroyProcessTap"));
}

TEST_F(TapEngineTest, teardown_errors_are_logged_and_ids_cleared_anyway)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    fake->failOperation(FakeAudioPlatform::Op::deviceStop, -1);
    fake->failOperation(FakeAudioPlatform::Op::destroyAggregateDevice, -1);
    fake->failOperation(FakeAudioPlatform::Op::destroyProcessTap, -1);
    engine->stop();
    EXPECT_EQ(engine->tapID() + engine->aggregateID(), 0u);
    EXPECT_EQ(fake->liveIOProcs(), 0u);  // the registration goes even when stop failed
}

TEST_F(TapEngineTest, render_callback_is_never_running_when_dsp_objects_are_freed)
{
    // A platform thread keeps cycling while the owner stops and restarts the chain; any
    // call in flight during the release would touch freed DSP memory (caught by ASan).
    engine->start(1.0, EngineKind::balanced, 2048);
    std::atomic<bool> done{false};
    std::atomic<int> cycles{0};
    std::thread audio([&] {
        Blocks blocks(256);
        while (!done.load()) {
            const AudioObjectID device = fake->lastAggregateID();
            if (fake->runIOCycle(device, &blocks.inList, &blocks.outList))
                ++cycles;
            else
                std::this_thread::yield();
        }
    });
    for (int i = 0; i < 15; ++i) {
        engine->stop();
        engine->start(1.0, i % 2 ? EngineKind::lowLatency : EngineKind::highQuality, 2048);
    }
    done = true;
    audio.join();
    EXPECT_GT(cycles.load(), 0);
}

TEST_F(TapEngineTest, teardown_waits_for_a_running_analysis_read)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    std::atomic<bool> stopped{false};
    std::thread stopper;
    engine->withAnalysisFifo([&](tv_fifo *fifo) {
        ASSERT_NE(fifo, nullptr);
        stopper = std::thread([&] {
            engine->stop();
            stopped = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(stopped.load());
        float scratch[16];
        tv_fifo_read(fifo, scratch, 16);  // still ours: a freed FIFO would be caught by ASan
    });
    stopper.join();
    EXPECT_TRUE(stopped.load());
    EXPECT_FALSE(engine->hasAnalysisFifo());
    engine->withAnalysisFifo([](tv_fifo *fifo) { EXPECT_EQ(fifo, nullptr); });
}

TEST_F(TapEngineTest, every_rebuild_uses_a_new_tap_and_aggregate_device)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    const std::string firstTap = fake->lastTapDescription()->uuid;
    const std::string firstAggregate = fake->lastAggregateDescription()->uid;
    engine->stop();
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_NE(fake->lastTapDescription()->uuid, firstTap);
    EXPECT_NE(fake->lastAggregateDescription()->uid, firstAggregate);
}

class TapEngineListeners : public TapEngineTest {
protected:
    void SetUp() override
    {
        TapEngineTest::SetUp();
        engine->setOnRebuildNeeded([this](const std::string &reason) {
            std::lock_guard lock(mutex);
            reasons.push_back(reason);
            onQueue.push_back(engine->listenerQueue().isCurrent());
        });
    }
    std::vector<std::string> received()
    {
        engine->listenerQueue().sync();
        std::lock_guard lock(mutex);
        return reasons;
    }
    std::mutex mutex;
    std::vector<std::string> reasons;
    std::vector<bool> onQueue;
};

TEST_F(TapEngineListeners, default_device_change_asks_once_on_the_listener_queue)
{
    engine->installDefaultDeviceListener();
    engine->installDefaultDeviceListener();  // second install adds nothing
    engine->start(1.0, EngineKind::lowLatency, 2048);
    fake->changeProperty(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice));
    EXPECT_THAT(received(), ElementsAre("Ausgabegerät gewechselt"));
    EXPECT_THAT(onQueue, ElementsAre(true));
}

TEST_F(TapEngineListeners, rate_change_asks_while_running_and_calls_nothing_after_stop)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    fake->changeProperty(speakers, globalAddress(kAudioDevicePropertyNominalSampleRate));
    EXPECT_THAT(received(), ElementsAre("Samplerate geändert"));
    engine->stop();
    fake->changeProperty(speakers, globalAddress(kAudioDevicePropertyNominalSampleRate));
    EXPECT_THAT(received(), ElementsAre("Samplerate geändert"));
}

TEST_F(TapEngineListeners, change_posted_before_stop_is_dropped)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    // Block the queue so the change waits there while the chain is torn down.
    std::mutex gate;
    std::unique_lock hold(gate);
    engine->listenerQueue().post([&] { std::lock_guard wait(gate); });
    fake->changeProperty(speakers, globalAddress(kAudioDevicePropertyNominalSampleRate));
    engine->stop();
    hold.unlock();
    EXPECT_TRUE(received().empty());
}

TEST_F(TapEngineListeners, listener_failure_leaves_the_chain_running)
{
    fake->failOperation(FakeAudioPlatform::Op::addPropertyListener, -1);
    engine->installDefaultDeviceListener();
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_TRUE(engine->isRunning());
    EXPECT_EQ(fake->listenerCount(), 0u);
}

TEST_F(TapEngineListeners, destroyed_engine_removes_its_listeners)
{
    engine->installDefaultDeviceListener();
    engine->start(1.0, EngineKind::lowLatency, 2048);
    engine->stop();
    engine.reset();
    EXPECT_EQ(fake->listenerCount(), 0u);
    fake->changeProperty(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice));
}

TEST_F(TapEngineTest, shutdown_all_tears_down_but_keeps_the_flags)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    TapEngine::shutdownAll();
    EXPECT_TRUE(engine->isRunning());
    expectNothingLeft();
    engine->stop();
    expectNothingLeft();
}

TEST_F(TapEngineTest, shutdown_all_reaches_an_engine_its_owner_dropped)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    engine.reset();  // the registry still holds the running chain
    TapEngine::shutdownAll();
    EXPECT_EQ(fake->liveAggregates() + fake->liveTaps() + fake->liveIOProcs(), 0u);
}

TEST_F(TapEngineTest, a_process_runs_one_chain_at_a_time)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    auto second = TapEngine::create(fake);
    try {
        second->start(1.0, EngineKind::lowLatency, 2048);
        ADD_FAILURE() << "second chain started";
    } catch (const AudioError &e) {
        EXPECT_EQ(e.errorDescription(), "Zweite Audiokette starten fehlgeschlagen (-16)");
    }
    EXPECT_FALSE(second->isRunning());
    EXPECT_EQ(fake->liveTaps(), 1u);
    engine->stop();
    EXPECT_NO_THROW(second->start(1.0, EngineKind::lowLatency, 2048));
    second->stop();
}

TEST_F(TapEngineTest, idle_chain_is_reported_as_idle_not_stalled)
{
    engine->start(1.0, EngineKind::lowLatency, 2048);
    EXPECT_FALSE(engine->isIdle());
    fake->idleDevices.insert(engine->aggregateID());
    EXPECT_TRUE(engine->isIdle());
    engine->stop();
    EXPECT_FALSE(engine->isIdle());  // a stopped chain is not "idle"
}

TEST(TapEngineOrphans, removes_only_unowned_devices_with_our_prefix_and_counts_stale_routes)
{
    FakeAudioPlatform fake;
    const AudioObjectID speakers = fake.addDevice("speakers", "Lautsprecher");
    fake.addDevice("org.velmora.Velmora.aggregate.1234", "Velmora");
    fake.addDevice("org.velmora.Velmora.aggregate.", "Velmora");
    FakeAudioPlatform::Device live;
    live.uid = "org.velmora.Velmora.aggregate.LIVE";
    live.owner = AudioObjectOwner::otherProcess;  // another instance's running chain
    const AudioObjectID other = fake.addDevice(live);
    fake.addDevice("org.velmora.Velmora.aggregateX", "nope");
    FakeAudioPlatform::Device noUID;
    noUID.uid = std::nullopt;
    fake.addDevice(noUID);
    fake.staleRoutes = 3;

    EXPECT_EQ(TapEngine::removeOrphanedAggregateDevices(fake), 2 + 3);
    EXPECT_EQ(fake.callCount(FakeAudioPlatform::Op::destroyAggregateDevice), 2u);
    EXPECT_NO_THROW(fake.device(speakers));
    EXPECT_NO_THROW(fake.device(other));
    EXPECT_EQ(TapEngine::removeOrphanedAggregateDevices(fake), 0);
}

TEST(TapEngineOrphans, unreadable_device_list_removes_nothing)
{
    FakeAudioPlatform fake;
    fake.addDevice("org.velmora.Velmora.aggregate.1234", "Velmora");
    fake.failProperty(kAudioHardwarePropertyDevices, -1);
    EXPECT_EQ(TapEngine::removeOrphanedAggregateDevices(fake), 0);
    EXPECT_EQ(fake.callCount(FakeAudioPlatform::Op::destroyAggregateDevice), 0u);
}

} // namespace
