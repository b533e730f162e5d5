// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// StatusServerLink: how a program wires its status service to the controller at start-up.
// The server serves the controller's status document (renewed after every change), runs
// while `statusServerEnabled` is on, takes its consent questions to the controller, and its
// trouble (a port taken) shows on the controller's `statusServerError`.
//
// Thread safety: created, used and destroyed on the controller's thread; the server's
// callbacks hop to that thread and are dropped once the link is gone.
//
#include <QObject>

class StatusServer;
class TonvelController;

class StatusServerLink : public QObject {
    Q_OBJECT
public:
    // Both must outlive the link. Starts the server now if the switch is on.
    StatusServerLink(TonvelController &controller, StatusServer &server, QObject *parent = nullptr);
    ~StatusServerLink() override;

    // The server's state as the user reads it; empty while it serves or is off.
    static QString problemText(const StatusServer &server);

private:
    TonvelController &controller_;
    StatusServer &server_;
};
