// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/FakeAudioPlatform.h"

#include "audio/AudioError.h"

#include <cstring>

namespace {

template <typename T>
void appendBytes(std::vector<unsigned char> &bytes, const T &value)
{
    const auto *p = reinterpret_cast<const unsigned char *>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
}

} // namespace

FakeAudioPlatform::FakeAudioPlatform()
{
    tapFormat.mSampleRate = 48000.0;
    tapFormat.mFormatID = kAudioFormatLinearPCM;
    tapFormat.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked | kAudioFormatFlagIsNonInterleaved;
    tapFormat.mBytesPerPacket = 4;
    tapFormat.mFramesPerPacket = 1;
    tapFormat.mBytesPerFrame = 4;
    tapFormat.mChannelsPerFrame = 2;
    tapFormat.mBitsPerChannel = 32;
}

FakeAudioPlatform::~FakeAudioPlatform() = default;

// ---- Scripting ---------------------------------------------------------------------------

AudioObjectID FakeAudioPlatform::addDevice(Device device)
{
    std::lock_guard lock(mutex_);
    const AudioObjectID id = nextID_++;
    devices_[id] = std::move(device);
    return id;
}

AudioObjectID FakeAudioPlatform::addDevice(const std::string &uid, const std::string &name, double sampleRate,
                                           std::uint32_t bufferFrameSize)
{
    Device d;
    d.uid = uid;
    d.name = name;
    d.sampleRate = sampleRate;
    d.bufferFrameSize = bufferFrameSize;
    return addDevice(std::move(d));
}

void FakeAudioPlatform::removeDevice(AudioObjectID id)
{
    std::lock_guard lock(mutex_);
    devices_.erase(id);
    if (defaultOutput_ == id)
        defaultOutput_ = 0;
}

FakeAudioPlatform::Device &FakeAudioPlatform::device(AudioObjectID id)
{
    std::lock_guard lock(mutex_);
    return devices_.at(id);
}

void FakeAudioPlatform::setDefaultOutputDevice(AudioObjectID id)
{
    std::lock_guard lock(mutex_);
    defaultOutput_ = id;
}

void FakeAudioPlatform::setProcessObject(std::int32_t pid, AudioObjectID object)
{
    std::lock_guard lock(mutex_);
    processObjects_[pid] = object;
}

void FakeAudioPlatform::failOperation(Op op, OSStatus status)
{
    std::lock_guard lock(mutex_);
    opFailures_[op] = status;
}

void FakeAudioPlatform::failProperty(AudioObjectPropertySelector selector, OSStatus status, AudioObjectID object,
                                     bool sizeToo)
{
    std::lock_guard lock(mutex_);
    propertyFailures_[selector] = PropertyFailure{status, object, sizeToo};
}

void FakeAudioPlatform::overridePropertySize(AudioObjectPropertySelector selector, std::uint32_t size)
{
    std::lock_guard lock(mutex_);
    sizeOverrides_[selector] = size;
}

void FakeAudioPlatform::clearFailures()
{
    std::lock_guard lock(mutex_);
    opFailures_.clear();
    propertyFailures_.clear();
    sizeOverrides_.clear();
}

void FakeAudioPlatform::changeProperty(AudioObjectID object, const AudioObjectPropertyAddress &address)
{
    std::vector<std::pair<AudioListenerID, SerialExecutor *>> targets;
    {
        std::lock_guard lock(listeners_->mutex);
        for (const auto &[id, l] : listeners_->entries)
            if (l.object == object && l.address == address)
                targets.emplace_back(id, l.queue);
    }
    for (const auto &[id, queue] : targets) {
        std::weak_ptr<ListenerTable> table = listeners_;
        queue->post([table, id = id, address] {
            AudioObjectPropertyListenerBlock block;
            if (auto t = table.lock()) {
                std::lock_guard lock(t->mutex);
                const auto it = t->entries.find(id);
                if (it == t->entries.end())
                    return;  // removed after the change was posted
                block = it->second.block;
            }
            if (block)
                block(1, &address);
        });
    }
}

bool FakeAudioPlatform::runIOCycle(AudioObjectID device, const AudioBufferList *input, AudioBufferList *output)
{
    std::lock_guard io(ioMutex_);
    AudioDeviceIOBlock block;
    {
        std::lock_guard lock(mutex_);
        for (const auto &[id, proc] : ioProcs_)
            if (proc.device == device && proc.started)
                block = proc.block;
    }
    if (!block)
        return false;
    AudioTimeStamp stamp;
    block(&stamp, input, &stamp, output, &stamp);
    return true;
}

// ---- Inspection --------------------------------------------------------------------------

std::vector<std::string> FakeAudioPlatform::callLog() const
{
    std::lock_guard lock(mutex_);
    return callLog_;
}

void FakeAudioPlatform::clearCallLog()
{
    std::lock_guard lock(mutex_);
    callLog_.clear();
}

std::size_t FakeAudioPlatform::liveTaps() const
{
    std::lock_guard lock(mutex_);
    return taps_.size();
}

std::size_t FakeAudioPlatform::liveAggregates() const
{
    std::lock_guard lock(mutex_);
    return aggregates_.size();
}

std::size_t FakeAudioPlatform::liveIOProcs() const
{
    std::lock_guard lock(mutex_);
    return ioProcs_.size();
}

std::size_t FakeAudioPlatform::listenerCount() const
{
    std::lock_guard lock(listeners_->mutex);
    return listeners_->entries.size();
}

std::size_t FakeAudioPlatform::listenerCount(AudioObjectID object, AudioObjectPropertySelector selector) const
{
    std::lock_guard lock(listeners_->mutex);
    std::size_t n = 0;
    for (const auto &[id, l] : listeners_->entries)
        n += (l.object == object && l.address.mSelector == selector) ? 1 : 0;
    return n;
}

std::size_t FakeAudioPlatform::callCount(Op op) const
{
    std::lock_guard lock(mutex_);
    const auto it = callCounts_.find(op);
    return it == callCounts_.end() ? 0 : it->second;
}

std::optional<CATapDescription> FakeAudioPlatform::lastTapDescription() const
{
    std::lock_guard lock(mutex_);
    return lastTap_;
}

std::optional<AggregateDeviceDescription> FakeAudioPlatform::lastAggregateDescription() const
{
    std::lock_guard lock(mutex_);
    return lastAggregate_;
}

AudioObjectID FakeAudioPlatform::lastAggregateID() const
{
    std::lock_guard lock(mutex_);
    return lastAggregateID_;
}

bool FakeAudioPlatform::isStarted(AudioObjectID device) const
{
    std::lock_guard lock(mutex_);
    for (const auto &[id, proc] : ioProcs_)
        if (proc.device == device && proc.started)
            return true;
    return false;
}

// ---- Helpers -----------------------------------------------------------------------------

OSStatus FakeAudioPlatform::injected(Op op) const
{
    const auto it = opFailures_.find(op);
    return it == opFailures_.end() ? 0 : it->second;
}

std::optional<OSStatus> FakeAudioPlatform::propertyFailure(AudioObjectID object, AudioObjectPropertySelector selector,
                                                           bool sizeQuery) const
{
    const auto it = propertyFailures_.find(selector);
    if (it == propertyFailures_.end())
        return std::nullopt;
    if (it->second.object != 0 && it->second.object != object)
        return std::nullopt;
    if (sizeQuery && !it->second.sizeToo)
        return std::nullopt;
    return it->second.status;
}

void FakeAudioPlatform::log(std::string entry)
{
    callLog_.push_back(std::move(entry));
}

OSStatus FakeAudioPlatform::valueBytes(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                       std::uint32_t qualifierSize, const void *qualifier,
                                       std::vector<unsigned char> &bytes) const
{
    const auto selector = address.mSelector;
    if (object == kAudioObjectSystemObject) {
        if (selector == kAudioHardwarePropertyDefaultOutputDevice) {
            appendBytes(bytes, defaultOutput_);
            return 0;
        }
        if (selector == kAudioHardwarePropertyDevices) {
            for (const auto &[id, d] : devices_)
                appendBytes(bytes, id);
            return 0;
        }
        if (selector == kAudioHardwarePropertyTranslatePIDToProcessObject) {
            if (qualifier == nullptr || qualifierSize != sizeof(std::int32_t))
                return kUnknownProperty;
            std::int32_t pid = 0;
            std::memcpy(&pid, qualifier, sizeof(pid));
            const auto it = processObjects_.find(pid);
            appendBytes(bytes, it == processObjects_.end() ? AudioObjectID(0) : it->second);
            return 0;
        }
        return kUnknownProperty;
    }
    if (const auto t = taps_.find(object); t != taps_.end()) {
        if (selector == kAudioTapPropertyFormat) {
            appendBytes(bytes, t->second.format);
            return 0;
        }
        return kUnknownProperty;
    }
    const auto it = devices_.find(object);
    if (it == devices_.end())
        return kBadObject;
    const Device &d = it->second;
    if (selector == kAudioDevicePropertyNominalSampleRate) {
        appendBytes(bytes, d.sampleRate);
        return 0;
    }
    if (selector == kAudioDevicePropertyBufferFrameSize) {
        appendBytes(bytes, d.bufferFrameSize);
        return 0;
    }
    if (selector == kAudioDevicePropertyStreamConfiguration && address.mScope == kAudioObjectPropertyScopeOutput) {
        AudioBufferList list;
        const std::size_t n = std::min<std::size_t>(d.outputStreams.size(), AudioBufferList::kMaxBuffers);
        list.mNumberBuffers = static_cast<std::uint32_t>(n);
        for (std::size_t b = 0; b < n; ++b)
            list.mBuffers[b].mNumberChannels = d.outputStreams[b];
        const auto *p = reinterpret_cast<const unsigned char *>(&list);
        bytes.assign(p, p + offsetof(AudioBufferList, mBuffers) + n * sizeof(AudioBuffer));
        return 0;
    }
    return kUnknownProperty;
}

// ---- AudioPlatform -----------------------------------------------------------------------

OSStatus FakeAudioPlatform::getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                            std::uint32_t qualifierSize, const void *qualifier,
                                            std::uint32_t &ioDataSize, void *data)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::getPropertyData];
    if (const OSStatus s = injected(Op::getPropertyData))
        return s;
    if (const auto f = propertyFailure(object, address.mSelector, false))
        return *f;
    std::vector<unsigned char> bytes;
    if (const OSStatus s = valueBytes(object, address, qualifierSize, qualifier, bytes))
        return s;
    const bool isList = address.mSelector == kAudioHardwarePropertyDevices
                     || address.mSelector == kAudioDevicePropertyStreamConfiguration;
    if (!isList && ioDataSize < bytes.size())
        return OSStatus(fourCharCode("!siz"));
    const std::size_t n = std::min<std::size_t>(ioDataSize, bytes.size());
    if (n > 0)
        std::memcpy(data, bytes.data(), n);
    ioDataSize = static_cast<std::uint32_t>(n);
    return 0;
}

OSStatus FakeAudioPlatform::getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                                std::uint32_t &outDataSize)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::getPropertyDataSize];
    if (const OSStatus s = injected(Op::getPropertyDataSize))
        return s;
    if (const auto f = propertyFailure(object, address.mSelector, true))
        return *f;
    if (const auto o = sizeOverrides_.find(address.mSelector); o != sizeOverrides_.end()) {
        outDataSize = o->second;
        return 0;
    }
    std::vector<unsigned char> bytes;
    if (const OSStatus s = valueBytes(object, address, 0, nullptr, bytes))
        return s;
    outDataSize = static_cast<std::uint32_t>(bytes.size());
    return 0;
}

OSStatus FakeAudioPlatform::getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                              std::optional<std::string> &out)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::getPropertyString];
    if (const OSStatus s = injected(Op::getPropertyString))
        return s;
    if (const auto f = propertyFailure(object, address.mSelector, false))
        return *f;
    const auto selector = address.mSelector;
    if (const auto t = taps_.find(object); t != taps_.end()) {
        if (selector != kAudioTapPropertyUID)
            return kUnknownProperty;
        out = t->second.uid;
        return 0;
    }
    const auto it = devices_.find(object);
    if (it == devices_.end())
        return kBadObject;
    if (selector == kAudioDevicePropertyDeviceUID) {
        out = it->second.uid;
        return 0;
    }
    if (selector == kAudioObjectPropertyName) {
        out = it->second.name;
        return 0;
    }
    return kUnknownProperty;
}

OSStatus FakeAudioPlatform::addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                                SerialExecutor &queue, AudioObjectPropertyListenerBlock block,
                                                AudioListenerID &outID)
{
    {
        std::lock_guard lock(mutex_);
        ++callCounts_[Op::addPropertyListener];
        if (const OSStatus s = injected(Op::addPropertyListener))
            return s;
        log("addPropertyListener " + AudioError::fourCC(OSStatus(address.mSelector)));
    }
    std::lock_guard lock(listeners_->mutex);
    outID = listeners_->next++;
    listeners_->entries[outID] = Listener{object, address, &queue, std::move(block)};
    return 0;
}

OSStatus FakeAudioPlatform::removePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress &address,
                                                   SerialExecutor &queue, AudioListenerID id)
{
    {
        std::lock_guard lock(mutex_);
        ++callCounts_[Op::removePropertyListener];
        if (const OSStatus s = injected(Op::removePropertyListener))
            return s;
        log("removePropertyListener " + AudioError::fourCC(OSStatus(address.mSelector)));
    }
    std::lock_guard lock(listeners_->mutex);
    const auto it = listeners_->entries.find(id);
    if (it == listeners_->entries.end() || it->second.object != object || !(it->second.address == address)
        || it->second.queue != &queue)
        return kBadObject;
    listeners_->entries.erase(it);
    return 0;
}

OSStatus FakeAudioPlatform::createProcessTap(const CATapDescription &description, AudioObjectID &outTapID)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::createProcessTap];
    lastTap_ = description;
    if (const OSStatus s = injected(Op::createProcessTap))
        return s;
    outTapID = nextID_++;
    taps_[outTapID] = Tap{"tap-" + description.uuid, tapFormat};
    log("createProcessTap");
    return 0;
}

OSStatus FakeAudioPlatform::destroyProcessTap(AudioObjectID tapID)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::destroyProcessTap];
    log("destroyProcessTap");
    if (const OSStatus s = injected(Op::destroyProcessTap))
        return s;
    return taps_.erase(tapID) == 1 ? 0 : kBadObject;
}

OSStatus FakeAudioPlatform::createAggregateDevice(const AggregateDeviceDescription &description,
                                                  AudioObjectID &outDeviceID)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::createAggregateDevice];
    lastAggregate_ = description;
    if (const OSStatus s = injected(Op::createAggregateDevice))
        return s;
    Device d;
    for (const auto &[id, dev] : devices_)
        if (dev.uid && *dev.uid == description.master)
            d = dev;
    d.uid = description.uid;
    d.name = description.name;
    d.owner = AudioObjectOwner::thisProcess;
    if (aggregateSampleRate)
        d.sampleRate = *aggregateSampleRate;
    if (aggregateBufferFrameSize)
        d.bufferFrameSize = *aggregateBufferFrameSize;
    if (aggregateOutputStreams)
        d.outputStreams = *aggregateOutputStreams;
    outDeviceID = nextID_++;
    devices_[outDeviceID] = d;
    aggregates_.insert(outDeviceID);
    lastAggregateID_ = outDeviceID;
    log("createAggregateDevice");
    return 0;
}

OSStatus FakeAudioPlatform::destroyAggregateDevice(AudioObjectID deviceID)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::destroyAggregateDevice];
    log("destroyAggregateDevice");
    if (const OSStatus s = injected(Op::destroyAggregateDevice))
        return s;
    const auto it = devices_.find(deviceID);
    if (it == devices_.end())
        return kBadObject;
    if (it->second.owner == AudioObjectOwner::otherProcess)
        return -1;  // EPERM
    devices_.erase(it);
    aggregates_.erase(deviceID);
    reportedLatency_.erase(deviceID);
    return 0;
}

OSStatus FakeAudioPlatform::createIOProcID(AudioObjectID device, AudioDeviceIOBlock block,
                                           AudioDeviceIOProcID &outID)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::createIOProcID];
    if (const OSStatus s = injected(Op::createIOProcID))
        return s;
    if (devices_.find(device) == devices_.end())
        return kBadObject;
    outID = nextIOProc_++;
    ioProcs_[outID] = IOProc{device, std::move(block), false};
    log("createIOProcID");
    return 0;
}

OSStatus FakeAudioPlatform::deviceStart(AudioObjectID device, AudioDeviceIOProcID id)
{
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::deviceStart];
    if (const OSStatus s = injected(Op::deviceStart))
        return s;
    const auto it = ioProcs_.find(id);
    if (it == ioProcs_.end() || it->second.device != device)
        return kBadObject;
    it->second.started = true;
    log("deviceStart");
    return 0;
}

OSStatus FakeAudioPlatform::deviceStop(AudioObjectID device, AudioDeviceIOProcID id)
{
    std::lock_guard io(ioMutex_);
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::deviceStop];
    log("deviceStop");
    if (const OSStatus s = injected(Op::deviceStop))
        return s;
    const auto it = ioProcs_.find(id);
    if (it == ioProcs_.end() || it->second.device != device)
        return kBadObject;
    it->second.started = false;
    return 0;
}

OSStatus FakeAudioPlatform::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID id)
{
    std::lock_guard io(ioMutex_);  // waits for a running cycle
    AudioDeviceIOBlock released;
    std::lock_guard lock(mutex_);
    ++callCounts_[Op::destroyIOProcID];
    log("destroyIOProcID");
    const auto it = ioProcs_.find(id);
    if (it == ioProcs_.end() || it->second.device != device)
        return kBadObject;
    // Even a failing destroy must leave no block that could still run.
    released = std::move(it->second.block);
    ioProcs_.erase(it);
    return injected(Op::destroyIOProcID);
}

bool FakeAudioPlatform::deviceIsIdle(AudioObjectID device) const
{
    std::lock_guard lock(mutex_);
    return idleDevices.count(device) != 0;
}

AudioObjectOwner FakeAudioPlatform::objectOwner(AudioObjectID object) const
{
    std::lock_guard lock(mutex_);
    if (taps_.count(object) != 0)
        return AudioObjectOwner::thisProcess;
    const auto it = devices_.find(object);
    return it == devices_.end() ? AudioObjectOwner::otherProcess : it->second.owner;
}

OSStatus FakeAudioPlatform::setProcessingLatency(AudioObjectID device, std::uint32_t frames)
{
    std::lock_guard lock(mutex_);
    if (aggregates_.count(device) == 0)
        return kBadObject;
    reportedLatency_[device] = frames;
    return 0;
}

std::optional<std::uint32_t> FakeAudioPlatform::reportedLatency(AudioObjectID device) const
{
    std::lock_guard lock(mutex_);
    const auto it = reportedLatency_.find(device);
    return it == reportedLatency_.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

int FakeAudioPlatform::clearStaleRouting()
{
    std::lock_guard lock(mutex_);
    log("clearStaleRouting");
    const int n = staleRoutes;
    staleRoutes = 0;
    return n;
}
