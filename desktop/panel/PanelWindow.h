// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The window that holds the QML panel, always of the content's fixed size (so tiling
// compositors float it). Three kinds:
// - popup (X11 with a tray): frameless, placed at the tray icon or the activation point
//   inside the screen's free area; closes on an outside click, focus loss or Escape;
// - floating (Wayland with a tray): a client cannot place itself there, so the compositor
//   centres it; closes on focus loss or Escape, like a popup;
// - window (no tray host): an ordinary window; closing it only hides it, the program goes
//   on in the background.
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
    enum class Kind { popup, floating, window };

    // `properties`: the panel's initial (required) properties, e.g. the controller.
    PanelWindow(Kind kind, const QVariantMap &properties, QObject *parent = nullptr);
    ~PanelWindow() override;

    bool isShown() const;
    // Opens at `anchor` (the tray icon or a 1×1 activation point; empty when unknown).
    // An open window is brought to the front, un-minimised and focused.
    void open(const QRect &anchor = {});
    void toggle(const QRect &anchor = {});
    void close();
    // The kind follows the tray host, which may come and go.
    void setKind(Kind kind);

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
    void applyKind();
    void grabInput(int attemptsLeft);
    bool closesLikePopup() const { return kind_ != Kind::window; }

    Kind kind_;
    std::unique_ptr<QQuickView> view_;
    QElapsedTimer sinceClosed_;
    QElapsedTimer sinceOpened_;
    bool wasActive_ = false;
};
