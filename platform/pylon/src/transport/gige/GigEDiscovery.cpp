#include "transport/gige/GigEDiscovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <atomic>
#include <map>
#include <memory>
#include <set>

#include <GenICam/GCException.h>
#include <pylon/transport/GigETransport.h>

namespace Pylon::Transport::GigE {

namespace {

constexpr uint16_t kControlPort = 3956;
constexpr uint8_t kCommandKey = 0x42;
constexpr uint8_t kAcknowledgeRequired = 0x01;
constexpr uint16_t kDiscoveryCommand = 0x0002, kDiscoveryAck = 0x0003;
constexpr size_t kAckHeader = 8, kBootstrapBlock = 0xF8;

// Offsets in the bootstrap block.
constexpr size_t kMacHigh = 0x08, kMacLow = 0x0C, kCurrentIp = 0x24, kManufacturer = 0x48, kModel = 0x68,
                 kDeviceVersion = 0x88, kSerialNumber = 0xD8, kUserName = 0xE8;

std::string Text(const unsigned char* block, size_t offset, size_t length)
{
    const char* begin = reinterpret_cast<const char*>(block + offset);
    return std::string(begin, strnlen(begin, length));
}

// One UDP socket of the discovery, closed with the object.
class Socket {
public:
    explicit Socket(in_addr local)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw RUNTIME_EXCEPTION("GigE discovery: no socket: %s", std::strerror(errno));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr = local;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            close(fd_);
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &local, text, sizeof text);
            throw RUNTIME_EXCEPTION("GigE discovery: cannot bind to %s: %s", text, std::strerror(error));
        }
    }
    ~Socket() { close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void SendDiscovery(in_addr destination, bool broadcast, uint16_t requestId)
    {
        const int on = broadcast ? 1 : 0;
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        const unsigned char command[8] = {kCommandKey, kAcknowledgeRequired, 0, kDiscoveryCommand, 0, 0,
                                          static_cast<unsigned char>(requestId >> 8),
                                          static_cast<unsigned char>(requestId & 0xFF)};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kControlPort);
        to.sin_addr = destination;
        // A lost command is a camera that does not answer this time.
        (void)sendto(fd_, command, sizeof command, MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::string LocalAddressOf(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    char text[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return text;
}

// Gathers discovery answers on the sockets until the deadline or until `wanted` cameras
// (0: no limit) have answered. Keyed by serial number and address, so a camera heard twice
// counts once.
std::vector<DiscoveredCamera> Gather(const std::vector<Socket*>& sockets, uint16_t requestId,
                                     std::chrono::milliseconds timeout, size_t wanted)
{
    std::vector<DiscoveredCamera> found;
    std::set<std::string> seen;
    std::vector<pollfd> fds;
    for (Socket* s : sockets)
        fds.push_back({s->Fd(), POLLIN, 0});
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (wanted == 0 || found.size() < wanted) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0)
            continue; // timeout or signal: the loop ends at the deadline
        for (pollfd& p : fds) {
            if (!(p.revents & POLLIN))
                continue;
            unsigned char packet[1024];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(p.fd, packet, sizeof packet, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (n < static_cast<ssize_t>(kAckHeader + kBootstrapBlock))
                continue;
            const uint16_t status = static_cast<uint16_t>(packet[0] << 8 | packet[1]);
            const uint16_t answer = static_cast<uint16_t>(packet[2] << 8 | packet[3]);
            const uint16_t ackId = static_cast<uint16_t>(packet[6] << 8 | packet[7]);
            if (status != 0 || answer != kDiscoveryAck || ackId != requestId)
                continue;
            char address[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
            DiscoveredCamera camera{DeviceInfoFromBootstrap(packet + kAckHeader, kBootstrapBlock, address),
                                    LocalAddressOf(p.fd)};
            if (seen.insert(camera.info.GetSerialNumber() + "@" + camera.info.GetIpAddress()).second)
                found.push_back(std::move(camera));
        }
    }
    return found;
}

uint16_t NextRequestId()
{
    static std::atomic<uint16_t> next{1};
    uint16_t id = next.fetch_add(1);
    return id == 0 ? next.fetch_add(1) : id;
}

} // namespace

CDeviceInfo DeviceInfoFromBootstrap(const unsigned char* block, size_t length, const std::string& fallbackAddress)
{
    if (length < kBootstrapBlock)
        throw INVALID_ARGUMENT_EXCEPTION("GigE discovery: answer of %zu bytes, %zu expected", length, kBootstrapBlock);
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", block[kMacHigh + 2], block[kMacHigh + 3], block[kMacLow],
                  block[kMacLow + 1], block[kMacLow + 2], block[kMacLow + 3]);
    char ip[INET_ADDRSTRLEN] = "";
    in_addr current;
    std::memcpy(&current, block + kCurrentIp, 4);
    inet_ntop(AF_INET, &current, ip, sizeof ip);
    // A camera that reports no address yet is reached where its answer came from.
    const std::string address = current.s_addr == 0 ? fallbackAddress : ip;
    const std::string model = Text(block, kModel, 32);
    const std::string serial = Text(block, kSerialNumber, 16);
    const std::string user = Text(block, kUserName, 16);
    CDeviceInfo info;
    info.SetSerialNumber(serial)
        .SetModelName(model)
        .SetVendorName(Text(block, kManufacturer, 32))
        .SetDeviceVersion(Text(block, kDeviceVersion, 32))
        .SetUserDefinedName(user)
        .SetIpAddress(address)
        .SetMacAddress(mac)
        .SetDeviceClass("BaslerGigE")
        .SetDeviceFactory(GigEDeviceFactory)
        .SetFullName(model + "#" + mac + "#" + address + ":3956")
        .SetFriendlyName((user.empty() ? model : user) + " (" + serial + ")");
    return info;
}

std::vector<DiscoveredCamera> DiscoverAt(const std::vector<std::string>& addresses, std::chrono::milliseconds timeout)
{
    if (addresses.empty())
        return {};
    in_addr any{};
    any.s_addr = htonl(INADDR_ANY);
    Socket socket(any);
    const uint16_t requestId = NextRequestId();
    std::set<std::string> asked;
    for (const auto& text : addresses) {
        in_addr destination{};
        if (inet_pton(AF_INET, text.c_str(), &destination) != 1)
            throw INVALID_ARGUMENT_EXCEPTION("GigE camera address '%s' is not an IPv4 address", text.c_str());
        if (asked.insert(text).second)
            socket.SendDiscovery(destination, false, requestId);
    }
    auto found = Gather({&socket}, requestId, timeout, asked.size());
    // Only the cameras asked for: a camera at another address may not answer in their place.
    std::erase_if(found, [&](const DiscoveredCamera& c) { return !asked.count(c.info.GetIpAddress()); });
    return found;
}

std::vector<DiscoveredCamera> DiscoverOn(const std::vector<std::string>& interfaces, std::chrono::milliseconds timeout,
                                         std::vector<std::string>& problems)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        throw RUNTIME_EXCEPTION("GigE discovery: the host's interfaces cannot be listed: %s", std::strerror(errno));
    std::map<std::string, std::vector<in_addr>> local;
    for (ifaddrs* a = list; a; a = a->ifa_next)
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && a->ifa_name)
            local[a->ifa_name].push_back(reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr);
    freeifaddrs(list);

    std::vector<std::unique_ptr<Socket>> sockets;
    for (const auto& name : interfaces) {
        auto it = local.find(name);
        if (it == local.end()) {
            problems.push_back("GigE discovery: interface '" + name + "' does not exist or has no IPv4 address");
            continue;
        }
        for (const in_addr& address : it->second)
            sockets.push_back(std::make_unique<Socket>(address));
    }
    if (sockets.empty())
        return {};
    // Bound to one of the interface's addresses, the limited broadcast leaves through that
    // interface only.
    in_addr everyone{};
    everyone.s_addr = htonl(INADDR_BROADCAST);
    const uint16_t requestId = NextRequestId();
    std::vector<Socket*> raw;
    for (auto& s : sockets) {
        s->SendDiscovery(everyone, true, requestId);
        raw.push_back(s.get());
    }
    return Gather(raw, requestId, timeout, 0);
}

} // namespace Pylon::Transport::GigE
