// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Our own StatusNotifierItem on the session bus, the tray protocol of KDE, waybar,
// xfce4-panel and GNOME's AppIndicator extension. Qt's tray class speaks it too but drops
// what the host tells us: the position `Activate(x, y)` carries and `Scroll`. It also
// decides once, at start, whether a host exists; this item registers again whenever a
// watcher appears (a panel started after us, as at login).
//
// No menu is exported: the host then calls ContextMenu(x, y), which we answer ourselves.
// Main thread only.
//
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QString>

class QDBusServiceWatcher;

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    explicit StatusNotifierItem(QObject *parent = nullptr);
    ~StatusNotifierItem() override;

    // Whether a watcher with a registered host has taken our item.
    bool isRegistered() const { return registered_; }
    // Whether a watcher is on the session bus at all.
    static bool watcherPresent();

    void setIcon(const QImage &image);
    void setToolTip(const QString &title, const QString &text);

    // Read by the D-Bus adaptor.
    QString title() const { return title_; }
    QString toolTipText() const { return toolTipText_; }
    const QImage &icon() const { return icon_; }

signals:
    void registeredChanged(bool registered);
    // `at` is in global coordinates; null when the host gave none.
    void activated(QPoint at);
    void secondaryActivated(QPoint at);
    void contextMenuRequested(QPoint at);
    // One wheel notch is ±1 (hosts send 120 per notch or 1 per notch; both are scaled).
    void scrolled(int steps);

    // For the adaptor: the host re-reads these properties.
    void newIcon();
    void newToolTip();
    void newTitle();

private:
    friend class StatusNotifierItemAdaptor;
    void registerWithWatcher();
    void setRegistered(bool on);
    void onScroll(int delta, const QString &orientation);

    QString service_;
    QDBusServiceWatcher *watcher_ = nullptr;
    bool registered_ = false;
    QImage icon_;
    QString title_ = QStringLiteral("Velmora");
    QString toolTipText_;
    int scrollRest_ = 0;
};
