// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/TonvelController.h"

#include "analysis/TuningAnalysisWorker.h"
#include "identity/AppIdentity.h"
#include "controller/LaunchAtLogin.h"
#include "status/StatusServer.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLoggingCategory>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <utility>

static const QLoggingCategory &lcController() { return AppIdentity::logCategory("Controller"); }

namespace {

constexpr int kPollMs = 1000;
constexpr int kStallPolls = 3;
constexpr int kRestartDebounceMs = 400;
// After the sound server came back the session manager may need a moment before a chain can
// be built; a failed resume is tried again on the next polls before it counts as a failure.
constexpr int kResumeAttempts = 5;
const QString kStallReason = QStringLiteral("Audio stand still");
const QString kChainErrorReason = QStringLiteral("Audiostrom im Fehlerzustand");
const QString kServerBackReason = QStringLiteral("PipeWire wieder erreichbar");
const QString kSessionBackReason = QStringLiteral("Sitzung wieder bereit");
const QString kEmDash = QStringLiteral("\u2014");

// INI keeps text only: a value counts when it reads back as exactly what we would write.
std::optional<bool> boolValue(const QVariant &v)
{
    if (!v.isValid())
        return std::nullopt;
    const QString s = v.toString().trimmed().toLower();
    if (s == u"true" || s == u"1")
        return true;
    if (s == u"false" || s == u"0")
        return false;
    return std::nullopt;
}

std::optional<int> intValue(const QVariant &v)
{
    bool ok = false;
    const int n = v.toString().trimmed().toInt(&ok);
    return v.isValid() && ok ? std::optional<int>(n) : std::nullopt;
}

std::optional<double> doubleValue(const QVariant &v)
{
    bool ok = false;
    const double x = v.toString().trimmed().toDouble(&ok);
    return v.isValid() && ok && std::isfinite(x) ? std::optional<double>(x) : std::nullopt;
}

QString modeRaw(TonvelController::Mode m)
{
    return m == TonvelController::Mode::freeA4 ? QStringLiteral("freeA4") : QStringLiteral("preset");
}

// How long a call into the audio layer held the main thread (debug log of this category).
template <typename Call> void timed(const char *what, Call call)
{
    QElapsedTimer clock;
    clock.start();
    call();
    qCDebug(lcController, "Velmora: %s kehrte nach %.3f ms zurück", what, clock.nsecsElapsed() / 1e6);
}

TuningPreset presetOrOff(const QString &id)
{
    return TuningPreset::preset(id).value_or(TuningPreset::off());
}

} // namespace

struct TonvelController::Private {
    std::shared_ptr<RetuneEngine> engine;
    std::shared_ptr<OriginConsent> consent;
    std::unique_ptr<QSettings> settings;
    bool settingsWritable = true;
    bool isRestoring = false;
    bool shouldResume = false;
    QString autostartPath;
    QString executablePath;

    std::unique_ptr<TimerSource::Timer> pollTimer;
    std::unique_ptr<TimerSource::Timer> restartTimer;
    QString pendingRestartReason;
    QString buildReason; // of the rebuild under way
    std::uint64_t lastFrameCount = 0;
    int stalledTicks = 0;
    int resumeAttemptsLeft = 0;
    bool serverLost = false;
    bool shutDown = false;

    AutoTuningTracker tracker;
    std::unique_ptr<TuningAnalysisWorker> worker;
    QFileSystemWatcher *consentWatcher = nullptr;
    StatusServer *server = nullptr;
    bool changeQueued = false;
};

// ---- construction ----------------------------------------------------------------------

TonvelController::TonvelController(Options options, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>())
{
    Private &d = *d_;
    d.engine = options.engine;
    d.consent = options.consent;
    Q_ASSERT(d.engine && d.consent);
    std::shared_ptr<TimerSource> timers = options.timers ? options.timers : TimerSource::qt();
    d.autostartPath = options.autostartPath.isEmpty() ? defaultAutostartPath() : options.autostartPath;
    d.executablePath = options.executablePath.isEmpty() ? defaultExecutablePath() : options.executablePath;
    if (options.analysis) {
        d.worker = std::make_unique<TuningAnalysisWorker>();
        QPointer<TonvelController> self(this);
        d.worker->setOnEstimate([self](const TuningAnalyzer::Estimate &e, double elapsed) {
            if (self)
                self->consume(e, elapsed);
        });
    }
    d.pollTimer = timers->create([this] { pollTick(); });
    d.restartTimer = timers->create([this] { runRestart(); });
    launchAtLogin_ = LaunchAtLogin::isEnabled(d.autostartPath);
    consentEntries_ = d.consent->allEntries();
    d.settingsWritable = options.saveSettings;
    openSettings(options.settingsPath.isEmpty() ? defaultSettingsPath() : options.settingsPath);
    restore();

    // Applications that a run which died left routed to its sink play unprocessed until cleared.
    if (const int cleared = d.engine->clearStaleRouting(); cleared > 0)
        qCInfo(lcController, "Velmora: %d verwaiste Umleitungen entfernt.", cleared);

    // Every event of the audio layer is taken on this thread, and not at all once we are gone.
    QPointer<TonvelController> self(this);
    RetuneEngine::Events events;
    events.running = [this](const RunInfo &info) { onRunning(info); };
    events.failed = [this](const AudioError &error) { onFailed(error); };
    events.rebuildNeeded = [this](const std::string &reason) {
        scheduleRestart(QString::fromStdString(reason));
    };
    events.serverConnection = [this](bool connected) { onServerConnection(connected); };
    events.waiting = [this](SessionWait why) { onSessionWait(why); };
    // Posted to the application object (it lives on this thread for as long as the process):
    // `self` is read only here, never on the thread that reports the event.
    d.engine->setEvents(std::move(events), [self](std::function<void()> task) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, task = std::move(task)] {
                if (self)
                    task();
            },
            Qt::QueuedConnection);
    });

    watchConsentFile();
    refreshDeviceLabel();
}

TonvelController::~TonvelController()
{
    attachStatusServer(nullptr);
    // The engine may outlive us (shared): its events must find nothing to call.
    d_->engine->setEvents({}, [](std::function<void()>) {});
}

// ---- settings --------------------------------------------------------------------------

QString TonvelController::defaultSettingsPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/Velmora/Velmora.conf");
}

void TonvelController::openSettings(const QString &path)
{
    Private &d = *d_;
    d.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    if (d.settings->status() == QSettings::NoError)
        return;
    d.settings = std::make_unique<QSettings>(QString(), QSettings::IniFormat); // restores nothing
    if (!d.settingsWritable)
        return; // nothing will be written over the file: it can stay where it is
    // Unreadable or unparsable: keep the user's file aside before anything is written over it.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target) && n < 100; ++n)
        target = path + QStringLiteral(".unreadable-") + stamp + u'-' + QString::number(n);
    if (QFile::rename(path, target)) {
        qCWarning(lcController).noquote()
            << QStringLiteral("Einstellungsdatei %1 unlesbar; beiseitegelegt als %2").arg(path, target);
        d.settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    } else {
        qCWarning(lcController).noquote()
            << QStringLiteral("Einstellungsdatei %1 unlesbar und nicht beiseitezulegen; "
                              "Einstellungen werden in diesem Lauf nicht gespeichert")
                   .arg(path);
        d.settingsWritable = false;
    }
}

void TonvelController::restore()
{
    Private &d = *d_;
    QSettings &s = *d.settings;
    d.isRestoring = true;
    const bool enabled = boolValue(s.value(QStringLiteral("enabled"))).value_or(false);
    const bool everStarted = boolValue(s.value(QStringLiteral("everStarted"))).value_or(false);
    const QString mode = s.value(QStringLiteral("mode")).toString();
    if (mode == u"preset" || mode == u"freeA4")
        setMode(mode == u"preset" ? Mode::preset : Mode::freeA4);
    const QString presetID = s.value(QStringLiteral("presetID")).toString();
    if (TuningPreset::preset(presetID))
        setSelectedPresetID(presetID);
    if (const auto raw = intValue(s.value(QStringLiteral("engine"))))
        if (const auto kind = EngineKinds::fromRawValue(*raw))
            setEngine(engineOf(*kind));
    setAutomatic(boolValue(s.value(QStringLiteral("automatic"))).value_or(false));
    if (const auto on = boolValue(s.value(QStringLiteral("statusServer"))))
        setStatusServerEnabled(*on);
    if (const auto hz = doubleValue(s.value(QStringLiteral("freeA4")));
        hz && TuningMath::freeA4Range.contains(*hz))
        setFreeA4(*hz);
    d.shouldResume = enabled && everStarted;
    d.isRestoring = false;
}

void TonvelController::persist()
{
    Private &d = *d_;
    if (d.isRestoring || !d.settingsWritable)
        return;
    QSettings &s = *d.settings;
    s.setValue(QStringLiteral("mode"), modeRaw(mode_));
    s.setValue(QStringLiteral("presetID"), selectedPresetID_);
    s.setValue(QStringLiteral("freeA4"), freeA4_);
    s.setValue(QStringLiteral("enabled"), isEnabled_);
    s.setValue(QStringLiteral("engine"), EngineKinds::rawValue(engineKind(engine_)));
    s.setValue(QStringLiteral("automatic"), automatic_);
    s.setValue(QStringLiteral("statusServer"), statusServerEnabled_);
    syncSettings();
}

void TonvelController::syncSettings()
{
    d_->settings->sync();
    if (d_->settings->status() != QSettings::NoError)
        qCWarning(lcController).noquote()
            << QStringLiteral("Einstellungen nicht gespeichert: %1").arg(d_->settings->fileName());
}

bool TonvelController::takeShouldResume()
{
    return std::exchange(d_->shouldResume, false);
}

// Stores `value` and announces it; false (nothing done) when it equals the current value.
template <typename T>
bool TonvelController::change(T &member, const T &value, void (TonvelController::*signal)())
{
    if (member == value)
        return false;
    member = value;
    emit(this->*signal)();
    publish();
    return true;
}

// ---- assignable properties -------------------------------------------------------------

void TonvelController::setEnabled(bool on)
{
    if (isEnabled_ == on)
        return;
    isEnabled_ = on;
    emit isEnabledChanged(on);
    publish();
    persist();
    if (on)
        startEngine();
    else
        stopEngine();
}

void TonvelController::setMode(Mode mode)
{
    if (change(mode_, mode, &TonvelController::modeChanged))
        tuningWasChanged();
}

void TonvelController::setSelectedPresetID(const QString &id)
{
    if (change(selectedPresetID_, id, &TonvelController::selectedPresetIDChanged))
        tuningWasChanged();
}

void TonvelController::setFreeA4(double hz)
{
    if (std::isfinite(hz) && change(freeA4_, hz, &TonvelController::freeA4Changed))
        tuningWasChanged();
}

void TonvelController::tuningWasChanged()
{
    emit tuningChanged();
    persist();
    applyFactor();
}

void TonvelController::setEngine(Engine engine)
{
    if (!EngineKinds::fromRawValue(static_cast<int>(engine))
        || !change(engine_, engine, &TonvelController::engineChanged))
        return;
    persist();
    applyEngine();
}

void TonvelController::setAutomatic(bool on)
{
    if (!change(automatic_, on, &TonvelController::automaticChanged))
        return;
    persist();
    applyAutomatic();
}

void TonvelController::setStatusServerEnabled(bool on)
{
    if (statusServerEnabled_ == on)
        return;
    statusServerEnabled_ = on;
    persist();
    if (d_->server && !d_->isRestoring)
        on ? d_->server->start() : d_->server->stop();
    emit statusServerEnabledChanged(on);
    publish();
}

void TonvelController::setLaunchAtLogin(bool on)
{
    if (launchAtLogin_ == on)
        return;
    LaunchAtLogin::set(d_->autostartPath, d_->executablePath, on);
    // The switch shows what is on disk, whatever the write did.
    launchAtLogin_ = LaunchAtLogin::isEnabled(d_->autostartPath);
    emit launchAtLoginChanged(); // also when it failed: a switch that moved goes back
    publish();
}

// ---- applying the choices to the chain -------------------------------------------------

double TonvelController::staticFactor() const
{
    if (mode_ == Mode::freeA4)
        return TuningMath::factor(freeA4_);
    return presetOrOff(selectedPresetID_).factor();
}

double TonvelController::effectiveFactor() const
{
    return automatic_ ? d_->tracker.factor(staticFactor()) : staticFactor();
}

bool TonvelController::chainExists() const
{
    return chainState_ != ChainState::stopped && d_->engine->isRunning();
}

void TonvelController::applyFactor()
{
    if (chainExists())
        d_->engine->setFactor(effectiveFactor());
}

void TonvelController::applyEngine()
{
    if (chainExists())
        d_->engine->selectEngine(engineKind(engine_));
    const auto info = runInfo();
    setLatency(info ? info->latencySeconds(engineKind(engine_)) : 0.0);
}

void TonvelController::applyAutomatic()
{
    d_->tracker.reset();
    if (!automatic_)
        resetDetection();
    else if (d_->worker)
        d_->worker->reset();
    applyFactor();
}

std::optional<RunInfo> TonvelController::runInfo() const
{
    return chainState_ == ChainState::running ? d_->engine->runInfo() : std::nullopt;
}

// ---- supervision -----------------------------------------------------------------------

void TonvelController::startEngine()
{
    Private &d = *d_;
    if (d.shutDown)
        return;
    setError(QString(), false);
    setChainState(ChainState::starting);
    timed("start()", [&] { d.engine->start(effectiveFactor(), engineKind(engine_)); });
}

void TonvelController::stopEngine()
{
    Private &d = *d_;
    d.pollTimer->stop();
    stopAnalysis();
    d.tracker.reset();
    resetDetection();
    timed("stop()", [&] { d.engine->stop(); });
    setChainState(ChainState::stopped);
    setLatency(0.0);
    setSampleRate(0.0);
    setUnderruns(0);
    setRebuilds(0, QString());
    refreshDeviceLabel();
}

void TonvelController::onRunning(const RunInfo &info)
{
    Private &d = *d_;
    if (d.shutDown || !isEnabled_
        || (chainState_ != ChainState::starting && chainState_ != ChainState::rebuilding
            && chainState_ != ChainState::waitingForServer && chainState_ != ChainState::waitingForSession))
        return;
    const bool rebuilt = chainState_ != ChainState::starting;
    const QString reason = chainState_ == ChainState::waitingForServer    ? kServerBackReason
                           : chainState_ == ChainState::waitingForSession ? kSessionBackReason
                                                                          : d.buildReason;
    d.resumeAttemptsLeft = 0;
    d.serverLost = false;
    setError(QString(), false);
    setChainState(ChainState::running);
    setOutputDeviceName(QString::fromStdString(info.outputDeviceName));
    setSampleRate(info.sampleRate);
    // What was chosen while the chain was being built.
    d.engine->setFactor(effectiveFactor());
    d.engine->selectEngine(engineKind(engine_));
    setLatency(info.latencySeconds(engineKind(engine_)));
    startAnalysis(info.sampleRate);
    startPolling();
    if (d.settingsWritable) {
        d.settings->setValue(QStringLiteral("everStarted"), true);
        syncSettings();
    }
    if (rebuilt)
        setRebuilds(rebuilds_ + 1, reason);
    emit chainStarted(rebuilt, reason);
}

void TonvelController::onFailed(const AudioError &error)
{
    Private &d = *d_;
    if (d.shutDown || !isEnabled_ || chainState_ == ChainState::stopped)
        return;
    const QString text = error.localizedDescription();
    if (d.serverLost || d.resumeAttemptsLeft > 0) {
        // The server is away or just came back: not the user's failure; keep trying.
        setChainState(ChainState::waitingForServer);
        if (!d.serverLost)
            setError(text, false);
        startPolling();
        return;
    }
    giveUp(text);
}

void TonvelController::giveUp(const QString &error)
{
    d_->pollTimer->stop();
    setEnabled(false); // saves the setting and stops
    setError(error, true);
}

void TonvelController::onServerConnection(bool connected)
{
    Private &d = *d_;
    if (d.shutDown)
        return;
    if (!connected) {
        d.serverLost = true;
        d.resumeAttemptsLeft = 0;
        setError(qtTrId("controller.error.serverLost"), false);
        if (isEnabled_) {
            d.pollTimer->stop();
            d.restartTimer->stop();
            stopAnalysis();
            setChainState(ChainState::waitingForServer);
        }
        publish();
        return;
    }
    d.serverLost = false;
    if (!isEnabled_) {
        setError(QString(), false);
        refreshDeviceLabel();
        publish();
        return;
    }
    // The engine rebuilds by itself; when it has given up, build anew.
    d.resumeAttemptsLeft = kResumeAttempts;
    if (!d.engine->isRunning())
        resumeAfterServerLoss();
    publish();
}

// The engine closed its chain because the session went away (applications play unprocessed
// meanwhile) and comes back with `running` by itself.
void TonvelController::onSessionWait(SessionWait why)
{
    Private &d = *d_;
    if (d.shutDown || !isEnabled_ || chainState_ == ChainState::stopped || d.serverLost)
        return;
    d.pollTimer->stop();
    d.restartTimer->stop();
    stopAnalysis();
    setError(qtTrId(why == SessionWait::sessionManager ? "controller.error.noSessionManager"
                                                       : "controller.error.noOutputDevice"),
             false);
    setChainState(ChainState::waitingForSession);
    publish();
}

void TonvelController::resumeAfterServerLoss()
{
    Private &d = *d_;
    --d.resumeAttemptsLeft;
    d.pollTimer->stop();
    timed("start()", [&] { d.engine->start(effectiveFactor(), engineKind(engine_)); });
}

void TonvelController::startPolling()
{
    d_->lastFrameCount = 0;
    d_->stalledTicks = 0;
    d_->pollTimer->start(kPollMs, true);
}

void TonvelController::pollTick()
{
    Private &d = *d_;
    if (d.shutDown)
        return;
    if (chainState_ == ChainState::waitingForServer) {
        if (!d.serverLost && d.resumeAttemptsLeft > 0 && !d.engine->isRunning())
            resumeAfterServerLoss();
        else if (!d.serverLost && !d.engine->isRunning())
            giveUp(errorMessage_); // out of attempts: the last build's error stays
        return;
    }
    if (chainState_ != ChainState::running || !d.engine->isRunning())
        return;
    const EngineStats stats = d.engine->stats();
    setUnderruns(stats.underruns);
    if (stats.health == ChainHealth::failed) {
        scheduleRestart(kChainErrorReason);
        return;
    }
    if (stats.health == ChainHealth::bypassed) { // the applications already play unprocessed
        setError(qtTrId("controller.error.bypassed"), false);
        publish();
        scheduleRestart(kStallReason);
        return;
    }
    if (stats.health == ChainHealth::serverLost)
        return; // the connection event follows
    checkForStall(stats);
}

void TonvelController::checkForStall(const EngineStats &stats)
{
    Private &d = *d_;
    // A paused chain (nothing plays) stands still on purpose.
    if (stats.frames != d.lastFrameCount || stats.idle) {
        d.stalledTicks = 0;
        d.lastFrameCount = stats.frames;
        return;
    }
    if (++d.stalledTicks >= kStallPolls) {
        d.stalledTicks = 0;
        scheduleRestart(kStallReason);
    }
}

void TonvelController::scheduleRestart(const QString &reason)
{
    if (d_->shutDown)
        return;
    d_->pendingRestartReason = reason;
    d_->restartTimer->start(kRestartDebounceMs, false);
}

void TonvelController::runRestart()
{
    Private &d = *d_;
    if (d.shutDown)
        return;
    refreshDeviceLabel();
    if (!isEnabled_)
        return;
    switch (chainState_) {
    case ChainState::starting:
    case ChainState::rebuilding:
        d.restartTimer->start(kRestartDebounceMs, false); // once the build under way is done
        return;
    case ChainState::running:
        break;
    default:
        return; // stopped, or the engine resumes by itself when the server is back
    }
    d.pollTimer->stop();
    stopAnalysis(); // the chain's analysis buffer goes away with the rebuild
    d.buildReason = d.pendingRestartReason;
    setError(QString(), false);
    setChainState(ChainState::rebuilding);
    timed("rebuild()", [&] { d.engine->rebuild(); });
}

void TonvelController::shutdown()
{
    Private &d = *d_;
    if (d.shutDown)
        return;
    d.shutDown = true;
    d.pollTimer->stop();
    d.restartTimer->stop();
    stopAnalysis();
    timed("stop()", [&] { d.engine->stop(); });
    setChainState(ChainState::stopped);
}

// ---- detection -------------------------------------------------------------------------

void TonvelController::startAnalysis(double sampleRate)
{
    if (d_->worker)
        d_->worker->start(d_->engine, sampleRate);
}

void TonvelController::stopAnalysis()
{
    if (d_->worker)
        d_->worker->stop();
}

void TonvelController::consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds)
{
    if (chainState_ != ChainState::running || d_->shutDown)
        return;
    setDetection(estimate.a4Hz, estimate.confidence);
    if (!automatic_)
        return;
    d_->tracker.update(estimate, elapsedSeconds);
    change(appliedCorrectionCents_, d_->tracker.appliedCents(),
           &TonvelController::appliedCorrectionCentsChanged);
    applyFactor();
}

void TonvelController::resetDetection()
{
    setDetection(TuningMath::standardA4, 0.0);
    change(appliedCorrectionCents_, 0.0, &TonvelController::appliedCorrectionCentsChanged);
}

void TonvelController::setDetection(double a4, double confidence)
{
    change(detectedA4_, a4, &TonvelController::detectedA4Changed);
    change(detectionConfidence_, confidence, &TonvelController::detectionConfidenceChanged);
    change(detectionIsConfident_, confidence >= TuningAnalyzer::confidenceThreshold,
           &TonvelController::detectionIsConfidentChanged);
}

// ---- published chain state -------------------------------------------------------------

void TonvelController::setChainState(ChainState state)
{
    change(chainState_, state, &TonvelController::chainStateChanged);
}

void TonvelController::setOutputDeviceName(const QString &name)
{
    change(outputDeviceName_, name, &TonvelController::outputDeviceNameChanged);
}

void TonvelController::setSampleRate(double rate)
{
    change(sampleRate_, rate, &TonvelController::sampleRateChanged);
}

void TonvelController::setLatency(double seconds)
{
    change(latencySeconds_, seconds, &TonvelController::latencySecondsChanged);
}

void TonvelController::setUnderruns(quint64 count)
{
    change(underruns_, count, &TonvelController::underrunsChanged);
}

void TonvelController::setError(const QString &text, bool hint)
{
    change(errorMessage_, text, &TonvelController::errorMessageChanged);
    change(needsPermissionHint_, hint, &TonvelController::needsPermissionHintChanged);
}

void TonvelController::setRebuilds(int count, const QString &reason)
{
    change(rebuilds_, count, &TonvelController::rebuildsChanged);
    change(lastRebuildReason_, reason, &TonvelController::lastRebuildReasonChanged);
}

void TonvelController::publish()
{
    if (d_->changeQueued)
        return;
    d_->changeQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            d_->changeQueued = false;
            if (d_->server)
                d_->server->update(statusPayload());
            emit changed();
        },
        Qt::QueuedConnection);
}

// ---- labels and the status document ----------------------------------------------------

StatusPayload TonvelController::statusPayload() const
{
    // While the sound server is away nothing is retuned, whatever the switch says.
    const bool active = isEnabled_ && !d_->serverLost && chainState_ != ChainState::waitingForSession;
    const bool free = mode_ == Mode::freeA4;
    const TuningPreset preset = presetOrOff(selectedPresetID_);
    return StatusPayload(QString::fromLatin1(AppIdentity::version), active,
                         free ? freeA4_ : staticFactor() * TuningMath::standardA4,
                         active ? std::optional<double>(detectedA4_) : std::nullopt,
                         active ? std::optional<double>(detectionConfidence_) : std::nullopt,
                         engine_ == Engine::lowLatency ? StatusPayload::Method::resampling
                                                       : StatusPayload::Method::pitchPreserving,
                         free ? std::nullopt : std::optional<QString>(preset.id()),
                         free ? std::nullopt : preset.targetHz());
}

QString TonvelController::menuBarLabel() const
{
    if (mode_ == Mode::freeA4)
        return QString::asprintf("%.0f", freeA4_);
    const auto hz = presetOrOff(selectedPresetID_).targetHz();
    return hz ? QString::asprintf("%.0f", *hz) : QStringLiteral("440");
}

QString TonvelController::latencyText() const
{
    return latencySeconds_ > 0 ? QString::asprintf("%.1f ms", latencySeconds_ * 1000.0) : kEmDash;
}

QString TonvelController::modeTitle(Mode mode)
{
    return mode == Mode::freeA4 ? qtTrId("mode.freeA4") : qtTrId("mode.preset");
}

QString TonvelController::reasonText(const QString &reason)
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

void TonvelController::refreshDeviceLabel()
{
    const auto name = d_->engine->defaultOutputName();
    if (!name) {
        setOutputDeviceName(qtTrId("controller.device.none"));
        return;
    }
    setOutputDeviceName(QString::fromStdString(*name));
    if (sampleRate_ == 0.0)
        setSampleRate(d_->engine->defaultOutputRate());
}

// ---- consent ---------------------------------------------------------------------------

QVariantList TonvelController::consentEntries() const
{
    QVariantList list;
    for (const OriginConsent::Entry &e : consentEntries_)
        list.append(QVariantMap{{QStringLiteral("origin"), e.origin},
                                {QStringLiteral("decision"), OriginConsent::rawValue(e.decision)},
                                {QStringLiteral("decidedAt"), e.decidedAt}});
    return list;
}

void TonvelController::askConsent(const QString &origin)
{
    if (!origin.isEmpty()
        && change(pendingConsentOrigin_, origin, &TonvelController::pendingConsentOriginChanged))
        emit consentAsked(origin);
}

void TonvelController::resolveConsent(const QString &origin, bool allow)
{
    d_->consent->resolve(origin, allow ? OriginConsent::Decision::allowed : OriginConsent::Decision::denied);
    refreshConsent();
}

void TonvelController::revokeConsent(const QString &origin)
{
    d_->consent->revoke(origin);
    refreshConsent();
}

void TonvelController::refreshConsent()
{
    change(consentEntries_, d_->consent->allEntries(), &TonvelController::consentEntriesChanged);
    // A question answered here or by another process is no longer open.
    if (std::any_of(consentEntries_.begin(), consentEntries_.end(),
                    [&](const auto &e) { return e.origin == pendingConsentOrigin_; }))
        change(pendingConsentOrigin_, QString(), &TonvelController::pendingConsentOriginChanged);
}

void TonvelController::watchConsentFile()
{
    // velmora-cli consent decides from another process: take its file over when it changes.
    // The folder is watched too, since an atomic write replaces the file under the watch.
    const QString path = d_->consent->storePath();
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    d_->consentWatcher = new QFileSystemWatcher(this);
    d_->consentWatcher->addPath(folder);
    if (QFileInfo::exists(path))
        d_->consentWatcher->addPath(path);
    auto reload = [this, path] {
        if (QFileInfo::exists(path) && !d_->consentWatcher->files().contains(path))
            d_->consentWatcher->addPath(path);
        if (d_->consent->reload())
            refreshConsent();
    };
    connect(d_->consentWatcher, &QFileSystemWatcher::directoryChanged, this, reload);
    connect(d_->consentWatcher, &QFileSystemWatcher::fileChanged, this, reload);
}

void TonvelController::attachStatusServer(StatusServer *server)
{
    Private &d = *d_;
    if (d.server)
        d.server->setOnConsentNeeded({});
    d.server = server;
    if (!server)
        return;
    QPointer<TonvelController> self(this);
    server->setOnConsentNeeded([self](const QString &origin) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, origin] {
                if (self)
                    self->askConsent(origin);
            },
            Qt::QueuedConnection);
    });
    server->update(statusPayload());
    if (statusServerEnabled_)
        server->start();
}

// ---- paths and texts -------------------------------------------------------------------

QString TonvelController::defaultAutostartPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/autostart/") + QString::fromLatin1(AppIdentity::applicationId)
           + QStringLiteral(".desktop");
}

QString TonvelController::defaultExecutablePath()
{
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("velmora"));
    if (!installed.isEmpty())
        return installed;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/velmora");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QCoreApplication::applicationFilePath();
}
