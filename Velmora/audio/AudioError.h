// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// AudioError: the one error type of the audio layer: the German name of the operation that
// failed and the status, a negative errno value as PipeWire returns them. The controller shows
// errorDescription() to the user, e.g.
// "Verbindung zu PipeWire herstellen fehlgeschlagen (-112: Host is down)".
//
#include <QString>

#include <exception>
#include <string>

class AudioError : public std::exception {
public:
    AudioError(int status, std::string operation);

    int status() const noexcept { return status_; }
    const std::string &operation() const noexcept { return operation_; }

    // operation + " fehlgeschlagen (" + status + ": " + reason + ")"
    std::string errorDescription() const { return description_; }
    QString localizedDescription() const { return QString::fromStdString(description_); }
    const char *what() const noexcept override { return description_.c_str(); }

    // "-19: No such device"; the number alone when the system knows no reason for it.
    static std::string statusText(int status);

private:
    int status_;
    std::string operation_;
    std::string description_;
};
