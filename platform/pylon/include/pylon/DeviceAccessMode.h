// How a device is opened: control (node map), stream (grabbers), event, exclusive.
#pragma once

#include <bitset>

namespace Pylon {

enum EDeviceAccessMode { Control, Stream, Event, Exclusive, _NumDeviceAccessModes };

using AccessModeSet = std::bitset<_NumDeviceAccessModes>;

inline AccessModeSet operator|(EDeviceAccessMode a, EDeviceAccessMode b)
{
    AccessModeSet s;
    s.set(a);
    s.set(b);
    return s;
}

inline AccessModeSet operator|(const AccessModeSet& s, EDeviceAccessMode m)
{
    AccessModeSet r(s);
    r.set(m);
    return r;
}

inline AccessModeSet operator|(EDeviceAccessMode m, const AccessModeSet& s) { return s | m; }

} // namespace Pylon
