// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The three engines the user can choose between. The raw value is the persisted setting and
// the switcher slot.
//
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The user's choice of engine. The raw value is the persisted setting and the switcher slot.
enum class EngineKind : std::int32_t {
    lowLatency = 0,
    highQuality = 1,
    balanced = 2,
};

namespace EngineKinds {

enum class Method { resampling, pitchPreserving };

// Declaration order of the cases (not raw-value order).
inline constexpr std::array<EngineKind, 3> allCases{EngineKind::lowLatency, EngineKind::balanced,
                                                    EngineKind::highQuality};

constexpr std::int32_t rawValue(EngineKind kind) { return static_cast<std::int32_t>(kind); }
// No value outside 0 ... 2.
std::optional<EngineKind> fromRawValue(std::int32_t raw);
Method method(EngineKind kind);
const char *titleKey(EngineKind kind);     // "engine.lowLatency.title", ...
const char *subtitleKey(EngineKind kind);  // "engine.lowLatency.subtitle", ...
// Looked up in the translations; an untranslated key shows the key itself.
QString title(EngineKind kind);
QString subtitle(EngineKind kind);

} // namespace EngineKinds
