#include "transport/gige/GigEConnection.h"

#include <arv.h>

#include <cstdio>

#include <GenICam/GCException.h>
#include <pylon/transport/GigETransport.h>

namespace Pylon::Transport::GigE {

namespace {
// Bootstrap registers of a GigE Vision device.
constexpr uint64_t kMacHigh = 0x0008, kMacLow = 0x000C, kCurrentIp = 0x0024;
constexpr uint64_t kManufacturer = 0x0048, kModel = 0x0068, kDeviceVersion = 0x0088;
constexpr uint64_t kSerialNumber = 0x00D8, kUserName = 0x00E8;
} // namespace

GigEConnection::GigEConnection(const std::string& address) : address_(address)
{
    GInetAddress* device_address = g_inet_address_new_from_string(address.c_str());
    if (!device_address)
        throw INVALID_ARGUMENT_EXCEPTION("GigE camera address '%s' is not an IPv4 address", address.c_str());
    GInetAddress* any = g_inet_address_new_any(G_SOCKET_FAMILY_IPV4);
    GError* error = nullptr;
    device_ = arv_gv_device_new(any, device_address, &error);
    g_object_unref(any);
    g_object_unref(device_address);
    if (!device_) {
        std::string why = error ? error->message : "no answer";
        if (error)
            g_error_free(error);
        throw RUNTIME_EXCEPTION("GigE camera at %s: %s", address.c_str(), why.c_str());
    }
}

GigEConnection::~GigEConnection()
{
    if (device_)
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

std::string GigEConnection::ReadText(uint64_t address, size_t length)
{
    std::string text(length, '\0');
    Read(address, text.data(), length);
    text.resize(text.find('\0') == std::string::npos ? length : text.find('\0'));
    return text;
}

CDeviceInfo GigEConnection::ReadDeviceInfo()
{
    uint8_t mac_high[4], mac_low[4], ip[4];
    Read(kMacHigh, mac_high, 4);
    Read(kMacLow, mac_low, 4);
    Read(kCurrentIp, ip, 4);
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", mac_high[2], mac_high[3], mac_low[0], mac_low[1],
                  mac_low[2], mac_low[3]);
    const std::string model = ReadText(kModel, 32);
    const std::string serial = ReadText(kSerialNumber, 16);
    const std::string user = ReadText(kUserName, 16);
    CDeviceInfo info;
    info.SetSerialNumber(serial)
        .SetModelName(model)
        .SetVendorName(ReadText(kManufacturer, 32))
        .SetDeviceVersion(ReadText(kDeviceVersion, 32))
        .SetUserDefinedName(user)
        .SetIpAddress(address_)
        .SetMacAddress(mac)
        .SetDeviceClass("BaslerGigE")
        .SetDeviceFactory(GigEDeviceFactory)
        .SetFullName(model + "#" + mac + "#" + address_ + ":3956")
        .SetFriendlyName((user.empty() ? model : user) + " (" + serial + ")");
    return info;
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
