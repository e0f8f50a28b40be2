// The GigE stream grabber object: forwards to a device's stream grabber and offers its
// parameters as typed members.
#pragma once

#include <pylon/Parameter.h>
#include <pylon/StreamGrabber.h>

namespace Pylon {

class CBaslerGigEStreamGrabber : public IStreamGrabber, public IParameterOwner {
public:
    CBaslerGigEStreamGrabber() = default;
    // The grabber stays owned by its device.
    explicit CBaslerGigEStreamGrabber(IStreamGrabber* grabber) : grabber_(grabber) {}
    CBaslerGigEStreamGrabber(const CBaslerGigEStreamGrabber&) = delete;
    CBaslerGigEStreamGrabber& operator=(const CBaslerGigEStreamGrabber&) = delete;

    void Attach(IStreamGrabber* grabber) { grabber_ = grabber; }
    bool IsAttached() const { return grabber_ != nullptr; }
    IStreamGrabber* GetStreamGrabber() const { return Grabber(); }

    void Open() override { Grabber()->Open(); }
    void Close() override { Grabber()->Close(); }
    bool IsOpen() const override { return grabber_ && grabber_->IsOpen(); }
    StreamBufferHandle RegisterBuffer(void* buffer, size_t size) override { return Grabber()->RegisterBuffer(buffer, size); }
    const void* DeregisterBuffer(StreamBufferHandle handle) override { return Grabber()->DeregisterBuffer(handle); }
    void PrepareGrab() override { Grabber()->PrepareGrab(); }
    void FinishGrab() override { Grabber()->FinishGrab(); }
    void QueueBuffer(StreamBufferHandle handle, const void* context = nullptr) override { Grabber()->QueueBuffer(handle, context); }
    void CancelGrab() override { Grabber()->CancelGrab(); }
    bool RetrieveResult(GrabResult& result) override { return Grabber()->RetrieveResult(result); }
    WaitObject& GetWaitObject() override { return Grabber()->GetWaitObject(); }
    GenApi::INodeMap* GetNodeMap() override { return Grabber()->GetNodeMap(); }

    GenApi::INodeMap* GetParameterNodeMap() const override { return grabber_ ? grabber_->GetNodeMap() : nullptr; }

    CIntegerParameter MaxBufferSize{this, "MaxBufferSize"};
    CIntegerParameter MaxNumBuffer{this, "MaxNumBuffer"};
    CIntegerParameter MaxTransferSize{this, "MaxTransferSize"};

private:
    IStreamGrabber* Grabber() const
    {
        if (!grabber_)
            throw LOGICAL_ERROR_EXCEPTION("No stream grabber attached");
        return grabber_;
    }

    IStreamGrabber* grabber_ = nullptr; // set by the owner's thread before use
};

using StreamGrabber_t = CBaslerGigEStreamGrabber;

} // namespace Pylon
