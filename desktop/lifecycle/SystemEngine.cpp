// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/SystemEngine.h"

#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"

std::shared_ptr<RetuneEngine> makeSystemEngine()
{
    return TapEngine::create(PipeWireServer::connect());
}
