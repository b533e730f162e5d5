// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli retune against real files.
#include "../../TonvelStretch/tests/SignalMeasures.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <random>
#include <vector>

namespace {

using namespace signalmeasures;

struct Audio {
    int rate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples; // interleaved
    sf_count_t frames() const { return channels ? static_cast<sf_count_t>(samples.size()) / channels : 0; }
};

bool writeAudio(const QString &path, const Audio &a)
{
    SF_INFO info{0, a.rate, a.channels, a.format, 0, 0}; // frames, rate, channels, format, sections, seekable
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const bool ok = sf_writef_float(f, a.samples.data(), a.frames()) == a.frames();
    return sf_close(f) == 0 && ok;
}

Audio readAudio(const QString &path)
{
    Audio a;
    SF_INFO info = {};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return a;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.format = info.format;
    a.samples.resize(static_cast<size_t>(info.frames) * info.channels);
    a.samples.resize(static_cast<size_t>(sf_readf_float(f, a.samples.data(), info.frames)) * info.channels);
    sf_close(f);
    return a;
}

Audio sine(double hz, double seconds, int channels, int rate, int format)
{
    Audio a{rate, channels, format, {}};
    const auto frames = static_cast<size_t>(seconds * rate);
    a.samples.resize(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            a.samples[i * channels + c] = static_cast<float>(0.4 * std::sin(2 * M_PI * hz * i / rate + c));
    return a;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

CliResult cli(const QStringList &args, const QString &workDir, const char *command = "retune")
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(QStringLiteral(VELMORA_CLI), QStringList{QString::fromLatin1(command)} + args);
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

class Retune : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }
    QTemporaryDir dir;
};

TEST_F(Retune, sine_440_flac16_stereo_to_432_keeps_format_length_and_pitch)
{
    ASSERT_TRUE(writeAudio(path("song.flac"), sine(440, 3.0, 2, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16)));
    const CliResult r = cli({"song.flac"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
    EXPECT_EQ(files(), (QStringList{"song.432Hz.flac", "song.flac"}));
    const Audio out = readAudio(path("song.432Hz.flac"));
    EXPECT_EQ(out.rate, 48000);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    EXPECT_EQ(out.frames(), 3 * 48000);
    EXPECT_NEAR(cents(measuredHz(out.samples, 24000, 120000, out.rate, 2) / 432.0), 0.0, 1.0);
}

// With the delay line at factor 1 the chain is a pure delay; once that is removed the file
// must come out bit for bit: proof that latency removal and tail flush are exact.
TEST_F(Retune, off_preset_low_latency_float_wav_is_identical_to_input)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> noise(-0.5f, 0.5f);
    Audio in{44100, 3, SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::vector<float>(3 * 44100 + 3 * 777)};
    for (float &s : in.samples)
        s = noise(rng);
    ASSERT_TRUE(writeAudio(path("noise.wav"), in));
    const CliResult r =
        cli({"noise.wav", "--preset", "off", "--engine", "lowLatency", "-o", "same.wav"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
    const Audio out = readAudio(path("same.wav"));
    EXPECT_EQ(out.format, in.format);
    EXPECT_EQ(out.samples, in.samples);
}

// The stretch engines line up with the input too (within a few frames of the library).
TEST_F(Retune, balanced_output_lines_up_with_input)
{
    std::mt19937 rng(9);
    std::normal_distribution<float> noise(0.0f, 0.2f);
    Audio in{48000, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, std::vector<float>(2 * 48000, 0.0f)};
    for (size_t i = 0; i < in.samples.size(); ++i)
        if ((i / 4800) % 3 == 1)
            in.samples[i] = noise(rng);
    ASSERT_TRUE(writeAudio(path("bursts.wav"), in));
    const CliResult r = cli({"bursts.wav", "--preset", "off", "--engine", "balanced"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.err);
    const Audio out = readAudio(path("bursts.440Hz.wav"));
    ASSERT_EQ(out.samples.size(), in.samples.size());
    EXPECT_LE(std::abs(crossCorrelationLag(in.samples, out.samples, 200, -200)), 16);
}

// An existing output is kept without --force and replaced with it (here in another container
// and sample format); an input is never overwritten, not even by another input's output.
TEST_F(Retune, force_replaces_an_existing_output_but_never_an_input)
{
    ASSERT_TRUE(writeAudio(path("a.flac"), sine(440, 0.5, 1, 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16)));
    writeBytes(path("a.A4-435Hz.wav"), "keep me");
    CliResult r = cli({"a.flac", "--a4", "435", "--format", "wav:float"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("--force")) << qPrintable(r.err);
    QFile existing(path("a.A4-435Hz.wav"));
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("keep me"));

    r = cli({"a.flac", "--a4", "435", "--format", "wav:float", "--engine", "highQuality", "--force"},
            dir.path());
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.err);
    const Audio out = readAudio(path("a.A4-435Hz.wav"));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(out.frames(), 24000);

    ASSERT_TRUE(writeAudio(path("a.432Hz.flac"), readAudio(path("a.flac"))));
    EXPECT_EQ(cli({"a.flac", "-o", "./a.flac", "--force"}, dir.path()).exitCode, 1);
    EXPECT_EQ(cli({"a.flac", "a.432Hz.flac", "--force"}, dir.path()).exitCode, 1);
    EXPECT_EQ(readAudio(path("a.flac")).samples, readAudio(path("a.432Hz.flac")).samples);
}

TEST_F(Retune, batch_goes_on_past_bad_files_and_fails_at_the_end)
{
    ASSERT_TRUE(writeAudio(path("one.wav"), sine(440, 0.5, 2, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_24)));
    ASSERT_TRUE(writeAudio(path("two.aiff"), sine(440, 0.5, 1, 22050, SF_FORMAT_AIFF | SF_FORMAT_PCM_16)));
    writeBytes(path("notes.txt"), "not audio at all");
    ASSERT_TRUE(writeAudio(path("nine.wav"), sine(440, 0.2, 9, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16)));

    const CliResult r = cli(
        {"one.wav", "notes.txt", "missing.flac", "nine.wav", "two.aiff", "--output-dir", "out"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("notes.txt")) << qPrintable(r.err);
    // Files run in parallel, yet everything is reported in the order given (and so at all).
    EXPECT_LT(r.err.indexOf("notes.txt"), r.err.indexOf("missing.flac"));
    EXPECT_LT(r.err.indexOf("missing.flac"), r.err.indexOf("9 channels"));
    EXPECT_LT(r.out.indexOf("one.wav"), r.out.indexOf("two.aiff")) << qPrintable(r.out);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{"one.432Hz.wav", "two.432Hz.aiff"}));
    EXPECT_EQ(readAudio(path("out/two.432Hz.aiff")).frames(), 11025); // complete beside the other file
}

// Usage mistakes exit 2 and write nothing; every subcommand parses options alike, in the same
// words for the same mistakes.
TEST_F(Retune, usage_errors_exit_2_and_read_alike_in_every_subcommand)
{
    ASSERT_TRUE(writeAudio(path("a.wav"), sine(440, 0.1, 1, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16)));
    const struct {
        const char *command;
        QStringList args;
        const char *message = nullptr;
    } cases[] = {
        {"retune", {}}, {"retune", {"a.wav", "--a4", "500"}}, {"retune", {"a.wav", "--preset", "nope"}},
        {"retune", {"a.wav", "--engine", "fast"}}, {"retune", {"a.wav", "--format", "xyz"}},
        {"retune", {"a.wav", "--jobs", "0"}}, {"retune", {"a.wav", "a.wav", "-o", "b.wav"}},
        {"retune", {"a.wav", "--preset", "432", "--a4", "432"}},
        {"retune", {"--bogus", "a.wav"}, "unknown option '--bogus'"},
        {"detect", {"-z", "a.wav"}, "unknown option '-z'"},
        {"live", {"--bogus"}, "unknown option '--bogus'"},
        {"retune", {"a.wav", "--engine"}, "--engine needs a value"},
        {"detect", {"a.wav", "--method"}, "--method needs a value"},
        {"live", {"--preset"}, "--preset needs a value"},
        {"live", {"--auto=yes"}, "--auto takes no value"},
    };
    for (const auto &c : cases) {
        const CliResult r = cli(c.args, dir.path(), c.command);
        EXPECT_EQ(r.exitCode, 2) << c.command << ' ' << qPrintable(c.args.join(' '));
        const QString said = QStringLiteral("velmora-cli %1: %2\n").arg(QLatin1String(c.command), QLatin1String(c.message));
        EXPECT_TRUE(!c.message || r.err.startsWith(said)) << qPrintable(r.err);
    }
    EXPECT_EQ(files(), QStringList{"a.wav"});
}

// Ctrl-C while a long file is being written: nothing half-written stays behind.
TEST_F(Retune, interrupt_leaves_no_partial_file)
{
    ASSERT_TRUE(writeAudio(path("long.wav"), sine(440, 120.0, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_PCM_16)));
    ASSERT_TRUE(QFile::copy(path("long.wav"), path("long2.wav")));
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(VELMORA_CLI),
            {"retune", "long.wav", "long2.wav", "--jobs", "2", "--engine", "highQuality"});
    ASSERT_TRUE(p.waitForStarted());
    // Wait until the temporary output exists and has data in it.
    bool writing = false;
    for (int i = 0; i < 600 && !writing; ++i) {
        for (const QString &f : files())
            writing |= f.startsWith(".long.432Hz.wav.part-") && QFileInfo(path(f)).size() > 100000;
        if (!writing)
            p.waitForFinished(50);
    }
    ASSERT_TRUE(writing) << qPrintable(files().join(' '));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_EQ(files(), (QStringList{"long.wav", "long2.wav"}));
}

} // namespace
