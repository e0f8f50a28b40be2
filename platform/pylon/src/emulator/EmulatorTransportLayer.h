// The emulator as a transport layer of the factory.
#pragma once

#include <memory>

#include <pylon/transport/DeviceTransport.h>

namespace Pylon::Emulator {

std::shared_ptr<Transport::ITransportLayer> CreateTransportLayer();

} // namespace Pylon::Emulator
