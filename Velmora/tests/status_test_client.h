// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Blocking loopback client for the status server tests: raw bytes in, raw bytes out, every
// read bounded by a timeout.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMap>

#include <algorithm>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace statustest {

inline sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// Connected socket or -1; connect (and later sends) give up after timeoutMs (SO_SNDTIMEO).
inline int connectTo(quint16 port, int timeoutMs = 3000)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{timeoutMs / 1000, timeoutMs % 1000 * 1000};
    const sockaddr_in addr = loopback(port);
    if (fd >= 0
        && (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0
            || ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline bool sendAll(int fd, QByteArrayView bytes)
{
    for (qsizetype done = 0, n; done < bytes.size(); done += n)
        if ((n = ::send(fd, bytes.data() + done, size_t(bytes.size() - done), MSG_NOSIGNAL)) <= 0)
            return false;
    return true;
}

struct Reply {
    bool closed = false; // the server closed the connection (EOF or reset) in time
    bool reset = false;  // ... with a reset
    QByteArray raw;
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // names lower-cased
    QByteArray body;
};

// Reads until the server closes or timeoutMs passes, then parses what arrived.
inline Reply readReply(int fd, int timeoutMs = 5000)
{
    Reply r;
    const QDeadlineTimer deadline(timeoutMs);
    char buf[16384];
    for (pollfd p{fd, POLLIN, 0}; !r.closed && ::poll(&p, 1, int(deadline.remainingTime())) == 1;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        r.closed = n <= 0;
        r.reset = n < 0 && errno == ECONNRESET;
        r.raw.append(buf, std::max<ssize_t>(n, 0));
    }
    const qsizetype headEnd = r.raw.indexOf("\r\n\r\n");
    if (r.raw.startsWith("HTTP/1.1 ") && headEnd > 0) {
        r.status = r.raw.mid(9, 3).toInt();
        for (const QByteArray &line : r.raw.left(headEnd).split('\n').mid(1)) {
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                r.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        r.body = r.raw.mid(headEnd + 4);
    }
    return r;
}

// One request on a fresh connection.
inline Reply exchange(quint16 port, QByteArrayView request, int timeoutMs = 5000)
{
    const int fd = connectTo(port);
    Reply r;
    if (fd >= 0 && sendAll(fd, request))
        r = readReply(fd, timeoutMs);
    if (fd >= 0)
        ::close(fd);
    return r;
}

inline QByteArray getStatus(const QByteArray &origin)
{
    return "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: " + origin + "\r\n\r\n";
}

} // namespace statustest
