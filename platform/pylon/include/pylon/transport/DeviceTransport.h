// The interface between the Pylon layer (factory, devices, stream grabbers) and a
// transport layer that reaches cameras. The in-process emulator implements it; a GigE
// Vision transport implements the same, so nothing above this interface knows which
// one it talks to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include <GenApi/Interfaces.h>
#include <pylon/DeviceInfo.h>
#include <pylon/PixelType.h>

namespace Pylon::Transport {

// What the camera says about one frame.
struct FrameHeader {
    EPixelType pixelType = PixelType_Undefined;
    uint32_t sizeX = 0;
    uint32_t sizeY = 0;
    uint32_t offsetX = 0;
    uint32_t offsetY = 0;
    uint32_t paddingX = 0;
    uint64_t blockId = 0;
    uint64_t timeStamp = 0;
};

// Counters of a streaming channel, summed since the channel was made.
struct StreamStatistics {
    uint64_t underruns = 0;      // frames lost inside the transport for want of a queued buffer
    uint64_t missingPackets = 0; // packets that never arrived, also after resend requests
    uint64_t resentPackets = 0;  // packets that arrived after a resend request
    uint64_t resendRequests = 0; // resend requests sent for packets that did not arrive
};

// Copies one frame into `destination` (of `capacity` bytes) and returns the bytes
// written; a frame larger than the buffer is cut at `capacity`.
using FrameWriter = std::function<size_t(uint8_t* destination, size_t capacity)>;

// Receives the frames of a streaming channel; implemented by the stream grabber.
// Called on the transport's own thread.
class IStreamSink {
public:
    virtual ~IStreamSink() = default;
    // Fills the oldest queued buffer. False when no buffer is queued (the frame is lost).
    virtual bool DeliverFrame(const FrameHeader& header, const FrameWriter& write) = 0;
    // Returns the oldest queued buffer as Failed. False when no buffer is queued.
    virtual bool DeliverFailure(const FrameHeader& header, uint32_t errorCode, const GenICam::gcstring& description) = 0;
    // The frame has landed in `memory`, a buffer handed to IStreamChannel::QueueBuffer:
    // `payloadSize` bytes, complete or not (`errorCode` and `description` say what is
    // missing). False when the sink does not hold that buffer queued.
    virtual bool DeliverInPlace(void* memory, const FrameHeader& header, size_t payloadSize, bool complete,
                                uint32_t errorCode, const GenICam::gcstring& description) = 0;
};

// One streaming channel of a device.
class IStreamChannel {
public:
    virtual ~IStreamChannel() = default;
    // Frames go to `sink` from now on; null detaches. Detaching waits until a delivery
    // in progress has finished, so the sink may be destroyed afterwards.
    virtual void SetSink(IStreamSink* sink) = 0;
    // The largest frame the camera sends with its present settings (bytes).
    virtual size_t PayloadSize() = 0;

    // The sink's buffers, in the order the sink queues them. A channel that receives
    // frames itself (over the network) lands each frame straight in the next of these
    // and hands it back through IStreamSink::DeliverInPlace, with no copy; a channel that
    // writes its frames at delivery (the emulator) takes DeliverFrame's way instead and
    // ignores these. Called with a sink attached.
    virtual void QueueBuffer(void* memory, size_t size) = 0;
    // Takes back every buffer queued and not yet delivered: on return the channel writes
    // none of them any more, and delivers none of them. Must not be called from a delivery.
    virtual void CancelBuffers() = 0;
    virtual StreamStatistics Statistics() = 0;
};

// An opened connection to one device.
class IDeviceTransport {
public:
    virtual ~IDeviceTransport() = default;

    virtual const CDeviceInfo& DeviceInfo() const = 0;

    // Takes control of the device. Throws RuntimeException when the device is gone and
    // AccessException when another connection holds it.
    virtual void Open() = 0;
    // Gives control back; safe at any time, also after removal.
    virtual void Close() noexcept = 0;
    virtual bool IsOpen() const = 0;

    // The camera's features (valid while the connection lives).
    virtual GenApi::INodeMap* NodeMap() = 0;

    // Raw register access; transports without registers throw LogicalErrorException.
    virtual void ReadRegister(uint64_t address, void* buffer, size_t length) = 0;
    virtual void WriteRegister(uint64_t address, const void* buffer, size_t length) = 0;

    virtual uint32_t NumStreamChannels() const = 0;
    virtual IStreamChannel* StreamChannel(uint32_t index) = 0;

    // True once the device has gone away; a removed connection never comes back.
    virtual bool IsRemoved() const = 0;
    // Called once, on a transport thread or on the thread that removed the device,
    // when the device goes away. Null clears; clearing waits for a call in progress.
    virtual void SetRemovalListener(std::function<void()> listener) = 0;
};

// A transport layer: finds devices and connects to them.
class ITransportLayer {
public:
    virtual ~ITransportLayer() = default;
    // Appends the devices present now, in the order they appeared.
    virtual void EnumerateDevices(DeviceInfoList_t& list) = 0;
    // True when `info` describes a device of this layer (present or not).
    virtual bool Owns(const CDeviceInfo& info) const = 0;
    // A new connection to the device. Throws RuntimeException naming the serial number
    // when the device is not present.
    virtual std::unique_ptr<IDeviceTransport> CreateTransport(const CDeviceInfo& info) = 0;
};

} // namespace Pylon::Transport
