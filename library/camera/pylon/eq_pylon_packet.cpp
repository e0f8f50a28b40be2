// Stream packet size: the MTU of the host interface in the camera's network, found by the
// prefix of the location's "INTERFACE" address.
#include "eq_pylon.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <mirva/server.h>

namespace {

constexpr int default_packet_size = 1500;
constexpr size_t max_host = 1025;    // the resolver's maximum host length
constexpr size_t max_if_name = 16;   // the system's interface-name size

bool system_list_addresses(std::vector<pylon_net_if>& out)
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == -1)
        return false;
    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        pylon_net_if entry;
        entry.name = std::string(ifa->ifa_name ? ifa->ifa_name : "").substr(0, max_if_name);
        if (ifa->ifa_addr) {
            entry.family = ifa->ifa_addr->sa_family;
            if (entry.family == AF_INET || entry.family == AF_INET6) {
                char host[max_host];
                const socklen_t len = entry.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
                entry.numeric_ok = getnameinfo(ifa->ifa_addr, len, host, sizeof host, nullptr, 0, NI_NUMERICHOST) == 0;
                if (entry.numeric_ok)
                    entry.address = host;
            }
        }
        out.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return true;
}

pylon_net_source::mtu_result system_read_mtu(const std::string& name, int& mtu)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return pylon_net_source::mtu_socket_failed;
    ifreq ifr{};
    strncpy(ifr.ifr_name, name.c_str(), IFNAMSIZ - 1);
    ifr.ifr_addr.sa_family = AF_INET;
    const bool ok = ioctl(fd, SIOCGIFMTU, &ifr) == 0;
    close(fd);
    if (!ok)
        return pylon_net_source::mtu_request_failed;
    mtu = ifr.ifr_mtu;
    return pylon_net_source::mtu_ok;
}

// The camera takes packet sizes on its increment from the minimum only: a size between
// two steps is rounded down (the write clamps it to the limits afterwards).
int on_increment(const pylon_prop& p, int size)
{
    const int inc = p.incVal.ival;
    const int min = p.minVal.ival;
    if (inc > 1 && size > min)
        size = min + (size - min) / inc * inc;
    return size;
}

void write_packet_size(pylon_prop& p, int size)
{
    if (!p.d_fct.ival)
        return;
    p.d_fct.ival->set_new_value(on_increment(p, size));
    p.set_feature();
}

} // namespace

pylon_net_source pylon_net_source::system()
{
    return {system_list_addresses, system_read_mtu};
}

int EqFctPylon::camera_set_packet_size()
{
    if (!camera_is_open())
        return 1;

    D_fct* property = find_property("INTERFACE");
    if (!property) {
        printftostderr(name(), "camera_set_packet_size() failed to find property INTERFACE");
        return 1;
    }
    const auto* text = dynamic_cast<const D_string*>(property);
    const std::string value = text ? text->value() : std::string();
    if (value.empty()) {
        printftostderr(name(), "camera_set_packet_size() empty value in INTERFACE");
        return 1;
    }

    std::string prefix = value.substr(0, max_host - 1);
    if (const size_t dot = prefix.rfind('.'); dot != std::string::npos)
        prefix.resize(dot + 1);

    std::vector<pylon_net_if> interfaces;
    if (!net_source.list_addresses || !net_source.list_addresses(interfaces)) {
        printftostderr(name(), "camera_set_packet_size() failed getifaddrs()");
        return 1;
    }

    std::string if_name;
    bool found = false;
    for (const pylon_net_if& entry : interfaces) {
        if (entry.family != AF_INET && entry.family != AF_INET6)
            continue;
        if (!entry.numeric_ok) {
            printftostderr(name(), "camera_set_packet_size() getnameinfo() failed");
            return 1;
        }
        if (entry.address.find(prefix) != std::string::npos) {
            if_name = entry.name.substr(0, max_if_name);
            found = true;
            break;
        }
    }

    pylon_prop* packet = camera_find_feature_by_name("GevSCPSPacketSize");
    if (!packet) {
        printftostderr(name(), "camera_set_packet_size() failed to find GevSCPSPacketSize property");
        return 1;
    }

    if (!found) {
        printftostderr(name(), "camera_set_packet_size() failed to find interface setting default %d size",
                       default_packet_size);
        write_packet_size(*packet, default_packet_size);
        return 0;
    }

    int mtu = 0;
    const auto result = net_source.read_mtu ? net_source.read_mtu(if_name, mtu) : pylon_net_source::mtu_socket_failed;
    switch (result) {
    case pylon_net_source::mtu_socket_failed:
        printftostderr(name(), "camera_set_packet_size() failed to open socket. Setting default %d size",
                       default_packet_size);
        write_packet_size(*packet, default_packet_size);
        return 1;
    case pylon_net_source::mtu_ok:
        write_packet_size(*packet, mtu);
        return 0;
    case pylon_net_source::mtu_request_failed:
        break;
    }
    printftostderr(name(), "camera_set_packet_size() failed to get MTU. Setting default %d size", default_packet_size);
    write_packet_size(*packet, default_packet_size);
    return 0;
}
