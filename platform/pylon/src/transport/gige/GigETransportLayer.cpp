#include "transport/gige/GigETransportLayer.h"

#include <GenICam/GCException.h>

#include <set>

#include "transport/gige/GigEDiscovery.h"
#include "transport/gige/GigEDeviceTransport.h"

namespace Pylon::Transport {

std::shared_ptr<ITransportLayer> CreateGigETransportLayer(GigEOptions options)
{
    return std::make_shared<GigE::GigETransportLayer>(std::move(options));
}

namespace GigE {

void GigETransportLayer::EnumerateDevices(DeviceInfoList_t& list)
{
    // A camera that does not answer now is simply not present; a camera found both by its
    // address and by discovery counts once.
    std::vector<DiscoveredCamera> found;
    try {
        found = DiscoverAt(options_.addresses, options_.answerTimeout);
        if (options_.discovery) {
            std::vector<std::string> problems;
            auto more = DiscoverOn(options_.interfaces, options_.answerTimeout, problems);
            found.insert(found.end(), more.begin(), more.end());
            for (const auto& problem : problems)
                Report(problem);
        }
    } catch (const GenICam::GenericException& e) {
        Report(e.GetDescription());
    }
    std::set<std::string> serials;
    for (auto& camera : found)
        if (serials.insert(camera.info.GetSerialNumber()).second)
            list.push_back(std::move(camera.info));
}

void GigETransportLayer::Report(const std::string& problem)
{
    // Each problem once: enumeration repeats at every recovery.
    std::lock_guard lock(mutex_);
    if (reported_.insert(problem).second && options_.report)
        options_.report(problem);
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
