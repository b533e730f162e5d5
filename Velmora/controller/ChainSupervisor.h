// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ChainSupervisor: turns the user's switch into a running or stopped chain and keeps it alive
// without the user's help. A poll once a second reads the chain's counters; three polls without
// new frames (an idle chain is alive), a failed stream, or a device or rate change request a
// rebuild, debounced by 0.4 s and carrying the last reason. A lost sound server is waited for;
// once it is back the chain is built again, a few times before it counts as a failure. A start
// that fails switches off (gaveUp) with the error and the permission hint.
//
// Start and rebuild never block: the audio layer builds elsewhere and reports `running` or
// `failed`; until then the state shows the transition, and the factor and engine chosen
// meanwhile reach the new chain.
//
// Thread safety: the owner's thread only. The audio layer's events arrive as queued calls on
// the application's thread and are dropped once this object is gone.
//
#include "audio/RetuneEngine.h"
#include "controller/TimerSource.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class TuningDetection;

class ChainSupervisor : public QObject {
    Q_OBJECT
public:
    // Where the chain is; `starting`/`rebuilding` last until the audio layer reports back.
    enum class ChainState { stopped, starting, running, rebuilding, waitingForServer, waitingForSession };
    Q_ENUM(ChainState)

    // Restart reasons (fixed: scripts read them).
    static const QString stallReason, chainErrorReason, serverBackReason, sessionBackReason, deviceReason;
    static constexpr int pollMs = 1000, stallPolls = 3, restartDebounceMs = 400;
    // After the sound server came back the session manager may need a moment before a chain can
    // be built; a failed resume is tried again on the next polls before it counts as a failure.
    static constexpr int resumeAttempts = 5;

    ChainSupervisor(std::shared_ptr<RetuneEngine> engine, std::shared_ptr<TimerSource> timers,
                    TuningDetection &detection, QObject *parent = nullptr);
    ~ChainSupervisor() override;

    // What a chain runs with; handed to a running chain at once, to the next one otherwise.
    void setFactor(double factor);
    void setEngine(EngineKind engine);

    // The user's switch. start() while stopped begins a build; stop() tears down and resets
    // the chain's published values.
    void start();
    void stop();
    // At exit: stops for good; nothing builds a chain again afterwards.
    void shutdown();
    // The default output changed to a device with its own tuning: rebuilds onto it now,
    // without the debounce, playing `factor` and `engine` there from the first block
    // (RetuneEngine::rebuildForDevice); the old device keeps its tuning until then.
    void switchDevice(double factor, EngineKind engine);
    // Shows the default output device ("Kein Ausgabegeraet" when there is none) and, while no
    // chain runs, its rate.
    void refreshDeviceLabel();

    ChainState state() const { return state_; }
    // Whether the sound server is away (nothing is retuned, whatever the switch says).
    bool serverLost() const { return serverLost_; }
    QString outputDeviceName() const { return outputDeviceName_; }
    double sampleRate() const { return sampleRate_; }
    double latencySeconds() const { return latencySeconds_; }
    quint64 underruns() const { return underruns_; }
    QString errorMessage() const { return errorMessage_; }
    bool needsPermissionHint() const { return needsPermissionHint_; }
    int rebuilds() const { return rebuilds_; }
    QString lastRebuildReason() const { return lastRebuildReason_; }
    // The running chain's details, nothing while none runs.
    std::optional<RunInfo> runInfo() const;

    // A restart reason as the user reads it.
    static QString reasonText(const QString &reason);

signals:
    void stateChanged();
    void outputDeviceNameChanged();
    void sampleRateChanged();
    void latencySecondsChanged();
    void underrunsChanged();
    void errorMessageChanged();
    void needsPermissionHintChanged();
    void rebuildsChanged();
    void lastRebuildReasonChanged();
    void serverLostChanged();
    // A start or rebuild finished (`rebuilt` false for a start by the user).
    void started(bool rebuilt, const QString &reason);
    // The chain cannot be had: the owner switches off; the error is set right after.
    void gaveUp();
    // The default output device changed (whether or not a chain runs).
    void defaultOutputChanged();
    void applicationsChanged();

private:
    bool chainExists() const;
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
    template <typename T> void change(T &member, const T &value, void (ChainSupervisor::*signal)());
    void setState(ChainState state) { change(state_, state, &ChainSupervisor::stateChanged); }
    void setServerLost(bool lost) { change(serverLost_, lost, &ChainSupervisor::serverLostChanged); }
    void setError(const QString &text, bool hint);
    void setRebuilds(int count, const QString &reason);

    std::shared_ptr<RetuneEngine> engine_;
    TuningDetection &detection_;
    std::unique_ptr<TimerSource::Timer> pollTimer_;
    std::unique_ptr<TimerSource::Timer> restartTimer_;
    double factor_ = 1.0;
    EngineKind kind_ = EngineKind::lowLatency;
    bool wanted_ = false; // the user's switch
    bool shutDown_ = false;
    bool serverLost_ = false;
    int resumeAttemptsLeft_ = 0;
    QString pendingRestartReason_;
    QString buildReason_; // of the rebuild under way
    bool forDevice_ = false;      // the pending restart is a rebuildForDevice
    bool deviceSwitched_ = false; // the engine's "device changed" request that follows is done
    std::uint64_t lastFrameCount_ = 0;
    int stalledTicks_ = 0;

    ChainState state_ = ChainState::stopped;
    QString outputDeviceName_ = QStringLiteral("\u2014");
    double sampleRate_ = 0.0;
    double latencySeconds_ = 0.0;
    quint64 underruns_ = 0;
    QString errorMessage_;
    bool needsPermissionHint_ = false;
    int rebuilds_ = 0;
    QString lastRebuildReason_;
};
