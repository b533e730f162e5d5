// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AppIdentity.h"

#include <QCoreApplication>

namespace AppIdentity {

void applyToApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("velmora.org"));
    QCoreApplication::setApplicationName(QString::fromLatin1(applicationName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(version));
}

QString qualified(const char *suffix)
{
    return QString::fromLatin1(applicationId) + QLatin1Char('.') + QString::fromLatin1(suffix);
}

} // namespace AppIdentity
