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
        analyzer->m_fft = tv_fft_create(std::uint32_t(fftSize));
        if (!analyzer->m_fft)
            return nullptr;
        return analyzer;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

TuningAnalyzer::TuningAnalyzer(double sampleRate, std::int64_t fftSize)
    : m_sampleRate(sampleRate)
    , m_fftSize(fftSize)
    , m_hopSize(fftSize / 2)
    , m_binCount(fftSize / 2)
    , m_decay(std::exp(-double(m_hopSize) / (sampleRate * windowSeconds)))
    , m_expectedFrames(sampleRate * coverageSeconds / double(m_hopSize))
    , m_inputBuffer(std::size_t(fftSize), 0.0f)
    , m_window(std::size_t(fftSize))
    , m_outReal(std::size_t(m_binCount), 0.0f)
    , m_outImag(std::size_t(m_binCount), 0.0f)
    , m_magnitudes(std::size_t(m_binCount), 0.0f)
    , m_windowed(std::size_t(fftSize), 0.0f)
{
    // Symmetric Hann window.
    const double denominator = double(fftSize - 1);
    for (std::int64_t i = 0; i < fftSize; ++i)
        m_window[std::size_t(i)] = float(0.5 * (1.0 - std::cos(twoPi * double(i) / denominator)));

    // The search band depends only on the bin width. Bounds are worked out in double so that
    // an extreme sample rate cannot overflow the integer conversion.
    const double binWidth = sampleRate / double(fftSize);
    const double low = std::max(2.0, std::floor(lowestHz / binWidth));
    const double high = std::min(double(m_binCount - 3), std::floor(highestHz / binWidth));
    if (low < high) {
        m_lowBin = std::int64_t(low);
        m_highBin = std::int64_t(high);
    }
}

TuningAnalyzer::~TuningAnalyzer()
{
    tv_fft_destroy(m_fft);
}

void TuningAnalyzer::append(const float *samples, std::int64_t count)
{
    if (!samples || count <= 0)
        return;
    while (count > 0) {
        const std::int64_t take = std::min(count, m_fftSize - m_inputFill);
        std::memcpy(m_inputBuffer.data() + m_inputFill, samples, std::size_t(take) * sizeof(float));
        m_inputFill += take;
        samples += take;
        count -= take;
        if (m_inputFill == m_fftSize) {
            analyseFrame();
            const std::int64_t keep = m_fftSize - m_hopSize;
            std::memmove(m_inputBuffer.data(), m_inputBuffer.data() + m_hopSize, std::size_t(keep) * sizeof(float));
            m_inputFill = keep;
        }
    }
}

void TuningAnalyzer::analyseFrame()
{
    ++m_analysedFrames;

    double energy = 0.0;
    for (std::size_t i = 0; i < m_windowed.size(); ++i) {
        const float v = m_inputBuffer[i] * m_window[i];
        m_windowed[i] = v;
        energy += double(v) * double(v);
    }
    const double meanSquare = energy / double(m_fftSize);

    {
        // Old evidence fades with every frame, heard or not.
        std::lock_guard guard(m_lock);
        m_accumulatorReal *= m_decay;
        m_accumulatorImag *= m_decay;
        m_weightSum *= m_decay;
        m_voicedFrames *= m_decay;
    }

    if (meanSquare > gateMeanSquare) {
        tv_fft_forward(m_fft, m_windowed.data(), m_outReal.data(), m_outImag.data());
        m_outReal[0] = 0.0f;
        m_outImag[0] = 0.0f;   // also drops the Nyquist value packed there
        for (std::size_t k = 0; k < m_magnitudes.size(); ++k)
            m_magnitudes[k] = std::sqrt(m_outReal[k] * m_outReal[k] + m_outImag[k] * m_outImag[k]);
        accumulatePeaks();
    }

    std::lock_guard guard(m_lock);
    const double coverage = std::min(m_voicedFrames / m_expectedFrames, 1.0);
    m_current = m_weightSum > 0.0 ? estimateFrom(m_accumulatorReal, m_accumulatorImag, m_weightSum, coverage)
                                   : Estimate::assumedStandard;
}

void TuningAnalyzer::accumulatePeaks()
{
    if (m_lowBin >= m_highBin)
        return;
    const float *mag = m_magnitudes.data();

    float largest = 0.0f;
    for (std::int64_t k = m_lowBin; k <= m_highBin; ++k)
        largest = std::max(largest, mag[k]);
    if (!(largest > 0.0f))
        return;
    const float threshold = relativePeakThreshold * largest;
    const double binWidth = m_sampleRate / double(m_fftSize);

    double sumReal = 0.0;
    double sumImag = 0.0;
    double sumWeight = 0.0;
    std::int64_t k = m_lowBin;
    while (k <= m_highBin) {
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
        std::lock_guard guard(m_lock);
        m_accumulatorReal += sumReal;
        m_accumulatorImag += sumImag;
        m_weightSum += sumWeight;
        m_voicedFrames += 1.0;
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
    std::lock_guard guard(m_lock);
    return m_current;
}

void TuningAnalyzer::reset()
{
    m_inputFill = 0;
    m_analysedFrames = 0;
    std::lock_guard guard(m_lock);
    m_accumulatorReal = 0.0;
    m_accumulatorImag = 0.0;
    m_weightSum = 0.0;
    m_voicedFrames = 0.0;
    m_current = Estimate::assumedStandard;
}
