// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// FakeAudioPlatform: an in-memory AudioPlatform that tests script.
//
// Summary
//   Holds devices (UID, name, rate, buffer size, output stream layout, owner), the default
//   output device and the process objects. Taps and aggregate devices created through the
//   interface become objects of their own, with properties taken from the scripted
//   `tapFormat` and `aggregate*` settings. Any operation can be made to fail with a status,
//   any property read too. Property changes are announced with changeProperty(), which posts
//   the registered listener blocks to their executors like the real platform. runIOCycle()
//   calls the I/O block of a started device with buffers the test provides. Every mutating
//   operation is written to a call log, so tests can check order and leftovers.
//
// Real-time safety
//   Not relevant: runIOCycle() runs the block on the calling (test) thread.
//
// Thread safety
//   All members may be called from any thread. runIOCycle() holds the I/O lock while the
//   block runs and destroyIOProcID() takes it, so destroyIOProcID() returns only after a
//   running cycle has finished, as the interface promises.
//
#include "audio/AudioPlatform.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

class FakeAudioPlatform : public AudioPlatform {
public:
    enum class Op {
        getPropertyData,
        getPropertyDataSize,
        getPropertyString,
        addPropertyListener,
        removePropertyListener,
        createProcessTap,
        destroyProcessTap,
        createAggregateDevice,
        destroyAggregateDevice,
        createIOProcID,
        deviceStart,
        deviceStop,
        destroyIOProcID,
    };

    struct Device {
        std::optional<std::string> uid;          // nullopt: read succeeds without a string
        std::optional<std::string> name;
        double sampleRate = 48000.0;
        std::uint32_t bufferFrameSize = 512;
        std::vector<std::uint32_t> outputStreams{2};  // channels per output stream
        AudioObjectOwner owner = AudioObjectOwner::nobody;
    };

    FakeAudioPlatform();
    ~FakeAudioPlatform() override;

    // ---- Scripting -----------------------------------------------------------------------
    AudioObjectID addDevice(Device device);
    AudioObjectID addDevice(const std::string &uid, const std::string &name, double sampleRate = 48000.0,
                            std::uint32_t bufferFrameSize = 512);
    void removeDevice(AudioObjectID id);
    Device &device(AudioObjectID id);  // live edit of a device (or of a created aggregate)
    void setDefaultOutputDevice(AudioObjectID id);
    void setProcessObject(std::int32_t pid, AudioObjectID object);  // 'id2p'

    // Properties of the next objects created.
    AudioStreamBasicDescription tapFormat;           // default: stereo float32 48 kHz
    std::optional<double> aggregateSampleRate;       // nullopt: the master device's rate
    std::optional<std::uint32_t> aggregateBufferFrameSize;  // nullopt: the master's
    std::optional<std::vector<std::uint32_t>> aggregateOutputStreams;  // nullopt: the master's
    int staleRoutes = 0;                             // what clearStaleRouting() finds (once)
    std::set<AudioObjectID> idleDevices;

    // Failures. An operation fails with `status` every time until cleared.
    void failOperation(Op op, OSStatus status);
    // Reads of `selector` (on `object`, or on any object when 0) fail with `status`; `sizeToo`
    // also fails getPropertyDataSize.
    void failProperty(AudioObjectPropertySelector selector, OSStatus status, AudioObjectID object = 0,
                      bool sizeToo = true);
    // getPropertyDataSize of `selector` reports `size` bytes (data reads unaffected).
    void overridePropertySize(AudioObjectPropertySelector selector, std::uint32_t size);
    void clearFailures();

    // Announces a change: every listener on (object, address) is posted to its executor.
    void changeProperty(AudioObjectID object, const AudioObjectPropertyAddress &address);

    // Calls the I/O block of `device` once if it is started. False if nothing ran.
    bool runIOCycle(AudioObjectID device, const AudioBufferList *input, AudioBufferList *output);

    // ---- Inspection ----------------------------------------------------------------------
    std::vector<std::string> callLog() const;
    void clearCallLog();
    std::size_t liveTaps() const;
    std::size_t liveAggregates() const;
    std::size_t liveIOProcs() const;
    std::size_t listenerCount() const;
    std::size_t listenerCount(AudioObjectID object, AudioObjectPropertySelector selector) const;
    std::size_t callCount(Op op) const;
    std::optional<CATapDescription> lastTapDescription() const;
    std::optional<AggregateDeviceDescription> lastAggregateDescription() const;
    AudioObjectID lastAggregateID() const;
    bool isStarted(AudioObjectID device) const;

    // ---- AudioPlatform -------------------------------------------------------------------
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress &address,
                             std::uint32_t qualifierSize, const void *qualifier,
                             std::uint32_t &ioDataSize, void *data) override;
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
    OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                            AudioDeviceIOProcID &outID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID id) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID id) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID id) override;
    bool deviceIsIdle(AudioObjectID device) const override;
    AudioObjectOwner objectOwner(AudioObjectID object) const override;
    int clearStaleRouting() override;
    OSStatus setProcessingLatency(AudioObjectID device, std::uint32_t frames) override;

    // What setProcessingLatency last reported for `device` (nullopt: never).
    std::optional<std::uint32_t> reportedLatency(AudioObjectID device) const;

    // Status of a missing object or an unknown property ('!obj' / 'who?').
    static constexpr OSStatus kBadObject = OSStatus(fourCharCode("!obj"));
    static constexpr OSStatus kUnknownProperty = OSStatus(fourCharCode("who?"));

private:
    struct Tap {
        std::string uid;
        AudioStreamBasicDescription format;
    };
    struct IOProc {
        AudioObjectID device = 0;
        AudioDeviceIOBlock block;
        bool started = false;
    };
    struct Listener {
        AudioObjectID object = 0;
        AudioObjectPropertyAddress address;
        SerialExecutor *queue = nullptr;
        AudioObjectPropertyListenerBlock block;
    };
    struct PropertyFailure {
        OSStatus status = 0;
        AudioObjectID object = 0;
        bool sizeToo = true;
    };

    OSStatus injected(Op op) const;  // caller holds mutex_
    std::optional<OSStatus> propertyFailure(AudioObjectID object, AudioObjectPropertySelector selector,
                                            bool sizeQuery) const;
    void log(std::string entry);
    OSStatus valueBytes(AudioObjectID object, const AudioObjectPropertyAddress &address,
                        std::uint32_t qualifierSize, const void *qualifier,
                        std::vector<unsigned char> &bytes) const;

    mutable std::mutex mutex_;
    std::mutex ioMutex_;  // held while a block runs
    AudioObjectID nextID_ = 100;
    AudioObjectID defaultOutput_ = 0;
    std::map<AudioObjectID, Device> devices_;  // includes created aggregates
    std::set<AudioObjectID> aggregates_;
    std::map<AudioObjectID, Tap> taps_;
    std::map<std::int32_t, AudioObjectID> processObjects_;
    std::map<AudioDeviceIOProcID, IOProc> ioProcs_;
    AudioDeviceIOProcID nextIOProc_ = 1;
    // Shared with the tasks posted to listener queues, which may run after the fake is gone.
    struct ListenerTable {
        std::mutex mutex;
        std::map<AudioListenerID, Listener> entries;
        AudioListenerID next = 1;
    };
    std::shared_ptr<ListenerTable> listeners_ = std::make_shared<ListenerTable>();
    std::map<Op, OSStatus> opFailures_;
    std::map<AudioObjectPropertySelector, PropertyFailure> propertyFailures_;
    std::map<AudioObjectPropertySelector, std::uint32_t> sizeOverrides_;
    std::map<Op, std::size_t> callCounts_;
    std::vector<std::string> callLog_;
    std::optional<CATapDescription> lastTap_;
    std::optional<AggregateDeviceDescription> lastAggregate_;
    AudioObjectID lastAggregateID_ = 0;
    std::map<AudioObjectID, std::uint32_t> reportedLatency_;
};
