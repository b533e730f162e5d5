// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli retune: retunes audio files through the same render chain the tray program
// runs live, with the engine's latency removed so the result lines up with the original.
#include "Batch.h"
#include "CommandLine.h"
#include "Commands.h"
#include "TerminalProgress.h"

#include "TonvelCore/TuningMath.h"
#include "TonvelCore/TuningPreset.h"
#include "render/OfflineRender.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kBlockFrames = 4096; // long blocks: fewer library calls
constexpr int kMaxChannels = 8;
constexpr int kExitInterrupted = 130;

struct Container {
    const char *name;
    int major;
    const char *extension;
};
constexpr Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, "wav"},   {"flac", SF_FORMAT_FLAC, "flac"}, {"ogg", SF_FORMAT_OGG, "ogg"},
    {"opus", SF_FORMAT_OGG, "opus"}, {"mp3", SF_FORMAT_MPEG, "mp3"},   {"aiff", SF_FORMAT_AIFF, "aiff"},
    {"caf", SF_FORMAT_CAF, "caf"},   {"w64", SF_FORMAT_W64, "w64"},    {"rf64", SF_FORMAT_RF64, "rf64"},
    {"au", SF_FORMAT_AU, "au"},
};

struct SampleFormat {
    const char *name;
    int subtype;
};
constexpr SampleFormat kSampleFormats[] = {
    {"16", SF_FORMAT_PCM_16}, {"24", SF_FORMAT_PCM_24},    {"32", SF_FORMAT_PCM_32},
    {"float", SF_FORMAT_FLOAT}, {"double", SF_FORMAT_DOUBLE}, {"8", SF_FORMAT_PCM_S8},
};

struct Options {
    QStringList inputs;
    QString output;
    QString outputDir;
    double factor = 1.0;
    QString tag; // goes into default output names: "song.432Hz.flac"
    EngineKind engine = EngineKind::balanced;
    const char *engineName = "balanced";
    std::optional<Container> container;
    std::optional<int> subtype;
    bool force = false;
    bool quiet = false;
    int jobs = cli::availableCores();
};

QString helpText()
{
    return qtTrId("cli.retune.usage").arg(cli::availableCores());
}

// "432" -> "432Hz", 435.5 -> "A4-435.5Hz".
QString presetTag(const QString &id)
{
    if (id == QLatin1String("off"))
        return QStringLiteral("440Hz");
    bool numeric = false;
    id.toDouble(&numeric);
    return numeric ? id + QStringLiteral("Hz") : id;
}

std::optional<int> parseArgs(const QStringList &args, Options &o)
{
    cli::CommandLine cl("retune", {{{"o", "output"}, {}, "FILE"}, {"output-dir", {}, "DIR"}, {"preset", {}, "ID"},
                                   {"a4", {}, "HZ"}, {"engine", {}, "KIND"}, {"format", {}, "FORMAT"},
                                   {{"j", "jobs"}, {}, "N"}, {"force", {}}, {{"q", "quiet"}, {}}});
    if (const std::optional<int> exit = cl.parse(args, helpText))
        return exit;
    const auto usageError = [&](const QString &message) { return std::optional<int>(cl.usageError(message)); };
    std::optional<QString> presetId;
    std::optional<double> a4;
    o.output = cl.value("output");
    o.outputDir = cl.value("output-dir");
    if (cl.isSet("preset"))
        presetId = cl.value("preset");
    if (const QString v = cl.value("a4"); cl.isSet("a4")) {
        bool ok = false;
        const double hz = v.toDouble(&ok);
        if (!ok || !std::isfinite(hz) || !TuningMath::freeA4Range.contains(hz))
            return usageError(qtTrId("cli.retune.error.a4Range")
                                  .arg(TuningMath::freeA4Range.lowerBound)
                                  .arg(TuningMath::freeA4Range.upperBound)
                                  .arg(v));
        a4 = hz;
    }
    if (const QString v = cl.value("engine"); cl.isSet("engine")) {
        const EngineSpec *it = EngineTable::named(v.toStdString());
        if (!it)
            return usageError(qtTrId("cli.error.unknownEngine").arg(v));
        o.engine = it->kind;
        o.engineName = it->cliName;
    }
    if (const QString v = cl.value("format"); cl.isSet("format")) {
        const QString name = v.section(u':', 0, 0).toLower();
        const QString sample = v.section(u':', 1);
        const auto c = std::find_if(std::begin(kContainers), std::end(kContainers),
                                    [&](const Container &c) { return name == QLatin1String(c.name); });
        if (c == std::end(kContainers))
            return usageError(qtTrId("cli.retune.error.unknownFormat").arg(v));
        o.container = *c;
        if (!sample.isEmpty()) {
            const auto s = std::find_if(std::begin(kSampleFormats), std::end(kSampleFormats),
                                        [&](const SampleFormat &s) { return sample == QLatin1String(s.name); });
            if (s == std::end(kSampleFormats))
                return usageError(qtTrId("cli.retune.error.unknownSampleFormat").arg(sample));
            o.subtype = s->subtype;
        }
    }
    if (cl.isSet("jobs")) {
        const std::optional<int> jobs = cli::parseJobs(cl.value("jobs"));
        if (!jobs)
            return usageError(qtTrId("cli.error.jobs"));
        o.jobs = *jobs;
    }
    o.force = cl.isSet("force");
    o.quiet = cl.isSet("quiet");
    o.inputs = cl.positional();
    if (o.inputs.isEmpty())
        return usageError(qtTrId("cli.retune.error.noInput"));
    if (!o.output.isEmpty() && !o.outputDir.isEmpty())
        return usageError(qtTrId("cli.retune.error.outputAndDir"));
    if (!o.output.isEmpty() && QFileInfo(o.output).isDir()) {
        o.outputDir = o.output;
        o.output.clear();
    }
    if (!o.output.isEmpty() && o.inputs.size() > 1)
        return usageError(qtTrId("cli.retune.error.oneInput"));
    if (presetId && a4)
        return usageError(qtTrId("cli.retune.error.presetAndA4"));
    if (a4) {
        o.factor = TuningMath::factor(*a4);
        o.tag = QStringLiteral("A4-%1Hz").arg(QString::number(*a4, 'g', 6));
    } else {
        const QString id = presetId.value_or(QStringLiteral("432"));
        const std::optional<TuningPreset> preset = TuningPreset::preset(id);
        if (!preset) {
            QStringList ids;
            for (const TuningPreset &p : TuningPreset::all())
                ids += p.id();
            return usageError(
                qtTrId("cli.retune.error.unknownPreset").arg(id, ids.join(QStringLiteral(", "))));
        }
        o.factor = preset->factor();
        o.tag = presetTag(preset->id());
    }
    return std::nullopt;
}

// ---- files ---------------------------------------------------------------------------

struct SndFile {
    SNDFILE *file = nullptr;
    ~SndFile()
    {
        if (file)
            sf_close(file);
    }
    int close()
    {
        const int rc = file ? sf_close(file) : 0;
        file = nullptr;
        return rc;
    }
};

// Temporary output next to the target; removed unless committed.
struct TempFile {
    std::string path;
    int fd = -1;
    bool committed = false;
    ~TempFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.empty() && !committed)
            ::unlink(path.c_str());
    }
};

bool sameFile(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 || ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool isLossy(int format)
{
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_VORBIS || sub == SF_FORMAT_OPUS || sub == SF_FORMAT_MPEG_LAYER_I
        || sub == SF_FORMAT_MPEG_LAYER_II || sub == SF_FORMAT_MPEG_LAYER_III;
}

// Output format: the input's, or the requested container with the input's sample format
// where it fits, else a sensible one for that container.
std::optional<int> outputFormat(const SF_INFO &in, const Options &o)
{
    SF_INFO probe = in;
    if (!o.container) {
        probe.format = in.format;
        if (o.subtype)
            probe.format = (in.format & SF_FORMAT_TYPEMASK) | *o.subtype;
        if (sf_format_check(&probe))
            return probe.format;
        return std::nullopt;
    }
    const int major = o.container->major;
    std::vector<int> candidates;
    if (o.subtype)
        candidates.push_back(*o.subtype);
    if (major == SF_FORMAT_OGG)
        candidates.push_back(QLatin1String(o.container->name) == QLatin1String("opus") ? SF_FORMAT_OPUS : SF_FORMAT_VORBIS);
    if (major == SF_FORMAT_MPEG)
        candidates.push_back(SF_FORMAT_MPEG_LAYER_III);
    if (!o.subtype) {
        candidates.push_back(in.format & SF_FORMAT_SUBMASK);
        // Lossy or odd input into a lossless container: 24-bit keeps the detail.
        candidates.push_back(SF_FORMAT_PCM_24);
        candidates.push_back(SF_FORMAT_PCM_16);
        candidates.push_back(SF_FORMAT_FLOAT);
    }
    for (int sub : candidates) {
        probe.format = major | sub;
        if (sf_format_check(&probe))
            return probe.format;
    }
    return std::nullopt;
}

QString defaultOutputPath(const QString &input, const Options &o, const char *extension)
{
    const QFileInfo fi(input);
    const QString dir = o.outputDir.isEmpty() ? fi.path() : o.outputDir;
    QString name = fi.completeBaseName();
    if (name.isEmpty())
        name = fi.fileName();
    const QString ext = extension ? QString::fromLatin1(extension) : fi.suffix();
    const QString file = name + u'.' + o.tag + (ext.isEmpty() ? QString() : u'.' + ext);
    return dir == QLatin1String(".") ? file : QDir(dir).filePath(file);
}

enum class Outcome { done, failed, interrupted };

// What one file's work printed, held back until the files before it are listed.
struct FileResult {
    Outcome outcome = Outcome::failed;
    QByteArray out;
    QByteArray err;
};

// Engines are built one at a time: their FFT planning is not safe to run concurrently.
std::mutex engineCreation;

QString targetPath(const QString &input, const Options &o)
{
    return o.output.isEmpty() ? defaultOutputPath(input, o, o.container ? o.container->extension : nullptr)
                              : o.output;
}

// owners: for every output path of the batch, the first input that writes it. Two inputs with
// one output would otherwise race to replace each other's result.
Outcome retuneFile(const QString &input, const Options &o, const QSet<QString> &allInputs,
                   const QHash<QString, qsizetype> &owners, TerminalProgress &bar, qsizetype index,
                   FileResult &result)
{
    auto fail = [&](const QString &in, const QString &message) {
        result.err += QStringLiteral("velmora-cli retune: %1: %2\n").arg(in, message).toLocal8Bit();
    };
    SF_INFO inInfo = {};
    SndFile in;
    in.file = sf_open(QFile::encodeName(input).constData(), SFM_READ, &inInfo);
    if (!in.file) {
        fail(input, QString::fromLocal8Bit(sf_strerror(nullptr)));
        return Outcome::failed;
    }
    if (inInfo.channels < 1 || inInfo.channels > kMaxChannels) {
        fail(input, qtTrId("cli.retune.error.channels").arg(inInfo.channels).arg(kMaxChannels));
        return Outcome::failed;
    }
    if (inInfo.samplerate <= 0) {
        fail(input, qtTrId("cli.retune.error.sampleRate"));
        return Outcome::failed;
    }
    const std::optional<int> format = outputFormat(inInfo, o);
    if (!format) {
        fail(input, o.container || o.subtype ? qtTrId("cli.retune.error.formatCannotHold")
                                             : qtTrId("cli.retune.error.readOnlyFormat"));
        return Outcome::failed;
    }

    const QString target = targetPath(input, o);
    const QFileInfo targetInfo(target);
    if (const qsizetype owner = owners.value(targetInfo.absoluteFilePath(), index); owner != index) {
        fail(input, qtTrId("cli.retune.error.sharedOutput").arg(target, o.inputs[owner]));
        return Outcome::failed;
    }
    const QString targetCanonical = targetInfo.exists() ? targetInfo.canonicalFilePath() : QString();
    if (sameFile(input, target) || (!targetCanonical.isEmpty() && allInputs.contains(targetCanonical))) {
        fail(input, qtTrId("cli.retune.error.outputIsInput").arg(target));
        return Outcome::failed;
    }
    if (targetInfo.exists() && !o.force) {
        fail(input, qtTrId("cli.retune.error.exists").arg(target));
        return Outcome::failed;
    }
    if (targetInfo.isDir()) {
        fail(input, qtTrId("cli.retune.error.isDirectory").arg(target));
        return Outcome::failed;
    }
    const QString dir = targetInfo.absolutePath();
    if (!QDir().mkpath(dir)) {
        fail(input, qtTrId("cli.retune.error.makeDirectory").arg(dir));
        return Outcome::failed;
    }

    TempFile temp;
    {
        std::string pattern = QFile::encodeName(QDir(dir).filePath(u'.' + targetInfo.fileName())).toStdString() + ".part-XXXXXX";
        temp.fd = ::mkstemp(pattern.data());
        if (temp.fd < 0) {
            fail(input,
                 qtTrId("cli.retune.error.writeIn").arg(dir, QString::fromLocal8Bit(std::strerror(errno))));
            return Outcome::failed;
        }
        temp.path = pattern;
        // Same permissions as any new file the user creates.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(temp.fd, 0666 & ~mask);
    }

    SF_INFO outInfo = {};
    outInfo.samplerate = inInfo.samplerate;
    outInfo.channels = inInfo.channels;
    outInfo.format = *format;
    SndFile out;
    out.file = sf_open_fd(temp.fd, SFM_WRITE, &outInfo, SF_FALSE);
    if (!out.file) {
        fail(input,
             qtTrId("cli.retune.error.open").arg(target, QString::fromLocal8Bit(sf_strerror(nullptr))));
        return Outcome::failed;
    }
    // Integer outputs clip instead of wrapping around on the rare over.
    sf_command(out.file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (isLossy(*format)) {
        double level = 0.0; // best quality: re-encoding loses enough already
        sf_command(out.file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s) {
        if (const char *text = sf_get_string(in.file, s))
            sf_set_string(out.file, s, text);
    }

    const auto channels = static_cast<uint32_t>(inInfo.channels);
    std::unique_ptr<OfflineRender> render;
    {
        std::lock_guard guard(engineCreation);
        render = OfflineRender::create(channels, inInfo.samplerate, o.factor, o.engine, kBlockFrames, false,
                                       ChainDsp::Use::files);
    }
    if (!render) {
        fail(input, qtTrId("cli.retune.error.engine").arg(QLatin1String(o.engineName)));
        return Outcome::failed;
    }

    std::vector<float> inBlock(static_cast<size_t>(kBlockFrames) * channels);
    std::vector<float> outBlock(inBlock.size());
    const bool integerOutput = (*format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT
        && (*format & SF_FORMAT_SUBMASK) != SF_FORMAT_DOUBLE;
    uint64_t clipped = 0;
    auto write = [&](uint32_t frames) -> bool {
        if (frames == 0)
            return true;
        if (integerOutput) {
            for (size_t k = 0; k < static_cast<size_t>(frames) * channels; ++k)
                clipped += std::fabs(outBlock[k]) > 1.0f;
        }
        return sf_writef_float(out.file, outBlock.data(), frames) == frames;
    };

    FileProgress progress(bar, index, inInfo.frames);
    sf_count_t done = 0;
    for (;;) {
        if (cli::interrupted) {
            progress.clear();
            return Outcome::interrupted;
        }
        const sf_count_t got = sf_readf_float(in.file, inBlock.data(), kBlockFrames);
        if (got <= 0) {
            if (sf_error(in.file) != SF_ERR_NO_ERROR) {
                progress.clear();
                fail(input,
                     qtTrId("cli.retune.error.read").arg(QString::fromLocal8Bit(sf_strerror(in.file))));
                return Outcome::failed;
            }
            break;
        }
        if (!write(render->process(inBlock.data(), static_cast<uint32_t>(got), outBlock.data()))) {
            progress.clear();
            fail(input, qtTrId("cli.retune.error.write").arg(QString::fromLocal8Bit(sf_strerror(out.file))));
            return Outcome::failed;
        }
        done += got;
        progress.update(done);
    }
    while (const uint32_t n = render->flush(outBlock.data(), kBlockFrames)) {
        if (!write(n)) {
            progress.clear();
            fail(input, qtTrId("cli.retune.error.write").arg(QString::fromLocal8Bit(sf_strerror(out.file))));
            return Outcome::failed;
        }
    }
    progress.update(inInfo.frames > 0 ? inInfo.frames : done);
    if (out.close() != 0 || ::fsync(temp.fd) != 0 || ::close(temp.fd) != 0) {
        temp.fd = -1;
        progress.clear();
        fail(input,
             qtTrId("cli.retune.error.finish").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
        return Outcome::failed;
    }
    temp.fd = -1;
    if (cli::interrupted) {
        progress.clear();
        return Outcome::interrupted;
    }
    if (::rename(temp.path.c_str(), QFile::encodeName(target).constData()) != 0) {
        progress.clear();
        fail(input,
             qtTrId("cli.retune.error.rename").arg(target, QString::fromLocal8Bit(std::strerror(errno))));
        return Outcome::failed;
    }
    temp.committed = true;
    progress.clear();
    if (!o.quiet)
        result.out += QStringLiteral("%1 -> %2\n").arg(input, target).toLocal8Bit();
    if (clipped > 0)
        result.err += QStringLiteral("velmora-cli retune: %1\n")
                          .arg(qtTrId("cli.retune.warning.clipped").arg(target, QString::number(clipped)))
                          .toLocal8Bit();
    return Outcome::done;
}

} // namespace

int cli::runRetune(const QStringList &args)
{
    Options o;
    if (const std::optional<int> exit = parseArgs(args, o))
        return *exit;
    if (!o.outputDir.isEmpty() && !QDir().mkpath(o.outputDir)) {
        std::fprintf(stderr, "velmora-cli retune: %s\n",
                     qPrintable(qtTrId("cli.retune.error.makeDirectory").arg(o.outputDir)));
        return 1;
    }
    QSet<QString> allInputs;
    for (const QString &in : o.inputs) {
        const QString c = QFileInfo(in).canonicalFilePath();
        if (!c.isEmpty())
            allInputs.insert(c);
    }

    QStringList names;
    QHash<QString, qsizetype> owners;
    for (qsizetype i = 0; i < o.inputs.size(); ++i) {
        names += QFileInfo(o.inputs[i]).fileName();
        const QString target = QFileInfo(targetPath(o.inputs[i], o)).absoluteFilePath();
        if (!owners.contains(target))
            owners.insert(target, i);
    }
    TerminalProgress progress(::isatty(STDERR_FILENO) == 1 && !o.quiet, names);
    cli::SignalGuard signalGuard;
    int failures = 0;
    bool wasInterrupted = false;
    cli::runBatch<FileResult>(
        o.inputs.size(), o.jobs, progress,
        [&](qsizetype i) {
            FileResult r;
            r.outcome = retuneFile(o.inputs[i], o, allInputs, owners, progress, i, r);
            progress.setDone(i, 1.0);
            return r;
        },
        [&](qsizetype i, FileResult r) {
            std::fputs(r.out.constData(), stdout);
            std::fflush(stdout);
            std::fputs(r.err.constData(), stderr);
            if (r.outcome == Outcome::interrupted) {
                std::fprintf(stderr, "velmora-cli retune: %s\n",
                             qPrintable(qtTrId("cli.retune.error.interrupted").arg(o.inputs[i])));
                wasInterrupted = true;
                return true;   // files that another job finished meanwhile are still listed
            }
            failures += r.outcome == Outcome::failed;
            return true;
        });
    if (wasInterrupted || cli::interrupted)
        return kExitInterrupted;
    if (failures > 0 && o.inputs.size() > 1)
        std::fprintf(stderr, "velmora-cli retune: %s\n",
                     qPrintable(qtTrId("cli.retune.error.failedCount").arg(failures).arg(o.inputs.size())));
    return failures > 0 ? 1 : 0;
}
