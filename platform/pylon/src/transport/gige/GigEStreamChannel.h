// The stream channel of an opened GigE Vision camera. Frames land straight in the grab
// buffers the stream grabber queued (each wrapped by a buffer object of the protocol
// library over that memory), with packet resend; the protocol library's receiving
// thread hands each finished buffer to the sink.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <GenApi/NodeMapFactory.h>
#include <pylon/transport/DeviceTransport.h>

typedef struct _ArvStream ArvStream;
typedef struct _ArvBuffer ArvBuffer;

namespace Pylon::Transport::GigE {

class GigEConnection;

class GigEStreamChannel final : public IStreamChannel {
public:
    // `connection` and `map` (the camera's node map) outlive the channel.
    GigEStreamChannel(GigEConnection& connection, GenApi::NodeMap& map, std::string serial);
    ~GigEStreamChannel() override;
    GigEStreamChannel(const GigEStreamChannel&) = delete;
    GigEStreamChannel& operator=(const GigEStreamChannel&) = delete;

    // A sink opens the camera's stream channel (towards this host) and a null sink closes
    // it. Throws RuntimeException naming the camera when the channel does not open.
    void SetSink(IStreamSink* sink) override;
    size_t PayloadSize() override;
    void QueueBuffer(void* memory, size_t size) override;
    void CancelBuffers() override;
    StreamStatistics Statistics() override;

    // The library's receiving thread: a finished buffer goes to the sink.
    static void OnStreamEvent(void* self, int type, ArvBuffer* buffer);

private:
    void Deliver(ArvBuffer* buffer);                                   // receiving thread
    ArvStream* TakeStream();                                           // caller holds mutex_
    void DropFinishedBuffers(ArvStream* stream);                      // caller holds mutex_

    GigEConnection& connection_;
    GenApi::NodeMap& map_;
    const std::string serial_;
    std::atomic<IStreamSink*> sink_{nullptr}; // set by caller threads; read by the receiving thread
    // Guards the members below (caller threads) and the finished buffer wrappers in the
    // library's output queue (released by caller threads, read by the receiving thread).
    // Never held while the sink is called or while the receiving thread is waited for.
    std::mutex mutex_;
    ArvStream* stream_ = nullptr;             // a reference of ours; others are taken while in use
    StreamStatistics closed_;                 // counts of the streams closed so far
    // Guarded by mutex_; queued on the camera thread, taken by the receiving thread.
    // Wrappers of queued grab buffers that the receiving thread has not told us of yet,
    // each holding a reference of ours: the library puts a finished wrapper into its
    // output queue before it tells us, and a caller releasing the finished wrappers may
    // come in between; without this reference the delivery read a released wrapper.
    std::unordered_set<ArvBuffer*> undelivered_;
    // Serialises the stop and restart of the receiving thread in CancelBuffers, which the
    // camera thread (a frame that does not come) and the library's heartbeat thread (the
    // camera's removal) may call at once: interleaved, one caller joined the thread the
    // other had just started, whose stop nobody asked for, and waited for ever. Held only
    // around that stop and restart; the receiving thread never takes it.
    std::mutex restartMutex_;
};

} // namespace Pylon::Transport::GigE
