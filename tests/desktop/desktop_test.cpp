// SPDX-License-Identifier: GPL-3.0-or-later
// The tray icon's colours, and the panel against the real controller on a fake audio engine,
// rendered offscreen. The run also writes screenshots of the panel in German and English to
// SCREENSHOT_DIR.
#include "FakeRetuneEngine.h"
#include "controller/TonvelController.h"
#include "i18n/Translations.h"
#include "lifecycle/DesktopApp.h"
#include "panel/PanelSupport.h"
#include "panel/PanelWindow.h"
#include "tray/TrayArt.h"

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

void useLanguage(const QString &language)
{
    QLocale::setDefault(QLocale(language));
    Translations::install(language);
}

class PanelTest : public testing::Test {
protected:
    void SetUp() override
    {
        static int run = 0;
        const QString folder = scratch->filePath(QString::number(++run));
        QDir().mkpath(folder);
        TonvelController::Options options;
        options.engine = engine_;
        options.consent = std::make_shared<OriginConsent>(folder + QStringLiteral("/einwilligungen.json"));
        options.settingsPath = folder + QStringLiteral("/Velmora.conf");
        options.autostartPath = folder + QStringLiteral("/autostart.desktop");
        options.timers = timers_;
        options.analysis = false;
        controller_ = std::make_unique<TonvelController>(std::move(options));
        support_ = std::make_unique<PanelSupport>(controller_.get());
        openPanel();
    }
    // A new panel picks up the current language everywhere, the preset texts included.
    void openPanel()
    {
        panel_ = std::make_unique<PanelWindow>(
            PanelWindow::Kind::window,
            QVariantMap{{QStringLiteral("controller"), QVariant::fromValue<QObject *>(controller_.get())},
                        {QStringLiteral("support"), QVariant::fromValue<QObject *>(support_.get())}});
        ASSERT_TRUE(panel_->view()->rootObject());
        panel_->open();
        settle();
    }

    // Lets queued events, timers and a frame (layouts are polished before it) run.
    void settle(int ms = 0) { QTest::qWait(std::max(ms, 30)); }
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
    void save(const QString &name)
    {
        settle(300); // switch animations end
        QDir().mkpath(QStringLiteral(SCREENSHOT_DIR));
        EXPECT_TRUE(panel_->view()->grabWindow().save(QStringLiteral(SCREENSHOT_DIR "/") + name + ".png"));
    }

    std::shared_ptr<FakeRetuneEngine> engine_ = std::make_shared<FakeRetuneEngine>();
    std::shared_ptr<ManualTimers> timers_ = std::make_shared<ManualTimers>();
    std::unique_ptr<TonvelController> controller_;
    std::unique_ptr<PanelSupport> support_;
    std::unique_ptr<PanelWindow> panel_;
};

} // namespace

TEST(TrayArt, light_hues_are_dimmed_dark_ones_keep_full_brightness)
{
    const auto colors = TrayArt::rainbowColors();
    ASSERT_EQ(colors.size(), 120);
    for (auto [frame, brightness] : {std::pair{0, 1.0}, {20, 0.55}, {80, 1.0}}) {
        EXPECT_NEAR(colors[frame].valueF(), brightness, 1e-3) << "frame " << frame;
        EXPECT_NEAR(colors[frame].hsvSaturationF(), 0.75, 1e-3) << "frame " << frame;
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

TEST_F(PanelTest, free_a4_slider_range_step_and_one_decimal)
{
    controller_->setMode(TonvelController::Mode::freeA4);
    settle();
    QQuickItem *slider = item("freeA4Slider");
    EXPECT_EQ(slider->property("from").toDouble(), 400.0);
    EXPECT_EQ(slider->property("to").toDouble(), 470.0);
    EXPECT_DOUBLE_EQ(slider->property("stepSize").toDouble(), 0.1);

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
    EXPECT_EQ(controller_->pendingConsentOrigin(), first) << "answered within the first second";

    settle(1100);
    controller_->askConsent(second);
    settle();
    key(Qt::Key_Return);
    EXPECT_EQ(controller_->pendingConsentOrigin(), second) << "answered right after the origin changed";

    settle(1100);
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

// Not a check: the pictures for the README and for a look by eye.
TEST_F(PanelTest, screenshots)
{
    for (const QString &language : {QStringLiteral("de"), QStringLiteral("en")}) {
        useLanguage(language);
        openPanel();
        controller_->setEnabled(false);
        save(QStringLiteral("panel_%1_off").arg(language));

        controller_->setAutomatic(true);
        enable();
        controller_->consume({432.0, -31.8, 0.82}, 0.1);
        save(QStringLiteral("panel_%1_on").arg(language));

        controller_->askConsent(QStringLiteral("https://tuning.example.org"));
        settle(1100);
        save(QStringLiteral("panel_%1_consent").arg(language));
        controller_->resolveConsent(controller_->pendingConsentOrigin(), false);

        controller_->setEnabled(false);
        controller_->setAutomatic(false);
        controller_->setEnabled(true);
        engine_->failBuild("Verbindung zu PipeWire herstellen");
        settle();
        save(QStringLiteral("panel_%1_error").arg(language));
        controller_->revokeConsent(QStringLiteral("https://tuning.example.org"));
    }
    useLanguage(QStringLiteral("en"));
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
    useLanguage(QStringLiteral("en"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
