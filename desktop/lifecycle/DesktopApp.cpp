// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/DesktopApp.h"
#include "identity/AppIdentity.h"

#include "audio/AudioError.h"
#include "audio/TapEngine.h"
#include "controller/ExitSignals.h"
#include "controller/TonvelController.h"
#include "dbus/VelmoraBus.h"
#include "i18n/Translations.h"
#include "lifecycle/PlatformGate.h"
#include "lifecycle/SingleInstance.h"
#include "lifecycle/SystemEngine.h"
#include "panel/PanelSupport.h"
#include "panel/PanelWindow.h"
#include "status/StatusServer.h"
#include "status/StatusServerLink.h"
#include "tray/TrayIcon.h"

#include <TonvelCore/OriginConsent.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QIcon>
#include <QElapsedTimer>
#include <QThread>
#include <QLocale>
#include <QMessageBox>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

const QLoggingCategory &lcUi() { return AppIdentity::logCategory("UI"); }

namespace {

// Whatever ends the process, no chain outlives it.
void exitHook()
{
    TapEngine::shutdownAll();
}

} // namespace

DesktopApp::DesktopApp() = default;

DesktopApp::~DesktopApp()
{
    // The panel and the tray read the controller; the server is detached before it goes.
    bus_.reset();
    panel_.reset();
    tray_.reset();
    statusLink_.reset();
    server_.reset();
    controller_.reset();
}

int DesktopApp::run()
{
    autostarted_ = QCoreApplication::arguments().contains(QStringLiteral("--autostart"));
    instance_ = std::make_unique<SingleInstance>();
    if (!instance_->claim()) {
        if (askRunningToShowPanel())
            return 0;
        std::fprintf(stderr, "velmora: Velmora läuft bereits, antwortet aber nicht.\n");
        return 1;
    }
    if (!PlatformGate::pass())
        return 1;

    std::atexit(exitHook);
    exitSignals_ = std::make_unique<ExitSignals>();
    connect(exitSignals_.get(), &ExitSignals::received, this, [this](int number) {
        qCInfo(lcUi, "Signal %d empfangen, Velmora wird beendet.", number);
        if (controller_)
            controller_->shutdown();
        TapEngine::shutdownAll();
        QCoreApplication::exit(0);
    });

    Translations::install();
    if (!startServices())
        return 1;
    return QApplication::exec();
}

bool DesktopApp::startServices()
{
    QGuiApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(VELMORA_APP_ID),
                                                    QIcon(QStringLiteral(":/icons/" VELMORA_APP_ID ".svg"))));
    consent_ = std::make_shared<OriginConsent>(OriginConsent::defaultStorePath(), 60.0);

    SystemAudio audio;
    try {
        audio = makeSystemAudio();
    } catch (const AudioError &error) {
        // No PipeWire to talk to at all in this session: say so instead of dying silently.
        qCCritical(lcUi, "%s", error.what());
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            //% "Velmora needs a running PipeWire sound server in this session."
            QMessageBox::critical(nullptr, QStringLiteral("Velmora"),
                                  qtTrId("ui.error.noServer") + u'\n' + error.localizedDescription());
        }
        return false;
    }
    TonvelController::Options options;
    options.engine = audio.engine;
    options.consent = consent_;
    controller_ = std::make_unique<TonvelController>(std::move(options));
    connect(controller_.get(), &TonvelController::consentAsked, this, [this] { openPanel(); });

    tray_ = std::make_unique<TrayIcon>();
    connect(tray_.get(), &TrayIcon::togglePanelRequested, this, [this](QRect anchor) {
        if (panel_)
            panel_->toggle(anchor);
    });
    connect(tray_.get(), &TrayIcon::openPanelRequested, this, &DesktopApp::openPanel);
    connect(tray_.get(), &TrayIcon::enabledToggled, controller_.get(), &TonvelController::setEnabled);
    connect(tray_.get(), &TrayIcon::quitRequested, this, &DesktopApp::quit);
    connect(tray_.get(), &TrayIcon::scrolled, this, &DesktopApp::stepFreeA4);
    connect(tray_.get(), &TrayIcon::hostAvailableChanged, this, &DesktopApp::followTrayHost);
    tray_->show();

    support_ = std::make_unique<PanelSupport>(controller_.get(), consent_, audio.hasSessionManager);
    connect(support_.get(), &PanelSupport::quitRequested, this, &DesktopApp::quit);
    const bool trayHost = tray_->hostAvailable();
    panel_ = std::make_unique<PanelWindow>(
        PanelWindow::Kind::window,
        QVariantMap{{QStringLiteral("controller"), QVariant::fromValue<QObject *>(controller_.get())},
                    {QStringLiteral("support"), QVariant::fromValue<QObject *>(support_.get())}});
    connect(panel_.get(), &PanelWindow::shownChanged, tray_.get(), &TrayIcon::setPanelShown);
    connect(panel_.get(), &PanelWindow::windowClosed, this, &DesktopApp::noticeBackground);
    followTrayHost(trayHost);
    // Scripts, shortcuts and a second launch reach this instance on the session bus.
    bus_ = std::make_unique<VelmoraBus>(*controller_, VelmoraBus::Hooks{[this] { openPanel(); }, [this] { quit(); }});
    if (bus_->claim() != VelmoraBus::Claim::owned)
        qCWarning(lcUi, "Session-Bus: der Name %s ist nicht zu haben; Befehle von außen erreichen Velmora nicht.",
                  VelmoraBus::service);

    connect(controller_.get(), &TonvelController::changed, this, &DesktopApp::refreshTray,
            Qt::QueuedConnection);
    refreshTray();

    server_ = std::make_unique<StatusServer>(consent_);
    statusLink_ = std::make_unique<StatusServerLink>(*controller_, *server_);

    if (!trayHost && !autostarted_)
        openPanel();
    if (controller_->takeShouldResume())
        controller_->setEnabled(true);

    qCInfo(lcUi, "Sprache: %s von %s", qUtf8Printable(QLocale().uiLanguages().join(QStringLiteral(", "))),
           qUtf8Printable(Translations::shippedLanguages().join(QStringLiteral(", "))));
    return true;
}

// A second launch: the running instance shows its panel (the call scripts use too). One that
// is still starting has the lock but not yet the bus name: asked again for up to 3 s.
bool DesktopApp::askRunningToShowPanel()
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QLatin1String(VelmoraBus::service), QLatin1String(VelmoraBus::path),
                                           QLatin1String(VelmoraBus::interface), QStringLiteral("ShowPanel")),
            QDBus::Block, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
        if (reply.errorName() != u"org.freedesktop.DBus.Error.ServiceUnknown" || waited.elapsed() > 3000)
            return false;
        QThread::msleep(100);
    }
}

void DesktopApp::followTrayHost(bool available)
{
    // Only X11 lets a program place a popup at the tray icon; on Wayland the compositor
    // places a floating window.
    const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
    const auto kind = !available ? PanelWindow::Kind::window
                      : x11      ? PanelWindow::Kind::popup
                                 : PanelWindow::Kind::floating;
    if (!available)
        qCWarning(lcUi, "Kein Tray vorhanden: das Panel oeffnet als Fenster.");
    if (panel_)
        panel_->setKind(kind);
}

void DesktopApp::openPanel(const QRect &anchor)
{
    if (panel_)
        panel_->open(anchor);
}

void DesktopApp::noticeBackground()
{
    qCInfo(lcUi, "Fenster geschlossen, Velmora laeuft im Hintergrund weiter.");
    if (backgroundNoticed_)
        return;
    backgroundNoticed_ = true;
    // Plain text: servers that speak markup read the body as markup, so escape it.
    auto notify = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    //% "Velmora keeps retuning in the background"
    const QString summary = qtTrId("notify.background.title");
    //% "Start Velmora again to show its window; Quit in the window ends it."
    const QString body = qtTrId("notify.background.body").toHtmlEscaped();
    notify << QStringLiteral("Velmora") << 0u << QStringLiteral(VELMORA_APP_ID) << summary << body << QStringList()
           << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral(VELMORA_APP_ID)}} << -1;
    QDBusConnection::sessionBus().call(notify, QDBus::NoBlock);
}

void DesktopApp::stepFreeA4(int steps)
{
    if (!controller_ || steps == 0)
        return;
    controller_->setMode(TonvelController::Mode::freeA4);
    controller_->setFreeA4(controller_->freeA4() + 0.5 * steps);
}

void DesktopApp::refreshTray()
{
    if (tray_ && controller_)
        tray_->refresh(controller_->isEnabled(), controller_->menuBarLabel());
}

void DesktopApp::quit()
{
    if (controller_)
        controller_->shutdown();
    QCoreApplication::quit();
}
