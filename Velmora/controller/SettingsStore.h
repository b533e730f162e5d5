// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// SettingsStore: the user's choices in flat keys (INI, $XDG_CONFIG_HOME/Velmora/Velmora.conf).
// Reading accepts only what would have been written (text that parses, values in range); a
// file that cannot be read is set aside before anything is written over it.
//
// Thread safety: one thread, the owner's.
//
#include "audio/EngineTable.h"

#include <QString>

#include <memory>
#include <optional>

class QSettings;

class SettingsStore {
public:
    // What is written, in the stored form.
    struct Choice {
        bool freeMode = false;
        QString presetID;
        double freeA4 = 440.0;
        bool enabled = false;
        EngineKind engine = EngineKind::lowLatency;
        bool automatic = false;
        bool statusServer = true;
    };
    // What was read; absent where nothing acceptable was stored.
    struct Restored {
        std::optional<bool> freeMode;
        std::optional<QString> presetID; // only of a preset that exists
        std::optional<double> freeA4;    // only within the free A4 range
        std::optional<EngineKind> engine;
        bool automatic = false;
        std::optional<bool> statusServer;
        bool shouldResume = false; // "enabled" and "everStarted" both true
    };

    // `writable` false: the file is read but never written (a run with its own options).
    SettingsStore(const QString &path, bool writable);
    ~SettingsStore();

    Restored restore() const;
    void save(const Choice &choice);
    // After every successful start; never cleared.
    void markEverStarted();

    static QString defaultPath(); // $XDG_CONFIG_HOME/Velmora/Velmora.conf

private:
    void sync();

    std::unique_ptr<QSettings> settings_;
    bool writable_ = true;
};
