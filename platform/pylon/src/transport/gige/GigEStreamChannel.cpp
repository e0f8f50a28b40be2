#include "transport/gige/GigEStreamChannel.h"

#include <arv.h>

#include <utility>

#include <GenICam/GCException.h>

#include "transport/gige/GigEConnection.h"

namespace Pylon::Transport::GigE {

namespace {

// Error codes of incomplete frames: this transport's prefix and the protocol library's
// buffer status.
constexpr uint32_t kIncompleteFrame = 0xE1000100u;

const char* StatusText(ArvBufferStatus status)
{
    switch (status) {
    case ARV_BUFFER_STATUS_TIMEOUT: return "the frame's packets stopped before its end";
    case ARV_BUFFER_STATUS_MISSING_PACKETS: return "packets of the frame are missing, also after resend requests";
    case ARV_BUFFER_STATUS_WRONG_PACKET_ID: return "a packet of the frame carried a wrong packet id";
    case ARV_BUFFER_STATUS_SIZE_MISMATCH: return "the frame is larger than the grab buffer";
    case ARV_BUFFER_STATUS_CLEARED: return "the frame was cleared";
    default: return "the frame is incomplete";
    }
}

// The receiving thread's callback, with the exact signature the library calls.
void StreamEvent(void* self, ArvStreamCallbackType type, ArvBuffer* buffer)
{
    GigEStreamChannel::OnStreamEvent(self, static_cast<int>(type), buffer);
}

// Adds the counts of `stream` (since it was made) to `sum`.
void AddCounts(ArvStream* stream, StreamStatistics& sum)
{
    guint64 completed = 0, failures = 0, underruns = 0, resent = 0, missing = 0;
    arv_stream_get_statistics(stream, &completed, &failures, &underruns);
    arv_gv_stream_get_statistics(ARV_GV_STREAM(stream), &resent, &missing);
    sum.underruns += underruns;
    sum.resentPackets += resent;
    sum.missingPackets += missing;
    sum.resendRequests += arv_stream_get_info_uint64_by_name(stream, "n_resend_requests");
}

bool CarriesImage(ArvBuffer* buffer)
{
    const ArvBufferPayloadType type = arv_buffer_get_payload_type(buffer);
    return type == ARV_BUFFER_PAYLOAD_TYPE_IMAGE || type == ARV_BUFFER_PAYLOAD_TYPE_EXTENDED_CHUNK_DATA;
}

} // namespace

GigEStreamChannel::GigEStreamChannel(GigEConnection& connection, GenApi::NodeMap& map, std::string serial)
    : connection_(connection), map_(map), serial_(std::move(serial))
{
}

GigEStreamChannel::~GigEStreamChannel()
{
    SetSink(nullptr);
}

void GigEStreamChannel::OnStreamEvent(void* self, int type, ArvBuffer* buffer)
{
    if (type == ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE && buffer)
        static_cast<GigEStreamChannel*>(self)->Deliver(buffer);
}

void GigEStreamChannel::Deliver(ArvBuffer* buffer)
{
    // The library puts a finished buffer into its output queue before it tells us, and a
    // caller thread queueing a grab buffer releases the wrappers it finds there: everything
    // is read from the wrapper under mutex_, which that release holds too, and the sink is
    // told after, without it (the sink's lock is taken before mutex_ when buffers are queued).
    ArvBufferStatus status;
    void* memory = nullptr;
    FrameHeader header;
    size_t payload = 0;
    {
        std::lock_guard lock(mutex_);
        if (undelivered_.erase(buffer) == 0)
            return; // not queued on this channel's open stream any more: not read
        // Ours until the end of this scope, whoever released the library's reference.
        struct Release {
            ArvBuffer* wrapper;
            ~Release() { g_object_unref(wrapper); }
        } release{buffer};
        status = arv_buffer_get_status(buffer);
        if (status == ARV_BUFFER_STATUS_ABORTED)
            return; // taken back by CancelBuffers: the sink cancels it itself
        size_t capacity = 0;
        memory = const_cast<void*>(arv_buffer_get_data(buffer, &capacity));
        // The image's geometry only of a whole frame: in an incomplete one the library may
        // not know the image part at all.
        if (status == ARV_BUFFER_STATUS_SUCCESS && CarriesImage(buffer)) {
            gint x = 0, y = 0, width = 0, height = 0, padding_x = 0, padding_y = 0;
            arv_buffer_get_image_region(buffer, &x, &y, &width, &height);
            arv_buffer_get_image_padding(buffer, &padding_x, &padding_y);
            // The protocol's pixel format codes are the SDK's pixel type values.
            header.pixelType = static_cast<EPixelType>(arv_buffer_get_image_pixel_format(buffer));
            header.sizeX = static_cast<uint32_t>(width);
            header.sizeY = static_cast<uint32_t>(height);
            header.offsetX = static_cast<uint32_t>(x);
            header.offsetY = static_cast<uint32_t>(y);
            header.paddingX = static_cast<uint32_t>(padding_x);
            arv_buffer_get_image_data(buffer, &payload);
        }
        header.blockId = arv_buffer_get_frame_id(buffer);
        header.timeStamp = arv_buffer_get_timestamp(buffer);
    }
    IStreamSink* sink = sink_.load();
    if (!sink)
        return;
    const bool complete = status == ARV_BUFFER_STATUS_SUCCESS;
    sink->DeliverInPlace(memory, header, payload, complete, complete ? 0 : kIncompleteFrame + static_cast<uint32_t>(status),
                         complete ? "" : StatusText(status));
}

void GigEStreamChannel::SetSink(IStreamSink* sink)
{
    ArvStream* closing = nullptr;
    std::unordered_set<ArvBuffer*> undelivered;
    {
        std::lock_guard lock(mutex_);
        if (sink) {
            sink_ = sink;
            if (stream_)
                return;
            GError* error = nullptr;
            stream_ = arv_device_create_stream(connection_.Device(), StreamEvent, this, &error);
            if (!stream_) {
                sink_ = nullptr;
                const std::string why = error ? error->message : "no stream channel";
                if (error)
                    g_error_free(error);
                throw RUNTIME_EXCEPTION("GigE camera '%s' at %s: its stream channel does not open: %s", serial_.c_str(),
                                        connection_.Address().c_str(), why.c_str());
            }
            g_object_set(stream_, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_ALWAYS, "socket-buffer",
                         ARV_GV_STREAM_SOCKET_BUFFER_AUTO, nullptr);
            return;
        }
        closing = TakeStream();
        undelivered.swap(undelivered_);
        sink_ = nullptr;
    }
    // Outside the lock: closing waits for the receiving thread, whose delivery in progress
    // may wait for the sink, whose caller may wait for this lock.
    if (closing)
        g_object_unref(closing);
    for (ArvBuffer* wrapper : undelivered)
        g_object_unref(wrapper);
}

ArvStream* GigEStreamChannel::TakeStream()
{
    if (!stream_)
        return nullptr;
    AddCounts(stream_, closed_);
    return std::exchange(stream_, nullptr);
}

size_t GigEStreamChannel::PayloadSize()
{
    return static_cast<size_t>(map_.GetIntegerUnchecked("PayloadSize"));
}

void GigEStreamChannel::DropFinishedBuffers(ArvStream* stream)
{
    // Finished buffers wait in the library's output queue; their memory goes to the sink,
    // so only the wrappers are left to release. Called with mutex_ held, so that no
    // delivery reads a wrapper released here.
    while (ArvBuffer* done = arv_stream_try_pop_buffer(stream))
        g_object_unref(done);
}

void GigEStreamChannel::QueueBuffer(void* memory, size_t size)
{
    std::lock_guard lock(mutex_);
    if (!stream_)
        throw LOGICAL_ERROR_EXCEPTION("GigE camera '%s': a buffer was queued on a closed stream channel", serial_.c_str());
    DropFinishedBuffers(stream_);
    // A fresh wrapper each time: the previous wrapper of this memory may still be on its
    // way to the output queue. The memory stays the grabber's.
    ArvBuffer* wrapper = arv_buffer_new_full(size, memory, memory, nullptr);
    undelivered_.insert(static_cast<ArvBuffer*>(g_object_ref(wrapper)));
    arv_stream_push_buffer(stream_, wrapper);
}

void GigEStreamChannel::CancelBuffers()
{
    ArvStream* stream = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!stream_)
            return;
        stream = static_cast<ArvStream*>(g_object_ref(stream_));
    }
    // Stopping the receiving thread waits for a delivery in progress and releases every
    // queued wrapper; the memory behind them is written no more. One stop and restart at
    // a time: the library's thread handle is not safe for two.
    std::unordered_set<ArvBuffer*> undelivered;
    {
        std::lock_guard restart(restartMutex_);
        arv_stream_stop_thread(stream, TRUE);
        {
            // No delivery runs now: the wrappers not told of by now never will be.
            std::lock_guard lock(mutex_);
            if (stream_ == stream)
                undelivered.swap(undelivered_);
        }
        arv_stream_start_thread(stream);
    }
    for (ArvBuffer* wrapper : undelivered)
        g_object_unref(wrapper);
    g_object_unref(stream);
}

StreamStatistics GigEStreamChannel::Statistics()
{
    std::lock_guard lock(mutex_);
    StreamStatistics s = closed_;
    if (stream_)
        AddCounts(stream_, s);
    return s;
}

} // namespace Pylon::Transport::GigE
