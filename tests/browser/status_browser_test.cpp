// SPDX-License-Identifier: GPL-3.0-or-later
// The consent flow against a real browser, for what only a browser shows: the Origin
// Chromium really sends and whether it lets the page read the answer (CORS). A page served
// from one loopback port (examples/status-page.html) polls the status service on another:
// the first fetch is refused and raises the question; once that origin is allowed, the
// page reads the document. Protocol details are the unit test's. Headless Chromium is
// driven through chromedriver; exit code 77 (skip) only when Chromium is not installed.
#include "../../Velmora/tests/status_test_client.h"
#include "status/StatusServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace statustest;

namespace {

int failures = 0;

void check(bool ok, const QString &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", qPrintable(what));
    std::fflush(stdout);
    failures += !ok;
}

int listenOnFreePort(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return -1;
    *port = ntohs(addr.sin_port);
    return fd;
}

// Answers every request with the page, until destroyed. Loopback only.
class PageServer {
public:
    explicit PageServer(const QByteArray &page)
        : reply_("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                 + QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page),
          fd_(listenOnFreePort(&port_))
    {
        if (fd_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    ~PageServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        ::close(fd_);
    }
    quint16 port() const { return port_; }

private:
    void run()
    {
        for (pollfd p{fd_, POLLIN, 0}; !stop_;) {
            const int c = ::poll(&p, 1, 100) == 1 ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1;
            if (c < 0)
                continue;
            char request[8192]; // one read is enough for a GET
            pollfd q{c, POLLIN, 0};
            if (::poll(&q, 1, 2000) == 1 && ::recv(c, request, sizeof request, 0) > 0)
                sendAll(c, reply_);
            ::shutdown(c, SHUT_WR);
            readReply(c, 2000);
            ::close(c);
        }
    }

    QByteArray reply_;
    quint16 port_ = 0;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Minimal WebDriver client: one request per connection; answers the reply's "value".
struct WebDriver {
    quint16 port = 0;
    QString session;

    QJsonValue call(const char *method, const QString &path, const QJsonObject &body = {},
                    int timeoutMs = 30000) const
    {
        const QByteArray payload =
            qstrcmp(method, "GET") == 0 ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
        const QByteArray head =
            QByteArray(method) + ' ' + path.toUtf8()
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(payload.size()) + "\r\nConnection: close\r\n\r\n";
        const int fd = connectTo(port);
        const timeval limit{timeoutMs / 1000, 0};
        QByteArray reply;
        if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0
            && sendAll(fd, head + payload)) {
            // chromedriver may keep the connection open: read until the body is complete.
            auto complete = [&] {
                const qsizetype end = reply.indexOf("\r\n\r\n"),
                                at = reply.toLower().indexOf("content-length:");
                return end > 0 && at > 0
                       && reply.size() >= end + 4 + reply.mid(at + 15, 12).split('\r')[0].trimmed().toInt();
            };
            char buf[16384];
            for (ssize_t n; !complete() && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
                reply.append(buf, n);
        }
        ::close(fd);
        return QJsonDocument::fromJson(reply.mid(reply.indexOf("\r\n\r\n") + 4))
            .object()
            .value(QStringLiteral("value"));
    }
    // The text of the page element with this id.
    QString text(const char *id) const
    {
        const QString js =
            QStringLiteral("const e = document.getElementById('%1'); return e ? e.textContent : null;");
        return call("POST", QStringLiteral("/session/%1/execute/sync").arg(session),
                    {{QStringLiteral("script"), js.arg(QLatin1String(id))},
                     {QStringLiteral("args"), QJsonArray()}})
            .toString();
    }
    // Polls the page's state marker (the text of #state's data-state) until it reads `want`.
    bool waitForState(const QString &want) const
    {
        const QString js = QStringLiteral("return document.getElementById('state').dataset.state;");
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired(); QThread::msleep(200))
            if (call("POST", QStringLiteral("/session/%1/execute/sync").arg(session),
                     {{QStringLiteral("script"), js}, {QStringLiteral("args"), QJsonArray()}})
                    .toString()
                == want)
                return true;
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString chromium;
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"})
        if (chromium.isEmpty())
            chromium = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (chromium.isEmpty()) {
        std::printf("SKIP: Chromium is not installed (Debian packages chromium and chromium-driver); "
                    "the browser test of the status service did not run.\n");
        return 77;
    }
    const QString chromedriver = QStandardPaths::findExecutable(QStringLiteral("chromedriver"));
    QFile pageFile(QStringLiteral(VELMORA_STATUS_PAGE));
    if (chromedriver.isEmpty() || !pageFile.open(QIODevice::ReadOnly)) {
        std::printf("FAIL: chromedriver (Debian package chromium-driver) or %s is missing\n",
                    VELMORA_STATUS_PAGE);
        return 1;
    }

    QTemporaryDir dir;
    auto consent = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("einwilligungen.json")));
    StatusServer server(consent, 0);
    const StatusPayload payload(QStringLiteral("0"), true, 432.0, 440.0, 0.873,
                                StatusPayload::Method::pitchPreserving);
    server.update(payload);
    QMutex askedLock;
    QStringList asked;
    server.setOnConsentNeeded([&](const QString &origin) {
        QMutexLocker l(&askedLock);
        asked << origin;
    });
    server.start();
    PageServer pages(pageFile.readAll());
    if (!server.isListening() || pages.port() == 0) {
        std::printf("FAIL: status server or page server did not start\n");
        return 1;
    }

    quint16 driverPort = 0;
    ::close(listenOnFreePort(&driverPort));
    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.setStandardOutputFile(QProcess::nullDevice());
    driver.start(chromedriver, {QStringLiteral("--port=%1").arg(driverPort)});
    WebDriver wd{driverPort, {}};
    bool ready = false;
    for (QDeadlineTimer deadline(10000); !ready && !deadline.hasExpired(); QThread::msleep(100))
        ready = wd.call("GET", QStringLiteral("/status"), {}, 2000)[QStringLiteral("ready")].toBool();
    check(ready, QStringLiteral("chromedriver ready on 127.0.0.1:%1").arg(driverPort));

    qint64 browserPid = 0;
    if (ready) {
        QStringList flags =
            QStringLiteral("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                           "--disable-background-networking --disable-component-update --disable-sync")
                .split(u' ');
        flags << QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("chromium-profile"));
        const QJsonObject options{{QStringLiteral("binary"), chromium},
                                  {QStringLiteral("args"), QJsonArray::fromStringList(flags)}};
        const QJsonObject caps{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                               {QStringLiteral("goog:chromeOptions"), options}};
        const QJsonObject created =
            wd.call("POST", QStringLiteral("/session"),
                    {{QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("alwaysMatch"), caps}}}},
                    60000)
                .toObject();
        wd.session = created.value(QStringLiteral("sessionId")).toString();
        browserPid =
            created.value(QStringLiteral("capabilities"))[QStringLiteral("goog:processID")].toInteger();
        check(!wd.session.isEmpty(), QStringLiteral("headless Chromium session started"));
    }

    if (!wd.session.isEmpty()) {
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(pages.port());
        const QString url = QStringLiteral("%1/status-page.html?port=%2").arg(origin).arg(server.port());
        wd.call("POST", QStringLiteral("/session/%1/url").arg(wd.session), {{QStringLiteral("url"), url}});

        // First fetch: refused, and the question carries the Origin the browser sent.
        check(wd.waitForState(QStringLiteral("refused")), QStringLiteral("page shows the refusal"));
        {
            QMutexLocker l(&askedLock);
            check(asked == QStringList{origin},
                  QStringLiteral("consent question raised once for %1 (got: %2)")
                      .arg(origin, asked.join(u',')));
        }
        check(wd.text("cli").contains(origin), QStringLiteral("page explains how to allow its origin"));

        // Allowed: the browser lets the page's next poll read the document.
        consent->resolve(origin, OriginConsent::Decision::allowed);
        check(wd.waitForState(QStringLiteral("ok")), QStringLiteral("page reads the status after allowing"));
        check(wd.text("raw") == QString::fromUtf8(payload.jsonData()),
              QStringLiteral("browser received the document byte for byte: %1").arg(wd.text("raw")));
        const std::pair<const char *, QString> shown[] = {{"target", QStringLiteral("432 Hz")},
                                                          {"detected", QStringLiteral("440 Hz")},
                                                          {"confidence", QStringLiteral("0.873")},
                                                          {"method", QStringLiteral("pitch-preserving")}};
        for (const auto &[id, value] : shown)
            check(wd.text(id).contains(value),
                  QStringLiteral("%1 shown: %2").arg(QLatin1String(id), wd.text(id)));
        wd.call("DELETE", QStringLiteral("/session/%1").arg(wd.session));
    }

    driver.terminate();
    if (!driver.waitForFinished(5000))
        driver.kill();
    // The browser normally ends with its session; make sure this one does.
    for (int sig : {SIGTERM, SIGKILL})
        if (browserPid > 0 && ::kill(pid_t(browserPid), 0) == 0 && ::kill(pid_t(browserPid), sig) == 0)
            QThread::msleep(1000);
    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    return failures == 0 ? 0 : 1;
}
