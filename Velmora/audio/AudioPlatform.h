// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// AudioPlatform.h: the seam between the audio logic and the sound server.
//
// Summary
//   AudioPlatform is the complete list of platform operations the audio layer uses: property
//   reads by object and address, listeners, create/destroy of the tap and the aggregate
//   device, the I/O callback and start/stop. Everything above it (CoreAudioProperty,
//   AudioSystem, AudioTapProperty, TapEngine) is written against this class only. Two
//   implementations exist: the PipeWire one (audio/pipewire/) and an in-memory fake for tests
//   (FakeAudioPlatform.h).
//
//   Objects are named by 32-bit IDs (AudioObjectID); the system object is 1; 0 is "none".
//   Every operation returns a status: 0 is success, anything else a failure. PipeWire
//   implementations return negative errno values (what spa_strerror knows); AudioError
//   renders them in decimal. Values are copied out, never borrowed: strings come back as
//   std::string.
//
//   Mapping used by the PipeWire implementation (the fake just stores values):
//     system object 1     the graph; 'dOut' = node of "default.audio.sink" in the "default"
//                         metadata (never our own tap: while a chain runs, the device we play
//                         to). No session manager or no sink: 'dOut' reads as 0.
//     'dev#'              registry nodes with media.class Audio/Sink, our own tap left out
//     device 'uid '       node.name; 'lnam' node.description, else node.nick, else node.name
//     'nsrt'              graph rate (negotiated Format while running; before: settings
//                         clock.force-rate / clock.rate, else the device's default format)
//     'fsiz'              the LARGEST block the I/O block can be handed (quantum limit, 8192
//                         by default), not the current quantum: stretch staging is sized from it
//     'slay'              output channel layout of the device (AudioBufferList, see below)
//     process tap         virtual sink stream plus the router that moves other applications'
//                         playback into it; 'tuid' its node.name; 'tfmt' its format
//     aggregate device    tap + output stream to the device in one node group and link group
//
// Real-time safety
//   Only the AudioDeviceIOBlock runs on the real-time thread. It is handed to
//   createIOProcID and called by the platform; nothing else here may be called from it.
//   Every other operation may allocate, lock and block (bounded by time-outs) and is for
//   control threads only.
//
// Thread safety
//   Implementations are thread-safe: any operation may be called from any non-real-time
//   thread, also concurrently (the PipeWire implementation serialises on its thread-loop
//   lock). No operation waits forever: a wait that times out returns a failure status
//   (PipeWire: -ETIMEDOUT). Listener blocks run on the SerialExecutor given when they were
//   added, never on the caller's thread and never with a platform lock held.
//
#include "audio/SerialExecutor.h"
#include "render/RenderChain.h"  // AudioBuffer, AudioBufferList: the records the I/O block gets

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Time of a block, handed to the I/O block for completeness (the system ignores it; a
// platform may pass null).
struct AudioTimeStamp {
    double mSampleTime = 0.0;      // graph position in frames
    std::uint64_t mHostTime = 0;   // monotonic nanoseconds
};

using OSStatus = std::int32_t;
using AudioObjectID = std::uint32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;

// 'abcd' as the 32-bit big-endian number Core Audio uses (first character most significant).
constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16)
         | (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

// Selectors. Value types: see the table on AudioPlatform::getPropertyData.
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice = fourCharCode("dOut");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourCharCode("dev#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyTranslatePIDToProcessObject = fourCharCode("id2p");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourCharCode("uid ");
inline constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCharCode("lnam");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = fourCharCode("nsrt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyBufferFrameSize = fourCharCode("fsiz");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = fourCharCode("slay");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyUID = fourCharCode("tuid");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyFormat = fourCharCode("tfmt");

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector mSelector = 0;
    AudioObjectPropertyScope mScope = kAudioObjectPropertyScopeGlobal;
    AudioObjectPropertyElement mElement = kAudioObjectPropertyElementMain;
    friend constexpr bool operator==(const AudioObjectPropertyAddress &, const AudioObjectPropertyAddress &) = default;
};

constexpr AudioObjectPropertyAddress globalAddress(AudioObjectPropertySelector selector)
{
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

// Statuses this system puts into an AudioError itself (all others come from the platform).
inline constexpr OSStatus kAudioStatusNoString = OSStatus(fourCharCode("what"));   // 2003329396
inline constexpr OSStatus kAudioStatusNoDevice = OSStatus(fourCharCode("!dev"));   // 560227702
inline constexpr OSStatus kAudioStatusBadFormat = OSStatus(fourCharCode("!dat"));  // 560226676
inline constexpr OSStatus kAudioStatusNoMemory = -108;

// Sample format of a tap ('tfmt'), 40 bytes like Core Audio's record.
inline constexpr std::uint32_t kAudioFormatLinearPCM = fourCharCode("lpcm");
inline constexpr std::uint32_t kAudioFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kAudioFormatFlagIsPacked = 1u << 3;
inline constexpr std::uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

struct AudioStreamBasicDescription {
    double mSampleRate = 0.0;
    std::uint32_t mFormatID = 0;
    std::uint32_t mFormatFlags = 0;
    std::uint32_t mBytesPerPacket = 0;
    std::uint32_t mFramesPerPacket = 0;
    std::uint32_t mBytesPerFrame = 0;
    std::uint32_t mChannelsPerFrame = 0;
    std::uint32_t mBitsPerChannel = 0;
    std::uint32_t mReserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// What createProcessTap is asked for (CATapDescription(stereoGlobalTapButExcludeProcesses:)
// plus its setters). Linux: a virtual sink that every other application's playback is moved
// into; "muted when tapped" means the streams are moved, not copied.
enum CATapMuteBehavior : int { CATapUnmuted = 0, CATapMuted = 1, CATapMutedWhenTapped = 2 };

struct CATapDescription {
    std::vector<AudioObjectID> excludedProcesses;  // process objects ('id2p') not captured
    bool stereoGlobal = true;                      // the whole output mix, stereo
    std::string name;                              // "Velmora System Tap"
    std::string uuid;                              // fresh per build
    int muteBehavior = CATapUnmuted;
    bool isPrivate = false;
    bool mixdown = false;
    bool mono = false;

    static CATapDescription stereoGlobalTapButExcludeProcesses(std::vector<AudioObjectID> processes)
    {
        CATapDescription d;
        d.excludedProcesses = std::move(processes);
        return d;
    }
};

// What createAggregateDevice is asked for; the field comments name the dictionary keys.
// Linux: the tap plus an output stream to the device named by `master`, both in one node
// group and link group, so the I/O block runs once per graph cycle with nothing added.
struct AggregateSubDevice {
    std::string uid;  // "uid"
};
struct AggregateTap {
    std::string uid;     // "uid": the tap's 'tuid'
    bool drift = false;  // "drift"
};
struct AggregateDeviceDescription {
    std::string name;                            // "name": "Velmora"
    std::string uid;                             // "uid": <application id>.aggregate.<UUID>
    std::string master;                          // "master": output device UID
    bool isPrivate = false;                      // "private"
    bool stacked = false;                        // "stacked"
    bool tapAutoStart = false;                   // "tapautostart"
    std::vector<AggregateSubDevice> subdevices;  // "subdevices"
    std::vector<AggregateTap> taps;              // "taps"
};

// Called on the listener's SerialExecutor with the changed addresses (the system ignores both
// arguments).
using AudioObjectPropertyListenerBlock =
    std::function<void(std::uint32_t numberAddresses, const AudioObjectPropertyAddress *addresses)>;
using AudioListenerID = std::uint64_t;  // 0 = none

// The render callback. Called on the real-time thread once per block with the tap's block as
// input and the device's block as output (PipeWire: planar float, one mono AudioBuffer per
// channel, stride 1; mDataByteSize = this block's frames * 4 for every buffer, never more
// than the memory behind mData). Time stamps may be null (the system ignores them). The
// platform must not allocate or lock around the call.
using AudioDeviceIOBlock =
    std::function<void(const AudioTimeStamp *now, const AudioBufferList *input,
                       const AudioTimeStamp *inputTime, AudioBufferList *output,
                       const AudioTimeStamp *outputTime)>;
using AudioDeviceIOProcID = std::uint64_t;  // 0 = none

// Who holds an object, so that clean-up never touches another live instance's chain.
enum class AudioObjectOwner {
    thisProcess,   // created by this process
    otherProcess,  // held by another live process (another instance): leave alone; also the
                   // answer when ownership cannot be told
    nobody,        // left behind by a process that no longer runs
};

class AudioPlatform {
public:
    virtual ~AudioPlatform() = default;

    // ---- Property reads (AudioObjectGetPropertyData / ...GetPropertyDataSize) -------------
    //
    // Copies the value into `data`. On entry `ioDataSize` is the size of `data`; on return the
    // number of bytes written (a fixed-size value needs at least its size, else a failure
    // status). `qualifier` may be null (size 0). Value layouts:
    //   'dOut' system   uint32 device ID, 0 = no default output device
    //   'dev#' system   uint32[] device IDs
    //   'id2p' system   qualifier int32 process ID -> uint32 process object, 0 = unknown
    //   'nsrt' device   double Hz
    //   'fsiz' device   uint32 frames (largest block the I/O block receives)
    //   'slay' device, output scope   an AudioBufferList record (render/RenderChain.h) with
    //                   one AudioBuffer per output stream: mNumberChannels set, mData null,
    //                   mDataByteSize 0. Size: offsetof(AudioBufferList, mBuffers) +
    //                   mNumberBuffers * sizeof(AudioBuffer) (or the whole record; both are
    //                   read safely). A device with no output streams: mNumberBuffers 0.
    //   'tfmt' tap      AudioStreamBasicDescription (40 bytes)
    // String properties ('uid ', 'lnam', 'tuid') are read with getPropertyString instead.
    virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                     std::uint32_t qualifierSize, const void *qualifier,
                                     std::uint32_t &ioDataSize, void *data) = 0;

    // Byte size of the value getPropertyData would copy now (no qualifier).
    virtual OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                         std::uint32_t &outDataSize) = 0;

    // A string property. Status 0 with `out` left empty (nullopt) means "success but no
    // string", which the caller turns into an error of its own.
    virtual OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                       std::optional<std::string> &out) = 0;

    // ---- Listeners (AudioObjectAdd/RemovePropertyListenerBlock) ----------------------------
    //
    // After a change of the property, `block` is posted to `queue` (never run inline). Watched:
    //   'dOut' on the system object: the default output device changed (PipeWire: the
    //          "default.audio.sink" metadata property, ignoring values that name our own nodes)
    //   'nsrt' on a device: the rate the chain runs at changed (PipeWire: a new Format with a
    //          different rate on our streams; the settings key is not a usable listener)
    // `outID` identifies the registration for removal. `queue` must outlive the registration.
    virtual OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                         SerialExecutor &queue, AudioObjectPropertyListenerBlock block,
                                         AudioListenerID &outID) = 0;
    // Same object, address and queue as when added. When this returns, the block is not
    // started again: invocations already posted to the queue but not yet begun are dropped.
    // One that is running on the queue at that moment may finish.
    virtual OSStatus removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                            SerialExecutor &queue, AudioListenerID id) = 0;

    // ---- Process tap (AudioHardwareCreate/DestroyProcessTap) -------------------------------
    //
    // Creates the tap. Fails (PipeWire: -EBUSY) when another live process of ours holds the
    // tap: two instances must not fight over every application's audio.
    // May adopt a tap that destroyProcessTap parked moments ago (see there).
    virtual OSStatus createProcessTap(const CATapDescription &description, AudioObjectID &outTapID) = 0;
    // The tap is gone for the caller. Applications return to their device. An implementation
    // may keep the underlying node alive for a short grace period so that an immediate
    // stop-then-start does not let unprocessed audio reach the device; when nothing adopts it
    // in that period (or at process exit) it is removed for real.
    virtual OSStatus destroyProcessTap(AudioObjectID tapID) = 0;

    // ---- Aggregate device (AudioHardwareCreate/DestroyAggregateDevice) ---------------------
    virtual OSStatus createAggregateDevice(const AggregateDeviceDescription &description,
                                           AudioObjectID &outDeviceID) = 0;
    // Refuses (PipeWire: -EPERM) an object this process does not own.
    virtual OSStatus destroyAggregateDevice(AudioObjectID deviceID) = 0;

    // ---- I/O callback and start/stop -------------------------------------------------------
    //
    // Registers `block` as the render callback of the aggregate device. Nothing runs until
    // deviceStart. The platform keeps its own copy of `block` until destroyIOProcID.
    virtual OSStatus createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                                    AudioDeviceIOProcID &outID) = 0;
    // Starts calling the block (PipeWire: connect the streams / set them active).
    virtual OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID id) = 0;
    // Stops calling the block. When this returns the block is not running and will not be
    // started again until the next deviceStart.
    virtual OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID id) = 0;
    // Removes the registration. Guarantee relied on by TapEngine before it frees any DSP
    // object: when this returns, no call of the block is in flight on any thread and none will
    // start, also if deviceStop failed or was not called (PipeWire: disconnect, then an empty
    // blocking pw_data_loop_invoke). The platform's copy of the block is released here.
    virtual OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID id) = 0;

    // ---- Linux additions -------------------------------------------------------------------
    //
    // True while the device runs but the platform has paused it because nothing feeds the tap
    // (PipeWire: no link into the tap for a few seconds; both streams inactive so the device
    // can suspend and no CPU is used). The block is not called while idle, so the switcher's
    // frame counter stands still: the supervision must count an idle chain as alive.
    // Resumes by itself on the first new input. Cheap; callable from any thread.
    virtual bool deviceIsIdle(AudioObjectID device) const = 0;

    // Who holds `object` (see AudioObjectOwner). Orphan clean-up destroys only `nobody`.
    virtual AudioObjectOwner objectOwner(AudioObjectID object) const = 0;

    // Clears routing that an earlier run of this program, which has died, left behind
    // (PipeWire: metadata target.object/target.node entries on still-playing streams that
    // point at the tap whose serial the state file under $XDG_STATE_HOME recorded, when that
    // tap no longer exists). Never touches anything of a live process. Returns how many
    // entries were cleared; failures count nothing and are not reported.
    virtual int clearStaleRouting() = 0;

    // Tells the audio system how many frames the block delays what passes through `device`,
    // so that players can keep their pictures in step with the sound (PipeWire: the tap's
    // ports report this on top of the output device's own latency, the way a filter does).
    // Called after deviceStart and again whenever another engine with another latency is
    // selected.
    virtual OSStatus setProcessingLatency(AudioObjectID device, std::uint32_t frames) = 0;
};
