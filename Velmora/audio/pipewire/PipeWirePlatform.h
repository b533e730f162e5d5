// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// PipeWirePlatform.h: the audio platform seam on PipeWire.
//
// Summary
//   Maps the platform operations onto one PipeWire session (PwSession) and at most one chain
//   (PwChain: tap stream, router, output stream):
//     system object     'dOut' = node of default.audio.sink (never our tap), 'dev#' = sinks
//                       without our tap, 'id2p' = our own process (any non-zero answer)
//     device            id = registry id, 'uid ' = node.name, 'lnam' = node.description, else
//                       node.nick, else "Unbekannt"; 'nsrt' = graph rate; 'fsiz' = quantum
//                       limit; 'slay' = the device's channels
//     process tap       the tap stream; 'tuid' = its node.name; 'tfmt' = planar float stereo
//     aggregate device  the output stream (its registry id), in the tap's group
//     I/O block         run by the output stream's process callback (trigger pattern)
//   Status codes are negative errno values.
//
//   Rebuilds: destroyProcessTap/destroyAggregateDevice park the chain instead of removing it.
//   The parked output plays silence and every application stays routed into the tap, so no
//   unprocessed audio reaches the device. The next createProcessTap/createAggregateDevice
//   within parkMs adopts it (moving the output to another device if asked); otherwise it is
//   removed for real and the applications return to their device. releaseParked() (and the
//   destructor) removes it at once, for process exit.
//
//   The tap's serial is kept in a state file ($XDG_STATE_HOME/<application id>/pipewire-tap)
//   while it exists, so that clearStaleRouting() of a later run can find routing that a run
//   that died left behind. A tap node of another live process is never touched.
//
// Real-time safety
//   Only the I/O block runs on the real-time thread (see PwChain.h).
//
// Thread safety
//   Every operation may be called from any non-real-time thread; they serialise on the
//   session's loop lock. Listener blocks are posted to their SerialExecutor, never run with a
//   lock held.
//
#include "audio/AudioPlatform.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace pwl {
class Session;
class Chain;
}
struct spa_source;

class PipeWirePlatform final : public AudioPlatform {
    struct Private {};

public:
    struct Options {
        int timeoutMs = 3000;  // every wait on the server
        int idleMs = 3000;     // nothing linked into the tap this long: pause
        int parkMs = 1000;     // a released chain waits this long for adoption
        std::string stateDir;  // empty: $XDG_STATE_HOME/<application id>
        std::string appId = "org.velmora.Velmora";
    };

    // Connects to the PipeWire server. Throws AudioError(status, "Verbindung zu PipeWire
    // herstellen") when there is none or it does not answer in time.
    static std::shared_ptr<PipeWirePlatform> connect(const Options &options);
    static std::shared_ptr<PipeWirePlatform> connect() { return connect(Options{}); }
    PipeWirePlatform(Private, const Options &options);
    ~PipeWirePlatform() override;

    // False when no session manager runs (no "default" metadata): nothing would be linked.
    bool hasSessionManager() const;
    // Removes a parked chain now and makes sure the server has seen it (process exit).
    void releaseParked();
    // Milliseconds the output played silence during the last adopted rebuild (stop to start).
    double lastRebuildGapMs() const;
    // Applications currently routed into the tap.
    int routedStreams() const;
    std::string stateFilePath() const;

    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress &address,
                             std::uint32_t qualifierSize, const void *qualifier, std::uint32_t &ioDataSize,
                             void *data) override;
    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                 std::uint32_t &outDataSize) override;
    OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress &address,
                               std::optional<std::string> &out) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                 SerialExecutor &queue, AudioObjectPropertyListenerBlock block,
                                 AudioListenerID &outID) override;
    OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                    SerialExecutor &queue, AudioListenerID id) override;
    OSStatus createProcessTap(const CATapDescription &description, AudioObjectID &outTapID) override;
    OSStatus destroyProcessTap(AudioObjectID tapID) override;
    OSStatus createAggregateDevice(const AggregateDeviceDescription &description,
                                   AudioObjectID &outDeviceID) override;
    OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block, AudioDeviceIOProcID &outID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID id) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID id) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID id) override;
    bool deviceIsIdle(AudioObjectID device) const override;
    AudioObjectOwner objectOwner(AudioObjectID object) const override;
    int clearStaleRouting() override;
    OSStatus setProcessingLatency(AudioObjectID device, std::uint32_t frames) override;

private:
    class Observer;
    struct Listener;

    // All below: loop lock held.
    std::uint32_t defaultDeviceId() const;
    std::uint32_t graphRate(std::uint32_t device) const;
    bool isAggregate(AudioObjectID id) const;
    bool isTap(AudioObjectID id) const;
    bool isDevice(AudioObjectID id) const;
    std::uint32_t deviceChannels(AudioObjectID id) const;
    void schedulePark();
    void destroyChain();
    void fire(AudioObjectPropertySelector selector);
    void writeStateFile();
    void removeStateFile();
    static void parkTimerFired(void *data, std::uint64_t expirations);

    Options options_;
    std::unique_ptr<pwl::Session> session_;
    std::unique_ptr<Observer> observer_;
    std::unique_ptr<pwl::Chain> chain_;
    spa_source *parkTimer_ = nullptr;
    bool tapHeld_ = false;
    bool aggregateHeld_ = false;
    std::string aggregateUid_;
    std::string aggregateName_;
    std::unique_ptr<AudioDeviceIOBlock> block_;
    AudioDeviceIOProcID blockId_ = 0;
    AudioDeviceIOProcID nextBlockId_ = 0;
    std::string lastDefaultName_;
    std::chrono::steady_clock::time_point stoppedAt_{};
    bool stoppedForRebuild_ = false;
    double lastGapMs_ = -1;
    std::uint32_t reportedRate_ = 0;  // 'nsrt' last read for the aggregate device

    mutable std::mutex listenersMutex_;
    std::map<AudioListenerID, std::shared_ptr<Listener>> listeners_;
    AudioListenerID nextListenerId_ = 0;
};
