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

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSettings;

class SettingsStore {
public:
    // The tuning kept for one output device (by its node.name, else its description).
    struct DeviceTuning {
        bool freeMode = false;
        QString presetID = QStringLiteral("432");
        double freeA4 = 440.0;
        EngineKind engine = EngineKind::lowLatency;
        bool automatic = false;
        bool enabled = false;
        friend bool operator==(const DeviceTuning &, const DeviceTuning &) = default;
    };
    using DeviceTunings = QMap<QString, DeviceTuning>;

    // What is written, in the stored form.
    struct Choice {
        bool freeMode = false;
        QString presetID;
        double freeA4 = 440.0;
        bool enabled = false;
        EngineKind engine = EngineKind::lowLatency;
        bool automatic = false;
        bool statusServer = true;
        QStringList excludedApps{}; // application keys that are not retuned
        bool retuneCalls = false;
        bool perDevice = false;
        DeviceTunings devices{};
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
        bool everStarted = false;
        QStringList excludedApps{}; // without empty or duplicate entries
        bool retuneCalls = false;
        bool perDevice = false;
        DeviceTunings devices{}; // the entries that are whole and valid
    };

    // `writable` false: the file is read but never written (a run with its own options).
    SettingsStore(const QString &path, bool writable);
    ~SettingsStore();

    Restored restore() const;
    void save(const Choice &choice);
    // After every successful start; never cleared.
    void markEverStarted();

    static QString defaultPath(); // $XDG_CONFIG_HOME/Velmora/Velmora.conf
    // What saving `r` back would write (fallbacks where nothing acceptable was read).
    static Choice choiceFrom(const Restored &r);

private:
    void sync();

    std::unique_ptr<QSettings> settings_;
    bool writable_ = true;
};
