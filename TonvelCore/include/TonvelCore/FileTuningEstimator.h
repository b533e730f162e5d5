// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TonvelCore/OverlappingFrames.h"
#include <tv_handles.h>

#include "TonvelCore/TuningAnalyzer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>


// Summary
//   Estimates the reference A4 of a whole recording, for files (velmora-cli detect), where
//   everything can be heard before answering. The live TuningAnalyzer follows a stream with a
//   7 s memory and a weighted circular mean; this one collects the spectral peaks of every
//   frame of the recording and takes the mode of a fine histogram of their deviations from the
//   equal-tempered grid (A4 = 440 Hz), refined by a local mean around the mode.
//
//   Why the mode and not a mean: the 5th, 7th, 10th and 11th partials of a harmonic tone lie
//   14 to 49 cents flat of the grid, vibrato sidebands and stiff-string partials land anywhere;
//   all of them pull a mean, while they scatter over the histogram and leave the mode where the
//   fundamentals and their octaves agree. Further:
//   - Partials that are not octaves of a lower peak in the same frame (3rd, 5th, 6th, 7th, 9th
//     ... harmonic) are dropped: their deviation is that of the tone plus a fixed interval
//     error, which only blurs the mode.
//   - Each peak weighs its magnitude relative to the frame's strongest: strong partials are the
//     fundamentals and low harmonics, with the best signal-to-noise ratio and the least
//     interference from neighbours; every tonal frame counts alike, loud or soft.
//   - A partial whose frequency moves within a frame (vibrato) is measured by the power centroid
//     of its whole spectral region, the mean of the frequencies it passed through; when the
//     histogram has no sharp peak (a voice with wide vibrato), the mean of its broad lobe is
//     taken instead of the mode.
//   - Lines at whole multiples of 50 or 60 Hz that are present in most voiced frames are mains
//     hum, not music, and are left out (a hum's partials agree perfectly, at about +34 ct).
//   - The confidence (0 ... 1, same threshold as the live analyzer) is the share of the weight
//     close to the mode above what a flat histogram would put there, scaled down when fewer
//     than three pitch classes carry the evidence (a test tone, a drum, a hum cannot show a
//     tuning) and when less than 3 s of tonal sound was heard.
//
// Real-time safety
//   Not for the audio thread. create() allocates everything; append() allocates nothing.
//
// Thread safety
//   One object is used by one thread at a time.
class FileTuningEstimator {
public:
    using Estimate = TuningAnalyzer::Estimate;

    // Null unless sampleRate is finite and between 4000 and 768000 Hz.
    static std::unique_ptr<FileTuningEstimator> create(double sampleRate);
    ~FileTuningEstimator();
    FileTuningEstimator(const FileTuningEstimator &) = delete;
    FileTuningEstimator &operator=(const FileTuningEstimator &) = delete;

    // Feeds mono samples (mix the channels first). Null or count <= 0 does nothing.
    void append(const float *samples, std::int64_t count);
    void append(std::span<const float> samples) { append(samples.data(), std::int64_t(samples.size())); }

    // The estimate over everything appended so far; (440, 0, 0) before anything tonal was heard.
    Estimate estimate() const;

    double sampleRate() const { return sampleRate_; }
    std::int64_t frameSize() const { return frameSize_; }
    std::uint64_t analysedFrames() const { return analysedFrames_; }

    // Cents folded onto one semitone, -50 <= value < +50: a tuning is only known up to whole
    // semitones.
    static double wrapDeviation(double cents);

    // Deviation histogram resolution: 0.5 ct, over the whole octave so pitch classes can be told.
    static constexpr int binsPerCent = 2;
    static constexpr int octaveBins = 1200 * binsPerCent;

private:
    explicit FileTuningEstimator(double sampleRate);
    void analyseFrame(const float *frame);
    void collectPeaks();
    void addPeak(double hz, double weight);

    struct Peak {
        double hz;
        float magnitude;
    };
    // One candidate mains line (k x 50 or k x 60 Hz): its evidence is kept aside until the end
    // shows whether it was steady.
    struct HumLine {
        double hz;
        double framesPresent = 0.0;
        bool presentThisFrame = false;
        std::array<double, 64> histogram{}; // octave bins from firstBin on
        int firstBin = 0;
    };

    double sampleRate_;
    std::int64_t frameSize_;
    std::int64_t hopSize_;
    std::int64_t lowBin_ = 0;
    std::int64_t highBin_ = 0;

    OverlappingFrames frames_{0, 0}; // sized by create()
    std::vector<float> window_;
    std::vector<float> windowed_;
    std::vector<float> outReal_;
    std::vector<float> outImag_;
    std::vector<float> magnitudes_;
    std::vector<Peak> peaks_;
    std::vector<HumLine> humLines_;
    tv::FftPtr fft_;

    std::vector<double> histogram_; // octaveBins weights: position within the octave above A
    double voicedFrames_ = 0.0;
    std::uint64_t analysedFrames_ = 0;
};
