// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli detect: estimates the A4 each recording is tuned to, with the analyzer the running
// program uses, and prints one line per file (or JSON), optionally a timeline CSV.
#include "Commands.h"
#include "TerminalProgress.h"

#include "TonvelCore/TuningAnalyzer.h"
#include "TonvelCore/TuningMath.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFileInfo>
#include <QSaveFile>

#include <sndfile.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace {

// The analysis frame the running program uses.
constexpr std::int64_t analysisSize = 16384;

void printHelp(FILE *out)
{
    std::fprintf(out,
                 "Usage: velmora-cli detect FILE... [--json] [--timeline FILE.csv]\n"
                 "\n"
                 "Estimates the reference pitch (A4) each recording is tuned to and how sure the\n"
                 "estimate is, with the same analysis the running program applies to what it hears:\n"
                 "the result is the estimate after listening to the whole file.\n"
                 "\n"
                 "Reads every format libsndfile can read (WAV, FLAC, OGG, and MP3 where supported).\n"
                 "Only the first channel is analysed, as the running program does; channels are not\n"
                 "mixed. The file's own sample rate is used; nothing is resampled.\n"
                 "\n"
                 "Output, one line per file:\n"
                 "  song.flac: A4 = 432.1 Hz (\u221231.4 ct), confidence 0.82\n"
                 "An estimate is trusted from confidence %.2f on; below that the program assumes 440 Hz.\n"
                 "\n"
                 "Options:\n"
                 "  --json               print a JSON array, one object per file, instead of lines\n"
                 "  --timeline FILE.csv  write file,time,a4,cents,confidence for every analysed frame\n"
                 "  -h, --help           show this help\n"
                 "\n"
                 "Exit status: 0 when every file was analysed, 1 when a file could not be read,\n"
                 "2 on a usage error.\n",
                 TuningAnalyzer::confidenceThreshold);
}

struct Options
{
    QStringList files;
    bool json = false;
    QString timeline;
};

std::optional<Options> parse(const QStringList &args, int &exitCode)
{
    Options o;
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (optionsEnded || !a.startsWith(u'-') || a == QLatin1String("-")) {
            o.files.append(a);
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            printHelp(stdout);
            exitCode = 0;
            return std::nullopt;
        } else if (a == QLatin1String("--json")) {
            o.json = true;
        } else if (a == QLatin1String("--timeline") || a.startsWith(QLatin1String("--timeline="))) {
            if (a.contains(u'=')) {
                o.timeline = a.section(u'=', 1);
            } else if (i + 1 < args.size()) {
                o.timeline = args[++i];
            }
            if (o.timeline.isEmpty()) {
                std::fprintf(stderr, "velmora-cli detect: --timeline needs a file name\n");
                exitCode = 2;
                return std::nullopt;
            }
        } else {
            std::fprintf(stderr, "velmora-cli detect: unknown option '%s'\n", qPrintable(a));
            std::fprintf(stderr, "Run 'velmora-cli detect --help' for the options.\n");
            exitCode = 2;
            return std::nullopt;
        }
    }
    if (o.files.isEmpty()) {
        printHelp(stderr);
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
    TuningAnalyzer::Estimate estimate = TuningAnalyzer::Estimate::assumedStandard;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    std::uint64_t analysedFrames = 0;
};

struct SndFileCloser
{
    void operator()(SNDFILE *f) const { sf_close(f); }
};

// Feeds the first channel through a fresh analyzer in hop-sized blocks, so that every block
// completes at most one frame and the timeline gets one row per published estimate.
std::optional<Result> analyseFile(const QString &path, QSaveFile *timeline, QString &error)
{
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (!file) {
        error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return std::nullopt;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error = QStringLiteral("no audio channels or no sample rate");
        return std::nullopt;
    }
    auto analyzer = TuningAnalyzer::create(double(info.samplerate), analysisSize);
    if (!analyzer) {
        error = QStringLiteral("cannot set up the analysis");
        return std::nullopt;
    }

    TerminalProgress progress(isatty(STDERR_FILENO) == 1, QFileInfo(path).fileName(), info.frames);
    Result r;
    r.sampleRate = info.samplerate;
    r.channels = info.channels;
    const std::int64_t hop = analyzer->hopSize();
    std::vector<float> interleaved(static_cast<std::size_t>(hop * info.channels));
    std::vector<float> mono(static_cast<std::size_t>(hop));
    const QByteArray fileField = timeline ? csvField(path) : QByteArray();

    for (;;) {
        const sf_count_t got = sf_readf_float(file.get(), interleaved.data(), hop);
        if (got <= 0)
            break;
        for (sf_count_t i = 0; i < got; ++i)
            mono[std::size_t(i)] = interleaved[std::size_t(i * info.channels)];
        const std::uint64_t before = analyzer->analysedFrames();
        analyzer->append(mono.data(), got);
        r.frames += got;
        if (timeline && analyzer->analysedFrames() != before) {
            const auto e = analyzer->estimate();
            // A frame ends N samples after the start of the first and hop samples after the previous one.
            const double end = double(analysisSize + std::int64_t(analyzer->analysedFrames() - 1) * hop);
            char row[128];
            const int len = std::snprintf(row, sizeof row, ",%.3f,%.4f,%.4f,%.4f\n", end / info.samplerate, e.a4Hz,
                                          e.centsOffset, e.confidence);
            timeline->write(fileField + QByteArray(row, len));
        }
        progress.update(r.frames);
    }
    progress.clear();
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = QStringLiteral("read error after %1 s: %2")
                    .arg(double(r.frames) / info.samplerate, 0, 'f', 1)
                    .arg(QString::fromLocal8Bit(sf_strerror(file.get())));
        return std::nullopt;
    }
    r.estimate = analyzer->estimate();
    r.analysedFrames = analyzer->analysedFrames();
    return r;
}

} // namespace

int cli::runDetect(const QStringList &args)
{
    int exitCode = 0;
    const std::optional<Options> options = parse(args, exitCode);
    if (!options)
        return exitCode;

    std::unique_ptr<QSaveFile> timeline;
    if (!options->timeline.isEmpty()) {
        timeline = std::make_unique<QSaveFile>(options->timeline);
        if (!timeline->open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "velmora-cli detect: cannot write the timeline '%s': %s\n",
                         qPrintable(options->timeline), qPrintable(timeline->errorString()));
            return 1;
        }
        timeline->write("file,time,a4,cents,confidence\n");
    }

    QJsonArray json;
    bool failed = false;
    for (const QString &path : options->files) {
        QString error;
        const std::optional<Result> r = analyseFile(path, timeline.get(), error);
        if (!r) {
            failed = true;
            std::fprintf(stderr, "velmora-cli detect: cannot read '%s': %s\n", qPrintable(path), qPrintable(error));
            if (options->json)
                json.append(QJsonObject{{QStringLiteral("file"), path}, {QStringLiteral("error"), error}});
            continue;
        }
        const auto &e = r->estimate;
        if (r->analysedFrames == 0)
            std::fprintf(stderr, "velmora-cli detect: '%s' is shorter than one analysis frame (%.2f s); nothing was heard\n",
                         qPrintable(path), double(analysisSize) / r->sampleRate);
        if (options->json) {
            json.append(QJsonObject{
                {QStringLiteral("file"), path},
                {QStringLiteral("a4Hz"), e.a4Hz},
                {QStringLiteral("centsOffset"), e.centsOffset},
                {QStringLiteral("confidence"), e.confidence},
                {QStringLiteral("confident"), e.isConfident()},
                {QStringLiteral("sampleRate"), r->sampleRate},
                {QStringLiteral("channels"), r->channels},
                {QStringLiteral("seconds"), double(r->frames) / r->sampleRate},
            });
        } else {
            std::printf("%s: A4 = %.1f Hz (%s), confidence %.2f\n", qPrintable(path), e.a4Hz,
                        qPrintable(TuningMath::formatCents(e.centsOffset)), e.confidence);
            std::fflush(stdout);
        }
    }
    if (options->json)
        std::fputs(QJsonDocument(json).toJson(QJsonDocument::Indented).constData(), stdout);

    if (timeline && !timeline->commit()) {
        std::fprintf(stderr, "velmora-cli detect: cannot write the timeline '%s': %s\n",
                     qPrintable(options->timeline), qPrintable(timeline->errorString()));
        failed = true;
    }
    return failed ? 1 : 0;
}
