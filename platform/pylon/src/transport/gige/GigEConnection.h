// One control connection to a GigE Vision camera: the device object of the protocol
// library, owned, with the register access and the description download the transport needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>


typedef struct _ArvDevice ArvDevice;

namespace Pylon::Transport::GigE {

class GigEConnection {
public:
    // Connects to the camera at `address` (dotted quad). Throws RuntimeException naming the
    // address when it does not answer.
    explicit GigEConnection(const std::string& address);
    ~GigEConnection();
    GigEConnection(const GigEConnection&) = delete;
    GigEConnection& operator=(const GigEConnection&) = delete;

    // Throw RuntimeException naming the address and the register on failure.
    void Read(uint64_t address, void* buffer, size_t length);
    void Write(uint64_t address, const void* buffer, size_t length);

    // The GenICam description the camera serves (unzipped).
    std::string Description();

    ArvDevice* Device() const noexcept { return device_; }
    const std::string& Address() const noexcept { return address_; }

private:
    std::string address_;
    ArvDevice* device_ = nullptr; // set once in the constructor; the library serialises its access
};

} // namespace Pylon::Transport::GigE
