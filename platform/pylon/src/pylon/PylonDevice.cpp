#include "PylonDevice.h"

#include "CallbackThread.h"

namespace Pylon::detail {

namespace {

constexpr const char* kTlDescription = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="DeviceTransport" VendorName="Pylon" StandardNameSpace="None"
    SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0"
    MajorVersion="1" MinorVersion="0" SubMinorVersion="0" ToolTip="Transport parameters of a device"
    ProductGuid="00000000-0000-0000-0000-000000000003" VersionGuid="00000000-0000-0000-0000-000000000004"
    xmlns="http://www.genicam.org/GenApi/Version_1_1">
  <Category Name="Root" NameSpace="Standard">
    <pFeature>HeartbeatTimeout</pFeature>
  </Category>
  <Integer Name="HeartbeatTimeout" NameSpace="Standard">
    <ToolTip>Time without heartbeat after which the camera drops the connection (ms)</ToolTip>
    <Value>3000</Value>
    <Min>500</Min>
    <Max>60000</Max>
    <Unit>ms</Unit>
  </Integer>
</RegisterDescription>
)";

} // namespace

CPylonDevice::CPylonDevice(std::unique_ptr<Transport::IDeviceTransport> transport)
    : info_(transport->DeviceInfo()), serial_(info_.GetSerialNumber()), transport_(std::move(transport)),
      tl_node_map_(GenApi::CNodeMapFactory::LoadFromString(kTlDescription, "device transport"))
{
    transport_->SetRemovalListener([this] { OnRemoved(); });
    if (transport_->IsRemoved())
        OnRemoved();
}

CPylonDevice::~CPylonDevice()
{
    transport_->SetRemovalListener(nullptr); // waits for a notification in progress
    CallbackThread::Instance().Cancel(this);
    Close();
}

void CPylonDevice::ThrowIfRemoved(const char* operation) const
{
    if (removed_)
        throw RUNTIME_EXCEPTION("Device '%s' has been removed (%s)", serial_.c_str(), operation);
}

void CPylonDevice::Open(AccessModeSet mode)
{
    ThrowIfRemoved("Open");
    std::lock_guard lock(mutex_);
    if (open_)
        throw LOGICAL_ERROR_EXCEPTION("Device '%s' is already open", serial_.c_str());
    transport_->Open();
    // A transport may keep its node map over connections (the emulator): nothing read on
    // an earlier connection is served now.
    if (GenApi::INodeMap* map = transport_->NodeMap())
        map->InvalidateNodes();
    open_ = true;
    mode_ = mode;
}

void CPylonDevice::Close()
{
    std::vector<std::unique_ptr<CPylonStreamGrabber>> grabbers;
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return;
        open_ = false;
        mode_.reset();
        grabbers.swap(grabbers_);
        if (GenApi::INodeMap* map = transport_->NodeMap())
            map->InvalidateNodes();
    }
    grabbers.clear(); // closes them and detaches them from the channels
    transport_->Close();
}

bool CPylonDevice::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

AccessModeSet CPylonDevice::AccessMode() const
{
    std::lock_guard lock(mutex_);
    return mode_;
}

uint32_t CPylonDevice::GetNumStreamGrabberChannels() const
{
    ThrowIfRemoved("GetNumStreamGrabberChannels");
    return transport_->NumStreamChannels();
}

IStreamGrabber* CPylonDevice::GetStreamGrabber(uint32_t index)
{
    ThrowIfRemoved("GetStreamGrabber");
    std::lock_guard lock(mutex_);
    if (!open_)
        throw LOGICAL_ERROR_EXCEPTION("GetStreamGrabber: device '%s' is not open", serial_.c_str());
    if (!mode_.test(Stream))
        throw LOGICAL_ERROR_EXCEPTION("GetStreamGrabber: device '%s' is not open for streaming", serial_.c_str());
    const uint32_t channels = transport_->NumStreamChannels();
    if (index >= channels)
        throw OUT_OF_RANGE_EXCEPTION("GetStreamGrabber: device '%s' has %u stream channels, not %u", serial_.c_str(), channels,
                                     index + 1);
    if (grabbers_.size() < channels)
        grabbers_.resize(channels);
    if (!grabbers_[index])
        grabbers_[index] = std::make_unique<CPylonStreamGrabber>(*transport_->StreamChannel(index), serial_, removed_,
                                                                  transport_->NodeMap());
    return grabbers_[index].get();
}

GenApi::INodeMap* CPylonDevice::GetNodeMap()
{
    ThrowIfRemoved("GetNodeMap");
    std::lock_guard lock(mutex_);
    if (!open_)
        throw LOGICAL_ERROR_EXCEPTION("GetNodeMap: device '%s' is not open", serial_.c_str());
    return transport_->NodeMap();
}

GenApi::INodeMap* CPylonDevice::GetTLNodeMap()
{
    ThrowIfRemoved("GetTLNodeMap");
    return tl_node_map_.get();
}

DeviceCallbackHandle CPylonDevice::RegisterRemovalCallback(DeviceCallback callback)
{
    if (!callback)
        throw INVALID_ARGUMENT_EXCEPTION("RegisterRemovalCallback: empty callback for device '%s'", serial_.c_str());
    std::lock_guard lock(mutex_);
    const DeviceCallbackHandle handle = next_handle_++;
    callbacks_.emplace(handle, std::move(callback));
    return handle;
}

bool CPylonDevice::DeregisterRemovalCallback(DeviceCallbackHandle handle)
{
    std::unique_lock lock(mutex_);
    const bool erased = callbacks_.erase(handle) > 0;
    // A pass of the callbacks in progress may still be calling this one: wait until it is
    // over (not from inside a callback, and not forever: a callback is short).
    if (callbacks_runner_ != std::thread::id{} && callbacks_runner_ != std::this_thread::get_id())
        callbacks_done_.wait_for(lock, std::chrono::seconds(10), [this] { return callbacks_runner_ == std::thread::id{}; });
    return erased;
}

void CPylonDevice::OnRemoved()
{
    if (removed_.exchange(true))
        return;
    {
        // Under the lock so that Close() cannot destroy a grabber (or the transport its node
        // map) meanwhile.
        std::lock_guard lock(mutex_);
        // Values read before the loss are not served any more: reads go to the device and
        // fail. Lock-free, so a read in progress on another thread does not hold this up.
        if (open_)
            if (GenApi::INodeMap* map = transport_->NodeMap())
                map->InvalidateNodes();
        for (const auto& g : grabbers_)
            if (g)
                g->OnDeviceRemoved();
    }
    CallbackThread::Instance().Post(this, [this] { RunRemovalCallbacks(); });
}

void CPylonDevice::RunRemovalCallbacks()
{
    std::vector<DeviceCallback> callbacks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, cb] : callbacks_)
            callbacks.push_back(cb);
        callbacks_runner_ = std::this_thread::get_id();
    }
    for (const auto& cb : callbacks)
        cb(this);
    {
        std::lock_guard lock(mutex_);
        callbacks_runner_ = std::thread::id{};
    }
    callbacks_done_.notify_all();
}

} // namespace Pylon::detail
