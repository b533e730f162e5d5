// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// SIGINT, SIGTERM and SIGHUP reach the main thread as a Qt signal. The handler only writes
// the signal number into a socketpair (async-signal-safe); a QSocketNotifier on the other
// end reads it in the event loop, where anything may be called. Unlike SIG_IGN plus
// signalfd, children we start do not inherit an ignored disposition.
//
#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers (once per process; later instances share the pair).
    explicit TerminationSignals(QObject *parent = nullptr);

signals:
    void received(int signalNumber);

private:
    QSocketNotifier *notifier_ = nullptr;
};
