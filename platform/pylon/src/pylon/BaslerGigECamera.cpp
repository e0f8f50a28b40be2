#include <pylon/gige/BaslerGigECamera.h>

#include <GenApi/Pointer.h>
#include <pylon/TlFactory.h>

namespace Pylon {

CBaslerGigECamera::CBaslerGigECamera() = default;

CBaslerGigECamera::CBaslerGigECamera(IPylonDevice* device, bool takeOwnership) { Attach(device, takeOwnership); }

CBaslerGigECamera::~CBaslerGigECamera()
{
    try {
        DestroyDevice();
        DetachDevice();
    } catch (...) {
    }
}

void CBaslerGigECamera::Attach(IPylonDevice* device, bool takeOwnership)
{
    if (device == device_.load()) {
        owned_ = takeOwnership;
        return;
    }
    DestroyDevice();
    DetachDevice();
    if (!device)
        return;
    // The factory tells us when somebody destroys the device behind our back.
    CTlFactory::GetInstance().SetDeviceHolder(device, this, [this] { Forget(); });
    device_ = device;
    owned_ = takeOwnership;
}

void CBaslerGigECamera::Forget() noexcept
{
    device_ = nullptr;
    owned_ = false;
}

bool CBaslerGigECamera::IsAttached() const { return device_.load() != nullptr; }

bool CBaslerGigECamera::HasOwnership() const { return owned_ && IsAttached(); }

IPylonDevice* CBaslerGigECamera::GetDevice() const
{
    IPylonDevice* device = device_.load();
    if (!device)
        throw LOGICAL_ERROR_EXCEPTION("The camera object has no device attached");
    return device;
}

IPylonDevice* CBaslerGigECamera::DetachDevice()
{
    IPylonDevice* device = device_.exchange(nullptr);
    owned_ = false;
    if (device)
        CTlFactory::GetInstance().ClearDeviceHolder(device, this);
    return device;
}

void CBaslerGigECamera::DestroyDevice()
{
    if (!HasOwnership())
        return;
    IPylonDevice* device = DetachDevice();
    if (device)
        CTlFactory::GetInstance().DestroyDevice(device);
}

void CBaslerGigECamera::Open(AccessModeSet mode) { GetDevice()->Open(mode); }

void CBaslerGigECamera::Close()
{
    if (IPylonDevice* device = device_.load())
        device->Close();
}

bool CBaslerGigECamera::IsOpen() const
{
    IPylonDevice* device = device_.load();
    return device && device->IsOpen();
}

const CDeviceInfo& CBaslerGigECamera::GetDeviceInfo() const { return GetDevice()->GetDeviceInfo(); }

GenApi::INodeMap* CBaslerGigECamera::GetNodeMap() { return GetDevice()->GetNodeMap(); }

GenApi::INodeMap* CBaslerGigECamera::GetTLNodeMap() { return GetDevice()->GetTLNodeMap(); }

uint32_t CBaslerGigECamera::GetNumStreamGrabberChannels() const { return GetDevice()->GetNumStreamGrabberChannels(); }

IStreamGrabber* CBaslerGigECamera::GetStreamGrabber(uint32_t index) { return GetDevice()->GetStreamGrabber(index); }

GenApi::INodeMap* CBaslerGigECamera::GetParameterNodeMap() const
{
    IPylonDevice* device = device_.load();
    if (!device || !device->IsOpen())
        return nullptr;
    return device->GetNodeMap();
}

void CBaslerGigECamera::ChangeIpConfiguration(bool EnablePersistentIp, bool EnableDhcp)
{
    GenApi::INodeMap* map = GetNodeMap();
    auto set = [map](const char* name, bool value) {
        auto* node = dynamic_cast<GenApi::IBoolean*>(map->GetNode(name));
        if (node && GenApi::IsWritable(node))
            node->SetValue(value);
    };
    set("GevCurrentIPConfigurationPersistentIP", EnablePersistentIp);
    set("GevCurrentIPConfigurationDHCP", EnableDhcp);
}

} // namespace Pylon
