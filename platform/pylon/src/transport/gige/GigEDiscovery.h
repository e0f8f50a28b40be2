// Finding GigE Vision cameras: one discovery command, sent either to each configured
// camera address (unicast, no broadcast) or as a broadcast from each address of the
// named host interfaces only; the answers carry the cameras' device information.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <pylon/DeviceInfo.h>

namespace Pylon::Transport::GigE {

struct DiscoveredCamera {
    CDeviceInfo info;           // serial number, model, vendor, version, user name, IP, MAC, names
    std::string localAddress;   // the host address the answer came to (dotted quad)
};

// Asks each address (dotted quad) once and waits up to `timeout` for all of them.
// Addresses that do not answer are left out; a malformed address raises
// InvalidArgumentException naming it.
std::vector<DiscoveredCamera> DiscoverAt(const std::vector<std::string>& addresses, std::chrono::milliseconds timeout);

// Broadcasts from every IPv4 address of the named interfaces and gathers the answers for
// `timeout`. Interfaces that do not exist or have no IPv4 address are reported in
// `problems` (one text each) and skipped.
std::vector<DiscoveredCamera> DiscoverOn(const std::vector<std::string>& interfaces, std::chrono::milliseconds timeout,
                                         std::vector<std::string>& problems);

// The device information in a discovery answer's payload (the camera's bootstrap block).
CDeviceInfo DeviceInfoFromBootstrap(const unsigned char* block, size_t length, const std::string& fallbackAddress);

} // namespace Pylon::Transport::GigE
