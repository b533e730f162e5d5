// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/EngineTable.h"

#include <QCoreApplication>

static_assert(
    [] {
        for (const EngineSpec &e : EngineTable::engines)
            if (e.rawValue != static_cast<std::int32_t>(e.kind) || e.slot != std::uint32_t(e.rawValue))
                return false;
        return true;
    }(),
    "the raw value is the enum's value and the switcher slot");

const EngineSpec *EngineTable::named(std::string_view cliName)
{
    for (const EngineSpec &e : engines)
        if (cliName == e.cliName)
            return &e;
    return nullptr;
}

std::optional<EngineKind> EngineTable::fromRawValue(std::int32_t raw)
{
    for (const EngineSpec &e : EngineTable::engines)
        if (e.rawValue == raw)
            return e.kind;
    return std::nullopt;
}

QString EngineTable::title(EngineKind kind)
{
    return qtTrId(spec(kind).titleKey);
}

QString EngineTable::subtitle(EngineKind kind)
{
    return qtTrId(spec(kind).subtitleKey);
}
