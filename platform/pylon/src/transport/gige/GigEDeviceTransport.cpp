#include "transport/gige/GigEDeviceTransport.h"

#include <arv.h>

#include <GenICam/GCException.h>

namespace Pylon::Transport::GigE {

GigEDeviceTransport::GigEDeviceTransport(const CDeviceInfo& info) : info_(info) {}

GigEDeviceTransport::~GigEDeviceTransport()
{
    Close();
}

void GigEDeviceTransport::Open()
{
    if (removed_)
        throw RUNTIME_EXCEPTION("GigE camera '%s' at %s was removed", info_.GetSerialNumber().c_str(),
                                info_.GetIpAddress().c_str());
    if (connection_)
        return;
    auto connection = std::make_unique<GigEConnection>(info_.GetIpAddress());
    if (!arv_gv_device_take_control(ARV_GV_DEVICE(connection->Device()), nullptr))
        throw ACCESS_EXCEPTION("GigE camera '%s' at %s is controlled by another application",
                               info_.GetSerialNumber().c_str(), info_.GetIpAddress().c_str());
    std::unique_ptr<GenApi::NodeMap> map;
    try {
        map = GenApi::CNodeMapFactory::LoadFromString(connection->Description(),
                                                      "GenICam description of camera " + info_.GetSerialNumber());
    } catch (const GenICam::GenericException& e) {
        throw RUNTIME_EXCEPTION("GigE camera '%s': its description does not load: %s", info_.GetSerialNumber().c_str(),
                                e.GetDescription());
    }
    GigEConnection* raw = connection.get();
    GenApi::NodeList_t nodes;
    map->GetNodes(nodes);
    for (GenApi::INode* node : nodes)
        if (node->GetPrincipalInterfaceType() == GenApi::intfIPort && node->GetName() == "Device")
            map->ConnectPort(node->GetName(), [raw](int64_t address, uint8_t* buffer, size_t length) {
                raw->Read(static_cast<uint64_t>(address), buffer, length);
            }, [raw](int64_t address, const uint8_t* buffer, size_t length) {
                raw->Write(static_cast<uint64_t>(address), buffer, length);
            });
    controlLostHandler_ = g_signal_connect(connection->Device(), "control-lost", G_CALLBACK(OnControlLost), this);
    connection_ = std::move(connection);
    nodeMap_ = std::move(map);
}

void GigEDeviceTransport::Close() noexcept
{
    if (!connection_)
        return;
    g_signal_handler_disconnect(connection_->Device(), controlLostHandler_);
    if (!removed_)
        arv_gv_device_leave_control(ARV_GV_DEVICE(connection_->Device()), nullptr);
    nodeMap_.reset();
    connection_.reset();
}

GigEConnection& GigEDeviceTransport::Connection()
{
    if (!connection_)
        throw LOGICAL_ERROR_EXCEPTION("GigE camera '%s' is not open", info_.GetSerialNumber().c_str());
    return *connection_;
}

void GigEDeviceTransport::ReadRegister(uint64_t address, void* buffer, size_t length)
{
    Connection().Read(address, buffer, length);
}

void GigEDeviceTransport::WriteRegister(uint64_t address, const void* buffer, size_t length)
{
    Connection().Write(address, buffer, length);
}

void GigEDeviceTransport::SetRemovalListener(std::function<void()> listener)
{
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

void GigEDeviceTransport::OnControlLost(void*, void* self)
{
    static_cast<GigEDeviceTransport*>(self)->Remove();
}

void GigEDeviceTransport::Remove()
{
    if (removed_.exchange(true))
        return;
    std::lock_guard lock(listenerMutex_);
    if (listener_) {
        try {
            listener_();
        } catch (...) {
            // The listener runs on the library's heartbeat thread: nothing may leave it.
        }
    }
}

} // namespace Pylon::Transport::GigE
