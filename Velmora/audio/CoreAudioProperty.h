// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Typed property reads over AudioPlatform. Every read returns a value or throws exactly one
// AudioError(status, operation); nothing is logged here. No state: callable from any
// non-real-time thread.
//
#include "audio/AudioError.h"
#include "audio/AudioPlatform.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace CoreAudioProperty {

// A plain value of type T (uint32_t, double, ...). Starts as `defaultValue`; the size asked
// for is sizeof(T); no qualifier.
template <typename T>
T read(AudioPlatform &platform, AudioObjectID object, const AudioObjectPropertyAddress &address,
       T defaultValue, const std::string &operation)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T value = defaultValue;
    auto size = static_cast<std::uint32_t>(sizeof(T));
    const OSStatus status = platform.getPropertyData(object, address, 0, nullptr, size, &value);
    if (status != 0)
        throw AudioError(status, operation);
    return value;
}

// A string. Success without a string throws 'what'.
std::string readString(AudioPlatform &platform, AudioObjectID object,
                       const AudioObjectPropertyAddress &address, const std::string &operation);

// An array of uint32 (object IDs). Asks the size first; a failure there throws with
// operation + " (Groesse)"; fewer than 4 bytes give an empty array without a second call.
std::vector<std::uint32_t> readArray(AudioPlatform &platform, AudioObjectID object,
                                     const AudioObjectPropertyAddress &address,
                                     const std::string &operation);

} // namespace CoreAudioProperty

namespace AudioSystem {

// Sum of mNumberChannels over the output-scope stream configuration of `device`. Any failure
// or an empty configuration gives 0; never throws.
int outputChannelCount(AudioPlatform &platform, AudioObjectID device);

// The platform's audio object for a process; 0 means the platform knows none (callers treat 0
// like a failure). Throws AudioError(status, "Eigenes Prozessobjekt ermitteln").
AudioObjectID processObject(AudioPlatform &platform, std::int32_t pid);

} // namespace AudioSystem

namespace AudioTapProperty {

// The tap's sample format. Throws AudioError(status, "Tap-Format lesen").
AudioStreamBasicDescription streamDescription(AudioPlatform &platform, AudioObjectID tap);

} // namespace AudioTapProperty
