// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// OfflineRender.h: the render chain driven from memory instead of a sound server.
//
// Summary
//   OfflineRender owns one chain's DSP objects (ChainDsp: the engine that is used, or all of
//   them) and pushes interleaved audio through renderBlock() in blocks, as
//   a device would. It removes the engine's latency: the first output frame it returns
//   belongs to the first input frame, and flush() plays the tail out, so the output has
//   exactly the input's length. velmora-cli retune and the measured runs use it.
//
// Real-time safety
//   Not meant for a real-time thread: create() allocates. process() and flush() allocate
//   nothing (the chain itself is real-time safe).
//
// Thread safety
//   One object is used by one thread at a time.

#include "render/ChainDsp.h"

#include <cstdint>
#include <memory>
#include <vector>

class OfflineRender {
public:
    // Null if channels is 0 or above 8, the rate is not positive, block is 0, or a DSP
    // object cannot be created. The chain starts on `engine`, ready at once.
    // Only that engine is built unless allEngines is set (needed for select()).
    static std::unique_ptr<OfflineRender> create(uint32_t channels, double sampleRate, double factor,
                                                 EngineKind engine, uint32_t blockFrames = 512,
                                                 bool allEngines = false, ChainDsp::Use use = ChainDsp::Use::live);
    OfflineRender(const OfflineRender &) = delete;
    OfflineRender &operator=(const OfflineRender &) = delete;

    uint32_t channels() const { return channels_; }
    uint32_t blockFrames() const { return block_; }
    // Frames by which the engine's output trails its input (removed from what is returned).
    uint32_t latencyFrames() const { return latency_; }
    // The DSP objects, for measurements (switching engines, factors, counters).
    ChainDsp &dsp() const { return *dsp_; }

    // Renders `frames` (at most blockFrames()) interleaved input frames and writes the aligned
    // output frames that became available to `output` (room for `frames` frames).
    // Returns how many were written: fewer than `frames` while the latency is being removed.
    uint32_t process(const float *input, uint32_t frames, float *output);

    // Plays the tail out: writes up to maxFrames aligned frames to output, never more than
    // the input still owed. Returns 0 once the output is as long as the input.
    uint32_t flush(float *output, uint32_t maxFrames);

    // Switches the chain to another engine, as a user would while audio runs (with the
    // switcher's fade). For measurements.
    void select(EngineKind engine) { dsp_->select(engine); }

private:
    OfflineRender() = default;
    // input null: silence.
    uint32_t renderInto(const float *input, uint32_t frames, float *output);

    uint32_t channels_ = 0;
    uint32_t block_ = 0;
    uint32_t latency_ = 0;
    uint64_t dropRemaining_ = 0;
    uint64_t framesIn_ = 0;
    uint64_t framesOut_ = 0;
    std::unique_ptr<ChainDsp> dsp_;
    std::vector<float> scratch_; // interleaved output of one block
    // The chain is planar: files are interleaved, and only here is one turned into the other.
    std::vector<float> planarIn_;
    std::vector<float> planarOut_;
    std::vector<float *> inChannels_;
    std::vector<float *> outChannels_;
};
