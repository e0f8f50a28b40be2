// Description of one device as its transport layer reports it: an ordered store of
// named text properties ("SerialNumber", "FullName", "IpAddress", ...).
#pragma once

#include <utility>
#include <vector>

#include <pylon/PylonBase.h>

namespace Pylon {

class CDeviceInfo {
public:
    CDeviceInfo() = default;

    // Number of properties; their names in the order the transport layer set them.
    int GetPropertyNames(StringList_t& names) const;
    bool GetPropertyAvailable(const String_t& name) const;
    // False (value untouched) when the property is not set.
    bool GetPropertyValue(const String_t& name, String_t& value) const;
    // Adds the property or replaces its value; the position of an existing one is kept.
    CDeviceInfo& SetPropertyValue(const String_t& name, const String_t& value);

#define PYLON_DEVICE_INFO_PROPERTY(Name)                                                      \
    String_t Get##Name() const { return Property(#Name); }                                 \
    bool Is##Name##Available() const { return GetPropertyAvailable(#Name); }              \
    CDeviceInfo& Set##Name(const String_t& value) { return SetPropertyValue(#Name, value); }

    PYLON_DEVICE_INFO_PROPERTY(SerialNumber)
    PYLON_DEVICE_INFO_PROPERTY(FullName)
    PYLON_DEVICE_INFO_PROPERTY(FriendlyName)
    PYLON_DEVICE_INFO_PROPERTY(ModelName)
    PYLON_DEVICE_INFO_PROPERTY(VendorName)
    PYLON_DEVICE_INFO_PROPERTY(DeviceClass)
    PYLON_DEVICE_INFO_PROPERTY(DeviceVersion)
    PYLON_DEVICE_INFO_PROPERTY(DeviceFactory)
    PYLON_DEVICE_INFO_PROPERTY(UserDefinedName)
    PYLON_DEVICE_INFO_PROPERTY(IpAddress)
    PYLON_DEVICE_INFO_PROPERTY(SubnetMask)
    PYLON_DEVICE_INFO_PROPERTY(DefaultGateway)
    PYLON_DEVICE_INFO_PROPERTY(MacAddress)
    PYLON_DEVICE_INFO_PROPERTY(Interface)
    PYLON_DEVICE_INFO_PROPERTY(IpConfigOptions)
    PYLON_DEVICE_INFO_PROPERTY(IpConfigCurrent)
#undef PYLON_DEVICE_INFO_PROPERTY

    // Two descriptions name the same device when their full names (or, without full
    // names, their serial numbers) are equal.
    bool IsSameDevice(const CDeviceInfo& other) const;

private:
    String_t Property(const char* name) const;

    std::vector<std::pair<String_t, String_t>> properties_;
};

using DeviceInfoList_t = std::vector<CDeviceInfo>;

} // namespace Pylon
