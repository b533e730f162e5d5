// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// TuningAnalysisWorker: feeds the tuning detection from the running chain, off the audio thread.
//
// Summary
//   Ten times a second, on a thread of its own ("<application id>.analysis"), drains the
//   running chain's analysis samples (RetuneEngine::readAnalysisSamples) into a TuningAnalyzer and posts the
//   analyzer's estimate to the thread the worker object lives in (the main thread), also when no new samples
//   arrived. The engine is held weakly: once it is gone, ticks do nothing.
//
// Real-time safety
//   Nothing here runs on the audio thread; the FIFO is the only hand-over from it. A tick
//   allocates nothing (the scratch buffer is allocated by the first start()).
//
// Thread safety
//   start(), stop(), reset(), setOnEstimate() and destruction belong to the owner's thread.
//   A tick runs under a lock that stop() and start() also take, so stop() returns only after
//   a running tick has finished, and no tick starts work afterwards. The engine keeps the
//   samples it hands out alive while they are read, also across a rebuild.
//
#include "audio/RetuneEngine.h"

#include <TonvelCore/TuningAnalyzer.h>

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QThread;
class QTimer;

class TuningAnalysisWorker : public QObject {
    Q_OBJECT

public:
    using EstimateCallback =
        std::function<void(const TuningAnalyzer::Estimate &estimate, double elapsedSeconds)>;

    static constexpr int scratchCapacity = 16384;
    static constexpr int fftSize = 16384;
    static constexpr int tickMilliseconds = 100;

    explicit TuningAnalysisWorker(QObject *parent = nullptr);
    ~TuningAnalysisWorker() override;

    // Restarts from scratch with a new analyzer for `sampleRate` reading `source`'s samples. When
    // the analyzer cannot be created, logs it and stays stopped.
    void start(const std::shared_ptr<RetuneEngine> &source, double sampleRate);
    // Stops the ticks, drops the analyzer and the source. Waits for a running tick.
    void stop();
    // Makes the analyzer forget its evidence, serialised with the ticks. Nothing while stopped.
    void reset();
    // Called on this object's thread with each estimate and the tick period (0.1 s).
    void setOnEstimate(EstimateCallback callback);

    bool isRunning() const;
    // One tick on the calling thread (the timer runs it on the worker thread).
    void tick();

private:
    void setTimerActive(bool active);

    QThread *thread_ = nullptr;
    QTimer *timer_ = nullptr; // lives in thread_

    mutable std::mutex tickMutex_; // analyzer_, source_, scratch_, running_
    std::unique_ptr<TuningAnalyzer> analyzer_;
    std::weak_ptr<RetuneEngine> source_;
    std::vector<float> scratch_;
    bool running_ = false;

    std::mutex callbackMutex_;
    EstimateCallback onEstimate_;
    // Bumped by start() and stop(): an estimate posted before is not delivered after them.
    std::atomic<std::uint64_t> generation_{0};
};
