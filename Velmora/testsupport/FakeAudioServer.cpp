// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport/FakeAudioServer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>
#include <vector>

class FakeAudioServer::Open final : public AudioChain {
public:
    explicit Open(FakeAudioServer &server) : server_(server) {}
    ~Open() override
    {
        std::lock_guard lock(server_.mutex_);
        if (server_.owner_ == this) {
            server_.owner_ = nullptr;
            server_.chain_ = Chain{};
            server_.render_ = nullptr;
        }
    }
    OutputDevice device() const override { return server_.chain().device; }
    double rate() const override { return device().rate; }
    void retarget(const OutputDevice &device) override
    {
        server_.changeChain([&](Chain &c) { c.device = device; });
    }
    void setRender(RenderCallback render) override
    {
        std::lock_guard lock(server_.mutex_); // waits for a running callback, as on a server
        server_.render_ = std::move(render);
    }
    void setProcessingLatency(std::uint32_t frames) override
    {
        server_.changeChain([&](Chain &c) { c.latency = frames; });
    }
    bool isIdle() const override { return server_.chain().idle; }
    ChainHealth health() const override
    {
        return server_.isConnected() ? server_.chain().health : ChainHealth::serverLost;
    }

private:
    FakeAudioServer &server_;
};

std::uint32_t FakeAudioServer::addDevice(const std::string &name, const std::string &description, double rate,
                                         int channels, std::uint32_t maxBlockFrames)
{
    std::lock_guard lock(mutex_);
    const auto id = std::uint32_t(devices_.size() + 30);
    devices_[id] = OutputDevice{id, name, description, rate, channels, maxBlockFrames};
    return id;
}

void FakeAudioServer::fire(std::function<void(const Events &)> call)
{
    std::lock_guard lock(mutex_);
    if (executor_)
        executor_([events = events_, call = std::move(call)] { call(events); });
}

void FakeAudioServer::setDefault(std::uint32_t id)
{
    std::unique_lock lock(mutex_);
    default_ = id;
    lock.unlock();
    fire([](const Events &e) { e.defaultOutputChanged ? e.defaultOutputChanged() : void(); });
}

void FakeAudioServer::setRate(double rate)
{
    std::unique_lock lock(mutex_);
    for (auto &[id, d] : devices_)
        d.rate = rate;
    chain_.device.rate = rate;
    lock.unlock();
    fire([rate](const Events &e) { e.rateChanged ? e.rateChanged(rate) : void(); });
}

void FakeAudioServer::setConnected(bool connected)
{
    std::unique_lock lock(mutex_);
    connected_ = connected;
    lock.unlock();
    fire([connected](const Events &e) { e.connection ? e.connection(connected) : void(); });
}

void FakeAudioServer::setSessionManager(bool present)
{
    std::unique_lock lock(mutex_);
    manager_ = present;
    lock.unlock();
    fire([present](const Events &e) { e.sessionManager ? e.sessionManager(present) : void(); });
}

bool FakeAudioServer::hasSessionManager() const
{
    std::lock_guard lock(mutex_);
    return manager_;
}

void FakeAudioServer::failNextOpen(int status)
{
    std::lock_guard lock(mutex_);
    failOpen_ = status;
}

void FakeAudioServer::holdOpens(bool hold)
{
    std::unique_lock lock(mutex_);
    hold_ = hold;
    lock.unlock();
    released_.notify_all();
}

FakeAudioServer::Chain FakeAudioServer::chain() const
{
    std::lock_guard lock(mutex_);
    return chain_;
}

void FakeAudioServer::changeChain(const std::function<void(Chain &)> &change)
{
    std::lock_guard lock(mutex_);
    change(chain_);
}

int FakeAudioServer::opens() const
{
    std::lock_guard lock(mutex_);
    return opens_;
}

int FakeAudioServer::waitingOpens() const
{
    std::lock_guard lock(mutex_);
    return waiting_;
}

bool FakeAudioServer::render(ConstAudioBlock input, AudioBlock output)
{
    std::lock_guard lock(mutex_);
    if (!render_)
        return false;
    render_(input, output);
    return true;
}

float FakeAudioServer::renderSine(double hz, float amplitude, int blocks, std::uint32_t frames,
                                  std::uint64_t &phase)
{
    std::vector<float> in(frames), left(frames), right(frames);
    const float *inChannels[] = {in.data(), in.data()};
    float *outChannels[] = {left.data(), right.data()};
    const ConstAudioBlock input{inChannels, 2, frames};
    const AudioBlock output{outChannels, 2, frames};
    float peak = 0.0f;
    for (int b = 0; b < blocks; ++b) {
        for (std::uint32_t f = 0; f < frames; ++f, ++phase)
            in[f] = amplitude * float(std::sin(2.0 * M_PI * hz * double(phase) / 48000.0));
        if (!render(input, output))
            return -1.0f;
        for (float v : left)
            peak = std::max(peak, std::fabs(v));
    }
    return peak;
}

void FakeAudioServer::setEvents(Events events, Executor executor)
{
    std::lock_guard lock(mutex_);
    events_ = std::move(events);
    executor_ = std::move(executor);
}

bool FakeAudioServer::isConnected() const
{
    std::lock_guard lock(mutex_);
    return connected_;
}

OutputDevice FakeAudioServer::defaultOutput()
{
    std::lock_guard lock(mutex_);
    if (!connected_)
        throw AudioError(-EPIPE, "Standard-Ausgabegeraet lesen");
    const auto it = devices_.find(default_);
    if (it == devices_.end() || !manager_)
        throw AudioError(-ENODEV, "Kein Standard-Ausgabegeraet vorhanden");
    return it->second;
}

std::unique_ptr<AudioChain> FakeAudioServer::openChain(const OutputDevice &device, RenderCallback render)
{
    std::unique_lock lock(mutex_);
    ++waiting_;
    released_.wait(lock, [this] { return !hold_; });
    --waiting_;
    if (const int status = failOpen_ ? failOpen_ : !connected_ ? -EPIPE : owner_ ? -EBUSY : 0) {
        failOpen_ = 0;
        throw AudioError(status, "Aufnahme-Senke anlegen");
    }
    auto chain = std::make_unique<Open>(*this);
    owner_ = chain.get();
    chain_ = Chain{true, device};
    render_ = std::move(render);
    ++opens_;
    return chain;
}

int FakeAudioServer::clearStaleRouting()
{
    std::lock_guard lock(mutex_);
    return std::exchange(staleRoutes, 0);
}

void FakeAudioServer::setApplications(std::vector<AppEntry> apps)
{
    {
        std::lock_guard lock(mutex_);
        apps_ = std::move(apps);
    }
    fire([](const Events &e) { e.applicationsChanged ? e.applicationsChanged() : void(); });
}

std::vector<AppEntry> FakeAudioServer::applications() const
{
    std::lock_guard lock(mutex_);
    return apps_;
}

void FakeAudioServer::setScope(const ChainScope &scope)
{
    std::lock_guard lock(mutex_);
    scope_ = scope;
}

ChainScope FakeAudioServer::scope() const
{
    std::lock_guard lock(mutex_);
    return scope_;
}
