// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Blocking loopback client for the status server tests: raw bytes in, raw bytes out, every
// wait bounded by a timeout.

#include <QByteArray>
#include <QCoreApplication>
#include <QMap>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>

namespace statustest {

inline void ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "status_test";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Connected socket or -1; never waits longer than timeoutMs.
inline int connectTo(quint16 port, int timeoutMs = 3000)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        if (::poll(&p, 1, timeoutMs) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0
            || err != 0) {
            ::close(fd);
            return -1;
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

inline bool sendAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

struct Reply {
    bool closed = false;   // the server closed the connection (EOF or reset) in time
    bool reset = false;    // ... with a reset
    QByteArray raw;
    int status = 0;
    QMap<QByteArray, QByteArray> headers;   // names lower-cased
    QByteArray body;
};

// Reads until the server closes or timeoutMs passes, then parses what arrived.
inline Reply readReply(int fd, int timeoutMs = 5000)
{
    Reply r;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) != 1)
            break;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0) {
            r.closed = true;
            break;
        }
        if (n < 0) {
            r.closed = true;
            r.reset = (errno == ECONNRESET);
            break;
        }
        r.raw.append(buf, n);
    }
    const qsizetype headEnd = r.raw.indexOf("\r\n\r\n");
    if (r.raw.startsWith("HTTP/1.1 ") && headEnd > 0) {
        r.status = r.raw.mid(9, 3).toInt();
        const QList<QByteArray> lines = r.raw.left(headEnd).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                r.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
        }
        r.body = r.raw.mid(headEnd + 4);
    }
    return r;
}

// One request on a fresh connection.
inline Reply exchange(quint16 port, QByteArrayView request, int timeoutMs = 5000)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    Reply r;
    if (sendAll(fd, request))
        r = readReply(fd, timeoutMs);
    ::close(fd);
    return r;
}

inline QByteArray getStatus(const QByteArray &origin)
{
    return "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: " + origin + "\r\n\r\n";
}

} // namespace statustest
