// Test fixture: one open emulated camera with its stream grabber set up.
#pragma once

#include <memory>
#include <vector>

#include "EmulatorFixture.h"

namespace pylon_test {

class GrabTest : public EmulatorTest {
protected:
    static constexpr const char* kSerial = "5001";

    void OpenCamera(const std::string& model = "mono_area_1280x1024.xml")
    {
        Plug(kSerial, model);
        camera = std::make_unique<Pylon::Camera_t>(Pylon::CTlFactory::GetInstance().CreateDevice(InfoOf(kSerial)));
        camera->Open();
    }

    // Small frames: cheap to check. (The models' exposure and rate limits set the pace.)
    void SmallFastFrames(int64_t width = 64, int64_t height = 32)
    {
        camera->Width = width;
        camera->Height = height;
    }

    // MaxBufferSize/MaxNumBuffer, PrepareGrab, register and queue `count` buffers.
    void PrepareGrab(int count = 4)
    {
        grabber.Attach(camera->GetStreamGrabber(0));
        grabber.Open();
        payload = static_cast<size_t>(camera->PayloadSize.GetValue());
        grabber.MaxBufferSize = static_cast<int64_t>(payload);
        grabber.MaxNumBuffer = count;
        grabber.PrepareGrab();
        for (int i = 0; i < count; ++i) {
            buffers.push_back(std::make_unique<uint8_t[]>(payload));
            handles.push_back(grabber.RegisterBuffer(buffers.back().get(), payload));
            grabber.QueueBuffer(handles.back(), reinterpret_cast<const void*>(static_cast<intptr_t>(i + 1)));
        }
    }

    // Waits for one result; false on timeout.
    bool Next(Pylon::GrabResult& result, unsigned timeout_ms = 3000)
    {
        if (!grabber.GetWaitObject().Wait(timeout_ms))
            return false;
        return grabber.RetrieveResult(result);
    }

    void StopGrab()
    {
        if (!grabber.IsAttached())
            return;
        grabber.CancelGrab();
        Pylon::GrabResult r;
        while (grabber.GetWaitObject().Wait(0))
            grabber.RetrieveResult(r);
        for (auto h : handles)
            grabber.DeregisterBuffer(h);
        handles.clear();
        grabber.FinishGrab();
        grabber.Close();
    }

    void TearDown() override
    {
        try {
            if (camera && camera->IsOpen() && !camera->GetDevice()->IsRemoved() && camera->AcquisitionStop.IsPresent())
                camera->AcquisitionStop.Execute();
            StopGrab();
        } catch (const GenICam::GenericException&) {
        }
        camera.reset();
        buffers.clear();
        EmulatorTest::TearDown();
    }

    std::unique_ptr<Pylon::Camera_t> camera;
    Pylon::StreamGrabber_t grabber;
    size_t payload = 0;
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    std::vector<Pylon::StreamBufferHandle> handles;
};

} // namespace pylon_test
