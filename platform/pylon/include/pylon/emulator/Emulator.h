// Control of the in-process emulator of GigE cameras, the SDK's embedded transport layer.
// Tests, the server's configuration and its HTTP API plug cameras in and out and inject
// faults through it. Every call is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Pylon::Emulator {

// What an emulated camera shows.
enum class EPattern {
    Beam,    // a Gaussian spot on a dark background, with shot and read noise (the default)
    Counter, // the moving gradient that carries the frame number (see TestPattern.h)
};

// "beam" or "counter"; nothing for any other text.
std::optional<EPattern> PatternFromName(const std::string& name);
const char* PatternName(EPattern pattern);

// The beam an emulated camera looks at. Positions and widths are in sensor pixels of the
// unbinned sensor; the centre of pixel (0, 0) is at (0, 0). A binned pixel shows the mean of
// the sensor pixels it covers. Negative values of x, y, sigmaX and sigmaY take the model's
// defaults when the camera is plugged in (centre of the sensor, a width of 1/16 of the
// sensor width, 3/4 of it vertically).
struct BeamSettings {
    double x = -1, y = -1;           // centre
    double sigmaX = -1, sigmaY = -1; // RMS widths, at least kMinBeamSigma
    double intensity = 0.7;          // peak above the background, in units of full scale, at the
                                     // model's default exposure and unity gain; scales with both
    double background = 0.02;       // dark level, in units of full scale
    bool noise = true;               // shot noise (about 1 % of full scale at full scale) and read noise
    bool operator==(const BeamSettings&) const = default;
};

inline constexpr double kMinBeamSigma = 0.3;
inline constexpr double kMaxBeamSigma = 100000;
inline constexpr double kMaxBeamIntensity = 1000;

// One emulated camera.
struct CameraConfig {
    std::string serialNumber;  // required, unique among plugged cameras
    std::string model;         // model file name ("mono_area_1280x1024.xml") or a path
    std::string userName;      // DeviceUserID and the device information's UserDefinedName
    std::string ipAddress;     // text only; default 127.0.1.<n>
    std::string macAddress;    // text only; default derived from the serial number
    EPattern pattern = EPattern::Beam;
    BeamSettings beam;         // kept across Replug and DeviceReset, like the scene in front of a camera
};

// State of an emulated camera, for listings.
struct CameraState {
    CameraConfig config;
    std::string modelName;     // DeviceModelName of the model
    bool plugged = false;
    bool open = false;         // a connection holds the camera
    bool acquiring = false;
    bool stalled = false;
    uint64_t framesSent = 0;   // since plug-in
    // For plugged cameras, config.beam holds the beam with the model's defaults filled in, and
    // config.ipAddress and config.macAddress the addresses the camera reports.
};

class CEmulatedCamera;

class CEmulator {
public:
    // Plugs a camera in; it appears at the end of the enumeration. Throws
    // InvalidArgumentException for an empty or already plugged serial number and
    // RuntimeException when the model file cannot be loaded.
    void Plug(const CameraConfig& config);
    // Unplugs the camera: an open connection reports the removal (its removal callbacks run
    // on the SDK's callback thread), a running stream stops, further access throws.
    // False when no camera of that serial number is plugged.
    bool Unplug(const std::string& serial);
    // Power-cycles the camera: unplugged (when plugged) and plugged in again with the
    // default feature values of its model. False when the serial number was never plugged.
    bool Replug(const std::string& serial);
    // Unplugs every camera and forgets them (test isolation).
    void Reset();

    // Every camera known (plugged ones first, in plug order, then unplugged ones).
    std::vector<CameraState> List() const;
    bool IsPlugged(const std::string& serial) const;
    // Waits until the camera is plugged (after a DeviceReset, for example); false on timeout.
    bool WaitForPlugged(const std::string& serial, unsigned timeout_ms) const;

    // A pulse on input line 1..4 ("Line1".."Line4"): rising edge, then falling edge.
    // False when the camera is not plugged.
    bool PulseLine(const std::string& serial, int line);
    // A stalled camera sends no frames (triggers and timing are kept) until released.
    bool Stall(const std::string& serial, bool stalled);
    // The next frame is delivered as a failed grab with this code and text.
    bool FailNextGrab(const std::string& serial, uint32_t errorCode, const std::string& text);
    // The next write of that feature is refused (AccessException naming the feature).
    bool RefuseNextWrite(const std::string& serial, const std::string& feature);

    // What the camera shows from its next frame on. False when the camera is not plugged;
    // InvalidArgumentException naming the value and its limit for a beam out of range
    // (position outside the sensor, a width outside kMinBeamSigma..kMaxBeamSigma, a
    // negative or larger intensity than kMaxBeamIntensity, background outside 0..1).
    bool SetPattern(const std::string& serial, EPattern pattern);
    bool SetBeam(const std::string& serial, const BeamSettings& beam);

    // Where model file names are looked up; default: the SDK's models directory
    // (or the environment variable PYLON_MODELS_DIR when set).
    void SetModelsDirectory(const std::string& path);
    std::string ModelsDirectory() const;
    // The full path of a model given by name or path; empty when the file does not exist.
    std::string ResolveModel(const std::string& model) const;

    // Time a DeviceReset keeps the camera away before it comes back (default 200 ms).
    void SetResetDuration(unsigned milliseconds);

    ~CEmulator();
    CEmulator(const CEmulator&) = delete;
    CEmulator& operator=(const CEmulator&) = delete;

    class Impl;
    Impl& impl() { return *impl_; }

private:
    friend CEmulator& Instance();
    CEmulator();
    std::unique_ptr<Impl> impl_;
};

// The embedded emulator (created on first use, lives until process exit).
CEmulator& Instance();

} // namespace Pylon::Emulator
