#include "http_client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <charconv>

namespace mirva::cli {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

std::string HttpReply::get_header_value(const std::string& name) const {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto it = headers.find(key);
    return it == headers.end() ? std::string() : it->second;
}

HttpClient::HttpClient(const std::string& url) {
    const std::string scheme = "http://";
    std::string rest = url.rfind(scheme, 0) == 0 ? url.substr(scheme.size()) : std::string();
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::string host = rest, port_text = "80";
    if (!rest.empty() && rest.front() == '[') {  // [::1]:8080
        const size_t close = rest.find(']');
        host = close == std::string::npos ? "" : rest.substr(1, close - 1);
        port_text = close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':' ? rest.substr(close + 2) : "80";
    } else if (const size_t colon = rest.rfind(':'); colon != std::string::npos) {
        host = rest.substr(0, colon);
        port_text = rest.substr(colon + 1);
    }
    int port = 0;
    auto [end, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (host.empty() || host.find('/') != std::string::npos || ec != std::errc() ||
        end != port_text.data() + port_text.size() || port <= 0 || port > 65535)
        throw HttpError(HttpError::Kind::bad_url, "bad server URL " + url + " (expected http://HOST:PORT)");
    host_ = host;
    port_ = port;
}

namespace {

// One connection: each step runs the io_context until its operation ends (the stream's
// deadline cancels a step that takes too long).
class Connection {
public:
    Connection(const std::string& host, int port, std::chrono::milliseconds connect_timeout, std::chrono::milliseconds io_timeout)
        : stream_(io_), io_timeout_(io_timeout) {
        tcp::resolver resolver(io_);
        beast::error_code ec;
        auto endpoints = resolver.resolve(host, std::to_string(port), ec);
        if (ec)
            throw HttpError(HttpError::Kind::connection, "cannot resolve " + host);
        stream_.expires_after(connect_timeout);
        stream_.async_connect(endpoints, [&](beast::error_code e, const tcp::endpoint&) { ec = e; });
        run();
        if (ec == beast::error::timeout)
            throw HttpError(HttpError::Kind::timeout, "the connection timed out");
        if (ec)
            throw HttpError(HttpError::Kind::connection, "no server answers there (connection failed)");
    }
    ~Connection() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    }

    void write(const http::request<http::string_body>& req) {
        beast::error_code ec;
        stream_.expires_after(io_timeout_);
        http::async_write(stream_, req, [&](beast::error_code e, size_t) { ec = e; });
        run();
        if (ec == beast::error::timeout)
            throw HttpError(HttpError::Kind::timeout, "the connection timed out");
        // A server that answers early (401, 413) may close before taking the whole body: read its answer.
        if (ec && ec != net::error::broken_pipe && ec != net::error::connection_reset)
            throw HttpError(HttpError::Kind::write, "the connection broke while sending the request");
    }

    template <class Parser>
    beast::error_code read_header(Parser& p) {
        beast::error_code ec;
        stream_.expires_after(io_timeout_);
        http::async_read_header(stream_, buffer_, p, [&](beast::error_code e, size_t) { ec = e; });
        run();
        return ec;
    }

    template <class Parser>
    beast::error_code read_some(Parser& p) {
        beast::error_code ec;
        stream_.expires_after(io_timeout_);
        http::async_read_some(stream_, buffer_, p, [&](beast::error_code e, size_t) { ec = e; });
        run();
        return ec;
    }

    template <class Parser>
    beast::error_code read(Parser& p) {
        beast::error_code ec;
        stream_.expires_after(io_timeout_);
        http::async_read(stream_, buffer_, p, [&](beast::error_code e, size_t) { ec = e; });
        run();
        return ec;
    }

private:
    void run() {
        io_.restart();
        io_.run();
    }

    net::io_context io_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::chrono::milliseconds io_timeout_;
};

[[noreturn]] void read_failed(beast::error_code ec) {
    if (ec == beast::error::timeout)
        throw HttpError(HttpError::Kind::timeout, "the connection timed out");
    throw HttpError(HttpError::Kind::read, "the connection broke while reading the answer");
}

template <class Fields>
void copy_headers(const Fields& fields, HttpReply& reply) {
    for (const auto& f : fields) {
        std::string name(f.name_string());
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        reply.headers[name] = std::string(f.value());
    }
}

http::request<http::string_body> make_request(const std::string& method, const std::string& target, const std::string& host,
                                              int port, const std::string& token) {
    http::request<http::string_body> req;
    req.method_string(method);
    req.target(target);
    req.version(11);
    req.set(http::field::host, host + ":" + std::to_string(port));
    req.set(http::field::user_agent, "mirva-cam");
    req.keep_alive(false);
    if (!token.empty())
        req.set(http::field::authorization, "Bearer " + token);
    return req;
}

} // namespace

HttpReply HttpClient::request(const std::string& method, const std::string& target, const std::string& body,
                              const std::string& content_type, const std::map<std::string, std::string>& headers) {
    Connection c(host_, port_, connect_timeout_, io_timeout_);
    auto req = make_request(method, target, host_, port_, token_);
    for (const auto& [name, value] : headers)
        req.set(name, value);
    if (!content_type.empty())
        req.set(http::field::content_type, content_type);
    req.body() = body;
    if (!body.empty() || method == "POST" || method == "PUT")
        req.prepare_payload();
    c.write(req);
    http::response_parser<http::string_body> parser;
    parser.body_limit(256ull * 1024 * 1024);
    if (method == "HEAD")
        parser.skip(true);  // the headers announce a body that does not come
    if (auto ec = c.read(parser); ec && !(ec == http::error::end_of_stream && parser.is_done()))
        read_failed(ec);
    HttpReply reply;
    reply.status = static_cast<int>(parser.get().result_int());
    copy_headers(parser.get(), reply);
    reply.body = std::move(parser.get().body());
    return reply;
}

void HttpClient::get_streamed(const std::string& target, const std::function<bool(const HttpReply&)>& on_head,
                              const std::function<bool(const char*, size_t)>& on_data) {
    Connection c(host_, port_, connect_timeout_, io_timeout_);
    c.write(make_request("GET", target, host_, port_, token_));
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    if (auto ec = c.read_header(parser))
        read_failed(ec);
    HttpReply head;
    head.status = static_cast<int>(parser.get().result_int());
    copy_headers(parser.get(), head);
    if (!on_head(head))
        return;
    std::array<char, 64 * 1024> piece;
    while (!parser.is_done()) {
        parser.get().body().data = piece.data();
        parser.get().body().size = piece.size();
        auto ec = c.read_some(parser);
        if (ec && ec != http::error::need_buffer) {
            if (ec == http::error::end_of_stream || ec == net::error::eof)
                return;
            read_failed(ec);
        }
        const size_t n = piece.size() - parser.get().body().size;
        if (n > 0 && !on_data(piece.data(), n))
            return;
    }
}

} // namespace mirva::cli
