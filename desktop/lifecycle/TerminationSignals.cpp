// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/TerminationSignals.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {

int signalPair[2] = {-1, -1};

extern "C" void forwardSignal(int number)
{
    const int savedErrno = errno;
    const char byte = char(number);
    // A full pair (a flood of signals) drops the byte: one pending signal is enough.
    [[maybe_unused]] const auto written = ::write(signalPair[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (signalPair[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPair) != 0) {
            qCWarning(lcUi, "Signal-Weiterleitung nicht moeglich: socketpair schlug fehl.");
            return;
        }
        ::fcntl(signalPair[0], F_SETFL, O_NONBLOCK);
        ::fcntl(signalPair[1], F_SETFL, O_NONBLOCK);
        struct sigaction action = {};
        action.sa_handler = forwardSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int number : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(number, &action, nullptr);
    }
    notifier_ = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(signalPair[1], &byte, 1) == 1)
            emit received(int(byte));
    });
}
