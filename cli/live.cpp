// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli live: a terminal client of the controller. The saved settings are the defaults; the
// options count for this run only. Scripts match the lines about the chain (running, rebuilt,
// server lost, a page asking, ended): those stay German in every language, byte for byte.
#include "CommandLine.h"
#include "Commands.h"
#include "audio/EngineTable.h"
#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"
#include "controller/ExitSignals.h"
#include "controller/TonvelController.h"
#include "dbus/RunSettings.h"
#include "dbus/VelmoraBus.h"
#include "status/StatusServer.h"
#include "status/StatusServerLink.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <unistd.h>

// What is wrong with the options, or an empty text after applying them to `c` (if given).
static QString applyOptions(const cli::CommandLine &p, TonvelController *c)
{
    const auto has = [&](const char *name) { return p.isSet(name); };
    const QString preset = p.value("preset"), engine = p.value("engine");
    const double a4 = p.value("a4").toDouble();
    const EngineSpec *spec = EngineTable::named(engine.toStdString());
    if (!p.positional().isEmpty() || (has("preset") && has("a4")))
        return qtTrId("cli.live.error.arguments");
    if (has("preset") && !TuningPreset::preset(preset))
        return qtTrId("cli.live.error.unknownPreset").arg(preset);
    if (has("a4") && !TuningMath::freeA4Range.contains(a4)) // NaN fails too
        return qtTrId("cli.live.error.a4");
    if (has("engine") && !spec)
        return qtTrId("cli.error.unknownEngine").arg(engine);
    if (!c)
        return {};
    if (has("preset"))
        c->setMode(TonvelController::Mode::preset), c->setSelectedPresetID(preset);
    if (has("a4"))
        c->setMode(TonvelController::Mode::freeA4), c->setFreeA4(a4);
    if (spec)
        c->setEngine(spec->kind);
    c->setAutomatic(c->automatic() || has("auto"));
    c->setStatusServerEnabled(c->statusServerEnabled() && !has("no-status-server"));
    c->setRunExcludedApps(p.values("exclude")); // on top of the saved list, never saved
    return {};
}

int cli::runLive(const QStringList &args)
{
    cli::CommandLine p("live", {{"preset", {}, "ID"}, {"a4", {}, "HZ"}, {"engine", {}, "KIND"}, {"auto", {}},
                                {"exclude", {}, "APP"}, {"no-status-server", {}}});
    if (const std::optional<int> exit = p.parse(args, [] { return qtTrId("cli.live.usage"); }))
        return *exit;
    if (const QString wrong = applyOptions(p, nullptr); !wrong.isEmpty())
        return p.usageError(wrong);

    std::setvbuf(stdout, nullptr, _IOLBF, 0); // whole lines reach a log file at once
    std::shared_ptr<PipeWireServer> platform;
    try {
        platform = PipeWireServer::connect();
    } catch (const AudioError &e) {
        return std::fprintf(stderr, "velmora-cli live: %s\n%s\n", qPrintable(e.localizedDescription()),
                            qPrintable(qtTrId("cli.live.hint.noServer"))),
               1;
    }
    const std::shared_ptr<RetuneEngine> engine = TapEngine::create(platform);
    ExitSignals exitSignals;
    if (!exitSignals.isValid())
        return std::fprintf(stderr, "velmora-cli live: %s\n", qPrintable(qtTrId("cli.live.error.setup"))), 1;
    auto consent = std::make_shared<OriginConsent>(OriginConsent::defaultStorePath());
    TonvelController c({engine, consent, {}, {}, {}, {}, true, false});
    std::unique_ptr<StatusServer> server;
    std::unique_ptr<StatusServerLink> statusLink; // goes before the server and the controller
    applyOptions(p, &c);
    // Scripts drive this run over the session bus; without one it runs all the same.
    bool switchedOffByClient = false;
    VelmoraBus bus(c, {{}, [&] {
                          c.shutdown();
                          QCoreApplication::exit(0);
                      }});
    QObject::connect(&bus, &VelmoraBus::enabledRequested, [&](bool on) { switchedOffByClient = !on; });
    QObject::connect(&bus, &VelmoraBus::written, [&](const QString &property) { RunSettings::saveBusWrite(c, property); });
    if (bus.claim() == VelmoraBus::Claim::taken)
        std::fprintf(stderr, "velmora-cli live: %s\n", qPrintable(qtTrId("cli.live.hint.busTaken")));

    QObject::connect(&c, &TonvelController::chainStarted, [&](bool rebuilt, const QString &reason) {
        if (const auto info = c.runInfo())
            std::printf("%s: Ausgabe=%s Rate=%.0f Kanäle=%d Latenz=%.1f ms (%.0f Samples) Faktor=%.6f\n",
                        rebuilt ? qPrintable(QStringLiteral("Neu aufgebaut (%1)").arg(reason)) : "Läuft",
                        info->outputDeviceName.c_str(), info->sampleRate, info->channels,
                        c.latencySeconds() * 1000.0, std::round(c.latencySeconds() * info->sampleRate),
                        c.effectiveFactor());
        if (!server && c.statusServerEnabled()) {
            server = std::make_unique<StatusServer>(consent);
            statusLink = std::make_unique<StatusServerLink>(c, *server);
        }
    });
    QObject::connect(&c, &TonvelController::consentAsked, [](const QString &o) {
        std::printf("Anfrage von %s: zum Erlauben 'velmora-cli consent allow %s' ausführen.\n", qPrintable(o),
                    qPrintable(o));
    });
    // The session away or the chain bypassed: applications play unprocessed; the controller's
    // words follow the fixed start of the line.
    const auto unprocessed = [&] { std::printf("Unbearbeitet: %s\n", qPrintable(c.errorMessage())); };
    QObject::connect(&c, &TonvelController::chainStateChanged, [&] {
        if (c.chainState() == TonvelController::ChainState::waitingForServer)
            std::printf("PipeWire-Verbindung verloren: Velmora wartet, bis der Server wieder läuft.\n");
        if (c.chainState() == TonvelController::ChainState::waitingForSession)
            unprocessed();
    });
    QObject::connect(&c, &TonvelController::errorMessageChanged, [&] {
        if (c.errorMessage() == qtTrId("controller.error.bypassed"))
            unprocessed();
    });
    // Queued: the error text follows right after the switch went off.
    const auto stopped = [&](bool on) {
        // A device whose own tuning is "off" is no error: live waits for one that retunes.
        if (on || switchedOffByClient || (c.rememberPerDevice() && c.errorMessage().isEmpty()))
            return;
        std::fprintf(stderr, "velmora-cli live: %s\n", qPrintable(c.errorMessage()));
        const bool manager = platform->hasSessionManager(); // (-16) is EBUSY: another process runs
        if (!manager || c.errorMessage().contains(QStringLiteral("(-16:")))
            std::fprintf(
                stderr, "%s\n",
                qPrintable(qtTrId(manager ? "cli.live.hint.busy" : "cli.live.hint.noSessionManager")));
        QCoreApplication::exit(1);
    };
    QObject::connect(&c, &TonvelController::isEnabledChanged, &c, stopped, Qt::QueuedConnection);
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    if (terminal)
        QObject::connect(&c, &TonvelController::changed, [&] {
            const QString a4 = c.detectionIsConfident() ? QStringLiteral("%1 Hz").arg(c.detectedA4(), 0, 'f', 1)
                                                        : QStringLiteral("–");
            const EngineStats stats = engine->stats();
            std::printf("\r\033[K%s%s%s",
                        qPrintable(qtTrId("cli.live.status")
                                       .arg(c.outputDeviceName(), QString::number(c.sampleRate(), 'f', 0),
                                            QString::number(c.latencySeconds() * 1000.0, 'f', 1),
                                            QString::number(c.underruns()), a4)),
                        qPrintable(qtTrId("cli.live.status.callback")
                                       .arg(QString::number(stats.longestRenderSeconds * 1000.0, 'f', 2))),
                        stats.idle ? qPrintable(qtTrId("cli.live.status.idle")) : "");
            std::fflush(stdout);
        });
    QObject::connect(&exitSignals, &ExitSignals::received, [&] {
        c.shutdown();
        QCoreApplication::exit(0);
    });

    c.setEnabled(true);
    const int code = QCoreApplication::exec();
    if (code == 0)
        std::printf("%sBeendet.\n", terminal ? "\n" : "");
    return code;
}
