#include <pylon/TlFactory.h>

#include <pylon/emulator/Emulator.h>
#include <pylon/transport/DeviceTransport.h>

#include "../emulator/EmulatorTransportLayer.h"
#include "CallbackThread.h"
#include "PylonDevice.h"

namespace Pylon {

CTlFactory& CTlFactory::GetInstance()
{
    static CTlFactory instance;
    return instance;
}

CTlFactory::CTlFactory()
{
    // Created before the factory, so destroyed after it: devices destroyed at exit may
    // still cancel their callbacks and disconnect from their cameras.
    Emulator::Instance();
    detail::CallbackThread::Instance();
    layers_.push_back(Emulator::CreateTransportLayer());
}

CTlFactory::~CTlFactory()
{
    std::unordered_map<IPylonDevice*, Entry> devices;
    {
        std::lock_guard lock(mutex_);
        devices.swap(devices_);
        for (auto& [device, entry] : devices)
            if (entry.onDestroy)
                entry.onDestroy();
    }
    devices.clear();
}

void CTlFactory::RegisterTransportLayer(std::shared_ptr<Transport::ITransportLayer> layer)
{
    if (!layer)
        throw INVALID_ARGUMENT_EXCEPTION("RegisterTransportLayer: null transport layer");
    std::lock_guard lock(mutex_);
    layers_.push_back(std::move(layer));
}

int CTlFactory::EnumerateDevices(DeviceInfoList_t& list, bool addToList)
{
    std::vector<std::shared_ptr<Transport::ITransportLayer>> layers;
    {
        std::lock_guard lock(mutex_);
        layers = layers_;
    }
    DeviceInfoList_t found;
    for (const auto& layer : layers)
        layer->EnumerateDevices(found);
    if (!addToList)
        list.clear();
    list.insert(list.end(), found.begin(), found.end());
    return static_cast<int>(found.size());
}

IPylonDevice* CTlFactory::CreateDevice(const CDeviceInfo& info)
{
    std::vector<std::shared_ptr<Transport::ITransportLayer>> layers;
    {
        std::lock_guard lock(mutex_);
        layers = layers_;
    }
    for (const auto& layer : layers) {
        if (!layer->Owns(info))
            continue;
        auto device = std::make_unique<detail::CPylonDevice>(layer->CreateTransport(info));
        IPylonDevice* raw = device.get();
        std::lock_guard lock(mutex_);
        devices_[raw].device = std::move(device);
        return raw;
    }
    throw RUNTIME_EXCEPTION("CreateDevice: no device with serial number '%s' (%s) is known", info.GetSerialNumber().c_str(),
                            info.GetFullName().c_str());
}

void CTlFactory::DestroyDevice(IPylonDevice* device)
{
    std::unique_ptr<IPylonDevice> doomed;
    {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(device);
        if (it == devices_.end())
            return;
        if (it->second.onDestroy)
            it->second.onDestroy();
        doomed = std::move(it->second.device);
        devices_.erase(it);
    }
    doomed.reset(); // closes the device, outside the lock
}

bool CTlFactory::SetDeviceHolder(IPylonDevice* device, void* holder, std::function<void()> onDestroy)
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(device);
    if (it == devices_.end())
        return false;
    it->second.holder = holder;
    it->second.onDestroy = std::move(onDestroy);
    return true;
}

void CTlFactory::ClearDeviceHolder(IPylonDevice* device, void* holder)
{
    std::lock_guard lock(mutex_);
    auto it = devices_.find(device);
    if (it != devices_.end() && it->second.holder == holder) {
        it->second.holder = nullptr;
        it->second.onDestroy = nullptr;
    }
}

} // namespace Pylon
