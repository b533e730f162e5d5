// SPDX-License-Identifier: GPL-3.0-or-later
// pw_passthrough: routes every application's playback through the PipeWire layer with a
// pass-through block that scales by a fixed gain, so recordings tell processed audio
// (gain applied) from audio that bypassed us (full level). For tests of the layer alone.
//
//   pw_passthrough [--seconds S] [--gain G] [--idle-ms MS]
//
// Prints "ready tap=<id> output=<id>" once routing runs, then "idle=<0|1>" on every change, and
// at exit "rt_allocations=<n>": heap allocations made on the real-time thread after its first
// block (malloc is interposed; the thread is marked when it first runs the block).
#include "audio/pipewire/PwChain.h"
#include "audio/pipewire/PwSession.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void *__libc_memalign(size_t, size_t);

namespace {
thread_local bool t_realtime = false;
std::atomic<long> g_rtAllocations{0};
inline void countAllocation()
{
    if (t_realtime)
        g_rtAllocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

extern "C" void *malloc(size_t n)
{
    countAllocation();
    return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t m)
{
    countAllocation();
    return __libc_calloc(n, m);
}
extern "C" void *realloc(void *p, size_t n)
{
    countAllocation();
    return __libc_realloc(p, n);
}
extern "C" void *memalign(size_t a, size_t n)
{
    countAllocation();
    return __libc_memalign(a, n);
}

namespace {
volatile std::sig_atomic_t g_stop = 0;
void onSignal(int)
{
    g_stop = 1;
}
} // namespace

int main(int argc, char **argv)
{
    double seconds = 30, gain = 0.5;
    int idleMs = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--gain"))
            gain = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--idle-ms"))
            idleMs = std::atoi(argv[i + 1]);
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    int status = 0;
    auto session = pwl::Session::open(3000, status);
    if (!session) {
        std::fprintf(stderr, "no PipeWire: %d\n", status);
        return 1;
    }
    const float g = float(gain);
    const RenderCallback block = [g](const AudioBufferList &in, AudioBufferList &out) {
        t_realtime = true;
        for (std::uint32_t c = 0; c < out.mNumberBuffers; ++c) {
            AudioBuffer &o = out.mBuffers[c];
            const std::uint32_t frames = o.mDataByteSize / 4;
            const float *src = c < in.mNumberBuffers ? in.mBuffers[c].mData : nullptr;
            for (std::uint32_t f = 0; f < frames; ++f)
                o.mData[f] = src ? src[f] * g : 0.0f;
        }
    };
    pwl::ChainConfig cfg;
    cfg.tapName = "org.velmora.Velmora.tap";
    cfg.tapDescription = "Velmora System Tap";
    cfg.outputName = "org.velmora.Velmora.output";
    cfg.outputDescription = "Velmora";
    cfg.group = "org.velmora.Velmora.group-" + std::to_string(getpid());
    cfg.ownNamePrefix = "org.velmora.Velmora.";
    cfg.idleMs = idleMs;
    std::unique_ptr<pwl::Chain> chain;
    {
        pwl::Session::Lock lock(*session);
        const pwl::Node *dev = session->nodeByName(session->defaultSinkName());
        if (!dev) {
            std::fprintf(stderr, "no default sink\n");
            return 1;
        }
        chain = std::make_unique<pwl::Chain>(*session, cfg);
        int res = chain->createTap();
        if (res == 0)
            res = chain->createOutput(*dev);
        if (res != 0) {
            std::fprintf(stderr, "chain failed: %d\n", res);
            return 1;
        }
        chain->setRender(&block);
        chain->start();
        std::printf("ready tap=%u output=%u rate=%u device=%s\n", chain->tapId(), chain->outputId(),
                    chain->rate(), chain->deviceName().c_str());
        std::fflush(stdout);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool lastIdle = false;
    while (!g_stop && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (chain->idle() != lastIdle) {
            lastIdle = chain->idle();
            std::printf("idle=%d\n", lastIdle ? 1 : 0);
            std::fflush(stdout);
        }
    }
    {
        pwl::Session::Lock lock(*session);
        chain->setRender(nullptr);
        chain.reset();
        session->sync(2000);
    }
    session.reset();
    std::printf("rt_allocations=%ld\ndone\n", g_rtAllocations.load());
    return 0;
}
