// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The program's permanent presence: one QSystemTrayIcon. Idle it shows the red fork; while
// retuning it shows the fork and the short label in a colour that moves one step every
// 0.75 s. Nothing is written to the icon while the panel is open, and a step is written only
// when the frame or the label changed (the tray host repaints on every setIcon()).
// Left click toggles the panel; right click opens the menu (some desktops deliver no other
// click to tray icons). Main thread only.
//
#include <QColor>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Whether a tray host exists (without one the program shows its panel as a window).
    static bool hostAvailable();
    void show();
    bool isVisible() const;
    // Where the icon sits on screen; empty where the host does not say (StatusNotifierItem).
    QRect geometry() const;

    // Brings the icon in line with the controller: called on every change.
    void refresh(bool enabled, const QString &label);
    // While the panel is open the icon is frozen; closing it brings the icon up to date.
    void setPanelShown(bool shown);

    int frameIndex() const { return frameIndex_; }
    bool animating() const { return timer_.isActive(); }

signals:
    void togglePanelRequested();
    void openPanelRequested();
    void enabledToggled(bool on);
    void quitRequested();

private:
    void advance();
    void applyFrame();
    void writeIdle();
    void retranslate();

    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<QMenu> menu_;
    QAction *enableAction_ = nullptr;
    QList<QColor> colors_;
    QTimer timer_;
    int frameIndex_ = 0;
    int lastIndex_ = -1;               // -1: the idle look was written last (or nothing yet)
    std::optional<QString> lastLabel_; // absent until something was written
    bool enabled_ = false;
    QString label_;
    bool panelShown_ = false;
};
