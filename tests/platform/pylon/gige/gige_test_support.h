// Test support of the GigE Vision tier: the test program re-executes itself in a private
// user and network namespace that holds nothing but loopback, where Aravis's fake GigE
// Vision camera answers on 127.0.0.1. Nothing leaves the namespace.
#pragma once

#include <arv.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "transport/gige/GigEDiscovery.h"

namespace gige_test {

constexpr const char* kInNamespace = "MIRVA_IN_PRIVATE_NET";
constexpr const char* kCameraAddress = "127.0.0.1";

// True when the only network interface in sight is lo.
inline bool OnlyLoopback()
{
    struct if_nameindex* names = if_nameindex();
    bool only = names != nullptr;
    for (auto* n = names; n && n->if_name; ++n)
        only = only && std::string(n->if_name) == "lo";
    if (names)
        if_freenameindex(names);
    return only;
}

// The reason the tier cannot run here, or empty.
inline std::string WhyNotHere()
{
    if (!std::getenv(kInNamespace))
        return "the GigE tier runs only inside its private network namespace (unshare -rn is not available here)";
    if (!OnlyLoopback())
        return "the network namespace holds more than lo: the GigE tier does not run";
    if (access("/usr/bin/arv-fake-gv-camera-0.8", X_OK) != 0)
        return "arv-fake-gv-camera-0.8 is not installed";
    return {};
}

#define GIGE_TIER_OR_SKIP()                                                \
    do {                                                                   \
        const std::string why_not = ::gige_test::WhyNotHere();             \
        if (!why_not.empty())                                              \
            GTEST_SKIP() << why_not;                                       \
    } while (0)

// Polls a condition until it holds or the timeout passes.
inline bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Counts the protocol library's critical messages (a failed check of a call's arguments,
// as on a released buffer) while it lives; they are printed as before. The count lives as
// long as the process: a message on the library's thread may come while this goes.
class CriticalMessages {
public:
    CriticalMessages() : start_(Total().load()) { previous_ = g_log_set_default_handler(&CriticalMessages::Handle, nullptr); }
    ~CriticalMessages() { g_log_set_default_handler(previous_, nullptr); }
    CriticalMessages(const CriticalMessages&) = delete;
    CriticalMessages& operator=(const CriticalMessages&) = delete;
    int Count() const { return Total().load() - start_; }

private:
    static std::atomic<int>& Total()
    {
        static std::atomic<int> total{0};
        return total;
    }
    static void Handle(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer)
    {
        if ((level & G_LOG_LEVEL_CRITICAL) != 0)
            ++Total();
        g_log_default_handler(domain, level, message, nullptr);
    }
    const int start_;
    GLogFunc previous_ = nullptr;
};

// The fake camera's own description, as the camera serves it: its feature names are
// today's standard ones (no WidthMax, TriggerDelayAbs or ExposureMode), which the location
// copes with. The one addition: the fake camera has no stream packet size feature, which
// every real GigE camera has and the packet-size set-up needs; it gets one over the
// bootstrap register of stream channel 0 (whose lower half the fake camera's stream
// follows), limited to 576 ... 8192 bytes. Added only while the fake camera lacks it.
inline std::string DescriptionFile()
{
    ArvFakeCamera* fake = arv_fake_camera_new("0");
    size_t size = 0;
    const char* xml = arv_fake_camera_get_genicam_xml(fake, &size);
    std::string text(xml, size);
    g_object_unref(fake);
    if (text.find("Name=\"GevSCPSPacketSize\"") == std::string::npos) {
        const std::string category = "<pFeature>PayloadSize</pFeature>";
        const size_t at = text.find(category);
        const size_t end = text.rfind("</RegisterDescription>");
        if (at == std::string::npos || end == std::string::npos)
            return {};
        text.insert(end, R"(
	<Integer Name="GevSCPSPacketSize" NameSpace="Standard">
		<Description>Stream packet size (bytes), IP and UDP headers included.</Description>
		<pValue>GevSCPSPacketSizeRegister</pValue>
		<Min>576</Min>
		<Max>8192</Max>
		<Inc>4</Inc>
	</Integer>
	<MaskedIntReg Name="GevSCPSPacketSizeRegister" NameSpace="Custom">
		<Address>0xd04</Address>
		<Length>4</Length>
		<AccessMode>RW</AccessMode>
		<pPort>Device</pPort>
		<LSB>31</LSB>
		<MSB>16</MSB>
		<Sign>Unsigned</Sign>
		<Endianess>BigEndian</Endianess>
	</MaskedIntReg>
)");
        text.insert(at + category.size(), "\n\t\t<pFeature>GevSCPSPacketSize</pFeature>");
    }
    const auto path = std::filesystem::temp_directory_path() / ("mirva_gige_camera_" + std::to_string(getpid()) + ".xml");
    std::ofstream(path) << text;
    return path.string();
}

// Aravis's fake GigE Vision camera on 127.0.0.1 as a child process, serving `description`.
class FakeCamera {
public:
    // `lostPacketsPerThousand`, when given, makes the camera leave out that share of its
    // stream packets at their first sending.
    FakeCamera(std::string serial, std::string description, const char* lostPacketsPerThousand = nullptr)
        : serial_(std::move(serial)), description_(std::move(description))
    {
        Start(lostPacketsPerThousand);
    }
    ~FakeCamera() { Kill(); }
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    void Start(const char* lostPacketsPerThousand = nullptr)
    {
        pid_ = fork();
        if (pid_ == 0) {
            if (lostPacketsPerThousand)
                execl("/usr/bin/arv-fake-gv-camera-0.8", "arv-fake-gv-camera-0.8", "-i", kCameraAddress, "-s",
                      serial_.c_str(), "-g", description_.c_str(), "-r", lostPacketsPerThousand, nullptr);
            else
                execl("/usr/bin/arv-fake-gv-camera-0.8", "arv-fake-gv-camera-0.8", "-i", kCameraAddress, "-s",
                      serial_.c_str(), "-g", description_.c_str(), nullptr);
            _exit(127);
        }
    }

    // True once the camera answers a discovery command (bounded wait).
    bool Answers(std::chrono::milliseconds timeout = std::chrono::seconds(30)) const
    {
        return Eventually(
            [&] {
                for (const auto& c : Pylon::Transport::GigE::DiscoverAt({kCameraAddress}, std::chrono::milliseconds(200)))
                    if (c.info.GetSerialNumber() == serial_)
                        return true;
                return false;
            },
            timeout);
    }

    // Ends the camera at once, as a pulled cable would.
    void Kill()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    const std::string& Serial() const { return serial_; }

private:
    std::string serial_;
    std::string description_;
    pid_t pid_ = -1;
};

// A second, independent connection to the camera (no control): reads its registers.
class RegisterReader {
public:
    RegisterReader()
    {
        GInetAddress* local = g_inet_address_new_from_string(kCameraAddress);
        GInetAddress* camera = g_inet_address_new_from_string(kCameraAddress);
        device_ = arv_gv_device_new(local, camera, nullptr);
        g_object_unref(local);
        g_object_unref(camera);
    }
    ~RegisterReader()
    {
        if (device_)
            g_object_unref(device_);
    }
    bool ok() const { return device_ != nullptr; }
    // A read the camera does not answer in time (a loaded machine) is asked again, within
    // a bound; one that never succeeds fails the test naming the register, instead of
    // reading as 0 and failing a comparison far from its cause.
    uint32_t Read(uint64_t address) const
    {
        if (!device_) {
            ADD_FAILURE() << "no connection to the camera to read register 0x" << std::hex << address;
            return 0;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            guint32 value = 0;
            GError* error = nullptr;
            if (arv_device_read_register(device_, address, &value, &error))
                return value;
            const std::string why = error ? error->message : "no answer";
            if (error)
                g_error_free(error);
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "reading register 0x" << std::hex << address << " failed: " << why;
                return 0;
            }
            // A read refused at once (the camera restarting) is not asked again in a tight loop.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    void Write(uint64_t address, uint32_t value) const { arv_device_write_register(device_, address, value, nullptr); }
    // As another application would hold the camera.
    bool TakeControl() const { return arv_gv_device_take_control(ARV_GV_DEVICE(device_), nullptr); }
    void LeaveControl() const { arv_gv_device_leave_control(ARV_GV_DEVICE(device_), nullptr); }

private:
    ArvDevice* device_ = nullptr;
};

// Bare control-channel commands to the camera at 127.0.0.1, for what must happen before a
// connection can load the camera's description: takes control (CCP), writes memory, and
// gives control back, on one socket. Each command waits for its acknowledge (bounded).
class BareControl {
public:
    BareControl()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in camera{};
        camera.sin_family = AF_INET;
        camera.sin_port = htons(3956);
        inet_pton(AF_INET, kCameraAddress, &camera.sin_addr);
        if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&camera), sizeof camera) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~BareControl()
    {
        if (fd_ >= 0) {
            Command(0x0082, {0x00, 0x00, 0x0a, 0x00, 0, 0, 0, 0});  // CCP := 0
            close(fd_);
        }
    }
    BareControl(const BareControl&) = delete;
    BareControl& operator=(const BareControl&) = delete;

    bool WriteMemory(uint32_t address, std::string data)
    {
        if (!Command(0x0082, {0x00, 0x00, 0x0a, 0x00, 0, 0, 0, 2}))  // CCP := control access
            return false;
        data.resize((data.size() + 4) / 4 * 4, '\0');  // NUL-terminated, whole words
        std::vector<uint8_t> payload = {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
        payload.insert(payload.end(), data.begin(), data.end());
        return Command(0x0086, payload);
    }

    // A NUL-terminated text of the camera's memory (at most 512 bytes); empty on failure.
    std::string ReadText(uint32_t address, uint16_t size)
    {
        std::vector<uint8_t> answer;
        if (!Command(0x0084, {uint8_t(address >> 24), uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address), 0, 0,
                              uint8_t(size >> 8), uint8_t(size)},
                     &answer) ||
            answer.size() < 4)
            return {};
        const std::string text(answer.begin() + 4, answer.end());  // after the address
        return text.substr(0, text.find('\0'));
    }

private:
    bool Command(uint16_t command, const std::vector<uint8_t>& payload, std::vector<uint8_t>* answer = nullptr)
    {
        if (fd_ < 0)
            return false;
        ++id_;
        std::vector<uint8_t> packet = {0x42, 0x01, uint8_t(command >> 8), uint8_t(command), uint8_t(payload.size() >> 8),
                                       uint8_t(payload.size()), uint8_t(id_ >> 8), uint8_t(id_)};
        packet.insert(packet.end(), payload.begin(), payload.end());
        if (send(fd_, packet.data(), packet.size(), 0) != static_cast<ssize_t>(packet.size()))
            return false;
        pollfd ready{fd_, POLLIN, 0};
        uint8_t ack[1024];
        while (poll(&ready, 1, 2000) == 1) {
            const ssize_t n = recv(fd_, ack, sizeof ack, 0);
            if (n >= 8 && ((ack[6] << 8) | ack[7]) == id_) {
                if (answer)
                    answer->assign(ack + 8, ack + n);
                return ack[0] == 0 && ack[1] == 0;  // status success
            }
        }
        return false;
    }

    int fd_ = -1;
    uint16_t id_ = 0;
};

// Re-executes the program inside a private user and network namespace with lo up, when
// the system allows one; returns only when it does not (or when already inside).
inline void ReexecInPrivateNetwork(int argc, char** argv)
{
    if (std::getenv(kInNamespace) || access("/usr/bin/unshare", X_OK) != 0 ||
        std::system("/usr/bin/unshare -rn true >/dev/null 2>&1") != 0)
        return;
    setenv(kInNamespace, "1", 1);
    std::string command = "ip link set lo up && exec";
    for (int i = 0; i < argc; ++i)
        command += std::string(" '") + argv[i] + "'";
    execl("/usr/bin/unshare", "unshare", "-rn", "sh", "-c", command.c_str(), nullptr);
    unsetenv(kInNamespace); // exec failed: stay here
}

} // namespace gige_test
