// GET /api/locations/{loc}/stream: a multipart/x-mixed-replace stream of a location's
// images (PNG or JPEG parts, each with its frame number and timestamp), at most one part
// per 1/max_fps s and only images newer than the last one sent. A client that reads
// slower gets the newest image when it is ready again, never a queue.
//
// Threads: every member function but the constructor and stop() runs on the connection's
// strand; encoding runs on a handler worker (through the shared encode cache).
#pragma once

#include <boost/beast/core/tcp_stream.hpp>

#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "connection_registry.h"
#include "frame_encoding.h"
#include "image_signal.h"
#include "stream_slot.h"

class bcam_base;

namespace mirva::camserver {

class HttpApi;

class MjpegStream : public Connection, public std::enable_shared_from_this<MjpegStream> {
public:
    MjpegStream(boost::beast::tcp_stream&& stream, HttpApi& api, bcam_base& camera, FrameFormat format,
                std::chrono::steady_clock::duration period, std::shared_ptr<StreamSlot> slot);
    ~MjpegStream() override;

    void start();          // strand
    void stop() override;  // any thread

private:
    void watch_client();   // strand: notices the client closing
    void wait_for_image(std::chrono::steady_clock::duration delay);  // strand
    void on_tick();        // strand
    void send(std::shared_ptr<const EncodedFrame> frame);  // strand
    void close();          // strand

    HttpApi& api_;
    boost::beast::tcp_stream stream_;
    bcam_base& camera_;
    ImageSignal next_image_;            // strand
    const FrameFormat format_;
    const std::chrono::steady_clock::duration period_;
    std::shared_ptr<StreamSlot> slot_;
    uint64_t seen_ = 0;                                  // strand: sequence of the last image taken
    std::chrono::steady_clock::time_point next_{};       // strand: earliest time of the next part
    std::string part_head_;                              // strand: of the part being written
    std::shared_ptr<const EncodedFrame> in_flight_;      // strand: the part being written
    std::array<char, 512> scratch_{};                    // strand: what the client sends (dropped)
    bool closed_ = false;                                // strand
};

} // namespace mirva::camserver
