// SPDX-License-Identifier: GPL-3.0-or-later
#include "tray/TrayIcon.h"

#include "tray/TrayArt.h"

#include <QAction>
#include <QIcon>
#include <QLoggingCategory>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {
constexpr int frameIntervalMs = 750; // one colour cycle in 90 s
}

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent), icon_(std::make_unique<QSystemTrayIcon>()), menu_(std::make_unique<QMenu>()),
      colors_(TrayArt::rainbowColors())
{
    auto *open = menu_->addAction(QString());
    open->setObjectName(QStringLiteral("open"));
    connect(open, &QAction::triggered, this, &TrayIcon::openPanelRequested);
    enableAction_ = menu_->addAction(QString());
    enableAction_->setCheckable(true);
    connect(enableAction_, &QAction::triggered, this, &TrayIcon::enabledToggled);
    menu_->addSeparator();
    auto *quit = menu_->addAction(QString());
    quit->setObjectName(QStringLiteral("quit"));
    connect(quit, &QAction::triggered, this, &TrayIcon::quitRequested);
    icon_->setContextMenu(menu_.get());
    retranslate();

    connect(icon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            emit togglePanelRequested();
    });
    timer_.setInterval(frameIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &TrayIcon::advance);
    writeIdle();
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::hostAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::show()
{
    icon_->show();
    qCInfo(lcUi, "Tray-Symbol angelegt. Tray vorhanden: %d, sichtbar: %d", hostAvailable(),
           icon_->isVisible());
}

bool TrayIcon::isVisible() const
{
    return icon_->isVisible();
}

QRect TrayIcon::geometry() const
{
    return icon_->geometry();
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
    if (enabled) {
        if (!timer_.isActive())
            timer_.start();
        applyFrame();
        return;
    }
    timer_.stop();
    if (panelShown_)
        return;
    writeIdle();
}

void TrayIcon::setPanelShown(bool shown)
{
    panelShown_ = shown;
    if (!shown)
        refresh(enabled_, label_);
}

void TrayIcon::advance()
{
    if (!enabled_) {
        timer_.stop();
        return;
    }
    frameIndex_ = (frameIndex_ + 1) % TrayArt::frameCount;
    applyFrame();
}

void TrayIcon::applyFrame()
{
    if (panelShown_)
        return;
    if (frameIndex_ == lastIndex_ && lastLabel_ == label_)
        return;
    lastIndex_ = frameIndex_;
    lastLabel_ = label_;
    icon_->setIcon(QIcon(QPixmap::fromImage(TrayArt::labelledIcon(colors_[frameIndex_], label_))));
    //% "Velmora: retuning to %1"
    icon_->setToolTip(qtTrId("tray.tooltip.on").arg(label_));
}

void TrayIcon::writeIdle()
{
    if (lastIndex_ == -1 && lastLabel_ == QString())
        return;
    lastIndex_ = -1;
    lastLabel_ = QString();
    icon_->setIcon(QIcon(QPixmap::fromImage(TrayArt::idleIcon(TrayArt::inactiveColor()))));
    //% "Velmora: off"
    icon_->setToolTip(qtTrId("tray.tooltip.off"));
}
