// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// AudioError: the one error type of the audio layer, a platform status plus the German name
// of the operation that failed. The controller shows errorDescription() to the user.
//
#include "audio/AudioPlatform.h"

#include <QString>

#include <exception>
#include <string>

class AudioError : public std::exception {
public:
    AudioError(OSStatus status, std::string operation);

    OSStatus status() const noexcept { return status_; }
    const std::string &operation() const noexcept { return operation_; }

    // operation + " fehlgeschlagen (" + fourCC(status) + ")"
    std::string errorDescription() const;
    QString localizedDescription() const { return QString::fromStdString(errorDescription()); }
    const char *what() const noexcept override { return description_.c_str(); }

    // "'abcd' / 1633837924" when all four bytes (most significant first) are printable ASCII
    // (0x20 ... 0x7E), otherwise the status in decimal alone.
    static std::string fourCC(OSStatus status);

private:
    OSStatus status_;
    std::string operation_;
    std::string description_;
};
