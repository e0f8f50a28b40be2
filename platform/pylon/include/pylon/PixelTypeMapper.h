// Maps the symbolics of a camera's PixelFormat feature to SDK pixel types and back.
#pragma once

#include <cstdint>

#include <GenICam/GCException.h>
#include <pylon/PixelType.h>

namespace Pylon {

class CPixelTypeMapper {
public:
    // The pixel type whose SDK name ("RGB8packed", also "PixelType_RGB8packed") or feature
    // symbolic ("RGB8Packed") equals `name`, ignoring case; PixelType_Undefined when none
    // does or `name` is null.
    static EPixelType GetPylonPixelTypeByName(const char* name) noexcept;
    static EPixelType GetPylonPixelTypeByName(const GenICam::gcstring& name) noexcept;

    // The pixel type for a PixelFormat enumeration value (the GigE Vision code);
    // PixelType_Undefined for an unknown code.
    static EPixelType GetPylonPixelTypeFromNodeValue(int64_t value) noexcept;

    // The SDK name without prefix ("Mono12packed"); "Undefined" for an unknown type.
    static const char* GetNameByPixelType(EPixelType pixelType) noexcept;
};

} // namespace Pylon
