// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

// One progress bar on one rewritten stderr line for a whole batch of files, however many are
// worked on at once. Workers report each file's share done (any thread, a relaxed store); the
// thread that prints results draws the bar, at most as often as it is asked to (the batch
// runner does so ten times a second). Disabled (prints nothing) when stderr is not a terminal
// or the user asked for quiet.
class TerminalProgress {
public:
    TerminalProgress(bool enabled, QStringList names)
        : enabled_(enabled), names_(std::move(names)),
          done_(std::make_unique<std::atomic<float>[]>(std::size_t(std::max<qsizetype>(names_.size(), 1))))
    {
    }
    ~TerminalProgress() { clear(); }
    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

    // Any thread.
    void setDone(qsizetype file, double share)
    {
        done_[std::size_t(file)].store(float(share), std::memory_order_relaxed);
    }

    // Printing thread only.
    void draw()
    {
        if (!enabled_ || names_.isEmpty())
            return;
        double sum = 0.0;
        qsizetype finished = 0;
        for (qsizetype i = 0; i < names_.size(); ++i) {
            const float d = std::clamp(done_[std::size_t(i)].load(std::memory_order_relaxed), 0.0f, 1.0f);
            sum += d;
            finished += d >= 1.0f;
        }
        const double f = sum / double(names_.size());
        constexpr int width = 30;
        std::string bar(std::size_t(f * width), '#');
        bar.resize(width, '.');
        const QString label =
            names_.size() == 1 ? names_.front() : QStringLiteral("%1/%2").arg(finished).arg(names_.size());
        std::fprintf(stderr, "\r\033[K[%s] %3d %%  %s", bar.c_str(), int(f * 100.0), qPrintable(label));
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
    QStringList names_;
    std::unique_ptr<std::atomic<float>[]> done_;
    bool shown_ = false;
};

// One file's view of the batch bar: frames done out of the file's total (0 or less: unknown).
class FileProgress {
public:
    FileProgress(TerminalProgress &bar, qsizetype file, long long total)
        : bar_(bar), file_(file), total_(total)
    {
    }
    void update(long long done)
    {
        if (total_ > 0)
            bar_.setDone(file_, double(done) / double(total_));
    }
    // The file is over (done, failed or interrupted): it counts as finished on the bar.
    void clear() { bar_.setDone(file_, 1.0); }

private:
    TerminalProgress &bar_;
    qsizetype file_;
    long long total_;
};
