// SPDX-License-Identifier: GPL-3.0-or-later
#include "TonvelCore/FileTuningEstimator.h"

#include "tv_fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

namespace {

constexpr double twoPi = 2.0 * std::numbers::pi;

// About 0.37 s frames: at 44.1 kHz bins of 2.7 Hz, so two notes a semitone apart are resolved
// from about 80 Hz up, while a note still stays in place for most of a frame.
constexpr double frameSeconds = 0.37;
constexpr double lowestHz = 65.0;
constexpr double highestHz = 4200.0;
// Quieter frames are silence or fades: their peaks are mostly noise.
constexpr double gateMeanSquare = 1e-7;
constexpr float relativePeakThreshold = 0.02f;
// A peak's region reaches down to this share of its height (-26 dB).
constexpr float regionFloor = 0.05f;
// Partials this close (in cents) to a whole multiple h of a lower peak count as its harmonics.
constexpr double harmonicToleranceCents = 20.0;
// Harmonic numbers that are not octaves: their equal-tempered error is not zero.
constexpr int nonOctaveHarmonics[] = {3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15};
// Mains lines: k x 50 and k x 60 Hz up to this k, within this many cents (mains drift).
constexpr int humHarmonics = 16;
constexpr double humToleranceCents = 12.0;
// A line present in at least this share of the voiced frames is steady: hum, not music.
constexpr double humSteadyShare = 0.5;
// Mode: the deviation histogram is smoothed with these Gaussians (cents, coarse to fine) to
// find its peak, which is then refined by the weighted mean within refineCents of it. When less
// than sharpShare of the weight within broadCents lies within sharpCents of that peak, there
// is no sharp peak (a voice with wide vibrato): the mean over broadCents is used instead.
constexpr double smoothingCents[] = {8.0, 3.0, 1.5};
constexpr double refineCents = 5.0;
constexpr double broadCents = 12.0;
constexpr double sharpCents = 3.0;
constexpr double sharpShare = 0.4;
// Confidence: share of weight within this many cents of the mode, and pitch classes counted
// when they hold at least this share of the strongest one's weight there.
constexpr double concentrationCents = 6.0;
constexpr double pitchClassShare = 0.1;
constexpr double coverageSeconds = 3.0;

} // namespace

double FileTuningEstimator::wrapDeviation(double cents)
{
    double d = std::fmod(cents, 100.0);
    if (d >= 50.0)
        d -= 100.0;
    else if (d < -50.0)
        d += 100.0;
    return d;
}

std::unique_ptr<FileTuningEstimator> FileTuningEstimator::create(double sampleRate)
{
    if (!std::isfinite(sampleRate) || sampleRate < 4000.0 || sampleRate > 768000.0)
        return nullptr;
    try {
        std::unique_ptr<FileTuningEstimator> e(new FileTuningEstimator(sampleRate));
        e->fft_.reset(tv_fft_create(std::uint32_t(e->frameSize_)));
        if (!e->fft_)
            return nullptr;
        return e;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

FileTuningEstimator::FileTuningEstimator(double sampleRate) : sampleRate_(sampleRate)
{
    // The power of two closest (on a log scale) to the wanted frame length.
    const double wanted = std::log2(sampleRate * frameSeconds);
    frameSize_ = std::int64_t(1) << int(std::lround(wanted));
    hopSize_ = frameSize_ / 4;
    frames_ = OverlappingFrames(frameSize_, hopSize_);
    windowed_.assign(std::size_t(frameSize_), 0.0f);
    window_.resize(std::size_t(frameSize_));
    for (std::int64_t i = 0; i < frameSize_; ++i) // periodic Hann
        window_[std::size_t(i)] = float(0.5 * (1.0 - std::cos(twoPi * double(i) / double(frameSize_))));
    outReal_.assign(std::size_t(frameSize_ / 2), 0.0f);
    outImag_.assign(std::size_t(frameSize_ / 2), 0.0f);
    magnitudes_.assign(std::size_t(frameSize_ / 2), 0.0f);
    const double binWidth = sampleRate / double(frameSize_);
    lowBin_ = std::max<std::int64_t>(3, std::int64_t(std::floor(lowestHz / binWidth)));
    highBin_ = std::min<std::int64_t>(frameSize_ / 2 - 4, std::int64_t(std::ceil(highestHz / binWidth)));
    peaks_.reserve(std::size_t(std::max<std::int64_t>(0, highBin_ - lowBin_) / 2 + 1));
    histogram_.assign(octaveBins, 0.0);

    for (const double base : {50.0, 60.0}) {
        for (int k = 1; k <= humHarmonics; ++k) {
            const double hz = base * k;
            if (hz < lowestHz || hz > highestHz)
                continue;
            // 300 Hz and its multiples belong to both families: one line is enough.
            if (std::any_of(humLines_.begin(), humLines_.end(), [&](const HumLine &l) { return l.hz == hz; }))
                continue;
            HumLine line;
            line.hz = hz;
            const double pos = std::fmod(1200.0 * std::log2(hz / 440.0) - humToleranceCents + 2400.0, 1200.0);
            line.firstBin = int(std::floor(pos * binsPerCent));
            humLines_.push_back(line);
        }
    }
}

FileTuningEstimator::~FileTuningEstimator() = default;

void FileTuningEstimator::append(const float *samples, std::int64_t count)
{
    frames_.append(samples, count, [this](const float *frame) { analyseFrame(frame); });
}

void FileTuningEstimator::analyseFrame(const float *frame)
{
    ++analysedFrames_;
    double energy = 0.0;
    for (std::size_t i = 0; i < windowed_.size(); ++i) {
        const float v = frame[i] * window_[i];
        windowed_[i] = v;
        energy += double(v) * double(v);
    }
    // Hann keeps 3/8 of the energy; compare the signal's own mean square with the gate.
    if (!(energy / (0.375 * double(frameSize_)) > gateMeanSquare) || !std::isfinite(energy))
        return;
    tv_fft_forward(fft_.get(), windowed_.data(), outReal_.data(), outImag_.data());
    // Regions may reach two bins past the band, and their vertex needs one neighbour more.
    for (std::int64_t k = lowBin_ - 3; k <= highBin_ + 3; ++k) {
        const float re = outReal_[std::size_t(k)], im = outImag_[std::size_t(k)];
        magnitudes_[std::size_t(k)] = std::sqrt(re * re + im * im);
    }
    collectPeaks();
}

void FileTuningEstimator::collectPeaks()
{
    const float *mag = magnitudes_.data();
    float largest = 0.0f;
    for (std::int64_t k = lowBin_; k <= highBin_; ++k)
        largest = std::max(largest, mag[k]);
    if (!(largest > 0.0f))
        return;
    const float threshold = relativePeakThreshold * largest;
    const double binWidth = sampleRate_ / double(frameSize_);

    // Each peak is the region around a local maximum down to 5 % of its height. A steady
    // partial makes a Hann main lobe of at most five bins: its frequency is the vertex of the
    // parabola through the log magnitudes (a Hann lobe is close to a Gaussian near its top, and
    // a Gaussian is a parabola in the log domain), good to about 1 % of a bin. A wider region is
    // a partial whose frequency moved during the frame (vibrato, glides): its power centroid is
    // the power-weighted mean of the frequencies it passed through, where the vertex would sit
    // on one of the turning points.
    peaks_.clear();
    std::int64_t regionEnd = lowBin_ - 1;
    for (std::int64_t k = lowBin_; k <= highBin_; ++k) {
        const float m = mag[k];
        if (k <= regionEnd || !(m > threshold && m > mag[k - 1] && m >= mag[k + 1]))
            continue;
        float top = m;
        std::int64_t best = k;
        std::int64_t left = k;
        while (left - 1 > regionEnd && left - 1 >= lowBin_ - 2 && mag[left - 1] > regionFloor * top)
            --left;
        std::int64_t right = k;
        while (right + 1 <= highBin_ + 2 && mag[right + 1] > regionFloor * top) {
            ++right;
            if (mag[right] > top) {
                top = mag[right];
                best = right;
            }
        }
        regionEnd = right;
        double bin;
        if (right - left <= 4 || best <= lowBin_ - 2 || best >= highBin_ + 2) {
            const double a = std::log(double(std::max(mag[best - 1], 1e-30f)));
            const double b = std::log(double(top));
            const double c = std::log(double(std::max(mag[best + 1], 1e-30f)));
            const double d = a - 2.0 * b + c;
            bin = double(best) + (d < 0.0 ? std::clamp(0.5 * (a - c) / d, -0.5, 0.5) : 0.0);
        } else {
            double sum = 0.0, weight = 0.0;
            for (std::int64_t j = left; j <= right; ++j) {
                const double p = double(mag[j]) * double(mag[j]);
                sum += p * double(j);
                weight += p;
            }
            bin = sum / weight;
        }
        peaks_.push_back({bin * binWidth, top});
    }
    if (peaks_.empty())
        return;

    for (HumLine &line : humLines_)
        line.presentThisFrame = false;
    const double harmonicRatio = std::exp2(harmonicToleranceCents / 1200.0);
    bool any = false;
    for (const Peak &p : peaks_) {
        // Drop partials that sit on a non-octave harmonic of a lower peak of reasonable strength.
        bool harmonic = false;
        for (const int h : nonOctaveHarmonics) {
            const double f0 = p.hz / h;
            if (f0 < peaks_.front().hz / harmonicRatio)
                break;
            const auto it = std::lower_bound(peaks_.begin(), peaks_.end(), f0 / harmonicRatio,
                                             [](const Peak &q, double hz) { return q.hz < hz; });
            for (auto q = it; q != peaks_.end() && q->hz <= f0 * harmonicRatio; ++q) {
                if (q->magnitude >= 0.05f * p.magnitude) {
                    harmonic = true;
                    break;
                }
            }
            if (harmonic)
                break;
        }
        if (harmonic)
            continue;
        addPeak(p.hz, double(p.magnitude / largest));
        any = true;
    }
    if (any) {
        voicedFrames_ += 1.0;
        for (HumLine &line : humLines_)
            line.framesPresent += line.presentThisFrame ? 1.0 : 0.0;
    }
}

void FileTuningEstimator::addPeak(double hz, double weight)
{
    const double cents = 1200.0 * std::log2(hz / 440.0);
    double pos = std::fmod(cents, 1200.0);
    if (pos < 0.0)
        pos += 1200.0;
    const int bin = std::min(octaveBins - 1, int(pos * binsPerCent));
    for (HumLine &line : humLines_) {
        if (std::abs(1200.0 * std::log2(hz / line.hz)) <= humToleranceCents) {
            const int local = ((bin - line.firstBin) % octaveBins + octaveBins) % octaveBins;
            if (local < int(line.histogram.size())) {
                line.histogram[std::size_t(local)] += weight;
                line.presentThisFrame = true;
                return;
            }
        }
    }
    histogram_[std::size_t(bin)] += weight;
}

FileTuningEstimator::Estimate FileTuningEstimator::estimate() const
{
    std::vector<double> octave = histogram_;
    for (const HumLine &line : humLines_) {
        if (voicedFrames_ > 0.0 && line.framesPresent >= humSteadyShare * voicedFrames_)
            continue;
        for (std::size_t i = 0; i < line.histogram.size(); ++i)
            octave[(std::size_t(line.firstBin) + i) % octaveBins] += line.histogram[i];
    }

    constexpr int foldBins = 100 * binsPerCent;
    std::array<double, foldBins> folded{};
    double total = 0.0;
    for (int i = 0; i < octaveBins; ++i) {
        folded[std::size_t(i % foldBins)] += octave[std::size_t(i)];
        total += octave[std::size_t(i)];
    }
    if (!(total > 0.0))
        return Estimate::assumedStandard;

    // Coarse to fine: the widest smoothing finds the region the evidence agrees on (a vibrato
    // voice spreads it over tens of cents), each finer one its peak within the last one's reach.
    // Finding the peak with the fine smoothing alone could land on a chance spike elsewhere.
    int best = -1;
    int coarse = -1;
    double reachCents = 50.0;
    for (const double sigma : smoothingCents) {
        const int reach = int(std::ceil(3.0 * sigma * binsPerCent));
        double bestValue = -1.0;
        int found = best;
        for (int i = 0; i < foldBins; ++i) {
            if (best >= 0) {
                const int distance = std::abs(i - best);
                if (std::min(distance, foldBins - distance) > reachCents * binsPerCent)
                    continue;
            }
            double sum = 0.0;
            for (int j = -reach; j <= reach; ++j) {
                const double x = double(j) / (sigma * binsPerCent);
                sum +=
                    std::exp(-0.5 * x * x) * folded[std::size_t(((i + j) % foldBins + foldBins) % foldBins)];
            }
            if (sum > bestValue) {
                bestValue = sum;
                found = i;
            }
        }
        best = found;
        if (coarse < 0)
            coarse = found;
        reachCents = sigma;
    }

    // Refine: weighted mean of the deviations near the peak, a few times (mean shift).
    auto binCents = [](int i) { return (double(i) + 0.5) / binsPerCent; };
    auto weightNear = [&](double centre, double window, double *mean) {
        double sum = 0.0, weight = 0.0;
        for (int i = 0; i < foldBins; ++i) {
            const double d = wrapDeviation(binCents(i) - centre);
            if (std::abs(d) <= window) {
                sum += folded[std::size_t(i)] * d;
                weight += folded[std::size_t(i)];
            }
        }
        if (mean)
            *mean = weight > 0.0 ? centre + sum / weight : centre;
        return weight;
    };
    auto meanShift = [&](double centre, double window) {
        for (int iteration = 0; iteration < 6; ++iteration)
            weightNear(centre, window, &centre);
        return centre;
    };
    const double fine = meanShift(binCents(best), refineCents);
    const double broad = meanShift(binCents(coarse), broadCents);
    const double sharpness =
        weightNear(fine, sharpCents, nullptr) / std::max(weightNear(broad, broadCents, nullptr), 1e-30);
    const double mode = sharpness >= sharpShare ? fine : broad;
    const double offset = wrapDeviation(mode);

    // Confidence: how much of the evidence agrees with the mode beyond chance ...
    double near = 0.0;
    std::array<double, 12> pitchClasses{};
    for (int i = 0; i < octaveBins; ++i) {
        if (std::abs(wrapDeviation(binCents(i) - offset)) <= concentrationCents) {
            near += octave[std::size_t(i)];
            // Pitch class of the note this bin is close to, counted from A.
            const int pc = (int(std::lround((binCents(i) - offset) / 100.0)) % 12 + 12) % 12;
            pitchClasses[std::size_t(pc)] += octave[std::size_t(i)];
        }
    }
    const double chance = 2.0 * concentrationCents / 100.0;
    const double concentration = std::clamp((near / total - chance) / (1.0 - chance), 0.0, 1.0);
    // ... how many pitch classes it comes from ...
    const double strongest = *std::max_element(pitchClasses.begin(), pitchClasses.end());
    const auto classes = std::count_if(pitchClasses.begin(), pitchClasses.end(),
                                       [&](double w) { return w > 0.0 && w >= pitchClassShare * strongest; });
    const double variety = std::clamp((double(classes) - 1.0) / 2.0, 0.0, 1.0);
    // ... and how long tonal sound was heard.
    const double coverage = std::min(voicedFrames_ * double(hopSize_) / sampleRate_ / coverageSeconds, 1.0);
    return {440.0 * std::exp2(offset / 1200.0), offset, concentration * variety * coverage};
}
