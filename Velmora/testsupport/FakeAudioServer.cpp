// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport/FakeAudioServer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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

void FakeAudioServer::setRate(double rate)
{
    locked([&] {
        for (auto &[id, d] : devices_)
            d.rate = rate;
    });
    change(chain_.device.rate, rate, &Events::rateChanged, rate);
}

float FakeAudioServer::renderSine(double hz, float amplitude, int blocks, std::uint32_t frames,
                                  std::uint64_t &phase)
{
    std::vector<float> in(frames), left(frames), right(frames);
    const float *inChannels[] = {in.data(), in.data()};
    float *outChannels[] = {left.data(), right.data()};
    float peak = 0.0f;
    for (int b = 0; b < blocks; ++b) {
        for (std::uint32_t f = 0; f < frames; ++f, ++phase)
            in[f] = amplitude * float(std::sin(2.0 * M_PI * hz * double(phase) / 48000.0));
        std::lock_guard lock(mutex_);
        if (!render_)
            return -1.0f;
        render_(ConstAudioBlock{inChannels, 2, frames}, AudioBlock{outChannels, 2, frames});
        for (float v : left)
            peak = std::max(peak, std::fabs(v));
    }
    return peak;
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
