// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli live: a terminal client of the controller. The saved settings are the defaults; the
// options count for this run only. The end-to-end tests read the lines it prints.
#include "Commands.h"

#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWirePlatform.h"
#include "controller/ExitSignals.h"
#include "controller/TonvelController.h"
#include "i18n/Translations.h"
#include "render/RenderChain.h"
#include "status/StatusServer.h"

#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>
#include <cstdio>
#include <unistd.h>

// What is wrong with the options, or an empty text after applying them to `c` (if given).
static QString applyOptions(const QCommandLineParser &p, TonvelController *c)
{
    const auto has = [&](const char *name) { return p.isSet(QLatin1String(name)); };
    const QString preset = p.value(QStringLiteral("preset")), engine = p.value(QStringLiteral("engine"));
    const double a4 = p.value(QStringLiteral("a4")).toDouble();
    const RenderEngine *kind = renderEngineNamed(engine.toStdString());
    if (!p.positionalArguments().isEmpty() || (has("preset") && has("a4")))
        return QStringLiteral("unexpected arguments, or --preset and --a4 together");
    if (has("preset") && !TuningPreset::preset(preset))
        return QStringLiteral("unknown preset '%1' (see 'velmora-cli presets')").arg(preset);
    if (has("a4") && !TuningMath::freeA4Range.contains(a4)) // NaN fails too
        return QStringLiteral("--a4 needs a frequency between 400 and 470 Hz");
    if (has("engine") && !kind)
        return QStringLiteral("unknown engine '%1'").arg(engine);
    if (!c)
        return {};
    if (has("preset"))
        c->setMode(TonvelController::Mode::preset), c->setSelectedPresetID(preset);
    if (has("a4"))
        c->setMode(TonvelController::Mode::freeA4), c->setFreeA4(a4);
    if (kind)
        c->setEngine(TonvelController::engineOf(static_cast<EngineKind>(kind->slot))); // slot = raw value
    c->setAutomatic(c->automatic() || has("auto"));
    c->setStatusServerEnabled(c->statusServerEnabled() && !has("no-status-server"));
    return {};
}

int cli::runLive(const QStringList &args)
{
    QCommandLineParser p;
    for (const auto &o : {std::array{"preset", "A tuning preset (see 'velmora-cli presets').", "ID"},
                          std::array{"a4", "Free reference A4 between 400 and 470 Hz.", "HZ"},
                          std::array{"engine", "lowLatency, balanced or highQuality.", "KIND"},
                          std::array{"auto", "Detect the music's A4 and correct it towards 440 Hz.", ""},
                          std::array{"no-status-server", "Do not serve the status on 127.0.0.1:47432.", ""}})
        p.addOption({QString::fromLatin1(o[0]), QString::fromUtf8(o[1]), QString::fromLatin1(o[2])});
    p.addHelpOption();
    const bool parsed = p.parse(QStringList(QStringLiteral("live")) + args);
    if (const QString wrong = parsed ? applyOptions(p, nullptr) : p.errorText(); !wrong.isEmpty())
        return std::fprintf(stderr, "velmora-cli live: %s\n", qPrintable(wrong)), 2;
    if (p.isSet(QStringLiteral("help")))
        return std::printf("%s", qPrintable(p.helpText())), 0;

    std::setvbuf(stdout, nullptr, _IOLBF, 0); // whole lines reach a log file at once
    Translations::install(QStringLiteral("de"));
    std::shared_ptr<PipeWirePlatform> platform;
    try {
        platform = PipeWirePlatform::connect();
    } catch (const AudioError &e) {
        return std::fprintf(stderr, "velmora-cli live: %s\n%s\n", e.what(),
                            qPrintable(qtTrId("live.hint.noServer"))),
               1;
    }
    // A build whose TapEngine does not speak RetuneEngine cannot run live.
    const std::shared_ptr<RetuneEngine> engine = [](auto e) -> std::shared_ptr<RetuneEngine> {
        if constexpr (std::is_convertible_v<decltype(e), std::shared_ptr<RetuneEngine>>)
            return e;
        return nullptr;
    }(TapEngine::create(platform));
    ExitSignals exitSignals;
    if (!engine || !exitSignals.isValid())
        return std::fprintf(stderr, "velmora-cli live: Audioschicht oder Signale nicht verfügbar\n"), 1;
    if (const int n = TapEngine::removeOrphanedAggregateDevices(*platform); n > 0)
        std::printf("Velmora: %d verwaiste Aggregate-Devices entfernt.\n", n);
    auto consent = std::make_shared<OriginConsent>(OriginConsent::defaultStorePath());
    std::unique_ptr<StatusServer> server; // outlives the controller, which serves through it
    TonvelController c({engine, consent, {}, {}, {}, {}, true, false});
    applyOptions(p, &c);

    QObject::connect(&c, &TonvelController::chainStarted, [&](bool rebuilt, const QString &reason) {
        if (const auto info = c.runInfo())
            std::printf("%s: Ausgabe=%s Rate=%.0f Kanäle=%d Latenz=%.1f ms (%.0f Samples) Faktor=%.6f\n",
                        rebuilt ? qPrintable(QStringLiteral("Neu aufgebaut (%1)").arg(reason)) : "Läuft",
                        info->outputDeviceName.c_str(), info->sampleRate, info->channels,
                        c.latencySeconds() * 1000.0, std::round(c.latencySeconds() * info->sampleRate),
                        c.effectiveFactor());
        if (!server && c.statusServerEnabled())
            c.attachStatusServer((server = std::make_unique<StatusServer>(consent)).get());
    });
    QObject::connect(&c, &TonvelController::consentAsked, [](const QString &o) {
        std::printf("Anfrage von %s: zum Erlauben 'velmora-cli consent allow %s' ausführen.\n", qPrintable(o),
                    qPrintable(o));
    });
    // Queued: the error text follows right after the switch went off.
    const auto stopped = [&](bool on) {
        if (on)
            return;
        std::fprintf(stderr, "velmora-cli live: %s\n", qPrintable(c.errorMessage()));
        const bool manager = platform->hasSessionManager(); // (-16) is EBUSY: another process runs
        if (!manager || c.errorMessage().endsWith(QStringLiteral("(-16)")))
            std::fprintf(stderr, "%s\n",
                         qPrintable(qtTrId(manager ? "live.hint.busy" : "live.hint.noSessionManager")));
        QCoreApplication::exit(1);
    };
    QObject::connect(&c, &TonvelController::isEnabledChanged, &c, stopped, Qt::QueuedConnection);
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    if (terminal)
        QObject::connect(&c, &TonvelController::changed, [&] {
            const QString a4 = c.detectionIsConfident()
                                   ? QStringLiteral("%1 Hz").arg(c.detectedA4(), 0, 'f', 1)
                                   : QStringLiteral("–");
            std::printf(
                "\r\033[KAusgabe: %s | %.0f Hz | Latenz %.1f ms | Unterläufe %llu | erkanntes A4 %s%s",
                qPrintable(c.outputDeviceName()), c.sampleRate(), c.latencySeconds() * 1000.0,
                static_cast<unsigned long long>(c.underruns()), qPrintable(a4),
                engine->stats().idle ? " | Pause (nichts spielt)" : "");
            std::fflush(stdout);
        });
    QObject::connect(&exitSignals, &ExitSignals::received, [&] {
        c.shutdown();
        platform->releaseParked();
        QCoreApplication::exit(0);
    });

    c.setEnabled(true);
    const int code = QCoreApplication::exec();
    if (code == 0)
        std::printf("%sBeendet.\n", terminal ? "\n" : "");
    return code;
}
