// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The audio layer the tray program retunes with: the PipeWire engine, and a question the
// panel's hints need answered by the server itself.
//
#include "audio/RetuneEngine.h"

#include <functional>
#include <memory>

struct SystemAudio {
    std::shared_ptr<RetuneEngine> engine;
    std::function<bool()> hasSessionManager;
};

SystemAudio makeSystemAudio();
