// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Owning handles for the pw_* and spa objects Velmora creates. Each releases its object when
// it goes out of scope; like the release functions themselves, they must be destroyed with
// the thread loop's lock held (or after the loop thread stopped), never on the real-time
// thread. Declare a Hook after the object it listens to, so it is removed first.
//
#include <pipewire/pipewire.h>

#include <memory>

struct pw_metadata;

namespace pwl {

template <typename T, auto Release> struct Releaser {
    void operator()(T *object) const { Release(object); }
};

using ThreadLoopPtr = std::unique_ptr<pw_thread_loop, Releaser<pw_thread_loop, pw_thread_loop_destroy>>;
using ContextPtr = std::unique_ptr<pw_context, Releaser<pw_context, pw_context_destroy>>;
using CorePtr = std::unique_ptr<pw_core, Releaser<pw_core, pw_core_disconnect>>;
using ProxyPtr = std::unique_ptr<pw_proxy, Releaser<pw_proxy, pw_proxy_destroy>>;
using StreamPtr = std::unique_ptr<pw_stream, Releaser<pw_stream, pw_stream_destroy>>;

// A registry or metadata proxy, released as the pw_proxy it is.
template <typename T> struct ProxyReleaser {
    void operator()(T *object) const { pw_proxy_destroy(reinterpret_cast<pw_proxy *>(object)); }
};
using RegistryPtr = std::unique_ptr<pw_registry, ProxyReleaser<pw_registry>>;
using MetadataPtr = std::unique_ptr<pw_metadata, ProxyReleaser<pw_metadata>>;

// A listener registration; removed when it goes out of scope (or is reset).
struct Hook {
    spa_hook hook{};
    Hook() = default;
    Hook(const Hook &) = delete;
    Hook &operator=(const Hook &) = delete;
    ~Hook() { reset(); }
    void reset()
    {
        if (hook.link.next)
            spa_hook_remove(&hook);
        hook = spa_hook{};
    }
    spa_hook *get() { return &hook; }
};

// A timer or other source on a loop.
class LoopSource {
public:
    LoopSource() = default;
    LoopSource(pw_loop *loop, spa_source *source) : loop_(loop), source_(source) {}
    LoopSource(const LoopSource &) = delete;
    LoopSource &operator=(const LoopSource &) = delete;
    ~LoopSource()
    {
        if (source_)
            pw_loop_destroy_source(loop_, source_);
    }
    spa_source *get() const { return source_; }

private:
    pw_loop *loop_ = nullptr;
    spa_source *source_ = nullptr;
};

} // namespace pwl
