// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// FakeAudioServer: an in-memory AudioServer for tests. Devices are records; an open chain runs
// its render callback only when a test calls render(); events fire when a test changes the
// default device, the rate or the connection. Opening can be made to fail, or to wait until
// the test releases it (to show that the caller is not the one waiting). Thread-safe.
//
#include "audio/AudioServer.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

class FakeAudioServer final : public AudioServer {
public:
    std::uint32_t addDevice(const std::string &name, const std::string &description, double rate,
                            int channels = 2, std::uint32_t maxBlockFrames = 1024);
    void setDefault(std::uint32_t id); // 0: none; fires defaultOutputChanged
    void setRate(double rate);         // every device and the open chain; fires rateChanged
    void setConnected(bool connected); // fires connection
    // Without a session manager there is no default output; fires sessionManager.
    void setSessionManager(bool present);
    void failNextOpen(int status);
    void holdOpens(bool hold); // openChain waits while held

    struct Chain { // what the open chain is and was told
        bool open = false;
        OutputDevice device;
        std::uint32_t latency = 0;
        bool idle = false;
        ChainHealth health = ChainHealth::healthy;
    };
    Chain chain() const;
    void changeChain(const std::function<void(Chain &)> &change);
    int opens() const;        // chains opened so far
    int waitingOpens() const; // openChain calls held right now
    // Runs the open chain's callback once; false when no chain is open.
    bool render(ConstAudioBlock input, AudioBlock output);
    // `blocks` blocks of `frames` frames of a sine on two channels through the open chain,
    // continuing at `phase`; the left output's peak, -1 when no chain is open.
    float renderSine(double hz, float amplitude, int blocks, std::uint32_t frames, std::uint64_t &phase);

    int staleRoutes = 0;
    void setApplications(std::vector<AppEntry> apps); // fires applicationsChanged
    ChainScope scope() const;

    void setScope(const ChainScope &scope) override;
    std::vector<AppEntry> applications() const override;

    void setEvents(Events events, Executor executor) override;
    bool isConnected() const override;
    bool hasSessionManager() const override;
    OutputDevice defaultOutput() override;
    std::unique_ptr<AudioChain> openChain(const OutputDevice &device, RenderCallback render) override;
    int clearStaleRouting() override;

private:
    class Open;
    void fire(std::function<void(const Events &)> call);

    mutable std::mutex mutex_;
    std::condition_variable released_;
    std::map<std::uint32_t, OutputDevice> devices_;
    std::uint32_t default_ = 0;
    bool connected_ = true;
    bool manager_ = true;
    int failOpen_ = 0;
    bool hold_ = false;
    int opens_ = 0;
    int waiting_ = 0;
    Chain chain_;
    RenderCallback render_;
    const void *owner_ = nullptr; // the open chain object
    Events events_;
    Executor executor_;
    ChainScope scope_;
    std::vector<AppEntry> apps_;
};
