// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pipewire/PipeWireServer.h"

#include "audio/pipewire/PwChain.h"
#include "audio/pipewire/PwSession.h"
#include "identity/AppIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

const QLoggingCategory &lcPipeWire()
{
    return AppIdentity::logCategory("PipeWire");
}

constexpr std::uint32_t kQuantumLimit = 8192;
constexpr std::uint32_t kFallbackRate = 48000;
constexpr int kChainChannels = 2; // the output stream; PipeWire maps it onto the device

std::string deviceDescription(const pwl::Node &n)
{
    return !n.description.empty() ? n.description : !n.nick.empty() ? n.nick : std::string("Unbekannt");
}

} // namespace

// Session events that concern the server: the default sink and the connection.
class PipeWireServer::Watch : public pwl::SessionObserver {
public:
    Watch(PipeWireServer &server, pwl::Session &session) : server_(server), session_(session)
    {
        lastDefault_ = session_.defaultSinkName();
        manager_ = session_.hasDefaultMetadata();
    }
    void defaultMetadataChanged(std::uint32_t subject, const char *key) override;
    void nodeReady(const pwl::Node &n) override;
    void nodeRemoved(std::uint32_t id) override { server_.dropStream(id); }
    void linksChanged() override { checkManagerBack(); }
    void connectionLost() override { server_.lost(); }
    // Loop lock held. `periodic`: from the once-a-second look, see reconnectLoop.
    void checkManagerBack(bool periodic = false);

private:
    void noteManager(const pwl::Node *defaultSink, bool settled = false);
    const pwl::Node *defaultSink() const;

    PipeWireServer &server_;
    pwl::Session &session_;
    std::string lastDefault_;
    bool manager_ = false; // the session manager's "default" metadata is there
    int namedChecks_ = 0;  // periodic looks in a row that found the returning manager's sink named
    // The default names a sink whose properties have not arrived yet: it counts once they do.
    bool defaultPending_ = false;
};

// An open chain: the capture sink and the output stream of one session.
class PipeWireServer::Chain final : public AudioChain {
public:
    Chain(std::shared_ptr<PipeWireServer> server, std::shared_ptr<pwl::Session> session,
          const OutputDevice &device)
        : server_(std::move(server)), session_(std::move(session)), device_(device)
    {
    }
    ~Chain() override
    {
        {
            pwl::Session::Lock lock(*session_);
            // Nobody reaches this chain through the server from now on (the device name).
            Chain *self = this;
            server_->open_.compare_exchange_strong(self, nullptr);
            if (chain_) {
                chain_->setRender(nullptr);
                chain_.reset(); // clears the routing first, then removes both streams
                if (!session_->broken())
                    session_->sync(server_->options_.timeoutMs);
            }
        }
        QFile::remove(QString::fromStdString(server_->stateFilePath()));
    }

    OutputDevice device() const override
    {
        pwl::Session::Lock lock(*session_);
        return device_;
    }
    double rate() const override { return chain_ ? chain_->rate() : 0.0; }
    void retarget(const OutputDevice &device) override
    {
        pwl::Session::Lock lock(*session_);
        const pwl::Node *n = session_->node(device.id);
        if (!n || n->name != device.nodeName)
            n = session_->nodeByName(device.nodeName);
        const int res = n ? chain_->retarget(*n) : -ENODEV;
        if (res != 0)
            throw AudioError(res, "Ausgabe auf anderes Geraet legen");
        device_ = device;
    }
    void setRender(RenderCallback render) override
    {
        auto next = render ? std::make_unique<RenderCallback>(std::move(render)) : nullptr;
        {
            pwl::Session::Lock lock(*session_);
            chain_->setRender(next.get());
            std::swap(render_, next);
        }
        // `next` now holds the previous callback, which no process callback uses any more.
    }
    // Only players' picture timing depends on it: a failure is logged (once), nothing stops.
    void setProcessingLatency(std::uint32_t frames) override
    {
        pwl::Session::Lock lock(*session_);
        const int res = chain_->setProcessLatency(frames);
        if (res < 0 && !latencyWarned_) {
            latencyWarned_ = true;
            qCWarning(lcPipeWire, "Verarbeitungslatenz nicht veroeffentlicht: %s", std::strerror(-res));
        }
    }
    bool isIdle() const override { return chain_->idle(); }
    ChainHealth health() const override
    {
        pwl::Session::Lock lock(*session_);
        return chain_->health();
    }

    // Loop lock held.
    void open(RenderCallback render, std::uint64_t formerTapSerial)
    {
        const Options &o = server_->options_;
        pwl::ChainConfig cfg;
        cfg.formerTapSerial = formerTapSerial;
        cfg.tapName = server_->tapName();
        cfg.tapDescription = "Velmora";
        cfg.outputName = o.appId + ".output";
        cfg.outputDescription = "Velmora";
        cfg.group = o.appId + ".group-" + std::to_string(getpid());
        cfg.ownNamePrefix = o.appId + ".";
        cfg.idleMs = o.idleMs;
        cfg.timeoutMs = o.timeoutMs;
        chain_ = std::make_unique<pwl::Chain>(*session_, cfg);
        chain_->onRateChanged = [weak = std::weak_ptr<PipeWireServer>(server_)](std::uint32_t rate) {
            if (auto s = weak.lock())
                s->post([rate](const Events &e) {
                    if (e.rateChanged)
                        e.rateChanged(double(rate));
                });
        };
        if (const int res = chain_->createTap(); res != 0)
            throw AudioError(res, "Aufnahme-Senke anlegen");
        // The device may have been made anew (under another id) since it was looked up, as
        // when a returning session manager's monitor re-creates it: its name still holds.
        const pwl::Node *n = session_->node(device_.id);
        if (!n || n->name != device_.nodeName)
            n = session_->nodeByName(device_.nodeName);
        if (!n || n->mediaClass != pwl::kMediaClassSink) {
            qCDebug(lcPipeWire, "Ausgabegeraet %u (%s) nicht mehr da", device_.id, device_.nodeName.c_str());
            throw AudioError(-ENODEV, "Ausgabestrom anlegen");
        }
        device_.id = n->id;
        if (const int res = chain_->createOutput(*n); res != 0)
            throw AudioError(res, "Ausgabestrom anlegen");
        render_ = std::make_unique<RenderCallback>(std::move(render));
        chain_->setRender(render_.get());
        chain_->setScope(server_->scope());
        if (const int res = chain_->start(); res != 0)
            throw AudioError(res, "Audiokette starten");
    }
    // Loop lock held: follows a new default device at once.
    void follow(const pwl::Node &n)
    {
        if (!server_->scope().followDefault)
            return; // the owner's rebuild moves the output, with the device's own settings
        if (chain_ && chain_->started() && chain_->retarget(n) == 0) {
            device_.id = n.id;
            device_.nodeName = n.name;
            device_.description = deviceDescription(n);
            qCInfo(lcPipeWire, "Ausgabe folgt dem Standardgeraet %s", n.name.c_str());
        }
    }
    // Loop lock held.
    void setScope(const ChainScope &scope)
    {
        if (chain_)
            chain_->setScope(scope);
    }
    std::uint64_t tapSerial() const { return chain_->tapSerial(); }
    std::uint32_t tapId() const { return chain_->tapId(); }
    std::string deviceName() const { return chain_ ? chain_->deviceName() : device_.nodeName; }
    std::uint32_t chainRate() const { return chain_ ? chain_->rate() : 0; }
    bool belongsTo(const pwl::Session &session) const { return session_.get() == &session; }

private:
    std::shared_ptr<PipeWireServer> server_;
    std::shared_ptr<pwl::Session> session_;
    OutputDevice device_;
    bool latencyWarned_ = false; // loop lock
    std::unique_ptr<RenderCallback> render_; // before chain_: released after it
    std::unique_ptr<pwl::Chain> chain_;
};

// The session manager owns the "default" metadata: it goes with it and comes back with it.
// Back counts once it has elected a default sink and configured that sink's ports: a chain
// opened before then is left unlinked by the returning manager.
void PipeWireServer::Watch::noteManager(const pwl::Node *defaultSink, bool settled)
{
    const bool present = session_.hasDefaultMetadata();
    if (present == manager_ || (present && (!defaultSink || (defaultSink->inputPorts == 0 && !settled))))
        return;
    manager_ = present;
    if (present)
        qCInfo(lcPipeWire, "Sitzungsmanager wieder da");
    else
        qCWarning(lcPipeWire, "Sitzungsmanager verschwunden");
    server_.post([present](const Events &e) {
        if (e.sessionManager)
            e.sessionManager(present);
    });
}

// The sink the session manager has elected, if we know it (never our own capture sink).
const pwl::Node *PipeWireServer::Watch::defaultSink() const
{
    const std::string name = session_.defaultSinkName();
    const pwl::Node *n = session_.nodeByName(name);
    return n && n->mediaClass == pwl::kMediaClassSink && name != server_.tapName() ? n : nullptr;
}

// A returning session manager is ready after a series of events whose order varies (its
// metadata, the sink's properties, the sink's ports, the first links): every one of them
// looks again, so that no order can leave the chain waiting for good.
void PipeWireServer::Watch::checkManagerBack(bool periodic)
{
    if (manager_ || !session_.hasDefaultMetadata()) {
        namedChecks_ = 0;
        return;
    }
    const pwl::Node *sink = defaultSink();
    if (periodic) {
        namedChecks_ = sink ? namedChecks_ + 1 : 0;
        if (sink && sink->inputPorts == 0)
            qCDebug(lcPipeWire, "Standardgeraet %s noch ohne Ports", sink->name.c_str());
    }
    // Named for two looks in a row, the sink counts even if its ports were never reported.
    noteManager(sink, namedChecks_ >= 2);
}

void PipeWireServer::Watch::defaultMetadataChanged(std::uint32_t subject, const char *key)
{
    checkManagerBack();
    if (key && (subject != 0 || std::strcmp(key, "default.audio.sink") != 0))
        return;
    const std::string name = session_.defaultSinkName();
    const pwl::Node *n = defaultSink();
    noteManager(n);
    if (name == server_.tapName() || name == lastDefault_)
        return; // never follow our own capture sink
    lastDefault_ = name;
    // A device that has just appeared is often named default before we know its properties;
    // without the event once we do, an engine waiting for a device would never hear of it.
    defaultPending_ = !n && !name.empty();
    Chain *open = server_.open_.load();
    if (open && open->belongsTo(session_) && n)
        open->follow(*n);
    server_.post([](const Events &e) {
        if (e.defaultOutputChanged)
            e.defaultOutputChanged();
    });
}

void PipeWireServer::Watch::nodeReady(const pwl::Node &n)
{
    checkManagerBack();
    if (n.mediaClass == pwl::kMediaClassPlayback) {
        server_.noteStream(n);
        return;
    }
    if (!manager_ || n.mediaClass != pwl::kMediaClassSink || n.name != session_.defaultSinkName()
        || n.name == server_.tapName())
        return;
    // A new device is often named default before its properties arrive: without this event,
    // an engine waiting for a device would never hear of it.
    if (!defaultPending_)
        return;
    defaultPending_ = false;
    Chain *open = server_.open_.load();
    if (open && open->belongsTo(session_))
        open->follow(n);
    server_.post([](const Events &e) {
        if (e.defaultOutputChanged)
            e.defaultOutputChanged();
    });
}

// ---- connection -------------------------------------------------------------------------------

std::shared_ptr<PipeWireServer> PipeWireServer::connect(Options options)
{
    if (options.appId.empty())
        options.appId = AppIdentity::applicationId;
    int status = 0;
    std::shared_ptr<pwl::Session> session = pwl::Session::open(options.timeoutMs, status);
    if (!session)
        throw AudioError(status ? status : -EIO, "Verbindung zu PipeWire herstellen");
    auto server = std::make_shared<PipeWireServer>(Private{}, std::move(options));
    server->adopt(std::move(session));
    server->reconnector_ = std::thread([s = server.get()] { s->reconnectLoop(); });
    return server;
}

PipeWireServer::PipeWireServer(Private, Options options) : options_(std::move(options)) {}

PipeWireServer::~PipeWireServer()
{
    {
        MutexLock guard(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (reconnector_.joinable())
        reconnector_.join();
    std::shared_ptr<pwl::Session> session;
    pwl::SessionObserver *watch = nullptr;
    {
        MutexLock guard(mutex_);
        session = session_;
        watch = watch_.get();
    }
    if (session) {
        pwl::Session::Lock lock(*session);
        session->removeObserver(watch);
    }
}

void PipeWireServer::adopt(std::shared_ptr<pwl::Session> session)
{
    auto watch = std::make_unique<Watch>(*this, *session);
    {
        pwl::Session::Lock lock(*session);
        session->addObserver(watch.get());
    }
    std::shared_ptr<pwl::Session> old;
    std::unique_ptr<Watch> oldWatch;
    {
        MutexLock guard(mutex_);
        // The streams of a new session are counted afresh (below).
        appStreams_.clear();
        for (AppEntry &a : apps_)
            a.playing = false;
        old = std::move(session_);
        oldWatch = std::move(watch_);
        session_ = std::move(session);
        watch_ = std::move(watch);
        lost_ = false;
    }
    if (old) {
        pwl::Session::Lock lock(*old);
        old->removeObserver(oldWatch.get());
    }
    // Streams the session saw before it was ours.
    std::shared_ptr<pwl::Session> s = this->session();
    pwl::Session::Lock lock(*s);
    for (const auto &[id, n] : s->nodes())
        if (n.mediaClass == pwl::kMediaClassPlayback && n.infoSeen)
            noteStream(n);
}

// Loop thread of the lost session, its lock held.
void PipeWireServer::lost()
{
    {
        MutexLock guard(mutex_);
        if (lost_)
            return;
        lost_ = true;
    }
    qCWarning(lcPipeWire, "Verbindung zu PipeWire verloren");
    wake_.notify_all();
    post([](const Events &e) {
        if (e.connection)
            e.connection(false);
    });
}

void PipeWireServer::reconnectLoop()
{
    MutexLock lock(mutex_);
    while (!stopping_) {
        if (!lock.waitFor(wake_, std::chrono::seconds(1), [this]() REQUIRES(mutex_) { return stopping_ || lost_; })) {
            // Connected: once a second the session manager's return is looked for, in case
            // the events that tell of it came in an order nobody foresaw. Only this thread
            // replaces the session and its watch.
            std::shared_ptr<pwl::Session> session = session_;
            Watch *watch = watch_.get();
            lock.unlock();
            if (session && watch && !session->broken()) {
                pwl::Session::Lock l(*session);
                watch->checkManagerBack(true);
            }
            lock.lock();
            continue;
        }
        if (stopping_)
            break;
        if (lock.waitFor(wake_, std::chrono::milliseconds(options_.reconnectMs),
                         [this]() REQUIRES(mutex_) { return stopping_; }))
            break;
        lock.unlock();
        int status = 0;
        std::shared_ptr<pwl::Session> fresh = pwl::Session::open(options_.timeoutMs, status);
        bool usable = false;
        if (fresh) {
            // Back only once the session manager has elected a default sink: before that no
            // chain could be opened.
            pwl::Session::Lock l(*fresh);
            const pwl::Node *n = fresh->nodeByName(fresh->defaultSinkName());
            usable = fresh->hasDefaultMetadata() && n && n->mediaClass == pwl::kMediaClassSink;
        }
        if (usable) {
            adopt(std::move(fresh));
            qCInfo(lcPipeWire, "Verbindung zu PipeWire wiederhergestellt");
            post([](const Events &e) {
                if (e.connection)
                    e.connection(true);
            });
        }
        fresh.reset();
        lock.lock();
    }
}

std::shared_ptr<pwl::Session> PipeWireServer::session() const
{
    MutexLock guard(mutex_);
    return session_;
}

void PipeWireServer::setEvents(Events events, Executor executor)
{
    MutexLock guard(mutex_);
    events_ = std::move(events);
    executor_ = std::move(executor);
}

void PipeWireServer::post(std::function<void(const Events &)> call)
{
    MutexLock guard(mutex_);
    if (!executor_)
        return;
    executor_([weak = weak_from_this(), call = std::move(call)] {
        auto self = weak.lock();
        if (!self)
            return;
        Events events;
        {
            MutexLock guard(self->mutex_);
            events = self->events_;
        }
        call(events);
    });
}

bool PipeWireServer::isConnected() const
{
    MutexLock guard(mutex_);
    return !lost_;
}

bool PipeWireServer::hasSessionManager() const
{
    auto s = session();
    pwl::Session::Lock lock(*s);
    return !s->broken() && s->hasDefaultMetadata();
}

// ---- default output and chains ------------------------------------------------------------------

OutputDevice PipeWireServer::defaultOutput()
{
    auto s = session();
    pwl::Session::Lock lock(*s);
    if (s->broken())
        throw AudioError(-EPIPE, "Standard-Ausgabegeraet lesen");
    std::string name = s->hasDefaultMetadata() ? s->defaultSinkName() : std::string();
    Chain *open = open_.load();
    if (open && !open->belongsTo(*s))
        open = nullptr;
    if (name == tapName())
        name = open ? open->deviceName() : std::string(); // never report our own sink
    const pwl::Node *n = name.empty() ? nullptr : s->nodeByName(name);
    if (!n || n->mediaClass != pwl::kMediaClassSink)
        throw AudioError(-ENODEV, "Kein Standard-Ausgabegeraet vorhanden");

    OutputDevice d;
    d.id = n->id;
    d.nodeName = n->name;
    d.description = deviceDescription(*n);
    d.channels = kChainChannels;
    std::uint32_t rate = open ? open->chainRate() : 0;
    if (rate == 0)
        rate = std::uint32_t(std::max<std::int64_t>(0, s->setting("clock.force-rate")));
    if (rate == 0)
        rate = n->currentRate;
    if (rate == 0)
        rate = std::uint32_t(std::max<std::int64_t>(0, s->setting("clock.rate")));
    if (rate == 0)
        rate = n->defaultRate ? n->defaultRate : kFallbackRate;
    d.rate = rate;
    d.maxBlockFrames = std::max<std::uint32_t>(
        {kQuantumLimit, std::uint32_t(std::max<std::int64_t>(0, s->setting("clock.max-quantum"))),
         std::uint32_t(std::max<std::int64_t>(0, s->setting("clock.force-quantum")))});
    return d;
}

std::unique_ptr<AudioChain> PipeWireServer::openChain(const OutputDevice &device, RenderCallback render)
{
    // A killed run's routing may still name its sink: clearStaleRouting() leaves it while that
    // sink is being destroyed, and streams sent there would otherwise never be taken.
    const std::uint64_t former = formerTapSerial();
    auto s = session();
    auto chain = std::make_unique<Chain>(shared_from_this(), s, device);
    {
        pwl::Session::Lock lock(*s);
        if (s->broken())
            throw AudioError(-EPIPE, "Aufnahme-Senke anlegen");
        Chain *expected = nullptr;
        if (!open_.compare_exchange_strong(expected, chain.get()))
            throw AudioError(-EBUSY, "Zweite Audiokette starten");
        if (const pwl::Node *other = s->nodeByName(tapName())) {
            qCWarning(lcPipeWire, "Aufnahme-Senke %u gehoert einem anderen laufenden Prozess", other->id);
            throw AudioError(-EBUSY, "Aufnahme-Senke anlegen");
        }
        chain->open(std::move(render), former); // throws; the chain's destructor removes what exists
    }

    const QString path = QString::fromStdString(stateFilePath());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    const std::string text = "pid=" + std::to_string(getpid())
                             + "\nserial=" + std::to_string(chain->tapSerial())
                             + "\nnode=" + std::to_string(chain->tapId()) + "\n";
    if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), qint64(text.size())) < 0 || !f.commit())
        qCWarning(lcPipeWire, "Zustandsdatei %s nicht geschrieben", qPrintable(path));
    qCInfo(lcPipeWire, "Kette offen: Senke %u (Serial %llu) auf %s", chain->tapId(),
           static_cast<unsigned long long>(chain->tapSerial()), device.nodeName.c_str());
    return chain;
}

std::string PipeWireServer::stateFilePath() const
{
    std::string dir = options_.stateDir;
    if (dir.empty()) {
        const char *state = std::getenv("XDG_STATE_HOME");
        const char *home = std::getenv("HOME");
        dir = (state && *state) ? std::string(state) : std::string(home ? home : "/tmp") + "/.local/state";
        dir += "/" + options_.appId;
    }
    return dir + "/pipewire-tap";
}

std::uint64_t PipeWireServer::formerTapSerial() const
{
    QFile f(QString::fromStdString(stateFilePath()));
    std::uint64_t serial = 0;
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("serial="))
                serial = line.mid(7).toULongLong();
    return serial;
}

int PipeWireServer::clearStaleRouting()
{
    const std::uint64_t serial = formerTapSerial();
    if (serial == 0)
        return 0;

    auto s = session();
    pwl::Session::Lock lock(*s);
    if (const pwl::Node *n = s->nodeBySerial(serial); n && n->name == tapName())
        return 0; // the sink lives (ours or another instance's): nothing is stale
    if (open_.load())
        return 0; // the file is ours now
    const std::string value = std::to_string(serial);
    int cleared = 0;
    for (std::uint32_t subject : s->defaultMetadataSubjects("target.object", value)) {
        s->setDefaultMetadata(subject, "target.node", nullptr, nullptr);
        s->setDefaultMetadata(subject, "target.object", nullptr, nullptr);
        ++cleared;
    }
    if (cleared > 0)
        s->sync(options_.timeoutMs);
    QFile::remove(QString::fromStdString(stateFilePath()));
    if (cleared > 0)
        qCInfo(lcPipeWire, "%d verwaiste Umleitungen eines beendeten Laufs entfernt", cleared);
    return cleared;
}

// ---- scope and applications --------------------------------------------------------------------

ChainScope PipeWireServer::scope() const
{
    MutexLock guard(mutex_);
    return scope_;
}

void PipeWireServer::setScope(const ChainScope &scope)
{
    {
        MutexLock guard(mutex_);
        scope_ = scope;
    }
    auto s = session();
    pwl::Session::Lock lock(*s);
    Chain *open = open_.load(); // cleared under this lock before a chain goes
    if (open && open->belongsTo(*s))
        open->setScope(scope);
}

std::vector<AppEntry> PipeWireServer::applications() const
{
    MutexLock guard(mutex_);
    return apps_;
}

void PipeWireServer::noteStream(const pwl::Node &n)
{
    const std::string key = applicationKey(n.appBinary, n.appName);
    if (key.empty() || n.name.rfind(options_.appId + ".", 0) == 0)
        return; // anonymous, or ours
    bool changed = false;
    {
        MutexLock guard(mutex_);
        appStreams_[n.id] = key;
        auto it = std::find_if(apps_.begin(), apps_.end(), [&](const AppEntry &a) { return a.key == key; });
        if (it == apps_.end())
            it = apps_.insert(apps_.end(), AppEntry{key, {}, {}, {}, false});
        const AppEntry before = *it;
        it->name = n.appName.empty() ? key : n.appName;
        it->iconName = n.appIcon;
        it->binary = n.appBinary;
        it->playing = true;
        changed = before != *it;
    }
    if (changed)
        post([](const Events &e) {
            if (e.applicationsChanged)
                e.applicationsChanged();
        });
}

void PipeWireServer::dropStream(std::uint32_t id)
{
    bool changed = false;
    {
        MutexLock guard(mutex_);
        auto gone = appStreams_.find(id);
        if (gone == appStreams_.end())
            return;
        const std::string key = gone->second;
        appStreams_.erase(gone);
        const bool more = std::any_of(appStreams_.begin(), appStreams_.end(),
                                      [&](const auto &stream) { return stream.second == key; });
        for (AppEntry &a : apps_)
            if (a.key == key && a.playing != more)
                a.playing = more, changed = true;
    }
    if (changed)
        post([](const Events &e) {
            if (e.applicationsChanged)
                e.applicationsChanged();
        });
}
