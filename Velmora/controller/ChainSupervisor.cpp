// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/ChainSupervisor.h"

#include "controller/TuningDetection.h"
#include "identity/AppIdentity.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QPointer>

#include <utility>

static const QLoggingCategory &lcSupervisor() { return AppIdentity::logCategory("Controller"); }

const QString ChainSupervisor::stallReason = QStringLiteral("Audio stand still");
const QString ChainSupervisor::chainErrorReason = QStringLiteral("Audiostrom im Fehlerzustand");
const QString ChainSupervisor::serverBackReason = QStringLiteral("PipeWire wieder erreichbar");
const QString ChainSupervisor::sessionBackReason = QStringLiteral("Sitzung wieder bereit");
const QString ChainSupervisor::deviceReason = QStringLiteral("Ausgabegerät gewechselt");

namespace {

// How long a call into the audio layer held the main thread (debug log of this category).
template <typename Call> void timed(const char *what, Call call)
{
    QElapsedTimer clock;
    clock.start();
    call();
    qCDebug(lcSupervisor, "Velmora: %s kehrte nach %.3f ms zurück", what, clock.nsecsElapsed() / 1e6);
}

} // namespace

ChainSupervisor::ChainSupervisor(std::shared_ptr<RetuneEngine> engine, std::shared_ptr<TimerSource> timers,
                                 TuningDetection &detection, QObject *parent)
    : QObject(parent), engine_(std::move(engine)), detection_(detection)
{
    if (!timers)
        timers = TimerSource::qt();
    pollTimer_ = timers->create([this] { pollTick(); });
    restartTimer_ = timers->create([this] { runRestart(); });

    // Applications that a run which died left routed to its sink play unprocessed until cleared.
    if (const int cleared = engine_->clearStaleRouting(); cleared > 0)
        qCInfo(lcSupervisor, "Velmora: %d verwaiste Umleitungen entfernt.", cleared);

    // Every event of the audio layer is taken on this thread, and not at all once we are gone.
    QPointer<ChainSupervisor> self(this);
    RetuneEngine::Events events;
    events.running = [this](const RunInfo &info) { onRunning(info); };
    events.failed = [this](const AudioError &error) { onFailed(error); };
    events.rebuildNeeded = [this](const std::string &reason) { scheduleRestart(QString::fromStdString(reason)); };
    events.serverConnection = [this](bool connected) { onServerConnection(connected); };
    events.waiting = [this](SessionWait why) { onSessionWait(why); };
    events.defaultOutputChanged = [this] { emit defaultOutputChanged(); };
    events.applicationsChanged = [this] { emit applicationsChanged(); };
    // Posted to the application object (it lives on this thread for as long as the process):
    // `self` is read only here, never on the thread that reports the event.
    engine_->setEvents(std::move(events), [self](std::function<void()> task) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, task = std::move(task)] {
                if (self)
                    task();
            },
            Qt::QueuedConnection);
    });
    refreshDeviceLabel();
}

ChainSupervisor::~ChainSupervisor()
{
    // The engine may outlive us (shared): its events must find nothing to call.
    engine_->setEvents({}, [](std::function<void()>) {});
}

template <typename T> void ChainSupervisor::change(T &member, const T &value, void (ChainSupervisor::*signal)())
{
    if (member == value)
        return;
    member = value;
    emit(this->*signal)();
}

void ChainSupervisor::setError(const QString &text, bool hint)
{
    change(errorMessage_, text, &ChainSupervisor::errorMessageChanged);
    change(needsPermissionHint_, hint, &ChainSupervisor::needsPermissionHintChanged);
}

void ChainSupervisor::setRebuilds(int count, const QString &reason)
{
    change(rebuilds_, count, &ChainSupervisor::rebuildsChanged);
    change(lastRebuildReason_, reason, &ChainSupervisor::lastRebuildReasonChanged);
}

// ---- what the chain runs with ----------------------------------------------------------

bool ChainSupervisor::chainExists() const
{
    return state_ != ChainState::stopped && engine_->isRunning();
}

void ChainSupervisor::setFactor(double factor)
{
    factor_ = factor;
    if (chainExists())
        engine_->setFactor(factor);
}

void ChainSupervisor::setEngine(EngineKind engine)
{
    kind_ = engine;
    if (chainExists())
        engine_->selectEngine(engine);
    const auto info = runInfo();
    change(latencySeconds_, info ? info->latencySeconds(engine) : 0.0, &ChainSupervisor::latencySecondsChanged);
}

std::optional<RunInfo> ChainSupervisor::runInfo() const
{
    return state_ == ChainState::running ? engine_->runInfo() : std::nullopt;
}

// ---- start and stop --------------------------------------------------------------------

void ChainSupervisor::start()
{
    wanted_ = true;
    if (shutDown_)
        return;
    setError(QString(), false);
    setState(ChainState::starting);
    timed("start()", [&] { engine_->start(factor_, kind_); });
}

void ChainSupervisor::stop()
{
    wanted_ = false;
    pollTimer_->stop();
    detection_.stop();
    detection_.clear();
    timed("stop()", [&] { engine_->stop(); });
    setState(ChainState::stopped);
    change(latencySeconds_, 0.0, &ChainSupervisor::latencySecondsChanged);
    change(sampleRate_, 0.0, &ChainSupervisor::sampleRateChanged);
    change(underruns_, quint64(0), &ChainSupervisor::underrunsChanged);
    setRebuilds(0, QString());
    refreshDeviceLabel();
}

void ChainSupervisor::shutdown()
{
    if (std::exchange(shutDown_, true))
        return;
    pollTimer_->stop();
    restartTimer_->stop();
    detection_.stop();
    timed("stop()", [&] { engine_->stop(); });
    setState(ChainState::stopped);
}

void ChainSupervisor::onRunning(const RunInfo &info)
{
    if (shutDown_ || !wanted_
        || (state_ != ChainState::starting && state_ != ChainState::rebuilding
            && state_ != ChainState::waitingForServer && state_ != ChainState::waitingForSession))
        return;
    const bool rebuilt = state_ != ChainState::starting;
    const QString reason = state_ == ChainState::waitingForServer    ? serverBackReason
                           : state_ == ChainState::waitingForSession ? sessionBackReason
                                                                     : buildReason_;
    resumeAttemptsLeft_ = 0;
    setServerLost(false);
    setError(QString(), false);
    setState(ChainState::running);
    change(outputDeviceName_, QString::fromStdString(info.outputDeviceName), &ChainSupervisor::outputDeviceNameChanged);
    change(sampleRate_, info.sampleRate, &ChainSupervisor::sampleRateChanged);
    // What was chosen while the chain was being built.
    engine_->setFactor(factor_);
    engine_->selectEngine(kind_);
    change(latencySeconds_, info.latencySeconds(kind_), &ChainSupervisor::latencySecondsChanged);
    detection_.start(engine_, info.sampleRate);
    startPolling();
    if (rebuilt)
        setRebuilds(rebuilds_ + 1, reason);
    emit started(rebuilt, reason);
}

void ChainSupervisor::onFailed(const AudioError &error)
{
    if (shutDown_ || !wanted_ || state_ == ChainState::stopped)
        return;
    const QString text = error.localizedDescription();
    if (serverLost_ || resumeAttemptsLeft_ > 0) {
        // The server is away or just came back: not the user's failure; keep trying.
        setState(ChainState::waitingForServer);
        if (!serverLost_)
            setError(text, false);
        startPolling();
        return;
    }
    giveUp(text);
}

void ChainSupervisor::giveUp(const QString &error)
{
    pollTimer_->stop();
    emit gaveUp(); // the owner switches off, which saves the setting and stops
    if (wanted_)
        stop();
    setError(error, true);
}

// ---- the sound server ------------------------------------------------------------------

void ChainSupervisor::onServerConnection(bool connected)
{
    if (shutDown_)
        return;
    if (!connected) {
        setServerLost(true);
        resumeAttemptsLeft_ = 0;
        setError(qtTrId("controller.error.serverLost"), false);
        if (wanted_) {
            pollTimer_->stop();
            restartTimer_->stop();
            detection_.stop();
            setState(ChainState::waitingForServer);
        }
        return;
    }
    setServerLost(false);
    if (!wanted_) {
        setError(QString(), false);
        refreshDeviceLabel();
        return;
    }
    // The engine rebuilds by itself; when it has given up, build anew.
    resumeAttemptsLeft_ = resumeAttempts;
    if (!engine_->isRunning())
        resumeAfterServerLoss();
}

// The engine closed its chain because the session went away (applications play unprocessed
// meanwhile) and comes back with `running` by itself.
void ChainSupervisor::onSessionWait(SessionWait why)
{
    if (shutDown_ || !wanted_ || state_ == ChainState::stopped || serverLost_)
        return;
    pollTimer_->stop();
    restartTimer_->stop();
    detection_.stop();
    setError(qtTrId(why == SessionWait::sessionManager ? "controller.error.noSessionManager"
                                                       : "controller.error.noOutputDevice"),
             false);
    setState(ChainState::waitingForSession);
}

void ChainSupervisor::resumeAfterServerLoss()
{
    --resumeAttemptsLeft_;
    pollTimer_->stop();
    timed("start()", [&] { engine_->start(factor_, kind_); });
}

// ---- poll and restart ------------------------------------------------------------------

void ChainSupervisor::startPolling()
{
    lastFrameCount_ = 0;
    stalledTicks_ = 0;
    pollTimer_->start(pollMs, true);
}

void ChainSupervisor::pollTick()
{
    if (shutDown_)
        return;
    if (state_ == ChainState::waitingForServer) {
        if (!serverLost_ && resumeAttemptsLeft_ > 0 && !engine_->isRunning())
            resumeAfterServerLoss();
        else if (!serverLost_ && !engine_->isRunning())
            giveUp(errorMessage_); // out of attempts: the last build's error stays
        return;
    }
    if (state_ != ChainState::running || !engine_->isRunning())
        return;
    const EngineStats stats = engine_->stats();
    change(underruns_, quint64(stats.underruns), &ChainSupervisor::underrunsChanged);
    if (stats.health == ChainHealth::failed) {
        scheduleRestart(chainErrorReason);
        return;
    }
    if (stats.health == ChainHealth::bypassed) { // the applications already play unprocessed
        setError(qtTrId("controller.error.bypassed"), false);
        scheduleRestart(stallReason);
        return;
    }
    if (stats.health == ChainHealth::serverLost)
        return; // the connection event follows
    checkForStall(stats);
}

void ChainSupervisor::checkForStall(const EngineStats &stats)
{
    // A paused chain (nothing plays) stands still on purpose.
    if (stats.frames != lastFrameCount_ || stats.idle) {
        stalledTicks_ = 0;
        lastFrameCount_ = stats.frames;
        return;
    }
    if (++stalledTicks_ >= stallPolls) {
        stalledTicks_ = 0;
        scheduleRestart(stallReason);
    }
}

void ChainSupervisor::scheduleRestart(const QString &reason)
{
    // The engine's own request for the device change that switchDevice() already rebuilds for.
    if (shutDown_ || (reason == deviceReason && std::exchange(deviceSwitched_, false)))
        return;
    pendingRestartReason_ = reason;
    restartTimer_->start(restartDebounceMs, false);
}

void ChainSupervisor::switchDevice(double factor, EngineKind engine)
{
    factor_ = factor;
    kind_ = engine; // the latency shown follows with the running event
    if (shutDown_ || !wanted_)
        return;
    pendingRestartReason_ = deviceReason;
    forDevice_ = deviceSwitched_ = true;
    restartTimer_->stop();
    runRestart();
}

void ChainSupervisor::runRestart()
{
    if (shutDown_)
        return;
    refreshDeviceLabel();
    if (!wanted_)
        return;
    switch (state_) {
    case ChainState::starting:
    case ChainState::rebuilding:
        restartTimer_->start(restartDebounceMs, false); // once the build under way is done
        return;
    case ChainState::running:
        break;
    default:
        return; // stopped, or the engine resumes by itself when the server is back
    }
    pollTimer_->stop();
    detection_.stop(); // the chain's analysis buffer goes away with the rebuild
    buildReason_ = pendingRestartReason_;
    setError(QString(), false);
    setState(ChainState::rebuilding);
    if (std::exchange(forDevice_, false))
        timed("rebuildForDevice()", [&] { engine_->rebuildForDevice(factor_, kind_); });
    else
        timed("rebuild()", [&] { engine_->rebuild(); });
}

// ---- labels ----------------------------------------------------------------------------

void ChainSupervisor::refreshDeviceLabel()
{
    const auto name = engine_->defaultOutputName();
    if (!name) {
        change(outputDeviceName_, qtTrId("controller.device.none"), &ChainSupervisor::outputDeviceNameChanged);
        return;
    }
    change(outputDeviceName_, QString::fromStdString(*name), &ChainSupervisor::outputDeviceNameChanged);
    if (sampleRate_ == 0.0)
        change(sampleRate_, engine_->defaultOutputRate(), &ChainSupervisor::sampleRateChanged);
}

QString ChainSupervisor::reasonText(const QString &reason)
{
    static const std::pair<const char *, const char *> known[] = {
        {"Audio stand still", "controller.reason.stalled"},
        {"Ausgabegerät gewechselt", "controller.reason.deviceChanged"},
        {"Samplerate geändert", "controller.reason.rateChanged"},
        {"PipeWire wieder erreichbar", "controller.reason.serverBack"},
        {"Sitzung wieder bereit", "controller.reason.sessionBack"},
        {"Audiostrom im Fehlerzustand", "controller.reason.streamFailed"},
    };
    for (const auto &[text, id] : known)
        if (reason == QString::fromUtf8(text))
            return qtTrId(id);
    return reason;
}
