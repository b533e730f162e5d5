// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ThreadSafety.h: lock rules the compiler checks.
//
// Summary
//   Clang's thread-safety analysis (-Wthread-safety, the VELMORA_THREAD_SAFETY build) checks
//   these annotations: data GUARDED_BY a mutex is touched only with it held, a function that
//   REQUIRES a lock is called only with it held, and one that EXCLUDES it (it waits for another
//   thread, or takes the lock itself) never with it held. Under other compilers the macros
//   expand to nothing. Mutex and MutexLock are std::mutex and std::lock_guard/unique_lock as
//   the analysis sees them.
//
// Real-time safety
//   Locks: never on the real-time thread.
//
// Thread safety
//   As std::mutex.
//
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define VELMORA_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define VELMORA_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) VELMORA_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY VELMORA_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) VELMORA_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) VELMORA_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) VELMORA_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VELMORA_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VELMORA_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VELMORA_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VELMORA_THREAD_ATTRIBUTE(assert_capability(x))
#define RETURN_CAPABILITY(x) VELMORA_THREAD_ATTRIBUTE(lock_returned(x))

class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

// Holds a Mutex for its scope; may let go of it for a while (unlock/lock).
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex &mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
    ~MutexLock() RELEASE()
    {
        if (held_)
            mutex_.unlock();
    }
    MutexLock(const MutexLock &) = delete;
    MutexLock &operator=(const MutexLock &) = delete;

    void unlock() RELEASE()
    {
        mutex_.unlock();
        held_ = false;
    }
    void lock() ACQUIRE()
    {
        mutex_.lock();
        held_ = true;
    }
    // Waits on `condition` with the mutex let go meanwhile, as std::condition_variable does.
    template <class Pred> void wait(std::condition_variable_any &condition, Pred pred) { condition.wait(mutex_, pred); }
    template <class Duration, class Pred>
    bool waitFor(std::condition_variable_any &condition, Duration timeout, Pred pred)
    {
        return condition.wait_for(mutex_, timeout, pred);
    }

private:
    Mutex &mutex_;
    bool held_ = true;
};
