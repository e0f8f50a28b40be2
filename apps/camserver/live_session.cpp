#include "live_session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <nlohmann/json.hpp>

#include <mirva/bcam_base.h>
#include <mirva/server.h>

#include "http_api.h"

namespace mirva::camserver {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using namespace std::chrono_literals;

namespace {

// Longest wait for an image: the location wakes a waiting socket when it delivers one, so
// this only bounds a wait when none comes.
constexpr auto image_poll_period = 500ms;

} // namespace

LiveSession::LiveSession(beast::tcp_stream&& stream, HttpApi& api, bcam_base* camera, std::string location,
                         std::string refusal, FrameFormat format, std::shared_ptr<StreamSlot> slot)
    : api_(api), ws_(std::move(stream)), camera_(camera), next_image_(ws_.get_executor(), camera), location_(std::move(location)),
      refusal_(std::move(refusal)), format_(format), slot_(std::move(slot)) {}

LiveSession::~LiveSession() {
    if (registered_)
        api_.connections().remove(this);
}

void LiveSession::start(BeastRequest&& upgrade) {
    registered_ = true;
    api_.connections().add(shared_from_this());
    // A ping after 15 s without traffic from the client; no pong within 15 s more: closed.
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = api_.options().head_timeout;
    timeout.idle_timeout = std::chrono::seconds(30);
    timeout.keep_alive_pings = true;
    ws_.set_option(timeout);
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& res) {
        res.set(beast::http::field::server, "mirva-camserver");
    }));
    ws_.read_message_max(64 * 1024);
    ws_.async_accept(upgrade, [self = shared_from_this()](beast::error_code ec) { self->on_accept(ec); });
}

void LiveSession::stop() {
    net::post(ws_.get_executor(), [self = shared_from_this()] { self->close(); });
}

void LiveSession::on_accept(beast::error_code ec) {
    if (ec)
        return close();
    if (!camera_)
        return refuse(refusal_);
    read();
    wait_for_image(0ms);
}

void LiveSession::read() {
    ws_.async_read(incoming_, [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec)  // the client closed, the connection broke or it fell silent past the timeout
            return self->close();
        self->incoming_.consume(self->incoming_.size());  // the client has nothing to say
        self->read();
    });
}

void LiveSession::wait_for_image(std::chrono::steady_clock::duration delay) {
    if (closed_)
        return;
    next_image_.wait(delay, [self = shared_from_this()] {
        if (!self->closed_)
            self->on_tick();
    });
}

void LiveSession::on_tick() {
    if (closed_ || writing_)
        return;
    auto image = camera_->latest_image();
    if (!image || image->sequence <= seen_ || image->width <= 0 || image->height <= 0)
        return wait_for_image(image_poll_period);
    if (seen_ != 0 && image->sequence > seen_ + 1)
        dropped_ += static_cast<uint32_t>(image->sequence - seen_ - 1);
    seen_ = image->sequence;
    writing_ = true;
    net::post(api_.workers(), [self = shared_from_this(), image = std::move(image)]() mutable {
        std::shared_ptr<const EncodedFrame> frame;
        try {
            frame = self->api_.encode_cache().get(self->location_, std::move(image), self->format_);
        } catch (const std::exception& e) {
            printftostderr("camserver", "live view of %s: %s", self->location_.c_str(), e.what());
        }
        net::post(self->ws_.get_executor(), [self, frame] { self->send(frame); });
    });
}

void LiveSession::send(std::shared_ptr<const EncodedFrame> frame) {
    if (closed_)
        return;
    if (!frame) {
        writing_ = false;
        return wait_for_image(image_poll_period);
    }
    header_ = live_header(*frame, dropped_);
    in_flight_ = std::move(frame);
    const std::array<net::const_buffer, 2> message{net::buffer(header_), net::buffer(in_flight_->data(), in_flight_->size())};
    ws_.binary(true);
    ws_.async_write(message, [self = shared_from_this()](beast::error_code ec, size_t) {
        self->writing_ = false;
        self->in_flight_.reset();
        if (ec)
            return self->close();
        self->wait_for_image(0ms);
    });
}

void LiveSession::refuse(const std::string& message) {
    error_text_ = nlohmann::json{{"error", message}}.dump();
    ws_.text(true);
    writing_ = true;
    ws_.async_write(net::buffer(error_text_), [self = shared_from_this()](beast::error_code ec, size_t) {
        self->writing_ = false;
        if (ec)
            return self->close();
        self->ws_.async_close(websocket::close_code::policy_error, [self](beast::error_code) { self->close(); });
    });
}

void LiveSession::close() {
    if (closed_)
        return;
    closed_ = true;
    next_image_.cancel();
    if (ws_.is_open() && !writing_) {
        // A polite close; the pending read ends with it.
        ws_.async_close(websocket::close_code::going_away, [self = shared_from_this()](beast::error_code) {
            beast::get_lowest_layer(self->ws_).close();
        });
        return;
    }
    beast::get_lowest_layer(ws_).close();  // a write in flight ends with an error
}

} // namespace mirva::camserver
