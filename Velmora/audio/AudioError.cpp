// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AudioError.h"

#include <cstring>

AudioError::AudioError(int status, std::string operation)
    : status_(status), operation_(std::move(operation)),
      description_(operation_ + " fehlgeschlagen (" + statusText(status_) + ")")
{
}

std::string AudioError::statusText(int status)
{
    // strerrordesc_np: the English text without touching the locale or a shared buffer.
    const char *reason = status < 0 && status > -4096 ? strerrordesc_np(-status) : nullptr;
    return reason ? std::to_string(status) + ": " + reason : std::to_string(status);
}
