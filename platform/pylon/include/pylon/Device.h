// A device as created by the transport-layer factory. Once a device has been removed
// (unplugged, reset), every access to it, its node map, writes to its nodes and the
// stream grabber operations that feed the stream raise GenICam::RuntimeException
// "Device ... has been removed" (values already read stay readable through node pointers
// taken before); Close() and the factory's DestroyDevice() stay safe.
#pragma once

#include <cstdint>

#include <GenApi/Interfaces.h>
#include <pylon/Callback.h>
#include <pylon/DeviceAccessMode.h>
#include <pylon/DeviceInfo.h>

namespace Pylon {

class IStreamGrabber;

class IPylonDevice {
public:
    virtual ~IPylonDevice() = default;

    virtual void Open(AccessModeSet mode = Control | Stream | Event) = 0;
    // One mode alone (an enumerator would otherwise convert to a bit set of its value).
    void Open(EDeviceAccessMode mode) { Open(AccessModeSet().set(mode)); }
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual AccessModeSet AccessMode() const = 0;
    virtual const CDeviceInfo& GetDeviceInfo() const = 0;

    virtual uint32_t GetNumStreamGrabberChannels() const = 0;
    // Owned by the device; the same object for the same index while the device lives.
    virtual IStreamGrabber* GetStreamGrabber(uint32_t index) = 0;

    // The camera's features. Throws LogicalErrorException while the device is not open.
    virtual GenApi::INodeMap* GetNodeMap() = 0;
    // Parameters of the transport layer for this device.
    virtual GenApi::INodeMap* GetTLNodeMap() = 0;

    virtual DeviceCallbackHandle RegisterRemovalCallback(DeviceCallback callback) = 0;
    // False when the handle is unknown (or was deregistered already).
    virtual bool DeregisterRemovalCallback(DeviceCallbackHandle handle) = 0;

    // True once the device has been removed; never throws.
    virtual bool IsRemoved() const = 0;
};

// Registers a member function of `client` as removal callback of `device`.
template <class C>
DeviceCallbackHandle RegisterRemovalCallback(IPylonDevice* device, C& client, void (C::*member)(IPylonDevice*))
{
    C* target = &client;
    return device->RegisterRemovalCallback([target, member](IPylonDevice* d) { (target->*member)(d); });
}

// Registers a plain function as removal callback of `device`.
inline DeviceCallbackHandle RegisterRemovalCallback(IPylonDevice* device, void (*function)(IPylonDevice*))
{
    return device->RegisterRemovalCallback(function);
}

} // namespace Pylon
