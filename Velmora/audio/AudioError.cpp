// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/AudioError.h"

AudioError::AudioError(OSStatus status, std::string operation)
    : status_(status)
    , operation_(std::move(operation))
    , description_(operation_ + " fehlgeschlagen (" + fourCC(status_) + ")")
{
}

std::string AudioError::errorDescription() const
{
    return description_;
}

std::string AudioError::fourCC(OSStatus status)
{
    const auto bits = static_cast<std::uint32_t>(status);
    char chars[4];
    bool printable = true;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>((bits >> (24 - 8 * i)) & 0xFFu);
        printable = printable && byte >= 0x20 && byte <= 0x7E;
        chars[i] = static_cast<char>(byte);
    }
    const std::string decimal = std::to_string(status);
    if (!printable)
        return decimal;
    return "'" + std::string(chars, 4) + "' / " + decimal;
}
