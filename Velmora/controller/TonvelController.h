// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TonvelController: the one object that holds Velmora's state and turns the user's choices
// into a running retuning chain. Shared by the tray program (its panel binds to the
// properties) and `velmora-cli live` (prints on the change signals).
//
// A façade over its parts: what the user chose is kept by SettingsStore and applied at once;
// ChainSupervisor runs and supervises the chain and publishes what it reports; TuningDetection
// holds what the detection found and the automatic correction; ConsentModel the consent list.
// The programs wire the status service to it at start-up (StatusServerLink).
//
// Threads
//   Main thread only. Events from other threads reach the parts as queued calls on this
//   object's thread and are dropped once it is gone.
//
// Every assignable property compares first (doubles numerically) and does nothing for an
// equal value. Each property has its own change signal; `changed()` follows any of them once
// per turn of the event loop, for observers that redraw everything (tray icon, status document).
//
#include "audio/RetuneEngine.h"
#include "controller/ChainSupervisor.h"
#include "controller/LaunchAtLogin.h"
#include "controller/SettingsStore.h"
#include "controller/TimerSource.h"

#include <TonvelCore/OriginConsent.h>
#include <TonvelCore/StatusPayload.h>
#include <TonvelCore/TuningAnalyzer.h>

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <optional>

class ConsentModel;
class TuningDetection;

class TonvelController : public QObject {
    Q_OBJECT

    // What the user chooses.
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QString selectedPresetID READ selectedPresetID WRITE setSelectedPresetID NOTIFY
                   selectedPresetIDChanged)
    Q_PROPERTY(double freeA4 READ freeA4 WRITE setFreeA4 NOTIFY freeA4Changed)
    Q_PROPERTY(EngineTable::EngineKind engine READ engine WRITE setEngine NOTIFY engineChanged)
    Q_PROPERTY(bool automatic READ automatic WRITE setAutomatic NOTIFY automaticChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    // Desktop autostart needs no approval; kept so the panel can bind the same name everywhere.
    Q_PROPERTY(bool launchAtLoginNeedsApproval READ launchAtLoginNeedsApproval CONSTANT)
    Q_PROPERTY(bool statusServerEnabled READ statusServerEnabled WRITE setStatusServerEnabled NOTIFY
                   statusServerEnabledChanged)
    // Why the switched-on status service does not serve (e.g. its port is taken; it retries by
    // itself), in the user's language; empty while it serves or is off.
    Q_PROPERTY(QString statusServerError READ statusServerError NOTIFY statusServerErrorChanged)

    // Scope: applications (by key) that are not retuned, whether calls are, and whether the
    // tuning (mode, preset, free A4, engine, automatic, on/off) is kept per output device.
    Q_PROPERTY(QStringList excludedApps READ excludedApps WRITE setExcludedApps NOTIFY scopeChanged)
    Q_PROPERTY(bool retuneCalls READ retuneCalls WRITE setRetuneCalls NOTIFY scopeChanged)
    Q_PROPERTY(bool rememberPerDevice READ rememberPerDevice WRITE setRememberPerDevice NOTIFY scopeChanged)
    // Applications seen this run, first seen first, each a map {key, name, icon: strings,
    // playing, retune: bools}. Names are the applications' own words: show them as plain text.
    Q_PROPERTY(QVariantList applications READ applications NOTIFY applicationsChanged)
    // The output device the shown tuning belongs to; empty unless it is kept per device.
    Q_PROPERTY(QString settingsDevice READ settingsDevice NOTIFY settingsDeviceChanged)

    // Consent: the origin waiting for an answer ("" when none) and the stored decisions, each a
    // map {origin: string, decision: "allowed"|"denied", decidedAt: date}, sorted by origin.
    Q_PROPERTY(QString pendingConsentOrigin READ pendingConsentOrigin NOTIFY pendingConsentOriginChanged)
    Q_PROPERTY(QVariantList consentEntries READ consentEntries NOTIFY consentEntriesChanged)

    // What the chain reports. Empty texts stand for "absent".
    Q_PROPERTY(QString outputDeviceName READ outputDeviceName NOTIFY outputDeviceNameChanged)
    Q_PROPERTY(double sampleRate READ sampleRate NOTIFY sampleRateChanged)
    Q_PROPERTY(double latencySeconds READ latencySeconds NOTIFY latencySecondsChanged)
    Q_PROPERTY(quint64 underruns READ underruns NOTIFY underrunsChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool needsPermissionHint READ needsPermissionHint NOTIFY needsPermissionHintChanged)
    Q_PROPERTY(int rebuilds READ rebuilds NOTIFY rebuildsChanged)
    Q_PROPERTY(QString lastRebuildReason READ lastRebuildReason NOTIFY lastRebuildReasonChanged)
    Q_PROPERTY(ChainSupervisor::ChainState chainState READ chainState NOTIFY chainStateChanged)

    // What the detection found.
    Q_PROPERTY(double detectedA4 READ detectedA4 NOTIFY detectedA4Changed)
    Q_PROPERTY(double detectionConfidence READ detectionConfidence NOTIFY detectionConfidenceChanged)
    Q_PROPERTY(bool detectionIsConfident READ detectionIsConfident NOTIFY detectionIsConfidentChanged)
    Q_PROPERTY(double appliedCorrectionCents READ appliedCorrectionCents NOTIFY appliedCorrectionCentsChanged)
    // The media player whose tracks the detection follows and its title; empty before its first
    // track change.
    Q_PROPERTY(QString followedPlayer READ followedPlayer NOTIFY followedTrackChanged)
    Q_PROPERTY(QString followedTitle READ followedTitle NOTIFY followedTrackChanged)

    // Derived display values.
    Q_PROPERTY(double staticFactor READ staticFactor NOTIFY tuningChanged)
    Q_PROPERTY(QString menuBarLabel READ menuBarLabel NOTIFY tuningChanged)
    Q_PROPERTY(QString latencyText READ latencyText NOTIFY latencySecondsChanged)

public:
    enum class Mode { preset, freeA4 };
    Q_ENUM(Mode)
    using ChainState = ChainSupervisor::ChainState;

    struct Options {
        std::shared_ptr<RetuneEngine> engine;   // required
        std::shared_ptr<OriginConsent> consent; // required
        QString settingsPath;                   // empty: SettingsStore::defaultPath()
        QString autostartPath;                  // empty: defaultAutostartPath()
        QString executablePath;              // what the autostart entry runs; empty: LaunchAtLogin::defaultProgram()
        std::shared_ptr<TimerSource> timers; // null: Qt timers
        bool analysis = true;                // run the tuning detection while the chain runs
        // False: the saved settings are read but nothing is written (a run with its own options).
        bool saveSettings = true;
    };

    // Restores the settings (never starts audio: see takeShouldResume()), watches the consent
    // file and reads the current output device.
    explicit TonvelController(Options options, QObject *parent = nullptr);
    ~TonvelController() override;

    bool isEnabled() const { return isEnabled_; }
    Mode mode() const { return mode_; }
    QString selectedPresetID() const { return selectedPresetID_; }
    double freeA4() const { return freeA4_; }
    EngineKind engine() const { return engine_; }
    bool automatic() const { return automatic_; }
    bool launchAtLogin() const { return launchAtLogin_; }
    bool launchAtLoginNeedsApproval() const { return false; }
    bool statusServerEnabled() const { return statusServerEnabled_; }
    QString statusServerError() const { return statusServerError_; }
    QString pendingConsentOrigin() const;
    QVariantList consentEntries() const;
    QList<OriginConsent::Entry> consentEntryList() const;
    QString outputDeviceName() const { return chain_->outputDeviceName(); }
    double sampleRate() const { return chain_->sampleRate(); }
    double latencySeconds() const { return chain_->latencySeconds(); }
    quint64 underruns() const { return chain_->underruns(); }
    QString errorMessage() const { return chain_->errorMessage(); }
    bool needsPermissionHint() const { return chain_->needsPermissionHint(); }
    int rebuilds() const { return chain_->rebuilds(); }
    QString lastRebuildReason() const { return chain_->lastRebuildReason(); }
    ChainState chainState() const { return chain_->state(); }
    double detectedA4() const;
    double detectionConfidence() const;
    bool detectionIsConfident() const;
    double appliedCorrectionCents() const;
    QString followedPlayer() const;
    QString followedTitle() const;

    void setEnabled(bool on);
    void setMode(Mode mode);
    void setSelectedPresetID(const QString &id);
    void setFreeA4(double hz);
    void setEngine(EngineKind engine);
    void setAutomatic(bool on);
    void setLaunchAtLogin(bool on);
    void setStatusServerEnabled(bool on);

    QStringList excludedApps() const { return excludedApps_; }
    bool retuneCalls() const { return retuneCalls_; }
    bool rememberPerDevice() const { return rememberPerDevice_; }
    QVariantList applications() const;
    QString settingsDevice() const { return rememberPerDevice_ ? settingsDevice_ : QString(); }
    void setExcludedApps(const QStringList &keys);
    void setRetuneCalls(bool on);
    void setRememberPerDevice(bool on);
    // The panel's switch of one application (by the key in `applications`).
    Q_INVOKABLE void setApplicationRetuned(const QString &key, bool retune);
    // Applications left out for this run only, on top of the saved ones (never saved).
    void setRunExcludedApps(const QStringList &keys);
    ChainScope scope() const;

    // The factor of the chosen tuning, and with automatic correction on, the corrected one.
    double staticFactor() const;
    double effectiveFactor() const;
    // The status document for the status service.
    StatusPayload statusPayload() const;
    // "432", "440" for off, the free A4 without decimals.
    QString menuBarLabel() const;
    // "21.3 ms", or an em dash when there is no latency.
    QString latencyText() const;
    // The running chain's details (channels included), nothing while none runs.
    std::optional<RunInfo> runInfo() const { return chain_->runInfo(); }

    // The analysis worker's target: shows the estimate and, with automatic correction on,
    // moves the correction. Ignored while no chain runs (an estimate posted before a stop).
    void consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds);

    // The localised name of a mode ("mode.preset", "mode.freeA4").
    Q_INVOKABLE static QString modeTitle(Mode mode);
    // A rebuild reason as the user reads it; the reason itself stays fixed (scripts read it).
    Q_INVOKABLE static QString reasonText(const QString &reason);

    static QString defaultAutostartPath() { return LaunchAtLogin::defaultEntryPath(); }

public slots:
    // The status server found an origin nobody decided on: ask once per origin.
    void askConsent(const QString &origin);
    // The user's answer from the panel: stored, the question closed, the list refreshed.
    void resolveConsent(const QString &origin, bool allow);
    void revokeConsent(const QString &origin);
    // Shows the default output device ("Kein Ausgabegeraet" when there is none) and, while no
    // chain runs, its rate.
    void refreshDeviceLabel() { chain_->refreshDeviceLabel(); }
    // What the status service reports about itself (set by the program's wiring).
    void setStatusServerError(const QString &text);
    // At exit: stops the chain for good; nothing builds a chain again afterwards.
    void shutdown();
    // Whether retuning was on and had run successfully when the settings were last written.
    // Read once by the program at start-up, which then switches on; cleared by reading.
    bool takeShouldResume();

signals:
    void isEnabledChanged(bool isEnabled);
    void modeChanged();
    void selectedPresetIDChanged();
    void freeA4Changed();
    void engineChanged();
    void automaticChanged();
    void launchAtLoginChanged();
    // After the change is saved; the program starts or stops the status service on it.
    void statusServerEnabledChanged(bool enabled);
    void statusServerErrorChanged();
    void pendingConsentOriginChanged();
    void consentEntriesChanged();
    void outputDeviceNameChanged();
    void sampleRateChanged();
    void latencySecondsChanged();
    void underrunsChanged();
    void errorMessageChanged();
    void needsPermissionHintChanged();
    void rebuildsChanged();
    void lastRebuildReasonChanged();
    void chainStateChanged();
    void detectedA4Changed();
    void detectionConfidenceChanged();
    void detectionIsConfidentChanged();
    void appliedCorrectionCentsChanged();
    void followedTrackChanged();
    void tuningChanged(); // mode, preset or free A4: staticFactor and menuBarLabel
    void scopeChanged();
    void applicationsChanged();
    void settingsDeviceChanged();
    // A new origin waits for the user's decision (the tray program opens the panel).
    void consentAsked(const QString &origin);
    // A start or rebuild finished (`rebuilt` false for a start by the user).
    void chainStarted(bool rebuilt, const QString &reason);
    // Any published value changed; emitted once per turn of the event loop.
    void changed();

private:
    template <typename T> bool change(T &member, const T &value, void (TonvelController::*signal)());
    template <typename Part, typename... Args>
    void forward(Part *part, void (Part::*from)(Args...), void (TonvelController::*to)(Args...));
    void restore();
    void persist();
    void tuningWasChanged();
    void applyFactor();
    void publish();
    // Scope and per-device tuning (TonvelControllerScope.cpp).
    void restoreScope(const SettingsStore::Restored &r);
    void applyScope();
    SettingsStore::DeviceTuning currentTuning() const;
    void applyTuning(const SettingsStore::DeviceTuning &t);
    void noteDevice();
    void followDevice();

    std::shared_ptr<RetuneEngine> audio_;
    std::unique_ptr<SettingsStore> settings_;
    std::unique_ptr<TuningDetection> detection_;
    std::unique_ptr<ChainSupervisor> chain_;
    std::unique_ptr<ConsentModel> consent_;
    QString autostartPath_, executablePath_;
    bool isRestoring_ = false;
    bool holdChain_ = false; // choices reach the running chain with the device switch only
    bool shouldResume_ = false;
    bool changeQueued_ = false;

    bool isEnabled_ = false;
    Mode mode_ = Mode::preset;
    QString selectedPresetID_ = QStringLiteral("432");
    double freeA4_ = 440.0;
    EngineKind engine_ = EngineKind::lowLatency;
    bool automatic_ = false;
    bool launchAtLogin_ = false;
    bool statusServerEnabled_ = true;
    QString statusServerError_;
    QStringList excludedApps_, runExcludedApps_;
    bool retuneCalls_ = false;
    bool rememberPerDevice_ = false;
    SettingsStore::DeviceTunings devices_;
    QString deviceKey_, settingsDevice_; // the default output now: its key and its name
};
