// The stream grabber of one streaming channel of a device.
//
// Usage: Open(); set MaxBufferSize and MaxNumBuffer on its node map; PrepareGrab();
// RegisterBuffer() up to MaxNumBuffer times with buffers of at most MaxBufferSize bytes;
// QueueBuffer() each; then wait on GetWaitObject() and RetrieveResult() and queue the
// buffer again. CancelGrab() returns every queued buffer as Canceled. To end: CancelGrab(),
// retrieve, DeregisterBuffer() each, FinishGrab(), Close().
//
// Errors in this order raise LogicalErrorException; a removed device raises
// RuntimeException on the operations that feed the stream, while Cancel, Retrieve,
// Deregister, Finish and Close keep working so that the caller can clean up.
#pragma once

#include <cstddef>

#include <GenApi/Interfaces.h>
#include <pylon/GrabResult.h>
#include <pylon/WaitObject.h>

namespace Pylon {

class IStreamGrabber {
public:
    virtual ~IStreamGrabber() = default;

    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;

    virtual StreamBufferHandle RegisterBuffer(void* buffer, size_t size) = 0;
    // Returns the buffer's memory pointer. The buffer must not be queued.
    virtual const void* DeregisterBuffer(StreamBufferHandle handle) = 0;

    virtual void PrepareGrab() = 0;
    virtual void FinishGrab() = 0;

    virtual void QueueBuffer(StreamBufferHandle handle, const void* context = nullptr) = 0;
    // Moves every queued buffer to the output queue with status Canceled.
    virtual void CancelGrab() = 0;
    // False when the output queue is empty.
    virtual bool RetrieveResult(GrabResult& result) = 0;
    virtual WaitObject& GetWaitObject() = 0;

    // Parameters of the grabber ("MaxBufferSize", "MaxNumBuffer", ...).
    virtual GenApi::INodeMap* GetNodeMap() = 0;
};

} // namespace Pylon
