// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon's colours and state, panel placement, and the panel against the real
// controller on a fake audio engine, rendered offscreen.
#include "FakeRetuneEngine.h"
#include "controller/TonvelController.h"
#include "i18n/Translations.h"
#include "lifecycle/DesktopApp.h"
#include "panel/PanelSupport.h"
#include "panel/PanelWindow.h"
#include "tray/TrayArt.h"

#include <TonvelCore/OriginConsent.h>
#include <TonvelCore/TuningMath.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>

namespace {

QTemporaryDir *scratch = nullptr;

class PanelTest : public testing::Test {
protected:
    void SetUp() override
    {
        static int run = 0;
        const QString folder = scratch->filePath(QString::number(++run));
        QDir().mkpath(folder);
        consent_ = std::make_shared<OriginConsent>(folder + QStringLiteral("/consent/einwilligungen.json"));
        controller_ = std::make_unique<TonvelController>(TonvelController::Options{
            engine_, consent_, folder + QStringLiteral("/Velmora.conf"), folder + QStringLiteral("/autostart.desktop"),
            {}, timers_, false});
        support_ = std::make_unique<PanelSupport>(controller_.get(), consent_, [this] { return sessionManager_; });
        panel_ = std::make_unique<PanelWindow>(
            PanelWindow::Kind::window,
            QVariantMap{{QStringLiteral("controller"), QVariant::fromValue<QObject *>(controller_.get())},
                        {QStringLiteral("support"), QVariant::fromValue<QObject *>(support_.get())}});
        ASSERT_TRUE(panel_->view()->rootObject());
        // The consent guard opens only when a test says so, however slow the renderer.
        panel_->view()->rootObject()->setProperty("consentGuardMs", 24 * 3600 * 1000);
        panel_->open();
        settle();
    }

    // Lets queued events, timers and a frame (layouts are polished before it) run.
    void settle() { QTest::qWait(30); }
    // Searches the visual tree: items made by a Repeater have no QObject parent.
    QQuickItem *item(const char *name, QQuickItem *from = nullptr) const
    {
        if (!from)
            from = panel_->view()->rootObject();
        for (QQuickItem *child : from->childItems()) {
            if (child->objectName() == QLatin1String(name))
                return child;
            if (QQuickItem *found = item(name, child))
                return found;
        }
        return nullptr;
    }
    bool shown(const char *name) const { return item(name)->isVisible(); }
    QString rowValue(const char *row) const { return item(row)->property("value").toString(); }
    int height() { return qRound(panel_->view()->rootObject()->height()); }
    void key(Qt::Key k)
    {
        QTest::keyClick(panel_->view(), k);
        settle();
    }
    void click(QQuickItem *target)
    {
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(panel_->view(), Qt::LeftButton, {}, centre.toPoint());
        settle();
    }
    void enable()
    {
        controller_->setEnabled(true);
        engine_->finishBuild();
        settle();
    }
    void armConsentGuard()
    {
        auto *guard = panel_->view()->rootObject()->findChild<QObject *>(QStringLiteral("consentGuard"));
        ASSERT_TRUE(guard);
        QMetaObject::invokeMethod(guard, "triggered");
        settle();
    }

    std::shared_ptr<FakeRetuneEngine> engine_ = std::make_shared<FakeRetuneEngine>();
    std::shared_ptr<ManualTimers> timers_ = std::make_shared<ManualTimers>();
    std::shared_ptr<OriginConsent> consent_;
    bool sessionManager_ = true;
    std::unique_ptr<TonvelController> controller_;
    std::unique_ptr<PanelSupport> support_;
    std::unique_ptr<PanelWindow> panel_;
};

} // namespace

TEST(TrayArt, every_colour_stands_out_3_to_1_on_dark_and_light_bars)
{
    auto colors = TrayArt::rainbowColors();
    ASSERT_EQ(colors.size(), TrayArt::frameCount);
    colors.append(TrayArt::inactiveColor());
    for (const QColor &c : colors)
        for (const QColor bar : {QColor(Qt::black), QColor(Qt::white)})
            EXPECT_GE(TrayArt::contrast(c, bar), 3.0) << qPrintable(c.name()) << " on " << qPrintable(bar.name());
}

TEST(PanelPlacement, stays_in_the_free_area_and_clear_of_the_bar)
{
    const QRect screen(0, 30, 1024, 738); // a 30 px bar on top
    const QSize panel(320, 600);
    const struct {
        QRect anchor;
        QPoint expected;
    } cases[] = {
        {QRect(1000, 5, 20, 20), QPoint(704, 30)}, // icon in the bar: right edge, top of the free area
        {QRect(500, 10, 1, 1), QPoint(340, 31)},                        // activation point: clear of the bar
        {QRect(500, 760, 1, 1), QPoint(340, 140)},                      // bar at the bottom: above it
        {QRect(), QPoint(700, 34)},                                     // unknown: top right
    };
    for (const auto &c : cases) {
        const QPoint at = PanelWindow::placement(panel, c.anchor, screen);
        EXPECT_EQ(at, c.expected) << c.anchor.x() << "," << c.anchor.y();
        EXPECT_TRUE(screen.contains(QRect(at, panel)));
    }
}

TEST(Languages, first_shipped_ui_language_wins_english_otherwise)
{
    EXPECT_EQ(Translations::shippedLanguages(), QStringList({"de", "en"}));
    EXPECT_EQ(Translations::chooseLanguage({"fr-FR", "de-AT", "en-US"}), "de");
    EXPECT_EQ(Translations::chooseLanguage({"fr-FR"}), "en");
}

TEST_F(PanelTest, mode_and_engine_switches_keep_the_panel_height)
{
    for (bool on : {false, true}) {
        if (on)
            enable();
        const int before = height();
        for (auto mode : {TonvelController::Mode::freeA4, TonvelController::Mode::preset}) {
            controller_->setMode(mode);
            for (auto engine : {EngineKind::balanced, EngineKind::highQuality, EngineKind::lowLatency}) {
                controller_->setEngine(engine);
                settle();
                EXPECT_EQ(height(), before)
                    << "on " << on << " mode " << int(mode) << " engine " << int(engine);
            }
        }
    }
}

TEST_F(PanelTest, low_latency_warning_only_beyond_35_cents)
{
    using E = EngineKind;
    const struct {
        const char *preset;
        E engine;
        bool warning;
    } cases[] = {{"432", E::lowLatency, false}, // -31.8 ct
                 {"528", E::lowLatency, false}, // +15.6 ct
                 {"285", E::lowLatency, true},  // +48.2 ct
                 {"963", E::lowLatency, true},  // -44.0 ct
                 {"285", E::balanced, false}};
    for (const auto &c : cases) {
        controller_->setSelectedPresetID(QString::fromLatin1(c.preset));
        controller_->setEngine(c.engine);
        settle();
        EXPECT_EQ(shown("lowLatencyWarning"), c.warning) << c.preset << " engine " << int(c.engine);
    }
}

TEST_F(PanelTest, rebuilds_read_count_and_reason)
{
    enable();
    EXPECT_EQ(rowValue("rebuildsRow"), "0");
    for (int i = 0; i < 3; ++i) {
        engine_->requestRebuild("Ausgabegerät gewechselt");
        settle();
        timers_->advance(500); // past the restart debounce
        engine_->finishBuild();
        settle();
    }
    EXPECT_EQ(controller_->rebuilds(), 3);
    // The reason stays fixed for scripts; the panel shows it in the reader's language.
    EXPECT_EQ(rowValue("rebuildsRow"), QStringLiteral("3 · ") + qtTrId("controller.reason.deviceChanged"));
    EXPECT_NE(qtTrId("controller.reason.deviceChanged"), QStringLiteral("controller.reason.deviceChanged"));
}

// On Wayland the panel is a floating window that closes like a popup; without a tray it is
// an ordinary window that Escape leaves alone. Both have the content's fixed size.
TEST_F(PanelTest, escape_closes_the_floating_panel_only)
{
    for (auto [kind, closes] : {std::pair{PanelWindow::Kind::floating, true}, {PanelWindow::Kind::window, false}}) {
        panel_->setKind(kind);
        panel_->open();
        settle();
        EXPECT_EQ(panel_->view()->minimumSize(), panel_->view()->maximumSize());
        key(Qt::Key_Escape);
        EXPECT_EQ(panel_->isShown(), !closes) << int(kind);
    }
}

// The top of the range holds, a step is 0.1 Hz and shown with one decimal.
TEST_F(PanelTest, free_a4_slider_range_step_and_one_decimal)
{
    controller_->setMode(TonvelController::Mode::freeA4);
    settle();
    QQuickItem *slider = item("freeA4Slider");
    controller_->setFreeA4(470.0);
    settle();
    slider->forceActiveFocus();
    key(Qt::Key_Right);
    EXPECT_EQ(controller_->freeA4(), 470.0);
    key(Qt::Key_Left);
    EXPECT_DOUBLE_EQ(controller_->freeA4(), 469.9);
    EXPECT_EQ(item("freeA4Value")->property("text").toString(), "469.9 Hz");
}

TEST_F(PanelTest, return_allows_only_after_the_guard_which_restarts_for_a_new_origin)
{
    const QString first = QStringLiteral("https://a.example"), second = QStringLiteral("https://b.example");
    controller_->askConsent(first);
    settle();
    ASSERT_TRUE(shown("consentPrompt"));
    key(Qt::Key_Return);
    click(item("denyButton"));
    EXPECT_EQ(controller_->pendingConsentOrigin(), first) << "answered before the guard opened";

    armConsentGuard();
    controller_->askConsent(second);
    settle();
    key(Qt::Key_Return);
    EXPECT_EQ(controller_->pendingConsentOrigin(), second) << "answered right after the origin changed";

    armConsentGuard();
    key(Qt::Key_Return);
    EXPECT_FALSE(shown("consentPrompt"));
    ASSERT_EQ(controller_->consentEntryList().size(), 1);
    EXPECT_EQ(controller_->consentEntryList()[0].origin, second);
    EXPECT_EQ(controller_->consentEntryList()[0].decision, OriginConsent::Decision::allowed);

    // Revoking the last decision hides the list.
    ASSERT_TRUE(shown("consentList"));
    ASSERT_TRUE(item("revokeButton"));
    click(item("revokeButton"));
    EXPECT_TRUE(controller_->consentEntryList().isEmpty());
    EXPECT_FALSE(shown("consentList"));
}

// Origins and device names come from outside: no text of the panel may read markup (the
// labels inside buttons and switches show only our own tables).
TEST_F(PanelTest, every_text_is_plain)
{
    controller_->askConsent(QStringLiteral("<b>https://trusted.example</b>"));
    enable();
    int texts = 0;
    std::function<void(QQuickItem *)> walk = [&](QQuickItem *at) {
        for (QQuickItem *child : at->childItems()) {
            if (child->inherits("QQuickText") || child->inherits("QQuickTextEdit")) {
                ++texts;
                EXPECT_EQ(child->property("textFormat").toInt(), int(Qt::PlainText))
                    << qPrintable(child->property("text").toString());
            }
            if (!child->inherits("QQuickAbstractButton"))
                walk(child);
        }
    };
    walk(panel_->view()->rootObject());
    EXPECT_GT(texts, 20);
}

TEST_F(PanelTest, applications_are_switched_by_key_and_the_device_line_shows_with_per_device)
{
    engine_->apps = {{"firefox", "<b>Firefox</b>", "firefox", "firefox", true}};
    engine_->announceApplications();
    settle();
    EXPECT_FALSE(shown("perDeviceSwitch")) << "folded at first";
    click(item("scopeToggle"));
    EXPECT_EQ(item("appName")->property("text").toString(), "<b>Firefox</b>");
    EXPECT_EQ(item("appName")->property("textFormat").toInt(), int(Qt::PlainText));
    click(item("appSwitch"));
    EXPECT_EQ(controller_->excludedApps(), QStringList{"firefox"});
    EXPECT_FALSE(item("appSwitch")->property("checked").toBool());
    EXPECT_FALSE(shown("settingsDevice"));
    click(item("perDeviceSwitch"));
    ASSERT_TRUE(shown("settingsDevice"));
    EXPECT_TRUE(item("settingsDevice")->property("text").toString().endsWith("Lautsprecher"));
}

TEST_F(PanelTest, a_failed_start_gets_the_hint_of_its_cause_and_a_failed_save_shows)
{
    const struct {
        const char *error;
        bool sessionManager;
        const char *hint;
    } cases[] = {{"Zweite Audiokette starten fehlgeschlagen (-16: Device or resource busy)", true, "ui.error.hint.busy"},
                 {"Kette aufbauen fehlgeschlagen (-2: No such file or directory)", false, "ui.error.hint.noSessionManager"},
                 {"Kette aufbauen fehlgeschlagen (-2: No such file or directory)", true, "ui.error.permissionHint"}};
    for (const auto &c : cases) {
        sessionManager_ = c.sessionManager;
        EXPECT_EQ(support_->errorHintId(QString::fromUtf8(c.error)), c.hint) << c.error;
    }
    controller_->setEnabled(true);
    engine_->failBuild();
    settle();
    ASSERT_TRUE(shown("errorHint"));
    EXPECT_EQ(item("errorHint")->property("text").toString(), qtTrId("ui.error.permissionHint"));

    // The consent folder becomes a plain file: the answer cannot be saved, and the panel says so.
    QDir(QFileInfo(consent_->storePath()).absolutePath()).removeRecursively();
    QFile blocker(QFileInfo(consent_->storePath()).absolutePath());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    controller_->askConsent(QStringLiteral("https://a.example"));
    armConsentGuard();
    click(item("allowButton"));
    EXPECT_TRUE(shown("consentSaveError"));
}

TEST_F(PanelTest, automatic_correction_is_part_of_shift_factor_and_warning)
{
    controller_->setSelectedPresetID(QStringLiteral("432")); // -31.8 ct alone: no warning
    controller_->setAutomatic(true);
    enable();
    // Music tuned 20 cents sharp: the correction takes it down further.
    for (int i = 0; i < 40 && controller_->appliedCorrectionCents() < 10.0; ++i)
        controller_->consume({445.1, 20.0, 0.9}, 0.5);
    settle();
    ASSERT_GE(controller_->appliedCorrectionCents(), 10.0);
    EXPECT_TRUE(shown("lowLatencyWarning"));
    const double f = controller_->effectiveFactor();
    ASSERT_NE(f, controller_->staticFactor());
    EXPECT_EQ(rowValue("shiftRow"), TuningMath::formatCents(TuningMath::cents(f)));
    EXPECT_EQ(rowValue("factorRow"), QStringLiteral("×%1").arg(f, 0, 'f', 6));
}

int main(int argc, char **argv)
{
    QTemporaryDir home;
    scratch = &home;
    // Keep the user's settings, consent file and autostart folder out of reach.
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        qputenv("QT_QUICK_BACKEND", "software");
    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QLocale::setDefault(QLocale(QStringLiteral("en")));
    Translations::install(QStringLiteral("en"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
