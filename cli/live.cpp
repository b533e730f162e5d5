// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli live: retunes everything the computer plays until Ctrl-C or SIGTERM, without a
// panel. Runs the retuning engine on PipeWire through its verbs only, the analysis worker and
// (unless turned off) the status service with the same consent store as the panel. Also drives
// the end-to-end tests, so the few lines it prints off a terminal are stable: "Läuft: ...",
// "Neu aufgebaut (...): ...", "PipeWire-Verbindung verloren ...", "Beendet.".
#include "Commands.h"

#include "analysis/TuningAnalysisWorker.h"
#include "audio/AudioError.h"
#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"
#include "identity/AppIdentity.h"
#include "status/StatusServer.h"

#include <TonvelCore/AutoTuningTracker.h>
#include <TonvelCore/OriginConsent.h>
#include <TonvelCore/StatusPayload.h>
#include <TonvelCore/TuningMath.h>
#include <TonvelCore/TuningPreset.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kRestartDebounceMs = 400;
constexpr int kStallPolls = 3;

int g_signalPipe[2] = {-1, -1};

void onSignal(int sig)
{
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

bool installSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        if (::sigaction(sig, &sa, nullptr) != 0)
            return false;
    return true;
}

void printUsage(FILE *out)
{
    std::fprintf(
        out,
        "Usage: velmora-cli live [--preset ID | --a4 HZ] [--engine lowLatency|balanced|highQuality]\n"
        "                        [--auto] [--no-status-server]\n\n"
        "Retunes everything this computer plays (PipeWire) until Ctrl-C or SIGTERM.\n"
        "  --preset ID          a tuning preset (see 'velmora-cli presets'); default 432\n"
        "  --a4 HZ              free reference A4 between 400 and 470 Hz\n"
        "  --engine KIND        lowLatency (default), balanced or highQuality\n"
        "  --auto               detect the music's A4 and correct it towards standard pitch\n"
        "  --no-status-server   do not serve the status on 127.0.0.1:%u\n",
        unsigned(StatusServer::defaultPort));
}

struct Options {
    std::optional<TuningPreset> preset;
    std::optional<double> a4;
    EngineKind engine = EngineKind::lowLatency;
    bool autoCorrect = false;
    bool statusServer = true;
};

// 0 ok, 2 usage error (message printed), 1 help printed.
int parse(const QStringList &args, Options &o)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](QString &out) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "velmora-cli live: %s needs a value\n", qPrintable(a));
                return false;
            }
            out = args[++i];
            return true;
        };
        QString v;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            printUsage(stdout);
            return 1;
        } else if (a == QLatin1String("--preset")) {
            if (!value(v))
                return 2;
            o.preset = TuningPreset::preset(v);
            if (!o.preset) {
                std::fprintf(stderr, "velmora-cli live: unknown preset '%s' (see 'velmora-cli presets')\n",
                             qPrintable(v));
                return 2;
            }
        } else if (a == QLatin1String("--a4")) {
            if (!value(v))
                return 2;
            bool ok = false;
            const double hz = v.toDouble(&ok);
            if (!ok || !std::isfinite(hz) || !TuningMath::freeA4Range.contains(hz)) {
                std::fprintf(stderr, "velmora-cli live: --a4 needs a frequency between %.0f and %.0f Hz\n",
                             TuningMath::freeA4Range.lowerBound, TuningMath::freeA4Range.upperBound);
                return 2;
            }
            o.a4 = hz;
        } else if (a == QLatin1String("--engine")) {
            if (!value(v))
                return 2;
            const EngineSpec *engine = EngineTable::named(v.toStdString());
            if (!engine) {
                std::fprintf(stderr, "velmora-cli live: unknown engine '%s'\n", qPrintable(v));
                return 2;
            }
            o.engine = engine->kind;
        } else if (a == QLatin1String("--auto")) {
            o.autoCorrect = true;
        } else if (a == QLatin1String("--no-status-server")) {
            o.statusServer = false;
        } else {
            std::fprintf(stderr, "velmora-cli live: unknown option '%s'\n\n", qPrintable(a));
            printUsage(stderr);
            return 2;
        }
    }
    if (o.preset && o.a4) {
        std::fprintf(stderr, "velmora-cli live: --preset and --a4 exclude each other\n");
        return 2;
    }
    if (!o.preset && !o.a4)
        o.preset = TuningPreset::preset(QStringLiteral("432"));
    return 0;
}

// The running program: engine, worker, status, supervision. Lives on the main thread.
class LiveSession {
public:
    LiveSession(const Options &o, std::shared_ptr<PipeWireServer> server)
        : options_(o), audio_(std::move(server)), terminal_(::isatty(STDOUT_FILENO) == 1)
    {
        staticFactor_ = options_.a4 ? TuningMath::factor(*options_.a4) : options_.preset->factor();
        engine_ = TapEngine::create(audio_);
    }

    // Starts the engine; the outcome arrives as an event (onRunning / onFailed).
    void start()
    {
        if (const int cleared = engine_->clearStaleRouting(); cleared > 0)
            std::printf("Velmora: %d verwaiste Umleitungen entfernt.\n", cleared);
        RetuneEngine::Events events;
        events.running = [this](const RunInfo &) { onRunning(); };
        events.failed = [this](const AudioError &e) { onFailed(e); };
        events.rebuildNeeded = [this](const std::string &reason) {
            requestRestart(QString::fromStdString(reason));
        };
        events.serverConnection = [this](bool connected) { onConnection(connected); };
        engine_->setEvents(std::move(events), [](std::function<void()> task) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
        });
        debounce_.setSingleShot(true);
        QObject::connect(&debounce_, &QTimer::timeout, [this] { engine_->rebuild(); });
        poll_.setInterval(1000);
        QObject::connect(&poll_, &QTimer::timeout, [this] { pollOnce(); });
        engine_->start(currentFactor(), options_.engine);
    }

    // Final stop for exit: applications return to their device at once.
    void shutdown()
    {
        poll_.stop();
        debounce_.stop();
        worker_.stop();
        engine_->stop();
        if (server_)
            server_->stop();
    }

private:
    double currentFactor() const
    {
        return options_.autoCorrect ? tracker_.factor(staticFactor_) : staticFactor_;
    }

    void onRunning()
    {
        if (!started_) {
            started_ = true;
            printRunning("Läuft");
            if (options_.statusServer)
                startStatusServer();
            poll_.start();
        } else {
            printRunning(QStringLiteral("Neu aufgebaut (%1)").arg(pendingReason_).toUtf8().constData());
        }
        startWorker();
        lastFrames_ = 0;
        stalledPolls_ = 0;
    }

    void onFailed(const AudioError &e)
    {
        worker_.stop();
        if (!started_) {
            std::fprintf(stderr, "velmora-cli live: %s\n", e.errorDescription().c_str());
            if (!audio_->hasSessionManager())
                std::fprintf(
                    stderr,
                    "Hinweis: Es läuft kein Sitzungsmanager (WirePlumber). Ohne ihn gibt es kein "
                    "Standard-Ausgabegerät und keine Verbindungen; bitte die PipeWire-Sitzung prüfen.\n");
            else if (e.status() == -EBUSY)
                std::fprintf(stderr, "Hinweis: Velmora läuft bereits in einem anderen Prozess.\n");
            QCoreApplication::exit(1);
            return;
        }
        std::fprintf(stderr, "velmora-cli live: %s (neuer Versuch in 2 s)\n", e.errorDescription().c_str());
        std::fflush(stderr);
        QTimer::singleShot(2000, [this] { engine_->start(currentFactor(), options_.engine); });
    }

    void onConnection(bool connected)
    {
        if (connected) {
            pendingReason_ = QStringLiteral("PipeWire wieder erreichbar");
            return; // the engine rebuilds by itself; "Neu aufgebaut" follows
        }
        worker_.stop();
        std::printf("PipeWire-Verbindung verloren: Velmora wartet, bis der Server wieder läuft.\n");
        std::fflush(stdout);
        if (server_)
            server_->update(payload());
    }

    void startStatusServer()
    {
        consent_ = std::make_shared<OriginConsent>(OriginConsent::defaultStorePath());
        server_ = std::make_unique<StatusServer>(consent_);
        server_->setOnConsentNeeded([](const QString &origin) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [origin] {
                    std::printf("Anfrage von %s: zum Erlauben 'velmora-cli consent allow %s' ausführen.\n",
                                qPrintable(origin), qPrintable(origin));
                    std::fflush(stdout);
                },
                Qt::QueuedConnection);
        });
        server_->update(payload());
        server_->start();
        // `velmora-cli consent allow ORIGIN` answers from another process: take its decisions
        // over when the file changes. This process never writes the file.
        const QString path = OriginConsent::defaultStorePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        consentWatcher_.addPath(QFileInfo(path).absolutePath());
        if (QFile::exists(path))
            consentWatcher_.addPath(path);
        auto reload = [this, path] {
            if (QFile::exists(path) && !consentWatcher_.files().contains(path))
                consentWatcher_.addPath(path);
            consent_->reload();
        };
        QObject::connect(&consentWatcher_, &QFileSystemWatcher::directoryChanged, reload);
        QObject::connect(&consentWatcher_, &QFileSystemWatcher::fileChanged, reload);
    }

    void startWorker()
    {
        const auto info = engine_->runInfo();
        if (!info)
            return;
        worker_.setOnEstimate([this](const TuningAnalyzer::Estimate &estimate, double elapsed) {
            estimate_ = estimate;
            if (!options_.autoCorrect)
                return;
            tracker_.update(estimate, elapsed);
            engine_->setFactor(currentFactor());
        });
        worker_.start(engine_, info->sampleRate);
    }

    void requestRestart(const QString &reason)
    {
        pendingReason_ = reason;
        debounce_.start(kRestartDebounceMs);
    }

    void printRunning(const char *what)
    {
        const auto info = engine_->runInfo();
        if (!info)
            return;
        const double latency = info->latencySeconds(options_.engine);
        std::printf("%s: Ausgabe=%s Rate=%.0f Kanäle=%d Latenz=%.1f ms (%.0f Samples) Faktor=%.6f\n", what,
                    info->outputDeviceName.c_str(), info->sampleRate, info->channels, latency * 1000.0,
                    std::round(latency * info->sampleRate), currentFactor());
        std::fflush(stdout);
    }

    StatusPayload payload() const
    {
        const bool active = engine_->isRunning() && engine_->stats().health != ChainHealth::serverLost;
        std::optional<double> source, confidence;
        if (active) {
            const TuningAnalyzer::Estimate e = estimate_.value_or(TuningAnalyzer::Estimate::assumedStandard);
            source = e.a4Hz;
            confidence = e.confidence;
        }
        const double target = options_.a4 ? *options_.a4 : TuningMath::standardA4 * staticFactor_;
        return StatusPayload(QString::fromLatin1(AppIdentity::version), active, target, source, confidence,
                             EngineKinds::method(options_.engine),
                             options_.preset ? std::optional<QString>(options_.preset->id()) : std::nullopt,
                             options_.preset ? options_.preset->targetHz() : std::nullopt);
    }

    void pollOnce()
    {
        if (server_)
            server_->update(payload());
        if (!engine_->isRunning())
            return;
        // Supervision: frames must advance unless the chain is paused because nothing plays;
        // a failed stream needs a new chain; a lost server comes back by itself.
        const EngineStats stats = engine_->stats();
        if (stats.health == ChainHealth::failed) {
            requestRestart(QStringLiteral("Kette gestört"));
        } else if (stats.health == ChainHealth::healthy && stats.frames == lastFrames_ && !stats.idle) {
            if (++stalledPolls_ >= kStallPolls) {
                stalledPolls_ = 0;
                requestRestart(QStringLiteral("Audio stand still"));
            }
        } else {
            stalledPolls_ = 0;
        }
        lastFrames_ = stats.frames;
        if (!terminal_)
            return;
        const auto info = engine_->runInfo();
        const double latency = info ? info->latencySeconds(options_.engine) : 0.0;
        const QString detected = estimate_ && estimate_->isConfident()
                                     ? QStringLiteral("%1 Hz").arg(estimate_->a4Hz, 0, 'f', 1)
                                     : QStringLiteral("–");
        std::printf("\r\033[KAusgabe: %s | %.0f Hz | Latenz %.1f ms | Unterläufe %llu | erkanntes A4 %s%s",
                    info ? info->outputDeviceName.c_str() : "–", info ? info->sampleRate : 0.0,
                    latency * 1000.0, static_cast<unsigned long long>(stats.underruns), qPrintable(detected),
                    stats.idle ? " | Pause (nichts spielt)" : "");
        std::fflush(stdout);
    }

    Options options_;
    std::shared_ptr<PipeWireServer> audio_;
    std::shared_ptr<TapEngine> engine_;
    TuningAnalysisWorker worker_;
    AutoTuningTracker tracker_;
    std::optional<TuningAnalyzer::Estimate> estimate_;
    std::shared_ptr<OriginConsent> consent_;
    std::unique_ptr<StatusServer> server_;
    QFileSystemWatcher consentWatcher_;
    QTimer debounce_;
    QTimer poll_;
    QString pendingReason_;
    double staticFactor_ = 1.0;
    std::uint64_t lastFrames_ = 0;
    int stalledPolls_ = 0;
    bool started_ = false;
    bool terminal_ = false;
};

} // namespace

int cli::runLive(const QStringList &args)
{
    Options options;
    if (const int r = parse(args, options); r != 0)
        return r == 1 ? 0 : 2;
    if (!installSignalHandlers()) {
        std::fprintf(stderr, "velmora-cli live: Signale lassen sich nicht abfangen\n");
        return 1;
    }

    std::shared_ptr<PipeWireServer> audio;
    try {
        audio = PipeWireServer::connect();
    } catch (const AudioError &e) {
        std::fprintf(stderr, "velmora-cli live: %s\n", e.errorDescription().c_str());
        std::fprintf(stderr, "Hinweis: Es läuft kein erreichbarer PipeWire-Server in dieser Sitzung "
                             "(XDG_RUNTIME_DIR prüfen).\n");
        return 1;
    }

    int exitCode = 0;
    {
        LiveSession session(options, audio);
        QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            char c = 0;
            [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &c, 1);
            notifier.setEnabled(false);
            session.shutdown();
            QCoreApplication::exit(0);
        });
        session.start();
        exitCode = QCoreApplication::exec();
        session.shutdown();
        if (exitCode == 0) {
            if (::isatty(STDOUT_FILENO) == 1)
                std::printf("\n");
            std::printf("Beendet.\n");
        }
    }
    audio.reset();
    return exitCode;
}
