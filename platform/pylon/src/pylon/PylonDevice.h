// A device of the factory over a transport connection. Knows nothing of the transport
// behind it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <GenApi/NodeMapFactory.h>
#include <pylon/Device.h>
#include <pylon/transport/DeviceTransport.h>

#include "PylonStreamGrabber.h"

namespace Pylon::detail {

class CPylonDevice final : public IPylonDevice {
public:
    explicit CPylonDevice(std::unique_ptr<Transport::IDeviceTransport> transport);
    ~CPylonDevice() override;

    using IPylonDevice::Open;
    void Open(AccessModeSet mode = Control | Stream | Event) override;
    void Close() override;
    bool IsOpen() const override;
    AccessModeSet AccessMode() const override;
    const CDeviceInfo& GetDeviceInfo() const override { return info_; }
    uint32_t GetNumStreamGrabberChannels() const override;
    IStreamGrabber* GetStreamGrabber(uint32_t index) override;
    GenApi::INodeMap* GetNodeMap() override;
    GenApi::INodeMap* GetTLNodeMap() override;
    DeviceCallbackHandle RegisterRemovalCallback(DeviceCallback callback) override;
    bool DeregisterRemovalCallback(DeviceCallbackHandle handle) override;
    bool IsRemoved() const override { return removed_; }

private:
    void ThrowIfRemoved(const char* operation) const;
    void OnRemoved();          // transport's removal thread
    void RunRemovalCallbacks(); // SDK callback thread

    const CDeviceInfo info_;
    const String_t serial_;
    std::unique_ptr<Transport::IDeviceTransport> transport_;
    std::unique_ptr<GenApi::NodeMap> tl_node_map_;
    std::atomic<bool> removed_{false}; // set by the removal thread, read by all

    mutable std::mutex mutex_; // guards the members below; caller threads and the callback thread
    bool open_ = false;
    AccessModeSet mode_;
    std::map<DeviceCallbackHandle, DeviceCallback> callbacks_;
    DeviceCallbackHandle next_handle_ = 1;
    // The callback thread while it runs the removal callbacks (default id: none running):
    // deregistration waits for that pass, so a callback's holder may be freed afterwards.
    std::thread::id callbacks_runner_;
    std::condition_variable callbacks_done_;
    std::vector<std::unique_ptr<CPylonStreamGrabber>> grabbers_; // by channel index, created on demand
};

} // namespace Pylon::detail
