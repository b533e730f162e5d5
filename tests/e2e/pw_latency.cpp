// SPDX-License-Identifier: GPL-3.0-or-later
// pw_latency: measures the delay, in graph samples, from a playback stream to the monitor of a
// sink. One process plays tone bursts (1 kHz, amplitude 0.5) into the default route and records
// the sink's monitor; both streams read the same graph clock, so the delay is
// (capture position of the first sample above 0.25) - (graph position the burst was written at).
// Run it once without and once with a router in between: the difference is what the router adds.
//
//   pw_latency [--sink fake_speakers]
// Prints "latency_samples=<median> rate=<graph rate> quantum=<q> reported_samples=<r>" (and one
// line per burst); r is the playback latency the graph told the playing stream (its port's
// Latency param), what a player would use to keep pictures in step.
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>
#include <spa/node/io.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct State {
    pw_thread_loop *loop = nullptr;
    pw_stream *play = nullptr, *rec = nullptr;
    spa_io_position *playPos = nullptr, *recPos = nullptr;
    std::uint32_t rate = 48000;
    // Written by the data loop.
    std::int64_t startPos = -1;         // graph position of the first played cycle
    std::vector<std::int64_t> emitted;  // graph position of each burst onset
    std::vector<std::int64_t> heard;    // capture position of each onset
    bool inBurst = false;               // capture side: inside a burst
    std::int64_t quietSince = 0;
    double phase = 0;
    std::uint32_t quantum = 0;
    int bursts = 3;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> reported{0};  // written by the main loop
};

constexpr double kBurstSeconds = 0.3, kPeriodSeconds = 1.0, kLeadSeconds = 1.5;

void playProcess(void *data)
{
    auto *s = static_cast<State *>(data);
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
    auto *s = static_cast<State *>(data);
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

pw_stream *makeStream(State &s, bool playback, const std::string &sink)
{
    pw_properties *p = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
                                         playback ? "Playback" : "Capture", PW_KEY_MEDIA_ROLE, "Music",
                                         PW_KEY_NODE_NAME, playback ? "e2e-latency-play" : "e2e-latency-rec",
                                         PW_KEY_NODE_LATENCY, "1024/48000", nullptr);
    if (!playback) {
        pw_properties_set(p, PW_KEY_TARGET_OBJECT, sink.c_str());
        pw_properties_set(p, PW_KEY_STREAM_CAPTURE_SINK, "true");
        pw_properties_set(p, PW_KEY_NODE_DONT_RECONNECT, "true");
    }
    static const pw_stream_events playEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = playProcess;
        e.param_changed = [](void *data, std::uint32_t id, const spa_pod *param) {
            auto *s = static_cast<State *>(data);
            spa_latency_info l{};
            if (id == SPA_PARAM_Latency && param && spa_latency_parse(param, &l) >= 0
                && l.direction == SPA_DIRECTION_INPUT)
                s->reported = std::int64_t(l.min_rate) + std::llround(double(l.min_ns) * s->rate / 1e9)
                            + std::llround(l.min_quantum * double(s->quantum));
        };
        e.io_changed = [](void *data, std::uint32_t id, void *area, std::uint32_t) {
            if (id == SPA_IO_Position) static_cast<State *>(data)->playPos = static_cast<spa_io_position *>(area);
        };
        return e;
    }();
    static const pw_stream_events recEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = recProcess;
        e.io_changed = [](void *data, std::uint32_t id, void *area, std::uint32_t) {
            if (id == SPA_IO_Position) static_cast<State *>(data)->recPos = static_cast<spa_io_position *>(area);
        };
        return e;
    }();
    pw_stream *st = pw_stream_new_simple(pw_thread_loop_get_loop(s.loop), playback ? "e2e latency play" : "e2e latency rec",
                                         p, playback ? &playEvents : &recEvents, &s);
    std::uint8_t buf[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, sizeof buf);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.channels = 2;
    info.rate = s.rate;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod *params[] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info)};
    pw_stream_connect(st, playback ? PW_DIRECTION_OUTPUT : PW_DIRECTION_INPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
                      params, 1);
    return st;
}

} // namespace

int main(int argc, char **argv)
{
    std::string sink = "fake_speakers";
    State s;
    if (argc == 3 && !std::strcmp(argv[1], "--sink"))
        sink = argv[2];
    pw_init(&argc, &argv);
    s.loop = pw_thread_loop_new("e2e-latency", nullptr);
    pw_thread_loop_start(s.loop);
    pw_thread_loop_lock(s.loop);
    s.rec = makeStream(s, false, sink);
    s.play = makeStream(s, true, sink);
    pw_thread_loop_unlock(s.loop);
    const int limitMs = int((kLeadSeconds + kPeriodSeconds * s.bursts + 5) * 1000);
    for (int waited = 0; !s.done && waited < limitMs; waited += 20) {
        timespec ts{0, 20 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    pw_thread_loop_lock(s.loop);
    pw_stream_destroy(s.play);
    pw_stream_destroy(s.rec);
    pw_thread_loop_unlock(s.loop);
    pw_thread_loop_stop(s.loop);
    pw_thread_loop_destroy(s.loop);
    const std::size_t n = std::min(s.emitted.size(), s.heard.size());
    if (n == 0) {
        std::printf("latency_samples=-1 emitted=%zu heard=%zu reported_samples=%lld\n", s.emitted.size(), s.heard.size(),
                    static_cast<long long>(s.reported.load()));
        return 1;
    }
    std::vector<std::int64_t> d;
    for (std::size_t i = 0; i < n; ++i) {
        d.push_back(s.heard[i] - s.emitted[i]);
        std::printf("burst %zu: %lld\n", i, static_cast<long long>(d.back()));
    }
    std::sort(d.begin(), d.end());
    std::printf("latency_samples=%lld rate=%u quantum=%u reported_samples=%lld\n", static_cast<long long>(d[d.size() / 2]),
                s.rate, s.quantum, static_cast<long long>(s.reported.load()));
    return 0;
}
