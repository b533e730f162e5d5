// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PanelWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QPalette>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {
constexpr int reopenGuardMs = 300;
constexpr int focusGraceMs = 300;
constexpr int gap = 4;
constexpr int grabAttempts = 40;
constexpr int grabRetryMs = 50;
// An activation point lies somewhere on the bar: keep this far from it, so the panel
// does not cover the bar where the desktop does not report it as taken.
constexpr int pointClearance = 16;
} // namespace

PanelWindow::PanelWindow(Kind kind, const QVariantMap &properties, QObject *parent)
    : QObject(parent), kind_(kind), view_(std::make_unique<QQuickView>())
{
    view_->engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
    view_->setResizeMode(QQuickView::SizeViewToRootObject);
    view_->setTitle(QStringLiteral("Velmora"));
    view_->setInitialProperties(properties);
    view_->setSource(QUrl(QStringLiteral("qrc:/qt/qml/VelmoraPanel/panel/Panel.qml")));
    for (const auto &error : view_->errors())
        qCWarning(lcUi, "Panel: %s", qUtf8Printable(error.toString()));
    view_->installEventFilter(this);
    applyKind();

    // A fixed size tells tiling compositors to float the window.
    auto fixSize = [this] {
        view_->setMinimumSize(view_->size());
        view_->setMaximumSize(view_->size());
    };
    connect(view_.get(), &QWindow::widthChanged, this, fixSize);
    connect(view_.get(), &QWindow::heightChanged, this, fixSize);
    fixSize();

    connect(view_.get(), &QWindow::visibleChanged, this, [this](bool visible) { emit shownChanged(visible); });
    connect(view_.get(), &QWindow::activeChanged, this, [this] {
        if (view_->isActive()) {
            wasActive_ = true;
            return;
        }
        // Focus moving elsewhere closes a popup-like panel; the grace ignores the shuffle
        // of focus right after opening.
        if (closesLikePopup() && isShown() && wasActive_ && sinceOpened_.elapsed() > focusGraceMs)
            close();
    });
}

PanelWindow::~PanelWindow() = default;

void PanelWindow::setKind(Kind kind)
{
    if (kind == kind_)
        return;
    close();
    kind_ = kind;
    applyKind();
}

void PanelWindow::applyKind()
{
    // Flags take effect when the window is next shown.
    view_->setFlags(kind_ == Kind::popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    view_->setColor(kind_ == Kind::popup ? QColor(Qt::transparent) : QGuiApplication::palette().window().color());
}

bool PanelWindow::isShown() const
{
    return view_->isVisible();
}

QPoint PanelWindow::placement(const QSize &panel, const QRect &anchor, const QRect &available)
{
    QPoint at;
    if (anchor.isValid()) {
        const QRect clear = anchor.width() > 1 ? anchor : anchor.adjusted(-pointClearance, -pointClearance,
                                                                         pointClearance, pointClearance);
        // Below an icon in the upper half of the screen, above one in the lower half.
        const bool below = clear.center().y() < available.center().y();
        at = QPoint(clear.center().x() - panel.width() / 2,
                    below ? clear.bottom() + 1 + gap : clear.top() - gap - panel.height());
    } else {
        at = QPoint(available.right() + 1 - gap - panel.width(), available.top() + gap);
    }
    at.setX(std::clamp(at.x(), available.left(), std::max(available.left(), available.right() + 1 - panel.width())));
    at.setY(std::clamp(at.y(), available.top(), std::max(available.top(), available.bottom() + 1 - panel.height())));
    return at;
}

void PanelWindow::open(const QRect &anchor)
{
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (isShown()) {
        // A second launch or the menu: bring it back wherever it is.
        if (view_->windowStates() & Qt::WindowMinimized)
            view_->showNormal();
        if (!offscreen) {
            view_->raise();
            view_->requestActivate();
        }
        return;
    }
    if (kind_ == Kind::popup) {
        QRect where = anchor;
        QScreen *screen = where.isValid() ? QGuiApplication::screenAt(where.center()) : nullptr;
        if (!where.isValid()) {
            // The host gave no position: on X11 the pointer is at the icon right after a click.
            const QPoint pointer = QCursor::pos();
            screen = QGuiApplication::screenAt(pointer);
            if (screen && !pointer.isNull())
                where = QRect(pointer, QSize(1, 1));
        }
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (screen) {
            view_->setScreen(screen);
            view_->setPosition(placement(view_->size(), where, screen->availableGeometry()));
        }
    }
    sinceOpened_.start();
    wasActive_ = false;
    view_->showNormal();
    if (!offscreen) {
        view_->raise();
        view_->requestActivate();
    }
    if (kind_ == Kind::popup)
        grabInput(grabAttempts);
}

void PanelWindow::grabInput(int attemptsLeft)
{
    // The tray host may still hold the pointer from the click that opened us (GTK panels
    // do until the button is released): try again shortly.
    if (!isShown() || kind_ != Kind::popup)
        return;
    const bool mouse = view_->setMouseGrabEnabled(true);
    const bool keyboard = view_->setKeyboardGrabEnabled(true);
    if ((!mouse || !keyboard) && attemptsLeft > 1)
        QTimer::singleShot(grabRetryMs, this, [this, attemptsLeft] { grabInput(attemptsLeft - 1); });
}

void PanelWindow::toggle(const QRect &anchor)
{
    if (isShown() && kind_ != Kind::window) {
        close();
        return;
    }
    if (sinceClosed_.isValid() && sinceClosed_.elapsed() < reopenGuardMs)
        return;
    open(anchor);
}

void PanelWindow::close()
{
    if (!isShown())
        return;
    if (kind_ == Kind::popup) {
        view_->setMouseGrabEnabled(false);
        view_->setKeyboardGrabEnabled(false);
    }
    view_->hide();
    sinceClosed_.start();
}

bool PanelWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != view_.get())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (kind_ == Kind::popup
            && !QRect(QPoint(0, 0), view_->size()).contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            close();
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (closesLikePopup() && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        break;
    case QEvent::Close:
        // The title bar's ×: hide, never destroy; the owner decides what it means.
        sinceClosed_.start();
        if (kind_ == Kind::window)
            emit windowClosed();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
