// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/TonvelController.h"

#include "controller/ConsentModel.h"
#include "controller/SettingsStore.h"
#include "controller/TuningDetection.h"
#include "identity/AppIdentity.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <cmath>
#include <utility>

namespace {

TuningPreset presetOrOff(const QString &id)
{
    return TuningPreset::preset(id).value_or(TuningPreset::off());
}

} // namespace

TonvelController::TonvelController(Options options, QObject *parent)
    : QObject(parent), audio_(options.engine),
      settings_(std::make_unique<SettingsStore>(
          options.settingsPath.isEmpty() ? SettingsStore::defaultPath() : options.settingsPath, options.saveSettings)),
      detection_(std::make_unique<TuningDetection>(options.analysis)),
      autostartPath_(options.autostartPath.isEmpty() ? LaunchAtLogin::defaultEntryPath() : options.autostartPath),
      executablePath_(options.executablePath.isEmpty() ? LaunchAtLogin::defaultProgram() : options.executablePath)
{
    Q_ASSERT(options.engine && options.consent);
    launchAtLogin_ = LaunchAtLogin::isEnabled(autostartPath_);
    consent_ = std::make_unique<ConsentModel>(options.consent);
    forward(consent_.get(), &ConsentModel::pendingOriginChanged, &TonvelController::pendingConsentOriginChanged);
    forward(consent_.get(), &ConsentModel::entriesChanged, &TonvelController::consentEntriesChanged);
    connect(consent_.get(), &ConsentModel::asked, this, &TonvelController::consentAsked);

    forward(detection_.get(), &TuningDetection::a4Changed, &TonvelController::detectedA4Changed);
    forward(detection_.get(), &TuningDetection::confidenceChanged, &TonvelController::detectionConfidenceChanged);
    forward(detection_.get(), &TuningDetection::isConfidentChanged, &TonvelController::detectionIsConfidentChanged);
    forward(detection_.get(), &TuningDetection::appliedCentsChanged,
            &TonvelController::appliedCorrectionCentsChanged);
    forward(detection_.get(), &TuningDetection::followedChanged, &TonvelController::followedTrackChanged);
    connect(detection_.get(), &TuningDetection::correctionMoved, this, &TonvelController::applyFactor);

    restore(); // before the chain exists: restoring never starts audio
    chain_ = std::make_unique<ChainSupervisor>(options.engine, options.timers, *detection_);
    chain_->setEngine(engine_);
    applyFactor();
    applyScope();
    connect(chain_.get(), &ChainSupervisor::defaultOutputChanged, this, &TonvelController::followDevice);
    forward(chain_.get(), &ChainSupervisor::applicationsChanged, &TonvelController::applicationsChanged);
    using C = ChainSupervisor;
    using T = TonvelController;
    forward(chain_.get(), &C::stateChanged, &T::chainStateChanged);
    forward(chain_.get(), &C::outputDeviceNameChanged, &T::outputDeviceNameChanged);
    forward(chain_.get(), &C::sampleRateChanged, &T::sampleRateChanged);
    forward(chain_.get(), &C::latencySecondsChanged, &T::latencySecondsChanged);
    forward(chain_.get(), &C::underrunsChanged, &T::underrunsChanged);
    forward(chain_.get(), &C::errorMessageChanged, &T::errorMessageChanged);
    forward(chain_.get(), &C::needsPermissionHintChanged, &T::needsPermissionHintChanged);
    forward(chain_.get(), &C::rebuildsChanged, &T::rebuildsChanged);
    forward(chain_.get(), &C::lastRebuildReasonChanged, &T::lastRebuildReasonChanged);
    connect(chain_.get(), &C::serverLostChanged, this, &T::publish); // the document's isActive
    connect(chain_.get(), &C::stateChanged, this, &T::publish); // waiting for the session: not active
    connect(chain_.get(), &C::gaveUp, this, [this] { setEnabled(false); });
    connect(chain_.get(), &C::started, this, [this](bool rebuilt, const QString &reason) {
        settings_->markEverStarted();
        emit chainStarted(rebuilt, reason);
    });
}

TonvelController::~TonvelController()
{
    chain_.reset(); // first: it refers to the detection
}

// A part's change is this object's change too.
template <typename Part, typename... Args>
void TonvelController::forward(Part *part, void (Part::*from)(Args...), void (TonvelController::*to)(Args...))
{
    connect(part, from, this, to);
    connect(part, from, this, &TonvelController::publish);
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

// ---- settings --------------------------------------------------------------------------

void TonvelController::restore()
{
    const SettingsStore::Restored r = settings_->restore();
    isRestoring_ = true;
    if (r.freeMode)
        setMode(*r.freeMode ? Mode::freeA4 : Mode::preset);
    if (r.presetID)
        setSelectedPresetID(*r.presetID);
    if (r.engine)
        setEngine(*r.engine);
    setAutomatic(r.automatic);
    if (r.statusServer)
        setStatusServerEnabled(*r.statusServer);
    if (r.freeA4)
        setFreeA4(*r.freeA4);
    shouldResume_ = r.shouldResume;
    restoreScope(r);
    isRestoring_ = false;
}

void TonvelController::persist()
{
    if (isRestoring_)
        return;
    if (rememberPerDevice_ && !deviceKey_.isEmpty())
        devices_.insert(deviceKey_, currentTuning());
    settings_->save({mode_ == Mode::freeA4, selectedPresetID_, freeA4_, isEnabled_, engine_, automatic_,
                     statusServerEnabled_, excludedApps_, retuneCalls_, rememberPerDevice_, devices_});
}

bool TonvelController::takeShouldResume()
{
    return std::exchange(shouldResume_, false);
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
    if (on) {
        chain_->start();
    } else {
        chain_->stop();
        applyFactor(); // the correction went back to none
    }
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

void TonvelController::setEngine(EngineKind engine)
{
    if (!EngineTable::fromRawValue(static_cast<int>(engine))
        || !change(engine_, engine, &TonvelController::engineChanged))
        return;
    persist();
    if (chain_ && !holdChain_)
        chain_->setEngine(engine);
}

void TonvelController::setAutomatic(bool on)
{
    if (!change(automatic_, on, &TonvelController::automaticChanged))
        return;
    persist();
    detection_->setAutomatic(on);
    applyFactor();
}

void TonvelController::setStatusServerEnabled(bool on)
{
    if (statusServerEnabled_ == on)
        return;
    statusServerEnabled_ = on;
    persist();
    if (!on)
        setStatusServerError(QString());
    emit statusServerEnabledChanged(on);
    publish();
}

void TonvelController::setStatusServerError(const QString &text)
{
    change(statusServerError_, statusServerEnabled_ ? text : QString(), &TonvelController::statusServerErrorChanged);
}

void TonvelController::setLaunchAtLogin(bool on)
{
    if (launchAtLogin_ == on)
        return;
    LaunchAtLogin::set(autostartPath_, executablePath_, on);
    // The switch shows what is on disk, whatever the write did.
    launchAtLogin_ = LaunchAtLogin::isEnabled(autostartPath_);
    emit launchAtLoginChanged(); // also when it failed: a switch that moved goes back
    publish();
}

// ---- the factor ------------------------------------------------------------------------

double TonvelController::staticFactor() const
{
    if (mode_ == Mode::freeA4)
        return TuningMath::factor(freeA4_);
    return presetOrOff(selectedPresetID_).factor();
}

double TonvelController::effectiveFactor() const
{
    return detection_->correctedFactor(staticFactor());
}

void TonvelController::applyFactor()
{
    if (chain_ && !holdChain_)
        chain_->setFactor(effectiveFactor());
}

void TonvelController::shutdown()
{
    chain_->shutdown();
}

// ---- detection and consent -------------------------------------------------------------

double TonvelController::detectedA4() const { return detection_->a4(); }
double TonvelController::detectionConfidence() const { return detection_->confidence(); }
bool TonvelController::detectionIsConfident() const { return detection_->isConfident(); }
double TonvelController::appliedCorrectionCents() const { return detection_->appliedCents(); }
QString TonvelController::followedPlayer() const { return detection_->followedPlayer(); }
QString TonvelController::followedTitle() const { return detection_->followedTitle(); }

void TonvelController::consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds)
{
    detection_->consume(estimate, elapsedSeconds);
}

QString TonvelController::pendingConsentOrigin() const { return consent_->pendingOrigin(); }
QVariantList TonvelController::consentEntries() const { return consent_->entryMaps(); }
QList<OriginConsent::Entry> TonvelController::consentEntryList() const { return consent_->entries(); }
void TonvelController::askConsent(const QString &origin) { consent_->ask(origin); }
void TonvelController::resolveConsent(const QString &origin, bool allow) { consent_->resolve(origin, allow); }
void TonvelController::revokeConsent(const QString &origin) { consent_->revoke(origin); }

// ---- the status document and labels ----------------------------------------------------

void TonvelController::publish()
{
    if (std::exchange(changeQueued_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            changeQueued_ = false;
            emit changed();
        },
        Qt::QueuedConnection);
}

StatusPayload TonvelController::statusPayload() const
{
    // While the sound server is away nothing is retuned, whatever the switch says.
    const bool active = isEnabled_ && !chain_->serverLost()
                        && chain_->state() != ChainSupervisor::ChainState::waitingForSession;
    const bool free = mode_ == Mode::freeA4;
    const TuningPreset preset = presetOrOff(selectedPresetID_);
    return StatusPayload(QString::fromLatin1(AppIdentity::version), active,
                         free ? freeA4_ : staticFactor() * TuningMath::standardA4,
                         active ? std::optional<double>(detectedA4()) : std::nullopt,
                         active ? std::optional<double>(detectionConfidence()) : std::nullopt,
                         EngineTable::spec(engine_).method,
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
    const double seconds = latencySeconds();
    return seconds > 0 ? QString::asprintf("%.1f ms", seconds * 1000.0) : QStringLiteral("\u2014");
}

QString TonvelController::modeTitle(Mode mode)
{
    return mode == Mode::freeA4 ? qtTrId("mode.freeA4") : qtTrId("mode.preset");
}

QString TonvelController::reasonText(const QString &reason)
{
    return ChainSupervisor::reasonText(reason);
}
