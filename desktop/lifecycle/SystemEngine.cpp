// SPDX-License-Identifier: GPL-3.0-or-later
#include "lifecycle/SystemEngine.h"

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcUi)

// The PipeWire engine speaks RetuneEngine from the audio layer's PipeWireServer on; a tree
// without it still builds a program that runs and says why it cannot retune.
#if __has_include("audio/pipewire/PipeWireServer.h")
#include "audio/TapEngine.h"
#include "audio/pipewire/PipeWireServer.h"

std::shared_ptr<RetuneEngine> makeSystemEngine()
{
    return TapEngine::create(PipeWireServer::connect());
}

#else
#include <cerrno>

namespace {

// Every start fails with a clear message instead of pretending to retune.
class UnavailableEngine final : public RetuneEngine {
public:
    void setEvents(Events events, Executor executor) override
    {
        events_ = std::move(events);
        executor_ = std::move(executor);
    }
    void start(double, EngineKind) override
    {
        if (executor_ && events_.failed)
            executor_([failed = events_.failed] { failed(AudioError(-ENOSYS, "Audiokette starten")); });
    }
    void rebuild() override {}
    void stop() override {}
    bool isRunning() const override { return false; }
    std::optional<RunInfo> runInfo() const override { return std::nullopt; }
    void setFactor(double) override {}
    void selectEngine(EngineKind) override {}
    EngineStats stats() const override { return {}; }
    std::optional<std::string> defaultOutputName() const override { return std::nullopt; }
    double defaultOutputRate() const override { return 0.0; }
    std::optional<std::uint32_t> readAnalysisSamples(float *, std::uint32_t) override { return std::nullopt; }

private:
    Events events_;
    Executor executor_;
};

} // namespace

std::shared_ptr<RetuneEngine> makeSystemEngine()
{
    qCWarning(lcUi, "Audio-Schicht fehlt in diesem Build: Umstimmen ist nicht moeglich.");
    return std::make_shared<UnavailableEngine>();
}
#endif
