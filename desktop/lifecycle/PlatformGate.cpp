// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/PlatformGate.h"

#include <QMessageBox>
#include <QPushButton>
#include <QVersionNumber>

#include <pipewire/version.h>

namespace PlatformGate {

bool isRecentEnough(const QString &library, const QString &minimum)
{
    const auto have = QVersionNumber::fromString(library);
    return have.segmentCount() >= 2 && have >= QVersionNumber::fromString(minimum);
}

bool pass()
{
    const QString minimum = QStringLiteral("%1.%2.%3").arg(PW_MAJOR).arg(PW_MINOR).arg(PW_MICRO);
    const QString library = QString::fromUtf8(pw_get_library_version());
    if (isRecentEnough(library, minimum))
        return true;
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Velmora"),
                    QStringLiteral("PipeWire %1 oder neuer erforderlich").arg(minimum));
    box.setInformativeText(QStringLiteral("Velmora leitet den Ton aller Programme über PipeWire um; "
                                          "die installierte PipeWire-Bibliothek (%1) ist dafür zu alt.")
                               .arg(library));
    box.addButton(QStringLiteral("Beenden"), QMessageBox::AcceptRole);
    box.exec();
    return false;
}

} // namespace PlatformGate
