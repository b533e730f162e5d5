// SPDX-License-Identifier: GPL-3.0-or-later
// pw_slow_sink: a stereo sink that reports a fixed playback latency on its ports, the way
// Bluetooth headphones report theirs, and discards what it is given (its monitor still
// carries it). Lets the tests check that a router passes a device's own latency on.
//
//   pw_slow_sink NAME FRAMES
//
// Runs until SIGINT or SIGTERM.
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

pw_main_loop *g_loop = nullptr;

void process(void *data)
{
    pw_stream *stream = *static_cast<pw_stream **>(data);
    while (pw_buffer *b = pw_stream_dequeue_buffer(stream))
        pw_stream_queue_buffer(stream, b);
}

void quit(void *, int) { pw_main_loop_quit(g_loop); }

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pw_slow_sink NAME FRAMES\n");
        return 2;
    }
    pw_init(&argc, &argv);
    g_loop = pw_main_loop_new(nullptr);
    pw_loop_add_signal(pw_main_loop_get_loop(g_loop), SIGINT, quit, nullptr);
    pw_loop_add_signal(pw_main_loop_get_loop(g_loop), SIGTERM, quit, nullptr);

    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.process = process;
        return e;
    }();
    pw_stream *stream = nullptr;
    stream = pw_stream_new_simple(pw_main_loop_get_loop(g_loop), argv[1],
                                  pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                    PW_KEY_MEDIA_CLASS, "Audio/Sink", PW_KEY_NODE_NAME, argv[1],
                                                    PW_KEY_NODE_DESCRIPTION, argv[1], PW_KEY_NODE_VIRTUAL, "true",
                                                    SPA_KEY_AUDIO_POSITION, "[ FL FR ]", nullptr),
                                  &events, &stream);

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32P;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    spa_latency_info latency = SPA_LATENCY_INFO(SPA_DIRECTION_INPUT);
    latency.min_rate = latency.max_rate = std::uint32_t(std::strtoul(argv[2], nullptr, 10));
    const spa_pod *params[] = {spa_format_audio_raw_build(&b, SPA_PARAM_EnumFormat, &info),
                               spa_latency_build(&b, SPA_PARAM_Latency, &latency)};
    pw_stream_connect(stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                      pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
                      params, 2);
    pw_main_loop_run(g_loop);
    pw_stream_destroy(stream);
    pw_main_loop_destroy(g_loop);
    pw_deinit();
    return 0;
}
