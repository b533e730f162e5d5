// SPDX-License-Identifier: GPL-3.0-or-later
// pw_stall: routes every application's playback through the PipeWire layer with a block that
// halves the level, and once, after --stall-at seconds of audio, blocks the real-time thread
// for --stall-ms (a DSP that hangs). Prints "ready", then "health=<n>" on every change of the
// chain's health (3 = bypassed: the streams were handed back to their device).
//
//   pw_stall [--seconds S] [--stall-at S] [--stall-ms MS]
#include "audio/pipewire/PwChain.h"
#include "audio/pipewire/PwSession.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char **argv)
{
    double seconds = 20, stallAt = 2;
    int stallMs = 4000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--stall-at"))
            stallAt = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--stall-ms"))
            stallMs = std::atoi(argv[i + 1]);
    }
    int status = 0;
    auto session = pwl::Session::open(3000, status);
    if (!session)
        return std::fprintf(stderr, "no PipeWire: %d\n", status), 1;

    std::uint64_t frames = 0;
    bool stalled = false;
    const RenderCallback block = [&](const AudioBufferList &in, AudioBufferList &out) {
        for (std::uint32_t c = 0; c < out.mNumberBuffers; ++c) {
            AudioBuffer &o = out.mBuffers[c];
            const float *src = c < in.mNumberBuffers ? in.mBuffers[c].mData : nullptr;
            for (std::uint32_t f = 0; f < o.mDataByteSize / 4; ++f)
                o.mData[f] = src ? src[f] * 0.5f : 0.0f;
        }
        frames += out.mNumberBuffers ? out.mBuffers[0].mDataByteSize / 4 : 0;
        if (!stalled && double(frames) >= stallAt * 48000.0) {
            stalled = true; // the hang this test is about: a sleep on the real-time thread
            std::printf("stall\n");
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        }
    };
    pwl::ChainConfig cfg;
    cfg.tapName = "org.velmora.Velmora.tap";
    cfg.tapDescription = "Velmora";
    cfg.outputName = "org.velmora.Velmora.output";
    cfg.outputDescription = "Velmora";
    cfg.group = "org.velmora.Velmora.group-" + std::to_string(getpid());
    cfg.ownNamePrefix = "org.velmora.Velmora.";
    std::unique_ptr<pwl::Chain> chain;
    {
        pwl::Session::Lock lock(*session);
        const pwl::Node *dev = session->nodeByName(session->defaultSinkName());
        if (!dev)
            return std::fprintf(stderr, "no default sink\n"), 1;
        chain = std::make_unique<pwl::Chain>(*session, cfg);
        int res = chain->createTap();
        if (res == 0)
            res = chain->createOutput(*dev);
        if (res != 0)
            return std::fprintf(stderr, "chain failed: %d\n", res), 1;
        chain->setRender(&block);
        chain->start();
        std::printf("ready\n");
        std::fflush(stdout);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    ChainHealth last = ChainHealth::healthy;
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pwl::Session::Lock lock(*session);
        if (chain->health() != last) {
            last = chain->health();
            std::printf("health=%d\n", int(last));
            std::fflush(stdout);
        }
    }
    pwl::Session::Lock lock(*session);
    chain.reset();
    return 0;
}
