// SPDX-License-Identifier: GPL-3.0-or-later
// The controller against an audio layer in memory and hand-driven timers: settings, the
// supervision of the chain, the published labels and document, consent, launch at login.
#include "controller/LaunchAtLogin.h"
#include "controller/TonvelController.h"
#include "i18n/Translations.h"

#include "FakeRetuneEngine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using Mode = TonvelController::Mode;
using Engine = TonvelController::Engine;
using State = TonvelController::ChainState;

namespace {

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ControllerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "controller_test";
        static char *argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
        Translations::install(QStringLiteral("de"));
    }

    void SetUp() override
    {
        // A configuration folder whose path needs quoting in a desktop entry.
        config = dir.path() + QStringLiteral("/con fig%d");
        qputenv("XDG_CONFIG_HOME", config.toUtf8());
        settingsPath = config + QStringLiteral("/Velmora/Velmora.conf");
        QDir().mkpath(config + QStringLiteral("/Velmora"));
        consent = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json")));
    }

    TonvelController &make()
    {
        engine = std::make_shared<FakeRetuneEngine>();
        controller.reset();
        controller = std::make_unique<TonvelController>(TonvelController::Options{
            engine, consent, {}, {}, config + QStringLiteral("/bin/velmora"), timers, false});
        settle();
        return *controller;
    }

    // Switched on with a chain running.
    TonvelController &running()
    {
        make().setEnabled(true);
        engine->finishBuild();
        settle();
        return *controller;
    }

    void writeSettings(const QByteArray &bytes)
    {
        QFile f(settingsPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    int count(const char *call) const
    {
        return int(std::count(engine->calls.begin(), engine->calls.end(), call));
    }

    QTemporaryDir dir;
    QString config, settingsPath;
    std::shared_ptr<OriginConsent> consent;
    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>();
    std::shared_ptr<FakeRetuneEngine> engine;
    std::unique_ptr<TonvelController> controller;
};

} // namespace

TEST_F(ControllerTest, restore_takes_only_acceptable_values_and_writes_nothing)
{
    const struct {
        QByteArray ini;
        QString preset;
        double a4;
        Engine engine;
        Mode mode;
        bool automatic, statusServer, resume;
    } cases[] = {
        {"presetID=gone\nengine=3\nmode=bogus\n", "432", 440, Engine::lowLatency, Mode::preset, false, true,
         false},
        {"presetID=528\nfreeA4=399.9\nengine=-1\nmode=freeA4\n", "528", 440, Engine::lowLatency, Mode::freeA4,
         false, true, false},
        {"freeA4=400\nengine=1\nautomatic=true\nstatusServer=false\n", "432", 400, Engine::highQuality,
         Mode::preset, true, false, false},
        {"freeA4=470\nengine=2\nenabled=true\n", "432", 470, Engine::balanced, Mode::preset, false, true,
         false},
        {"freeA4=470.1\nengine=x\nstatusServer=maybe\nenabled=true\neverStarted=true\n", "432", 440,
         Engine::lowLatency, Mode::preset, false, true, true},
    };
    for (const auto &c : cases) {
        writeSettings("[General]\n" + c.ini);
        SCOPED_TRACE(c.ini.constData());
        TonvelController &t = make();
        EXPECT_EQ(t.selectedPresetID(), c.preset);
        EXPECT_EQ(t.freeA4(), c.a4);
        EXPECT_EQ(t.engine(), c.engine);
        EXPECT_EQ(t.mode(), c.mode);
        EXPECT_EQ(t.automatic(), c.automatic);
        EXPECT_EQ(t.statusServerEnabled(), c.statusServer);
        EXPECT_EQ(t.takeShouldResume(), c.resume);
        EXPECT_FALSE(t.takeShouldResume());
        EXPECT_FALSE(t.isEnabled());
        EXPECT_TRUE(engine->calls.empty());
        EXPECT_EQ(readAll(settingsPath), "[General]\n" + c.ini);
    }
}

TEST_F(ControllerTest, equal_assignments_do_nothing_and_changes_are_saved_with_raw_engine_values)
{
    TonvelController &t = make();
    QSignalSpy changed(&t, &TonvelController::freeA4Changed);
    t.setMode(Mode::preset);
    t.setSelectedPresetID(QStringLiteral("432"));
    t.setFreeA4(440.0);
    t.setEngine(Engine::lowLatency);
    t.setAutomatic(false);
    t.setStatusServerEnabled(true);
    EXPECT_FALSE(QFile::exists(settingsPath));
    EXPECT_EQ(changed.count(), 0);

    t.setEngine(Engine::highQuality);
    t.setFreeA4(432.5);
    t.setSelectedPresetID(QStringLiteral("528"));
    EXPECT_EQ(changed.count(), 1);
    const QByteArray saved = readAll(settingsPath); // read back by the restore cases above
    for (const char *line : {"engine=1\n", "freeA4=432.5\n", "presetID=528\n"})
        EXPECT_TRUE(saved.contains(line)) << saved.constData();
}

TEST_F(ControllerTest, unreadable_settings_file_is_kept_aside_before_anything_is_written)
{
    const QByteArray garbage("[General\nengine=2\n\xff\x00\x01", 20);
    writeSettings(garbage);
    make().setEngine(Engine::balanced);
    const QStringList aside =
        QDir(config + QStringLiteral("/Velmora")).entryList({QStringLiteral("Velmora.conf.unreadable-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(readAll(config + QStringLiteral("/Velmora/") + aside[0]), garbage);
    EXPECT_TRUE(readAll(settingsPath).contains("engine=2"));
}

TEST_F(ControllerTest, audio_failure_reads_in_the_installed_language_and_logs_in_german)
{
    const AudioError error(-EBUSY, "Aufnahme-Senke anlegen");
    const QString german =
        QStringLiteral("Aufnahme-Senke anlegen fehlgeschlagen (-16: Device or resource busy)");
    Translations::install(QStringLiteral("en"));
    EXPECT_EQ(error.localizedDescription(),
              QStringLiteral("Create the capture sink failed (-16: Device or resource busy)"));
    EXPECT_EQ(QString::fromStdString(error.errorDescription()), german);
    Translations::install(QStringLiteral("de")); // what the other cases read
    EXPECT_EQ(error.localizedDescription(), german);
}

TEST_F(ControllerTest, failed_start_switches_off_with_the_error_and_a_later_start_clears_it)
{
    TonvelController &t = make();
    t.setEnabled(true);
    EXPECT_EQ(t.chainState(), State::starting);
    engine->failBuild("Kette aufbauen");
    settle();
    EXPECT_FALSE(t.isEnabled());
    EXPECT_EQ(t.chainState(), State::stopped);
    EXPECT_TRUE(t.errorMessage().startsWith(QStringLiteral("Kette aufbauen fehlgeschlagen")));
    EXPECT_TRUE(t.needsPermissionHint());
    EXPECT_TRUE(readAll(settingsPath).contains("enabled=false"));
    timers->advance(5000);
    EXPECT_EQ(count("start"), 1); // no retry by itself

    t.setEnabled(true);
    t.setEngine(Engine::balanced); // chosen while the chain is being built
    EXPECT_TRUE(t.errorMessage().isEmpty());
    EXPECT_FALSE(t.needsPermissionHint());
    engine->finishBuild();
    settle();
    EXPECT_EQ(t.chainState(), State::running);
    EXPECT_EQ(engine->selected, EngineKind::balanced);
    EXPECT_EQ(t.outputDeviceName(), QStringLiteral("Lautsprecher"));
    EXPECT_EQ(t.sampleRate(), 48000.0);
    EXPECT_EQ(t.latencySeconds(), 0.120);
    EXPECT_TRUE(readAll(settingsPath).contains("everStarted=true"));
}

TEST_F(ControllerTest, requests_within_the_debounce_rebuild_once_with_the_last_reason)
{
    TonvelController &t = running();
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    timers->advance(300);
    engine->requestRebuild("Samplerate geändert");
    settle();
    timers->advance(399);
    EXPECT_EQ(count("rebuild"), 0);
    timers->advance(1);
    EXPECT_EQ(count("rebuild"), 1);
    EXPECT_EQ(t.chainState(), State::rebuilding);
    engine->finishBuild();
    settle();
    EXPECT_EQ(t.rebuilds(), 1);
    EXPECT_EQ(t.lastRebuildReason(), QStringLiteral("Samplerate geändert"));

    t.setEnabled(false);
    EXPECT_EQ(t.rebuilds(), 0);
    EXPECT_TRUE(t.lastRebuildReason().isEmpty());
    EXPECT_EQ(t.sampleRate(), 44100.0); // the device's own rate once stopped
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    timers->advance(1000);
    EXPECT_EQ(count("rebuild"), 1);
}

TEST_F(ControllerTest, only_a_chain_that_stands_still_without_being_idle_is_rebuilt)
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
            EXPECT_EQ(controller->lastRebuildReason(), QStringLiteral("Audio stand still"));
        }
    }
}

TEST_F(ControllerTest, lost_sound_server_is_shown_and_left_by_itself_without_switching_off)
{
    TonvelController &t = running();
    engine->connection(false);
    settle();
    EXPECT_TRUE(t.isEnabled());
    EXPECT_EQ(t.chainState(), State::waitingForServer);
    EXPECT_EQ(
        t.errorMessage(),
        QStringLiteral("PipeWire ist nicht erreichbar. Velmora macht weiter, sobald es wieder da ist."));
    EXPECT_FALSE(t.statusPayload().isActive);
    engine->failBuild(); // the engine's own attempt while the server is away
    settle();
    EXPECT_TRUE(t.isEnabled());

    engine->connection(true);
    settle();
    EXPECT_EQ(count("start"), 2);
    engine->failBuild(); // the session manager is not back yet
    settle();
    timers->advance(1000);
    EXPECT_EQ(count("start"), 3);
    engine->finishBuild();
    settle();
    EXPECT_EQ(t.chainState(), State::running);
    EXPECT_TRUE(t.errorMessage().isEmpty());
    EXPECT_FALSE(t.needsPermissionHint());
    EXPECT_TRUE(t.statusPayload().isActive);
}

TEST_F(ControllerTest, a_session_away_is_shown_in_words_and_its_return_counts_as_a_rebuild)
{
    const std::pair<SessionWait, const char *> cases[] = {
        {SessionWait::sessionManager, "Warte auf den Sitzungsmanager"},
        {SessionWait::outputDevice, "Warte auf ein Ausgabegerät"},
    };
    for (const auto &[why, words] : cases) {
        TonvelController &t = running();
        engine->sessionAway(why);
        settle();
        EXPECT_TRUE(t.isEnabled());
        EXPECT_EQ(t.chainState(), State::waitingForSession);
        EXPECT_TRUE(t.errorMessage().startsWith(QString::fromUtf8(words))) << words;
        EXPECT_FALSE(t.statusPayload().isActive);
        engine->finishBuild(); // the engine's own build once the session is back
        settle();
        EXPECT_EQ(t.chainState(), State::running);
        EXPECT_EQ(t.lastRebuildReason(), QStringLiteral("Sitzung wieder bereit"));
        EXPECT_TRUE(t.errorMessage().isEmpty());
    }
}

TEST_F(ControllerTest, detection_is_shown_always_and_corrects_only_with_automatic_on)
{
    TonvelController &t = running();
    const double plain = engine->factor;
    const TuningAnalyzer::Estimate sharp{445.0, 19.56, 0.8};
    t.consume(sharp, 0.1);
    EXPECT_EQ(t.detectedA4(), 445.0);
    EXPECT_TRUE(t.detectionIsConfident());
    EXPECT_EQ(t.appliedCorrectionCents(), 0.0);
    EXPECT_EQ(engine->factor, plain);

    t.setAutomatic(true);
    for (int i = 0; i < 10; ++i)
        t.consume(sharp, 0.1);
    EXPECT_GT(t.appliedCorrectionCents(), 1.9);
    EXPECT_LT(engine->factor, plain);

    t.setAutomatic(false);
    EXPECT_EQ(t.detectedA4(), 440.0);
    EXPECT_EQ(t.detectionConfidence(), 0.0);
    EXPECT_EQ(t.appliedCorrectionCents(), 0.0);
    EXPECT_DOUBLE_EQ(engine->factor, plain);

    t.setEnabled(false);
    t.consume(sharp, 0.1); // posted before the stop
    EXPECT_EQ(t.detectedA4(), 440.0);
}

TEST_F(ControllerTest, after_shutdown_nothing_builds_a_chain_again)
{
    TonvelController &t = running();
    engine->requestRebuild("Ausgabegerät gewechselt");
    settle();
    t.shutdown();
    engine->stats_.frames = 0;
    timers->advance(10000);
    t.setEnabled(false);
    t.setEnabled(true);
    EXPECT_EQ(count("start"), 1);
    EXPECT_EQ(count("rebuild"), 0);
}

TEST_F(ControllerTest, document_and_labels_follow_mode_preset_and_engine)
{
    const struct {
        Mode mode;
        QString preset;
        double a4;
        Engine engine;
        double target;
        std::optional<QString> presetID;
        std::optional<double> presetHz;
        StatusPayload::Method method;
        QString label;
    } cases[] = {
        {Mode::preset, "432", 440, Engine::lowLatency, 431.99992, "432", 432.0,
         StatusPayload::Method::resampling, "432"},
        {Mode::preset, "off", 440, Engine::balanced, 440, "off", std::nullopt,
         StatusPayload::Method::pitchPreserving, "440"},
        {Mode::freeA4, "528", 435.4, Engine::highQuality, 435.4, std::nullopt, std::nullopt,
         StatusPayload::Method::pitchPreserving, "435"},
    };
    for (const auto &c : cases) {
        TonvelController &t = make();
        t.setMode(c.mode);
        t.setSelectedPresetID(c.preset);
        t.setFreeA4(c.a4);
        t.setEngine(c.engine);
        const StatusPayload p = t.statusPayload();
        EXPECT_FALSE(p.isActive);
        EXPECT_EQ(p.sourceA4, std::nullopt);
        EXPECT_EQ(p.confidence, std::nullopt);
        EXPECT_NEAR(*p.targetA4, c.target, 1e-4) << c.preset.toStdString();
        EXPECT_EQ(p.presetID, c.presetID);
        EXPECT_EQ(p.presetHz, c.presetHz);
        EXPECT_EQ(p.method, c.method);
        EXPECT_EQ(t.menuBarLabel(), c.label);
    }
    TonvelController &t = running();
    t.setEngine(Engine::lowLatency);
    EXPECT_EQ(t.statusPayload().sourceA4, 440.0);
    EXPECT_EQ(t.latencyText(), QStringLiteral("21.3 ms"));
    t.setEnabled(false);
    EXPECT_EQ(t.latencyText(), QStringLiteral("\u2014"));
    engine->defaultOutput.reset();
    t.refreshDeviceLabel();
    EXPECT_EQ(t.outputDeviceName(), QStringLiteral("Kein Ausgabegeraet"));
}

TEST_F(ControllerTest, consent_is_asked_once_and_follows_decisions_of_another_process)
{
    TonvelController &t = make();
    QSignalSpy asked(&t, &TonvelController::consentAsked);
    t.askConsent(QStringLiteral("http://a.test"));
    t.askConsent(QStringLiteral("http://a.test"));
    EXPECT_EQ(asked.count(), 1);

    // velmora-cli consent, in another process, answers.
    OriginConsent other(consent->storePath());
    other.resolve(QStringLiteral("http://a.test"), OriginConsent::Decision::allowed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.consentEntryList().size() == 1; }, 5000));
    EXPECT_TRUE(t.pendingConsentOrigin().isEmpty());

    other.resolve(QStringLiteral("http://b.test"), OriginConsent::Decision::denied);
    t.resolveConsent(QStringLiteral("http://c.test"), true); // before the watch saw b
    EXPECT_EQ(OriginConsent(consent->storePath()).allEntries().size(), 3);
}

TEST_F(ControllerTest, autostart_entry_round_trip_with_a_quoted_program_path)
{
    const QString entry = config + QStringLiteral("/autostart/org.velmora.Velmora.desktop");
    make().setLaunchAtLogin(true);
    const QString exec = QStringLiteral("\nExec=\"%1/con fig%%d/bin/velmora\"\n").arg(dir.path());
    EXPECT_TRUE(readAll(entry).contains(exec.toUtf8())) << readAll(entry).constData();
    EXPECT_TRUE(make().launchAtLogin());
    controller->setLaunchAtLogin(false);
    EXPECT_FALSE(QFile::exists(entry));

    // A folder that cannot hold the entry: the switch shows the real state.
    QDir(config + QStringLiteral("/autostart")).removeRecursively();
    QFile blocker(config + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    controller->setLaunchAtLogin(true);
    EXPECT_FALSE(controller->launchAtLogin());

    const struct {
        QString argument, quoted;
    } cases[] = {
        {"/a b/x%y", R"("/a b/x%%y")"},
        {R"(a"b`c$d)", R"("a\\"b\\`c\\$d")"},
        {R"(a\b)", R"("a\\\\b")"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LaunchAtLogin::quoteExecArgument(c.argument), c.quoted);
}
