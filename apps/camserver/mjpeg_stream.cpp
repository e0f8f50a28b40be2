#include "mjpeg_stream.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>

#include <cstdio>

#include <mirva/bcam_base.h>
#include <mirva/server.h>

#include "http_api.h"

namespace mirva::camserver {

namespace net = boost::asio;
namespace beast = boost::beast;
using namespace std::chrono_literals;

namespace {

// Longest wait for an image: the location wakes a waiting stream when it delivers one, so
// this only bounds a wait when none comes.
constexpr auto image_poll_period = 500ms;

const char* content_type_of(Encoding e) { return e == Encoding::jpeg ? "image/jpeg" : "image/png"; }

} // namespace

MjpegStream::MjpegStream(beast::tcp_stream&& stream, HttpApi& api, bcam_base& camera, FrameFormat format,
                         std::chrono::steady_clock::duration period, std::shared_ptr<StreamSlot> slot)
    : api_(api), stream_(std::move(stream)), camera_(camera), next_image_(stream_.get_executor(), &camera), format_(format),
      period_(period), slot_(std::move(slot)) {}

MjpegStream::~MjpegStream() { api_.connections().remove(this); }

void MjpegStream::start() {
    api_.connections().add(shared_from_this());
    static const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n"
        "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
    stream_.expires_after(api_.options().write_timeout);
    net::async_write(stream_, net::buffer(head), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec)
            return self->close();
        self->watch_client();
        self->wait_for_image(0ms);
    });
}

void MjpegStream::stop() {
    net::post(stream_.get_executor(), [self = shared_from_this()] { self->close(); });
}

void MjpegStream::watch_client() {
    // On the socket itself, without the stream's deadline: a client that only watches sends nothing.
    stream_.socket().async_read_some(net::buffer(scratch_), [self = shared_from_this()](beast::error_code ec, size_t) {
        if (ec)
            return self->close();
        self->watch_client();
    });
}

void MjpegStream::wait_for_image(std::chrono::steady_clock::duration delay) {
    if (closed_)
        return;
    next_image_.wait(delay, [self = shared_from_this()] {
        if (!self->closed_)
            self->on_tick();
    });
}

void MjpegStream::on_tick() {
    if (closed_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_)
        return wait_for_image(next_ - now);
    auto image = camera_.latest_image();
    if (!image || image->sequence <= seen_)
        return wait_for_image(image_poll_period);
    seen_ = image->sequence;
    if (image->width <= 0 || image->height <= 0)
        return wait_for_image(image_poll_period);
    net::post(api_.workers(), [self = shared_from_this(), image = std::move(image)]() mutable {
        std::shared_ptr<const EncodedFrame> frame;
        try {
            frame = self->api_.encode_cache().get(self->camera_.name(), std::move(image), self->format_);
        } catch (const std::exception& e) {
            printftostderr("camserver", "stream of %s: %s", self->camera_.name(), e.what());
        }
        net::post(self->stream_.get_executor(), [self, frame] { self->send(frame); });
    });
}

void MjpegStream::send(std::shared_ptr<const EncodedFrame> frame) {
    if (closed_)
        return;
    if (!frame)
        return wait_for_image(image_poll_period);
    const auto& p = frame->image->header.img_prm;
    char timestamp[48];
    std::snprintf(timestamp, sizeof timestamp, "%u.%06u", p.sec, p.usec);
    part_head_ = std::string("--frame\r\nContent-Type: ") + content_type_of(format_.encoding) +
                 "\r\nContent-Length: " + std::to_string(frame->size()) + "\r\nX-Frame: " + std::to_string(p.frame) +
                 "\r\nX-Timestamp: " + timestamp + "\r\n\r\n";
    in_flight_ = std::move(frame);
    static const char part_end[] = "\r\n";
    const std::array<net::const_buffer, 3> buffers{net::buffer(part_head_), net::buffer(in_flight_->data(), in_flight_->size()),
                                                   net::buffer(part_end, 2)};
    next_ = std::chrono::steady_clock::now() + period_;
    stream_.expires_after(api_.options().write_timeout);
    net::async_write(stream_, buffers, [self = shared_from_this()](beast::error_code ec, size_t) {
        self->in_flight_.reset();
        if (ec)
            return self->close();
        self->wait_for_image(0ms);
    });
}

void MjpegStream::close() {
    if (closed_)
        return;
    closed_ = true;
    next_image_.cancel();
    beast::error_code ec;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_both, ec);
    stream_.close();
}

} // namespace mirva::camserver
