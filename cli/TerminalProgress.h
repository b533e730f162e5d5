// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

// A progress bar on one rewritten stderr line for work on one file, at most ten updates a
// second. Disabled (prints nothing) when stderr is not a terminal or the user asked for quiet.
class TerminalProgress
{
public:
    TerminalProgress(bool enabled, QString name, long long total)
        : m_enabled(enabled), m_name(std::move(name)), m_total(total)
    {
    }
    ~TerminalProgress() { clear(); }
    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

    void update(long long done)
    {
        if (!m_enabled)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - m_last < std::chrono::milliseconds(100) && done < m_total)
            return;
        m_last = now;
        constexpr int width = 30;
        if (m_total > 0) {
            const double f = std::clamp(static_cast<double>(done) / static_cast<double>(m_total), 0.0, 1.0);
            std::string bar(static_cast<size_t>(f * width), '#');
            bar.resize(width, '.');
            std::fprintf(stderr, "\r\033[K[%s] %3d %%  %s", bar.c_str(), static_cast<int>(f * 100.0),
                         qPrintable(m_name));
        } else {
            std::fprintf(stderr, "\r\033[K%lld frames  %s", done, qPrintable(m_name));
        }
        std::fflush(stderr);
        m_shown = true;
    }

    void clear()
    {
        if (m_shown)
            std::fprintf(stderr, "\r\033[K");
        m_shown = false;
    }

private:
    bool m_enabled;
    QString m_name;
    long long m_total;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last{};
};
