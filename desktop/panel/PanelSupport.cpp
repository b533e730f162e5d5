// SPDX-License-Identifier: GPL-3.0-or-later
#include "panel/PanelSupport.h"

#include "audio/EngineTable.h"
#include "controller/TonvelController.h"

#include <TonvelCore/OriginConsent.h>
#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

namespace {

TuningPreset presetOrOff(const QString &id)
{
    return TuningPreset::preset(id).value_or(TuningPreset::off());
}

} // namespace

PanelSupport::PanelSupport(TonvelController *controller, std::shared_ptr<OriginConsent> consent,
                           std::function<bool()> sessionManager, QObject *parent)
    : QObject(parent), controller_(controller), consent_(std::move(consent)),
      sessionManager_(std::move(sessionManager)), soundSettings_(findSoundSettings())
{
    for (auto signal : {&TonvelController::tuningChanged, &TonvelController::automaticChanged,
                        &TonvelController::appliedCorrectionCentsChanged})
        connect(controller_, signal, this, &PanelSupport::effectiveFactorChanged);
}

double PanelSupport::effectiveFactor() const
{
    return controller_->effectiveFactor();
}

QVariantList PanelSupport::presets() const
{
    QVariantList list;
    for (const auto &preset : TuningPreset::all())
        list.append(
            QVariantMap{{QStringLiteral("id"), preset.id()}, {QStringLiteral("title"), preset.title()}});
    return list;
}

QVariantList PanelSupport::engines() const
{
    QVariantList list;
    for (const EngineSpec &e : EngineTable::engines)
        list.append(e.rawValue);
    return list;
}

QString PanelSupport::caption() const
{
    return QStringLiteral("Velmora %1 · GPL-3.0").arg(QStringLiteral(VELMORA_VERSION));
}

QString PanelSupport::presetKeyword(const QString &id) const
{
    return presetOrOff(id).keyword();
}

QString PanelSupport::presetReference(const QString &id) const
{
    return presetOrOff(id).referenceDescription().value_or(QString());
}

QString PanelSupport::presetBackground(const QString &id) const
{
    return presetOrOff(id).background();
}

QString PanelSupport::engineTitle(int raw) const
{
    const auto kind = EngineTable::fromRawValue(raw);
    return kind ? EngineTable::title(*kind) : QString();
}

QString PanelSupport::engineSubtitle(int raw) const
{
    const auto kind = EngineTable::fromRawValue(raw);
    return kind ? EngineTable::subtitle(*kind) : QString();
}

double PanelSupport::cents(double factor) const
{
    return TuningMath::cents(factor);
}

QString PanelSupport::formatCents(double cents) const
{
    return TuningMath::formatCents(cents);
}

QStringList PanelSupport::findSoundSettings()
{
    // The desktop's own settings first, then the mixers any desktop may have.
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower();
    QList<QStringList> candidates;
    if (desktop.contains(QLatin1String("kde")))
        candidates.append({QStringLiteral("systemsettings"), QStringLiteral("kcm_pulseaudio")});
    if (desktop.contains(QLatin1String("gnome")) || desktop.contains(QLatin1String("unity")))
        candidates.append({QStringLiteral("gnome-control-center"), QStringLiteral("sound")});
    candidates.append({QStringLiteral("pavucontrol")});
    candidates.append({QStringLiteral("pavucontrol-qt")});
    for (const auto &command : candidates) {
        if (!QStandardPaths::findExecutable(command.first()).isEmpty())
            return command;
    }
    return {};
}

void PanelSupport::openSoundSettings() const
{
    if (!soundSettings_.isEmpty())
        QProcess::startDetached(soundSettings_.first(), soundSettings_.mid(1));
}

void PanelSupport::openAutostartFolder() const
{
    const QString folder = QFileInfo(TonvelController::defaultAutostartPath()).absolutePath();
    QDir().mkpath(folder);
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

void PanelSupport::resolveConsent(const QString &origin, bool allow)
{
    controller_->resolveConsent(origin, allow);
    takeSaveError();
}

void PanelSupport::revokeConsent(const QString &origin)
{
    controller_->revokeConsent(origin);
    takeSaveError();
}

void PanelSupport::takeSaveError()
{
    const QString error = consent_ ? consent_->saveError() : QString();
    if (error != consentSaveError_) {
        consentSaveError_ = error;
        emit consentSaveErrorChanged();
    }
}

QString PanelSupport::errorHintId(const QString &error) const
{
    // EBUSY from PipeWire: our fixed node names are taken by another Velmora process.
    if (error.contains(QLatin1String("(-16:")))
        return QStringLiteral(QT_TRID_NOOP("ui.error.hint.busy"));
    if (sessionManager_ && !sessionManager_())
        return QStringLiteral(QT_TRID_NOOP("ui.error.hint.noSessionManager"));
    return QStringLiteral(QT_TRID_NOOP("ui.error.permissionHint"));
}
