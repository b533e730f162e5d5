// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TonvelCore/OriginConsent.h"
#include "TonvelCore/StatusPayload.h"

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QThread;
class StatusListener;

struct StatusServerLimits {
    int firstBytesTimeoutMs = 5000;
    int maxConnections = 32;
    int finishTimeoutMs = 2000;        // writing and draining after the response
    qint64 maxDrainBytes = 256 * 1024; // unread bytes discarded before closing
    int acceptRetryMs = 100;           // pause after an accept failure (e.g. EMFILE)
    int bindRetryMs = 2000;            // while switched on but unable to listen (port taken)
};

// Summary: the loopback status service. Answers `GET /status` on 127.0.0.1 with the
// current StatusPayload, but only to origins the consent store allows; an origin nobody
// has decided on yet is refused and reported through the consent callback. One request
// per connection: one read of at most 8192 bytes, one response, then the connection is
// closed (after a half-close and a bounded drain, so unread request bytes do not turn
// the response into a reset).
//
// Limits: a connection that has sent nothing within `firstBytesTimeoutMs` is closed; at
// most `maxConnections` are open, and a newcomer at that limit displaces the oldest one
// that has not sent anything yet (or waits in the backlog while every slot is answering). Running out of file descriptors pauses accepting
// briefly instead of ending the service. Writes never raise SIGPIPE.
//
// Thread safety: all socket work runs on the server's own thread (named
// "<application id>.status"). start(), stop() and the destructor may be called from any
// other thread and wait for the server thread; update() and the accessors from any
// thread. The consent callback runs on the server thread and must not block on the
// caller of start()/stop().
class StatusServer {
public:
    static constexpr quint16 defaultPort = 47432;

    using Limits = StatusServerLimits;

    struct Stats {
        quint64 ok = 0, forbidden = 0, notFound = 0;
        quint64 closedWithoutResponse = 0;   // empty or non-UTF-8 requests
        quint64 timedOut = 0;                // nothing sent within the first-bytes timeout
        quint64 displaced = 0;               // idle connections closed to make room
        quint64 acceptErrors = 0;
    };

    // `port` 0 picks a free port (tests); port() tells which one after start().
    explicit StatusServer(std::shared_ptr<OriginConsent> consent, quint16 port = defaultPort,
                          Limits limits = Limits());
    ~StatusServer();
    StatusServer(const StatusServer &) = delete;
    StatusServer &operator=(const StatusServer &) = delete;

    // Why a started server does not listen.
    enum class Problem { none, portTaken, other };

    // Starts listening; does nothing while started. When the port cannot be had, logs why
    // once and tries again every `bindRetryMs` until it listens or stop() is called.
    void start();
    // Stops listening and retrying; a later start() listens again. Open connections finish
    // on their own.
    void stop();
    bool isListening() const { return shared_->listening.load(); }
    // Why the started server does not listen (none while listening or stopped), with the
    // system's text of the last failure.
    Problem problem() const;
    QString problemText() const;
    // Called on the server thread whenever listening or the problem changed.
    void setOnStateChanged(std::function<void()> callback);
    quint16 port() const { return shared_->boundPort.load(); }
    quint16 requestedPort() const { return shared_->requestedPort; }

    // Replaces the served document.
    void update(const StatusPayload &payload);
    // Called on the server thread with the origin of each new consent question.
    void setOnConsentNeeded(std::function<void(const QString &)> callback);

    Stats stats() const;
    int openConnections() const { return shared_->openConnections.load(); }

    // Shared with the server thread.
    struct Shared {
        std::shared_ptr<OriginConsent> consent;
        quint16 requestedPort = defaultPort;
        Limits limits;

        std::mutex lock;   // guards current
        StatusPayload current{QStringLiteral("0"), false};

        std::mutex callbackLock;
        std::function<void(const QString &)> onConsentNeeded;
        std::function<void()> onStateChanged;
        Problem problem = Problem::none; // under callbackLock, with problemText
        QString problemText;

        std::atomic<bool> listening{false};
        std::atomic<quint16> boundPort{0};
        std::atomic<int> openConnections{0};
        std::atomic<quint64> ok{0}, forbidden{0}, notFound{0}, closedWithoutResponse{0},
            timedOut{0}, displaced{0}, acceptErrors{0};
    };

private:
    void runOnServerThread(const std::function<void()> &work);

    std::unique_ptr<Shared> shared_;
    QThread *thread_ = nullptr;
    StatusListener *listener_ = nullptr;
};
