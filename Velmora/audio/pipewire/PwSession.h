// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// PwSession.h: one connection to the PipeWire server and what it knows about the graph.
//
// Summary
//   Owns one pw_thread_loop, its context, the core and the registry. Tracks the nodes that
//   matter (sinks and playback streams, with their properties and formats), the links, and
//   the "default" and "settings" metadata. Every pw_* call of Velmora is made under the lock
//   of this one thread loop (PwSession::Lock). Waits use pw_thread_loop_timed_wait_full with
//   a time-out that becomes -ETIMEDOUT; nothing sleeps.
//
// Real-time safety
//   Nothing here runs on the real-time thread.
//
// Thread safety
//   Every member except open() and the destructor must be called with the loop lock held.
//   Observer callbacks run on the loop thread with the lock held: they only record state or
//   post work elsewhere, and never wait for the loop.
//
#include "audio/pipewire/PwHandles.h"

#include <pipewire/pipewire.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pwl {

inline constexpr const char *kMediaClassSink = "Audio/Sink";
inline constexpr const char *kMediaClassPlayback = "Stream/Output/Audio";

struct Node {
    std::uint32_t id = 0;
    std::uint64_t serial = 0;
    std::string mediaClass;
    std::string name;
    std::string description;
    std::string nick;
    std::string linkGroup;
    std::string targetObject; // the node's own target.object (or node.target), if any
    // Playback streams: who plays (application.name, .process.binary, .icon-name) and what.
    std::string appName;
    std::string appBinary;
    std::string appIcon;
    std::string mediaRole;
    bool dontReconnect = false;
    bool infoSeen = false;         // full properties known (bound proxy answered)
    std::uint32_t channels = 0;    // of its format (sinks)
    std::uint32_t defaultRate = 0; // of its EnumFormat (sinks)
    std::uint32_t currentRate = 0; // of its current Format while it runs (sinks)
    std::uint32_t inputPorts = 0;  // none until the session manager has configured a device
};

struct Link {
    std::uint32_t outputNode = 0;
    std::uint32_t inputNode = 0;
};

class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void nodeReady(const Node &) {} // full properties known (new or changed)
    virtual void nodeRemoved(std::uint32_t) {}
    virtual void linksChanged() {}
    // A property of the "default" metadata changed (key null: everything cleared).
    virtual void defaultMetadataChanged(std::uint32_t, const char *) {}
    // The connection to the server broke; nothing of this session works any more.
    virtual void connectionLost() {}
};

class Session {
public:
    // Connects, reads the registry and binds the metadata (bounded by timeoutMs). Returns null
    // and a negative errno in `status` if there is no server or it does not answer.
    static std::unique_ptr<Session> open(int timeoutMs, int &status);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    class Lock {
    public:
        explicit Lock(Session &s) : loop_(s.loop_.get()) { pw_thread_loop_lock(loop_); }
        ~Lock() { pw_thread_loop_unlock(loop_); }
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pw_thread_loop *loop_;
    };

    pw_thread_loop *threadLoop() const { return loop_.get(); }
    pw_loop *loop() const { return pw_thread_loop_get_loop(loop_.get()); }
    pw_context *context() const { return context_.get(); }
    pw_core *core() const { return core_.get(); }
    bool broken() const { return broken_; }

    // Wakes waiters (call from loop callbacks after changing state).
    void signal() { pw_thread_loop_signal(loop_.get(), false); }
    // Waits until pred() holds. 0, -ETIMEDOUT, or -EPIPE when the connection broke.
    template <class Pred> int waitFor(Pred pred, int timeoutMs)
    {
        timespec deadline{};
        pw_thread_loop_get_time(loop_.get(), &deadline, std::int64_t(timeoutMs) * SPA_NSEC_PER_MSEC);
        while (!pred()) {
            if (broken_)
                return -EPIPE;
            if (pw_thread_loop_timed_wait_full(loop_.get(), &deadline) == -ETIMEDOUT)
                return pred() ? 0 : -ETIMEDOUT;
        }
        return 0;
    }
    // A round trip to the server: everything sent before has been handled and answered.
    int sync(int timeoutMs);
    // Blocks until no callback is running on the data (real-time) loop and none started before
    // this call is still in flight.
    void dataLoopBarrier();

    void addObserver(SessionObserver *o);
    void removeObserver(SessionObserver *o);

    const std::map<std::uint32_t, Node> &nodes() const { return nodes_; }
    const Node *node(std::uint32_t id) const;
    const Node *nodeByName(const std::string &name) const;
    const Node *nodeBySerial(std::uint64_t serial) const;
    const std::map<std::uint32_t, Link> &links() const { return links_; }

    bool hasDefaultMetadata() const { return defaultMd_ != nullptr; }
    // Node name in "default.audio.sink" (empty if none).
    std::string defaultSinkName() const;
    // Value of a key of the "default" metadata for a subject (empty if none).
    std::string defaultMetadata(std::uint32_t subject, const std::string &key) const;
    // Subjects that carry `key` with `value` in the "default" metadata.
    std::vector<std::uint32_t> defaultMetadataSubjects(const std::string &key,
                                                       const std::string &value) const;
    // Writes (value non-null) or deletes (value null) a "default" metadata property.
    int setDefaultMetadata(std::uint32_t subject, const char *key, const char *type, const char *value);
    // A key of the "settings" metadata as an integer (0 if absent).
    std::int64_t setting(const std::string &key) const;

private:
    Session() = default;
    int init(int timeoutMs);

    struct Bound; // a bound node or metadata proxy with its listeners
    struct Metadata;

    static void onCoreDone(void *data, std::uint32_t id, int seq);
    static void onCoreError(void *data, std::uint32_t id, int seq, int res, const char *message);
    static void onGlobal(void *data, std::uint32_t id, std::uint32_t permissions, const char *type,
                         std::uint32_t version, const spa_dict *props);
    static void onGlobalRemove(void *data, std::uint32_t id);

    void bindNode(std::uint32_t id);
    void bindMetadata(std::uint32_t id, const std::string &name);
    void nodeInfo(std::uint32_t id, const pw_node_info *info);
    void nodeParam(std::uint32_t id, std::uint32_t paramId, const spa_pod *param);
    void metadataProperty(Metadata *md, std::uint32_t subject, const char *key, const char *type,
                          const char *value);

    // Released in reverse order, after the destructor stopped the loop thread.
    ThreadLoopPtr loop_;
    ContextPtr context_;
    CorePtr core_;
    Hook coreListener_;
    RegistryPtr registry_;
    Hook registryListener_;
    bool broken_ = false;
    int pendingSeq_ = -1;
    int doneSeq_ = -1;

    std::map<std::uint32_t, Node> nodes_;
    std::map<std::uint32_t, std::unique_ptr<Bound>> boundNodes_;
    std::map<std::uint32_t, Link> links_;
    std::unique_ptr<Metadata> defaultMd_;
    std::unique_ptr<Metadata> settingsMd_;
    std::vector<SessionObserver *> observers_;
};

} // namespace pwl
