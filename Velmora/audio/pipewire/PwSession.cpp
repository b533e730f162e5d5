// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pipewire/PwSession.h"

#include <pipewire/extensions/metadata.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/iter.h>
#include <spa/utils/json.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace pwl {

namespace {

const char *dictGet(const spa_dict *props, const char *key)
{
    return props ? spa_dict_lookup(props, key) : nullptr;
}

std::string str(const char *s)
{
    return s ? std::string(s) : std::string();
}

// Number of entries in an audio.position value such as "[ FL FR ]" or "FL,FR".
std::uint32_t countPositions(const char *value)
{
    if (!value)
        return 0;
    std::uint32_t n = 0;
    bool inWord = false;
    for (const char *p = value; *p; ++p) {
        const bool wordChar = std::isalnum(static_cast<unsigned char>(*p)) || *p == '_';
        if (wordChar && !inWord)
            ++n;
        inWord = wordChar;
    }
    return n;
}

// Value of an integer pod, or the default of a choice of integers.
bool podInt(const spa_pod *pod, std::int32_t &out)
{
    std::uint32_t count = 0, choice = 0;
    const spa_pod *v = spa_pod_get_values(pod, &count, &choice);
    return v && count > 0 && spa_pod_get_int(v, &out) == 0;
}

} // namespace

struct Session::Bound {
    Session *session = nullptr;
    std::uint32_t id = 0;
    ProxyPtr proxy;
    Hook objectListener;
};

struct Session::Metadata {
    Session *session = nullptr;
    std::uint32_t id = 0;
    std::string name;
    MetadataPtr proxy;
    Hook listener;
    std::map<std::pair<std::uint32_t, std::string>, std::pair<std::string, std::string>> values;
};

std::unique_ptr<Session> Session::open(int timeoutMs, int &status)
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
    std::unique_ptr<Session> s(new Session());
    status = s->init(timeoutMs);
    if (status != 0)
        return nullptr;
    return s;
}

int Session::init(int timeoutMs)
{
    loop_.reset(pw_thread_loop_new("velmora-pw", nullptr));
    if (!loop_)
        return errno ? -errno : -ENOMEM;
    context_.reset(pw_context_new(pw_thread_loop_get_loop(loop_.get()),
                                  pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0));
    if (!context_)
        return errno ? -errno : -ENOMEM;
    if (pw_thread_loop_start(loop_.get()) < 0)
        return errno ? -errno : -EIO;

    Lock lock(*this);
    core_.reset(
        pw_context_connect(context_.get(), pw_properties_new(PW_KEY_APP_NAME, "Velmora", nullptr), 0));
    if (!core_)
        return errno ? -errno : -ECONNREFUSED;

    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = &Session::onCoreDone;
        e.error = &Session::onCoreError;
        return e;
    }();
    pw_core_add_listener(core_.get(), coreListener_.get(), &coreEvents, this);

    registry_.reset(pw_core_get_registry(core_.get(), PW_VERSION_REGISTRY, 0));
    if (!registry_)
        return errno ? -errno : -ENOMEM;
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = &Session::onGlobal;
        e.global_remove = &Session::onGlobalRemove;
        return e;
    }();
    pw_registry_add_listener(registry_.get(), registryListener_.get(), &registryEvents, this);

    // Globals; then the bound proxies' info and metadata; then the sinks' formats.
    for (int round = 0; round < 3; ++round) {
        if (int res = sync(timeoutMs); res != 0)
            return res;
    }
    return 0;
}

Session::~Session()
{
    if (loop_)
        pw_thread_loop_stop(loop_.get());
    // The loop thread is gone: nothing can call back any more. The proxies go before the
    // registry, core, context and loop (member order).
    defaultMd_.reset();
    settingsMd_.reset();
    boundNodes_.clear();
}

int Session::sync(int timeoutMs)
{
    if (broken_)
        return -EPIPE;
    const int seq = pw_core_sync(core_.get(), PW_ID_CORE, 0);
    if (seq < 0)
        return seq;
    pendingSeq_ = seq;
    return waitFor([&] { return doneSeq_ == seq; }, timeoutMs);
}

void Session::dataLoopBarrier()
{
    pw_data_loop *dl = pw_context_get_data_loop(context_.get());
    if (!dl)
        return;
    pw_data_loop_invoke(
        dl, [](spa_loop *, bool, std::uint32_t, const void *, size_t, void *) -> int { return 0; },
        SPA_ID_INVALID, nullptr, 0, true, nullptr);
}

void Session::addObserver(SessionObserver *o)
{
    observers_.push_back(o);
}

void Session::removeObserver(SessionObserver *o)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

const Node *Session::node(std::uint32_t id) const
{
    auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : &it->second;
}

const Node *Session::nodeByName(const std::string &name) const
{
    for (const auto &[id, n] : nodes_)
        if (n.name == name)
            return &n;
    return nullptr;
}

const Node *Session::nodeBySerial(std::uint64_t serial) const
{
    for (const auto &[id, n] : nodes_)
        if (n.serial == serial)
            return &n;
    return nullptr;
}

std::string Session::defaultSinkName() const
{
    const std::string json = defaultMetadata(0, "default.audio.sink");
    if (json.empty())
        return {};
    spa_json it[2];
    spa_json_init(&it[0], json.c_str(), json.size());
    if (spa_json_enter_object(&it[0], &it[1]) <= 0)
        return json; // a bare name
    char key[64];
    while (spa_json_get_string(&it[1], key, sizeof key) > 0) {
        if (std::strcmp(key, "name") == 0) {
            char value[512];
            if (spa_json_get_string(&it[1], value, sizeof value) > 0)
                return value;
            return {};
        }
        const char *skip;
        if (spa_json_next(&it[1], &skip) <= 0)
            break;
    }
    return {};
}

std::string Session::defaultMetadata(std::uint32_t subject, const std::string &key) const
{
    if (!defaultMd_)
        return {};
    auto it = defaultMd_->values.find({subject, key});
    return it == defaultMd_->values.end() ? std::string() : it->second.second;
}

std::vector<std::uint32_t> Session::defaultMetadataSubjects(const std::string &key,
                                                            const std::string &value) const
{
    std::vector<std::uint32_t> out;
    if (!defaultMd_)
        return out;
    for (const auto &[k, v] : defaultMd_->values)
        if (k.second == key && v.second == value)
            out.push_back(k.first);
    return out;
}

int Session::setDefaultMetadata(std::uint32_t subject, const char *key, const char *type, const char *value)
{
    if (!defaultMd_ || !defaultMd_->proxy)
        return -ENOENT;
    return pw_metadata_set_property(defaultMd_->proxy.get(), subject, key, value ? type : nullptr, value);
}

std::int64_t Session::setting(const std::string &key) const
{
    if (!settingsMd_)
        return 0;
    auto it = settingsMd_->values.find({0u, key});
    if (it == settingsMd_->values.end())
        return 0;
    return std::strtoll(it->second.second.c_str(), nullptr, 10);
}

// ---- loop-thread callbacks -------------------------------------------------------------

void Session::onCoreDone(void *data, std::uint32_t id, int seq)
{
    auto *s = static_cast<Session *>(data);
    if (id == PW_ID_CORE) {
        s->doneSeq_ = seq;
        s->signal();
    }
}

void Session::onCoreError(void *data, std::uint32_t id, int, int res, const char *)
{
    auto *s = static_cast<Session *>(data);
    // Errors of single objects (e.g. enumerating the format of an idle sink) are benign.
    if (id == PW_ID_CORE && res == -EPIPE && !s->broken_) {
        s->broken_ = true;
        for (auto *o : std::vector<SessionObserver *>(s->observers_))
            o->connectionLost();
        s->signal();
    }
}

void Session::onGlobal(void *data, std::uint32_t id, std::uint32_t, const char *type, std::uint32_t,
                       const spa_dict *props)
{
    auto *s = static_cast<Session *>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        const char *cls = dictGet(props, PW_KEY_MEDIA_CLASS);
        if (!cls || (std::strcmp(cls, kMediaClassSink) != 0 && std::strcmp(cls, kMediaClassPlayback) != 0))
            return;
        Node n;
        n.id = id;
        n.mediaClass = cls;
        n.name = str(dictGet(props, PW_KEY_NODE_NAME));
        n.description = str(dictGet(props, PW_KEY_NODE_DESCRIPTION));
        n.nick = str(dictGet(props, PW_KEY_NODE_NICK));
        if (const char *serial = dictGet(props, PW_KEY_OBJECT_SERIAL))
            n.serial = std::strtoull(serial, nullptr, 10);
        s->nodes_[id] = n;
        s->bindNode(id);
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Link) == 0) {
        const char *out = dictGet(props, PW_KEY_LINK_OUTPUT_NODE);
        const char *in = dictGet(props, PW_KEY_LINK_INPUT_NODE);
        if (!out || !in)
            return;
        s->links_[id] =
            Link{std::uint32_t(std::strtoul(out, nullptr, 10)), std::uint32_t(std::strtoul(in, nullptr, 10))};
        for (auto *o : std::vector<SessionObserver *>(s->observers_))
            o->linksChanged();
        s->signal();
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        const char *name = dictGet(props, PW_KEY_METADATA_NAME);
        if (name && (std::strcmp(name, "default") == 0 || std::strcmp(name, "settings") == 0))
            s->bindMetadata(id, name);
    }
}

void Session::onGlobalRemove(void *data, std::uint32_t id)
{
    auto *s = static_cast<Session *>(data);
    if (s->nodes_.erase(id)) {
        s->boundNodes_.erase(id);
        // The server forgets a removed object's metadata without an event; kept here, it would
        // be read as the choice of the next node that gets the id (a stream not retuned).
        if (s->defaultMd_)
            std::erase_if(s->defaultMd_->values, [id](const auto &entry) { return entry.first.first == id; });
        for (auto *o : std::vector<SessionObserver *>(s->observers_))
            o->nodeRemoved(id);
    } else if (s->links_.erase(id)) {
        for (auto *o : std::vector<SessionObserver *>(s->observers_))
            o->linksChanged();
    } else if (s->defaultMd_ && s->defaultMd_->id == id) {
        s->defaultMd_.reset();
        for (auto *o : std::vector<SessionObserver *>(s->observers_))
            o->defaultMetadataChanged(0, nullptr);
    } else if (s->settingsMd_ && s->settingsMd_->id == id) {
        s->settingsMd_.reset();
    }
    s->signal();
}

void Session::bindNode(std::uint32_t id)
{
    auto b = std::make_unique<Bound>();
    b->session = this;
    b->id = id;
    b->proxy.reset(static_cast<pw_proxy *>(
        pw_registry_bind(registry_.get(), id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0)));
    if (!b->proxy)
        return;
    static const pw_node_events nodeEvents = [] {
        pw_node_events e{};
        e.version = PW_VERSION_NODE_EVENTS;
        e.info = [](void *data, const pw_node_info *info) {
            auto *bound = static_cast<Bound *>(data);
            bound->session->nodeInfo(bound->id, info);
        };
        e.param = [](void *data, int, std::uint32_t paramId, std::uint32_t, std::uint32_t,
                     const spa_pod *param) {
            auto *bound = static_cast<Bound *>(data);
            bound->session->nodeParam(bound->id, paramId, param);
        };
        return e;
    }();
    pw_proxy_add_object_listener(b->proxy.get(), b->objectListener.get(), &nodeEvents, b.get());
    boundNodes_[id] = std::move(b);
}

void Session::bindMetadata(std::uint32_t id, const std::string &name)
{
    auto md = std::make_unique<Metadata>();
    md->session = this;
    md->id = id;
    md->name = name;
    md->proxy.reset(static_cast<pw_metadata *>(
        pw_registry_bind(registry_.get(), id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0)));
    if (!md->proxy)
        return;
    static const pw_metadata_events mdEvents = [] {
        pw_metadata_events e{};
        e.version = PW_VERSION_METADATA_EVENTS;
        e.property = [](void *data, std::uint32_t subject, const char *key, const char *type,
                        const char *value) -> int {
            auto *m = static_cast<Metadata *>(data);
            m->session->metadataProperty(m, subject, key, type, value);
            return 0;
        };
        return e;
    }();
    pw_metadata_add_listener(md->proxy.get(), md->listener.get(), &mdEvents, md.get());
    (name == "default" ? defaultMd_ : settingsMd_) = std::move(md);
    signal();
}

void Session::nodeInfo(std::uint32_t id, const pw_node_info *info)
{
    auto it = nodes_.find(id);
    if (it == nodes_.end() || !info)
        return;
    Node &n = it->second;
    n.inputPorts = info->n_input_ports;
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) && info->props) {
        const spa_dict *p = info->props;
        if (const char *v = dictGet(p, PW_KEY_NODE_NAME))
            n.name = v;
        if (const char *v = dictGet(p, PW_KEY_NODE_DESCRIPTION))
            n.description = v;
        if (const char *v = dictGet(p, PW_KEY_NODE_NICK))
            n.nick = v;
        if (const char *v = dictGet(p, PW_KEY_OBJECT_SERIAL))
            n.serial = std::strtoull(v, nullptr, 10);
        n.linkGroup = str(dictGet(p, PW_KEY_NODE_LINK_GROUP));
        const char *target = dictGet(p, PW_KEY_TARGET_OBJECT);
        if (!target)
            target = dictGet(p, PW_KEY_NODE_TARGET);
        n.targetObject = str(target);
        n.appName = str(dictGet(p, PW_KEY_APP_NAME));
        n.appBinary = str(dictGet(p, PW_KEY_APP_PROCESS_BINARY));
        n.appIcon = str(dictGet(p, PW_KEY_APP_ICON_NAME));
        n.mediaRole = str(dictGet(p, PW_KEY_MEDIA_ROLE));
        const char *dr = dictGet(p, PW_KEY_NODE_DONT_RECONNECT);
        n.dontReconnect = dr && (std::strcmp(dr, "true") == 0 || std::strcmp(dr, "1") == 0);
        if (n.channels == 0) {
            if (const char *ch = dictGet(p, PW_KEY_AUDIO_CHANNELS))
                n.channels = std::uint32_t(std::strtoul(ch, nullptr, 10));
            else
                n.channels = countPositions(dictGet(p, SPA_KEY_AUDIO_POSITION));
        }
    }
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PARAMS) && n.mediaClass == kMediaClassSink) {
        auto b = boundNodes_.find(id);
        if (b != boundNodes_.end() && b->second->proxy) {
            auto *proxy = reinterpret_cast<pw_node *>(b->second->proxy.get());
            pw_node_enum_params(proxy, 0, SPA_PARAM_EnumFormat, 0, 8, nullptr);
            // Fails with a benign error on a suspended sink.
            n.currentRate = 0;
            pw_node_enum_params(proxy, 0, SPA_PARAM_Format, 0, 1, nullptr);
        }
    }
    n.infoSeen = true;
    const Node copy = n;
    for (auto *o : std::vector<SessionObserver *>(observers_))
        o->nodeReady(copy);
    signal();
}

void Session::nodeParam(std::uint32_t id, std::uint32_t paramId, const spa_pod *param)
{
    auto it = nodes_.find(id);
    if (it == nodes_.end() || !param || !spa_pod_is_object(param))
        return;
    Node &n = it->second;
    if (paramId == SPA_PARAM_Format) {
        spa_audio_info_raw info{};
        if (spa_format_audio_raw_parse(param, &info) >= 0)
            n.currentRate = info.rate;
        signal();
        return;
    }
    if (paramId != SPA_PARAM_EnumFormat)
        return;
    const spa_pod_prop *prop;
    const auto *obj = reinterpret_cast<const spa_pod_object *>(param);
    SPA_POD_OBJECT_FOREACH(obj, prop)
    {
        std::int32_t v = 0;
        if (prop->key == SPA_FORMAT_AUDIO_rate && podInt(&prop->value, v) && v > 0 && n.defaultRate == 0)
            n.defaultRate = std::uint32_t(v);
        else if (prop->key == SPA_FORMAT_AUDIO_channels && podInt(&prop->value, v) && v > 0)
            n.channels = std::max(n.channels, std::uint32_t(v));
    }
    signal();
}

void Session::metadataProperty(Metadata *md, std::uint32_t subject, const char *key, const char *type,
                               const char *value)
{
    if (!key) {
        // Subject cleared (key null): drop all its keys (subject PW_ID_ANY: everything).
        for (auto it = md->values.begin(); it != md->values.end();) {
            if (subject == PW_ID_ANY || it->first.first == subject)
                it = md->values.erase(it);
            else
                ++it;
        }
    } else if (!value) {
        md->values.erase({subject, key});
    } else {
        md->values[{subject, key}] = {str(type), value};
    }
    if (md == defaultMd_.get()) {
        for (auto *o : std::vector<SessionObserver *>(observers_))
            o->defaultMetadataChanged(subject, key);
    }
    signal();
}

} // namespace pwl
