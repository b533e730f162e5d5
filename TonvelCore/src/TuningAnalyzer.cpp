// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/TuningAnalyzer.h"

#include "tv_fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

const TuningAnalyzer::Estimate TuningAnalyzer::Estimate::assumedStandard{440.0, 0.0, 0.0};

namespace {
constexpr double gateMeanSquare = 1e-6;
constexpr float relativePeakThreshold = 0.02f;
constexpr double coverageSeconds = 3.0;
constexpr double twoPi = 2.0 * std::numbers::pi;
} // namespace

std::unique_ptr<TuningAnalyzer> TuningAnalyzer::create(double sampleRate, std::int64_t fftSize)
{
    // The FFT interface takes a 32-bit size.
    if (fftSize < 1024 || fftSize > (std::int64_t(1) << 31) || (fftSize & (fftSize - 1)) != 0)
        return nullptr;
    if (!(sampleRate > 0.0) || !std::isfinite(sampleRate))
        return nullptr;
    try {
        std::unique_ptr<TuningAnalyzer> analyzer(new TuningAnalyzer(sampleRate, fftSize));
        analyzer->fft_.reset(tv_fft_create(std::uint32_t(fftSize)));
        if (!analyzer->fft_)
            return nullptr;
        return analyzer;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

TuningAnalyzer::TuningAnalyzer(double sampleRate, std::int64_t fftSize)
    : sampleRate_(sampleRate)
    , fftSize_(fftSize)
    , hopSize_(fftSize / 2)
    , binCount_(fftSize / 2)
    , decay_(std::exp(-double(hopSize_) / (sampleRate * windowSeconds)))
    , expectedFrames_(sampleRate * coverageSeconds / double(hopSize_))
    , frames_(fftSize, fftSize / 2)
    , window_(std::size_t(fftSize))
    , outReal_(std::size_t(binCount_), 0.0f)
    , outImag_(std::size_t(binCount_), 0.0f)
    , magnitudes_(std::size_t(binCount_), 0.0f)
    , windowed_(std::size_t(fftSize), 0.0f)
{
    // Symmetric Hann window.
    const double denominator = double(fftSize - 1);
    for (std::int64_t i = 0; i < fftSize; ++i)
        window_[std::size_t(i)] = float(0.5 * (1.0 - std::cos(twoPi * double(i) / denominator)));

    // The search band depends only on the bin width. Bounds are worked out in double so that
    // an extreme sample rate cannot overflow the integer conversion.
    const double binWidth = sampleRate / double(fftSize);
    const double low = std::max(2.0, std::floor(lowestHz / binWidth));
    const double high = std::min(double(binCount_ - 3), std::floor(highestHz / binWidth));
    if (low < high) {
        lowBin_ = std::int64_t(low);
        highBin_ = std::int64_t(high);
    }
}

TuningAnalyzer::~TuningAnalyzer() = default;

void TuningAnalyzer::append(const float *samples, std::int64_t count)
{
    frames_.append(samples, count, [this](const float *frame) { analyseFrame(frame); });
}

void TuningAnalyzer::analyseFrame(const float *frame)
{
    ++analysedFrames_;

    double energy = 0.0;
    for (std::size_t i = 0; i < windowed_.size(); ++i) {
        const float v = frame[i] * window_[i];
        windowed_[i] = v;
        energy += double(v) * double(v);
    }
    const double meanSquare = energy / double(fftSize_);

    {
        // Old evidence fades with every frame, heard or not.
        std::lock_guard guard(lock_);
        accumulatorReal_ *= decay_;
        accumulatorImag_ *= decay_;
        weightSum_ *= decay_;
        voicedFrames_ *= decay_;
    }

    if (meanSquare > gateMeanSquare) {
        tv_fft_forward(fft_.get(), windowed_.data(), outReal_.data(), outImag_.data());
        outReal_[0] = 0.0f;
        outImag_[0] = 0.0f;   // also drops the Nyquist value packed there
        for (std::size_t k = 0; k < magnitudes_.size(); ++k)
            magnitudes_[k] = std::sqrt(outReal_[k] * outReal_[k] + outImag_[k] * outImag_[k]);
        accumulatePeaks();
    }

    std::lock_guard guard(lock_);
    const double coverage = std::min(voicedFrames_ / expectedFrames_, 1.0);
    current_ = weightSum_ > 0.0 ? estimateFrom(accumulatorReal_, accumulatorImag_, weightSum_, coverage)
                                   : Estimate::assumedStandard;
}

void TuningAnalyzer::accumulatePeaks()
{
    if (lowBin_ >= highBin_)
        return;
    const float *mag = magnitudes_.data();

    float largest = 0.0f;
    for (std::int64_t k = lowBin_; k <= highBin_; ++k)
        largest = std::max(largest, mag[k]);
    if (!(largest > 0.0f))
        return;
    const float threshold = relativePeakThreshold * largest;
    const double binWidth = sampleRate_ / double(fftSize_);

    double sumReal = 0.0;
    double sumImag = 0.0;
    double sumWeight = 0.0;
    std::int64_t k = lowBin_;
    while (k <= highBin_) {
        const float m = mag[k];
        // Strictly above the left neighbour, at least the right one: of two equal bins the left counts.
        if (!(m > threshold && m > mag[k - 1] && m >= mag[k + 1])) {
            ++k;
            continue;
        }
        // Log-parabolic interpolation of the peak position.
        const double a = std::log(double(std::max(mag[k - 1], 1e-20f)));
        const double c = std::log(double(std::max(mag[k + 1], 1e-20f)));
        const double centre = std::log(double(m));
        const double d = a - 2.0 * centre + c;
        const double delta = std::abs(d) <= 1e-12 ? 0.0 : std::clamp(0.5 * (a - c) / d, -0.5, 0.5);
        const double f = (double(k) + delta) * binWidth;
        if (f >= lowestHz && f <= highestHz) {
            const double centsAboveA4 = 1200.0 * std::log2(f / 440.0);
            const double nearest = std::round(centsAboveA4 / 100.0) * 100.0;   // halves away from zero
            const double theta = twoPi * (centsAboveA4 - nearest) / 100.0;
            const double weight = std::sqrt(double(m));
            sumReal += weight * std::cos(theta);
            sumImag += weight * std::sin(theta);
            sumWeight += weight;
        }
        k += 2;   // the next bin is below this one, so it cannot be a peak
    }

    // Non-finite input (overflowing samples) must not poison the running sums for good.
    if (sumWeight > 0.0 && std::isfinite(sumWeight) && std::isfinite(sumReal) && std::isfinite(sumImag)) {
        std::lock_guard guard(lock_);
        accumulatorReal_ += sumReal;
        accumulatorImag_ += sumImag;
        weightSum_ += sumWeight;
        voicedFrames_ += 1.0;
    }
}

TuningAnalyzer::Estimate TuningAnalyzer::estimateFrom(double sumReal, double sumImag, double weightSum,
                                                      double coverage)
{
    const double resultant = std::sqrt(sumReal * sumReal + sumImag * sumImag) / weightSum;
    double offset = std::atan2(sumImag, sumReal) / twoPi * 100.0;
    // atan2 reaches +pi: the half-open range -50 <= offset < 50 maps that to -50.
    if (offset >= 50.0)
        offset -= 100.0;
    else if (offset < -50.0)
        offset += 100.0;
    return {440.0 * std::exp2(offset / 1200.0), offset, resultant * coverage};
}

TuningAnalyzer::Estimate TuningAnalyzer::estimate() const
{
    std::lock_guard guard(lock_);
    return current_;
}

void TuningAnalyzer::reset()
{
    frames_.clear();
    analysedFrames_ = 0;
    std::lock_guard guard(lock_);
    accumulatorReal_ = 0.0;
    accumulatorImag_ = 0.0;
    weightSum_ = 0.0;
    voicedFrames_ = 0.0;
    current_ = Estimate::assumedStandard;
}
