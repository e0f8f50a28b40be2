#include "PylonStreamGrabber.h"

#include <GenApi/Pointer.h>

#include <algorithm>
#include <cstdint>

namespace Pylon::detail {

namespace {

// Parameters of a stream grabber. The limits lock while a grab is prepared.
constexpr const char* kGrabberDescription = R"(<?xml version="1.0" encoding="utf-8"?>
<RegisterDescription ModelName="StreamGrabber" VendorName="Pylon" StandardNameSpace="None"
    SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0"
    MajorVersion="1" MinorVersion="0" SubMinorVersion="0" ToolTip="Stream grabber parameters"
    ProductGuid="00000000-0000-0000-0000-000000000001" VersionGuid="00000000-0000-0000-0000-000000000002"
    xmlns="http://www.genicam.org/GenApi/Version_1_1">
  <Category Name="Root" NameSpace="Standard">
    <pFeature>MaxBufferSize</pFeature>
    <pFeature>MaxNumBuffer</pFeature>
    <pFeature>MaxTransferSize</pFeature>
    <pFeature>Statistic_Total_Buffer_Count</pFeature>
    <pFeature>Statistic_Failed_Buffer_Count</pFeature>
    <pFeature>Statistic_Buffer_Underrun_Count</pFeature>
    <pFeature>Statistic_Failed_Packet_Count</pFeature>
    <pFeature>Statistic_Resend_Packet_Count</pFeature>
    <pFeature>Statistic_Resend_Request_Count</pFeature>
  </Category>
  <Integer Name="MaxBufferSize" NameSpace="Standard">
    <ToolTip>Largest buffer that may be registered (bytes)</ToolTip>
    <pIsLocked>GrabPrepared</pIsLocked>
    <Value>131072</Value>
    <Min>1</Min>
    <Max>1073741824</Max>
  </Integer>
  <Integer Name="MaxNumBuffer" NameSpace="Standard">
    <ToolTip>Most buffers that may be registered</ToolTip>
    <pIsLocked>GrabPrepared</pIsLocked>
    <Value>16</Value>
    <Min>1</Min>
    <Max>1024</Max>
  </Integer>
  <Integer Name="MaxTransferSize" NameSpace="Standard">
    <ToolTip>Largest block of one transfer (bytes)</ToolTip>
    <pIsLocked>GrabPrepared</pIsLocked>
    <Value>65536</Value>
    <Min>4096</Min>
    <Max>4194304</Max>
  </Integer>
  <Integer Name="Statistic_Total_Buffer_Count" NameSpace="Standard">
    <ToolTip>Frames delivered into buffers, complete or not (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="Statistic_Failed_Buffer_Count" NameSpace="Standard">
    <ToolTip>Frames delivered incomplete or broken (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="Statistic_Buffer_Underrun_Count" NameSpace="Standard">
    <ToolTip>Frames lost for want of a queued buffer (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="Statistic_Failed_Packet_Count" NameSpace="Standard">
    <ToolTip>Packets that never arrived, also after resend requests (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="Statistic_Resend_Packet_Count" NameSpace="Standard">
    <ToolTip>Packets that arrived after a resend request (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="Statistic_Resend_Request_Count" NameSpace="Standard">
    <ToolTip>Resend requests sent for packets that did not arrive (since the device was opened)</ToolTip>
    <ImposedAccessMode>RO</ImposedAccessMode>
    <Value>0</Value>
    <Min>0</Min>
    <Max>9223372036854775807</Max>
  </Integer>
  <Integer Name="GrabPrepared" NameSpace="Custom">
    <Visibility>Invisible</Visibility>
    <Value>0</Value>
    <Min>0</Min>
    <Max>1</Max>
  </Integer>
</RegisterDescription>
)";

// What the camera said about a frame, as the grab result reports it.
void FillFromHeader(GrabResult& r, const Transport::FrameHeader& header)
{
    r.m_PixelType = header.pixelType;
    r.m_SizeX = static_cast<int32_t>(header.sizeX);
    r.m_SizeY = static_cast<int32_t>(header.sizeY);
    r.m_OffsetX = static_cast<int32_t>(header.offsetX);
    r.m_OffsetY = static_cast<int32_t>(header.offsetY);
    r.m_PaddingX = static_cast<int32_t>(header.paddingX);
    r.m_BlockID = header.blockId;
    r.m_TimeStamp = header.timeStamp;
}

} // namespace

CPylonStreamGrabber::CPylonStreamGrabber(Transport::IStreamChannel& channel, String_t serial, const std::atomic<bool>& removed,
                                         GenApi::INodeMap* deviceMap)
    : channel_(channel), serial_(std::move(serial)), removed_(removed), device_map_(deviceMap),
      node_map_(GenApi::CNodeMapFactory::LoadFromString(kGrabberDescription, "stream grabber")),
      state_(std::make_shared<WaitState>()), wait_object_(state_)
{
}

CPylonStreamGrabber::~CPylonStreamGrabber()
{
    try {
        Close();
    } catch (...) {
    }
}

void CPylonStreamGrabber::ThrowIfRemoved(const char* operation) const
{
    if (removed_)
        throw RUNTIME_EXCEPTION("Device '%s' has been removed (stream grabber %s)", serial_.c_str(), operation);
}

GenApi::INodeMap* CPylonStreamGrabber::GetNodeMap()
{
    ThrowIfRemoved("GetNodeMap");
    RefreshStatistics();
    return node_map_.get();
}

void CPylonStreamGrabber::RefreshStatistics()
{
    // The counters are read where they are kept (here and in the channel) and shown as
    // the values of the statistic features whenever the caller takes the node map.
    const Transport::StreamStatistics channel = channel_.Statistics();
    uint64_t total, failed, underruns;
    {
        std::lock_guard lock(state_->mutex);
        total = delivered_;
        failed = failed_;
        underruns = underruns_;
    }
    auto show = [&](const char* name, uint64_t value) {
        node_map_->SetIntegerUnchecked(name, static_cast<int64_t>(std::min<uint64_t>(value, INT64_MAX)));
    };
    show("Statistic_Total_Buffer_Count", total);
    show("Statistic_Failed_Buffer_Count", failed);
    show("Statistic_Buffer_Underrun_Count", underruns + channel.underruns);
    show("Statistic_Failed_Packet_Count", channel.missingPackets);
    show("Statistic_Resend_Packet_Count", channel.resentPackets);
    show("Statistic_Resend_Request_Count", channel.resendRequests);
}

void CPylonStreamGrabber::LockTransportParameters(bool locked) noexcept
{
    // Real cameras' descriptions lock AcquisitionStart (and often the geometry) until the
    // transport sets TLParamsLocked: then the transport holds it at 1 while the grab is
    // prepared. A camera whose AcquisitionStart is free sets it itself when it starts.
    if (!device_map_)
        return;
    try {
        GenApi::CIntegerPtr tl_locked = device_map_->GetNode("TLParamsLocked");
        if (!tl_locked.IsValid() || !GenApi::IsWritable(tl_locked))
            return;
        if (locked) {
            GenApi::INode* start = device_map_->GetNode("AcquisitionStart");
            if (start && !GenApi::IsWritable(start) && tl_locked->GetValue() == 0) {
                tl_locked->SetValue(1);
                holds_tl_locked_ = true;
            }
        } else if (holds_tl_locked_) {
            holds_tl_locked_ = false;
            tl_locked->SetValue(0);
        }
    } catch (const GenICam::GenericException&) {
        // A removed device: nothing to lock any more.
    }
}

void CPylonStreamGrabber::Open()
{
    ThrowIfRemoved("Open");
    std::lock_guard lock(state_->mutex);
    if (open_)
        throw LOGICAL_ERROR_EXCEPTION("Stream grabber of device '%s' is already open", serial_.c_str());
    open_ = true;
}

bool CPylonStreamGrabber::IsOpen() const
{
    std::lock_guard lock(state_->mutex);
    return open_;
}

void CPylonStreamGrabber::Close()
{
    std::unique_lock lock(state_->mutex);
    if (prepared_)
        FinishLocked(lock);
    open_ = false;
}

void CPylonStreamGrabber::PrepareGrab()
{
    ThrowIfRemoved("PrepareGrab");
    {
        std::lock_guard lock(state_->mutex);
        if (!open_)
            throw LOGICAL_ERROR_EXCEPTION("PrepareGrab: stream grabber of device '%s' is not open", serial_.c_str());
        if (prepared_)
            throw LOGICAL_ERROR_EXCEPTION("PrepareGrab: grab of device '%s' is already prepared", serial_.c_str());
        max_buffer_size_ = node_map_->GetIntegerUnchecked("MaxBufferSize");
        max_num_buffer_ = node_map_->GetIntegerUnchecked("MaxNumBuffer");
        prepared_ = true;
    }
    node_map_->SetIntegerUnchecked("GrabPrepared", 1);
    try {
        channel_.SetSink(this);
    } catch (...) {
        // The channel did not open (a network camera's stream): nothing is prepared.
        node_map_->SetIntegerUnchecked("GrabPrepared", 0);
        std::lock_guard lock(state_->mutex);
        prepared_ = false;
        throw;
    }
    LockTransportParameters(true);
}

void CPylonStreamGrabber::FinishGrab()
{
    std::unique_lock lock(state_->mutex);
    if (!prepared_)
        return;
    FinishLocked(lock);
}

void CPylonStreamGrabber::FinishLocked(std::unique_lock<std::mutex>& lock)
{
    // Detach outside our lock: the channel waits for a delivery in progress, which takes it.
    prepared_ = false;
    lock.unlock();
    channel_.SetSink(nullptr);
    node_map_->SetIntegerUnchecked("GrabPrepared", 0);
    LockTransportParameters(false);
    lock.lock();
    // Buffers still registered are forgotten: their memory belongs to the caller.
    input_.clear();
    output_.clear();
    buffers_.clear();
    state_->ready = 0;
}

StreamBufferHandle CPylonStreamGrabber::RegisterBuffer(void* buffer, size_t size)
{
    ThrowIfRemoved("RegisterBuffer");
    std::lock_guard lock(state_->mutex);
    if (!prepared_)
        throw LOGICAL_ERROR_EXCEPTION("RegisterBuffer: PrepareGrab has not been called on device '%s'", serial_.c_str());
    if (!buffer || size == 0)
        throw INVALID_ARGUMENT_EXCEPTION("RegisterBuffer: null or empty buffer (device '%s')", serial_.c_str());
    if (static_cast<int64_t>(size) > max_buffer_size_)
        throw LOGICAL_ERROR_EXCEPTION("RegisterBuffer: buffer of %zu bytes exceeds MaxBufferSize %lld (device '%s')", size,
                                      static_cast<long long>(max_buffer_size_), serial_.c_str());
    if (static_cast<int64_t>(buffers_.size()) >= max_num_buffer_)
        throw LOGICAL_ERROR_EXCEPTION("RegisterBuffer: MaxNumBuffer %lld buffers are registered already (device '%s')",
                                      static_cast<long long>(max_num_buffer_), serial_.c_str());
    for (const auto& b : buffers_)
        if (b->memory == buffer)
            throw LOGICAL_ERROR_EXCEPTION("RegisterBuffer: buffer %p is registered already (device '%s')", buffer, serial_.c_str());
    buffers_.push_back(std::make_unique<Buffer>(Buffer{buffer, size, Idle, nullptr}));
    return buffers_.back().get();
}

CPylonStreamGrabber::Buffer* CPylonStreamGrabber::Find(StreamBufferHandle handle, const char* operation)
{
    for (const auto& b : buffers_)
        if (b.get() == handle)
            return b.get();
    throw LOGICAL_ERROR_EXCEPTION("%s: unknown buffer handle %p (device '%s')", operation, handle, serial_.c_str());
}

const void* CPylonStreamGrabber::DeregisterBuffer(StreamBufferHandle handle)
{
    std::lock_guard lock(state_->mutex);
    Buffer* b = Find(handle, "DeregisterBuffer");
    if (b->state != Idle)
        throw LOGICAL_ERROR_EXCEPTION("DeregisterBuffer: buffer %p is still %s (device '%s')", handle,
                                      b->state == Queued ? "queued" : "waiting to be retrieved", serial_.c_str());
    const void* memory = b->memory;
    std::erase_if(buffers_, [b](const auto& p) { return p.get() == b; });
    return memory;
}

void CPylonStreamGrabber::QueueBuffer(StreamBufferHandle handle, const void* context)
{
    ThrowIfRemoved("QueueBuffer");
    std::lock_guard lock(state_->mutex);
    if (!prepared_)
        throw LOGICAL_ERROR_EXCEPTION("QueueBuffer: PrepareGrab has not been called on device '%s'", serial_.c_str());
    Buffer* b = Find(handle, "QueueBuffer");
    if (b->state != Idle)
        throw LOGICAL_ERROR_EXCEPTION("QueueBuffer: buffer %p is already %s (device '%s')", handle,
                                      b->state == Queued ? "queued" : "waiting to be retrieved", serial_.c_str());
    b->state = Queued;
    b->context = context;
    input_.push_back(b);
    // In the same order as input_, under the lock: a network channel lands its next frame
    // straight in this memory.
    channel_.QueueBuffer(b->memory, b->size);
}

void CPylonStreamGrabber::PushResult(GrabResult&& result)
{
    output_.push_back(std::move(result));
    state_->ready = output_.size();
    state_->cond.notify_all();
}

void CPylonStreamGrabber::CancelLocked()
{
    while (!input_.empty()) {
        Buffer* b = input_.front();
        input_.pop_front();
        b->state = Grabbed;
        GrabResult r;
        r.m_Status = Canceled;
        r.m_hBuffer = b;
        r.m_pContext = b->context;
        r.m_pBuffer = b->memory;
        PushResult(std::move(r));
    }
}

void CPylonStreamGrabber::CancelGrab()
{
    // The channel first, outside our lock (a delivery in progress takes it): afterwards it
    // writes none of the queued buffers any more, and they come back here as Canceled.
    channel_.CancelBuffers();
    std::lock_guard lock(state_->mutex);
    CancelLocked();
}

void CPylonStreamGrabber::OnDeviceRemoved() { CancelGrab(); }

bool CPylonStreamGrabber::RetrieveResult(GrabResult& result)
{
    std::lock_guard lock(state_->mutex);
    if (output_.empty())
        return false;
    result = std::move(output_.front());
    output_.pop_front();
    state_->ready = output_.size();
    static_cast<Buffer*>(result.m_hBuffer)->state = Idle;
    return true;
}

bool CPylonStreamGrabber::DeliverFrame(const Transport::FrameHeader& header, const Transport::FrameWriter& write)
{
    std::lock_guard lock(state_->mutex);
    if (!prepared_ || input_.empty()) {
        ++underruns_;
        return false;
    }
    Buffer* b = input_.front();
    input_.pop_front();
    ++delivered_;
    GrabResult r;
    r.m_PayloadSize = static_cast<int64_t>(write(static_cast<uint8_t*>(b->memory), b->size));
    r.m_Status = Grabbed;
    r.m_hBuffer = b;
    r.m_pContext = b->context;
    r.m_pBuffer = b->memory;
    FillFromHeader(r, header);
    b->state = Grabbed;
    PushResult(std::move(r));
    return true;
}

bool CPylonStreamGrabber::DeliverFailure(const Transport::FrameHeader& header, uint32_t errorCode,
                                         const GenICam::gcstring& description)
{
    std::lock_guard lock(state_->mutex);
    if (!prepared_ || input_.empty()) {
        ++underruns_;
        return false;
    }
    Buffer* b = input_.front();
    input_.pop_front();
    ++delivered_;
    ++failed_;
    GrabResult r;
    r.m_Status = Failed;
    r.m_hBuffer = b;
    r.m_pContext = b->context;
    r.m_pBuffer = b->memory;
    r.m_PixelType = header.pixelType;
    r.m_BlockID = header.blockId;
    r.m_TimeStamp = header.timeStamp;
    r.m_ErrorCode = errorCode;
    r.m_ErrorDescription = description;
    b->state = Grabbed;
    PushResult(std::move(r));
    return true;
}

bool CPylonStreamGrabber::DeliverInPlace(void* memory, const Transport::FrameHeader& header, size_t payloadSize,
                                         bool complete, uint32_t errorCode, const GenICam::gcstring& description)
{
    std::lock_guard lock(state_->mutex);
    if (!prepared_)
        return false;
    const auto it = std::find_if(input_.begin(), input_.end(), [memory](const Buffer* b) { return b->memory == memory; });
    if (it == input_.end())
        return false;
    Buffer* b = *it;
    input_.erase(it);
    ++delivered_;
    GrabResult r;
    r.m_Status = complete ? Grabbed : Failed;
    r.m_hBuffer = b;
    r.m_pContext = b->context;
    r.m_pBuffer = b->memory;
    r.m_PayloadSize = static_cast<int64_t>(std::min(payloadSize, b->size));
    FillFromHeader(r, header);
    if (!complete) {
        ++failed_;
        r.m_ErrorCode = errorCode;
        r.m_ErrorDescription = description;
    }
    b->state = Grabbed;
    PushResult(std::move(r));
    return true;
}

} // namespace Pylon::detail
