// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/TonvelController.h"

#include "status/StatusServer.h"

struct TonvelController::Private {
    Options options;
};

TonvelController::TonvelController(Options options, QObject *parent)
    : QObject(parent), d_(std::make_unique<Private>())
{
    d_->options = std::move(options);
}

TonvelController::~TonvelController() = default;

QVariantList TonvelController::consentEntries() const { return {}; }
void TonvelController::setEnabled(bool) {}
void TonvelController::setMode(Mode) {}
void TonvelController::setSelectedPresetID(const QString &) {}
void TonvelController::setFreeA4(double) {}
void TonvelController::setEngine(Engine) {}
void TonvelController::setAutomatic(bool) {}
void TonvelController::setLaunchAtLogin(bool) {}
void TonvelController::setStatusServerEnabled(bool) {}
double TonvelController::staticFactor() const { return 1.0; }
double TonvelController::effectiveFactor() const { return 1.0; }
StatusPayload TonvelController::statusPayload() const { return {}; }
QString TonvelController::menuBarLabel() const { return {}; }
QString TonvelController::latencyText() const { return {}; }
std::optional<RunInfo> TonvelController::runInfo() const { return std::nullopt; }
void TonvelController::attachStatusServer(StatusServer *) {}
void TonvelController::consume(const TuningAnalyzer::Estimate &, double) {}
QString TonvelController::defaultSettingsPath() { return {}; }
QString TonvelController::defaultAutostartPath() { return {}; }
QString TonvelController::defaultExecutablePath() { return {}; }
void TonvelController::installTranslations(const QString &) {}
void TonvelController::askConsent(const QString &) {}
void TonvelController::resolveConsent(const QString &, bool) {}
void TonvelController::revokeConsent(const QString &) {}
void TonvelController::refreshDeviceLabel() {}
void TonvelController::shutdown() {}
bool TonvelController::takeShouldResume() { return false; }
