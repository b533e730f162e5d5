// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/TapEngine.h"

#include "app/AppIdentity.h"
#include "audio/AudioError.h"
#include "audio/CoreAudioProperty.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
#include <vector>

#include <unistd.h>

// Never destroyed: shutdownAll() may log from an exit hook after static destructors ran.
static const QLoggingCategory &lcTapEngine()
{
    static const QLoggingCategory *category = new QLoggingCategory("org.velmora.Velmora.TapEngine");
    return *category;
}

namespace {

constexpr std::uint32_t kFifoCapacity = 65536;
constexpr double kFallbackSampleRate = 48000.0;
constexpr std::uint32_t kMinStretchFrames = 4096;
// A broken buffer-size answer must not turn into an absurd allocation; longer blocks are
// processed in chunks by the stretch engine anyway.
constexpr std::uint64_t kMaxStretchFrames = 1u << 20;

const AudioObjectPropertyAddress kDefaultOutputAddress = globalAddress(kAudioHardwarePropertyDefaultOutputDevice);
const AudioObjectPropertyAddress kSampleRateAddress = globalAddress(kAudioDevicePropertyNominalSampleRate);

// Process-wide: every engine whose chain runs, and the one engine allowed to hold a chain.
// Never destroyed, so exit hooks can use it after static destructors have run.
struct Registry {
    std::mutex lock;
    std::map<TapEngine *, std::shared_ptr<TapEngine>> liveEngines;
    TapEngine *chainHolder = nullptr;
};

Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

std::string freshUUID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

bool usableRate(double rate)
{
    return std::isfinite(rate) && rate > 0.0;
}

} // namespace

// ---- EngineKind -------------------------------------------------------------------------

namespace EngineKinds {

std::optional<EngineKind> fromRawValue(std::int32_t raw)
{
    switch (raw) {
    case 0: return EngineKind::lowLatency;
    case 1: return EngineKind::highQuality;
    case 2: return EngineKind::balanced;
    default: return std::nullopt;
    }
}

Method method(EngineKind kind)
{
    return kind == EngineKind::lowLatency ? Method::resampling : Method::pitchPreserving;
}

const char *titleKey(EngineKind kind)
{
    switch (kind) {
    case EngineKind::lowLatency: return "engine.lowLatency.title";
    case EngineKind::balanced: return "engine.balanced.title";
    case EngineKind::highQuality: return "engine.highQuality.title";
    }
    return "";
}

const char *subtitleKey(EngineKind kind)
{
    switch (kind) {
    case EngineKind::lowLatency: return "engine.lowLatency.subtitle";
    case EngineKind::balanced: return "engine.balanced.subtitle";
    case EngineKind::highQuality: return "engine.highQuality.subtitle";
    }
    return "";
}

QString title(EngineKind kind)
{
    return qtTrId(titleKey(kind));
}

QString subtitle(EngineKind kind)
{
    return qtTrId(subtitleKey(kind));
}

} // namespace EngineKinds

// ---- TapEngine --------------------------------------------------------------------------

std::shared_ptr<TapEngine> TapEngine::create(std::shared_ptr<AudioPlatform> platform)
{
    return std::make_shared<TapEngine>(Private{}, std::move(platform));
}

TapEngine::TapEngine(Private, std::shared_ptr<AudioPlatform> platform)
    : platform_(std::move(platform))
    , listenerQueue_(AppIdentity::qualified("device-listener").toStdString())
{
}

TapEngine::~TapEngine()
{
    {
        std::lock_guard chain(chainLock_);
        teardownLocked();
        releaseChainSlot();
    }
    removeDefaultDeviceListener();
    removeSampleRateListener();
}

std::string TapEngine::aggregateUIDPrefix()
{
    return std::string(AppIdentity::applicationId) + ".aggregate.";
}

void TapEngine::start(double factor, EngineKind engine, std::uint32_t delayFrames)
{
    if (running_.load())
        return;
    std::lock_guard chain(chainLock_);
    {
        Registry &reg = registry();
        std::lock_guard lock(reg.lock);
        // One chain per process: a second tap would fight the first over every application.
        if (reg.chainHolder != nullptr && reg.chainHolder != this)
            throw AudioError(-EBUSY, "Zweite Audiokette starten");
        reg.chainHolder = this;
    }
    try {
        buildChain(factor, engine, delayFrames);
    } catch (...) {
        teardownLocked();
        releaseChainSlot();
        throw;
    }
    {
        Registry &reg = registry();
        std::lock_guard lock(reg.lock);
        reg.liveEngines[this] = shared_from_this();
    }
    running_.store(true);
}

void TapEngine::stop()
{
    std::shared_ptr<TapEngine> lastReference;  // dropped only after the locks are released
    {
        std::lock_guard chain(chainLock_);
        teardownLocked();
        Registry &reg = registry();
        std::lock_guard lock(reg.lock);
        if (const auto it = reg.liveEngines.find(this); it != reg.liveEngines.end()) {
            lastReference = std::move(it->second);
            reg.liveEngines.erase(it);
        }
        if (reg.chainHolder == this)
            reg.chainHolder = nullptr;
    }
    running_.store(false);
    std::lock_guard state(stateMutex_);
    runInfo_.reset();
}

void TapEngine::reportLatency(EngineKind kind)
{
    std::lock_guard chain(chainLock_);
    reportLatencyLocked(kind);
}

void TapEngine::reportLatencyLocked(EngineKind kind)
{
    const AudioObjectID device = aggregateID_.load();
    const std::optional<RunInfo> info = runInfo();
    if (device == 0 || !info)
        return;
    // Only players' picture timing depends on it: a failure is worth a line, not a stop.
    const auto frames = static_cast<std::uint32_t>(std::lround(info->latencySeconds(kind) * info->sampleRate));
    if (const OSStatus s = platform_->setProcessingLatency(device, frames))
        qCWarning(lcTapEngine, "Latenz nicht gemeldet (%d)", static_cast<int>(s));
}

void TapEngine::releaseChainSlot()
{
    Registry &reg = registry();
    std::lock_guard lock(reg.lock);
    if (reg.chainHolder == this)
        reg.chainHolder = nullptr;
}

std::optional<TapEngine::RunInfo> TapEngine::runInfo() const
{
    std::lock_guard state(stateMutex_);
    return runInfo_;
}

bool TapEngine::isIdle() const
{
    const AudioObjectID device = aggregateID_.load();
    return running_.load() && device != 0 && platform_->deviceIsIdle(device);
}

bool TapEngine::hasAnalysisFifo() const
{
    std::lock_guard lock(fifoMutex_);
    return analysisFifo_ != nullptr;
}

void TapEngine::withAnalysisFifo(const std::function<void(tv_fifo *)> &body)
{
    std::lock_guard lock(fifoMutex_);
    body(analysisFifo_);
}

std::optional<std::uint32_t> TapEngine::readAnalysisSamples(float *destination, std::uint32_t maxFrames)
{
    std::lock_guard lock(fifoMutex_);
    if (analysisFifo_ == nullptr)
        return std::nullopt;
    return tv_fifo_read(analysisFifo_, destination, maxFrames);
}

void TapEngine::buildChain(double factor, EngineKind engineKind, std::uint32_t delayFrames)
{
    AudioPlatform &p = *platform_;

    // 1-3: the device we play to.
    const AudioObjectID outputDevice = CoreAudioProperty::read<AudioObjectID>(
        p, kAudioObjectSystemObject, kDefaultOutputAddress, 0, "Standard-Ausgabegeraet lesen");
    if (outputDevice == 0)
        throw AudioError(kAudioStatusNoDevice, "Kein Standard-Ausgabegeraet vorhanden");
    const std::string outputUID = CoreAudioProperty::readString(
        p, outputDevice, globalAddress(kAudioDevicePropertyDeviceUID), "Geraete-UID lesen");
    std::string deviceName;
    try {
        deviceName = CoreAudioProperty::readString(p, outputDevice, globalAddress(kAudioObjectPropertyName),
                                                   "Geraetename lesen");
    } catch (const AudioError &) {
        deviceName = "Unbekannt";
    }

    // 4: leave our own output out of the capture.
    std::vector<AudioObjectID> excluded;
    AudioObjectID self = 0;
    try {
        self = AudioSystem::processObject(p, static_cast<std::int32_t>(::getpid()));
    } catch (const AudioError &) {
        self = 0;
    }
    if (self == 0)
        qCCritical(lcTapEngine, "Eigenes Prozessobjekt nicht ermittelbar — Tap ohne Selbstausschluss.");
    else
        excluded.push_back(self);

    // 5-7: the tap.
    CATapDescription tap = CATapDescription::stereoGlobalTapButExcludeProcesses(std::move(excluded));
    tap.name = "Velmora System Tap";
    tap.uuid = freshUUID();
    tap.muteBehavior = CATapMutedWhenTapped;
    tap.isPrivate = true;
    tap.mixdown = true;
    tap.mono = false;
    AudioObjectID newTap = 0;
    if (const OSStatus s = p.createProcessTap(tap, newTap))
        throw AudioError(s, "Process-Tap erstellen");
    tapID_ = newTap;
    const std::string tapUID =
        CoreAudioProperty::readString(p, tapID_, globalAddress(kAudioTapPropertyUID), "Tap-UID lesen");

    // 8-10: the aggregate device of tap and output device.
    AggregateDeviceDescription aggregate;
    aggregate.name = "Velmora";
    aggregate.uid = aggregateUIDPrefix() + freshUUID();
    aggregate.master = outputUID;
    aggregate.isPrivate = true;
    aggregate.stacked = false;
    aggregate.tapAutoStart = true;
    aggregate.subdevices = {AggregateSubDevice{outputUID}};
    aggregate.taps = {AggregateTap{tapUID, true}};
    AudioObjectID newAggregate = 0;
    if (const OSStatus s = p.createAggregateDevice(aggregate, newAggregate))
        throw AudioError(s, "Aggregate-Device erstellen");
    aggregateID_.store(newAggregate);

    // 11-14: format, rate, channels.
    const AudioStreamBasicDescription format = AudioTapProperty::streamDescription(p, tapID_);
    double sampleRate = 0.0;
    try {
        sampleRate = CoreAudioProperty::read<double>(p, newAggregate, kSampleRateAddress, 0.0, "Samplerate lesen");
    } catch (const AudioError &) {
        sampleRate = 0.0;
    }
    if (!usableRate(sampleRate))
        sampleRate = usableRate(format.mSampleRate) ? format.mSampleRate : kFallbackSampleRate;
    const long long deviceChannels = AudioSystem::outputChannelCount(p, newAggregate);
    const long long channels =
        std::clamp<long long>(std::min<long long>(deviceChannels, format.mChannelsPerFrame), 1, 8);
    if (format.mFormatID != kAudioFormatLinearPCM || (format.mFormatFlags & kAudioFormatFlagIsFloat) == 0
        || format.mBitsPerChannel != 32)
        throw AudioError(kAudioStatusBadFormat, "Tap liefert kein 32-Bit-Float-PCM");

    // 15: delay-line engine.
    tv_engine *engine = tv_engine_create(delayFrames, sampleRate);
    if (engine == nullptr)
        throw AudioError(kAudioStatusNoMemory, "DSP-Engine anlegen");
    tv_engine_set_factor(engine, factor);
    tv_engine_reset(engine);
    dsp_.store(engine);

    // 16-18: stretch engines, sized so a whole device block fits one call.
    std::uint32_t maxFrames = kMinStretchFrames;
    try {
        const std::uint32_t bufferFrames = CoreAudioProperty::read<std::uint32_t>(
            p, newAggregate, globalAddress(kAudioDevicePropertyBufferFrameSize), 0, "Blockgroesse lesen");
        if (bufferFrames > 2048)
            maxFrames = static_cast<std::uint32_t>(std::min<std::uint64_t>(2ull * bufferFrames, kMaxStretchFrames));
    } catch (const AudioError &) {
        maxFrames = kMinStretchFrames;
    }
    auto makeStretch = [&](double blockMs) {
        tv_stretch *s = tv_stretch_create_custom(static_cast<std::uint32_t>(channels), maxFrames, sampleRate,
                                                 blockMs, 30.0);
        if (s == nullptr)
            throw AudioError(kAudioStatusNoMemory, "Stretch-Engine anlegen");
        tv_stretch_set_factor(s, factor);
        tv_stretch_reset(s);
        return s;
    };
    stretchBalanced_.store(makeStretch(120.0));
    stretchHQ_.store(makeStretch(240.0));

    // 19-20: switcher and analysis FIFO.
    tv_switch *sw = tv_switch_create(sampleRate);
    if (sw == nullptr)
        throw AudioError(kAudioStatusNoMemory, "Umschalter anlegen");
    tv_switch_select(sw, EngineKinds::rawValue(engineKind));
    switcher_.store(sw);
    tv_fifo *fifo = tv_fifo_create(kFifoCapacity);
    if (fifo == nullptr)
        throw AudioError(kAudioStatusNoMemory, "Analyse-Puffer anlegen");
    {
        std::lock_guard lock(fifoMutex_);
        analysisFifo_ = fifo;
    }

    // 21-22: the render callback, registered only now that every DSP object exists.
    RenderContext context;
    context.analysisFifo = fifo;
    context.switcher = sw;
    context.delayLine = engine;
    context.stretchBalanced = stretchBalanced_.load();
    context.stretchHighQuality = stretchHQ_.load();
    context.channelCount = static_cast<std::uint32_t>(channels);
    AudioDeviceIOProcID procID = 0;
    const OSStatus created = p.createIOProcID(
        newAggregate,
        [context](const AudioTimeStamp *, const AudioBufferList *input, const AudioTimeStamp *,
                  AudioBufferList *output, const AudioTimeStamp *) { renderBlock(context, input, output); },
        procID);
    if (created != 0)
        throw AudioError(created, "IOProc erstellen");
    ioProcID_ = procID;
    if (const OSStatus s = p.deviceStart(newAggregate, procID))
        throw AudioError(s, "Audiogeraet starten");

    // 23-25.
    RunInfo info;
    info.outputDeviceName = deviceName;
    info.sampleRate = sampleRate;
    info.channels = static_cast<int>(channels);
    info.lowLatencySeconds = tv_engine_latency_seconds(engine);
    info.balancedSeconds = tv_stretch_latency_seconds(stretchBalanced_.load());
    info.highQualitySeconds = tv_stretch_latency_seconds(stretchHQ_.load());
    {
        std::lock_guard state(stateMutex_);
        runInfo_ = info;
    }
    reportLatencyLocked(engineKind);
    installSampleRateListener(outputDevice);
    qCInfo(lcTapEngine, "Kette laeuft: %s, %f Hz, %ld Kanaele", deviceName.c_str(), sampleRate,
           static_cast<long>(channels));
}

void TapEngine::teardownLocked()
{
    AudioPlatform &p = *platform_;
    removeSampleRateListener();

    const AudioObjectID aggregate = aggregateID_.load();
    if (aggregate != 0 && ioProcID_) {
        p.deviceStop(aggregate, *ioProcID_);
        // From here on no render call is in flight: the DSP objects may go.
        p.destroyIOProcID(aggregate, *ioProcID_);
    }
    ioProcID_.reset();

    if (aggregate != 0) {
        if (const OSStatus s = p.destroyAggregateDevice(aggregate))
            qCCritical(lcTapEngine, "Aggregate-Device nicht entfernt: %s", AudioError::fourCC(s).c_str());
        aggregateID_.store(0);
    }
    if (tapID_ != 0) {
        if (const OSStatus s = p.destroyProcessTap(tapID_))
            qCCritical(lcTapEngine, "Tap nicht entfernt: %s", AudioError::fourCC(s).c_str());
        tapID_ = 0;
    }

    // Handles are cleared before their objects are freed, so no reader picks up a dangling one.
    tv_engine_destroy(dsp_.exchange(nullptr));
    tv_stretch_destroy(stretchBalanced_.exchange(nullptr));
    tv_stretch_destroy(stretchHQ_.exchange(nullptr));
    tv_switch_destroy(switcher_.exchange(nullptr));
    tv_fifo *fifo = nullptr;
    {
        // Waits for a running worker read; afterwards the worker finds no FIFO.
        std::lock_guard lock(fifoMutex_);
        fifo = analysisFifo_;
        analysisFifo_ = nullptr;
        tv_fifo_destroy(fifo);
    }
}

void TapEngine::setOnRebuildNeeded(RebuildCallback callback)
{
    std::lock_guard state(stateMutex_);
    onRebuildNeeded_ = std::move(callback);
}

void TapEngine::notifyRebuild(const char *reason)
{
    RebuildCallback callback;
    {
        std::lock_guard state(stateMutex_);
        callback = onRebuildNeeded_;
    }
    if (callback)
        callback(reason);
}

void TapEngine::installDefaultDeviceListener()
{
    std::lock_guard lock(listenerMutex_);
    if (defaultDeviceListener_ != 0)
        return;
    std::weak_ptr<TapEngine> weak = weak_from_this();
    AudioListenerID id = 0;
    const OSStatus s = platform_->addPropertyListener(
        kAudioObjectSystemObject, kDefaultOutputAddress, listenerQueue_,
        [weak](std::uint32_t, const AudioObjectPropertyAddress *) {
            if (auto engine = weak.lock())
                engine->notifyRebuild("Ausgabegerät gewechselt");
        },
        id);
    if (s != 0) {
        qCCritical(lcTapEngine, "Geraete-Listener nicht registriert: %s", AudioError::fourCC(s).c_str());
        return;
    }
    defaultDeviceListener_ = id;
}

void TapEngine::removeDefaultDeviceListener()
{
    std::lock_guard lock(listenerMutex_);
    if (defaultDeviceListener_ == 0)
        return;
    platform_->removePropertyListener(kAudioObjectSystemObject, kDefaultOutputAddress, listenerQueue_,
                                      defaultDeviceListener_);
    defaultDeviceListener_ = 0;
}

void TapEngine::installSampleRateListener(AudioObjectID device)
{
    std::lock_guard lock(listenerMutex_);
    if (sampleRateListener_ != 0 && listenedDevice_ != 0) {
        platform_->removePropertyListener(listenedDevice_, kSampleRateAddress, listenerQueue_, sampleRateListener_);
        sampleRateListener_ = 0;
        listenedDevice_ = 0;
    }
    if (device == 0)
        return;
    std::weak_ptr<TapEngine> weak = weak_from_this();
    AudioListenerID id = 0;
    const OSStatus s = platform_->addPropertyListener(
        device, kSampleRateAddress, listenerQueue_,
        [weak](std::uint32_t, const AudioObjectPropertyAddress *) {
            if (auto engine = weak.lock())
                engine->notifyRebuild("Samplerate geändert");
        },
        id);
    if (s != 0) {
        qCCritical(lcTapEngine, "Sampleraten-Listener nicht registriert: %s", AudioError::fourCC(s).c_str());
        return;
    }
    sampleRateListener_ = id;
    listenedDevice_ = device;
}

void TapEngine::removeSampleRateListener()
{
    std::lock_guard lock(listenerMutex_);
    if (sampleRateListener_ == 0 || listenedDevice_ == 0)
        return;
    platform_->removePropertyListener(listenedDevice_, kSampleRateAddress, listenerQueue_, sampleRateListener_);
    sampleRateListener_ = 0;
    listenedDevice_ = 0;
}

void TapEngine::shutdownAll()
{
    Registry &reg = registry();
    std::vector<std::shared_ptr<TapEngine>> engines;
    {
        std::lock_guard lock(reg.lock);
        for (auto &[key, engine] : reg.liveEngines)
            engines.push_back(std::move(engine));
        reg.liveEngines.clear();
    }
    for (const auto &engine : engines) {
        std::lock_guard chain(engine->chainLock_);
        engine->teardownLocked();
        std::lock_guard lock(reg.lock);
        reg.liveEngines.erase(engine.get());
        if (reg.chainHolder == engine.get())
            reg.chainHolder = nullptr;
    }
}

int TapEngine::removeOrphanedAggregateDevices(AudioPlatform &platform)
{
    std::vector<std::uint32_t> devices;
    try {
        devices = CoreAudioProperty::readArray(platform, kAudioObjectSystemObject,
                                               globalAddress(kAudioHardwarePropertyDevices), "Geraeteliste lesen");
    } catch (const AudioError &) {
        devices.clear();
    }
    const std::string prefix = aggregateUIDPrefix();
    int removed = 0;
    for (const AudioObjectID device : devices) {
        std::string uid;
        try {
            uid = CoreAudioProperty::readString(platform, device, globalAddress(kAudioDevicePropertyDeviceUID),
                                                "Geraete-UID lesen");
        } catch (const AudioError &) {
            continue;
        }
        if (uid.rfind(prefix, 0) != 0)
            continue;
        // Another running instance's device (or our own) is not an orphan.
        if (platform.objectOwner(device) != AudioObjectOwner::nobody)
            continue;
        if (platform.destroyAggregateDevice(device) == 0)
            ++removed;
    }
    return removed + std::max(0, platform.clearStaleRouting());
}
