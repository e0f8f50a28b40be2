// The GigE camera object: a device with typed parameters for the standard features.
#pragma once

#include <atomic>

#include <pylon/Device.h>
#include <GenApi/Pointer.h>
#include <pylon/Parameter.h>
#include <pylon/StreamGrabber.h>
#include <pylon/gige/GigEEnums.h>

namespace Pylon {

class CBaslerGigECamera : public IParameterOwner {
public:
    CBaslerGigECamera();
    explicit CBaslerGigECamera(IPylonDevice* device, bool takeOwnership = true);
    // Destroys an owned device that is still attached through the factory.
    virtual ~CBaslerGigECamera();
    CBaslerGigECamera(const CBaslerGigECamera&) = delete;
    CBaslerGigECamera& operator=(const CBaslerGigECamera&) = delete;

    // Attaches a device created by the factory; an owned device attached before is destroyed.
    void Attach(IPylonDevice* device, bool takeOwnership = true);
    bool IsAttached() const;
    bool HasOwnership() const;
    // The attached device; LogicalErrorException when none is attached.
    IPylonDevice* GetDevice() const;
    // Gives the device up without destroying it; returns it (null when none).
    IPylonDevice* DetachDevice();
    // Detaches and destroys an owned device.
    void DestroyDevice();

    void Open(AccessModeSet mode = Control | Stream | Event);
    void Open(EDeviceAccessMode mode) { Open(AccessModeSet().set(mode)); }
    void Close();
    bool IsOpen() const;
    const CDeviceInfo& GetDeviceInfo() const;
    GenApi::INodeMap* GetNodeMap();
    GenApi::INodeMap* GetTLNodeMap();
    uint32_t GetNumStreamGrabberChannels() const;
    IStreamGrabber* GetStreamGrabber(uint32_t index);

    // Switches the camera's IP configuration between persistent IP and DHCP (the features
    // GevCurrentIPConfigurationPersistentIP and GevCurrentIPConfigurationDHCP where present).
    void ChangeIpConfiguration(bool EnablePersistentIp, bool EnableDhcp);

    GenApi::INodeMap* GetParameterNodeMap() const override;

    // Image format
    CEnumParameterT<PixelFormatEnums> PixelFormat{this, "PixelFormat"};
    CIntegerParameter OffsetX{this, "OffsetX"};
    CIntegerParameter OffsetY{this, "OffsetY"};
    CIntegerParameter Width{this, "Width"};
    CIntegerParameter Height{this, "Height"};
    CIntegerParameter WidthMax{this, "WidthMax"};
    CIntegerParameter HeightMax{this, "HeightMax"};
    CIntegerParameter SensorWidth{this, "SensorWidth"};
    CIntegerParameter SensorHeight{this, "SensorHeight"};
    CIntegerParameter BinningHorizontal{this, "BinningHorizontal"};
    CIntegerParameter BinningVertical{this, "BinningVertical"};
    CBooleanParameter ReverseX{this, "ReverseX"};
    CIntegerParameter PayloadSize{this, "PayloadSize"};
    CEnumParameterT<TestImageSelectorEnums> TestImageSelector{this, "TestImageSelector"};

    // Acquisition and triggers
    CEnumParameterT<AcquisitionModeEnums> AcquisitionMode{this, "AcquisitionMode"};
    CCommandParameter AcquisitionStart{this, "AcquisitionStart"};
    CCommandParameter AcquisitionStop{this, "AcquisitionStop"};
    CIntegerParameter AcquisitionFrameCount{this, "AcquisitionFrameCount"};
    CBooleanParameter AcquisitionFrameRateEnable{this, "AcquisitionFrameRateEnable"};
    CFloatParameter AcquisitionFrameRateAbs{this, "AcquisitionFrameRateAbs"};
    CFloatParameter ResultingFrameRateAbs{this, "ResultingFrameRateAbs"};
    CEnumParameterT<TriggerSelectorEnums> TriggerSelector{this, "TriggerSelector"};
    CEnumParameterT<TriggerModeEnums> TriggerMode{this, "TriggerMode"};
    CEnumParameterT<TriggerSourceEnums> TriggerSource{this, "TriggerSource"};
    CEnumParameterT<TriggerActivationEnums> TriggerActivation{this, "TriggerActivation"};
    CFloatParameter TriggerDelayAbs{this, "TriggerDelayAbs"};
    CFloatParameter TriggerDelay{this, "TriggerDelay"};  // today's standard name of TriggerDelayAbs
    CCommandParameter TriggerSoftware{this, "TriggerSoftware"};

    // Exposure and gain
    CEnumParameterT<ExposureModeEnums> ExposureMode{this, "ExposureMode"};
    CEnumParameterT<ExposureAutoEnums> ExposureAuto{this, "ExposureAuto"};
    CIntegerParameter ExposureTimeRaw{this, "ExposureTimeRaw"};
    CFloatParameter ExposureTimeAbs{this, "ExposureTimeAbs"};
    CEnumParameterT<GainAutoEnums> GainAuto{this, "GainAuto"};
    CEnumParameterT<GainSelectorEnums> GainSelector{this, "GainSelector"};
    CIntegerParameter GainRaw{this, "GainRaw"};
    CIntegerParameter BlackLevelRaw{this, "BlackLevelRaw"};
    CFloatParameter Gamma{this, "Gamma"};

    // Device control and transport
    CStringParameter DeviceVendorName{this, "DeviceVendorName"};
    CStringParameter DeviceModelName{this, "DeviceModelName"};
    CStringParameter DeviceID{this, "DeviceID"};
    CStringParameter DeviceUserID{this, "DeviceUserID"};
    CStringParameter DeviceFirmwareVersion{this, "DeviceFirmwareVersion"};
    CCommandParameter DeviceReset{this, "DeviceReset"};
    CIntegerParameter GevSCPSPacketSize{this, "GevSCPSPacketSize"};
    CIntegerParameter GevSCPD{this, "GevSCPD"};
    CIntegerParameter GevTimestampTickFrequency{this, "GevTimestampTickFrequency"};
    CEnumParameterT<LineSelectorEnums> LineSelector{this, "LineSelector"};
    CEnumParameterT<UserSetSelectorEnums> UserSetSelector{this, "UserSetSelector"};
    CCommandParameter UserSetLoad{this, "UserSetLoad"};
    CCommandParameter UserSetSave{this, "UserSetSave"};
    CIntegerParameter TLParamsLocked{this, "TLParamsLocked"};

private:
    void Forget() noexcept;

    std::atomic<IPylonDevice*> device_{nullptr}; // any thread; cleared by the factory on DestroyDevice
    std::atomic<bool> owned_{false};
};

using Camera_t = CBaslerGigECamera;

} // namespace Pylon
