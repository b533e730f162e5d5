// SPDX-License-Identifier: GPL-3.0-or-later
// The consent flow against a real browser. A page served from one loopback port
// (examples/status-page.html) polls the status service on another port: the first fetch is
// refused and raises the consent question with the page's real Origin; once that origin
// is allowed, the page reads the document and shows its values. Headless Chromium is
// driven through chromedriver's WebDriver API; exit code 77 (skip) only when Chromium is
// not installed.
#include "status/StatusServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

int failures = 0;

void check(bool ok, const QString &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", qPrintable(what));
    std::fflush(stdout);
    if (!ok)
        ++failures;
}

int listenOnFreePort(quint16 *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
        || ::listen(fd, 16) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return -1;
    *port = ntohs(addr.sin_port);
    return fd;
}

// Serves one file for every GET, until stopped. Loopback only.
class PageServer {
public:
    PageServer(QByteArray page) : page_(std::move(page))
    {
        fd_ = listenOnFreePort(&port_);
        if (fd_ >= 0)
            thread_ = std::thread([this] { run(); });
    }
    ~PageServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    quint16 port() const { return port_; }
    bool ok() const { return fd_ >= 0; }

private:
    void run()
    {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) != 1)
                continue;
            const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0)
                continue;
            timeval tv{2, 0};
            ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            char buf[8192];
            const ssize_t n = ::recv(c, buf, sizeof buf, 0);
            const QByteArray request(buf, n > 0 ? n : 0);
            QByteArray reply;
            if (request.startsWith("GET /status-page.html")) {
                reply = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: "
                    + QByteArray::number(page_.size()) + "\r\nConnection: close\r\n\r\n" + page_;
            } else {
                reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            }
            ::send(c, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
            ::shutdown(c, SHUT_WR);
            while (::recv(c, buf, sizeof buf, 0) > 0) {
            }
            ::close(c);
        }
    }

    QByteArray page_;
    int fd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Minimal WebDriver client: one HTTP/1.1 request per connection.
struct WebDriver {
    quint16 port = 0;
    QString session;

    QJsonObject call(const char *method, const QString &path, const QJsonObject &body = {},
                     int timeoutMs = 30000) const
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval tv{timeoutMs / 1000, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return {};
        }
        const QByteArray payload =
            qstrcmp(method, "GET") == 0 ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact);
        const QByteArray request = QByteArray(method) + ' ' + path.toUtf8()
            + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: "
            + QByteArray::number(payload.size()) + "\r\nConnection: close\r\n\r\n" + payload;
        ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        QByteArray reply;
        char buf[16384];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) {
            reply.append(buf, n);
            const qsizetype head = reply.indexOf("\r\n\r\n");
            const qsizetype lengthAt = reply.toLower().indexOf("content-length:");
            if (head > 0 && lengthAt > 0 && lengthAt < head) {
                const qsizetype eol = reply.indexOf("\r\n", lengthAt);
                const int length = reply.mid(lengthAt + 15, eol - lengthAt - 15).trimmed().toInt();
                if (reply.size() >= head + 4 + length)
                    break;
            }
        }
        ::close(fd);
        const qsizetype head = reply.indexOf("\r\n\r\n");
        return head < 0 ? QJsonObject() : QJsonDocument::fromJson(reply.mid(head + 4)).object();
    }

    QJsonValue script(const QString &js) const
    {
        return call("POST", QStringLiteral("/session/%1/execute/sync").arg(session),
                    QJsonObject{{QStringLiteral("script"), js}, {QStringLiteral("args"), QJsonArray()}})
            .value(QStringLiteral("value"));
    }

    QString text(const char *id) const
    {
        return script(QStringLiteral("const e = document.getElementById('%1'); return e ? e.textContent : null;")
                          .arg(QLatin1String(id)))
            .toString();
    }

    // Polls the page's state marker until it reads `want`.
    bool waitForState(const QString &want, int timeoutMs) const
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            if (script(QStringLiteral("return document.getElementById('state').dataset.state;")).toString() == want)
                return true;
            QThread::msleep(200);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);

    const QString chromium = [] {
        for (const char *name : {"chromium", "chromium-browser", "google-chrome"}) {
            const QString p = QStandardPaths::findExecutable(QString::fromLatin1(name));
            if (!p.isEmpty())
                return p;
        }
        return QString();
    }();
    if (chromium.isEmpty()) {
        std::printf("SKIP: Chromium is not installed (Debian packages chromium and chromium-driver); "
                    "the browser test of the status service did not run.\n");
        return 77;
    }
    const QString chromedriver = QStandardPaths::findExecutable(QStringLiteral("chromedriver"));
    if (chromedriver.isEmpty()) {
        std::printf("FAIL: Chromium is installed but chromedriver is missing (Debian package chromium-driver)\n");
        return 1;
    }

    QFile pageFile(QStringLiteral(VELMORA_STATUS_PAGE));
    if (!pageFile.open(QIODevice::ReadOnly)) {
        std::printf("FAIL: cannot read %s\n", VELMORA_STATUS_PAGE);
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
    if (!server.isListening()) {
        std::printf("FAIL: status server did not start\n");
        return 1;
    }

    PageServer pages(pageFile.readAll());
    if (!pages.ok()) {
        std::printf("FAIL: page server did not start\n");
        return 1;
    }

    // chromedriver on a free port.
    quint16 driverPort = 0;
    ::close(listenOnFreePort(&driverPort));
    QProcess driver;
    driver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    driver.setStandardOutputFile(QProcess::nullDevice());
    driver.start(chromedriver, {QStringLiteral("--port=%1").arg(driverPort)});
    WebDriver wd{driverPort, {}};
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) {
        ready = wd.call("GET", QStringLiteral("/status"), {}, 2000)
                    .value(QStringLiteral("value")).toObject().value(QStringLiteral("ready")).toBool();
        if (!ready)
            QThread::msleep(100);
    }
    check(ready, QStringLiteral("chromedriver ready on 127.0.0.1:%1").arg(driverPort));

    qint64 browserPid = 0;
    if (ready) {
        const QStringList flags = {
            QStringLiteral("--headless"), QStringLiteral("--no-sandbox"), QStringLiteral("--disable-gpu"),
            QStringLiteral("--disable-quic"), QStringLiteral("--no-first-run"),
            QStringLiteral("--disable-background-networking"), QStringLiteral("--disable-component-update"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("chromium-profile")),
        };
        const QJsonObject caps{
            {QStringLiteral("capabilities"),
             QJsonObject{{QStringLiteral("alwaysMatch"),
                          QJsonObject{{QStringLiteral("browserName"), QStringLiteral("chrome")},
                                      {QStringLiteral("goog:chromeOptions"),
                                       QJsonObject{{QStringLiteral("binary"), chromium},
                                                   {QStringLiteral("args"), QJsonArray::fromStringList(flags)}}}}}}}};
        const QJsonObject created = wd.call("POST", QStringLiteral("/session"), caps, 60000)
                                        .value(QStringLiteral("value")).toObject();
        wd.session = created.value(QStringLiteral("sessionId")).toString();
        browserPid = created.value(QStringLiteral("capabilities")).toObject()
                         .value(QStringLiteral("goog:processID")).toInteger();
        check(!wd.session.isEmpty(), QStringLiteral("headless Chromium session started"));
    }

    if (!wd.session.isEmpty()) {
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(pages.port());
        const QString url = QStringLiteral("%1/status-page.html?port=%2").arg(origin).arg(server.port());
        wd.call("POST", QStringLiteral("/session/%1/url").arg(wd.session), {{QStringLiteral("url"), url}});

        // First fetch: refused, and the question carries the page's real origin.
        check(wd.waitForState(QStringLiteral("refused"), 20000), QStringLiteral("page shows the refusal"));
        check(server.stats().forbidden >= 1 && server.stats().ok == 0,
              QStringLiteral("server answered 403 (%1 times so far)").arg(server.stats().forbidden));
        {
            QMutexLocker l(&askedLock);
            check(asked == QStringList{origin},
                  QStringLiteral("consent question raised once for %1 (got: %2)").arg(origin, asked.join(u',')));
        }
        check(consent->pendingOrigin() == origin, QStringLiteral("the store holds the open question"));
        check(wd.text("cli").contains(origin), QStringLiteral("page explains how to allow its origin"));

        // Allowed: the page's next poll reads the document.
        consent->resolve(origin, OriginConsent::Decision::allowed);
        check(wd.waitForState(QStringLiteral("ok"), 20000), QStringLiteral("page reads the status after allowing"));
        check(wd.text("raw") == QString::fromUtf8(payload.jsonData()),
              QStringLiteral("browser received the document byte for byte: %1").arg(wd.text("raw")));
        check(wd.text("target") == QStringLiteral("432 Hz"), QStringLiteral("target A4 shown: %1").arg(wd.text("target")));
        check(wd.text("detected") == QStringLiteral("440 Hz"), QStringLiteral("detected A4 shown: %1").arg(wd.text("detected")));
        check(wd.text("confidence").contains(QStringLiteral("0.873")),
              QStringLiteral("confidence shown: %1").arg(wd.text("confidence")));
        check(wd.text("method") == QStringLiteral("pitch-preserving"), QStringLiteral("method shown: %1").arg(wd.text("method")));
        check(server.stats().ok >= 1, QStringLiteral("server answered 200 (%1 times)").arg(server.stats().ok));

        wd.call("DELETE", QStringLiteral("/session/%1").arg(wd.session));
    }

    driver.terminate();
    if (!driver.waitForFinished(5000)) {
        driver.kill();
        driver.waitForFinished(2000);
    }
    // The browser normally ends with its session; make sure this one does.
    if (browserPid > 0 && ::kill(pid_t(browserPid), 0) == 0) {
        ::kill(pid_t(browserPid), SIGTERM);
        QThread::msleep(1000);
        if (::kill(pid_t(browserPid), 0) == 0)
            ::kill(pid_t(browserPid), SIGKILL);
    }
    server.stop();

    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    return failures == 0 ? 0 : 1;
}
