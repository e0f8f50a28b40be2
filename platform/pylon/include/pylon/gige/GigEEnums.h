// Enumerations of the standard GigE camera features with their symbolic names, for the
// typed enumeration parameters of CBaslerGigECamera.
#pragma once

#include <pylon/Parameter.h>

namespace Pylon {

enum PixelFormatEnums {
    PixelFormat_Mono8,
    PixelFormat_Mono8Signed,
    PixelFormat_Mono10,
    PixelFormat_Mono10Packed,
    PixelFormat_Mono10p,
    PixelFormat_Mono12,
    PixelFormat_Mono12Packed,
    PixelFormat_Mono12p,
    PixelFormat_Mono16,
    PixelFormat_BayerGR8,
    PixelFormat_BayerRG8,
    PixelFormat_BayerGB8,
    PixelFormat_BayerBG8,
    PixelFormat_BayerGR10,
    PixelFormat_BayerRG10,
    PixelFormat_BayerGB10,
    PixelFormat_BayerBG10,
    PixelFormat_BayerGR12,
    PixelFormat_BayerRG12,
    PixelFormat_BayerGB12,
    PixelFormat_BayerBG12,
    PixelFormat_BayerGR12Packed,
    PixelFormat_BayerRG12Packed,
    PixelFormat_BayerGB12Packed,
    PixelFormat_BayerBG12Packed,
    PixelFormat_BayerGR16,
    PixelFormat_BayerRG16,
    PixelFormat_BayerGB16,
    PixelFormat_BayerBG16,
    PixelFormat_RGB8Packed,
    PixelFormat_BGR8Packed,
    PixelFormat_RGBA8Packed,
    PixelFormat_BGRA8Packed,
    PixelFormat_RGB10Packed,
    PixelFormat_BGR10Packed,
    PixelFormat_RGB12Packed,
    PixelFormat_BGR12Packed,
    PixelFormat_BGR10V1Packed,
    PixelFormat_BGR10V2Packed,
    PixelFormat_RGB12V1Packed,
    PixelFormat_YUV411Packed,
    PixelFormat_YUV422Packed,
    PixelFormat_YUV444Packed,
    PixelFormat_YUV422_YUYV_Packed,
    PixelFormat_RGB8Planar,
    PixelFormat_RGB10Planar,
    PixelFormat_RGB12Planar,
    PixelFormat_RGB16Planar,
};
template <>
struct CEnumNames<PixelFormatEnums> {
    static constexpr const char* names[] = {"Mono8", "Mono8Signed", "Mono10", "Mono10Packed", "Mono10p", "Mono12", "Mono12Packed", "Mono12p", "Mono16", "BayerGR8", "BayerRG8", "BayerGB8", "BayerBG8", "BayerGR10", "BayerRG10", "BayerGB10", "BayerBG10", "BayerGR12", "BayerRG12", "BayerGB12", "BayerBG12", "BayerGR12Packed", "BayerRG12Packed", "BayerGB12Packed", "BayerBG12Packed", "BayerGR16", "BayerRG16", "BayerGB16", "BayerBG16", "RGB8Packed", "BGR8Packed", "RGBA8Packed", "BGRA8Packed", "RGB10Packed", "BGR10Packed", "RGB12Packed", "BGR12Packed", "BGR10V1Packed", "BGR10V2Packed", "RGB12V1Packed", "YUV411Packed", "YUV422Packed", "YUV444Packed", "YUV422_YUYV_Packed", "RGB8Planar", "RGB10Planar", "RGB12Planar", "RGB16Planar"};
};

enum TriggerSelectorEnums {
    TriggerSelector_AcquisitionStart,
    TriggerSelector_AcquisitionEnd,
    TriggerSelector_AcquisitionActive,
    TriggerSelector_FrameStart,
    TriggerSelector_FrameEnd,
    TriggerSelector_FrameActive,
    TriggerSelector_LineStart,
};
template <>
struct CEnumNames<TriggerSelectorEnums> {
    static constexpr const char* names[] = {"AcquisitionStart", "AcquisitionEnd", "AcquisitionActive", "FrameStart", "FrameEnd", "FrameActive", "LineStart"};
};

enum TriggerModeEnums {
    TriggerMode_Off,
    TriggerMode_On,
};
template <>
struct CEnumNames<TriggerModeEnums> {
    static constexpr const char* names[] = {"Off", "On"};
};

enum TriggerSourceEnums {
    TriggerSource_Software,
    TriggerSource_Line1,
    TriggerSource_Line2,
    TriggerSource_Line3,
    TriggerSource_Line4,
    TriggerSource_Action1,
    TriggerSource_Action2,
    TriggerSource_CC1,
    TriggerSource_CC2,
    TriggerSource_CC3,
    TriggerSource_CC4,
};
template <>
struct CEnumNames<TriggerSourceEnums> {
    static constexpr const char* names[] = {"Software", "Line1", "Line2", "Line3", "Line4", "Action1", "Action2", "CC1", "CC2", "CC3", "CC4"};
};

enum TriggerActivationEnums {
    TriggerActivation_RisingEdge,
    TriggerActivation_FallingEdge,
    TriggerActivation_AnyEdge,
    TriggerActivation_LevelHigh,
    TriggerActivation_LevelLow,
};
template <>
struct CEnumNames<TriggerActivationEnums> {
    static constexpr const char* names[] = {"RisingEdge", "FallingEdge", "AnyEdge", "LevelHigh", "LevelLow"};
};

enum AcquisitionModeEnums {
    AcquisitionMode_SingleFrame,
    AcquisitionMode_MultiFrame,
    AcquisitionMode_Continuous,
};
template <>
struct CEnumNames<AcquisitionModeEnums> {
    static constexpr const char* names[] = {"SingleFrame", "MultiFrame", "Continuous"};
};

enum ExposureModeEnums {
    ExposureMode_Off,
    ExposureMode_Timed,
    ExposureMode_TriggerWidth,
    ExposureMode_TriggerControlled,
};
template <>
struct CEnumNames<ExposureModeEnums> {
    static constexpr const char* names[] = {"Off", "Timed", "TriggerWidth", "TriggerControlled"};
};

enum ExposureAutoEnums {
    ExposureAuto_Off,
    ExposureAuto_Once,
    ExposureAuto_Continuous,
};
template <>
struct CEnumNames<ExposureAutoEnums> {
    static constexpr const char* names[] = {"Off", "Once", "Continuous"};
};

enum GainAutoEnums {
    GainAuto_Off,
    GainAuto_Once,
    GainAuto_Continuous,
};
template <>
struct CEnumNames<GainAutoEnums> {
    static constexpr const char* names[] = {"Off", "Once", "Continuous"};
};

enum GainSelectorEnums {
    GainSelector_All,
    GainSelector_AnalogAll,
    GainSelector_DigitalAll,
    GainSelector_Red,
    GainSelector_Green,
    GainSelector_Blue,
};
template <>
struct CEnumNames<GainSelectorEnums> {
    static constexpr const char* names[] = {"All", "AnalogAll", "DigitalAll", "Red", "Green", "Blue"};
};

enum BalanceRatioSelectorEnums {
    BalanceRatioSelector_Red,
    BalanceRatioSelector_Green,
    BalanceRatioSelector_Blue,
};
template <>
struct CEnumNames<BalanceRatioSelectorEnums> {
    static constexpr const char* names[] = {"Red", "Green", "Blue"};
};

enum LineSelectorEnums {
    LineSelector_Line1,
    LineSelector_Line2,
    LineSelector_Line3,
    LineSelector_Line4,
    LineSelector_Out1,
    LineSelector_Out2,
};
template <>
struct CEnumNames<LineSelectorEnums> {
    static constexpr const char* names[] = {"Line1", "Line2", "Line3", "Line4", "Out1", "Out2"};
};

enum UserSetSelectorEnums {
    UserSetSelector_Default,
    UserSetSelector_UserSet1,
    UserSetSelector_UserSet2,
    UserSetSelector_UserSet3,
};
template <>
struct CEnumNames<UserSetSelectorEnums> {
    static constexpr const char* names[] = {"Default", "UserSet1", "UserSet2", "UserSet3"};
};

enum TestImageSelectorEnums {
    TestImageSelector_Off,
    TestImageSelector_Testimage1,
    TestImageSelector_Testimage2,
    TestImageSelector_Testimage3,
};
template <>
struct CEnumNames<TestImageSelectorEnums> {
    static constexpr const char* names[] = {"Off", "Testimage1", "Testimage2", "Testimage3"};
};

} // namespace Pylon
