// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// One running tray program per user: a second one would tear down the first one's audio
// and fight over the status port. The first instance holds a QLockFile in the runtime
// folder and listens on a local socket beside it; a later launch finds the lock taken,
// asks the first instance to show its panel and ends.
//
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `folder`: where the lock and the socket live ($XDG_RUNTIME_DIR when empty).
    explicit SingleInstance(QString folder = {}, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when this process is now the one instance (and listens for later launches).
    bool claim();
    // From a later launch: asks the running instance to show its panel. False when it
    // could not be reached within `timeoutMs`.
    bool askRunningToShowPanel(int timeoutMs = 3000);

signals:
    void showPanelRequested();

private:
    QString socketPath() const;

    QString folder_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};
