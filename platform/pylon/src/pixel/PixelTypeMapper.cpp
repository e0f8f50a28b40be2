// Name <-> pixel type lookups over the pixel-format table.
#include <pylon/PixelTypeMapper.h>

#include <pylon/PixelFormatTable.h>

namespace Pylon {

namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

const SPixelFormatInfo* FindPixelFormatByName(std::string_view name) noexcept
{
    constexpr std::string_view prefix = "PixelType_";
    if (name.size() > prefix.size() && equal_ignoring_case(name.substr(0, prefix.size()), prefix))
        name.remove_prefix(prefix.size());
    for (const auto& info : kPixelFormatTable)
        if (equal_ignoring_case(name, info.name) || equal_ignoring_case(name, info.featureName))
            return &info;
    return nullptr;
}

EPixelType CPixelTypeMapper::GetPylonPixelTypeByName(const char* name) noexcept
{
    if (name == nullptr)
        return PixelType_Undefined;
    const SPixelFormatInfo* info = FindPixelFormatByName(name);
    return info ? info->type : PixelType_Undefined;
}

EPixelType CPixelTypeMapper::GetPylonPixelTypeByName(const GenICam::gcstring& name) noexcept
{
    const SPixelFormatInfo* info = FindPixelFormatByName(name);
    return info ? info->type : PixelType_Undefined;
}

EPixelType CPixelTypeMapper::GetPylonPixelTypeFromNodeValue(int64_t value) noexcept
{
    for (const auto& info : kPixelFormatTable)
        if (static_cast<int64_t>(info.type) == value)
            return info.type;
    return PixelType_Undefined;
}

const char* CPixelTypeMapper::GetNameByPixelType(EPixelType pixelType) noexcept
{
    // Every name in the table is a string literal, hence NUL-terminated.
    const SPixelFormatInfo* info = FindPixelFormat(pixelType);
    return info ? info->name.data() : "Undefined";
}

} // namespace Pylon
