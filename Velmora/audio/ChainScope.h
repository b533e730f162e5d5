// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ChainScope: which applications the chain takes in, and whether it follows a new default
// output by itself. Plain values; the audio layer applies them to the open chain at once and
// to every chain it opens later.
//
// An application is known by a key: its binary (application.process.binary), else its name
// (application.name). A stream left out is never routed into the chain: the session manager
// links it to the device, unprocessed, as if Velmora were not running.
//
#include <string>
#include <string_view>
#include <vector>

struct ChainScope {
    std::vector<std::string> excludedApps; // keys, names or binaries
    bool retuneCalls = false;              // streams of calls (media.role Phone, Communication)
    // False: a new default output is played to only once the owner rebuilds (per-device
    // settings apply first, so the new device never hears the old one's).
    bool followDefault = true;

    // Whether a stream of this application with this media.role stays out of the chain.
    bool excludes(std::string_view binary, std::string_view name, std::string_view role) const;

    friend bool operator==(const ChainScope &, const ChainScope &) = default;
};

// The key an application is remembered by: its binary, else its name ("" when it has neither).
std::string applicationKey(std::string_view binary, std::string_view name);

// An application seen playing during this run.
struct AppEntry {
    std::string key;
    std::string name;     // what users read: application.name, else the key
    std::string iconName; // application.icon-name, may be empty
    std::string binary;
    bool playing = false; // a stream of it exists now

    friend bool operator==(const AppEntry &, const AppEntry &) = default;
};
