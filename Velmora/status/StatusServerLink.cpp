// SPDX-License-Identifier: GPL-3.0-or-later
#include "status/StatusServerLink.h"

#include "controller/TonvelController.h"
#include "status/StatusServer.h"

#include <QCoreApplication>
#include <QPointer>

StatusServerLink::StatusServerLink(TonvelController &controller, StatusServer &server, QObject *parent)
    : QObject(parent), controller_(controller), server_(server)
{
    // Posted to this object: dropped with it, and run on the controller's thread.
    QPointer<StatusServerLink> self(this);
    const auto onMain = [self](auto task) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, task] {
                if (self)
                    task(*self);
            },
            Qt::QueuedConnection);
    };
    server.setOnConsentNeeded([onMain](const QString &origin) {
        onMain([origin](StatusServerLink &l) { l.controller_.askConsent(origin); });
    });
    server.setOnStateChanged([onMain] {
        onMain([](StatusServerLink &l) { l.controller_.setStatusServerError(problemText(l.server_)); });
    });
    connect(&controller, &TonvelController::changed, this,
            [this] { server_.update(controller_.statusPayload()); });
    connect(&controller, &TonvelController::statusServerEnabledChanged, this,
            [this](bool on) { on ? server_.start() : server_.stop(); });
    server.update(controller.statusPayload());
    if (controller.statusServerEnabled())
        server.start();
}

StatusServerLink::~StatusServerLink()
{
    server_.setOnConsentNeeded({});
    server_.setOnStateChanged({});
}

QString StatusServerLink::problemText(const StatusServer &server)
{
    switch (server.problem()) {
    case StatusServer::Problem::none:
        return {};
    case StatusServer::Problem::portTaken:
        return qtTrId("controller.statusServer.portTaken").arg(server.requestedPort());
    case StatusServer::Problem::other:
        break;
    }
    return qtTrId("controller.statusServer.failed").arg(server.problemText());
}
