// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/SingleInstance.h"

#include <QDir>
#include <QStandardPaths>

SingleInstance::SingleInstance(QString folder)
{
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(folder);
    lock_ = std::make_unique<QLockFile>(folder + u'/' + QStringLiteral(VELMORA_APP_ID ".lock"));
    // A lock left by a process that died is taken over (QLockFile checks the owner's pid).
    lock_->setStaleLockTime(0);
}

bool SingleInstance::claim()
{
    return lock_->tryLock(0);
}
