#include "http_session.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <array>

#include "connection_handover.h"
#include "http_api.h"
#include "routes.h"

namespace mirva::camserver {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

Request to_request(const boost::beast::http::request<boost::beast::http::string_body>& m) {
    Request r;
    r.method = std::string(m.method_string());
    const std::string target(m.target());
    const size_t q = target.find('?');
    r.path = target.substr(0, q);
    if (q != std::string::npos)
        r.params = parse_query(target.substr(q + 1));
    for (const auto& field : m)
        r.headers.emplace(lower(std::string(field.name_string())), std::string(field.value()));
    r.body = m.body();
    return r;
}

} // namespace

HttpSession::HttpSession(net::ip::tcp::socket&& socket, HttpApi& api) : api_(api), stream_(std::move(socket)) {}

HttpSession::~HttpSession() {
    if (registered_)
        api_.connections().remove(this);
}

void HttpSession::start() {
    // Counted at once, so that the listener's next accept sees it.
    registered_ = true;
    api_.connections().add(shared_from_this());
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_head(); });
}

void HttpSession::stop() {
    net::post(stream_.get_executor(), [self = shared_from_this()] {
        self->stopping_ = true;
        if (!self->busy_)
            self->close();
    });
}

void HttpSession::read_head() {
    if (stopping_)
        return close();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(api_.options().max_header_bytes));
    parser_->body_limit(api_.options().max_body_bytes);
    // One deadline for the whole head: a client that trickles it byte by byte gains nothing.
    stream_.expires_after(api_.options().head_timeout);
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = shared_from_this()](beast::error_code ec, size_t) { self->on_head(ec); });
}

void HttpSession::on_head(beast::error_code ec) {
    if (ec == http::error::header_limit)
        return reply_error(431, "request header too large (limit " + std::to_string(api_.options().max_header_bytes) + " bytes)");
    if (ec == http::error::body_limit)
        return reply_error(413, "request body too large (limit " + std::to_string(api_.options().max_body_bytes) + " bytes)");
    if (ec && ec.category() == http::make_error_code(http::error::end_of_stream).category() && ec != http::error::end_of_stream &&
        ec != http::error::partial_message)
        return reply_error(400, "malformed request: " + ec.message());
    if (ec)
        return close();  // closed by the client, deadline passed, or stopped
    busy_ = true;
    const auto& head = parser_->get();
    const std::string target(head.target());
    auto refusal = api_.refuse_unauthorized(std::string(head.method_string()), target.substr(0, target.find('?')),
                                            std::string(head[http::field::authorization]));
    if (refusal)
        return write(std::make_shared<Response>(std::move(*refusal)), false);  // the body stays unread
    if (lower(std::string(head[http::field::expect])) == "100-continue" && !parser_->is_done()) {
        static const std::string go_on = "HTTP/1.1 100 Continue\r\n\r\n";
        stream_.expires_after(api_.options().write_timeout);
        return net::async_write(stream_, net::buffer(go_on), [self = shared_from_this()](beast::error_code e, size_t) {
            if (e)
                return self->close();
            self->read_body();
        });
    }
    read_body();
}

void HttpSession::read_body() {
    if (parser_->is_done())
        return run_handler();
    stream_.expires_after(api_.options().body_timeout);
    http::async_read(stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) { self->on_body(ec); });
}

void HttpSession::on_body(beast::error_code ec) {
    if (ec == http::error::body_limit)
        return reply_error(413, "request body too large (limit " + std::to_string(api_.options().max_body_bytes) + " bytes)");
    if (ec)
        return close();
    run_handler();
}

void HttpSession::run_handler() {
    stream_.expires_never();
    auto request = std::make_shared<Request>(to_request(parser_->get()));
    net::post(api_.workers(), [self = shared_from_this(), request] {
        auto response = std::make_shared<Response>();
        self->api_.handle(*request, *response);
        net::post(self->stream_.get_executor(), [self, response] { self->on_handled(response); });
    });
}

void HttpSession::on_handled(std::shared_ptr<Response> response) {
    if (response->takeover && !stopping_) {
        ConnectionHandover handover{std::move(stream_), parser_->release()};
        busy_ = false;
        response->takeover(handover);
        return;  // the stream or live socket owns the connection now
    }
    if (response->takeover) {  // stopping: no stream starts
        response = std::make_shared<Response>();
        camserver::reply_error(*response, 503, "the server is stopping");
    }
    const bool keep_alive = parser_->get().keep_alive() && !stopping_;
    write(std::move(response), keep_alive);
}

void HttpSession::reply_error(int status, const std::string& message) {
    busy_ = true;
    auto response = std::make_shared<Response>();
    camserver::reply_error(*response, status, message);
    write(std::move(response), false);
}

void HttpSession::write(std::shared_ptr<Response> response, bool keep_alive) {
    const bool head_only = parser_ && parser_->is_header_done() && parser_->get().method() == http::verb::head;
    auto message = std::make_shared<http::response<http::string_body>>();
    message->version(parser_ && parser_->is_header_done() ? parser_->get().version() : 11);
    message->result(static_cast<unsigned>(response->status));
    for (auto& [name, value] : response->headers)
        message->insert(name, value);
    if (!response->content_type.empty())
        message->set(http::field::content_type, response->content_type);
    message->keep_alive(keep_alive);
    const size_t length = response->body.size();
    if (!head_only)
        message->body() = std::move(response->body);
    message->content_length(length);
    stream_.expires_after(api_.options().write_timeout);
    http::async_write(stream_, *message, [self = shared_from_this(), message, keep_alive](beast::error_code ec, size_t) {
        self->busy_ = false;
        if (ec)
            return self->close();
        if (!keep_alive || self->stopping_)
            return self->linger();
        self->read_head();
    });
}

void HttpSession::linger() {
    // Closing a socket with unread input resets the connection, and the client may lose the
    // reply it has not read yet: stop sending, then read and drop what comes until the client
    // closes or the deadline passes.
    beast::error_code ec;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ec);
    if (ec)
        return close();
    stream_.expires_after(api_.options().stop_grace);
    drain();
}

void HttpSession::drain() {
    auto scratch = std::make_shared<std::array<char, 4096>>();
    stream_.async_read_some(net::buffer(*scratch), [self = shared_from_this(), scratch](beast::error_code ec, size_t) {
        if (ec)
            return self->close();
        self->drain();
    });
}

void HttpSession::close() {
    beast::error_code ec;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ec);
    stream_.close();
}

} // namespace mirva::camserver
