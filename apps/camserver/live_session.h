// GET /api/locations/{loc}/live: a WebSocket that carries each new image of a location as
// one binary message (128-byte header, then JPEG or raw pixels; layout in API.md). At most
// one message is in flight: a client that cannot keep up gets the newest image when it is
// ready again, and the header counts the images it missed.
//
// Threads: every member function but the constructor and stop() runs on the connection's
// strand; encoding runs on a handler worker (through the shared encode cache).
#pragma once

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <array>
#include <memory>
#include <string>

#include "connection_handover.h"
#include "connection_registry.h"
#include "frame_encoding.h"
#include "image_signal.h"
#include "http_message.h"
#include "live_header.h"
#include "stream_slot.h"

class bcam_base;

namespace mirva::camserver {

class HttpApi;

class LiveSession : public Connection, public std::enable_shared_from_this<LiveSession> {
public:
    // camera null: the location is unknown or has no images; the socket sends refusal as
    // {"error": refusal} and closes.
    LiveSession(boost::beast::tcp_stream&& stream, HttpApi& api, bcam_base* camera, std::string location,
                std::string refusal, FrameFormat format, std::shared_ptr<StreamSlot> slot);
    ~LiveSession() override;

    void start(BeastRequest&& upgrade);  // strand
    void stop() override;                // any thread

private:
    void on_accept(boost::beast::error_code ec);  // strand
    void read();                                   // strand: pings, pongs and the close come this way
    void wait_for_image(std::chrono::steady_clock::duration delay);  // strand
    void on_tick();                                // strand
    void send(std::shared_ptr<const EncodedFrame> frame);  // strand
    void refuse(const std::string& message);       // strand: error text, then close
    void close();                                  // strand

    HttpApi& api_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    bcam_base* const camera_;
    ImageSignal next_image_;            // strand
    const std::string location_;
    const std::string refusal_;
    const FrameFormat format_;
    std::shared_ptr<StreamSlot> slot_;
    boost::beast::flat_buffer incoming_;                  // strand
    uint64_t seen_ = 0;                                   // strand: sequence of the last image taken
    uint32_t dropped_ = 0;                                // strand
    std::array<uint8_t, live_header_bytes> header_{};     // strand: of the message being written
    std::shared_ptr<const EncodedFrame> in_flight_;       // strand: the message being written
    std::string error_text_;                              // strand
    bool writing_ = false;                                // strand
    bool closed_ = false;                                 // strand
    bool registered_ = false;                             // strand
};

} // namespace mirva::camserver
