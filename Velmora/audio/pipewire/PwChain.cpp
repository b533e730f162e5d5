// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pipewire/PwChain.h"

#include "identity/AppIdentity.h"

#include <spa/param/audio/format-utils.h>
#include <spa/param/latency-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace pwl {

namespace {

constexpr std::uint32_t kChannels = 2;
constexpr std::uint32_t kMaxFrames = 16384; // 2 x the default quantum limit
constexpr std::uint32_t kMaxPorts = SPA_AUDIO_MAX_CHANNELS;
constexpr int kWatchMs = 250;

const spa_pod *planarStereoFormat(spa_pod_builder *b)
{
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32P;
    info.channels = kChannels;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    // Rate left open: the streams follow the graph rate.
    return spa_format_audio_raw_build(b, SPA_PARAM_EnumFormat, &info);
}

} // namespace

struct Chain::StreamHooks {
    explicit StreamHooks(Chain *c) : chain(c) {}
    Chain *chain = nullptr;
    Hook hook;
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    bool output = false;

    // Both streams: remember the state and wake whoever waits for it.
    static void stateChanged(void *data, pw_stream_state, pw_stream_state state, const char *)
    {
        auto *h = static_cast<StreamHooks *>(data);
        h->state = state;
        if (h->output)
            h->chain->noteOutputState(state);
        h->chain->session_.signal();
    }
};

Chain::Chain(Session &session, ChainConfig config)
    : session_(session), config_(std::move(config)),
      idleTimer_(session.loop(), pw_loop_add_timer(session.loop(), &Chain::idleTimerFired, this)),
      watchdog_(session.loop(), pw_loop_add_timer(session.loop(), &Chain::watchdogFired, this)),
      zeros_(kMaxFrames, 0.0f)
{
    session_.addObserver(this);
}

Chain::~Chain()
{
    clearRouting();
    destroyOutput();
    if (tap_) {
        rtTap_.store(nullptr, std::memory_order_release);
        pw_stream_disconnect(tap_.get());
        session_.dataLoopBarrier();
        tapHooks_.reset();
        tap_.reset();
    }
    session_.removeObserver(this);
}

ChainHealth Chain::health() const
{
    if (session_.broken())
        return ChainHealth::serverLost;
    for (const StreamHooks *h : {tapHooks_.get(), outputHooks_.get()})
        if (h && (h->state == PW_STREAM_STATE_ERROR || (started_ && h->state == PW_STREAM_STATE_UNCONNECTED)))
            return ChainHealth::failed;
    return bypassed_ ? ChainHealth::bypassed : ChainHealth::healthy;
}

// ---- streams --------------------------------------------------------------------------------

int Chain::createTap()
{
    if (tap_)
        return 0;
    pw_properties *props =
        pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_CLASS,
                          kMediaClassSink, PW_KEY_NODE_NAME, config_.tapName.c_str(), PW_KEY_NODE_DESCRIPTION,
                          config_.tapDescription.c_str(), PW_KEY_NODE_VIRTUAL, "true", PW_KEY_NODE_GROUP,
                          config_.group.c_str(), PW_KEY_NODE_LINK_GROUP, config_.group.c_str(),
                          PW_KEY_PRIORITY_SESSION, "-100000", SPA_KEY_AUDIO_POSITION, "[ FL FR ]",
                          "session.suspend-timeout-seconds", "0", nullptr);
    tap_.reset(pw_stream_new(session_.core(), config_.tapDescription.c_str(), props));
    if (!tap_)
        return errno ? -errno : -ENOMEM;
    tapHooks_ = std::make_unique<StreamHooks>(this);
    static const pw_stream_events tapEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &StreamHooks::stateChanged;
        e.process = &Chain::tapProcess;
        return e;
    }();
    pw_stream_add_listener(tap_.get(), tapHooks_->hook.get(), &tapEvents, tapHooks_.get());

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod *params[] = {planarStereoFormat(&b)};
    int res = pw_stream_connect(tap_.get(), PW_DIRECTION_INPUT, PW_ID_ANY,
                                pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                                | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_INACTIVE),
                                params, 1);
    if (res < 0)
        return res;
    res = session_.waitFor(
        [&] {
            if (tapHooks_->state == PW_STREAM_STATE_ERROR)
                return true;
            const std::uint32_t id = pw_stream_get_node_id(tap_.get());
            const Node *n = id == SPA_ID_INVALID ? nullptr : session_.node(id);
            return n && n->serial != 0;
        },
        config_.timeoutMs);
    if (res != 0)
        return res;
    if (tapHooks_->state == PW_STREAM_STATE_ERROR)
        return -EIO;
    tapId_ = pw_stream_get_node_id(tap_.get());
    tapSerial_ = session_.node(tapId_)->serial;
    rtTap_.store(tap_.get(), std::memory_order_release);
    return 0;
}

int Chain::createOutput(const Node &device)
{
    if (output_)
        return retarget(device);
    if (!tap_)
        return -EINVAL;
    pw_properties *props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_NODE_NAME,
        config_.outputName.c_str(), PW_KEY_NODE_DESCRIPTION, config_.outputDescription.c_str(),
        PW_KEY_TARGET_OBJECT, device.name.c_str(), PW_KEY_NODE_DONT_RECONNECT, "false", PW_KEY_NODE_GROUP,
        config_.group.c_str(), PW_KEY_NODE_LINK_GROUP, config_.group.c_str(), PW_KEY_NODE_VIRTUAL, "true",
        "channelmix.upmix", "false", SPA_KEY_AUDIO_POSITION, "[ FL FR ]", nullptr);
    output_.reset(pw_stream_new(session_.core(), config_.outputDescription.c_str(), props));
    if (!output_)
        return errno ? -errno : -ENOMEM;
    outputHooks_ = std::make_unique<StreamHooks>(this);
    outputHooks_->output = true;
    static const pw_stream_events outEvents = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &StreamHooks::stateChanged;
        e.param_changed = [](void *data, std::uint32_t id, const spa_pod *param) {
            auto *h = static_cast<StreamHooks *>(data);
            Chain *c = h->chain;
            spa_latency_info latency{};
            if (id == SPA_PARAM_Latency && param && spa_latency_parse(param, &latency) >= 0
                && latency.direction == SPA_DIRECTION_INPUT) {
                c->deviceLatency_ = latency;
                c->publishLatency();
                return;
            }
            spa_audio_info_raw info{};
            if (id != SPA_PARAM_Format || !param || spa_format_audio_raw_parse(param, &info) < 0)
                return;
            const std::uint32_t old = c->rate_.exchange(info.rate, std::memory_order_relaxed);
            if (old != info.rate && c->onRateChanged)
                c->onRateChanged(info.rate);
            c->session_.signal();
        };
        e.process = &Chain::outputProcess;
        return e;
    }();
    pw_stream_add_listener(output_.get(), outputHooks_->hook.get(), &outEvents, outputHooks_.get());

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod *params[] = {planarStereoFormat(&b)};
    int res = pw_stream_connect(output_.get(), PW_DIRECTION_OUTPUT, PW_ID_ANY,
                                pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS
                                                | PW_STREAM_FLAG_RT_PROCESS | PW_STREAM_FLAG_TRIGGER
                                                | PW_STREAM_FLAG_INACTIVE),
                                params, 1);
    if (res < 0)
        return res;
    res = session_.waitFor(
        [&] {
            if (outputHooks_->state == PW_STREAM_STATE_ERROR)
                return true;
            const std::uint32_t id = pw_stream_get_node_id(output_.get());
            return id != SPA_ID_INVALID && session_.node(id) != nullptr;
        },
        config_.timeoutMs);
    if (res != 0)
        return res;
    if (outputHooks_->state == PW_STREAM_STATE_ERROR)
        return -EIO;
    outputId_ = pw_stream_get_node_id(output_.get());
    deviceName_ = device.name;
    deviceId_ = device.id;
    deviceSerial_ = device.serial;
    // An inactive stream negotiates no format: until start() the rate comes from the graph
    // settings or the device.
    rtOutput_.store(output_.get(), std::memory_order_release);
    return 0;
}

int Chain::retarget(const Node &device)
{
    if (!output_ || outputId_ == 0)
        return -EINVAL;
    if (device.id == deviceId_ && device.name == deviceName_)
        return 0;
    const std::string id = std::to_string(device.id);
    const std::string serial = std::to_string(device.serial);
    int res = session_.setDefaultMetadata(outputId_, "target.node", "Spa:Id", id.c_str());
    if (res >= 0)
        res = session_.setDefaultMetadata(outputId_, "target.object", "Spa:Id", serial.c_str());
    if (res < 0)
        return res;
    deviceName_ = device.name;
    deviceId_ = device.id;
    deviceSerial_ = device.serial;
    return 0;
}

void Chain::destroyOutput()
{
    if (!output_)
        return;
    rtOutput_.store(nullptr, std::memory_order_release);
    outputStreaming_.store(false, std::memory_order_release);
    session_.dataLoopBarrier();
    pw_stream_disconnect(output_.get());
    session_.dataLoopBarrier();
    outputHooks_.reset();
    output_.reset();
    outputId_ = 0;
    rate_.store(0, std::memory_order_relaxed);
    deviceLatency_ = spa_latency_info{};
}

void Chain::setRender(const RenderCallback *render)
{
    if (rtRender_.load(std::memory_order_acquire) == render)
        return;
    rtRender_.store(render, std::memory_order_release);
    session_.dataLoopBarrier();
}

int Chain::start()
{
    if (!tap_ || !output_)
        return -EINVAL;
    started_ = true;
    for (const auto &[id, n] : session_.nodes())
        evaluate(n, true);
    if (!idle_.load())
        setActive(true);
    updateIdle();
    if (watchdog_.get()) {
        timespec every{0, long(kWatchMs) * 1000000L};
        pw_loop_update_timer(session_.loop(), watchdog_.get(), &every, &every, false);
    }
    return 0;
}

int Chain::setProcessLatency(std::uint32_t frames)
{
    if (frames == processFrames_)
        return 0; // unchanged: a new latency param would make the graph renegotiate
    processFrames_ = frames;
    return publishLatency();
}

int Chain::publishLatency()
{
    if (!tap_)
        return -EINVAL;
    spa_latency_info total = deviceLatency_;
    total.direction = SPA_DIRECTION_INPUT;
    const spa_process_latency_info own{0.0f, processFrames_, 0};
    spa_process_latency_info_add(&own, &total);
    std::uint8_t buffer[256];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod *params[] = {spa_latency_build(&b, SPA_PARAM_Latency, &total)};
    return pw_stream_update_params(tap_.get(), params, 1);
}

// The tap runs the output's cycle itself (a trigger), outside the graph's scheduling, so it
// must only do so while the output is streaming: before that, and while it is paused, the
// output's converter may be configured on this thread, and a cycle run then jumps through a
// function it has not set up yet. A trigger under way when the output stops streaming is
// waited out before anything reconfigures it.
void Chain::noteOutputState(pw_stream_state state)
{
    const bool streaming = state == PW_STREAM_STATE_STREAMING;
    if (outputStreaming_.exchange(streaming, std::memory_order_acq_rel) && !streaming)
        session_.dataLoopBarrier();
}

void Chain::setActive(bool active)
{
    if (output_)
        pw_stream_set_active(output_.get(), active);
    if (tap_)
        pw_stream_set_active(tap_.get(), active);
}

// ---- router ---------------------------------------------------------------------------------

bool Chain::namesDevice(const std::string &target) const
{
    return target == deviceName_ || (deviceSerial_ != 0 && target == std::to_string(deviceSerial_))
           || target == config_.tapName || (tapSerial_ != 0 && target == std::to_string(tapSerial_))
           || (config_.formerTapSerial != 0 && target == std::to_string(config_.formerTapSerial)
               && formerTapGone());
}

// Serials start again with a new server: the former one counts only while nothing else has it.
bool Chain::formerTapGone() const
{
    const Node *n = session_.nodeBySerial(config_.formerTapSerial);
    return !n || n->name == config_.tapName;
}

Claim claimDecision(const Node &n, const ClaimFacts &f, const ChainScope &scope)
{
    if (f.ours || n.mediaClass != kMediaClassPlayback || !n.infoSeen)
        return Claim::none;
    if (f.bypassed) // a stalled tap would silence it
        return f.sentToUs ? Claim::giveBack : Claim::none;
    if (!f.routing)
        return Claim::none;
    if (scope.excludes(n.appBinary, n.appName, n.mediaRole))
        return f.moved || f.sentToUs ? Claim::giveBack : Claim::none;
    // The session manager refuses to move dont-reconnect streams; a stream that asks for a
    // device other than the one we play to stays where it is.
    if (f.moved || n.dontReconnect || f.targetsOther)
        return Claim::none;
    return Claim::take;
}

ClaimFacts Chain::facts(const Node &n) const
{
    ClaimFacts f;
    f.routing = started_ && !bypassed_ && tapId_ != 0;
    f.bypassed = bypassed_;
    f.ours = isOwnNode(n.id) || (!config_.group.empty() && n.linkGroup == config_.group)
             || (!config_.ownNamePrefix.empty() && n.name.rfind(config_.ownNamePrefix, 0) == 0);
    f.moved = moved_.count(n.id) != 0;
    const auto elsewhere = [&](const std::string &target) {
        return !target.empty() && target != "-1" && !namesDevice(target);
    };
    const std::string object = session_.defaultMetadata(n.id, "target.object");
    f.targetsOther = elsewhere(n.targetObject) || elsewhere(object);
    f.sentToUs = (!object.empty() && (object == std::to_string(tapSerial_) || object == config_.tapName))
                 || session_.defaultMetadata(n.id, "target.node") == std::to_string(tapId_);
    return f;
}

// `mayTake` false: only hand back (a half-written move of someone else's is not ours to take).
void Chain::evaluate(const Node &n, bool mayTake)
{
    switch (claimDecision(n, facts(n), scope_)) {
    case Claim::take:
        if (mayTake)
            route(n);
        break;
    case Claim::giveBack:
        release(n.id);
        break;
    case Claim::none:
        break;
    }
}

void Chain::setScope(const ChainScope &scope)
{
    scope_ = scope;
    for (const auto &[id, n] : session_.nodes())
        evaluate(n, true);
}

void Chain::route(const Node &n)
{
    const std::string id = std::to_string(tapId_);
    const std::string serial = std::to_string(tapSerial_);
    moved_.insert(n.id);
    noteMetadataWrite(session_.setDefaultMetadata(n.id, "target.node", "Spa:Id", id.c_str()));
    noteMetadataWrite(session_.setDefaultMetadata(n.id, "target.object", "Spa:Id", serial.c_str()));
}

// Cleared routing sends the stream to its device: the session manager links it there.
void Chain::release(std::uint32_t id)
{
    moved_.erase(id);
    if (!session_.node(id))
        return;
    noteMetadataWrite(session_.setDefaultMetadata(id, "target.node", nullptr, nullptr));
    noteMetadataWrite(session_.setDefaultMetadata(id, "target.object", nullptr, nullptr));
}

void Chain::clearRouting()
{
    unroute();
    started_ = false;
}

void Chain::unroute()
{
    while (!moved_.empty())
        release(*moved_.begin());
}

// A stream that could not be moved (or handed back) plays on where it is; said once per chain.
void Chain::noteMetadataWrite(int result)
{
    if (result >= 0 || metadataWarned_)
        return;
    metadataWarned_ = true;
    qCWarning(AppIdentity::logCategory("PipeWire"), "Umleitung in den Metadaten nicht geschrieben: %s",
              std::strerror(-result));
}

void Chain::nodeReady(const Node &n)
{
    evaluate(n, true);
}

void Chain::nodeRemoved(std::uint32_t id)
{
    moved_.erase(id);
}

void Chain::defaultMetadataChanged(std::uint32_t subject, const char *key)
{
    const bool object = key && std::strcmp(key, "target.object") == 0;
    if (!object && !(key && std::strcmp(key, "target.node") == 0))
        return;
    if (!moved_.count(subject)) {
        // A stream sent to our device or to a killed run's sink after it was looked at; or one
        // left out that the session manager sent into the tap (a target it remembered).
        if (const Node *n = session_.node(subject))
            evaluate(*n, object);
        return;
    }
    if (!object)
        return;
    // Someone else moved one of our streams elsewhere: respect that.
    const std::string value = session_.defaultMetadata(subject, "target.object");
    if (value != std::to_string(tapSerial_))
        moved_.erase(subject);
}

// ---- idle -----------------------------------------------------------------------------------

void Chain::linksChanged()
{
    updateIdle();
}

bool Chain::fed() const
{
    for (const auto &[id, l] : session_.links())
        if (l.inputNode == tapId_ && !isOwnNode(l.outputNode))
            return true;
    return false;
}

void Chain::updateIdle()
{
    if (!started_ || tapId_ == 0 || !idleTimer_.get())
        return;
    if (fed()) {
        if (idleTimerArmed_) {
            pw_loop_update_timer(session_.loop(), idleTimer_.get(), nullptr, nullptr, false);
            idleTimerArmed_ = false;
        }
        if (idle_.exchange(false))
            setActive(true);
    } else if (!idle_.load() && !idleTimerArmed_) {
        timespec value{config_.idleMs / 1000, long(config_.idleMs % 1000) * 1000000L};
        pw_loop_update_timer(session_.loop(), idleTimer_.get(), &value, nullptr, false);
        idleTimerArmed_ = true;
    }
}

void Chain::idleTimerFired(void *data, std::uint64_t)
{
    auto *c = static_cast<Chain *>(data);
    c->idleTimerArmed_ = false;
    if (!c->started_ || c->fed())
        return;
    c->idle_.store(true);
    c->setActive(false);
}

// ---- watchdog -------------------------------------------------------------------------------

void Chain::watchdogFired(void *data, std::uint64_t)
{
    static_cast<Chain *>(data)->watch();
}

// Loop thread. A paused chain stands still on purpose; so does one nobody feeds.
void Chain::watch()
{
    const std::uint64_t cycles = rtCycles_.load(std::memory_order_relaxed);
    const bool advanced = cycles != watchedCycles_;
    watchedCycles_ = cycles;
    if (!started_ || bypassed_ || advanced || idle_.load() || !fed()) {
        stalledMs_ = 0;
        return;
    }
    stalledMs_ += kWatchMs;
    if (stalledMs_ < config_.stallMs)
        return;
    // Cleared routing sends every moved stream back to its device, unprocessed: never silence.
    unroute();
    bypassed_ = true;
    pw_loop_update_timer(session_.loop(), watchdog_.get(), nullptr, nullptr, false);
    session_.signal();
}

// ---- real-time ------------------------------------------------------------------------------

void Chain::tapProcess(void *data)
{
    auto *h = static_cast<StreamHooks *>(data);
    Chain *c = h->chain;
    pw_stream *out = c->rtOutput_.load(std::memory_order_acquire);
    if (out && c->outputStreaming_.load(std::memory_order_acquire)) {
        pw_stream_trigger_process(out);
        return;
    }
    // No output streaming yet: hand the buffers straight back.
    pw_stream *tap = c->rtTap_.load(std::memory_order_acquire);
    for (int guard = 0; tap && guard < 64; ++guard) {
        pw_buffer *b = pw_stream_dequeue_buffer(tap);
        if (!b)
            break;
        pw_stream_queue_buffer(tap, b);
    }
}

void Chain::outputProcess(void *data)
{
    auto *h = static_cast<StreamHooks *>(data);
    Chain *c = h->chain;
    pw_stream *tap = c->rtTap_.load(std::memory_order_acquire);
    pw_stream *output = c->rtOutput_.load(std::memory_order_acquire);
    if (!output)
        return;

    // Newest tap buffer only: anything older would add latency.
    pw_buffer *in = nullptr;
    for (int guard = 0; tap && guard < 64; ++guard) {
        pw_buffer *t = pw_stream_dequeue_buffer(tap);
        if (!t)
            break;
        if (in)
            pw_stream_queue_buffer(tap, in);
        in = t;
    }
    pw_buffer *out = pw_stream_dequeue_buffer(output);
    if (!out) {
        if (in)
            pw_stream_queue_buffer(tap, in);
        return;
    }

    spa_buffer *ob = out->buffer;
    const std::uint32_t nOut = std::min<std::uint32_t>(ob->n_datas, kMaxPorts);
    std::uint32_t frames = kMaxFrames;
    for (std::uint32_t i = 0; i < nOut; ++i)
        frames = std::min(frames, ob->datas[i].maxsize / std::uint32_t(sizeof(float)));

    std::uint32_t inFrames = 0;
    const spa_buffer *ib = in ? in->buffer : nullptr;
    if (ib && ib->n_datas > 0 && ib->datas[0].chunk)
        inFrames = ib->datas[0].chunk->size / std::uint32_t(sizeof(float));
    if (inFrames == 0)
        inFrames = std::uint32_t(out->requested); // the driver's quantum for this cycle
    frames = std::min(frames, inFrames);

    // PipeWire's planar buffers are the block's channels as they are.
    const float *inChannels[kMaxPorts];
    float *outChannels[kMaxPorts];
    const std::uint32_t nIn = ib ? std::min<std::uint32_t>(ib->n_datas, kMaxPorts) : kChannels;
    for (std::uint32_t i = 0; i < nIn; ++i) {
        const float *p = nullptr;
        std::uint32_t avail = 0;
        if (ib && ib->datas[i].data && ib->datas[i].chunk) {
            const spa_data &d = ib->datas[i];
            const std::uint32_t offset = std::min(d.chunk->offset, d.maxsize);
            p = reinterpret_cast<const float *>(static_cast<const std::uint8_t *>(d.data) + offset);
            avail = std::min(d.chunk->size, d.maxsize - offset) / std::uint32_t(sizeof(float));
        }
        inChannels[i] = p && avail >= frames ? p : c->zeros_.data(); // nothing captured: silence
    }
    for (std::uint32_t i = 0; i < nOut; ++i)
        outChannels[i] = static_cast<float *>(ob->datas[i].data);

    const RenderCallback *render = c->rtRender_.load(std::memory_order_acquire);
    if (render && *render && frames > 0) {
        (*render)(ConstAudioBlock{inChannels, nIn, frames}, AudioBlock{outChannels, nOut, frames});
    } else {
        for (std::uint32_t i = 0; i < nOut; ++i)
            if (outChannels[i])
                std::memset(outChannels[i], 0, frames * sizeof(float));
    }
    for (std::uint32_t i = 0; i < nOut; ++i) {
        spa_chunk *chunk = ob->datas[i].chunk;
        chunk->offset = 0;
        chunk->size = frames * std::uint32_t(sizeof(float));
        chunk->stride = sizeof(float);
    }
    pw_stream_queue_buffer(output, out);
    if (in)
        pw_stream_queue_buffer(tap, in);
    c->rtCycles_.fetch_add(1, std::memory_order_relaxed);
}

} // namespace pwl
