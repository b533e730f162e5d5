// SPDX-License-Identifier: GPL-3.0-or-later
// Velmora's tray program. Everything but the application object lives in DesktopApp.
#include "identity/AppIdentity.h"
#include "lifecycle/DesktopApp.h"

#include <QApplication>
#include <QQuickStyle>

int main(int argc, char *argv[])
{
    // A Wayland session gets a Wayland client, not an Xwayland one: Xwayland knows neither
    // the pointer nor the bars, so a panel placed through it lands in the wrong spot.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland;xcb");
    QApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID)); // compositors find our icon by it
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
    DesktopApp desktop;
    return desktop.run();
}
