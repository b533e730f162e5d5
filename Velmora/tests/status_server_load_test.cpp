// SPDX-License-Identifier: GPL-3.0-or-later
// Load and robustness of the status service over real loopback TCP: many plain requests,
// a flood of connections that never send anything, and seeded random requests. Prints its
// figures; asserts only correctness (all answered, share answered under the flood, no
// crash, no hang).
#include "status/StatusHttp.h"
#include "status/StatusServer.h"
#include "status_test_client.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

using namespace statustest;

namespace {

const QByteArray allowed = "http://load.test:8080";

class LoadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureCoreApplication(); }
    void SetUp() override
    {
        consent = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json")), 60.0);
        consent->resolve(QString::fromLatin1(allowed), OriginConsent::Decision::allowed);
        server = std::make_unique<StatusServer>(consent, 0);
        server->update(StatusPayload(QStringLiteral("0"), true, 432.0, 440.0, 0.873));
        server->start();
        ASSERT_TRUE(server->isListening());
        port = server->port();
    }
    QTemporaryDir dir;
    std::shared_ptr<OriginConsent> consent;
    std::unique_ptr<StatusServer> server;
    quint16 port = 0;
};

bool wellFormed(const Reply &r)
{
    if (r.raw.isEmpty())
        return true;   // closed without a response (not UTF-8)
    if (r.status != 200 && r.status != 403 && r.status != 404)
        return false;
    if (r.headers.value("content-length").toInt() != r.body.size())
        return false;
    // Only allowed origins are ever echoed.
    return !r.headers.contains("access-control-allow-origin")
        || r.headers.value("access-control-allow-origin") == allowed;
}

QByteArray randomRequest(std::mt19937 &rng)
{
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto junk = [&](int maxLen) {
        QByteArray b(pick(maxLen + 1), '\0');
        for (char &c : b)
            c = char(rng());
        return b;
    };
    static const char *pieces[] = {"GET", "HEAD", "get", "POST", "/status", "/", " ", "  ",
                                   "\r\n", "\n", "\r", "Origin:", "origin:", "ORIGIN: ",
                                   "HTTP/1.1", "\t", "\xc3\xa4", "\xff", "\x00", "?", "\x7f",
                                   "http://load.test:8080", "null", "Host: 127.0.0.1"};
    switch (pick(6)) {
    case 0:
        return junk(9000);   // random bytes, mostly not UTF-8
    case 1: {                // a soup of request pieces
        QByteArray b;
        for (int i = pick(40); i >= 0; --i) {
            const char *p = pieces[pick(int(std::size(pieces)))];
            b += p[0] == '\0' ? QByteArray(1, '\0') : QByteArray(p);
        }
        return b;
    }
    case 2: {                // a valid request with flipped bytes
        QByteArray b = getStatus(allowed);
        for (int i = pick(4); i >= 0; --i)
            b[pick(int(b.size()))] = char(rng());
        return b;
    }
    case 3: {                // an origin with odd content
        QByteArray origin = pick(2) ? junk(40) : QByteArray(pick(3000), 'a');
        return "GET /status HTTP/1.1\r\nOrigin: " + origin + "\r\n\r\n";
    }
    case 4:                  // the allowed origin on a random path
        return "GET /" + junk(30).toPercentEncoding() + " HTTP/1.1\r\nOrigin: " + allowed + "\r\n\r\n";
    default:                 // cut short anywhere
        return getStatus(allowed).left(pick(int(getStatus(allowed).size())));
    }
}

} // namespace

TEST_F(LoadTest, two_thousand_silent_connections_do_not_lock_out_a_real_client)
{
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    const rlimit saved = lim;
    lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &lim);
    ASSERT_GE(lim.rlim_cur, rlim_t(2200)) << "needs about 2200 descriptors";

    std::atomic<bool> flooding{true};
    std::vector<int> silent;
    int connectFailures = 0;
    std::thread flood([&] {
        for (int i = 0; i < 2000; ++i) {
            const int fd = connectTo(port, 3000);
            if (fd >= 0)
                silent.push_back(fd);
            else
                ++connectFailures;
            // Loopback connects complete without ever blocking; a short breath now and then
            // lets the server thread get a core on a loaded machine before its backlog
            // overflows (a dropped SYN costs the flood a one-second retry, nothing else).
            if (i % 32 == 31)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        flooding = false;
    });
    int attempted = 0, answered = 0;
    QElapsedTimer t;
    t.start();
    // A client that polls briskly (every 5 ms) while the flood runs.
    while ((flooding || attempted < 200) && attempted < 50000) {
        ++attempted;
        answered += exchange(port, getStatus(allowed), 5000).status == 200;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    flood.join();
    const double seconds = t.nsecsElapsed() / 1e9;
    const auto stats = server->stats();
    std::printf("[figures] flood: %zu silent connections opened (%d connects failed) in %.2f s; "
                "real client %d/%d answered (%.1f %%); server closed %llu silent ones to make room, "
                "open now %d\n",
                silent.size(), connectFailures, seconds, answered, attempted,
                100.0 * answered / attempted, (unsigned long long)stats.displaced,
                server->openConnections());
    EXPECT_GE(answered * 100, attempted * 95);
    EXPECT_LE(server->openConnections(), 32);
    for (int fd : silent)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(exchange(port, getStatus(allowed)).status, 200);
}

TEST_F(LoadTest, ten_thousand_allowed_requests_are_all_answered)
{
    const int total = 10000;
    int ok = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < total; ++i) {
        const Reply r = exchange(port, getStatus(allowed));
        ok += r.status == 200 && r.body.size() > 0;
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    std::printf("[figures] plain: %d/%d answered 200 in %.2f s = %.0f requests/s (one connection each, sequential)\n",
                ok, total, seconds, total / seconds);
    EXPECT_EQ(ok, total);
}

TEST_F(LoadTest, ten_thousand_random_requests_neither_crash_nor_hang)
{
    std::mt19937 rng(20261206);
    // The parser on its own first: far more inputs than the network allows in the time.
    for (int i = 0; i < 200000; ++i)
        (void)StatusHttp::parseRequest(randomRequest(rng));

    const int total = 10000;
    int closedInTime = 0, wellFormedReplies = 0, silentClose = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < total; ++i) {
        const QByteArray request = randomRequest(rng);
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0) << "server stopped accepting after " << i << " requests";
        Reply r;
        if (request.isEmpty()) {
            ::shutdown(fd, SHUT_WR);   // connect, send nothing, hang up
            r = readReply(fd, 8000);
        } else {
            sendAll(fd, request);
            r = readReply(fd, 8000);
        }
        ::close(fd);
        closedInTime += r.closed;
        wellFormedReplies += wellFormed(r);
        silentClose += r.raw.isEmpty();
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    const auto s = server->stats();
    std::printf("[figures] fuzz: %d random requests in %.2f s; closed by the server in time %d, "
                "well-formed %d, closed without response %d; 200=%llu 403=%llu 404=%llu\n",
                total, seconds, closedInTime, wellFormedReplies, silentClose,
                (unsigned long long)s.ok, (unsigned long long)s.forbidden,
                (unsigned long long)s.notFound);
    EXPECT_EQ(closedInTime, total);
    EXPECT_EQ(wellFormedReplies, total);
    EXPECT_EQ(exchange(port, getStatus(allowed)).status, 200);
}
