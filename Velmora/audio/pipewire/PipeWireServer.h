// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// PipeWireServer: the audio server seam on PipeWire.
//
// Summary
//   One session (PwSession) to the PipeWire server and at most one open chain (PwChain: the
//   capture sink every other application's playback is moved into, and the output stream to
//   the device). The default output is the node named by "default.audio.sink" in the
//   "default" metadata (never our own capture sink); its rate is the graph rate; a chain
//   always carries stereo, which PipeWire maps onto the device (a mono device gets the
//   downmix of both channels, extra channels of a wider device stay silent); the largest block
//   is the quantum limit. A running chain follows a new default device at once (its output is
//   moved, nothing is rebuilt) before the defaultOutputChanged event goes out.
//
//   When the server goes away, the session is dead: the connection event says so, open chains
//   report serverLost, and a reconnect thread tries again every reconnectMs until a server
//   with a session manager and a default sink answers; then the connection event says it is
//   back. Nothing else changes by itself: the owner opens a new chain.
//
//   The session manager (WirePlumber) owns the "default" metadata. When it goes away the
//   sessionManager event says so; once a new one has elected a default sink it says it is back.
//   Nodes of ours that a restarted WirePlumber finds stay pending in its policy (it configures
//   our sink like a device and waits for ports that are already there), and while anything is
//   pending it links nothing for anybody: the owner closes the chain when it goes and opens a
//   new one when it is back.
//
//   Applications: every playback stream that is not ours counts for its application (by
//   ChainScope's key); an application stays listed, not playing, once its last stream ended.
//   The scope reaches the open chain under the loop lock; with followDefault false a new
//   default device is left to the owner's rebuild.
//
//   While a chain is open, the capture sink's serial is kept in a state file
//   ($XDG_STATE_HOME/<application id>/pipewire-tap), so that clearStaleRouting() of a later
//   run can clear routing that a run that died left on still-playing streams.
//
// Real-time safety
//   Only the render callback runs on the real-time thread (see PwChain.h).
//
// Thread safety
//   Every call may come from any control thread; pw_* calls serialise on the session's loop
//   lock. Events are posted to the executor, never run with a lock held.
//
#include "audio/AudioServer.h"
#include "audio/ThreadSafety.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace pwl {
class Session;
struct Node;
}

class PipeWireServer final : public AudioServer, public std::enable_shared_from_this<PipeWireServer> {
    struct Private {};

public:
    struct Options {
        int timeoutMs = 3000;  // every wait on the server
        int idleMs = 3000;     // nothing linked into the capture sink this long: pause
        int reconnectMs = 250; // between attempts while the server is gone
        std::string stateDir;  // empty: $XDG_STATE_HOME/<application id>
        std::string appId;     // empty: the application id
    };

    // Connects. Throws AudioError(status, "Verbindung zu PipeWire herstellen") when there is no
    // server or it does not answer in time.
    static std::shared_ptr<PipeWireServer> connect(Options options);
    static std::shared_ptr<PipeWireServer> connect() { return connect(Options{}); }
    PipeWireServer(Private, Options options);
    ~PipeWireServer() override;

    void setEvents(Events events, Executor executor) override;
    bool isConnected() const override;
    bool hasSessionManager() const override;
    OutputDevice defaultOutput() override;
    std::unique_ptr<AudioChain> openChain(const OutputDevice &device, RenderCallback render) override;
    int clearStaleRouting() override;
    void setScope(const ChainScope &scope) override;
    std::vector<AppEntry> applications() const override;

    std::string stateFilePath() const;
    std::uint64_t formerTapSerial() const; // from the state file; 0 if none

private:
    class Watch;
    class Chain;
    friend class Chain;

    std::shared_ptr<pwl::Session> session() const EXCLUDES(mutex_);
    void adopt(std::shared_ptr<pwl::Session> session) EXCLUDES(mutex_);
    void lost() EXCLUDES(mutex_);
    void reconnectLoop() EXCLUDES(mutex_);
    void post(std::function<void(const Events &)> call) EXCLUDES(mutex_);
    std::string tapName() const { return options_.appId + ".tap"; }
    ChainScope scope() const EXCLUDES(mutex_);
    // Loop thread: a playback stream of some application is there / has gone.
    void noteStream(const pwl::Node &n) EXCLUDES(mutex_);
    void dropStream(std::uint32_t id) EXCLUDES(mutex_);

    Options options_;
    // Never held while the server is waited for: a new session is opened and its loop lock
    // taken outside it.
    mutable Mutex mutex_;
    std::shared_ptr<pwl::Session> session_ GUARDED_BY(mutex_);
    std::unique_ptr<Watch> watch_ GUARDED_BY(mutex_);
    Events events_ GUARDED_BY(mutex_);
    Executor executor_ GUARDED_BY(mutex_);
    bool lost_ GUARDED_BY(mutex_) = false;
    bool stopping_ GUARDED_BY(mutex_) = false;
    ChainScope scope_ GUARDED_BY(mutex_);
    std::vector<AppEntry> apps_ GUARDED_BY(mutex_);
    std::map<std::uint32_t, std::string> appStreams_ GUARDED_BY(mutex_); // stream node id -> application key
    std::condition_variable_any wake_;
    std::thread reconnector_;
    std::atomic<Chain *> open_{nullptr}; // the one open chain of this process
};
