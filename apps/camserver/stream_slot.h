// One of the server's stream slots (an MJPEG stream or a live socket), held from the
// route's answer until the connection ends, whichever thread lets it go.
#pragma once

#include <memory>

#include "connection_registry.h"

namespace mirva::camserver {

class StreamSlot {
public:
    // Null when all max slots are taken or the server stops.
    static std::shared_ptr<StreamSlot> take(ConnectionRegistry& registry, size_t max) {
        if (!registry.take_stream(max))
            return nullptr;
        return std::shared_ptr<StreamSlot>(new StreamSlot(registry));
    }
    ~StreamSlot() { registry_.release_stream(); }
    StreamSlot(const StreamSlot&) = delete;
    StreamSlot& operator=(const StreamSlot&) = delete;

private:
    explicit StreamSlot(ConnectionRegistry& registry) : registry_(registry) {}
    ConnectionRegistry& registry_;
};

} // namespace mirva::camserver
