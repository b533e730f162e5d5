// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The program's permanent presence in the tray. Idle it shows the struck-through fork;
// while retuning, the fork in a colour that moves one step every 0.75 s. The tuning ("432")
// is in the tooltip and the title: at 22 px no number stays legible inside the fork.
// On/off state and texts always follow the controller; only the colour cycle pauses while
// the panel is open. A picture is written only when it changed (hosts repaint on each).
//
// Two ways to the tray: our StatusNotifierItem wherever a watcher runs (now or later), and
// Qt's XEmbed icon on X11 when no watcher ran at start. Left click toggles the panel at the
// icon, right click opens the menu, the wheel steps the free A4. Main thread only.
//
#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;

class TrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    // Whether a tray host shows our icon (without one the program shows a window).
    bool hostAvailable() const;
    void show();

    // Brings the icon in line with the controller: called on every change.
    void refresh(bool enabled, const QString &label);
    // While the panel is open the colour cycle pauses.
    void setPanelShown(bool shown);

    QString toolTip() const { return toolTip_; }
    int frameIndex() const { return frameIndex_; }
    bool animating() const { return timer_.isActive(); }

signals:
    // `anchor`: the icon's rectangle, or a 1×1 one at the activation point, or empty.
    void togglePanelRequested(QRect anchor);
    void openPanelRequested(QRect anchor);
    void enabledToggled(bool on);
    void quitRequested();
    // Wheel notches on the icon, up positive.
    void scrolled(int steps);
    void hostAvailableChanged(bool available);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void advance();
    void write(const QImage &picture, const QString &title, const QString &toolTip);
    void showMenu(QPoint at);
    void checkHost();
    void retranslate();

    std::unique_ptr<StatusNotifierItem> sni_;
    std::unique_ptr<QSystemTrayIcon> xembed_;
    std::unique_ptr<QMenu> menu_;
    QAction *enableAction_ = nullptr;
    QList<QColor> colors_;
    QTimer timer_;
    QTimer hostCheck_;
    int frameIndex_ = 0;
    bool enabled_ = false;
    bool panelShown_ = false;
    bool hostAvailable_ = false;
    QString label_;
    QString toolTip_;
    qint64 written_ = -1; // key of the picture written last
};
