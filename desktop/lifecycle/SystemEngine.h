// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The audio layer the tray program retunes with: the PipeWire engine.
//
#include "audio/RetuneEngine.h"

#include <memory>

std::shared_ptr<RetuneEngine> makeSystemEngine();
