// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli detect: estimates the A4 each recording is tuned to and prints one line per file
// (or JSON), optionally a timeline CSV. By default with the whole-file estimator; --method live
// gives what the running program's analyzer would follow.
#include "Batch.h"
#include "CommandLine.h"
#include "Commands.h"
#include "TerminalProgress.h"

#include "TonvelCore/FileTuningEstimator.h"
#include "TonvelCore/TuningAnalyzer.h"
#include "TonvelCore/TuningMath.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QSaveFile>
#include <QDir>
#include <QStandardPaths>

#include <sndfile.h>
#include <tv_fft.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The analysis frame the running program uses.
constexpr std::int64_t analysisSize = 16384;

QString helpText()
{
    return qtTrId("cli.detect.usage")
        .arg(QString::number(TuningAnalyzer::confidenceThreshold, 'f', 2))
        .arg(cli::availableCores());
}

struct Options
{
    QStringList files;
    bool json = false;
    bool live = false;
    int jobs = cli::availableCores();
    QString timeline;
};

std::optional<Options> parse(const QStringList &args, int &exitCode)
{
    cli::CommandLine cl("detect", {{"json", {}}, {"timeline", {}, "FILE"}, {"method", {}, "METHOD"},
                                   {{"j", "jobs"}, {}, "N"}});
    if (const std::optional<int> exit = cl.parse(args, helpText)) {
        exitCode = *exit;
        return std::nullopt;
    }
    const auto usage = [&](const QString &message) {
        exitCode = cl.usageError(message);
        return std::nullopt;
    };
    Options o;
    o.json = cl.isSet("json");
    o.timeline = cl.value("timeline");
    if (cl.isSet("timeline") && o.timeline.isEmpty())
        return usage(qtTrId("cli.error.needsValue").arg(QStringLiteral("--timeline")));
    if (const QString v = cl.value("method"); cl.isSet("method")) {
        if (v != QLatin1String("file") && v != QLatin1String("live"))
            return usage(qtTrId("cli.detect.error.method"));
        o.live = v == QLatin1String("live");
    }
    if (cl.isSet("jobs")) {
        const std::optional<int> jobs = cli::parseJobs(cl.value("jobs"));
        if (!jobs)
            return usage(qtTrId("cli.error.jobs"));
        o.jobs = *jobs;
    }
    o.files = cl.positional();
    if (o.files.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(helpText()));
        exitCode = 2;
        return std::nullopt;
    }
    return o;
}

QByteArray csvField(const QString &text)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.contains(',') || utf8.contains('"') || utf8.contains('\n') || utf8.contains('\r'))
        return '"' + utf8.replace("\"", "\"\"") + '"';
    return utf8;
}

struct Result
{
    QString error;   // empty: analysed; in English, as --json reports it
    QString message; // the same for a person, in the user's language
    bool interrupted = false;
    TuningAnalyzer::Estimate estimate = TuningAnalyzer::Estimate::assumedStandard;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    bool heardNothing = false; // shorter than one analysis frame
    double frameSeconds = 0.0;
    QByteArray timeline; // this file's rows
};

struct SndFileCloser
{
    void operator()(SNDFILE *f) const { sf_close(f); }
};

// Reads the file once in blocks of the live analyzer's hop (so every block completes at most one
// of its frames and the timeline gets one row per published estimate). The whole-file estimator
// hears all channels mixed; the live analyzer the first channel, as the running program does.
Result analyseFile(const QString &path, const Options &o, TerminalProgress &bar, qsizetype index)
{
    Result r;
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (!file) {
        r.error = r.message = QString::fromLocal8Bit(sf_strerror(nullptr));
        return r;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        r.error = QStringLiteral("no audio channels or no sample rate");
        r.message = qtTrId("cli.detect.error.noAudio");
        return r;
    }
    const bool timeline = !o.timeline.isEmpty();
    std::unique_ptr<TuningAnalyzer> live;
    std::unique_ptr<FileTuningEstimator> whole;
    if (o.live || timeline)
        live = TuningAnalyzer::create(double(info.samplerate), analysisSize);
    if (!o.live)
        whole = FileTuningEstimator::create(double(info.samplerate));
    if ((o.live || timeline) != bool(live) || o.live == bool(whole)) {
        r.error = QStringLiteral("cannot set up the analysis");
        r.message = qtTrId("cli.detect.error.setup");
        return r;
    }

    FileProgress progress(bar, index, info.frames);
    r.sampleRate = info.samplerate;
    r.channels = info.channels;
    const std::int64_t hop = analysisSize / 2;
    const std::size_t channels = std::size_t(info.channels);
    std::vector<float> interleaved(std::size_t(hop) * channels);
    std::vector<float> mono(static_cast<std::size_t>(hop));
    std::vector<float> mix(whole ? std::size_t(hop) : 0);
    const QByteArray fileField = timeline ? csvField(path) : QByteArray();

    for (;;) {
        if (cli::interrupted) {
            r.interrupted = true;
            return r;
        }
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), hop);
        if (got <= 0)
            break;
        const std::size_t n = std::size_t(got);
        if (whole) {
            if (channels == 1) {
                whole->append(interleaved.data(), got);
            } else {
                const float scale = 1.0f / float(channels);
                for (std::size_t i = 0; i < n; ++i) {
                    float sum = 0.0f;
                    for (std::size_t c = 0; c < channels; ++c)
                        sum += interleaved[i * channels + c];
                    mix[i] = sum * scale;
                }
                whole->append(mix.data(), got);
            }
        }
        if (live) {
            for (std::size_t i = 0; i < n; ++i)
                mono[i] = interleaved[i * channels];
            const std::uint64_t before = live->analysedFrames();
            live->append(mono.data(), got);
            if (timeline && live->analysedFrames() != before) {
                const auto e = live->estimate();
                // A frame ends N samples after the start of the first and hop samples after the previous one.
                const double end = double(analysisSize + std::int64_t(live->analysedFrames() - 1) * hop);
                char row[128];
                const int len = std::snprintf(row, sizeof row, ",%.3f,%.4f,%.4f,%.4f\n",
                                              end / info.samplerate, e.a4Hz, e.centsOffset, e.confidence);
                r.timeline += fileField + QByteArray(row, len);
            }
        }
        r.frames += got;
        progress.update(r.frames);
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        const QString seconds = QString::number(double(r.frames) / info.samplerate, 'f', 1);
        const QString reason = QString::fromLocal8Bit(sf_strerror(file.get()));
        r.error = QStringLiteral("read error after %1 s: %2").arg(seconds, reason);
        r.message = qtTrId("cli.detect.error.read").arg(seconds, reason);
        return r;
    }
    if (o.live) {
        r.estimate = live->estimate();
        r.heardNothing = live->analysedFrames() == 0;
        r.frameSeconds = double(analysisSize) / info.samplerate;
    } else {
        r.estimate = whole->estimate();
        r.heardNothing = whole->analysedFrames() == 0;
        r.frameSeconds = double(whole->frameSize()) / info.samplerate;
    }
    return r;
}

// The analysis FFT's planning wisdom, kept between runs (a cache: losing it costs time only).
class FftWisdom {
public:
    FftWisdom()
    {
        QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (base.isEmpty())
            return;
        dir_ = base + QStringLiteral("/Velmora");
        tv_fft_load_wisdom(QFile::encodeName(dir_ + QStringLiteral("/fftw-wisdom")).constData());
    }
    ~FftWisdom()
    {
        if (!dir_.isEmpty() && QDir().mkpath(dir_))
            tv_fft_save_wisdom(QFile::encodeName(dir_ + QStringLiteral("/fftw-wisdom")).constData());
    }

private:
    QString dir_;
};

} // namespace

int cli::runDetect(const QStringList &args)
{
    int exitCode = 0;
    const std::optional<Options> options = parse(args, exitCode);
    if (!options)
        return exitCode;
    const FftWisdom wisdom;

    std::unique_ptr<QSaveFile> timeline;
    if (!options->timeline.isEmpty()) {
        timeline = std::make_unique<QSaveFile>(options->timeline);
        if (!timeline->open(QIODevice::WriteOnly)) {
            std::fprintf(
                stderr, "velmora-cli detect: %s\n",
                qPrintable(
                    qtTrId("cli.detect.error.timeline").arg(options->timeline, timeline->errorString())));
            return 1;
        }
        timeline->write("file,time,a4,cents,confidence\n");
    }

    QStringList names;
    for (const QString &path : options->files)
        names += QFileInfo(path).fileName();
    TerminalProgress progress(isatty(STDERR_FILENO) == 1, names);
    cli::SignalGuard signalGuard;

    QJsonArray json;
    bool failed = false;
    bool stopped = false;
    cli::runBatch<Result>(
        options->files.size(), options->jobs, progress,
        [&](qsizetype i) {
            Result r = analyseFile(options->files[i], *options, progress, i);
            progress.setDone(i, 1.0);
            return r;
        },
        [&](qsizetype i, Result r) {
            const QString &path = options->files[i];
            if (r.interrupted) {
                stopped = true;
                return false;
            }
            if (!r.error.isEmpty()) {
                failed = true;
                std::fprintf(stderr, "velmora-cli detect: %s\n",
                             qPrintable(qtTrId("cli.detect.error.cannotRead").arg(path, r.message)));
                if (options->json)
                    json.append(
                        QJsonObject{{QStringLiteral("file"), path}, {QStringLiteral("error"), r.error}});
                return true;
            }
            if (timeline)
                timeline->write(r.timeline);
            const auto &e = r.estimate;
            if (r.heardNothing)
                std::fprintf(stderr, "velmora-cli detect: %s\n",
                             qPrintable(qtTrId("cli.detect.warning.tooShort")
                                            .arg(path, QString::number(r.frameSeconds, 'f', 2))));
            if (options->json) {
                json.append(QJsonObject{
                    {QStringLiteral("file"), path},
                    {QStringLiteral("a4Hz"), e.a4Hz},
                    {QStringLiteral("centsOffset"), e.centsOffset},
                    {QStringLiteral("confidence"), e.confidence},
                    {QStringLiteral("confident"), e.isConfident()},
                    {QStringLiteral("sampleRate"), r.sampleRate},
                    {QStringLiteral("channels"), r.channels},
                    {QStringLiteral("seconds"), double(r.frames) / r.sampleRate},
                });
            } else {
                std::printf("%s\n", qPrintable(qtTrId("cli.detect.result")
                                                   .arg(path, QString::number(e.a4Hz, 'f', 1),
                                                        TuningMath::formatCents(e.centsOffset),
                                                        QString::number(e.confidence, 'f', 2))));
                std::fflush(stdout);
            }
            return true;
        });
    if (stopped || cli::interrupted) {
        // The timeline is dropped unwritten (QSaveFile removes its temporary file).
        if (timeline)
            timeline->cancelWriting();
        std::fprintf(stderr, "velmora-cli detect: %s\n", qPrintable(qtTrId("cli.detect.error.interrupted")));
        return 130;
    }
    if (options->json)
        std::fputs(QJsonDocument(json).toJson(QJsonDocument::Indented).constData(), stdout);

    if (timeline && !timeline->commit()) {
        std::fprintf(
            stderr, "velmora-cli detect: %s\n",
            qPrintable(qtTrId("cli.detect.error.timeline").arg(options->timeline, timeline->errorString())));
        failed = true;
    }
    return failed ? 1 : 0;
}
