// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/SingleInstance.h"

#include <QCoreApplication>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QThread>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

namespace {
const QByteArray showCommand = QByteArrayLiteral("show\n");
}

SingleInstance::SingleInstance(QString folder, QObject *parent) : QObject(parent), folder_(std::move(folder))
{
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    QDir().mkpath(folder_);
    lock_ = std::make_unique<QLockFile>(folder_ + u'/' + QStringLiteral(VELMORA_APP_ID ".lock"));
    // A lock left by a process that died is taken over (QLockFile checks the owner's pid).
    lock_->setStaleLockTime(0);

    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                while (socket->canReadLine()) {
                    if (socket->readLine() == showCommand)
                        emit showPanelRequested();
                }
            });
        }
    });
}

SingleInstance::~SingleInstance()
{
    server_.close();
}

QString SingleInstance::socketPath() const
{
    return folder_ + u'/' + QStringLiteral(VELMORA_APP_ID ".socket");
}

bool SingleInstance::claim()
{
    if (!lock_->tryLock(0))
        return false;
    // We hold the lock, so a socket file left there belongs to a dead instance.
    QLocalServer::removeServer(socketPath());
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(socketPath()))
        qCWarning(lcUi, "Lokaler Socket %s nicht verfuegbar: %s", qUtf8Printable(socketPath()),
                  qUtf8Printable(server_.errorString()));
    return true;
}

bool SingleInstance::askRunningToShowPanel(int timeoutMs)
{
    // The running instance may still be starting up: retry until its socket answers.
    QDeadlineTimer deadline(timeoutMs);
    do {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) {
            socket.write(showCommand);
            const bool sent = socket.waitForBytesWritten(int(std::max<qint64>(1, deadline.remainingTime())));
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    } while (!deadline.hasExpired());
    return false;
}
