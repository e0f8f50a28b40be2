// The GigE Vision transport layer: finds the configured cameras and connects to them.
#pragma once

#include <pylon/transport/GigETransport.h>

namespace Pylon::Transport::GigE {

class GigETransportLayer final : public ITransportLayer {
public:
    explicit GigETransportLayer(GigEOptions options) : options_(std::move(options)) {}
    void EnumerateDevices(DeviceInfoList_t& list) override;
    bool Owns(const CDeviceInfo& info) const override;
    std::unique_ptr<IDeviceTransport> CreateTransport(const CDeviceInfo& info) override;

private:
    const GigEOptions options_; // fixed after construction
};

} // namespace Pylon::Transport::GigE
