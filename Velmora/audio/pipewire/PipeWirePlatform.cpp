// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pipewire/PipeWirePlatform.h"

#include "audio/AudioError.h"
#include "audio/pipewire/PwChain.h"
#include "audio/pipewire/PwSession.h"
#include "render/RenderChain.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPipeWire, "org.velmora.Velmora.PipeWire")

namespace {

constexpr std::uint32_t kQuantumLimit = 8192;
constexpr std::uint32_t kFallbackRate = 48000;
constexpr std::uint32_t kTapChannels = 2;

template <class T>
OSStatus copyValue(const T &value, std::uint32_t &ioSize, void *data)
{
    if (!data || ioSize < sizeof(T))
        return -EINVAL;
    std::memcpy(data, &value, sizeof(T));
    ioSize = sizeof(T);
    return 0;
}

std::uint32_t slaySize() { return std::uint32_t(offsetof(AudioBufferList, mBuffers) + sizeof(AudioBuffer)); }

} // namespace

struct PipeWirePlatform::Listener {
    AudioObjectID object = 0;
    AudioObjectPropertyAddress address;
    SerialExecutor *queue = nullptr;
    AudioObjectPropertyListenerBlock block;
    std::atomic<bool> alive{true};
};

// Session events that concern the platform (the default sink).
class PipeWirePlatform::Observer : public pwl::SessionObserver {
public:
    explicit Observer(PipeWirePlatform &p) : p_(p) {}
    void defaultMetadataChanged(std::uint32_t subject, const char *key) override
    {
        if (key && (subject != 0 || std::strcmp(key, "default.audio.sink") != 0))
            return;
        const std::string name = p_.session_->defaultSinkName();
        if (p_.chain_ && p_.chain_->hasTap() && name == p_.options_.appId + ".tap")
            return;  // never follow our own tap
        if (name == p_.lastDefaultName_)
            return;
        p_.lastDefaultName_ = name;
        // A running chain follows at once (the output stream is moved, nothing is rebuilt), so
        // the new device gets retuned audio without waiting for the owner's rebuild.
        if (p_.chain_ && p_.aggregateHeld_ && p_.chain_->started()) {
            const pwl::Node *n = p_.session_->nodeByName(name);
            if (n && p_.isDevice(n->id) && p_.chain_->retarget(*n) == 0)
                qCInfo(lcPipeWire, "Ausgabe folgt dem Standardgeraet %s", name.c_str());
        }
        p_.fire(kAudioHardwarePropertyDefaultOutputDevice);
    }

private:
    PipeWirePlatform &p_;
};

std::shared_ptr<PipeWirePlatform> PipeWirePlatform::connect(const Options &options)
{
    auto p = std::make_shared<PipeWirePlatform>(Private{}, options);
    return p;
}

PipeWirePlatform::PipeWirePlatform(Private, const Options &options) : options_(options)
{
    int status = 0;
    session_ = pwl::Session::open(options_.timeoutMs, status);
    if (!session_)
        throw AudioError(status ? status : -EIO, "Verbindung zu PipeWire herstellen");
    observer_ = std::make_unique<Observer>(*this);
    pwl::Session::Lock lock(*session_);
    session_->addObserver(observer_.get());
    parkTimer_ = pw_loop_add_timer(session_->loop(), &PipeWirePlatform::parkTimerFired, this);
    lastDefaultName_ = session_->defaultSinkName();
}

PipeWirePlatform::~PipeWirePlatform()
{
    {
        pwl::Session::Lock lock(*session_);
        if (chain_) {
            chain_->setBlock(nullptr);
            tapHeld_ = aggregateHeld_ = false;
            destroyChain();
            session_->sync(options_.timeoutMs);
        }
        if (parkTimer_)
            pw_loop_destroy_source(session_->loop(), parkTimer_);
        session_->removeObserver(observer_.get());
    }
    session_.reset();
}

bool PipeWirePlatform::hasSessionManager() const
{
    pwl::Session::Lock lock(*session_);
    return session_->hasDefaultMetadata();
}

void PipeWirePlatform::releaseParked()
{
    pwl::Session::Lock lock(*session_);
    if (chain_ && !tapHeld_ && !aggregateHeld_) {
        destroyChain();
        session_->sync(options_.timeoutMs);
    }
}

double PipeWirePlatform::lastRebuildGapMs() const
{
    pwl::Session::Lock lock(*session_);
    return lastGapMs_;
}

int PipeWirePlatform::routedStreams() const
{
    pwl::Session::Lock lock(*session_);
    return chain_ ? int(chain_->movedStreams()) : 0;
}

std::string PipeWirePlatform::stateFilePath() const
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

// ---- helpers (loop lock held) -------------------------------------------------------------

bool PipeWirePlatform::isTap(AudioObjectID id) const { return chain_ && id != 0 && id == chain_->tapId(); }

bool PipeWirePlatform::isAggregate(AudioObjectID id) const
{
    return chain_ && id != 0 && chain_->hasOutput() && id == chain_->outputId();
}

bool PipeWirePlatform::isDevice(AudioObjectID id) const
{
    const pwl::Node *n = session_->node(id);
    return n && n->mediaClass == pwl::kMediaClassSink && !isTap(id)
        && n->name != options_.appId + ".tap";
}

std::uint32_t PipeWirePlatform::defaultDeviceId() const
{
    if (!session_->hasDefaultMetadata())
        return 0;
    const std::string name = session_->defaultSinkName();
    if (name.empty())
        return 0;
    if (name == options_.appId + ".tap") {
        // Never report our tap: while a chain runs, the device we play to.
        const pwl::Node *d = chain_ ? session_->nodeByName(chain_->deviceName()) : nullptr;
        return d ? d->id : 0;
    }
    const pwl::Node *n = session_->nodeByName(name);
    return (n && n->mediaClass == pwl::kMediaClassSink) ? n->id : 0;
}

std::uint32_t PipeWirePlatform::graphRate(std::uint32_t device) const
{
    if (chain_ && chain_->hasOutput() && chain_->rate() != 0) {
        const pwl::Node *played = session_->nodeByName(chain_->deviceName());
        if (isAggregate(device) || isTap(device) || (played && played->id == device))
            return chain_->rate();
    }
    if (const std::int64_t forced = session_->setting("clock.force-rate"); forced > 0)
        return std::uint32_t(forced);
    // A running device runs at the graph rate.
    const pwl::Node *dev = isAggregate(device) && chain_ ? session_->nodeByName(chain_->deviceName()) : session_->node(device);
    if (dev && dev->currentRate)
        return dev->currentRate;
    if (const std::int64_t rate = session_->setting("clock.rate"); rate > 0)
        return std::uint32_t(rate);
    if (const pwl::Node *n = session_->node(device); n && n->defaultRate)
        return n->defaultRate;
    return kFallbackRate;
}

std::uint32_t PipeWirePlatform::deviceChannels(AudioObjectID id) const
{
    const pwl::Node *n = nullptr;
    if (isAggregate(id))
        n = session_->nodeByName(chain_->deviceName());
    else if (isDevice(id))
        n = session_->node(id);
    if (!n)
        return 0;
    return n->channels ? n->channels : kTapChannels;
}

// ---- property reads -------------------------------------------------------------------------

OSStatus PipeWirePlatform::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                           std::uint32_t qualifierSize, const void *qualifier,
                                           std::uint32_t &ioDataSize, void *data)
{
    pwl::Session::Lock lock(*session_);
    if (session_->broken())
        return -EPIPE;
    switch (address.mSelector) {
    case kAudioHardwarePropertyDefaultOutputDevice:
        if (object != kAudioObjectSystemObject)
            return -ENOENT;
        return copyValue(std::uint32_t(defaultDeviceId()), ioDataSize, data);
    case kAudioHardwarePropertyDevices: {
        if (object != kAudioObjectSystemObject)
            return -ENOENT;
        std::vector<std::uint32_t> ids;
        for (const auto &[id, n] : session_->nodes())
            if (isDevice(id))
                ids.push_back(id);
        const std::size_t fit = std::min<std::size_t>(ids.size(), ioDataSize / sizeof(std::uint32_t));
        if (fit > 0 && !data)
            return -EINVAL;
        if (fit > 0)
            std::memcpy(data, ids.data(), fit * sizeof(std::uint32_t));
        ioDataSize = std::uint32_t(fit * sizeof(std::uint32_t));
        return 0;
    }
    case kAudioHardwarePropertyTranslatePIDToProcessObject: {
        if (object != kAudioObjectSystemObject || qualifierSize < sizeof(std::int32_t) || !qualifier)
            return -EINVAL;
        std::int32_t pid = 0;
        std::memcpy(&pid, qualifier, sizeof pid);
        // Our own nodes are told apart by id and link group; any non-zero object will do.
        return copyValue(std::uint32_t(pid == getpid() ? std::uint32_t(pid) : 0u), ioDataSize, data);
    }
    case kAudioDevicePropertyNominalSampleRate: {
        if (!isDevice(object) && !isAggregate(object) && !isTap(object))
            return -ENOENT;
        const std::uint32_t rate = graphRate(object);
        if (isAggregate(object))
            reportedRate_ = rate;  // what the chain's DSP objects are built for
        return copyValue(double(rate), ioDataSize, data);
    }
    case kAudioDevicePropertyBufferFrameSize: {
        if (!isDevice(object) && !isAggregate(object))
            return -ENOENT;
        std::uint32_t limit = kQuantumLimit;
        limit = std::max<std::uint32_t>(limit, std::uint32_t(std::max<std::int64_t>(0, session_->setting("clock.max-quantum"))));
        limit = std::max<std::uint32_t>(limit, std::uint32_t(std::max<std::int64_t>(0, session_->setting("clock.force-quantum"))));
        return copyValue(limit, ioDataSize, data);
    }
    case kAudioDevicePropertyStreamConfiguration: {
        if (address.mScope != kAudioObjectPropertyScopeOutput)
            return -EINVAL;
        const std::uint32_t channels = deviceChannels(object);
        if (channels == 0)
            return -ENOENT;
        if (!data || ioDataSize < slaySize())
            return -EINVAL;
        auto *list = static_cast<AudioBufferList *>(data);
        list->mNumberBuffers = 1;
        list->mBuffers[0].mNumberChannels = channels;
        list->mBuffers[0].mDataByteSize = 0;
        list->mBuffers[0].mData = nullptr;
        ioDataSize = slaySize();
        return 0;
    }
    case kAudioTapPropertyFormat: {
        if (!isTap(object))
            return -ENOENT;
        AudioStreamBasicDescription f;
        const std::uint32_t rate = chain_->tapRate() ? chain_->tapRate() : graphRate(object);
        f.mSampleRate = double(rate);
        f.mFormatID = kAudioFormatLinearPCM;
        f.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
        f.mBytesPerPacket = 4;
        f.mFramesPerPacket = 1;
        f.mBytesPerFrame = 4;
        f.mChannelsPerFrame = kTapChannels;
        f.mBitsPerChannel = 32;
        return copyValue(f, ioDataSize, data);
    }
    default:
        return -EINVAL;
    }
}

OSStatus PipeWirePlatform::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                               std::uint32_t &outDataSize)
{
    if (address.mSelector == kAudioHardwarePropertyDevices) {
        pwl::Session::Lock lock(*session_);
        if (object != kAudioObjectSystemObject)
            return -ENOENT;
        std::uint32_t n = 0;
        for (const auto &[id, node] : session_->nodes())
            n += isDevice(id) ? 1 : 0;
        outDataSize = n * std::uint32_t(sizeof(std::uint32_t));
        return 0;
    }
    if (address.mSelector == kAudioDevicePropertyStreamConfiguration) {
        pwl::Session::Lock lock(*session_);
        if (deviceChannels(object) == 0)
            return -ENOENT;
        outDataSize = slaySize();
        return 0;
    }
    // Fixed-size values: ask for the value itself to learn whether it exists.
    union {
        double d;
        std::uint32_t u;
        AudioStreamBasicDescription asbd;
    } scratch{};
    std::uint32_t size = sizeof scratch;
    std::int32_t pid = getpid();
    const bool needsPid = address.mSelector == kAudioHardwarePropertyTranslatePIDToProcessObject;
    const OSStatus status = getPropertyData(object, address, needsPid ? sizeof pid : 0, needsPid ? &pid : nullptr,
                                            size, &scratch);
    if (status == 0)
        outDataSize = size;
    return status;
}

OSStatus PipeWirePlatform::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                             std::optional<std::string> &out)
{
    pwl::Session::Lock lock(*session_);
    if (session_->broken())
        return -EPIPE;
    out.reset();
    switch (address.mSelector) {
    case kAudioDevicePropertyDeviceUID:
        if (isAggregate(object)) {
            out = aggregateUid_;
            return 0;
        }
        if (isTap(object)) {
            out = options_.appId + ".tap";
            return 0;
        }
        if (const pwl::Node *n = session_->node(object); n && isDevice(object)) {
            if (!n->name.empty())
                out = n->name;
            return 0;
        }
        return -ENOENT;
    case kAudioObjectPropertyName:
        if (isAggregate(object)) {
            out = aggregateName_;
            return 0;
        }
        if (const pwl::Node *n = session_->node(object); n && (isDevice(object) || isTap(object))) {
            out = !n->description.empty() ? n->description : !n->nick.empty() ? n->nick : std::string("Unbekannt");
            return 0;
        }
        return -ENOENT;
    case kAudioTapPropertyUID:
        if (!isTap(object))
            return -ENOENT;
        out = options_.appId + ".tap";
        return 0;
    default:
        return -EINVAL;
    }
}

// ---- listeners ------------------------------------------------------------------------------

OSStatus PipeWirePlatform::addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                               SerialExecutor &queue, AudioObjectPropertyListenerBlock block,
                                               AudioListenerID &outID)
{
    if (!block)
        return -EINVAL;
    if (address.mSelector == kAudioHardwarePropertyDefaultOutputDevice && object != kAudioObjectSystemObject)
        return -ENOENT;
    if (address.mSelector != kAudioHardwarePropertyDefaultOutputDevice
        && address.mSelector != kAudioDevicePropertyNominalSampleRate)
        return -ENOTSUP;
    auto l = std::make_shared<Listener>();
    l->object = object;
    l->address = address;
    l->queue = &queue;
    l->block = std::move(block);
    std::lock_guard guard(listenersMutex_);
    outID = ++nextListenerId_;
    listeners_[outID] = std::move(l);
    return 0;
}

OSStatus PipeWirePlatform::removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                                  SerialExecutor &queue, AudioListenerID id)
{
    std::lock_guard guard(listenersMutex_);
    auto it = listeners_.find(id);
    if (it == listeners_.end() || it->second->object != object || !(it->second->address == address)
        || it->second->queue != &queue)
        return -ENOENT;
    it->second->alive.store(false);
    listeners_.erase(it);
    return 0;
}

void PipeWirePlatform::fire(AudioObjectPropertySelector selector)
{
    std::lock_guard guard(listenersMutex_);
    for (const auto &[id, l] : listeners_) {
        if (l->address.mSelector != selector)
            continue;
        std::shared_ptr<Listener> keep = l;
        l->queue->post([keep] {
            if (keep->alive.load())
                keep->block(1, &keep->address);
        });
    }
}

// ---- tap and aggregate ----------------------------------------------------------------------

OSStatus PipeWirePlatform::createProcessTap(const CATapDescription &description, AudioObjectID &outTapID)
{
    pwl::Session::Lock lock(*session_);
    if (session_->broken())
        return -EPIPE;
    const std::string tapName = options_.appId + ".tap";
    if (chain_ && chain_->hasTap()) {
        if (tapHeld_)
            return -EBUSY;  // one chain per process
        pw_loop_update_timer(session_->loop(), parkTimer_, nullptr, nullptr, false);
        tapHeld_ = true;
        outTapID = chain_->tapId();
        qCInfo(lcPipeWire, "Geparkten Tap %u uebernommen", outTapID);
        return 0;
    }
    if (const pwl::Node *other = session_->nodeByName(tapName)) {
        qCWarning(lcPipeWire, "Tap %u gehoert einem anderen laufenden Prozess", other->id);
        return -EBUSY;
    }
    pwl::ChainConfig cfg;
    cfg.tapName = tapName;
    cfg.tapDescription = description.name.empty() ? std::string("Velmora System Tap") : description.name;
    cfg.outputName = options_.appId + ".output";
    cfg.outputDescription = "Velmora";
    cfg.group = options_.appId + ".group-" + std::to_string(getpid());
    cfg.ownNamePrefix = options_.appId + ".";
    cfg.idleMs = options_.idleMs;
    cfg.timeoutMs = options_.timeoutMs;
    chain_ = std::make_unique<pwl::Chain>(*session_, cfg);
    chain_->onRateChanged = [this](std::uint32_t rate) {
        // Only a rate other than the one the chain was built for asks for a rebuild.
        if (reportedRate_ == 0 || rate == reportedRate_)
            return;
        qCInfo(lcPipeWire, "Graph-Rate jetzt %u Hz (Kette gebaut fuer %u Hz)", rate, reportedRate_);
        reportedRate_ = rate;
        fire(kAudioDevicePropertyNominalSampleRate);
    };
    const int res = chain_->createTap();
    if (res != 0) {
        chain_.reset();
        return res;
    }
    tapHeld_ = true;
    outTapID = chain_->tapId();
    writeStateFile();
    qCInfo(lcPipeWire, "Tap %u angelegt (Serial %llu)", outTapID,
           static_cast<unsigned long long>(chain_->tapSerial()));
    return 0;
}

OSStatus PipeWirePlatform::destroyProcessTap(AudioObjectID tapID)
{
    pwl::Session::Lock lock(*session_);
    if (!isTap(tapID) || !tapHeld_)
        return session_->node(tapID) ? -EPERM : -ENOENT;
    chain_->setBlock(nullptr);
    tapHeld_ = false;
    schedulePark();
    return 0;
}

OSStatus PipeWirePlatform::createAggregateDevice(const AggregateDeviceDescription &description,
                                                 AudioObjectID &outDeviceID)
{
    pwl::Session::Lock lock(*session_);
    if (session_->broken())
        return -EPIPE;
    if (!chain_ || !chain_->hasTap() || !tapHeld_)
        return -ENOENT;
    if (aggregateHeld_)
        return -EBUSY;
    for (const auto &t : description.taps)
        if (t.uid != options_.appId + ".tap")
            return -ENOENT;
    const pwl::Node *device = session_->nodeByName(description.master);
    if (!device || !isDevice(device->id))
        return -ENOENT;
    const pwl::Node dev = *device;
    const bool adopt = chain_->hasOutput();
    const int res = adopt ? chain_->retarget(dev) : chain_->createOutput(dev);
    if (res != 0) {
        if (!adopt)
            chain_->destroyOutput();
        return res;
    }
    aggregateHeld_ = true;
    aggregateUid_ = description.uid;
    aggregateName_ = description.name;
    outDeviceID = chain_->outputId();
    qCInfo(lcPipeWire, "Ausgabe %u %s auf %s", outDeviceID, adopt ? "uebernommen" : "angelegt", dev.name.c_str());
    return 0;
}

OSStatus PipeWirePlatform::destroyAggregateDevice(AudioObjectID deviceID)
{
    pwl::Session::Lock lock(*session_);
    if (!isAggregate(deviceID) || !aggregateHeld_)
        return session_->node(deviceID) ? -EPERM : -ENOENT;
    chain_->setBlock(nullptr);
    aggregateHeld_ = false;
    schedulePark();
    return 0;
}

OSStatus PipeWirePlatform::createIOProcID(AudioObjectID device, AudioDeviceIOBlock block, AudioDeviceIOProcID &outID)
{
    pwl::Session::Lock lock(*session_);
    if (!isAggregate(device) || !aggregateHeld_)
        return -ENOENT;
    if (!block)
        return -EINVAL;
    if (block_)
        return -EBUSY;
    block_ = std::make_unique<AudioDeviceIOBlock>(std::move(block));
    blockId_ = ++nextBlockId_;
    outID = blockId_;
    return 0;
}

OSStatus PipeWirePlatform::deviceStart(AudioObjectID device, AudioDeviceIOProcID id)
{
    pwl::Session::Lock lock(*session_);
    if (!isAggregate(device) || !block_ || id != blockId_)
        return -ENOENT;
    if (session_->broken())
        return -EPIPE;
    chain_->setBlock(block_.get());
    const int res = chain_->start();
    if (res != 0) {
        chain_->setBlock(nullptr);
        return res;
    }
    if (stoppedForRebuild_) {
        lastGapMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stoppedAt_).count();
        stoppedForRebuild_ = false;
        qCInfo(lcPipeWire, "Umbau ohne neuen Tap: %.1f ms Stille", lastGapMs_);
    }
    return 0;
}

OSStatus PipeWirePlatform::deviceStop(AudioObjectID device, AudioDeviceIOProcID id)
{
    pwl::Session::Lock lock(*session_);
    if (!isAggregate(device) || !block_ || id != blockId_)
        return -ENOENT;
    chain_->setBlock(nullptr);
    if (chain_->started()) {
        stoppedAt_ = std::chrono::steady_clock::now();
        stoppedForRebuild_ = true;
    }
    return 0;
}

OSStatus PipeWirePlatform::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID id)
{
    pwl::Session::Lock lock(*session_);
    if (!block_ || id != blockId_)
        return -ENOENT;
    (void)device;  // the registration goes whatever device it names
    if (chain_)
        chain_->setBlock(nullptr);  // waits until no callback uses the block
    block_.reset();
    blockId_ = 0;
    return 0;
}

OSStatus PipeWirePlatform::setProcessingLatency(AudioObjectID device, std::uint32_t frames)
{
    pwl::Session::Lock lock(*session_);
    if (!isAggregate(device) || !aggregateHeld_)
        return -ENOENT;
    return chain_->setProcessLatency(frames);
}

bool PipeWirePlatform::deviceIsIdle(AudioObjectID device) const
{
    pwl::Session::Lock lock(*session_);
    return isAggregate(device) && chain_->idle();
}

AudioObjectOwner PipeWirePlatform::objectOwner(AudioObjectID object) const
{
    pwl::Session::Lock lock(*session_);
    if (isTap(object) || isAggregate(object))
        return AudioObjectOwner::thisProcess;
    // Every node belongs to a live client (the server removes a dead client's nodes).
    return session_->node(object) ? AudioObjectOwner::otherProcess : AudioObjectOwner::nobody;
}

// ---- parking --------------------------------------------------------------------------------

void PipeWirePlatform::schedulePark()
{
    if (!chain_)
        return;
    if (!tapHeld_ && !aggregateHeld_) {
        timespec value{options_.parkMs / 1000, long(options_.parkMs % 1000) * 1000000L};
        if (value.tv_sec == 0 && value.tv_nsec == 0)
            value.tv_nsec = 1;
        pw_loop_update_timer(session_->loop(), parkTimer_, &value, nullptr, false);
    }
}

void PipeWirePlatform::parkTimerFired(void *data, std::uint64_t)
{
    auto *p = static_cast<PipeWirePlatform *>(data);
    if (p->chain_ && !p->tapHeld_ && !p->aggregateHeld_) {
        qCInfo(lcPipeWire, "Geparkte Kette nicht uebernommen: wird entfernt");
        p->destroyChain();
    }
}

void PipeWirePlatform::destroyChain()
{
    if (!chain_)
        return;
    pw_loop_update_timer(session_->loop(), parkTimer_, nullptr, nullptr, false);
    chain_->setBlock(nullptr);
    chain_.reset();  // clears the routing first, then removes both streams
    stoppedForRebuild_ = false;
    removeStateFile();
}

// ---- state file and stale routing -----------------------------------------------------------

void PipeWirePlatform::writeStateFile()
{
    const QString path = QString::fromStdString(stateFilePath());
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return;
    const std::string text = "pid=" + std::to_string(getpid()) + "\nserial=" + std::to_string(chain_->tapSerial())
                           + "\nnode=" + std::to_string(chain_->tapId()) + "\n";
    f.write(text.data(), qint64(text.size()));
    if (!f.commit())
        qCWarning(lcPipeWire, "Zustandsdatei %s nicht geschrieben", qPrintable(path));
}

void PipeWirePlatform::removeStateFile() { QFile::remove(QString::fromStdString(stateFilePath())); }

int PipeWirePlatform::clearStaleRouting()
{
    QFile f(QString::fromStdString(stateFilePath()));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    std::uint64_t serial = 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("serial="))
            serial = line.mid(7).toULongLong();
    f.close();
    if (serial == 0)
        return 0;

    pwl::Session::Lock lock(*session_);
    if (const pwl::Node *n = session_->nodeBySerial(serial); n && n->name == options_.appId + ".tap")
        return 0;  // the tap lives (ours or another instance's): nothing is stale
    if (chain_ && chain_->hasTap())
        return 0;  // the file is ours now
    const std::string value = std::to_string(serial);
    int cleared = 0;
    for (std::uint32_t subject : session_->defaultMetadataSubjects("target.object", value)) {
        session_->setDefaultMetadata(subject, "target.node", nullptr, nullptr);
        session_->setDefaultMetadata(subject, "target.object", nullptr, nullptr);
        ++cleared;
    }
    if (cleared > 0)
        session_->sync(options_.timeoutMs);
    removeStateFile();
    if (cleared > 0)
        qCInfo(lcPipeWire, "%d verwaiste Umleitungen eines beendeten Laufs entfernt", cleared);
    return cleared;
}
