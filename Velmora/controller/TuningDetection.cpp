// SPDX-License-Identifier: GPL-3.0-or-later
#include "controller/TuningDetection.h"

#include "analysis/TuningAnalysisWorker.h"
#include "dbus/MprisWatcher.h"
#include "identity/AppIdentity.h"

#include <TonvelCore/TuningMath.h>

#include <QLoggingCategory>
#include <QPointer>

#include <utility>

TuningDetection::TuningDetection(bool withWorker, QObject *parent) : QObject(parent)
{
    if (!withWorker)
        return;
    worker_ = std::make_unique<TuningAnalysisWorker>();
    QPointer<TuningDetection> self(this);
    worker_->setOnEstimate([self](const TuningAnalyzer::Estimate &e, double elapsed) {
        if (self)
            self->consume(e, elapsed);
    });
    players_ = std::make_unique<MprisWatcher>();
    connect(players_.get(), &MprisWatcher::trackChanged, this, [this](const QString &player, const QString &title) {
        followedPlayer_ = player;
        followedTitle_ = title;
        emit followedChanged();
        startNewTrack();
    });
}

TuningDetection::~TuningDetection() = default;

double TuningDetection::correctedFactor(double fromStatic) const
{
    return automatic_ ? tracker_.factor(fromStatic) : fromStatic;
}

void TuningDetection::start(const std::shared_ptr<RetuneEngine> &source, double sampleRate)
{
    running_ = true;
    if (worker_)
        worker_->start(source, sampleRate);
}

void TuningDetection::stop()
{
    running_ = false;
    if (worker_)
        worker_->stop();
}

void TuningDetection::startNewTrack()
{
    if (!automatic_ || !running_)
        return;
    qCInfo(AppIdentity::logCategory("Controller"), "Neuer Titel bei %s: \"%s\"; die Erkennung beginnt von vorn.",
           qUtf8Printable(followedPlayer_), qUtf8Printable(followedTitle_));
    holding_ = true;
    if (worker_)
        worker_->reset();
    show(a4_, 0.0);
}

void TuningDetection::clear()
{
    holding_ = false;
    tracker_.reset();
    show(TuningMath::standardA4, 0.0);
    if (std::exchange(appliedCents_, 0.0) != 0.0)
        emit appliedCentsChanged();
}

void TuningDetection::setAutomatic(bool on)
{
    automatic_ = on;
    holding_ = false;
    tracker_.reset();
    if (!on)
        clear();
    else if (worker_)
        worker_->reset();
}

void TuningDetection::consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds)
{
    if (!running_) // posted before the analysis stopped
        return;
    show(estimate.a4Hz, estimate.confidence);
    if (!automatic_)
        return;
    if (holding_ && !estimate.isConfident())
        return; // the old track's correction stays until the new one is known
    holding_ = false;
    tracker_.update(estimate, elapsedSeconds);
    if (const double cents = tracker_.appliedCents(); std::exchange(appliedCents_, cents) != cents)
        emit appliedCentsChanged();
    emit correctionMoved();
}

void TuningDetection::show(double a4, double confidence)
{
    const bool wasConfident = isConfident();
    if (std::exchange(a4_, a4) != a4)
        emit a4Changed();
    if (std::exchange(confidence_, confidence) != confidence)
        emit confidenceChanged();
    if (isConfident() != wasConfident)
        emit isConfidentChanged();
}
