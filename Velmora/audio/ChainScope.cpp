// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/ChainScope.h"

#include <algorithm>
#include <cctype>

namespace {

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::string applicationKey(std::string_view binary, std::string_view name)
{
    return std::string(!binary.empty() ? binary : name);
}

bool ChainScope::excludes(std::string_view binary, std::string_view name, std::string_view role) const
{
    if (!retuneCalls && (sameText(role, "Phone") || sameText(role, "Communication")))
        return true;
    // Either identity counts: a user names an application by what the panel or `ps` shows.
    return std::any_of(excludedApps.begin(), excludedApps.end(), [&](const std::string &app) {
        return !app.empty() && (app == binary || app == name);
    });
}
