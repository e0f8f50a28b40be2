// Device-removal callbacks. They run on the SDK's callback thread, after the device has
// been marked removed.
#pragma once

#include <cstdint>
#include <functional>

namespace Pylon {

class IPylonDevice;

// Non-zero when valid.
using DeviceCallbackHandle = std::intptr_t;

using DeviceCallback = std::function<void(IPylonDevice*)>;

} // namespace Pylon
