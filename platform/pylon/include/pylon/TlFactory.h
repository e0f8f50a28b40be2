// The transport-layer factory: enumerates the devices of every registered transport
// layer and creates and destroys device objects. The in-process emulator is registered
// as the embedded default transport layer.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <pylon/Device.h>
#include <pylon/DeviceInfo.h>

namespace Pylon {

namespace Transport {
class ITransportLayer;
}

class CTlFactory {
public:
    static CTlFactory& GetInstance();

    // All plugged-in devices of all transport layers, in plug order. Without `addToList`
    // the list is cleared first. Returns the number of devices found.
    int EnumerateDevices(DeviceInfoList_t& list, bool addToList = false);

    // Throws RuntimeException naming the serial number when the device is gone or unknown.
    IPylonDevice* CreateDevice(const CDeviceInfo& info);

    // Closes and deletes the device. Safe for removed devices; a camera object that holds
    // the device is detached from it first. Unknown pointers are ignored.
    void DestroyDevice(IPylonDevice* device);

    // Adds a transport layer after those registered so far (the emulator comes first).
    void RegisterTransportLayer(std::shared_ptr<Transport::ITransportLayer> layer);

    // Called by camera objects: `onDestroy` runs when the device is destroyed through the
    // factory, so the holder forgets it. It runs under the factory's lock and must not
    // call back into the factory. Returns false for a device the factory does not know.
    bool SetDeviceHolder(IPylonDevice* device, void* holder, std::function<void()> onDestroy);
    void ClearDeviceHolder(IPylonDevice* device, void* holder);

    ~CTlFactory();
    CTlFactory(const CTlFactory&) = delete;
    CTlFactory& operator=(const CTlFactory&) = delete;

private:
    CTlFactory();

    struct Entry {
        std::unique_ptr<IPylonDevice> device;
        void* holder = nullptr;
        std::function<void()> onDestroy;
    };

    std::mutex mutex_; // guards layers_ and devices_; any caller thread
    std::vector<std::shared_ptr<Transport::ITransportLayer>> layers_;
    std::unordered_map<IPylonDevice*, Entry> devices_;
};

} // namespace Pylon
