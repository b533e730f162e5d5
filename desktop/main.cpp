// SPDX-License-Identifier: GPL-3.0-or-later
// Velmora's tray program. Everything but the application object lives in DesktopApp.
#include "identity/AppIdentity.h"
#include "lifecycle/DesktopApp.h"

#include <QApplication>
#include <QQuickStyle>

int main(int argc, char *argv[])
{
    // The panel opens at the tray icon, which only X11 (or XWayland) lets a program do.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();
    QApplication::setDesktopFileName(QStringLiteral(VELMORA_APP_ID));
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsEmpty("QT_QUICK_CONTROLS_STYLE"))
        QQuickStyle::setStyle(QStringLiteral("Fusion"));
    DesktopApp desktop;
    return desktop.run();
}
