// Everything a user of the camera SDK needs.
#pragma once

#include <GenApi/GenApi.h>
#include <pylon/PylonBase.h>
#include <pylon/PixelType.h>
#include <pylon/DeviceInfo.h>
#include <pylon/DeviceAccessMode.h>
#include <pylon/Callback.h>
#include <pylon/Device.h>
#include <pylon/TlFactory.h>
#include <pylon/Parameter.h>
#include <pylon/WaitObject.h>
#include <pylon/GrabResult.h>
#include <pylon/StreamGrabber.h>
#include <pylon/gige/GigEEnums.h>
#include <pylon/gige/BaslerGigECamera.h>
#include <pylon/gige/BaslerGigEStreamGrabber.h>
#if __has_include(<pylon/PixelTypeMapper.h>)
#include <pylon/PixelTypeMapper.h>
#endif
#if __has_include(<pylon/Image.h>)
#include <pylon/Image.h>
#include <pylon/GrabResultImage.h>
#endif
#if __has_include(<pylon/ImageFormatConverter.h>)
#include <pylon/ImageFormatConverter.h>
#endif
#if __has_include(<pylon/FeaturePersistence.h>)
#include <pylon/FeaturePersistence.h>
#endif
