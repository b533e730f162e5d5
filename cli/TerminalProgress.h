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
        : enabled_(enabled), name_(std::move(name)), total_(total)
    {
    }
    ~TerminalProgress() { clear(); }
    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

    void update(long long done)
    {
        if (!enabled_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(100) && done < total_)
            return;
        last_ = now;
        constexpr int width = 30;
        if (total_ > 0) {
            const double f = std::clamp(static_cast<double>(done) / static_cast<double>(total_), 0.0, 1.0);
            std::string bar(static_cast<size_t>(f * width), '#');
            bar.resize(width, '.');
            std::fprintf(stderr, "\r\033[K[%s] %3d %%  %s", bar.c_str(), static_cast<int>(f * 100.0),
                         qPrintable(name_));
        } else {
            std::fprintf(stderr, "\r\033[K%lld frames  %s", done, qPrintable(name_));
        }
        std::fflush(stderr);
        shown_ = true;
    }

    void clear()
    {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    bool enabled_;
    QString name_;
    long long total_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};
