// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TuningDetection: what the music's reference pitch seems to be, and the automatic correction
// towards standard pitch. Runs the analysis worker while a chain runs; each estimate updates
// the published detection and, with automatic correction on, moves the tracker.
//
// With automatic correction on, a media player on the session bus that moves to another track
// (MPRIS) makes the detection start afresh: the analyzer forgets the old recording and the
// correction holds its value until the new estimate is confident, then glides from there.
//
// Thread safety: the owner's thread only; the worker's estimates arrive as queued calls and
// are dropped once this object is gone or the analysis was stopped.
//
#include <TonvelCore/AutoTuningTracker.h>
#include <TonvelCore/TuningAnalyzer.h>

#include <QObject>

#include <memory>

class MprisWatcher;
class RetuneEngine;
class TuningAnalysisWorker;

class TuningDetection : public QObject {
    Q_OBJECT
public:
    // `withWorker` false: no analysis thread and no player watching; estimates come only through
    // consume() (tests).
    explicit TuningDetection(bool withWorker, QObject *parent = nullptr);
    ~TuningDetection() override;

    double a4() const { return a4_; }
    double confidence() const { return confidence_; }
    bool isConfident() const { return confidence_ >= TuningAnalyzer::confidenceThreshold; }
    double appliedCents() const { return appliedCents_; }
    // `fromStatic` with the correction in effect (unchanged while automatic correction is off).
    double correctedFactor(double fromStatic) const;

    // Estimates count from here until stop(), read from `source`'s running chain.
    void start(const std::shared_ptr<RetuneEngine> &source, double sampleRate);
    void stop();
    // Back to no correction and no detection (the chain was switched off).
    void clear();
    // Automatic correction switched: the correction starts from 0; off also clears the display,
    // on starts the detection from scratch.
    void setAutomatic(bool on);
    void consume(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds);
    // A new track started: with automatic correction on and a chain running, the analysis
    // starts afresh and the correction holds until the new estimate is confident.
    void startNewTrack();
    // The player and title followed (see MprisWatcher); empty before the first track change.
    QString followedPlayer() const { return followedPlayer_; }
    QString followedTitle() const { return followedTitle_; }

signals:
    void a4Changed();
    void confidenceChanged();
    void isConfidentChanged();
    void appliedCentsChanged();
    // The correction moved: the running engines need the new factor.
    void correctionMoved();
    void followedChanged();

private:
    void show(double a4, double confidence);

    std::unique_ptr<TuningAnalysisWorker> worker_;
    std::unique_ptr<MprisWatcher> players_;
    QString followedPlayer_, followedTitle_;
    bool holding_ = false; // a new track: the correction waits for a confident estimate
    AutoTuningTracker tracker_;
    bool automatic_ = false;
    bool running_ = false;
    double a4_ = 440.0;
    double confidence_ = 0.0;
    double appliedCents_ = 0.0;
};
