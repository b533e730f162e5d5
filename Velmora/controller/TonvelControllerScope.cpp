// SPDX-License-Identifier: GPL-3.0-or-later
// TonvelController, continued: which applications are retuned, and the tuning kept per output
// device. With it on, the chain no longer follows a new default device by itself: the device's
// own tuning is applied first and the chain rebuilt at once, so the new device never plays the
// old device's tuning.
#include "controller/TonvelController.h"

#include "identity/AppIdentity.h"

#include <QLoggingCategory>

static const QLoggingCategory &lcScope() { return AppIdentity::logCategory("Controller"); }

namespace {

QStringList cleaned(const QStringList &keys)
{
    QStringList out;
    for (const QString &k : keys)
        if (const QString key = k.trimmed(); !key.isEmpty() && !out.contains(key))
            out.append(key);
    return out;
}

} // namespace

void TonvelController::restoreScope(const SettingsStore::Restored &r)
{
    excludedApps_ = r.excludedApps;
    retuneCalls_ = r.retuneCalls;
    rememberPerDevice_ = r.perDevice;
    devices_ = r.devices;
    noteDevice();
    const auto it = devices_.constFind(deviceKey_);
    if (!rememberPerDevice_ || it == devices_.constEnd())
        return;
    applyTuning(*it);
    shouldResume_ = r.everStarted && it->enabled;
}

ChainScope TonvelController::scope() const
{
    ChainScope s;
    for (const QString &key : excludedApps_ + runExcludedApps_)
        s.excludedApps.push_back(key.toStdString());
    s.retuneCalls = retuneCalls_;
    s.followDefault = !rememberPerDevice_;
    return s;
}

void TonvelController::applyScope()
{
    audio_->setScope(scope());
}

QVariantList TonvelController::applications() const
{
    const ChainScope s = scope();
    QVariantList out;
    for (const AppEntry &a : audio_->applications())
        out.append(QVariantMap{{QStringLiteral("key"), QString::fromStdString(a.key)},
                               {QStringLiteral("name"), QString::fromStdString(a.name)},
                               {QStringLiteral("icon"), QString::fromStdString(a.iconName)},
                               {QStringLiteral("playing"), a.playing},
                               {QStringLiteral("retune"), !s.excludes(a.binary, a.name, {})}});
    return out;
}

void TonvelController::setExcludedApps(const QStringList &keys)
{
    const QStringList list = cleaned(keys);
    if (list == excludedApps_)
        return;
    excludedApps_ = list;
    persist();
    applyScope();
    emit scopeChanged();
    emit applicationsChanged();
    publish();
}

void TonvelController::setApplicationRetuned(const QString &key, bool retune)
{
    QStringList list = excludedApps_;
    if (!retune) {
        list.append(key);
    } else {
        // Whichever of its identities the application was left out by.
        list.removeAll(key);
        for (const AppEntry &a : audio_->applications())
            if (QString::fromStdString(a.key) == key)
                list.removeAll(QString::fromStdString(a.name)), list.removeAll(QString::fromStdString(a.binary));
    }
    setExcludedApps(list);
}

void TonvelController::setRunExcludedApps(const QStringList &keys)
{
    runExcludedApps_ = cleaned(keys);
    applyScope();
    emit applicationsChanged();
    publish();
}

void TonvelController::setRetuneCalls(bool on)
{
    if (retuneCalls_ == on)
        return;
    retuneCalls_ = on;
    persist();
    applyScope();
    emit scopeChanged();
    publish();
}

void TonvelController::setRememberPerDevice(bool on)
{
    if (rememberPerDevice_ == on)
        return;
    rememberPerDevice_ = on;
    noteDevice();
    persist(); // from now on the current tuning is this device's
    applyScope();
    emit scopeChanged();
    emit settingsDeviceChanged();
    publish();
}

// ---- per device ------------------------------------------------------------------------

SettingsStore::DeviceTuning TonvelController::currentTuning() const
{
    return {mode_ == Mode::freeA4, selectedPresetID_, freeA4_, engine_, automatic_, isEnabled_};
}

// Everything but the switch itself: the caller decides about starting or stopping.
void TonvelController::applyTuning(const SettingsStore::DeviceTuning &t)
{
    setMode(t.freeMode ? Mode::freeA4 : Mode::preset);
    setSelectedPresetID(t.presetID);
    setFreeA4(t.freeA4);
    setEngine(t.engine);
    setAutomatic(t.automatic);
}

void TonvelController::noteDevice()
{
    deviceKey_ = QString::fromStdString(audio_->defaultOutputKey().value_or(std::string()));
    const QString name = QString::fromStdString(audio_->defaultOutputName().value_or(std::string()));
    if (name == settingsDevice_)
        return;
    settingsDevice_ = name;
    if (rememberPerDevice_)
        emit settingsDeviceChanged();
    publish();
}

void TonvelController::followDevice()
{
    const QString before = deviceKey_;
    noteDevice();
    if (!rememberPerDevice_ || deviceKey_ == before || deviceKey_.isEmpty())
        return;
    const auto it = devices_.constFind(deviceKey_);
    if (it != devices_.constEnd()) {
        const SettingsStore::DeviceTuning t = *it;
        qCInfo(lcScope, "Velmora: Einstellungen des Ausgabegeräts %s", qPrintable(deviceKey_));
        isRestoring_ = true; // one save for all of it
        holdChain_ = isEnabled_ && t.enabled; // the old device keeps its tuning until the move
        applyTuning(t);
        isRestoring_ = holdChain_ = false;
        if (t.enabled != isEnabled_) {
            setEnabled(t.enabled); // saves, and starts to or stops at the new device
            return;
        }
    }
    persist(); // a device seen for the first time starts from the current choice
    if (isEnabled_)
        chain_->switchDevice(effectiveFactor(), engine_);
}
