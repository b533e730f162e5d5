// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// One running tray program per user: a second one would tear down the first one's audio
// and fight over the status port. The first instance holds a QLockFile in the runtime
// folder; a later launch finds it taken and reaches the first one over the session bus.
//
#include <QLockFile>
#include <QString>

#include <memory>

class SingleInstance {
public:
    // `folder`: where the lock lives ($XDG_RUNTIME_DIR when empty).
    explicit SingleInstance(QString folder = {});

    // True when this process is now the one instance.
    bool claim();

private:
    std::unique_ptr<QLockFile> lock_;
};
