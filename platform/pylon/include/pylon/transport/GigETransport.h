// The GigE Vision transport layer: real cameras on a camera network, reached over the
// control protocol (register access, heartbeat) and the stream protocol.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <pylon/transport/DeviceTransport.h>

namespace Pylon::Transport {

struct GigEOptions {
    // Cameras opened by their IP address (dotted quad); no broadcast is sent for them.
    std::vector<std::string> addresses;
};

// Device information of these cameras carries this device factory name.
inline constexpr const char* GigEDeviceFactory = "GigE/Vision";

std::shared_ptr<ITransportLayer> CreateGigETransportLayer(GigEOptions options);

} // namespace Pylon::Transport
