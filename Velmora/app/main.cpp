// SPDX-License-Identifier: GPL-3.0-or-later
// Velmora tray program. Wires the units together; the units live in VelmoraLib.
#include "app/AppIdentity.h"

#include <QApplication>
#include <QMessageBox>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();
    QApplication::setQuitOnLastWindowClosed(false);
    // The tray icon and panel arrive with the controller; until then say what works.
    QMessageBox::information(nullptr, QStringLiteral("Velmora"),
                             QStringLiteral("Velmora %1: die Oberfläche folgt. "
                                            "Bis dahin: velmora-cli live --preset 432")
                                 .arg(QString::fromLatin1(AppIdentity::version)));
    return 0;
}
