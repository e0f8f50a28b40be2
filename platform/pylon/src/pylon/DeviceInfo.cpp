#include <pylon/DeviceInfo.h>

namespace Pylon {

int CDeviceInfo::GetPropertyNames(StringList_t& names) const
{
    names.clear();
    for (const auto& [name, value] : properties_)
        names.push_back(name);
    return static_cast<int>(names.size());
}

bool CDeviceInfo::GetPropertyAvailable(const String_t& name) const
{
    for (const auto& property : properties_)
        if (property.first == name)
            return true;
    return false;
}

bool CDeviceInfo::GetPropertyValue(const String_t& name, String_t& value) const
{
    for (const auto& property : properties_)
        if (property.first == name) {
            value = property.second;
            return true;
        }
    return false;
}

CDeviceInfo& CDeviceInfo::SetPropertyValue(const String_t& name, const String_t& value)
{
    for (auto& property : properties_)
        if (property.first == name) {
            property.second = value;
            return *this;
        }
    properties_.emplace_back(name, value);
    return *this;
}

String_t CDeviceInfo::Property(const char* name) const
{
    String_t value;
    GetPropertyValue(name, value);
    return value;
}

bool CDeviceInfo::IsSameDevice(const CDeviceInfo& other) const
{
    if (IsFullNameAvailable() && other.IsFullNameAvailable())
        return GetFullName() == other.GetFullName();
    return IsSerialNumberAvailable() && other.IsSerialNumberAvailable() && GetSerialNumber() == other.GetSerialNumber();
}

} // namespace Pylon
