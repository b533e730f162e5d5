// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy report of velmora-cli detect on the evaluation set (make-eval-set.sh): runs the
// program over every clip with both methods, prints each clip's error and, per method, the
// median and 95th percentile of the absolute error, the mean signed error over the tuned clips
// and how many untuned clips were reported confident; then the speed of the whole-file method
// (files analysed one at a time, decoding included, per second of audio).
// Exit status 1 when the whole-file method does worse than the live one (a larger median or
// 95th percentile, or more untuned clips reported confident), 77 when there is no set.
//   detect_eval_report VELMORA_CLI SET_DIR
#include "TonvelCore/FileTuningEstimator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace {

struct Clip {
    QString file;
    std::optional<double> truth; // cents from A4 = 440 Hz; none: untuned
    QString source;              // soundfont or synthesis
};

struct Figures {
    double median = 0, p95 = 0, meanSigned = 0;
    int untunedConfident = 0, tunedConfident = 0;
};

// Linear interpolation between order statistics.
double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double x = p * double(v.size() - 1);
    const std::size_t i = std::size_t(x);
    return i + 1 < v.size() ? v[i] + (x - double(i)) * (v[i + 1] - v[i]) : v.back();
}

std::optional<QJsonArray> detect(const QString &cli, const QString &dir, const std::vector<Clip> &clips,
                                 const QStringList &options, double *seconds)
{
    QStringList args{QStringLiteral("detect"), QStringLiteral("--json")};
    args += options;
    for (const Clip &c : clips)
        args += dir + u'/' + c.file;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    p.start(cli, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "detect_eval_report: velmora-cli %s failed\n", qPrintable(options.join(u' ')));
        return std::nullopt;
    }
    if (seconds)
        *seconds = double(timer.nsecsElapsed()) * 1e-9;
    const QJsonArray results = QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    // One result per clip, in the order given (files are analysed in parallel).
    if (results.size() != qsizetype(clips.size()))
        return std::nullopt;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        if (!results[qsizetype(i)].toObject()[QStringLiteral("file")].toString().endsWith(u'/'
                                                                                          + clips[i].file))
            return std::nullopt;
    }
    return results;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: detect_eval_report VELMORA_CLI SET_DIR\n");
        return 2;
    }
    const QString cli = QString::fromLocal8Bit(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    QFile truthFile(dir + QStringLiteral("/truth.csv"));
    if (!truthFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "detect_eval_report: no evaluation set in %s (make-eval-set.sh)\n",
                     qPrintable(dir));
        return 77;
    }
    std::vector<Clip> clips;
    truthFile.readLine(); // header
    while (!truthFile.atEnd()) {
        const QStringList f = QString::fromUtf8(truthFile.readLine()).trimmed().split(u',');
        if (f.size() < 2)
            continue;
        clips.push_back(
            {f[0], f[1].isEmpty() ? std::nullopt : std::optional<double>(f[1].toDouble()), f.value(2)});
    }

    double seconds = 0.0;
    const auto whole = detect(cli, dir, clips, {QStringLiteral("--jobs"), QStringLiteral("1")}, &seconds);
    const auto live = detect(cli, dir, clips, {QStringLiteral("--method"), QStringLiteral("live")}, nullptr);
    if (!whole || !live)
        return 1;

    std::printf("%-28s %8s | %8s %6s | %8s %6s\n", "clip", "truth", "file", "conf", "live", "conf");
    Figures figures[2];
    std::vector<double> absolute[2];
    std::map<QString, std::vector<double>> bySource[2];
    double audioSeconds = 0.0;
    for (std::size_t i = 0; i < clips.size(); ++i) {
        const QJsonObject r[2] = {(*whole)[qsizetype(i)].toObject(), (*live)[qsizetype(i)].toObject()};
        audioSeconds += r[0][QStringLiteral("seconds")].toDouble();
        double error[2];
        for (int m = 0; m < 2; ++m) {
            const bool confident = r[m][QStringLiteral("confident")].toBool();
            if (!clips[i].truth) {
                figures[m].untunedConfident += confident;
                continue;
            }
            figures[m].tunedConfident += confident;
            error[m] = FileTuningEstimator::wrapDeviation(r[m][QStringLiteral("centsOffset")].toDouble()
                                                          - *clips[i].truth);
            absolute[m].push_back(std::abs(error[m]));
            bySource[m][clips[i].source].push_back(std::abs(error[m]));
            figures[m].meanSigned += error[m];
        }
        if (clips[i].truth)
            std::printf("%-28s %8.2f | %+8.2f %6.2f | %+8.2f %6.2f\n", qPrintable(clips[i].file),
                        *clips[i].truth, error[0], r[0][QStringLiteral("confidence")].toDouble(), error[1],
                        r[1][QStringLiteral("confidence")].toDouble());
        else
            std::printf("%-28s %8s | %8s %6.2f | %8s %6.2f\n", qPrintable(clips[i].file), "untuned", "",
                        r[0][QStringLiteral("confidence")].toDouble(), "",
                        r[1][QStringLiteral("confidence")].toDouble());
    }
    const int tuned = int(absolute[0].size());
    const int untuned = int(clips.size()) - tuned;
    if (tuned == 0)
        return 77;
    const char *names[2] = {"file (new)", "live"};
    std::printf("\n%-12s %10s %10s %12s %18s %16s\n", "method", "median ct", "p95 ct", "mean signed",
                "untuned confident", "tuned confident");
    for (int m = 0; m < 2; ++m) {
        figures[m].median = percentile(absolute[m], 0.5);
        figures[m].p95 = percentile(absolute[m], 0.95);
        figures[m].meanSigned /= tuned;
        std::printf("%-12s %10.2f %10.2f %+12.2f %12d of %-3d %10d of %d\n", names[m], figures[m].median,
                    figures[m].p95, figures[m].meanSigned, figures[m].untunedConfident, untuned,
                    figures[m].tunedConfident, tuned);
    }
    std::printf("\n%-12s %5s %22s %22s\n", "source", "clips", "file median / p95", "live median / p95");
    for (const auto &[source, errors] : bySource[0])
        std::printf("%-12s %5zu %13.2f / %6.2f %13.2f / %6.2f\n", qPrintable(source), errors.size(),
                    percentile(errors, 0.5), percentile(errors, 0.95), percentile(bySource[1][source], 0.5),
                    percentile(bySource[1][source], 0.95));
    std::printf("\nspeed of the file method: %.0f s of audio in %.2f s on one core, %.0fx real time "
                "(decoding and process start included)\n",
                audioSeconds, seconds, audioSeconds / seconds);

    const bool worse = figures[0].median > figures[1].median || figures[0].p95 > figures[1].p95
                       || figures[0].untunedConfident > figures[1].untunedConfident;
    if (worse)
        std::printf("FAIL: the whole-file method is worse than the live analyzer on this set\n");
    return worse ? 1 : 0;
}
