// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// PwChain.h: the tap (a virtual sink stream), the router that moves every other application's
// playback into it, and the output stream to the device, run in one graph cycle.
//
// Summary
//   The tap is a capture pw_stream that appears as a sink (media.class Audio/Sink, fixed
//   node.name, node.virtual, lowest priority.session, so the session manager never elects it
//   default). The router writes target.node/target.object into the "default" metadata for
//   every other playback stream (Stream/Output/Audio); our own nodes and streams that
//   explicitly target another device are left alone. The default sink is never written.
//   The output stream plays to a named device in the tap's node.group and node.link-group,
//   stereo, with channelmix.upmix=false so extra device channels stay silent.
//
//   Scheduling follows the trigger pattern: the tap's process callback only triggers the
//   output stream; the output's process callback dequeues both buffers and runs the I/O block
//   on them (planar float: one mono buffer per channel, stride 1). Nothing is buffered in
//   between, so the route adds no latency.
//
//   Latency: the tap's ports report the output device's playback latency (forwarded from the
//   output stream, as a loopback does) plus the processing latency set by the owner, so
//   players see the whole delay and keep pictures in step.
//
//   Idle: when nothing is linked into the tap for idleMs, both streams are paused (the device
//   can suspend, no CPU is used); the first link resumes them. The session manager's own
//   suspend timer is switched off for the tap: we pause it ourselves, and that timer must not
//   outlive a tap that a rebuild replaced.
//
//   Fail open: a watchdog on the loop counts the output's cycles. When the tap is fed and not
//   paused but no cycle ran for stallMs, every moved stream is handed back to the session
//   manager (routing cleared), which links it to its device unprocessed; health() then says
//   bypassed and only a new chain routes streams again.
//
// Real-time safety
//   The two process callbacks run on PipeWire's data loop: they dequeue/queue buffers, call
//   the I/O block and touch nothing else (no allocation, lock, log or system call). The block
//   pointer and the stream pointers they read are swapped by the control side only followed
//   by a blocking empty invoke on the data loop (Session::dataLoopBarrier), so no callback
//   still uses what was swapped out.
//
// Thread safety
//   Every member function must be called with the session's loop lock held. idle() and
//   rate() may be read from any thread.
//
#include "audio/AudioServer.h"
#include "audio/ChainScope.h"
#include "audio/pipewire/PwHandles.h"
#include "audio/pipewire/PwSession.h"

#include <spa/param/latency.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <vector>

struct spa_source;

namespace pwl {

struct ChainConfig {
    std::string tapName; // fixed across runs (the session manager keys on it)
    std::string tapDescription;
    std::string outputName;
    std::string outputDescription;
    std::string group;         // node.group and node.link-group
    std::string ownNamePrefix; // nodes named so belong to some instance of us: never moved
    std::uint64_t formerTapSerial = 0; // a killed run's sink: streams still sent there are ours to take
    int idleMs = 3000;
    int timeoutMs = 3000;
    int stallMs = 1000; // fed but no cycle this long: hand the streams back (fail open)
};

// What the router knows about one playback stream besides its properties.
struct ClaimFacts {
    bool routing = false;     // the chain routes (started, not bypassed, tap present)
    bool bypassed = false;    // the watchdog handed every stream back: the tap feeds nothing
    bool ours = false;        // one of our own nodes (ids, link group, name prefix)
    bool moved = false;       // routed into the tap by us
    bool targetsOther = false; // its own target.object or the metadata names another device
    bool sentToUs = false;    // the metadata names the tap (by us or by someone else)
};
enum class Claim { none, take, giveBack };
// The router's decision for a playback stream: take it into the tap, hand it back to its
// device, or leave it as it is.
Claim claimDecision(const Node &n, const ClaimFacts &facts, const ChainScope &scope);

class Chain : public SessionObserver {
public:
    Chain(Session &session, ChainConfig config);
    ~Chain() override; // destroys both streams and clears the routing
    Chain(const Chain &) = delete;
    Chain &operator=(const Chain &) = delete;

    // Creates and connects the tap (inactive) and waits until the server has its node.
    int createTap();
    // Creates and connects the output stream to `device` (inactive) and waits for its node;
    // waits a little for the format so the rate can be read.
    int createOutput(const Node &device);
    // Moves the output stream to another device (metadata, no new stream).
    int retarget(const Node &device);
    void destroyOutput();

    // Installs (or with null removes) the render callback. When this returns, no process
    // callback uses the previous one any more.
    void setRender(const RenderCallback *render);
    // Starts routing and activates both streams (or resumes idle handling).
    int start();
    // Frames the I/O block delays the audio; published on the tap's ports with the device's
    // own latency.
    int setProcessLatency(std::uint32_t frames);
    // Which streams are taken; applied to the streams there now (moved in or handed back).
    void setScope(const ChainScope &scope);

    // failed once a stream fell into an error state or was disconnected behind our back;
    // bypassed once the watchdog handed the streams back.
    ChainHealth health() const;
    std::uint32_t tapId() const { return tapId_; }
    std::uint64_t tapSerial() const { return tapSerial_; }
    std::uint32_t outputId() const { return outputId_; }
    const std::string &deviceName() const { return deviceName_; }
    bool started() const { return started_; }
    bool idle() const { return idle_.load(std::memory_order_relaxed); }
    std::uint32_t rate() const { return rate_.load(std::memory_order_relaxed); }
    bool isOwnNode(std::uint32_t id) const { return id != 0 && (id == tapId_ || id == outputId_); }

    // Called on the loop thread when the output's negotiated rate changed (also the first time).
    std::function<void(std::uint32_t newRate)> onRateChanged;

    // SessionObserver
    void nodeReady(const Node &n) override;
    void nodeRemoved(std::uint32_t id) override;
    void linksChanged() override;
    void defaultMetadataChanged(std::uint32_t subject, const char *key) override;

private:
    struct StreamHooks;
    ClaimFacts facts(const Node &n) const;
    void evaluate(const Node &n, bool mayTake);
    void route(const Node &n);
    void release(std::uint32_t id);
    void clearRouting();
    void unroute();
    void noteMetadataWrite(int result);
    void updateIdle();
    bool fed() const;
    void setActive(bool active);
    void noteOutputState(pw_stream_state state);
    void watch();
    static void watchdogFired(void *data, std::uint64_t expirations);
    int publishLatency();
    bool namesDevice(const std::string &target) const;
    bool formerTapGone() const;
    static void idleTimerFired(void *data, std::uint64_t expirations);

    static void tapProcess(void *data);
    static void outputProcess(void *data);

    Session &session_;
    ChainConfig config_;

    // Each stream's hooks are removed (StreamHooks reset) before the stream is destroyed.
    std::unique_ptr<StreamHooks> tapHooks_;
    std::unique_ptr<StreamHooks> outputHooks_;
    StreamPtr tap_;
    StreamPtr output_;
    std::uint32_t tapId_ = 0;
    std::uint64_t tapSerial_ = 0;
    std::uint32_t outputId_ = 0;
    std::string deviceName_;
    std::uint32_t deviceId_ = 0;
    std::uint64_t deviceSerial_ = 0;
    bool started_ = false;
    std::set<std::uint32_t> moved_;
    ChainScope scope_;
    LoopSource idleTimer_;
    bool idleTimerArmed_ = false;
    LoopSource watchdog_;
    bool bypassed_ = false;
    bool metadataWarned_ = false; // a failed routing write was logged
    std::uint64_t watchedCycles_ = 0;
    int stalledMs_ = 0;
    std::uint32_t processFrames_ = 0;
    spa_latency_info deviceLatency_{}; // playback latency downstream of the output stream

    std::atomic<bool> idle_{false};
    std::atomic<std::uint32_t> rate_{0};

    // Read by the data loop.
    std::atomic<pw_stream *> rtTap_{nullptr};
    std::atomic<pw_stream *> rtOutput_{nullptr};
    std::atomic<bool> outputStreaming_{false}; // see noteOutputState
    std::atomic<const RenderCallback *> rtRender_{nullptr};
    std::atomic<std::uint64_t> rtCycles_{0}; // output cycles run, for the watchdog
    std::vector<float> zeros_;
};

} // namespace pwl
