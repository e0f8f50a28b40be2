// The GigE Vision transport layer: finds the configured cameras and connects to them.
#pragma once

#include <mutex>
#include <set>
#include <string>

#include <pylon/transport/GigETransport.h>

namespace Pylon::Transport::GigE {

class GigETransportLayer final : public ITransportLayer {
public:
    explicit GigETransportLayer(GigEOptions options) : options_(std::move(options)) {}
    void EnumerateDevices(DeviceInfoList_t& list) override;
    bool Owns(const CDeviceInfo& info) const override;
    std::unique_ptr<IDeviceTransport> CreateTransport(const CDeviceInfo& info) override;

private:
    void Report(const std::string& problem);

    const GigEOptions options_; // fixed after construction
    std::mutex mutex_;          // guards reported_; enumerating threads
    std::set<std::string> reported_;
};

} // namespace Pylon::Transport::GigE
