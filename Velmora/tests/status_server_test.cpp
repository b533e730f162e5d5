// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusHttp.h"
#include "status/StatusServer.h"
#include "status_test_client.h"
#include "testsupport/controller/ControllerTestKit.h"

#include <gtest/gtest.h>

#include <QMutex>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <random>
#include <vector>

using namespace statustest;
using StatusHttp::parseRequest;

namespace {

const QByteArray A = "http://localhost:8000";

// The document the tests serve (its bytes are the payload's own test).
const StatusPayload known(QStringLiteral("0"), true, 432.0, 440.0, 0.873, StatusPayload::Method::pitchPreserving);

class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ControllerTestKit::ensureApp(); }

    void SetUp() override
    {
        consent = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json")), 60.0);
        server = std::make_unique<StatusServer>(consent, 0, limits);
        server->setOnConsentNeeded([this](const QString &origin) {
            QMutexLocker l(&askedLock);
            asked << origin;
        });
        server->update(known);
        server->start();
        ASSERT_TRUE(server->isListening());
        port = server->port();
    }
    QStringList askedOrigins()
    {
        QMutexLocker l(&askedLock);
        return asked;
    }

    StatusServer::Limits limits;
    QTemporaryDir dir;
    std::shared_ptr<OriginConsent> consent;
    std::unique_ptr<StatusServer> server;
    quint16 port = 0;
    QMutex askedLock;
    QStringList asked;
};

} // namespace

// ---- parsing ----------------------------------------------------------------------------

// Request line split at single spaces; origin header in any case, blanks trimmed, only
// CRLF ends a line (the request line is searched too) and the first origin line decides.
TEST(StatusHttpParse, request_line_pieces_and_first_origin_line)
{
    const struct {
        QByteArray request, method, path;
        std::optional<QString> origin;
    } cases[] = {
        {"GET /status HTTP/1.1\r\nHost: x\r\nORIGIN:   \tHttp://Example.test:81  \r\n\r\n", "GET", "/status",
         QStringLiteral("Http://Example.test:81")},
        {"GET  /status HTTP/1.1\r\n\r\n", "GET", "", std::nullopt},
        {"GET", "GET", "", std::nullopt},
        {" /status", "", "/status", std::nullopt},
        {"GET /status?x=1 HTTP/1.1\r\n", "GET", "/status?x=1", std::nullopt},
        {"GET /status HTTP/1.1\nOrigin: http://a.test\n\n", "GET", "/status", std::nullopt},
        {"origin: http://a.test\r\n", "origin:", "http://a.test", QStringLiteral("http://a.test")},
        {"GET / HTTP/1.1\r\nOrigin: http://a.test\r\nOrigin: http://b.test\r\n", "GET", "/",
         QStringLiteral("http://a.test")},
        {"GET / HTTP/1.1\r\nOrigin: http://a.test\n\r\nOrigin: http://b.test\r\n", "GET", "/", std::nullopt},
    };
    for (const auto &c : cases) {
        const auto r = parseRequest(c.request);
        ASSERT_TRUE(r) << c.request.constData();
        EXPECT_EQ(r->method, c.method) << c.request.constData();
        EXPECT_EQ(r->path, c.path) << c.request.constData();
        EXPECT_EQ(r->origin, c.origin) << c.request.constData();
    }
}

TEST(StatusHttpParse, origins_outside_printable_ascii_or_over_1024_bytes_count_as_absent)
{
    auto originOf = [](const QByteArray &value) {
        return parseRequest("GET /status HTTP/1.1\r\nOrigin: " + value + "\r\n\r\n")->origin;
    };
    for (const QByteArray &bad : {QByteArray("http://a.test\rX-Evil: 1"), QByteArray("http://a.test\nX-Evil: 1"),
                                  QByteArray("http://a\0.test", 14), QByteArray("http://a.test\x7f"),
                                  QByteArray("http://a\x1b.test"),
                                  QByteArray("http://b\xc3\xbc" "cher.test")})
        EXPECT_EQ(originOf(bad), std::nullopt) << bad.toHex().constData();
    EXPECT_EQ(originOf("\t http://a.test \t"), QStringLiteral("http://a.test"));
    EXPECT_EQ(originOf("\xc2\xa0http://a.test\xc2\xa0"), QStringLiteral("http://a.test"));   // NBSP
    EXPECT_EQ(originOf(""), QString());   // present but empty: the store refuses it
    const QByteArray longest = "http://" + QByteArray(1024 - 7, 'a');
    EXPECT_EQ(originOf(longest), QString::fromLatin1(longest));
    EXPECT_EQ(originOf(longest + "a"), std::nullopt);
}

TEST(StatusHttpParse, empty_or_invalid_utf8_is_no_request)
{
    // Empty, stray byte, overlong "/", surrogate, above U+10FFFF, cut short.
    for (const char *bad : {"", "GET /status\xff", "GET /\xc0\xaf", "GET /\xed\xa0\x80", "GET /\xf4\x90\x80\x80", "GET /\xe2\x82"})
        EXPECT_FALSE(parseRequest(bad)) << bad;
    EXPECT_TRUE(parseRequest("GET /\xc3\xa4\xf0\x9f\x8e\xb5 HTTP/1.1\r\n"));
    // A character cut in two by the read limit is left out; the rest is judged.
    const QByteArray head = "GET /status HTTP/1.1\r\nOrigin: http://a.test\r\nX-Pad: ";
    for (const QByteArray &cut : {QByteArray("\xc3"), QByteArray("\xe2\x82"), QByteArray("\xf0\x9f\x8e")}) {
        const QByteArray full = head + QByteArray(StatusHttp::maxRequestBytes - head.size() - cut.size(), 'p') + cut;
        EXPECT_EQ(parseRequest(full)->origin, QStringLiteral("http://a.test")) << cut.toHex().constData();
        EXPECT_FALSE(parseRequest(full.mid(1))) << cut.toHex().constData();
    }
}

// ---- decisions over real TCP ------------------------------------------------------------

// Every answer but the document, byte for byte. Refusals (no origin, an empty, unusable,
// denied or late one; which origins are unusable is the parser's table) are the same bare
// 403: nothing asked, stored or echoed. An allowed origin gets 404 for every other method or
// path. Bytes that are no request at all are closed unanswered.
TEST_F(ServerTest, answers_by_origin_method_and_path)
{
    consent->resolve(QStringLiteral("http://denied.test"), OriginConsent::Decision::denied);
    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    const QByteArray tail = "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
                            "Content-Length: 0\r\nConnection: close\r\n\r\n";
    const QByteArray refused = "HTTP/1.1 403 Forbidden\r\n" + tail;
    const QByteArray notFound = "HTTP/1.1 404 Not Found\r\nAccess-Control-Allow-Origin: " + A + "\r\n" + tail;
    const auto line = [](const char *requestLine) { return QByteArray(requestLine) + "\r\nOrigin: " + A + "\r\n\r\n"; };
    const struct {
        QByteArray request, reply;
    } cases[] = {
        {"GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", refused},
        {getStatus(""), refused},
        {getStatus("http://denied.test"), refused},
        {getStatus("http://a.test\rAccess-Control-Allow-Origin: *"), refused},
        // The origin only after the first 8192 bytes: judged without it.
        {"GET /status HTTP/1.1\r\nX-Pad: " + QByteArray(9000, 'p') + "\r\nOrigin: " + A + "\r\n\r\n", refused},
        {line("GET /status?x=1 HTTP/1.1"), notFound},
        {line("GET /Status HTTP/1.1"), notFound},
        {line("get /status HTTP/1.1"), notFound},
        {line("HEAD /status HTTP/1.1"), notFound},
        {line("OPTIONS /status HTTP/1.1"), notFound},
        {line("GET  /status HTTP/1.1"), notFound},
        {line("POST /status HTTP/1.1"), notFound},
        {"GET /status\xff HTTP/1.1\r\nOrigin: " + A + "\r\n\r\n", ""},
    };
    for (const auto &c : cases) {
        const Reply r = exchange(port, c.request);
        EXPECT_TRUE(r.closed);
        EXPECT_EQ(r.raw, c.reply) << c.request.left(80).toHex().constData();
    }
    EXPECT_EQ(server->stats().closedWithoutResponse, 1u);
    EXPECT_TRUE(askedOrigins().isEmpty());
    EXPECT_EQ(consent->pendingOrigin(), std::nullopt);
    EXPECT_EQ(consent->allEntries().size(), 2);

    // A request whose origin would come in a later segment is answered on the first.
    const int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "GET /status HTTP/1.1\r\n"));
    EXPECT_EQ(readReply(fd).raw, refused);
    ::close(fd);
}

TEST_F(ServerTest, unknown_origin_asks_once_and_after_allowing_gets_the_document)
{
    EXPECT_EQ(exchange(port, getStatus(A)).status, 403);
    EXPECT_EQ(exchange(port, getStatus(A)).status, 403);
    EXPECT_EQ(exchange(port, "GET /other HTTP/1.1\r\nOrigin: http://b.test\r\n\r\n").status, 403);
    EXPECT_EQ(askedOrigins(), QStringList{QString::fromLatin1(A)});
    EXPECT_EQ(consent->pendingOrigin(), QString::fromLatin1(A));

    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    const Reply r = exchange(port, getStatus(A));
    EXPECT_EQ(r.raw, "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: http://localhost:8000\r\n"
                     "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
                     "Content-Length: " + QByteArray::number(known.jsonData().size())
                         + "\r\nConnection: close\r\n\r\n" + known.jsonData());
    EXPECT_FALSE(r.reset);

    StatusPayload off(QStringLiteral("0.1.0"), false);
    server->update(off);
    EXPECT_EQ(exchange(port, getStatus(A)).body, off.jsonData());

    // Origin within the first 8192 bytes, then 60 kB the server never looks at: the unread
    // bytes do not turn the response into a reset.
    const QByteArray big = getStatus(A).chopped(2) + "X-Pad: " + QByteArray(60000, 'p') + "\r\n\r\n";
    for (int i = 0; i < 5; ++i) {
        const Reply big_reply = exchange(port, big);
        EXPECT_EQ(big_reply.body, off.jsonData());
        EXPECT_FALSE(big_reply.reset);
    }
}

TEST_F(ServerTest, client_resets_never_take_the_process_down)
{
    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    for (int i = 0; i < 200; ++i) {
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0);
        sendAll(fd, getStatus(A));
        linger hard{1, 0};   // close with a reset, possibly before the response is written
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
    }
    EXPECT_EQ(exchange(port, getStatus(A)).status, 200);
}

class ShortLimitsTest : public ServerTest {
protected:
    ShortLimitsTest() { limits.firstBytesTimeoutMs = 300; }
};

TEST_F(ShortLimitsTest, silent_connection_is_closed_after_the_first_bytes_timeout)
{
    const int fd = connectTo(port);
    ASSERT_GE(fd, 0);
    const Reply r = readReply(fd, 3000);
    EXPECT_TRUE(r.closed);
    EXPECT_TRUE(r.raw.isEmpty());
    ::close(fd);
    EXPECT_EQ(server->stats().timedOut, 1u);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server->openConnections() == 0; }));
}

TEST_F(ServerTest, idle_connections_cannot_lock_out_a_real_client)
{
    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    std::vector<int> idle;
    for (int i = 0; i < 100; ++i) {
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0);
        idle.push_back(fd);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->stats().displaced >= 68; }));
    EXPECT_LE(server->openConnections(), 32);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(exchange(port, getStatus(A)).status, 200);
    for (int fd : idle)
        ::close(fd);
}

TEST_F(ServerTest, running_out_of_file_descriptors_pauses_accepting_without_ending_the_service)
{
    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);

    // A client socket first, then every remaining descriptor taken, then the connect:
    // the kernel completes the handshake, but the server's accept finds no descriptor.
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    std::vector<int> hogs;
    for (int fd; (fd = ::dup(client)) >= 0;)
        hogs.push_back(fd);
    const sockaddr_in addr = loopback(port);
    const bool connected = ::connect(client, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    const bool sawError = QTest::qWaitFor([&] { return server->stats().acceptErrors > 1; }, 3000);
    for (int fd : hogs)
        ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_TRUE(connected);
    EXPECT_TRUE(sawError);
    EXPECT_TRUE(server->isListening());
    // The waiting client is accepted once descriptors are free again, and served.
    sendAll(client, getStatus(A));
    EXPECT_EQ(readReply(client).status, 200);
    ::close(client);
    EXPECT_EQ(exchange(port, getStatus(A)).status, 200);
}

TEST_F(ServerTest, start_twice_keeps_one_listener_and_destroying_it_with_open_connections_is_clean)
{
    server->start();
    EXPECT_EQ(server->port(), port);
    std::vector<int> clients;
    for (int i = 0; i < 5; ++i)
        clients.push_back(connectTo(port));
    sendAll(clients[0], "GET /status HTTP/1.1\r\n");   // answered, then left draining
    ASSERT_TRUE(QTest::qWaitFor([&] { return server->openConnections() == 5; }));
    server.reset();
    for (int fd : clients) {
        EXPECT_TRUE(readReply(fd, 2000).closed);
        ::close(fd);
    }
    EXPECT_LT(connectTo(port), 0);
}

// Pieces of requests and stray bytes in random order, below the read limit so one read takes
// the whole request.
static QByteArray randomRequest(std::mt19937 &rng)
{
    static const char *pieces[] = {"GET", "get", "HEAD", "/status", "/", " ", "\r\n", "\n", "Origin:",
                                   "ORIGIN: ", "HTTP/1.1", "\t", "\xc3\xa4", "\xff", "\x7f", "?",
                                   "http://localhost:8000", "null", "\xc3"};
    QByteArray b;
    for (int i = int(rng() % 40); i > 0; --i) {
        if (rng() % 8 == 0)
            b += char(rng());
        else
            b += pieces[rng() % std::size(pieces)];
    }
    return b;
}

// The parser on many random inputs never yields an unusable origin; every 64th input also
// goes over the wire: a well-formed answer, or a silent close exactly when it is no request.
TEST_F(ServerTest, random_requests_never_yield_unusable_origins_and_get_well_formed_answers)
{
    consent->resolve(QString::fromLatin1(A), OriginConsent::Decision::allowed);
    std::mt19937 rng(4711);
    for (int i = 0; i < 20000; ++i) {
        const QByteArray request = randomRequest(rng);
        const auto parsed = parseRequest(request);
        if (parsed && parsed->origin) {
            ASSERT_LE(parsed->origin->size(), StatusHttp::maxOriginBytes);
            for (const QChar c : *parsed->origin)
                ASSERT_TRUE(c.unicode() >= 0x20 && c.unicode() <= 0x7e) << qPrintable(*parsed->origin);
        }
        if (i % 64 != 0)
            continue;
        const int fd = connectTo(port);
        ASSERT_GE(fd, 0) << "server stopped accepting after " << i / 64 << " requests";
        sendAll(fd, request);
        ::shutdown(fd, SHUT_WR);
        const Reply r = readReply(fd, 5000);
        ::close(fd);
        ASSERT_TRUE(r.closed) << request.toHex().constData();
        if (!parsed) {
            EXPECT_TRUE(r.raw.isEmpty()) << request.toHex().constData();
            continue;
        }
        EXPECT_TRUE(r.status == 200 || r.status == 403 || r.status == 404) << r.raw.constData();
        EXPECT_EQ(r.headers.value("content-length").toInt(), r.body.size());
        EXPECT_EQ(r.headers.value("access-control-allow-origin", A), A);
    }
}
