#include "transport/gige/GigETransportLayer.h"

#include <GenICam/GCException.h>

#include "transport/gige/GigEConnection.h"
#include "transport/gige/GigEDeviceTransport.h"

namespace Pylon::Transport {

std::shared_ptr<ITransportLayer> CreateGigETransportLayer(GigEOptions options)
{
    return std::make_shared<GigE::GigETransportLayer>(std::move(options));
}

namespace GigE {

void GigETransportLayer::EnumerateDevices(DeviceInfoList_t& list)
{
    // A camera that does not answer now is simply not present.
    for (const auto& address : options_.addresses) {
        try {
            GigEConnection connection(address);
            list.push_back(connection.ReadDeviceInfo());
        } catch (const GenICam::GenericException&) {
        }
    }
}

bool GigETransportLayer::Owns(const CDeviceInfo& info) const
{
    return info.GetDeviceFactory() == GigEDeviceFactory;
}

std::unique_ptr<IDeviceTransport> GigETransportLayer::CreateTransport(const CDeviceInfo& info)
{
    if (!info.IsIpAddressAvailable())
        throw RUNTIME_EXCEPTION("GigE camera '%s' has no IP address", info.GetSerialNumber().c_str());
    return std::make_unique<GigEDeviceTransport>(info);
}

} // namespace GigE
} // namespace Pylon::Transport
