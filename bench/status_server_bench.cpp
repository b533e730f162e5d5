// SPDX-License-Identifier: GPL-3.0-or-later
// The loopback status service under load, over real TCP: plain sequential requests, and a
// brisk client while thousands of connections that never send anything are held open. The
// share the client gets answered is reported as a counter, not asserted.
#include "status/StatusServer.h"

#include "../Velmora/tests/status_test_client.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <memory>
#include <thread>
#include <vector>

using namespace statustest;

namespace {

const QByteArray allowed = "http://bench.test:8080";

void ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "status_server_bench";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

struct Service {
    Service()
    {
        ensureCoreApplication();
        consent = std::make_shared<OriginConsent>(dir.filePath(QStringLiteral("c.json")));
        consent->resolve(QString::fromLatin1(allowed), OriginConsent::Decision::allowed);
        server = std::make_unique<StatusServer>(consent, 0);
        server->update(StatusPayload(QStringLiteral("0"), true, 432.0, 440.0, 0.873));
        server->start();
    }
    QTemporaryDir dir;
    std::shared_ptr<OriginConsent> consent;
    std::unique_ptr<StatusServer> server;
};

void BM_StatusRequest(benchmark::State &state)
{
    Service s;
    int failed = 0;
    for (auto _ : state)
        failed += exchange(s.server->port(), getStatus(allowed)).status != 200;
    state.SetItemsProcessed(state.iterations());
    state.counters["failed"] = failed;
}
BENCHMARK(BM_StatusRequest)->Unit(benchmark::kMicrosecond);

// The client polls every 5 ms while `range(0)` silent connections are opened beside it.
void BM_StatusRequestDuringFlood(benchmark::State &state)
{
    rlimit lim{};
    getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, 8192);
    setrlimit(RLIMIT_NOFILE, &lim);
    for (auto _ : state) {
        Service s;
        const quint16 port = s.server->port();
        std::vector<int> silent;
        std::atomic<bool> flooding{true};
        std::thread flood([&] {
            for (int i = 0; i < state.range(0); ++i) {
                if (const int fd = connectTo(port, 3000); fd >= 0)
                    silent.push_back(fd);
                if (i % 32 == 31)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            flooding = false;
        });
        int attempted = 0, answered = 0;
        while (flooding || attempted < 200) {
            ++attempted;
            answered += exchange(port, getStatus(allowed), 5000).status == 200;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        flood.join();
        state.counters["answered_percent"] = 100.0 * answered / attempted;
        state.counters["silent_opened"] = double(silent.size());
        state.counters["displaced"] = double(s.server->stats().displaced);
        state.counters["open_after"] = s.server->openConnections();
        for (int fd : silent)
            ::close(fd);
    }
}
BENCHMARK(BM_StatusRequestDuringFlood)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
