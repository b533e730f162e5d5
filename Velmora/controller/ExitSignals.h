// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// ExitSignals: SIGINT, SIGTERM and SIGHUP as a Qt signal on the thread that created the object,
// so both programs can tear their audio down in order instead of dying in the middle of it.
// The handler only writes one byte to a socket pair (async-signal-safe); a QSocketNotifier
// reads it. Handlers are installed with sigaction, never SIG_IGN, so programs started from
// here do not inherit ignored signals.
//
// One instance per process; it lives on the main thread.
//
#include <QObject>

class QSocketNotifier;

class ExitSignals : public QObject {
    Q_OBJECT

public:
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;
    // False when the handlers could not be installed.
    bool isValid() const { return notifier_ != nullptr; }

signals:
    // Once: further signals are not reported after the first.
    void received(int signal);

private:
    QSocketNotifier *notifier_ = nullptr;
};
