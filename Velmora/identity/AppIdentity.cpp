// SPDX-License-Identifier: GPL-3.0-or-later
#include "identity/AppIdentity.h"

#include <QCoreApplication>

#include <map>
#include <mutex>
#include <string>

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

const QLoggingCategory &logCategory(const char *component)
{
    static std::mutex *lock = new std::mutex;
    // QLoggingCategory keeps the name pointer: the strings live as long as the categories.
    static auto *categories = new std::map<std::string, std::pair<std::string, QLoggingCategory *>>;
    std::lock_guard guard(*lock);
    auto &entry = (*categories)[component];
    if (!entry.second) {
        entry.first = std::string(applicationId) + "." + component;
        entry.second = new QLoggingCategory(entry.first.c_str());
    }
    return *entry.second;
}

} // namespace AppIdentity
