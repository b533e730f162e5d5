// SPDX-License-Identifier: GPL-3.0-or-later
// The consent flow against a real browser, for what only a browser shows: the Origin
// Chromium really sends and whether it lets the page read the answer (CORS). A page served
// from one loopback port (examples/status-page.html) polls the status service on another:
// the first visit is refused and raises the question; once that origin is allowed, the next
// visit reads the document. Protocol details are the unit test's. Headless Chromium runs the
// page for a few seconds of virtual time and prints the page it ends with; exit code 77 (skip)
// only when Chromium is not installed.
#include "status/StatusServer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

int failures = 0;

void check(bool ok, const QString &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", qPrintable(what));
    std::fflush(stdout);
    failures += !ok;
}

// Serves the examples folder on a free loopback port (Python's own file server); its port,
// 0 if it did not start.
quint16 servePages(QProcess &server)
{
    server.start("python3", {"-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                             QFileInfo(VELMORA_STATUS_PAGE).path()});
    // "Serving HTTP on 127.0.0.1 port 41235 (http://127.0.0.1:41235/) ..."
    if (!server.waitForReadyRead(10000))
        return 0;
    const QList<QByteArray> words = server.readLine().split(' ');
    const qsizetype at = words.indexOf("port");
    return at >= 0 && at + 1 < words.size() ? quint16(words[at + 1].toUInt()) : 0;
}

// The page as headless Chromium leaves it after three seconds of virtual time (three polls);
// waiting on the network does not count towards them.
QString visit(const QString &chromium, const QString &url, const QString &profile)
{
    QProcess browser;
    browser.setStandardErrorFile(QProcess::nullDevice());
    browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                             "--disable-background-networking", "--user-data-dir=" + profile,
                             "--virtual-time-budget=3000", "--dump-dom", url});
    if (!browser.waitForFinished(60000)) {
        browser.kill();
        browser.waitForFinished();
    }
    return QString::fromUtf8(browser.readAllStandardOutput());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString chromium;
    for (const char *name : {"chromium", "chromium-browser", "google-chrome"})
        if (chromium.isEmpty())
            chromium = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (chromium.isEmpty()) {
        std::printf("SKIP: Chromium is not installed (Debian package chromium); "
                    "the browser test of the status service did not run.\n");
        return 77;
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
    QProcess pages;
    const quint16 pagePort = servePages(pages);
    if (!server.isListening() || pagePort == 0) {
        std::printf("FAIL: status server or page server did not start\n");
        return 1;
    }
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(pagePort);
    const QString url = QStringLiteral("%1/status-page.html?port=%2").arg(origin).arg(server.port());
    const QString profile = dir.filePath(QStringLiteral("chromium-profile"));

    // First visit: refused, and the question carries the Origin the browser sent.
    const QString refused = visit(chromium, url, profile);
    check(refused.contains(QStringLiteral("data-state=\"refused\"")), QStringLiteral("page shows the refusal"));
    {
        QMutexLocker l(&askedLock);
        check(asked == QStringList{origin}, QStringLiteral("consent question raised once for %1 (got: %2)")
                                                .arg(origin, asked.join(u',')));
    }
    check(refused.contains(QStringLiteral("<code id=\"cli\">velmora-cli consent allow %1</code>").arg(origin)),
          QStringLiteral("page explains how to allow its origin"));

    // Allowed: the browser lets the page read the document.
    consent->resolve(origin, OriginConsent::Decision::allowed);
    const QString allowed = visit(chromium, url, profile);
    check(allowed.contains(QStringLiteral("data-state=\"ok\"")), QStringLiteral("page reads the status after allowing"));
    const QString shown[] = {"<pre id=\"raw\">" + QString::fromUtf8(payload.jsonData()) + "</pre>",
                             "<td id=\"target\">432 Hz</td>", "<td id=\"detected\">440 Hz</td>",
                             "<td id=\"confidence\">87 % (0.873)</td>", "<td id=\"method\">pitch-preserving</td>"};
    for (const QString &element : shown)
        check(allowed.contains(element), QStringLiteral("shown: ") + element);
    if (failures > 0)
        std::printf("%s\n", qPrintable(allowed));
    std::printf("%s\n", failures == 0 ? "PASS" : "FAILED");
    pages.kill();
    pages.waitForFinished();
    return failures == 0 ? 0 : 1;
}
