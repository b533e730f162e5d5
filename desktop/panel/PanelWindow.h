// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The window that holds the QML panel. With a tray host it is a frameless popup placed at
// the tray icon (or at the pointer, or the screen's top right, where the host gives no
// geometry) that closes when the user clicks elsewhere or focus leaves it. Without a tray
// host it is an ordinary window, so the program stays usable.
//
// A Qt::Popup QWindow does not grab the pointer by itself on Qt 6.4, so the grabs are taken
// after showing; an outside click then arrives here and closes the panel. That click is
// often the one on the tray icon: a toggle right after such a close is ignored, or the
// panel would reopen at once.
//
#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QVariantMap>

#include <memory>

class QQuickView;

class PanelWindow : public QObject {
    Q_OBJECT
public:
    enum class Kind { popup, window };

    // `properties`: the panel's initial (required) properties, e.g. the controller.
    PanelWindow(Kind kind, const QVariantMap &properties, QObject *parent = nullptr);
    ~PanelWindow() override;

    bool isShown() const;
    // Opens at `anchor` (the tray icon; empty when unknown).
    void open(const QRect &anchor = {});
    void toggle(const QRect &anchor = {});
    void close();

    QQuickView *view() const { return view_.get(); }
    Kind kind() const { return kind_; }
    // Where the panel goes for an anchor rectangle on a screen's available area.
    static QPoint placement(const QSize &panel, const QRect &anchor, const QRect &available);

signals:
    void shownChanged(bool shown);
    // The user closed the ordinary window (only in Kind::window).
    void windowClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Kind kind_;
    std::unique_ptr<QQuickView> view_;
    QElapsedTimer sinceClosed_;
    QElapsedTimer sinceOpened_;
};
