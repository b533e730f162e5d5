// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/SystemEngine.h"

#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"

SystemAudio makeSystemAudio()
{
    auto server = PipeWireServer::connect();
    std::weak_ptr<PipeWireServer> weak = server;
    return {TapEngine::create(server), [weak] {
                const auto s = weak.lock();
                return s && s->hasSessionManager();
            }};
}
