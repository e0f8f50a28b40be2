#include <pylon/emulator/Emulator.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include <pthread.h>

#include "EmulatedCamera.h"
#include "EmulatorTransportLayer.h"

#ifndef PYLON_MODELS_DIR
#define PYLON_MODELS_DIR "models"
#endif

namespace Pylon::Emulator {

class CEmulator::Impl {
public:
    Impl()
    {
        const char* env = std::getenv("PYLON_MODELS_DIR");
        models_dir_ = env && *env ? env : PYLON_MODELS_DIR;
    }

    ~Impl()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            timer_wake_.notify_all();
        }
        if (timer_.joinable())
            timer_.join();
        ResetAll();
    }

    void Plug(const CameraConfig& config)
    {
        if (config.serialNumber.empty())
            throw INVALID_ARGUMENT_EXCEPTION("Plug: the camera needs a serial number");
        const std::string path = ResolveModel(config.model);
        if (path.empty())
            throw RUNTIME_EXCEPTION("Plug: model file '%s' of camera '%s' not found (models directory '%s')",
                                    config.model.c_str(), config.serialNumber.c_str(), ModelsDirectory().c_str());
        unsigned index;
        {
            std::lock_guard lock(mutex_);
            if (FindPlugged(config.serialNumber))
                throw INVALID_ARGUMENT_EXCEPTION("Plug: a camera with serial number '%s' is plugged in already",
                                                 config.serialNumber.c_str());
            // A camera plugged again keeps its default addresses.
            auto known = indices_.find(config.serialNumber);
            index = known != indices_.end() ? known->second : plug_count_++;
            indices_[config.serialNumber] = index;
        }
        auto camera = std::make_shared<CEmulatedCamera>(config, path, index,
                                                        [this](const std::string& serial) { ScheduleReset(serial); });
        std::lock_guard lock(mutex_);
        if (FindPlugged(config.serialNumber))
            throw INVALID_ARGUMENT_EXCEPTION("Plug: a camera with serial number '%s' is plugged in already",
                                             config.serialNumber.c_str());
        plugged_.push_back(camera);
        known_[config.serialNumber] = config;
        plugged_changed_.notify_all();
    }

    bool WaitForPlugged(const std::string& serial, unsigned timeout_ms) const
    {
        std::unique_lock lock(mutex_);
        return plugged_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                         [&] { return FindPlugged(serial) != nullptr; });
    }

    bool Unplug(const std::string& serial)
    {
        std::shared_ptr<CEmulatedCamera> camera;
        {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(plugged_.begin(), plugged_.end(),
                                   [&](const auto& c) { return c->Config().serialNumber == serial; });
            if (it == plugged_.end())
                return false;
            camera = *it;
            plugged_.erase(it);
        }
        // What the camera reported stays in the list while it is away (its model name and
        // addresses); taken outside the lock, as the camera's own state has its own.
        CameraState last = camera->State();
        camera->Remove(); // outside the lock: it joins the frame thread and tells the device
        last.plugged = last.open = last.acquiring = last.stalled = false;
        std::lock_guard lock(mutex_);
        last_seen_[serial] = std::move(last);
        return true;
    }

    bool Replug(const std::string& serial)
    {
        CameraConfig config;
        {
            std::lock_guard lock(mutex_);
            auto it = known_.find(serial);
            if (it == known_.end())
                return false;
            config = it->second;
        }
        Unplug(serial);
        Plug(config);
        return true;
    }

    void ResetAll()
    {
        std::vector<std::shared_ptr<CEmulatedCamera>> cameras;
        {
            std::lock_guard lock(mutex_);
            cameras.swap(plugged_);
            known_.clear();
            last_seen_.clear();
            indices_.clear();
            plug_count_ = 0;
            pending_resets_.clear();
        }
        for (auto& c : cameras)
            c->Remove();
    }

    std::vector<CameraState> List() const
    {
        std::lock_guard lock(mutex_);
        std::vector<CameraState> list;
        for (const auto& c : plugged_)
            list.push_back(c->State());
        for (const auto& [serial, config] : known_)
            if (!FindPlugged(serial)) {
                const auto seen = last_seen_.find(serial);
                CameraState s = seen != last_seen_.end() ? seen->second : CameraState{};
                s.config = config;
                if (seen != last_seen_.end()) {  // the addresses the camera reported
                    s.config.ipAddress = seen->second.config.ipAddress;
                    s.config.macAddress = seen->second.config.macAddress;
                }
                list.push_back(s);
            }
        return list;
    }

    std::shared_ptr<CEmulatedCamera> Find(const std::string& serial) const
    {
        std::lock_guard lock(mutex_);
        return FindPlugged(serial);
    }

    void Enumerate(DeviceInfoList_t& list) const
    {
        std::lock_guard lock(mutex_);
        for (const auto& c : plugged_)
            list.push_back(c->Info());
    }

    bool Knows(const std::string& serial) const
    {
        std::lock_guard lock(mutex_);
        return known_.count(serial) > 0;
    }

    // The scene of a camera outlives its plug-in: a replugged or reset camera sees it again.
    void RememberScene(const std::string& serial, EPattern pattern, const BeamSettings& beam)
    {
        std::lock_guard lock(mutex_);
        auto it = known_.find(serial);
        if (it != known_.end()) {
            it->second.pattern = pattern;
            it->second.beam = beam;
        }
    }

    void SetModelsDirectory(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        models_dir_ = path;
    }

    std::string ModelsDirectory() const
    {
        std::lock_guard lock(mutex_);
        return models_dir_;
    }

    std::string ResolveModel(const std::string& model) const
    {
        namespace fs = std::filesystem;
        if (model.empty())
            return {};
        std::error_code ec;
        fs::path p(model);
        if (p.has_parent_path() || p.is_absolute()) {
            if (fs::is_regular_file(p, ec))
                return p.string();
        }
        fs::path in_dir = fs::path(ModelsDirectory()) / p;
        if (fs::is_regular_file(in_dir, ec))
            return in_dir.string();
        if (!p.has_extension()) {
            in_dir += ".xml";
            if (fs::is_regular_file(in_dir, ec))
                return in_dir.string();
        }
        if (fs::is_regular_file(p, ec))
            return p.string();
        return {};
    }

    void SetResetDuration(unsigned ms)
    {
        std::lock_guard lock(mutex_);
        reset_duration_ = std::chrono::milliseconds(ms);
    }

private:
    using Clock = std::chrono::steady_clock;

    std::shared_ptr<CEmulatedCamera> FindPlugged(const std::string& serial) const // caller holds mutex_
    {
        for (const auto& c : plugged_)
            if (c->Config().serialNumber == serial)
                return c;
        return nullptr;
    }

    // DeviceReset: the camera drops off now and comes back with its defaults a little later.
    void ScheduleReset(const std::string& serial)
    {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            pending_resets_.emplace_back(Clock::now() + reset_duration_, serial);
            if (!timer_.joinable())
                timer_ = std::thread([this] { RunTimer(); });
            timer_wake_.notify_all();
        }
        Unplug(serial);
    }

    void RunTimer()
    {
        pthread_setname_np(pthread_self(), "emu_reset");
        std::unique_lock lock(mutex_);
        while (!stopping_) {
            if (pending_resets_.empty()) {
                timer_wake_.wait_for(lock, std::chrono::seconds(1));
                continue;
            }
            auto next = std::min_element(pending_resets_.begin(), pending_resets_.end());
            if (Clock::now() < next->first) {
                timer_wake_.wait_until(lock, next->first);
                continue;
            }
            const std::string serial = next->second;
            pending_resets_.erase(next);
            auto it = known_.find(serial);
            if (it == known_.end() || FindPlugged(serial))
                continue;
            const CameraConfig config = it->second;
            lock.unlock();
            try {
                Plug(config);
            } catch (const GenICam::GenericException&) {
                // The model vanished meanwhile; the camera stays away.
            }
            lock.lock();
        }
    }

    mutable std::mutex mutex_; // guards everything below; API callers, the reset timer
    std::vector<std::shared_ptr<CEmulatedCamera>> plugged_; // in plug order
    std::map<std::string, CameraConfig> known_;              // every camera plugged since the last Reset
    std::map<std::string, CameraState> last_seen_;           // state of each unplugged camera as it left
    std::string models_dir_;
    unsigned plug_count_ = 0;
    std::map<std::string, unsigned> indices_;              // plug number of every camera seen, for its default addresses
    Clock::duration reset_duration_ = std::chrono::milliseconds(200);
    std::vector<std::pair<Clock::time_point, std::string>> pending_resets_;
    std::condition_variable timer_wake_;
    mutable std::condition_variable plugged_changed_; // a camera was plugged in
    bool stopping_ = false;
    std::thread timer_; // started on the first reset, joined by the destructor
};

CEmulator::CEmulator() : impl_(std::make_unique<Impl>()) {}
CEmulator::~CEmulator() = default;

CEmulator& Instance()
{
    static CEmulator instance;
    return instance;
}

void CEmulator::Plug(const CameraConfig& config) { impl_->Plug(config); }
bool CEmulator::Unplug(const std::string& serial) { return impl_->Unplug(serial); }
bool CEmulator::Replug(const std::string& serial) { return impl_->Replug(serial); }
void CEmulator::Reset() { impl_->ResetAll(); }
std::vector<CameraState> CEmulator::List() const { return impl_->List(); }
bool CEmulator::IsPlugged(const std::string& serial) const { return impl_->Find(serial) != nullptr; }
bool CEmulator::WaitForPlugged(const std::string& serial, unsigned timeout_ms) const
{
    return impl_->WaitForPlugged(serial, timeout_ms);
}

bool CEmulator::PulseLine(const std::string& serial, int line)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    camera->PulseLine(line);
    return true;
}

bool CEmulator::Stall(const std::string& serial, bool stalled)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    camera->Stall(stalled);
    return true;
}

bool CEmulator::FailNextGrab(const std::string& serial, uint32_t errorCode, const std::string& text)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    camera->FailNextGrab(errorCode, text);
    return true;
}

bool CEmulator::RefuseNextWrite(const std::string& serial, const std::string& feature)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    camera->RefuseNextWrite(feature);
    return true;
}

bool CEmulator::SetPattern(const std::string& serial, EPattern pattern)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    camera->SetPattern(pattern);
    const CameraState state = camera->State();
    impl_->RememberScene(serial, pattern, state.config.beam);
    return true;
}

bool CEmulator::SetBeam(const std::string& serial, const BeamSettings& beam)
{
    auto camera = impl_->Find(serial);
    if (!camera)
        return false;
    const BeamSettings applied = camera->SetBeam(beam);
    impl_->RememberScene(serial, camera->State().config.pattern, applied);
    return true;
}

void CEmulator::SetModelsDirectory(const std::string& path) { impl_->SetModelsDirectory(path); }
std::string CEmulator::ModelsDirectory() const { return impl_->ModelsDirectory(); }
std::string CEmulator::ResolveModel(const std::string& model) const { return impl_->ResolveModel(model); }
void CEmulator::SetResetDuration(unsigned milliseconds) { impl_->SetResetDuration(milliseconds); }

namespace {

// A connection of the factory's device to one emulated camera.
class CEmulatorDeviceTransport final : public Transport::IDeviceTransport {
public:
    explicit CEmulatorDeviceTransport(std::shared_ptr<CEmulatedCamera> camera) : camera_(std::move(camera)) {}

    ~CEmulatorDeviceTransport() override
    {
        camera_->SetRemovalListener(nullptr);
        Close();
    }

    const CDeviceInfo& DeviceInfo() const override { return camera_->Info(); }

    void Open() override
    {
        std::lock_guard lock(mutex_);
        if (open_)
            return;
        camera_->Connect();
        open_ = true;
    }

    void Close() noexcept override
    {
        std::lock_guard lock(mutex_);
        if (!open_)
            return;
        open_ = false;
        camera_->Disconnect();
    }

    bool IsOpen() const override
    {
        std::lock_guard lock(mutex_);
        return open_;
    }

    GenApi::INodeMap* NodeMap() override { return &camera_->NodeMap(); }

    void ReadRegister(uint64_t address, void*, size_t) override
    {
        throw LOGICAL_ERROR_EXCEPTION("Emulated camera '%s' has no register at 0x%llx",
                                      camera_->Config().serialNumber.c_str(), static_cast<unsigned long long>(address));
    }
    void WriteRegister(uint64_t address, const void*, size_t) override
    {
        throw LOGICAL_ERROR_EXCEPTION("Emulated camera '%s' has no register at 0x%llx",
                                      camera_->Config().serialNumber.c_str(), static_cast<unsigned long long>(address));
    }

    uint32_t NumStreamChannels() const override { return 1; }
    Transport::IStreamChannel* StreamChannel(uint32_t index) override
    {
        if (index != 0)
            throw OUT_OF_RANGE_EXCEPTION("Emulated camera '%s' has one stream channel, not %u",
                                         camera_->Config().serialNumber.c_str(), index + 1);
        return camera_.get();
    }

    bool IsRemoved() const override { return camera_->IsRemoved(); }
    void SetRemovalListener(std::function<void()> listener) override { camera_->SetRemovalListener(std::move(listener)); }

private:
    std::shared_ptr<CEmulatedCamera> camera_;
    mutable std::mutex mutex_; // guards open_; caller threads
    bool open_ = false;
};

class CEmulatorTransportLayer final : public Transport::ITransportLayer {
public:
    void EnumerateDevices(DeviceInfoList_t& list) override { Instance().impl().Enumerate(list); }

    bool Owns(const CDeviceInfo& info) const override
    {
        return info.IsSerialNumberAvailable() && Instance().impl().Knows(info.GetSerialNumber());
    }

    std::unique_ptr<Transport::IDeviceTransport> CreateTransport(const CDeviceInfo& info) override
    {
        auto camera = Instance().impl().Find(info.GetSerialNumber());
        if (!camera)
            throw RUNTIME_EXCEPTION("Device with serial number '%s' is not present", info.GetSerialNumber().c_str());
        return std::make_unique<CEmulatorDeviceTransport>(std::move(camera));
    }
};

} // namespace

std::shared_ptr<Transport::ITransportLayer> CreateTransportLayer() { return std::make_shared<CEmulatorTransportLayer>(); }

} // namespace Pylon::Emulator
