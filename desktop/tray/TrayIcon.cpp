// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayIcon.h"

#include "tray/StatusNotifierItem.h"
#include "tray/TrayArt.h"

#include <QAction>
#include <QGuiApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWheelEvent>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {
constexpr int frameIntervalMs = 750; // one colour cycle in 90 s
constexpr int hostCheckMs = 2000;
bool onX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
} // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent), sni_(std::make_unique<StatusNotifierItem>()), menu_(std::make_unique<QMenu>()),
      colors_(TrayArt::rainbowColors())
{
    auto *open = menu_->addAction(QString());
    connect(open, &QAction::triggered, this, [this] { emit openPanelRequested({}); });
    enableAction_ = menu_->addAction(QString());
    enableAction_->setCheckable(true);
    connect(enableAction_, &QAction::triggered, this, &TrayIcon::enabledToggled);
    menu_->addSeparator();
    auto *quit = menu_->addAction(QString());
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);
    retranslate();

    connect(sni_.get(), &StatusNotifierItem::activated, this,
            [this](QPoint at) { emit togglePanelRequested(at.isNull() ? QRect() : QRect(at, QSize(1, 1))); });
    connect(sni_.get(), &StatusNotifierItem::contextMenuRequested, this, &TrayIcon::showMenu);
    connect(sni_.get(), &StatusNotifierItem::secondaryActivated, this, [this] { emit enabledToggled(!enabled_); });
    connect(sni_.get(), &StatusNotifierItem::scrolled, this, &TrayIcon::scrolled);
    connect(sni_.get(), &StatusNotifierItem::registeredChanged, this, &TrayIcon::checkHost);

    // Qt picks XEmbed for good when no watcher runs now; a watcher later gets our own item.
    if (onX11() && !StatusNotifierItem::watcherPresent()) {
        xembed_ = std::make_unique<QSystemTrayIcon>();
        xembed_->setContextMenu(menu_.get());
        connect(xembed_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger)
                emit togglePanelRequested(xembed_->geometry());
        });
        // Qt's XEmbed icon is a widget of this class; its wheel events come by here.
        qApp->installEventFilter(this);
    }
    timer_.setInterval(frameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TrayIcon::advance);
    hostCheck_.setInterval(hostCheckMs);
    connect(&hostCheck_, &QTimer::timeout, this, &TrayIcon::checkHost);
    refresh(false, QString());
}

TrayIcon::~TrayIcon()
{
    if (xembed_)
        qApp->removeEventFilter(this);
}

bool TrayIcon::hostAvailable() const
{
    return sni_->isRegistered() || (xembed_ && QSystemTrayIcon::isSystemTrayAvailable());
}

void TrayIcon::show()
{
    if (xembed_)
        xembed_->show();
    hostAvailable_ = hostAvailable();
    hostCheck_.start();
    qCInfo(lcUi, "Tray-Symbol angelegt; Tray vorhanden: %s", hostAvailable_ ? "ja" : "nein");
}

void TrayIcon::checkHost()
{
    const bool available = hostAvailable();
    // Our own item replaces the XEmbed one once a watcher took it.
    if (xembed_ && sni_->isRegistered() && xembed_->isVisible())
        xembed_->hide();
    if (available == hostAvailable_)
        return;
    hostAvailable_ = available;
    qCInfo(lcUi, "Tray %s", available ? "erschienen" : "verschwunden");
    emit hostAvailableChanged(available);
}

void TrayIcon::retranslate()
{
    const auto actions = menu_->actions();
    //% "Open panel"
    actions[0]->setText(qtTrId("tray.menu.open"));
    //% "Retune"
    enableAction_->setText(qtTrId("tray.menu.enable"));
    //% "Quit"
    actions.last()->setText(qtTrId("tray.menu.quit"));
}

void TrayIcon::refresh(bool enabled, const QString &label)
{
    enabled_ = enabled;
    label_ = label;
    enableAction_->setChecked(enabled);
    if (enabled && !timer_.isActive())
        timer_.start();
    else if (!enabled)
        timer_.stop();
    if (enabled) {
        //% "Velmora: retuning to %1"
        write(TrayArt::activeIcon(colors_[frameIndex_]), QStringLiteral("Velmora %1").arg(label),
              qtTrId("tray.tooltip.on").arg(label));
    } else {
        //% "Velmora: off"
        write(TrayArt::idleIcon(TrayArt::inactiveColor()), QStringLiteral("Velmora"), qtTrId("tray.tooltip.off"));
    }
}

void TrayIcon::setPanelShown(bool shown)
{
    panelShown_ = shown;
}

void TrayIcon::advance()
{
    if (panelShown_)
        return;
    frameIndex_ = (frameIndex_ + 1) % TrayArt::frameCount;
    refresh(enabled_, label_);
}

void TrayIcon::write(const QImage &picture, const QString &title, const QString &toolTip)
{
    toolTip_ = toolTip;
    sni_->setToolTip(title, toolTip);
    if (xembed_)
        xembed_->setToolTip(toolTip);
    const qint64 key = enabled_ ? frameIndex_ : -2;
    if (key == written_)
        return;
    written_ = key;
    sni_->setIcon(picture);
    if (xembed_)
        xembed_->setIcon(QIcon(QPixmap::fromImage(picture)));
}

void TrayIcon::showMenu(QPoint at)
{
    // A menu needs a parent window on Wayland; the panel holds the same actions.
    if (!onX11()) {
        emit openPanelRequested(at.isNull() ? QRect() : QRect(at, QSize(1, 1)));
        return;
    }
    menu_->popup(at);
}

bool TrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && watched->inherits("QSystemTrayIconSys")) {
        const int notches = static_cast<QWheelEvent *>(event)->angleDelta().y() / 120;
        if (notches != 0)
            emit scrolled(notches);
        return true;
    }
    return QObject::eventFilter(watched, event);
}
