// SPDX-License-Identifier: GPL-3.0-or-later
// The façade's wiring: settings in and out, the switch and the chain, the detection and the
// factor, the published labels and document, launch at login, and the status service link.
#include "controller/LaunchAtLogin.h"
#include "controller/TonvelController.h"
#include "status/StatusServer.h"
#include "status/StatusServerLink.h"

#include "ControllerTestKit.h"
#include "FakeRetuneEngine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using ControllerTestKit::readAll;
using ControllerTestKit::settle;
using Mode = TonvelController::Mode;
using Engine = EngineKind;

namespace {

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ControllerTestKit::ensureApp();
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

    QTemporaryDir dir;
    QString config, settingsPath;
    std::shared_ptr<OriginConsent> consent;
    std::shared_ptr<ManualTimers> timers = std::make_shared<ManualTimers>();
    std::shared_ptr<FakeRetuneEngine> engine;
    std::unique_ptr<TonvelController> controller;
};

} // namespace

TEST_F(ControllerTest, restored_settings_reach_the_properties_without_writing_or_starting)
{
    const QByteArray ini = "[General]\nmode=freeA4\nfreeA4=400\nengine=1\nautomatic=true\nstatusServer=false\n"
                           "enabled=true\neverStarted=true\n";
    QFile f(settingsPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(ini) == ini.size());
    f.close();
    TonvelController &t = make();
    EXPECT_EQ(t.mode(), Mode::freeA4);
    EXPECT_EQ(t.freeA4(), 400.0);
    EXPECT_EQ(t.engine(), Engine::highQuality);
    EXPECT_TRUE(t.automatic());
    EXPECT_FALSE(t.statusServerEnabled());
    EXPECT_TRUE(t.takeShouldResume());
    EXPECT_FALSE(t.takeShouldResume());
    EXPECT_FALSE(t.isEnabled());
    EXPECT_TRUE(engine->calls.empty());
    EXPECT_EQ(readAll(settingsPath), ini);
}

TEST_F(ControllerTest, equal_assignments_do_nothing_and_changes_are_saved)
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
    const QByteArray saved = readAll(settingsPath);
    for (const char *line : {"engine=1\n", "freeA4=432.5\n", "presetID=528\n"})
        EXPECT_TRUE(saved.contains(line)) << saved.constData();
}

TEST_F(ControllerTest, the_switch_follows_the_chain_and_saves_what_happened)
{
    TonvelController &t = make();
    QSignalSpy started(&t, &TonvelController::chainStarted);
    t.setEnabled(true);
    engine->failBuild();
    settle();
    EXPECT_FALSE(t.isEnabled()); // the supervisor's state and hint are its own test's
    EXPECT_TRUE(readAll(settingsPath).contains("enabled=false"));

    t.setEnabled(true);
    engine->finishBuild();
    settle();
    EXPECT_EQ(started.count(), 1);
    EXPECT_TRUE(readAll(settingsPath).contains("everStarted=true"));
}

TEST_F(ControllerTest, automatic_correction_moves_the_running_factor_and_switching_off_drops_it)
{
    TonvelController &t = running();
    const double plain = engine->factor;
    t.setAutomatic(true);
    for (int i = 0; i < 10; ++i)
        t.consume({445.0, 19.56, 0.8}, 0.1);
    EXPECT_GT(t.appliedCorrectionCents(), 1.9);
    EXPECT_LT(engine->factor, plain);
    t.setEnabled(false);
    EXPECT_EQ(t.appliedCorrectionCents(), 0.0);
    t.setEnabled(true);
    EXPECT_DOUBLE_EQ(engine->factor, plain);
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
        EXPECT_EQ(p.sourceA4, std::nullopt); // nothing detected while stopped
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
    engine->connection(false); // nothing is retuned while the sound server is away
    settle();
    EXPECT_FALSE(t.statusPayload().isActive);
    t.setEnabled(false);
    EXPECT_EQ(t.latencyText(), QStringLiteral("\u2014"));
    engine->defaultOutput.reset();
    t.refreshDeviceLabel();
    EXPECT_EQ(t.outputDeviceName(), QStringLiteral("Kein Ausgabegeraet"));
}

TEST_F(ControllerTest, autostart_entry_round_trip_with_a_quoted_program_path)
{
    const QString entry = config + QStringLiteral("/autostart/org.velmora.Velmora.desktop");
    make().setLaunchAtLogin(true);
    const QString exec = QStringLiteral("\nExec=\"%1/con fig%%d/bin/velmora\" --autostart\n").arg(dir.path());
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

TEST_F(ControllerTest, status_service_shows_a_taken_port_and_serves_once_it_is_free)
{
    TonvelController &t = make();
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    StatusServer::Limits limits;
    limits.bindRetryMs = 20;
    StatusServer server(consent, squatter.serverPort(), limits);
    StatusServerLink link(t, server);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !t.statusServerError().isEmpty(); }, 5000));
    EXPECT_EQ(server.problem(), StatusServer::Problem::portTaken);
    EXPECT_TRUE(t.statusServerError().contains(QString::number(squatter.serverPort())));
    EXPECT_FALSE(server.isListening());

    squatter.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.isListening() && t.statusServerError().isEmpty(); }, 5000));
    t.setStatusServerEnabled(false);
    EXPECT_FALSE(server.isListening());
    EXPECT_TRUE(t.statusServerError().isEmpty());
}

TEST_F(ControllerTest, per_device_tuning_applies_with_the_device_switch_and_is_restored)
{
    TonvelController &t = running();
    engine->changeDefault("Kopfhörer");
    settle();
    EXPECT_TRUE(engine->scope.followDefault);
    EXPECT_EQ(engine->calls.back(), "start") << "off: the chain follows by itself, nothing is rebuilt";

    t.setRememberPerDevice(true);
    EXPECT_FALSE(engine->scope.followDefault);
    EXPECT_EQ(t.settingsDevice(), "Kopfhörer");
    t.setSelectedPresetID(QStringLiteral("432"));
    engine->changeDefault("Lautsprecher"); // seen for the first time: the current tuning
    settle();
    EXPECT_EQ(t.selectedPresetID(), "432");
    EXPECT_EQ(engine->calls.back(), "rebuildForDevice");
    engine->finishBuild();
    settle();
    t.setSelectedPresetID(QStringLiteral("off"));
    engine->changeDefault("Kopfhörer");
    settle();
    // The device's tuning reaches the chain with the rebuild that moves the output, not before.
    EXPECT_EQ(t.selectedPresetID(), "432");
    EXPECT_NEAR(engine->factor, 432.0 / 440.0, 1e-6);
    EXPECT_EQ(engine->calls.back(), "rebuildForDevice");
    EXPECT_EQ(t.settingsDevice(), "Kopfhörer");
    engine->finishBuild();
    settle();
    timers->advance(ChainSupervisor::restartDebounceMs);
    EXPECT_EQ(engine->calls.back(), "rebuildForDevice") << "one rebuild per switch";

    t.setEnabled(false); // for the headphones only
    engine->changeDefault("Lautsprecher");
    settle();
    EXPECT_TRUE(t.isEnabled());
    EXPECT_EQ(t.selectedPresetID(), "off");
    EXPECT_EQ(engine->calls.back(), "start");
    engine->changeDefault("Kopfhörer");
    settle();
    EXPECT_FALSE(t.isEnabled());
    EXPECT_EQ(engine->calls.back(), "stop");

    // A new run (on the speakers) restores their tuning, switched on.
    make();
    EXPECT_EQ(controller->selectedPresetID(), "off");
    EXPECT_TRUE(controller->takeShouldResume());
}

TEST_F(ControllerTest, excluded_applications_reach_the_engine_and_only_the_saved_ones_are_saved)
{
    TonvelController &t = make();
    t.setRunExcludedApps({QStringLiteral("tuner")});
    t.setApplicationRetuned(QStringLiteral("zoom"), false);
    EXPECT_EQ(engine->scope.excludedApps, (std::vector<std::string>{"zoom", "tuner"}));
    EXPECT_FALSE(engine->scope.retuneCalls);
    t.setRetuneCalls(true);
    EXPECT_TRUE(engine->scope.retuneCalls);
    EXPECT_TRUE(readAll(settingsPath).contains("excludedApps=zoom\n")) << readAll(settingsPath).constData();
    t.setApplicationRetuned(QStringLiteral("zoom"), true);
    EXPECT_EQ(engine->scope.excludedApps, std::vector<std::string>{"tuner"});
}
