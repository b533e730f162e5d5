// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The tray program's start-up, wiring and ways out. run() brings the services up in a fixed
// order: one instance per user, the platform gate, the termination safety nets, the consent
// store, the controller, the tray icon, the panel, the observation of the controller, the
// status server (seeded and wired), and last the resumption of retuning, so that audio
// starts only once everything that shows it exists.
//
// Without a tray host (decided again whenever one comes or goes) the panel is a window:
// closing it keeps retuning in the background and says so once in a desktop
// notification; a second launch brings the window back; only Quit quits. Started by the
// login autostart (--autostart), the program opens no window.
//
// Every way out tears the audio down: Quit (panel or tray menu) stops the controller and
// leaves the event loop; SIGINT, SIGTERM and SIGHUP do the same and end with status 0; an
// exit hook catches whatever ends the process otherwise.
//
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include <memory>

class OriginConsent;
class PanelSupport;
class PanelWindow;
class SingleInstance;
class StatusServer;
class StatusServerLink;
class ExitSignals;
class TonvelController;
class TrayIcon;
class VelmoraBus;

class DesktopApp : public QObject {
    Q_OBJECT
public:
    DesktopApp();
    ~DesktopApp() override;

    // Starts up and runs the event loop; the process's exit status.
    int run();

private:
    bool startServices();
    void openPanel(const QRect &anchor = {});
    void followTrayHost(bool available);
    void noticeBackground();
    void stepFreeA4(int steps);
    static bool askRunningToShowPanel();
    void refreshTray();
    void quit();

    bool autostarted_ = false;
    bool backgroundNoticed_ = false;

    std::unique_ptr<SingleInstance> instance_;
    std::unique_ptr<ExitSignals> exitSignals_;
    std::shared_ptr<OriginConsent> consent_;
    std::unique_ptr<TonvelController> controller_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<PanelSupport> support_;
    std::unique_ptr<PanelWindow> panel_;
    std::unique_ptr<StatusServer> server_;
    std::unique_ptr<StatusServerLink> statusLink_;
    std::unique_ptr<VelmoraBus> bus_;
};
