// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every controller test needs: an application object with the German tables, the queued
// calls delivered, a file's bytes.
#include "i18n/Translations.h"

#include <QCoreApplication>
#include <QFile>

namespace ControllerTestKit {

inline void ensureApp()
{
    static int argc = 1;
    static char name[] = "controller_test";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        new QCoreApplication(argc, argv);
        Translations::install(QStringLiteral("de"));
    }
}

inline void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace ControllerTestKit
