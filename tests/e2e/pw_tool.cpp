// SPDX-License-Identifier: GPL-3.0-or-later
// pw_tool: the PipeWire clients of the end-to-end tests, one subcommand each. SIGINT and
// SIGTERM end every one of them cleanly.
//
//   pw_tool latency [--sink fake_speakers]
//       The delay, in graph samples, from a playback stream to a sink's monitor: plays 1 kHz
//       bursts (amplitude 0.5) into the default route and records the monitor; both streams
//       read one graph clock, so the delay is (capture position of the first sample above
//       0.25) - (graph position the burst was written at). Run without and with a router in
//       between, the difference is what the router adds. Prints one line per burst and
//       "latency_samples=<median> rate=<r> quantum=<q> reported_samples=<n>"; n is the playback
//       latency the graph told the playing stream (its port's Latency param), what a player
//       uses to keep pictures in step.
//   pw_tool slow-sink NAME FRAMES
//       A stereo sink that reports FRAMES of playback latency on its ports, as Bluetooth
//       headphones do, and discards what it gets (its monitor still carries it).
//   pw_tool chain [--seconds 30] [--gain 0.5] [--idle-ms 3000] [--stall-at S --stall-ms MS]
//       Every application's playback through the PipeWire layer with a block that scales by
//       the gain, so recordings tell processed audio from audio that bypassed us (full level);
//       with --stall-at the block hangs once, after S seconds of audio, for MS (a DSP that
//       hangs). Prints "ready ...", "stall", then "idle=<0|1>" and "health=<n>" (3: bypassed,
//       the streams handed back to their device) on every change, and at exit
//       "rt_allocations=<n>": heap allocations on the real-time thread after its first block
//       (malloc is interposed; the thread is marked when it first runs the block).
#include "audio/pipewire/PwChain.h"
#include "audio/pipewire/PwSession.h"
#include "tool_option.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>
#include <spa/node/io.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

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

sigset_t g_stopSignals;
// Waits up to `ms` for SIGINT or SIGTERM (blocked in every thread); true when one came.
bool stopSignal(int ms)
{
    const timespec ts{ms / 1000, long(ms % 1000) * 1000000};
    return sigtimedwait(&g_stopSignals, nullptr, &ts) > 0;
}

// A stereo float stream on `loop`, connected (rate 0: any), with a Latency param if given.
pw_stream *connectStream(pw_loop *loop, const char *name, pw_properties *props, const pw_stream_events &events,
                         void *data, pw_direction direction, spa_audio_format format, std::uint32_t rate,
                         spa_latency_info *latency = nullptr)
{
    pw_stream *s = pw_stream_new_simple(loop, name, props, &events, data);
    std::uint8_t buf[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
    spa_audio_info_raw info{};
    info.format = format;
    info.channels = 2;
    info.rate = rate;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod *params[2] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
    if (latency)
        params[1] = spa_latency_build(&b, SPA_PARAM_Latency, latency);
    pw_stream_connect(s, direction, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
                      params, latency ? 2 : 1);
    return s;
}

// ---- latency
struct Latency {
    pw_stream *play = nullptr, *rec = nullptr;
    spa_io_position *playPos = nullptr, *recPos = nullptr;
    const std::uint32_t rate = 48000;
    static constexpr int bursts = 3;
    // Written by the data loop.
    std::int64_t startPos = -1;         // graph position of the first played cycle
    std::vector<std::int64_t> emitted;  // graph position of each burst onset
    std::vector<std::int64_t> heard;    // capture position of each onset
    bool inBurst = false;               // capture side: inside a burst
    std::int64_t quietSince = 0;
    double phase = 0;
    std::uint32_t quantum = 0;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> reported{0}; // written by the main loop
};
constexpr double kBurstSeconds = 0.3, kPeriodSeconds = 1.0, kLeadSeconds = 1.5;

void playProcess(void *data)
{
    auto *s = static_cast<Latency *>(data);
    pw_buffer *b = pw_stream_dequeue_buffer(s->play);
    if (!b)
        return;
    spa_data &d = b->buffer->datas[0];
    auto *out = static_cast<float *>(d.data);
    std::uint32_t frames = d.maxsize / (2 * sizeof(float));
    if (b->requested)
        frames = std::min<std::uint32_t>(frames, std::uint32_t(b->requested));
    const std::int64_t pos = s->playPos ? std::int64_t(s->playPos->clock.position) : 0;
    if (s->playPos)
        s->quantum = std::uint32_t(s->playPos->clock.duration);
    if (s->startPos < 0)
        s->startPos = pos;
    const std::int64_t lead = std::int64_t(kLeadSeconds * s->rate), period = std::int64_t(kPeriodSeconds * s->rate);
    const std::int64_t burst = std::int64_t(kBurstSeconds * s->rate);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::int64_t t = pos + i - s->startPos - lead;
        float v = 0;
        if (t >= 0 && t / period < s->bursts && t % period < burst) {
            if (t % period == 0) {
                s->emitted.push_back(pos + i);
                s->phase = 0;
            }
            v = float(0.5 * std::sin(s->phase));
            s->phase += 2 * M_PI * 1000.0 / s->rate;
        }
        out[2 * i] = out[2 * i + 1] = v;
    }
    d.chunk->offset = 0;
    d.chunk->stride = 2 * sizeof(float);
    d.chunk->size = frames * 2 * sizeof(float);
    pw_stream_queue_buffer(s->play, b);
}

void recProcess(void *data)
{
    auto *s = static_cast<Latency *>(data);
    pw_buffer *b = pw_stream_dequeue_buffer(s->rec);
    if (!b)
        return;
    spa_data &d = b->buffer->datas[0];
    const auto *in = static_cast<const float *>(d.data);
    const std::uint32_t frames = d.chunk->size / (2 * sizeof(float));
    const std::int64_t pos = s->recPos ? std::int64_t(s->recPos->clock.position) : 0;
    for (std::uint32_t i = 0; in && i < frames; ++i) {
        const float v = std::fabs(in[2 * i]);
        if (!s->inBurst && v > 0.25f) {
            s->inBurst = true;
            s->heard.push_back(pos + i);
        }
        if (v > 0.05f)
            s->quietSince = pos + i;
        else if (s->inBurst && pos + i - s->quietSince > std::int64_t(0.2 * s->rate))
            s->inBurst = false;
    }
    pw_stream_queue_buffer(s->rec, b);
    if (int(s->heard.size()) >= s->bursts && !s->inBurst)
        s->done = true;
}

template <spa_io_position *Latency::*Pos> void positionIo(void *data, std::uint32_t id, void *area, std::uint32_t)
{
    if (id == SPA_IO_Position)
        static_cast<Latency *>(data)->*Pos = static_cast<spa_io_position *>(area);
}

pw_stream_events streamEvents(void (*process)(void *), bool play)
{
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.process = process;
    if (play)
        e.param_changed = [](void *data, std::uint32_t id, const spa_pod *param) {
            auto *s = static_cast<Latency *>(data);
            spa_latency_info l{};
            if (id == SPA_PARAM_Latency && param && spa_latency_parse(param, &l) >= 0
                && l.direction == SPA_DIRECTION_INPUT)
                s->reported = std::int64_t(l.min_rate) + std::llround(double(l.min_ns) * s->rate / 1e9)
                            + std::llround(l.min_quantum * double(s->quantum));
        };
    e.io_changed = play ? positionIo<&Latency::playPos> : positionIo<&Latency::recPos>;
    return e;
}

int latency(int argc, char **argv)
{
    const char *sink = argc == 4 && !std::strcmp(argv[2], "--sink") ? argv[3] : "fake_speakers";
    static const pw_stream_events playEvents = streamEvents(playProcess, true), recEvents = streamEvents(recProcess, false);
    Latency s;
    pw_thread_loop *loop = pw_thread_loop_new("e2e-latency", nullptr);
    pw_thread_loop_start(loop);
    pw_thread_loop_lock(loop);
    auto props = [](const char *category, const char *name) {
        return pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, category, PW_KEY_MEDIA_ROLE, "Music",
                                 PW_KEY_NODE_NAME, name, PW_KEY_NODE_LATENCY, "1024/48000", nullptr);
    };
    pw_properties *recProps = props("Capture", "e2e-latency-rec");
    pw_properties_set(recProps, PW_KEY_TARGET_OBJECT, sink);
    pw_properties_set(recProps, PW_KEY_STREAM_CAPTURE_SINK, "true");
    pw_properties_set(recProps, PW_KEY_NODE_DONT_RECONNECT, "true");
    s.rec = connectStream(pw_thread_loop_get_loop(loop), "e2e latency rec", recProps, recEvents, &s,
                          PW_DIRECTION_INPUT, SPA_AUDIO_FORMAT_F32, s.rate);
    s.play = connectStream(pw_thread_loop_get_loop(loop), "e2e latency play", props("Playback", "e2e-latency-play"),
                           playEvents, &s, PW_DIRECTION_OUTPUT, SPA_AUDIO_FORMAT_F32, s.rate);
    pw_thread_loop_unlock(loop);
    const int limitMs = int((kLeadSeconds + kPeriodSeconds * s.bursts + 5) * 1000);
    for (int waited = 0; !s.done && waited < limitMs && !stopSignal(20); waited += 20) {
    }
    pw_thread_loop_lock(loop);
    pw_stream_destroy(s.play);
    pw_stream_destroy(s.rec);
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    pw_thread_loop_destroy(loop);
    const std::size_t n = std::min(s.emitted.size(), s.heard.size());
    std::vector<std::int64_t> d;
    for (std::size_t i = 0; i < n; ++i) {
        d.push_back(s.heard[i] - s.emitted[i]);
        std::printf("burst %zu: %lld\n", i, static_cast<long long>(d.back()));
    }
    std::sort(d.begin(), d.end());
    std::printf("latency_samples=%lld rate=%u quantum=%u reported_samples=%lld emitted=%zu heard=%zu\n",
                static_cast<long long>(n ? d[n / 2] : -1), s.rate, s.quantum,
                static_cast<long long>(s.reported.load()), s.emitted.size(), s.heard.size());
    return n ? 0 : 1;
}

// ---- slow-sink
int slowSink(int argc, char **argv)
{
    if (argc != 4)
        return std::fprintf(stderr, "usage: pw_tool slow-sink NAME FRAMES\n"), 2;
    pw_thread_loop *loop = pw_thread_loop_new("e2e-slow-sink", nullptr);
    pw_thread_loop_start(loop);
    pw_thread_loop_lock(loop);
    static pw_stream *stream = nullptr;
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = [](void *) {
            while (pw_buffer *b = pw_stream_dequeue_buffer(stream))
                pw_stream_queue_buffer(stream, b);
        };
        return e;
    }();
    spa_latency_info latency = SPA_LATENCY_INFO(SPA_DIRECTION_INPUT);
    latency.min_rate = latency.max_rate = std::uint32_t(std::strtoul(argv[3], nullptr, 10));
    stream = connectStream(pw_thread_loop_get_loop(loop), argv[2],
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                             PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_NAME, argv[2],
                                             PW_KEY_NODE_DESCRIPTION, argv[2], PW_KEY_NODE_VIRTUAL, "true",
                                             SPA_KEY_AUDIO_POSITION, "[ FL FR ]", nullptr),
                           events, nullptr, PW_DIRECTION_INPUT, SPA_AUDIO_FORMAT_F32P, 0, &latency);
    pw_thread_loop_unlock(loop);
    while (!stopSignal(1000)) {
    }
    pw_thread_loop_lock(loop);
    pw_stream_destroy(stream);
    pw_thread_loop_unlock(loop);
    pw_thread_loop_stop(loop);
    pw_thread_loop_destroy(loop);
    return 0;
}

// ---- chain
int chain(int argc, char **argv)
{
    const double seconds = option(argc, argv, "--seconds", 30), stallAt = option(argc, argv, "--stall-at", -1);
    const float gain = float(option(argc, argv, "--gain", 0.5));
    const int stallMs = int(option(argc, argv, "--stall-ms", 4000));
    int status = 0;
    auto session = pwl::Session::open(3000, status);
    if (!session)
        return std::fprintf(stderr, "no PipeWire: %d\n", status), 1;
    std::uint64_t frames = 0;
    bool stalled = stallAt < 0;
    const RenderCallback block = [&](ConstAudioBlock in, AudioBlock out) {
        t_realtime = true;
        for (std::uint32_t c = 0; c < out.channelCount; ++c) {
            const float *src = in.channel(c);
            if (float *o = out.channels[c])
                for (std::uint32_t f = 0; f < out.frames; ++f)
                    o[f] = src ? src[f] * gain : 0.0f;
        }
        frames += out.frames;
        if (!stalled && double(frames) >= stallAt * 48000.0) {
            stalled = true; // the hang under test: a sleep on the real-time thread
            std::printf("stall\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
        }
    };
    pwl::ChainConfig cfg;
    cfg.tapName = "org.velmora.Velmora.tap";
    cfg.tapDescription = "Velmora System Tap";
    cfg.outputName = "org.velmora.Velmora.output";
    cfg.outputDescription = "Velmora";
    cfg.group = "org.velmora.Velmora.group-" + std::to_string(getpid());
    cfg.ownNamePrefix = "org.velmora.Velmora.";
    cfg.idleMs = int(option(argc, argv, "--idle-ms", 3000));
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
        std::printf("ready tap=%u output=%u rate=%u device=%s\n", chain->tapId(), chain->outputId(), chain->rate(),
                    chain->deviceName().c_str());
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool idle = false;
    ChainHealth health = ChainHealth::healthy;
    while (!stopSignal(20) && std::chrono::steady_clock::now() < end) {
        pwl::Session::Lock lock(*session);
        if (chain->idle() != idle)
            std::printf("idle=%d\n", (idle = chain->idle()) ? 1 : 0);
        if (chain->health() != health)
            std::printf("health=%d\n", int(health = chain->health()));
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

} // namespace

int main(int argc, char **argv)
{
    // Blocked before any thread starts, so that only stopSignal() ever takes them.
    sigemptyset(&g_stopSignals);
    sigaddset(&g_stopSignals, SIGINT);
    sigaddset(&g_stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &g_stopSignals, nullptr);
    setvbuf(stdout, nullptr, _IOLBF, 0); // the scripts wait for lines in the log as they come
    const std::string cmd = argc > 1 ? argv[1] : "";
    pw_init(&argc, &argv);
    if (cmd == "latency")
        return latency(argc, argv);
    if (cmd == "slow-sink")
        return slowSink(argc, argv);
    if (cmd == "chain")
        return chain(argc, argv);
    std::fprintf(stderr, "usage: pw_tool latency|slow-sink|chain [options]\n");
    return 2;
}
