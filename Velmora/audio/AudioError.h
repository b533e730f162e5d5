// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// AudioError: the one error type of the audio layer: the German name of the operation that
// failed and the status, a negative errno value as PipeWire returns them. errorDescription()
// (and what()) stays German for logs and scripts, e.g.
// "Verbindung zu PipeWire herstellen fehlgeschlagen (-112: Host is down)";
// localizedDescription() is what a person reads, from the installed tables.
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
    // The same in the installed language ("Connect to PipeWire failed (-112: Host is down)"). An
    // operation without an id, or no table at all, keeps the German words. Main thread.
    QString localizedDescription() const;
    const char *what() const noexcept override { return description_.c_str(); }

    // "-19: No such device"; the number alone when the system knows no reason for it.
    static std::string statusText(int status);

private:
    int status_;
    std::string operation_;
    std::string description_;
};
