// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport/FakeAudioServer.h"

#include <cerrno>

class FakeAudioServer::Chain final : public AudioChain {
    template <typename F> auto locked(F f) const
    {
        std::lock_guard lock(server_.mutex_);
        return f(const_cast<State &>(state_));
    }

public:
    Chain(FakeAudioServer &server, const OutputDevice &device, RenderCallback render) : server_(server)
    {
        state_.device = device;
        state_.render = std::move(render);
    }
    ~Chain() override
    {
        std::lock_guard lock(server_.mutex_);
        if (server_.open_ == &state_)
            server_.open_ = nullptr;
    }
    OutputDevice device() const override
    {
        return locked([](const State &s) { return s.device; });
    }
    double rate() const override { return device().rate; }
    void retarget(const OutputDevice &device) override
    {
        locked([&](State &s) { s.device = device; });
    }
    void setRender(RenderCallback render) override
    {
        locked([&](State &s) { s.render = std::move(render); });
    }
    void setProcessingLatency(std::uint32_t frames) override
    {
        locked([&](State &s) { s.latency = frames; });
    }
    bool isIdle() const override
    {
        return locked([](const State &s) { return s.idle; });
    }
    ChainHealth health() const override
    {
        std::lock_guard lock(server_.mutex_);
        return server_.connected_ ? state_.health : ChainHealth::serverLost;
    }

    State state_;

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
    {
        std::lock_guard lock(mutex_);
        default_ = id;
    }
    fire([](const Events &e) {
        if (e.defaultOutputChanged)
            e.defaultOutputChanged();
    });
}

void FakeAudioServer::setRate(double rate)
{
    {
        std::lock_guard lock(mutex_);
        for (auto &[id, d] : devices_)
            d.rate = rate;
        if (open_)
            open_->device.rate = rate;
    }
    fire([rate](const Events &e) {
        if (e.rateChanged)
            e.rateChanged(rate);
    });
}

void FakeAudioServer::setConnected(bool connected)
{
    {
        std::lock_guard lock(mutex_);
        connected_ = connected;
    }
    fire([connected](const Events &e) {
        if (e.connection)
            e.connection(connected);
    });
}

void FakeAudioServer::failNextOpen(int status)
{
    std::lock_guard lock(mutex_);
    failOpen_ = status;
}

void FakeAudioServer::holdOpens(bool hold)
{
    {
        std::lock_guard lock(mutex_);
        hold_ = hold;
    }
    released_.notify_all();
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

bool FakeAudioServer::chainOpen() const
{
    std::lock_guard lock(mutex_);
    return open_ != nullptr;
}

std::string FakeAudioServer::chainDevice() const
{
    std::lock_guard lock(mutex_);
    return open_ ? open_->device.nodeName : std::string();
}

std::uint32_t FakeAudioServer::latencyFrames() const
{
    std::lock_guard lock(mutex_);
    return open_ ? open_->latency : 0;
}

void FakeAudioServer::setChainIdle(bool idle)
{
    std::lock_guard lock(mutex_);
    if (open_)
        open_->idle = idle;
}

void FakeAudioServer::setChainHealth(ChainHealth health)
{
    std::lock_guard lock(mutex_);
    if (open_)
        open_->health = health;
}

bool FakeAudioServer::render(const AudioBufferList &input, AudioBufferList &output)
{
    std::lock_guard lock(mutex_); // setRender waits for a running callback, as on a server
    if (!open_ || !open_->render)
        return false;
    open_->render(input, output);
    return true;
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
    if (it == devices_.end())
        throw AudioError(-ENODEV, "Kein Standard-Ausgabegeraet vorhanden");
    return it->second;
}

std::unique_ptr<AudioChain> FakeAudioServer::openChain(const OutputDevice &device, RenderCallback render)
{
    std::unique_lock lock(mutex_);
    ++waiting_;
    released_.wait(lock, [this] { return !hold_; });
    --waiting_;
    if (const int status = failOpen_ ? failOpen_ : !connected_ ? -EPIPE : open_ ? -EBUSY : 0) {
        failOpen_ = 0;
        throw AudioError(status, "Aufnahme-Senke anlegen");
    }
    auto chain = std::make_unique<Chain>(*this, device, std::move(render));
    open_ = &chain->state_;
    ++opens_;
    return chain;
}

int FakeAudioServer::clearStaleRouting()
{
    std::lock_guard lock(mutex_);
    const int n = staleRoutes;
    staleRoutes = 0;
    return n;
}
