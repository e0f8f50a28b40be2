#include "transport/gige/GigEDeviceTransport.h"

#include <arv.h>

#include <GenICam/GCException.h>

namespace Pylon::Transport::GigE {

namespace {
constexpr uint64_t kStreamChannelCount = 0x0904; // bootstrap register
} // namespace

GigEDeviceTransport::GigEDeviceTransport(const CDeviceInfo& info) : info_(info) {}

GigEDeviceTransport::~GigEDeviceTransport()
{
    Close();
}

void GigEDeviceTransport::Open()
{
    const std::string serial_number = info_.GetSerialNumber();
    const char* serial = serial_number.c_str();
    if (removed_)
        throw RUNTIME_EXCEPTION("GigE camera '%s' at %s was removed", serial, info_.GetIpAddress().c_str());
    if (connection_)
        return;
    std::unique_ptr<GigEConnection> connection;
    try {
        // The protocol library reads the camera's description while it connects.
        connection = std::make_unique<GigEConnection>(info_.GetIpAddress());
    } catch (const GenICam::GenericException& e) {
        throw RUNTIME_EXCEPTION("GigE camera '%s': %s", serial, e.GetDescription());
    }
    ArvGvDevice* device = ARV_GV_DEVICE(connection->Device());
    if (!arv_gv_device_take_control(device, nullptr))
        throw ACCESS_EXCEPTION("GigE camera '%s' at %s is controlled by another application", serial,
                               info_.GetIpAddress().c_str());
    // From here on every failure gives control back before it leaves.
    struct ControlGuard {
        ArvGvDevice* device;
        bool keep = false;
        ~ControlGuard()
        {
            if (!keep)
                arv_gv_device_leave_control(device, nullptr);
        }
    } guard{device};
    // The packet size is ours (it follows the host interface's MTU): the protocol library
    // must not probe and change it when the stream channel opens.
    arv_gv_device_set_packet_size_adjustment(device, ARV_GV_PACKET_SIZE_ADJUSTMENT_NEVER);
    std::unique_ptr<GenApi::NodeMap> map;
    try {
        map = GenApi::CNodeMapFactory::LoadFromString(connection->Description(),
                                                      "GenICam description of camera " + info_.GetSerialNumber());
    } catch (const GenICam::GenericException& e) {
        throw RUNTIME_EXCEPTION("GigE camera '%s' at %s: its GenICam description does not load: %s", serial,
                                info_.GetIpAddress().c_str(), e.GetDescription());
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
    // Number of stream channels, from the bootstrap registers.
    uint8_t channels[4] = {};
    connection->Read(kStreamChannelCount, channels, sizeof channels);
    const bool streams = (channels[0] | channels[1] | channels[2] | channels[3]) != 0;
    auto channel = streams ? std::make_unique<GigEStreamChannel>(*connection, *map, info_.GetSerialNumber()) : nullptr;
    controlLostHandler_ = g_signal_connect(connection->Device(), "control-lost", G_CALLBACK(OnControlLost), this);
    guard.keep = true;
    connection_ = std::move(connection);
    nodeMap_ = std::move(map);
    channel_ = std::move(channel);
}

void GigEDeviceTransport::Close() noexcept
{
    if (!connection_)
        return;
    channel_.reset(); // the grabbers above have let go of it already
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
