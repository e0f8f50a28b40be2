// Cameras of today's standard feature naming lack some features of the older naming that
// the set-up and the acquisition start use (WidthMax, TriggerDelayAbs, ExposureMode, ...).
// What stands in for each of them, and the one line per camera set-up that says so.
#include <mirva/server.h>

#include "eq_pylon.h"

int64_t EqFctPylon::camera_largest_size(bool horizontal, const char** feature)
{
    Pylon::CIntegerParameter& max = horizontal ? pCamera->WidthMax : pCamera->HeightMax;
    Pylon::CIntegerParameter& size = horizontal ? pCamera->Width : pCamera->Height;
    if (max.IsPresent() || !size.IsPresent()) {
        if (feature)
            *feature = max.GetFeatureName();
        return max.GetValue();  // names WidthMax when the camera has neither
    }
    if (feature)
        *feature = size.GetFeatureName();
    // The maximum of Width never exceeds the image (it may be less by the current offset,
    // on cameras whose offset limits the width); a Width that cannot be set is the only
    // size the camera gives.
    return GenApi::IsWritable(size) ? size.GetMax() : size.GetValue();
}

void EqFctPylon::camera_print_stand_ins()
{
    auto note = [this](const char* feature, const char* what) {
        printftostderr(name(), "camera_init() %s: not on this camera, %s", feature, what);
    };
    for (bool horizontal : {true, false}) {
        Pylon::CIntegerParameter& max = horizontal ? pCamera->WidthMax : pCamera->HeightMax;
        Pylon::CIntegerParameter& size = horizontal ? pCamera->Width : pCamera->Height;
        if (max.IsPresent() || !size.IsPresent())
            continue;
        if (GenApi::IsWritable(size))
            note(max.GetFeatureName(), horizontal ? "the maximum of Width stands in" : "the maximum of Height stands in");
        else
            note(max.GetFeatureName(), horizontal ? "Width stands in (it cannot be set)" : "Height stands in (it cannot be set)");
    }
    if (!pCamera->OffsetX.IsPresent())
        note("OffsetX", "nothing to set (the image starts at its left edge)");
    if (!pCamera->OffsetY.IsPresent())
        note("OffsetY", "nothing to set (the image starts at its top edge)");
    if (pCamera->TriggerSelector.IsPresent() && !pCamera->TriggerDelayAbs.IsPresent())
        note("TriggerDelayAbs", pCamera->TriggerDelay.IsPresent() ? "TriggerDelay stands in" : "nothing to set");
    if (!pCamera->TriggerActivation.IsPresent())
        note("TriggerActivation", "nothing to set");
    if (!pCamera->ExposureMode.IsPresent())
        note("ExposureMode", "nothing to set");
    if (!pCamera->ExposureTimeRaw.IsPresent())
        note("ExposureTimeRaw", "nothing to set at the start");
}
