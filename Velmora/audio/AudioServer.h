// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// AudioServer: what the retuning chain needs of the sound server, in the server's own terms.
//
// Summary
//   The default output device as a record; a chain opened to a device (every other
//   application's playback is captured, handed to a render callback once per block, and what
//   the callback writes plays on the device); on the open chain: play to another device, tell
//   players the processing latency, swap the render callback, idle state and health. Events:
//   the default output changed, an open chain runs at another rate, the connection to the
//   server was lost or is back, the session manager (what links streams to devices) went
//   away or is back, the applications playing changed. Which applications a chain takes is
//   its scope (ChainScope). Two implementations: PipeWire (audio/pipewire/) and an
//   in-memory fake in the test-support library.
//
// Real-time safety
//   Only the render callback runs on the real-time thread; the implementation calls it without
//   allocating or locking around it. Everything else is for control threads and may block,
//   bounded by time-outs that become an AudioError.
//
// Thread safety
//   Every call may come from any control thread. Events run through the executor given to
//   setEvents(), never inside a call of the caller and never with a lock of the server held.
//
#include "audio/AudioBlock.h"
#include "audio/AudioError.h"
#include "audio/ChainScope.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct OutputDevice {
    std::uint32_t id = 0;             // the server's id (PipeWire: registry id)
    std::string nodeName;             // stable name (PipeWire: node.name)
    std::string description;          // what users read; "Unbekannt" when it has none
    double rate = 0.0;                // the rate a chain to it runs at, as far as known now
    int channels = 0;                 // channels a chain carries to it (the server maps them
                                      // onto the device's own layout)
    std::uint32_t maxBlockFrames = 0; // largest block one render call can be handed

    friend bool operator==(const OutputDevice &, const OutputDevice &) = default;
};

enum class ChainHealth {
    healthy,    // running or idle as it should
    serverLost, // the sound server went away; the engine rebuilds by itself once it is back
    failed,     // a stream fell into an error state; only a new chain helps
    bypassed,   // it stopped delivering while fed: applications were sent back to their
                // device unprocessed; only a new chain retunes them again
};

// Real-time thread, once per block: `input` is what was captured, `output` what the device
// plays, output.frames long.
using RenderCallback = std::function<void(ConstAudioBlock input, AudioBlock output)>;

// An open chain. Destroying it closes it at once: applications return to their device.
class AudioChain {
public:
    virtual ~AudioChain() = default;

    virtual OutputDevice device() const = 0;
    // The rate the chain negotiated (0 until known).
    virtual double rate() const = 0;
    // Plays to `device` from now on, keeping the streams (and the callback). Throws AudioError.
    virtual void retarget(const OutputDevice &device) = 0;
    // Replaces the render callback (null: silence). When this returns, the previous callback
    // is not running and never runs again, so whatever it used may be freed.
    virtual void setRender(RenderCallback render) = 0;
    // Frames the callback delays the audio; players are told it on top of the device's own.
    virtual void setProcessingLatency(std::uint32_t frames) = 0;
    // Paused because nothing plays: the callback is not called, which is not a stall.
    virtual bool isIdle() const = 0;
    virtual ChainHealth health() const = 0;
};

class AudioServer {
public:
    struct Events {
        std::function<void()> defaultOutputChanged;
        std::function<void(double rate)> rateChanged;   // an open chain runs at another rate
        std::function<void(bool connected)> connection; // lost (false) / back (true)
        // Gone (false): nothing links streams any more, and nodes of an open chain would keep
        // the next session manager from linking anything; close it. Back (true): with a
        // default output, a new chain can be opened.
        std::function<void(bool present)> sessionManager;
        std::function<void()> applicationsChanged; // see applications()
    };
    using Executor = std::function<void(std::function<void()> task)>;

    virtual ~AudioServer() = default;

    virtual void setEvents(Events events, Executor executor) = 0;
    virtual bool isConnected() const = 0;
    // False when nothing links streams to devices (PipeWire: no session manager).
    virtual bool hasSessionManager() const = 0;

    // The current default output device, never our own capture sink. Throws AudioError:
    // -ENODEV "Kein Standard-Ausgabegeraet vorhanden", or the lost connection.
    virtual OutputDevice defaultOutput() = 0;
    // Opens a chain to `device` that runs `render` from now on. Throws AudioError, after which
    // nothing of it remains; -EBUSY while this or another process of ours holds a chain.
    virtual std::unique_ptr<AudioChain> openChain(const OutputDevice &device, RenderCallback render) = 0;
    // Clears routing that an earlier run, which died, left behind; never touches a live
    // process's. Returns how many entries were cleared.
    virtual int clearStaleRouting() = 0;

    // Which applications chains take and whether they follow a new default by themselves;
    // applies to the open chain at once (streams are moved in or handed back) and to every
    // chain opened later.
    virtual void setScope(const ChainScope &scope) = 0;
    // Applications that played since the server was connected (not our own), first seen first.
    virtual std::vector<AppEntry> applications() const = 0;
};
