// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/CoreAudioProperty.h"

#include <algorithm>
#include <cstddef>
#include <memory>

namespace CoreAudioProperty {

std::string readString(AudioPlatform &platform, AudioObjectID object,
                       const AudioObjectPropertyAddress &address, const std::string &operation)
{
    std::optional<std::string> value;
    const OSStatus status = platform.getPropertyString(object, address, value);
    if (status != 0)
        throw AudioError(status, operation);
    if (!value)
        throw AudioError(kAudioStatusNoString, operation);
    return std::move(*value);
}

std::vector<std::uint32_t> readArray(AudioPlatform &platform, AudioObjectID object,
                                     const AudioObjectPropertyAddress &address,
                                     const std::string &operation)
{
    std::uint32_t size = 0;
    OSStatus status = platform.getPropertyDataSize(object, address, size);
    if (status != 0)
        throw AudioError(status, operation + " (Groesse)");
    if (size < sizeof(std::uint32_t))
        return {};
    std::vector<std::uint32_t> values(size / sizeof(std::uint32_t), 0);
    std::uint32_t ioSize = static_cast<std::uint32_t>(values.size() * sizeof(std::uint32_t));
    status = platform.getPropertyData(object, address, 0, nullptr, ioSize, values.data());
    if (status != 0)
        throw AudioError(status, operation);
    // The list may have shrunk between the two calls.
    values.resize(std::min<std::size_t>(values.size(), ioSize / sizeof(std::uint32_t)));
    return values;
}

} // namespace CoreAudioProperty

namespace AudioSystem {

int outputChannelCount(AudioPlatform &platform, AudioObjectID device)
{
    const AudioObjectPropertyAddress address{kAudioDevicePropertyStreamConfiguration,
                                             kAudioObjectPropertyScopeOutput,
                                             kAudioObjectPropertyElementMain};
    std::uint32_t size = 0;
    if (platform.getPropertyDataSize(device, address, size) != 0 || size == 0)
        return 0;
    // A whole record (at least the reported size, as the list holds at most kMaxBuffers), so
    // a short or lying answer cannot make us read past what was filled.
    auto list = std::make_unique<AudioBufferList>();
    std::uint32_t ioSize = static_cast<std::uint32_t>(sizeof(AudioBufferList));
    if (platform.getPropertyData(device, address, 0, nullptr, ioSize, list.get()) != 0)
        return 0;
    const std::size_t header = offsetof(AudioBufferList, mBuffers);
    if (ioSize < header)
        return 0;
    const std::size_t complete = (std::min<std::size_t>(ioSize, sizeof(AudioBufferList)) - header)
                               / sizeof(AudioBuffer);
    const std::size_t buffers = std::min<std::size_t>(list->mNumberBuffers, complete);
    long long total = 0;
    for (std::size_t b = 0; b < buffers; ++b)
        total += list->mBuffers[b].mNumberChannels;
    return static_cast<int>(std::min<long long>(total, 1 << 20));
}

AudioObjectID processObject(AudioPlatform &platform, std::int32_t pid)
{
    const AudioObjectPropertyAddress address = globalAddress(kAudioHardwarePropertyTranslatePIDToProcessObject);
    AudioObjectID object = 0;
    std::uint32_t size = sizeof(object);
    const OSStatus status = platform.getPropertyData(kAudioObjectSystemObject, address,
                                                     sizeof(pid), &pid, size, &object);
    if (status != 0)
        throw AudioError(status, "Eigenes Prozessobjekt ermitteln");
    return object;
}

} // namespace AudioSystem

namespace AudioTapProperty {

AudioStreamBasicDescription streamDescription(AudioPlatform &platform, AudioObjectID tap)
{
    return CoreAudioProperty::read(platform, tap, globalAddress(kAudioTapPropertyFormat),
                                   AudioStreamBasicDescription{}, "Tap-Format lesen");
}

} // namespace AudioTapProperty
