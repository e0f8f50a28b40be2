// An opened GigE Vision camera: its own GenICam description as our node map, whose port
// reads and writes go to the camera's registers; the heartbeat's loss is the removal.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <GenApi/NodeMapFactory.h>
#include <pylon/transport/DeviceTransport.h>

#include "transport/gige/GigEConnection.h"
#include "transport/gige/GigEStreamChannel.h"

namespace Pylon::Transport::GigE {

class GigEDeviceTransport final : public IDeviceTransport {
public:
    explicit GigEDeviceTransport(const CDeviceInfo& info);
    ~GigEDeviceTransport() override;

    const CDeviceInfo& DeviceInfo() const override { return info_; }
    void Open() override;
    void Close() noexcept override;
    bool IsOpen() const override { return connection_ != nullptr; }
    GenApi::INodeMap* NodeMap() override { return nodeMap_.get(); }
    void ReadRegister(uint64_t address, void* buffer, size_t length) override;
    void WriteRegister(uint64_t address, const void* buffer, size_t length) override;
    // The first stream channel of the camera (the only one the grabber uses).
    uint32_t NumStreamChannels() const override { return channel_ ? 1 : 0; }
    IStreamChannel* StreamChannel(uint32_t index) override { return index == 0 ? channel_.get() : nullptr; }
    bool IsRemoved() const override { return removed_.load(); }
    void SetRemovalListener(std::function<void()> listener) override;

private:
    static void OnControlLost(void* device, void* self);
    void Remove();
    GigEConnection& Connection();

    CDeviceInfo info_;                              // fixed after construction
    std::unique_ptr<GigEConnection> connection_;    // client thread (Open/Close)
    std::unique_ptr<GenApi::NodeMap> nodeMap_;      // client thread (Open); the map has its own lock
    std::unique_ptr<GigEStreamChannel> channel_;    // client thread (Open/Close); its own lock
    unsigned long controlLostHandler_ = 0;          // client thread
    std::atomic<bool> removed_{false};              // any thread
    std::mutex listenerMutex_;
    std::function<void()> listener_;                // guarded by listenerMutex_; the library's heartbeat thread calls it
};

} // namespace Pylon::Transport::GigE
