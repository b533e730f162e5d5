// SPDX-License-Identifier: GPL-3.0-or-later
#include "analysis/TuningAnalysisWorker.h"

#include "identity/AppIdentity.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

namespace {

const QLoggingCategory &lcAnalysisWorker()
{
    return AppIdentity::logCategory("AnalysisWorker");
}

// Bounds one drain: the FIFO holds four scratch loads; more means the writer kept pace, and
// the rest waits for the next tick.
constexpr int kMaxReadsPerTick = 8;
} // namespace

TuningAnalysisWorker::TuningAnalysisWorker(QObject *parent) : QObject(parent)
{
    thread_ = new QThread;
    thread_->setObjectName(AppIdentity::qualified("analysis"));
    timer_ = new QTimer;
    timer_->setInterval(tickMilliseconds);
    timer_->setTimerType(Qt::CoarseTimer);
    timer_->moveToThread(thread_);
    QObject::connect(timer_, &QTimer::timeout, timer_, [this] { tick(); });
    thread_->start(QThread::LowPriority);
}

TuningAnalysisWorker::~TuningAnalysisWorker()
{
    stop();
    // The timer must be stopped on its own thread before that thread ends.
    QMetaObject::invokeMethod(
        timer_, [t = timer_] { t->stop(); }, Qt::BlockingQueuedConnection);
    thread_->quit();
    thread_->wait();
    delete timer_;
    delete thread_;
}

void TuningAnalysisWorker::setTimerActive(bool active)
{
    QMetaObject::invokeMethod(
        timer_, [t = timer_, active] { active ? t->start() : t->stop(); }, Qt::QueuedConnection);
}

void TuningAnalysisWorker::start(const std::shared_ptr<RetuneEngine> &source, double sampleRate)
{
    stop();
    auto analyzer = TuningAnalyzer::create(sampleRate, fftSize);
    if (!analyzer) {
        qCWarning(lcAnalysisWorker, "Velmora: Stimmungserkennung liess sich nicht anlegen.");
        return;
    }
    {
        std::lock_guard lock(tickMutex_);
        analyzer_ = std::move(analyzer);
        source_ = source;
        if (scratch_.empty())
            scratch_.assign(scratchCapacity, 0.0f);
        running_ = true;
        ++generation_;
    }
    setTimerActive(true);
}

void TuningAnalysisWorker::stop()
{
    std::unique_ptr<TuningAnalyzer> dropped;
    {
        std::lock_guard lock(tickMutex_); // waits for a running tick
        if (!running_ && !analyzer_)
            return;
        dropped = std::move(analyzer_);
        source_.reset();
        running_ = false;
        ++generation_;
    }
    setTimerActive(false);
}

void TuningAnalysisWorker::reset()
{
    QMetaObject::invokeMethod(
        timer_,
        [this] {
            std::lock_guard lock(tickMutex_);
            if (analyzer_)
                analyzer_->reset();
        },
        Qt::QueuedConnection);
}

void TuningAnalysisWorker::setOnEstimate(EstimateCallback callback)
{
    std::lock_guard lock(callbackMutex_);
    onEstimate_ = std::move(callback);
}

bool TuningAnalysisWorker::isRunning() const
{
    std::lock_guard lock(tickMutex_);
    return running_;
}

void TuningAnalysisWorker::tick()
{
    TuningAnalyzer::Estimate estimate;
    std::shared_ptr<RetuneEngine> engine;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(tickMutex_);
        if (!analyzer_ || scratch_.empty())
            return;
        engine = source_.lock();
        if (!engine)
            return;
        for (int reads = 0; reads < kMaxReadsPerTick; ++reads) {
            const auto got = engine->readAnalysisSamples(scratch_.data(), scratchCapacity);
            if (!got || *got == 0)
                break;
            analyzer_->append(scratch_.data(), *got);
            if (*got != static_cast<std::uint32_t>(scratchCapacity))
                break;
        }
        estimate = analyzer_->estimate();
        generation = generation_.load();
    }
    EstimateCallback callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = onEstimate_;
    }
    if (callback) {
        const double elapsed = tickMilliseconds / 1000.0;
        QMetaObject::invokeMethod(
            this,
            [this, callback = std::move(callback), estimate, elapsed, generation] {
                if (generation == generation_.load())
                    callback(estimate, elapsed);
            },
            Qt::QueuedConnection);
    }
}
