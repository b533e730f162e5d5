// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/DesktopApp.h"
#include "identity/AppIdentity.h"

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
#include <QElapsedTimer>
#include <QThread>
#include <QLocale>
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
    startServices();
    return QApplication::exec();
}

void DesktopApp::startServices()
{
    consent_ = std::make_shared<OriginConsent>(OriginConsent::defaultStorePath(), 60.0);

    TonvelController::Options options;
    options.engine = makeSystemEngine();
    options.consent = consent_;
    controller_ = std::make_unique<TonvelController>(std::move(options));
    connect(controller_.get(), &TonvelController::consentAsked, this, &DesktopApp::openPanel);

    tray_ = std::make_unique<TrayIcon>();
    connect(tray_.get(), &TrayIcon::togglePanelRequested, this, &DesktopApp::togglePanel);
    connect(tray_.get(), &TrayIcon::openPanelRequested, this, &DesktopApp::openPanel);
    connect(tray_.get(), &TrayIcon::enabledToggled, controller_.get(), &TonvelController::setEnabled);
    connect(tray_.get(), &TrayIcon::quitRequested, this, &DesktopApp::quit);
    tray_->show();

    support_ = std::make_unique<PanelSupport>(controller_.get());
    connect(support_.get(), &PanelSupport::quitRequested, this, &DesktopApp::quit);
    const bool trayHost = TrayIcon::hostAvailable();
    // Only X11 lets a program place a popup at the tray icon; elsewhere it is a window.
    const bool popup = trayHost && QGuiApplication::platformName() == QLatin1String("xcb");
    panel_ = std::make_unique<PanelWindow>(
        popup ? PanelWindow::Kind::popup : PanelWindow::Kind::window,
        QVariantMap{{QStringLiteral("controller"), QVariant::fromValue<QObject *>(controller_.get())},
                    {QStringLiteral("support"), QVariant::fromValue<QObject *>(support_.get())}});
    connect(panel_.get(), &PanelWindow::shownChanged, tray_.get(), &TrayIcon::setPanelShown);
    // Without a tray host, closing the window is the only way to end the program.
    connect(panel_.get(), &PanelWindow::windowClosed, this, [this] {
        if (!TrayIcon::hostAvailable())
            quit();
    });
    connect(instance_.get(), &SingleInstance::showPanelRequested, this, &DesktopApp::openPanel);
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

    if (!trayHost) {
        qCWarning(lcUi, "Kein Tray vorhanden: das Panel oeffnet als Fenster.");
        openPanel();
    }
    if (controller_->takeShouldResume())
        controller_->setEnabled(true);

    qCInfo(lcUi, "Sprache: %s von %s", qUtf8Printable(QLocale().uiLanguages().join(QStringLiteral(", "))),
           qUtf8Printable(Translations::shippedLanguages().join(QStringLiteral(", "))));
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

void DesktopApp::openPanel()
{
    if (panel_ && !panel_->isShown())
        panel_->open(tray_ ? tray_->geometry() : QRect());
}

void DesktopApp::togglePanel()
{
    if (panel_)
        panel_->toggle(tray_->geometry());
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
