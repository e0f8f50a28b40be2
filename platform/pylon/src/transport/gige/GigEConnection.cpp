#include "transport/gige/GigEConnection.h"

#include <arv.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include <GenICam/GCException.h>

namespace Pylon::Transport::GigE {

namespace {

// The host address through which `device` is reached: the stream channel sends its frames
// there. Found by the routing table (a connected datagram socket sends nothing).
GInetAddress* LocalAddressTowards(GInetAddress* device)
{
    GError* error = nullptr;
    GSocket* probe = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_DATAGRAM, G_SOCKET_PROTOCOL_UDP, &error);
    if (!probe) {
        if (error)
            g_error_free(error);
        return g_inet_address_new_any(G_SOCKET_FAMILY_IPV4);
    }
    GSocketAddress* remote = g_inet_socket_address_new(device, 3956);
    GInetAddress* local = nullptr;
    if (g_socket_connect(probe, remote, nullptr, nullptr)) {
        if (GSocketAddress* mine = g_socket_get_local_address(probe, nullptr)) {
            local = static_cast<GInetAddress*>(
                g_object_ref(g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(mine))));
            g_object_unref(mine);
        }
    }
    g_object_unref(remote);
    g_object_unref(probe);
    return local ? local : g_inet_address_new_any(G_SOCKET_FAMILY_IPV4);
}

} // namespace

GigEConnection::GigEConnection(const std::string& address) : address_(address)
{
    GInetAddress* device_address = g_inet_address_new_from_string(address.c_str());
    if (!device_address)
        throw INVALID_ARGUMENT_EXCEPTION("GigE camera address '%s' is not an IPv4 address", address.c_str());
    GInetAddress* local = LocalAddressTowards(device_address);
    GError* error = nullptr;
    device_ = arv_gv_device_new(local, device_address, &error);
    g_object_unref(local);
    g_object_unref(device_address);
    if (!device_) {
        std::string why = error ? error->message : "no answer";
        if (error)
            g_error_free(error);
        throw RUNTIME_EXCEPTION("no connection to %s: %s", address.c_str(), why.c_str());
    }
}

GigEConnection::~GigEConnection()
{
    if (!device_)
        return;
    // The library's heartbeat thread holds the device while it reports lost control, and
    // the device joins that thread when it goes: the last reference must be ours, dropped
    // here, never the heartbeat thread's. Bounded: a reference that stays is released anyway.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (g_atomic_int_get(&G_OBJECT(device_)->ref_count) > 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    g_object_unref(device_);
}

void GigEConnection::Read(uint64_t address, void* buffer, size_t length)
{
    GError* error = nullptr;
    if (!arv_device_read_memory(device_, address, static_cast<guint32>(length), buffer, &error)) {
        std::string why = error ? error->message : "no answer";
        if (error)
            g_error_free(error);
        throw RUNTIME_EXCEPTION("GigE camera at %s: reading %zu bytes at 0x%llx failed: %s", address_.c_str(), length,
                                static_cast<unsigned long long>(address), why.c_str());
    }
}

void GigEConnection::Write(uint64_t address, const void* buffer, size_t length)
{
    GError* error = nullptr;
    if (!arv_device_write_memory(device_, address, static_cast<guint32>(length), const_cast<void*>(buffer), &error)) {
        std::string why = error ? error->message : "no answer";
        if (error)
            g_error_free(error);
        throw RUNTIME_EXCEPTION("GigE camera at %s: writing %zu bytes at 0x%llx failed: %s", address_.c_str(), length,
                                static_cast<unsigned long long>(address), why.c_str());
    }
}

std::string GigEConnection::Description()
{
    size_t size = 0;
    const char* xml = arv_device_get_genicam_xml(device_, &size);
    if (!xml || size == 0)
        throw RUNTIME_EXCEPTION("GigE camera at %s: its GenICam description could not be read", address_.c_str());
    return std::string(xml, size);
}

} // namespace Pylon::Transport::GigE
