// The GigE Vision transport layer: real cameras on a camera network, reached over the
// control protocol (register access, heartbeat) and the stream protocol.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <pylon/transport/DeviceTransport.h>

namespace Pylon::Transport {

struct GigEOptions {
    // Cameras asked by their IP address (dotted quad), one unicast packet each: no broadcast.
    std::vector<std::string> addresses;
    // Broadcast discovery, sent only from the addresses of the named host interfaces.
    bool discovery = false;
    std::vector<std::string> interfaces;
    // How long an enumeration waits for the cameras' answers.
    std::chrono::milliseconds answerTimeout{1000};
    // Where problems of the enumeration go (once each), e.g. an unknown interface name.
    std::function<void(const std::string&)> report;
};

// Device information of these cameras carries this device factory name.
inline constexpr const char* GigEDeviceFactory = "GigE/Vision";

std::shared_ptr<ITransportLayer> CreateGigETransportLayer(GigEOptions options);

} // namespace Pylon::Transport
