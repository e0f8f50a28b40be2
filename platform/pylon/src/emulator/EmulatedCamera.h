// One emulated GigE camera: its node map (from its model file), the behaviour bound to
// the standard feature names, and the thread that produces its frames.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <GenApi/NodeMapFactory.h>
#include <pylon/DeviceInfo.h>
#include <pylon/emulator/Emulator.h>
#include <pylon/transport/DeviceTransport.h>

#include "FramePattern.h"

namespace Pylon::Emulator {

class CEmulatedCamera final : public Transport::IStreamChannel {
public:
    using Clock = std::chrono::steady_clock;

    // Loads the model; throws RuntimeException when it cannot be read. `plugIndex` numbers
    // the default IP and MAC addresses. `onReset` is called (on the resetting thread) when
    // a client executes DeviceReset.
    CEmulatedCamera(const CameraConfig& config, const std::string& modelPath, unsigned plugIndex,
                    std::function<void(const std::string& serial)> onReset);
    ~CEmulatedCamera() override;

    const CameraConfig& Config() const { return config_; }
    const CDeviceInfo& Info() const { return info_; }
    GenApi::NodeMap& NodeMap() { return *node_map_; }

    // A connection takes the camera; AccessException when one holds it already,
    // RuntimeException once removed.
    void Connect();
    // Ends the connection: acquisition stops, the frame thread ends.
    void Disconnect() noexcept;
    bool IsConnected() const;

    // The camera goes away: frames stop, the listener is told once, access throws.
    void Remove();
    bool IsRemoved() const { return removed_; }
    void SetRemovalListener(std::function<void()> listener);

    // Fault injection and inputs.
    void PulseLine(int line);
    void Stall(bool stalled);
    void FailNextGrab(uint32_t errorCode, const std::string& text);
    void RefuseNextWrite(const std::string& feature);

    // What the camera shows; SetBeam fills negative fields with the defaults and throws
    // InvalidArgumentException for a beam out of range. Both act on the next frame.
    void SetPattern(EPattern pattern);
    BeamSettings SetBeam(const BeamSettings& beam);

    CameraState State() const;

    // Transport::IStreamChannel
    void SetSink(Transport::IStreamSink* sink) override;
    size_t PayloadSize() override;
    // The emulator writes each frame at delivery into the sink's oldest queued buffer
    // (DeliverFrame), so it keeps no buffers of its own; frames it could not deliver are
    // counted by the sink. Nothing travels in packets here.
    void QueueBuffer(void*, size_t) override {}
    void CancelBuffers() override {}
    Transport::StreamStatistics Statistics() override { return {}; }

private:
    // Settings read from the node map when a client wrote something.
    struct Settings {
        PatternKey pattern;
        size_t payload = 0;
        double exposureUs = 10000;
        double frameRate = 0;          // 0: limited by exposure only
        int64_t acquisitionMode = 2;   // 0 single, 1 multi, 2 continuous
        int64_t frameCount = 1;
        bool acqTriggerOn = false;
        std::string acqTriggerSource;  // "Software", "Line1", ...
        std::string acqTriggerActivation;
        bool frameTriggerOn = false;
        std::string frameTriggerSource;
        std::string frameTriggerActivation;
        double triggerDelayUs = 0;
    };

    void InstallHooks();
    void SeedRegisterDefaults();
    void SeedStatusRegisters();
    void SeedValuesIntoLimits();
    void OnClientWrite(GenApi::INode& node, GenApi::EWritePhase phase);
    void UpdateDerivedValues(const std::string& written);
    Settings ReadSettings();
    void StartAcquisition();
    void StopAcquisition();
    void SoftwareTrigger();
    void Trigger(const std::string& source, bool rising, Clock::time_point when); // caller holds mutex_
    void SetLocked(bool locked);
    void Run();
    void StopThread() noexcept;
    Clock::duration FramePeriod() const; // caller holds mutex_

    const CameraConfig config_;
    const std::string model_path_;
    std::unique_ptr<GenApi::NodeMap> node_map_;
    CDeviceInfo info_;
    const Clock::time_point plugged_at_ = Clock::now();
    std::function<void(const std::string&)> on_reset_;
    std::atomic<bool> removed_{false};
    double reference_exposure_us_ = 5000; // the model's default exposure; set by the constructor
    double sensor_width_ = 640, sensor_height_ = 480; // unbinned; set by the constructor

    mutable std::mutex mutex_;     // guards the state below; client threads, emulator API and the frame thread
    std::condition_variable wake_; // state changes for the frame thread
    bool connected_ = false;
    bool stop_thread_ = false;
    bool settings_dirty_ = true;
    Settings settings_;
    bool acquiring_ = false;
    bool waiting_for_start_trigger_ = false;
    int64_t frames_left_ = -1;     // -1: continuous
    std::deque<Clock::time_point> frame_triggers_; // due times of triggered frames
    Clock::time_point next_frame_{};
    bool stalled_ = false;
    std::optional<std::pair<uint32_t, std::string>> fail_next_;
    uint64_t block_id_ = 0;        // frames since acquisition start
    uint64_t frames_sent_ = 0;     // frames since plug-in
    EPattern pattern_kind_ = EPattern::Beam;
    BeamSettings beam_;            // defaults filled in
    CFramePattern pattern_;        // frame thread only
    CBeamPattern beam_pattern_;    // frame thread only
    std::thread thread_;           // started by Connect, joined by Disconnect/Remove/destructor

    std::mutex sink_mutex_;        // guards sink_; held during a delivery (frame thread) and by SetSink
    Transport::IStreamSink* sink_ = nullptr;

    std::mutex listener_mutex_;    // guards listener_ and notified_; held while it runs
    std::function<void()> listener_;
    bool notified_ = false;
};

} // namespace Pylon::Emulator
