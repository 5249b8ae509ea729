#pragma once
// The daemon's switches: one service per channel of the port, each with a
// scheme of its own. Requests go to the channel they name (switch 1 when
// they name none); `status --all` gathers every channel.

#include <memory>
#include <vector>

#include "app/service/core.h"

class TSwitchboard {
public:
    explicit TSwitchboard(std::vector<std::unique_ptr<TSwitchService>> services) : services_(std::move(services)) {}

    int Channels() const { return static_cast<int>(services_.size()); }
    TSwitchService& Channel(int channel) { return *services_.at(static_cast<std::size_t>(channel - 1)); }
    const TSwitchService& Channel(int channel) const { return *services_.at(static_cast<std::size_t>(channel - 1)); }

    void Submit(const TRequest& request, TSwitchService::TDone done);
    // Switch 1's status, as a refusal shows it.
    TStatus Status() const { return Channel(1).Status(); }

private:
    std::vector<std::unique_ptr<TSwitchService>> services_;
};
