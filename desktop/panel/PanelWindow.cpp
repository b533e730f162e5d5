// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PanelWindow.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMouseEvent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>

#include <algorithm>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {
constexpr int reopenGuardMs = 300;
constexpr int focusGraceMs = 300;
constexpr int gap = 4;
} // namespace

PanelWindow::PanelWindow(Kind kind, const QVariantMap &properties, QObject *parent)
    : QObject(parent), kind_(kind), view_(std::make_unique<QQuickView>())
{
    view_->engine()->addImportPath(QStringLiteral("qrc:/qt/qml"));
    view_->setResizeMode(QQuickView::SizeViewToRootObject);
    view_->setColor(Qt::transparent);
    view_->setTitle(QStringLiteral("Velmora"));
    if (kind_ == Kind::popup)
        view_->setFlags(Qt::Popup | Qt::FramelessWindowHint);
    view_->setInitialProperties(properties);
    view_->setSource(QUrl(QStringLiteral("qrc:/qt/qml/VelmoraPanel/panel/Panel.qml")));
    for (const auto &error : view_->errors())
        qCWarning(lcUi, "Panel: %s", qUtf8Printable(error.toString()));
    view_->installEventFilter(this);

    connect(view_.get(), &QWindow::visibleChanged, this,
            [this](bool visible) { emit shownChanged(visible); });
    connect(view_.get(), &QWindow::activeChanged, this, [this] {
        // With a window manager, focus moving elsewhere closes the popup too.
        if (kind_ == Kind::popup && isShown() && !view_->isActive() && sinceOpened_.elapsed() > focusGraceMs)
            close();
    });
}

PanelWindow::~PanelWindow() = default;

bool PanelWindow::isShown() const
{
    return view_->isVisible();
}

QPoint PanelWindow::placement(const QSize &panel, const QRect &anchor, const QRect &available)
{
    QPoint at;
    if (anchor.isValid()) {
        // Below an icon in the upper half of the screen, above one in the lower half.
        const bool below = anchor.center().y() < available.center().y();
        at = QPoint(anchor.center().x() - panel.width() / 2,
                    below ? anchor.bottom() + 1 + gap : anchor.top() - gap - panel.height());
    } else {
        at = QPoint(available.right() + 1 - gap - panel.width(), available.top() + gap);
    }
    at.setX(std::clamp(at.x(), available.left(),
                       std::max(available.left(), available.right() + 1 - panel.width())));
    at.setY(std::clamp(at.y(), available.top(),
                       std::max(available.top(), available.bottom() + 1 - panel.height())));
    return at;
}

void PanelWindow::open(const QRect &anchor)
{
    if (kind_ == Kind::popup) {
        QRect where = anchor;
        QScreen *screen = nullptr;
        if (where.isValid()) {
            screen = QGuiApplication::screenAt(where.center());
        } else {
            // The tray host does not say where the icon is (StatusNotifierItem): the pointer
            // is at the icon right after a click, otherwise the tray is usually top right.
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
    view_->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        view_->raise();
        view_->requestActivate();
    }
    if (kind_ == Kind::popup) {
        view_->setMouseGrabEnabled(true);
        view_->setKeyboardGrabEnabled(true);
    }
}

void PanelWindow::toggle(const QRect &anchor)
{
    if (isShown()) {
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
    if (watched == view_.get()) {
        if (event->type() == QEvent::MouseButtonPress && kind_ == Kind::popup) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (!QRect(QPoint(0, 0), view_->size()).contains(mouse->position().toPoint())) {
                close();
                return true;
            }
        } else if (event->type() == QEvent::KeyPress && kind_ == Kind::popup
                   && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            close();
            return true;
        } else if (event->type() == QEvent::Close && kind_ == Kind::window) {
            sinceClosed_.start();
            emit windowClosed();
        }
    }
    return QObject::eventFilter(watched, event);
}
