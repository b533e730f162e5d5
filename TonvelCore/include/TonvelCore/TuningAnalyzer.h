// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TonvelCore/OverlappingFrames.h"
#include <tv_handles.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>


// Summary
//   Estimates the reference A4 a stream of mono samples is tuned to. Frames of N samples
//   (half overlap, Hann window) are searched for spectral peaks between 60 and 2000 Hz; each
//   peak's deviation from the nearest equal-tempered note (A4 = 440 Hz) is an angle on a circle
//   of one semitone, and the √magnitude-weighted circular mean over time (7 s forgetting) is
//   the estimate. Its resultant length times the coverage of voiced frames over 3 s is the
//   confidence.
//
// Real-time safety
//   Not for the audio thread (one FFT of N points per N/2 samples). create() allocates every
//   buffer; append() allocates nothing and holds the lock only for a few additions per frame.
//
// Thread safety
//   append() and reset() run on one feeding thread (the analysis worker); reset() may also be
//   called while no append() runs. estimate() may be called from any thread at any time.
class TuningAnalyzer
{
public:
    struct Estimate
    {
        double a4Hz;          // 440 * 2^(centsOffset / 1200)
        double centsOffset;   // -50 <= value < +50
        double confidence;    // 0 ... 1

        bool isConfident() const { return confidence >= confidenceThreshold; }
        static const Estimate assumedStandard;
        friend bool operator==(const Estimate &, const Estimate &) = default;
    };

    static constexpr double confidenceThreshold = 0.35;

    // Null unless fftSize is a power of two in 1024 ... 2^31, sampleRate is finite and > 0,
    // and the FFT and buffers can be had.
    static std::unique_ptr<TuningAnalyzer> create(double sampleRate, std::int64_t fftSize);
    ~TuningAnalyzer();
    TuningAnalyzer(const TuningAnalyzer &) = delete;
    TuningAnalyzer &operator=(const TuningAnalyzer &) = delete;

    // Feeds mono samples and analyses every frame they complete. count <= 0 or null does nothing.
    void append(const float *samples, std::int64_t count);
    void append(std::span<const float> samples) { append(samples.data(), std::int64_t(samples.size())); }

    Estimate estimate() const;
    void reset();

    double sampleRate() const { return sampleRate_; }
    std::int64_t fftSize() const { return fftSize_; }
    std::int64_t hopSize() const { return hopSize_; }
    std::int64_t binCount() const { return binCount_; }
    static constexpr double lowestHz = 60.0;
    static constexpr double highestHz = 2000.0;
    static constexpr double windowSeconds = 7.0;

    // Feeding thread only: samples waiting for the next frame, and frames analysed since
    // creation or reset (lets callers line published estimates up with time).
    std::int64_t inputFill() const { return frames_.fill(); }
    std::uint64_t analysedFrames() const { return analysedFrames_; }

    // The publish arithmetic: circular mean of the decayed sums, times coverage (0 ... 1).
    static Estimate estimateFrom(double sumReal, double sumImag, double weightSum, double coverage);

private:
    TuningAnalyzer(double sampleRate, std::int64_t fftSize);
    void analyseFrame(const float *frame);
    void accumulatePeaks();

    double sampleRate_;
    std::int64_t fftSize_;
    std::int64_t hopSize_;
    std::int64_t binCount_;
    std::int64_t lowBin_ = 0;    // first bin searched for peaks
    std::int64_t highBin_ = 0;   // last bin searched; none when lowBin_ >= highBin_
    double decay_;               // forgetting per frame
    double expectedFrames_;      // hops in 3 s

    OverlappingFrames frames_;
    std::vector<float> window_;
    tv::FftPtr fft_;
    std::vector<float> outReal_;
    std::vector<float> outImag_;
    std::vector<float> magnitudes_;
    std::vector<float> windowed_;
    std::uint64_t analysedFrames_ = 0;

    mutable std::mutex lock_;    // guards the four accumulators and current_, never the FFT
    double accumulatorReal_ = 0.0;
    double accumulatorImag_ = 0.0;
    double weightSum_ = 0.0;
    double voicedFrames_ = 0.0;
    Estimate current_ = Estimate::assumedStandard;
};
