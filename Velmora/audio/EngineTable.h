// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The three engines the user can choose between, in one table: what the settings store, what
// the switcher numbers, what users type and read, what the status reports, and how the live
// chain, the offline render and the benchmarks configure them.
//
#include <TonvelCore/StatusPayload.h>

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace EngineTable {
Q_NAMESPACE

// The user's choice of engine. The raw value is the persisted setting and the switcher slot.
enum class EngineKind : std::int32_t {
    lowLatency = 0,
    highQuality = 1,
    balanced = 2,
};
Q_ENUM_NS(EngineKind)

} // namespace EngineTable

using EngineTable::EngineKind;

struct EngineSpec {
    EngineKind kind;
    std::int32_t rawValue; // persisted setting
    std::uint32_t slot;    // switcher slot (equal to the raw value)
    const char *cliName;   // --engine NAME
    const char *titleKey;  // translation ids
    const char *subtitleKey;
    StatusPayload::Method method;
    double stretchBlockMs; // 0: the delay line, no stretch
    double stretchIntervalMs;
};

namespace EngineTable {

// Display order (not raw-value order).
inline constexpr std::array<EngineSpec, 3> engines{{
    {EngineKind::lowLatency, 0, 0, "lowLatency", "engine.lowLatency.title", "engine.lowLatency.subtitle",
     StatusPayload::Method::resampling, 0.0, 0.0},
    {EngineKind::balanced, 2, 2, "balanced", "engine.balanced.title", "engine.balanced.subtitle",
     StatusPayload::Method::pitchPreserving, 120.0, 30.0},
    {EngineKind::highQuality, 1, 1, "highQuality", "engine.highQuality.title", "engine.highQuality.subtitle",
     StatusPayload::Method::pitchPreserving, 240.0, 30.0},
}};

// Shared by every chain, live or offline.
inline constexpr std::uint32_t delayFrames = 2048;         // window of the delay line
inline constexpr std::uint32_t analysisFifoFrames = 65536; // analysis hand-over
inline constexpr std::uint32_t minStretchFrames = 4096;    // stretch staging, at least

constexpr const EngineSpec &spec(EngineKind kind)
{
    for (const EngineSpec &e : engines)
        if (e.kind == kind)
            return e;
    return engines[0];
}

// Stretch staging for blocks up to `largestBlock` frames: a whole block in one call. Bounded so
// that an absurd answer never turns into an absurd allocation (longer blocks go in chunks).
constexpr std::uint32_t stretchMaxFrames(std::uint32_t largestBlock)
{
    if (largestBlock <= 2048)
        return minStretchFrames;
    return largestBlock >= (1u << 19) ? (1u << 20) : 2 * largestBlock;
}

// The engine called `cliName` exactly; null for any other name.
const EngineSpec *named(std::string_view cliName);
// No value outside 0 ... 2.
std::optional<EngineKind> fromRawValue(std::int32_t raw);
// Looked up in the translations; an untranslated id shows the id itself.
QString title(EngineKind kind);
QString subtitle(EngineKind kind);

} // namespace EngineTable
