// The stream grabber of one streaming channel: registered buffers, the input queue the
// camera fills, the output queue the caller retrieves from.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <GenApi/NodeMapFactory.h>
#include <pylon/StreamGrabber.h>
#include <pylon/transport/DeviceTransport.h>

namespace Pylon::detail {

class CPylonStreamGrabber final : public IStreamGrabber, public Transport::IStreamSink {
public:
    // `serial` names the device in messages; `deviceMap` is the camera's node map (its
    // TLParamsLocked is held at 1 while a grab is prepared when AcquisitionStart needs
    // it), valid as long as the grabber.
    CPylonStreamGrabber(Transport::IStreamChannel& channel, String_t serial, const std::atomic<bool>& removed,
                        GenApi::INodeMap* deviceMap);
    ~CPylonStreamGrabber() override;

    void Open() override;
    void Close() override;
    bool IsOpen() const override;
    StreamBufferHandle RegisterBuffer(void* buffer, size_t size) override;
    const void* DeregisterBuffer(StreamBufferHandle handle) override;
    void PrepareGrab() override;
    void FinishGrab() override;
    void QueueBuffer(StreamBufferHandle handle, const void* context = nullptr) override;
    void CancelGrab() override;
    bool RetrieveResult(GrabResult& result) override;
    WaitObject& GetWaitObject() override { return wait_object_; }
    GenApi::INodeMap* GetNodeMap() override;

    // Transport::IStreamSink, on the transport's thread.
    bool DeliverFrame(const Transport::FrameHeader& header, const Transport::FrameWriter& write) override;
    bool DeliverFailure(const Transport::FrameHeader& header, uint32_t errorCode, const GenICam::gcstring& description) override;
    bool DeliverInPlace(void* memory, const Transport::FrameHeader& header, size_t payloadSize, bool complete,
                        uint32_t errorCode, const GenICam::gcstring& description) override;

    // The device went away: queued buffers come back as Canceled, waiters wake up.
    void OnDeviceRemoved();

private:
    struct Buffer {
        void* memory;
        size_t size;
        EGrabStatus state; // Idle, Queued (input queue), Grabbed (output queue)
        const void* context;
    };

    void ThrowIfRemoved(const char* operation) const;
    void RefreshStatistics();
    void LockTransportParameters(bool locked) noexcept;
    Buffer* Find(StreamBufferHandle handle, const char* operation); // caller holds the lock
    void PushResult(GrabResult&& result);                              // caller holds the lock
    void CancelLocked();
    void FinishLocked(std::unique_lock<std::mutex>& lock);

    Transport::IStreamChannel& channel_;
    const String_t serial_;
    const std::atomic<bool>& removed_;     // the device's flag
    GenApi::INodeMap* const device_map_;   // the camera's node map (its own lock)
    bool holds_tl_locked_ = false;         // TLParamsLocked set by PrepareGrab; caller thread
    std::unique_ptr<GenApi::NodeMap> node_map_;

    std::shared_ptr<WaitState> state_;     // its mutex guards everything below; caller threads and the transport thread
    WaitObject wait_object_;
    bool open_ = false;
    bool prepared_ = false;
    int64_t max_buffer_size_ = 0;          // taken at PrepareGrab
    int64_t max_num_buffer_ = 0;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::deque<Buffer*> input_;
    std::deque<GrabResult> output_;
    uint64_t delivered_ = 0;               // frames delivered into buffers, complete or not
    uint64_t failed_ = 0;                  // of those, incomplete or broken
    uint64_t underruns_ = 0;               // frames that found no queued buffer
};

} // namespace Pylon::detail
