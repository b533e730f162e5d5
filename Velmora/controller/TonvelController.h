// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TonvelController: the one object that holds Velmora's state and turns the user's choices
// into a running retuning chain. Shared by the tray program (its panel binds to the
// properties) and `velmora-cli live` (prints on the change signals).
//
// Summary
//   What the user chose (on/off, preset or free A4, engine, automatic correction, launch at
//   login, status service) is kept in flat settings (INI, $XDG_CONFIG_HOME/Velmora/Velmora.conf)
//   and applied at once; what the running chain reports (device, rate, latency, underruns,
//   errors, rebuilds) and what the detection found is published. Supervision: a poll once a
//   second, a rebuild after three polls without new frames (an idle chain is alive), restart
//   requests debounced by 0.4 s carrying the last reason. Start and rebuild never block: the
//   audio layer builds elsewhere and reports `running` or `failed`; until then the state shows
//   the transition, and changes made meanwhile reach the new chain.
//
// Threads
//   Main thread only. The audio layer's events, the analysis worker's estimates, the status
//   server's consent requests and changes of the consent file arrive as queued calls on this
//   object's thread and are dropped once it is gone.
//
// Every assignable property compares first (doubles numerically) and does nothing for an
// equal value. Each property has its own change signal; `changed()` follows any of them once
// per turn of the event loop, for observers that redraw everything (tray icon, status document).
//
#include "audio/RetuneEngine.h"
#include "controller/TimerSource.h"

#include <TonvelCore/AutoTuningTracker.h>
#include <TonvelCore/OriginConsent.h>
#include <TonvelCore/StatusPayload.h>
#include <TonvelCore/TuningAnalyzer.h>

#include <QObject>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <optional>

class QFileSystemWatcher;
class QSettings;
class StatusServer;
class TuningAnalysisWorker;

class TonvelController : public QObject {
    Q_OBJECT

    // What the user chooses.
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY isEnabledChanged)
    Q_PROPERTY(Mode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(QString selectedPresetID READ selectedPresetID WRITE setSelectedPresetID NOTIFY
                   selectedPresetIDChanged)
    Q_PROPERTY(double freeA4 READ freeA4 WRITE setFreeA4 NOTIFY freeA4Changed)
    Q_PROPERTY(Engine engine READ engine WRITE setEngine NOTIFY engineChanged)
    Q_PROPERTY(bool automatic READ automatic WRITE setAutomatic NOTIFY automaticChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    // Desktop autostart needs no approval; kept so the panel can bind the same name everywhere.
    Q_PROPERTY(bool launchAtLoginNeedsApproval READ launchAtLoginNeedsApproval CONSTANT)
    Q_PROPERTY(bool statusServerEnabled READ statusServerEnabled WRITE setStatusServerEnabled NOTIFY
                   statusServerEnabledChanged)

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
    Q_PROPERTY(ChainState chainState READ chainState NOTIFY chainStateChanged)

    // What the detection found.
    Q_PROPERTY(double detectedA4 READ detectedA4 NOTIFY detectedA4Changed)
    Q_PROPERTY(double detectionConfidence READ detectionConfidence NOTIFY detectionConfidenceChanged)
    Q_PROPERTY(bool detectionIsConfident READ detectionIsConfident NOTIFY detectionIsConfidentChanged)
    Q_PROPERTY(double appliedCorrectionCents READ appliedCorrectionCents NOTIFY appliedCorrectionCentsChanged)

    // Derived display values.
    Q_PROPERTY(double staticFactor READ staticFactor NOTIFY tuningChanged)
    Q_PROPERTY(QString menuBarLabel READ menuBarLabel NOTIFY tuningChanged)
    Q_PROPERTY(QString latencyText READ latencyText NOTIFY latencySecondsChanged)

public:
    enum class Mode { preset, freeA4 };
    Q_ENUM(Mode)
    // The persisted raw values: 1 is highQuality and 2 balanced (the same as EngineKind).
    enum class Engine { lowLatency = 0, highQuality = 1, balanced = 2 };
    Q_ENUM(Engine)
    // Where the chain is; `starting`/`rebuilding` last until the audio layer reports back.
    enum class ChainState { stopped, starting, running, rebuilding, waitingForServer, waitingForSession };
    Q_ENUM(ChainState)

    struct Options {
        std::shared_ptr<RetuneEngine> engine;   // required
        std::shared_ptr<OriginConsent> consent; // required
        QString settingsPath;                   // empty: defaultSettingsPath()
        QString autostartPath;                  // empty: defaultAutostartPath()
        QString executablePath;              // what the autostart entry runs; empty: defaultExecutablePath()
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
    Engine engine() const { return engine_; }
    bool automatic() const { return automatic_; }
    bool launchAtLogin() const { return launchAtLogin_; }
    bool launchAtLoginNeedsApproval() const { return false; }
    bool statusServerEnabled() const { return statusServerEnabled_; }
    QString pendingConsentOrigin() const { return pendingConsentOrigin_; }
    QVariantList consentEntries() const;
    QList<OriginConsent::Entry> consentEntryList() const { return consentEntries_; }
    QString outputDeviceName() const { return outputDeviceName_; }
    double sampleRate() const { return sampleRate_; }
    double latencySeconds() const { return latencySeconds_; }
    quint64 underruns() const { return underruns_; }
    QString errorMessage() const { return errorMessage_; }
    bool needsPermissionHint() const { return needsPermissionHint_; }
    int rebuilds() const { return rebuilds_; }
    QString lastRebuildReason() const { return lastRebuildReason_; }
    ChainState chainState() const { return chainState_; }
    double detectedA4() const { return detectedA4_; }
    double detectionConfidence() const { return detectionConfidence_; }
    bool detectionIsConfident() const { return detectionIsConfident_; }
    double appliedCorrectionCents() const { return appliedCorrectionCents_; }

    void setEnabled(bool on);
    void setMode(Mode mode);
    void setSelectedPresetID(const QString &id);
    void setFreeA4(double hz);
    void setEngine(Engine engine);
    void setAutomatic(bool on);
    void setLaunchAtLogin(bool on);
    void setStatusServerEnabled(bool on);

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
    std::optional<RunInfo> runInfo() const;
    static EngineKind engineKind(Engine engine) { return static_cast<EngineKind>(engine); }
    static Engine engineOf(EngineKind kind) { return static_cast<Engine>(kind); }

    // Serves statusPayload() through `server` from now on (updated after every change),
    // starts and stops it with statusServerEnabled, and takes its consent questions to
    // askConsent(). `server` must outlive this object or be detached with nullptr first.
    void attachStatusServer(StatusServer *server);

    // The analysis worker's target: shows the estimate and, with automatic correction on,
    // moves the correction. Ignored while no chain runs (an estimate posted before a stop).
    void consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds);

    // The localised name of a mode ("mode.preset", "mode.freeA4").
    Q_INVOKABLE static QString modeTitle(Mode mode);
    // A rebuild reason as the user reads it; the reason itself stays fixed (scripts read it).
    Q_INVOKABLE static QString reasonText(const QString &reason);

    static QString defaultSettingsPath();  // $XDG_CONFIG_HOME/Velmora/Velmora.conf
    static QString defaultAutostartPath(); // $XDG_CONFIG_HOME/autostart/org.velmora.Velmora.desktop
    // The installed `velmora` beside or on the PATH, else the running program.
    static QString defaultExecutablePath();

public slots:
    // The status server found an origin nobody decided on: ask once per origin.
    void askConsent(const QString &origin);
    // The user's answer from the panel: stored, the question closed, the list refreshed.
    void resolveConsent(const QString &origin, bool allow);
    void revokeConsent(const QString &origin);
    // Shows the default output device ("Kein Ausgabegeraet" when there is none) and, while no
    // chain runs, its rate.
    void refreshDeviceLabel();
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
    void tuningChanged(); // mode, preset or free A4: staticFactor and menuBarLabel
    // A new origin waits for the user's decision (the tray program opens the panel).
    void consentAsked(const QString &origin);
    // A start or rebuild finished (`rebuilt` false for a start by the user).
    void chainStarted(bool rebuilt, const QString &reason);
    // Any published value changed; emitted once per turn of the event loop.
    void changed();

private:
    template <typename T> bool change(T &member, const T &value, void (TonvelController::*signal)());
    void openSettings(const QString &path);
    void restore();
    void persist();
    void syncSettings();
    void tuningWasChanged();
    bool chainExists() const;
    void applyFactor();
    void applyEngine();
    void applyAutomatic();
    void startEngine();
    void stopEngine();
    void onRunning(const RunInfo &info);
    void onFailed(const AudioError &error);
    void giveUp(const QString &error);
    void onServerConnection(bool connected);
    void onSessionWait(SessionWait why);
    void resumeAfterServerLoss();
    void startPolling();
    void pollTick();
    void checkForStall(const EngineStats &stats);
    void scheduleRestart(const QString &reason);
    void runRestart();
    void startAnalysis(double sampleRate);
    void stopAnalysis();
    void resetDetection();
    void setDetection(double a4, double confidence);
    void setChainState(ChainState state);
    void setOutputDeviceName(const QString &name);
    void setSampleRate(double rate);
    void setLatency(double seconds);
    void setUnderruns(quint64 count);
    void setError(const QString &text, bool hint);
    void setRebuilds(int count, const QString &reason);
    void publish();
    void refreshConsent();
    void watchConsentFile();

    struct Private;
    std::unique_ptr<Private> d_;

    bool isEnabled_ = false;
    Mode mode_ = Mode::preset;
    QString selectedPresetID_ = QStringLiteral("432");
    double freeA4_ = 440.0;
    Engine engine_ = Engine::lowLatency;
    bool automatic_ = false;
    bool launchAtLogin_ = false;
    bool statusServerEnabled_ = true;
    QString pendingConsentOrigin_;
    QList<OriginConsent::Entry> consentEntries_;
    QString outputDeviceName_ = QStringLiteral("\u2014");
    double sampleRate_ = 0.0;
    double latencySeconds_ = 0.0;
    quint64 underruns_ = 0;
    QString errorMessage_;
    bool needsPermissionHint_ = false;
    int rebuilds_ = 0;
    QString lastRebuildReason_;
    ChainState chainState_ = ChainState::stopped;
    double detectedA4_ = 440.0;
    double detectionConfidence_ = 0.0;
    bool detectionIsConfident_ = false;
    double appliedCorrectionCents_ = 0.0;
};
