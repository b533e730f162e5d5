// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusServer.h"

#include "identity/AppIdentity.h"
#include "status/StatusHttp.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

static const QLoggingCategory &lcStatusServer() { return AppIdentity::logCategory("StatusServer"); }

namespace {

// The serial queue of the service. SIGPIPE stays blocked here as a second guard behind
// MSG_NOSIGNAL: a peer that resets the connection must never end the process, and a
// blocked mask (unlike SIG_IGN) is not handed to programs started elsewhere.
class ServerThread : public QThread {
protected:
    void run() override
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        exec();
    }
};

qint64 kernelBytesPending(qintptr fd)
{
    int n = 0;
    return ::ioctl(int(fd), FIONREAD, &n) == 0 ? n : 0;
}

} // namespace

// Lives on the server thread; owns the listening socket and every connection.
class StatusListener : public QTcpServer {
public:
    explicit StatusListener(StatusServer::Shared &shared) : shared_(shared)
    {
        retry_.setSingleShot(true);
        connect(&retry_, &QTimer::timeout, this, [this] { tryListening(); });
        // Qt stops accepting while a connection waits to be taken, which is how a full
        // house leaves newcomers in the backlog instead of turning them away.
        setMaxPendingConnections(1);
        // Room for a burst while this thread waits for a core on a busy machine.
        setListenBacklogSize(128);
        connect(this, &QTcpServer::newConnection, this, [this] { admitPending(); });
        connect(this, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
            onAcceptError();
        });
    }

    ~StatusListener() override
    {
        for (Connection *c : connections_) {
            c->socket->disconnect(this);
            c->socket->abort();
            delete c;   // the socket itself is our child and goes with us
        }
        shared_.openConnections.store(0);
    }

    void startListening()
    {
        if (wanted_)
            return;
        wanted_ = true;
        tryListening();
    }

    void stopListening()
    {
        wanted_ = false;
        retry_.stop();
        if (isListening())
            close();
        shared_.listening.store(false);
        report(StatusServer::Problem::none, QString());
    }

private:
    void tryListening()
    {
        if (!wanted_ || isListening())
            return;
        if (!listen(QHostAddress(QHostAddress::LocalHost), shared_.requestedPort)) {
            const bool notCreated = serverError() == QAbstractSocket::SocketResourceError
                || serverError() == QAbstractSocket::UnsupportedSocketOperationError;
            const auto problem = serverError() == QAbstractSocket::AddressInUseError
                ? StatusServer::Problem::portTaken : StatusServer::Problem::other;
            const QString text = errorString();
            close();
            // Logged once per failure, not on every retry.
            if (report(problem, text))
                qCCritical(lcStatusServer).noquote()
                    << (notCreated ? QStringLiteral("Statusdienst nicht anlegbar: %1").arg(text)
                                   : QStringLiteral("Statusdienst nicht gestartet: %1; neuer Versuch alle %2 ms")
                                         .arg(text)
                                         .arg(shared_.limits.bindRetryMs));
            retry_.start(shared_.limits.bindRetryMs);
            return;
        }
        shared_.boundPort.store(serverPort());
        shared_.listening.store(true);
        report(StatusServer::Problem::none, QString());
        qCInfo(lcStatusServer).noquote()
            << QStringLiteral("Statusdienst auf 127.0.0.1:%1").arg(serverPort());
    }

    // Publishes the state; false when the problem was already known.
    bool report(StatusServer::Problem problem, const QString &text)
    {
        std::function<void()> notify;
        {
            std::lock_guard guard(shared_.callbackLock);
            const bool same = shared_.problem == problem && shared_.problemText == text;
            shared_.problem = problem;
            shared_.problemText = text;
            notify = shared_.onStateChanged;
            if (same && problem != StatusServer::Problem::none)
                return false;
        }
        if (notify)
            notify();
        return true;
    }

    // Takes accepted connections while there is room. At the limit the oldest connection
    // that has sent nothing is closed for the newcomer; when every slot is busy answering,
    // the newcomer waits (Qt holds one, the kernel's backlog the rest) until a slot frees.
    void admitPending()
    {
        while (hasPendingConnections()) {
            if (int(connections_.size()) >= shared_.limits.maxConnections && !displaceOldestIdle())
                return;
            QTcpSocket *socket = nextPendingConnection();
            if (!socket)
                return;
            track(socket);
        }
    }

    void track(QTcpSocket *socket)
    {
        // The request is one read of at most this many bytes; the rest waits in the kernel.
        socket->setReadBufferSize(StatusHttp::maxRequestBytes);

        auto *c = new Connection{socket, new QTimer(socket)};
        connections_.push_back(c);
        shared_.openConnections.store(int(connections_.size()));

        c->timer->setSingleShot(true);
        connect(c->timer, &QTimer::timeout, this, [this, c] { onTimeout(c); });
        connect(socket, &QTcpSocket::readyRead, this, [this, c] { onReadyRead(c); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c] {
            if (c->phase == Phase::answering && c->socket->bytesToWrite() == 0)
                afterResponseWritten(c);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, c] { finish(c, false); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, c] { finish(c, true); });
        c->timer->start(shared_.limits.firstBytesTimeoutMs);
        if (socket->bytesAvailable() > 0)
            onReadyRead(c);
    }

    enum class Phase { waiting, answering, draining };
    struct Connection {
        QTcpSocket *socket;
        QTimer *timer;
        Phase phase = Phase::waiting;
        qint64 drained = 0;
    };

    void onReadyRead(Connection *c)
    {
        switch (c->phase) {
        case Phase::waiting: {
            const QByteArray request = c->socket->read(StatusHttp::maxRequestBytes);
            if (request.isEmpty())
                return;
            c->phase = Phase::answering;
            respond(c, request);
            return;
        }
        case Phase::answering:
            return;   // judged already; the rest is drained after the response
        case Phase::draining:
            drain(c);
            return;
        }
    }

    void respond(Connection *c, const QByteArray &bytes)
    {
        using StatusHttp::Status;
        const auto request = StatusHttp::parseRequest(bytes);
        if (!request) {
            ++shared_.closedWithoutResponse;
            finish(c, true);
            return;
        }
        const OriginConsent::Outcome outcome = shared_.consent->evaluate(request->origin);
        QByteArray answer;
        switch (outcome.kind) {
        case OriginConsent::Outcome::Kind::allow:
            if (request->method == "GET" && request->path == "/status") {
                StatusPayload copy;
                {
                    std::lock_guard guard(shared_.lock);
                    copy = shared_.current;
                }
                QByteArray body = copy.jsonData();
                if (body.isEmpty())
                    body = QByteArrayLiteral("{}");
                answer = StatusHttp::response(Status::ok, request->origin, body);
                ++shared_.ok;
            } else {
                answer = StatusHttp::response(Status::notFound, request->origin, {});
                ++shared_.notFound;
            }
            break;
        case OriginConsent::Outcome::Kind::refuseAndAsk: {
            std::function<void(const QString &)> callback;
            {
                std::lock_guard guard(shared_.callbackLock);
                callback = shared_.onConsentNeeded;
            }
            if (callback)
                callback(outcome.origin);
            [[fallthrough]];
        }
        case OriginConsent::Outcome::Kind::refuse:
            answer = StatusHttp::response(Status::forbidden, std::nullopt, {});
            ++shared_.forbidden;
            break;
        }
        send(c, answer);
    }

    void send(Connection *c, const QByteArray &answer)
    {
        c->timer->start(shared_.limits.finishTimeoutMs);
        // Straight to the kernel with MSG_NOSIGNAL; a response this small nearly always
        // fits at once, and Qt's buffer takes whatever does not.
        const ssize_t n = ::send(int(c->socket->socketDescriptor()), answer.constData(),
                                 size_t(answer.size()), MSG_NOSIGNAL);
        if (n == answer.size()) {
            afterResponseWritten(c);
            return;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            finish(c, true);   // the peer is gone; nothing to report
            return;
        }
        c->socket->write(answer.mid(std::max<qsizetype>(n, 0)));
    }

    void afterResponseWritten(Connection *c)
    {
        // Half-close, then read until the peer closes: closing with unread bytes would
        // send a reset that can destroy the response before the client has read it.
        ::shutdown(int(c->socket->socketDescriptor()), SHUT_WR);
        c->phase = Phase::draining;
        drain(c);
    }

    void drain(Connection *c)
    {
        while (c->socket->bytesAvailable() > 0) {
            c->drained += c->socket->skip(c->socket->bytesAvailable());
            if (c->drained > shared_.limits.maxDrainBytes) {
                finish(c, true);
                return;
            }
        }
    }

    void onTimeout(Connection *c)
    {
        if (c->phase == Phase::waiting)
            ++shared_.timedOut;
        finish(c, c->phase != Phase::waiting);
    }

    // Closes the oldest connection that has sent nothing yet; false when there is none.
    bool displaceOldestIdle()
    {
        for (Connection *c : connections_) {
            if (c->phase == Phase::waiting && c->socket->bytesAvailable() == 0
                && kernelBytesPending(c->socket->socketDescriptor()) == 0) {
                ++shared_.displaced;
                finish(c, false);
                return true;
            }
        }
        return false;
    }

    void onAcceptError()
    {
        // Typically EMFILE/ENFILE. Qt stops accepting; free a slot if one is idle and try
        // again shortly instead of spinning or giving up.
        ++shared_.acceptErrors;
        pauseAccepting();
        if (!acceptLogClock_.isValid() || acceptLogClock_.hasExpired(10000)) {
            acceptLogClock_.start();
            qCWarning(lcStatusServer).noquote()
                << QStringLiteral("Statusdienst kann keine Verbindung annehmen: %1; neuer Versuch")
                       .arg(errorString());
        }
        displaceOldestIdle();
        QTimer::singleShot(shared_.limits.acceptRetryMs, this, [this] {
            if (isListening())
                resumeAccepting();
        });
    }

    void finish(Connection *c, bool abortive)
    {
        const auto it = std::find(connections_.begin(), connections_.end(), c);
        if (it == connections_.end())
            return;
        connections_.erase(it);
        shared_.openConnections.store(int(connections_.size()));
        c->timer->stop();
        c->socket->disconnect(this);
        if (abortive)
            c->socket->abort();
        else
            c->socket->close();
        c->socket->deleteLater();
        delete c;
        if (hasPendingConnections())
            QMetaObject::invokeMethod(this, [this] { admitPending(); }, Qt::QueuedConnection);
    }

    StatusServer::Shared &shared_;
    std::vector<Connection *> connections_;   // in order of arrival
    QElapsedTimer acceptLogClock_;   // at most one warning per ten seconds
    QTimer retry_{this};             // listening again while the port is taken
    bool wanted_ = false;            // started and not stopped
};

StatusServer::StatusServer(std::shared_ptr<OriginConsent> consent, quint16 port, Limits limits)
    : shared_(std::make_unique<Shared>())
{
    shared_->consent = std::move(consent);
    shared_->requestedPort = port;
    shared_->limits = limits;
    thread_ = new ServerThread;
    thread_->setObjectName(AppIdentity::qualified("status"));
    listener_ = new StatusListener(*shared_);
    listener_->moveToThread(thread_);
    thread_->start();
}

StatusServer::~StatusServer()
{
    runOnServerThread([this] { delete listener_; });
    thread_->quit();
    thread_->wait();
    delete thread_;
}

void StatusServer::runOnServerThread(const std::function<void()> &work)
{
    if (QThread::currentThread() == thread_)
        work();
    else
        QMetaObject::invokeMethod(listener_, work, Qt::BlockingQueuedConnection);
}

void StatusServer::start()
{
    runOnServerThread([this] { listener_->startListening(); });
}

void StatusServer::stop()
{
    runOnServerThread([this] { listener_->stopListening(); });
}

void StatusServer::update(const StatusPayload &payload)
{
    std::lock_guard guard(shared_->lock);
    shared_->current = payload;
}

void StatusServer::setOnConsentNeeded(std::function<void(const QString &)> callback)
{
    std::lock_guard guard(shared_->callbackLock);
    shared_->onConsentNeeded = std::move(callback);
}

StatusServer::Problem StatusServer::problem() const
{
    std::lock_guard guard(shared_->callbackLock);
    return shared_->problem;
}

QString StatusServer::problemText() const
{
    std::lock_guard guard(shared_->callbackLock);
    return shared_->problemText;
}

void StatusServer::setOnStateChanged(std::function<void()> callback)
{
    std::lock_guard guard(shared_->callbackLock);
    shared_->onStateChanged = std::move(callback);
}

StatusServer::Stats StatusServer::stats() const
{
    const Shared &s = *shared_;
    return Stats{s.ok.load(), s.forbidden.load(), s.notFound.load(),
                 s.closedWithoutResponse.load(), s.timedOut.load(), s.displaced.load(),
                 s.acceptErrors.load()};
}
