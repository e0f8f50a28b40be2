#include "http_api.h"

#include <arpa/inet.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/thread_pool.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <mirva/server.h>

#include "listener.h"
#include "routes.h"

namespace mirva::camserver {

using nlohmann::json;

bool is_loopback_address(const std::string& address) {
    if (address == "localhost" || address == "::1")
        return true;
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) == 1)
        return (ntohl(a.s_addr) >> 24) == 127;
    return false;
}

void check_http_security(const server::HttpConfig& http) {
    if (is_loopback_address(http.address))
        return;
    if (!http.allow_remote || http.token.empty()) {
        throw StartError("HTTP address " + http.address +
                         " is not a loopback address: serving it needs allow_remote = true and a token "
                         "([http] token or the environment variable MIRVA_HTTP_TOKEN)");
    }
}

void reply_json(Response& res, const json& body, int status) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void reply_error(Response& res, int status, const std::string& message) {
    reply_json(res, json{{"error", message}}, status);
}

EqFct* find_location_or_404(server::CameraServer& server, const std::string& name, Response& res) {
    EqFct* loc = server.find_location(name);
    if (!loc)
        reply_error(res, 404, "unknown location " + name);
    return loc;
}

namespace {

bool token_matches(const std::string& header, const std::string& token) {
    const std::string expected = "Bearer " + token;
    if (header.size() != expected.size())
        return false;
    unsigned diff = 0;  // the same time for every wrong token of the right length
    for (size_t i = 0; i < header.size(); ++i)
        diff |= static_cast<unsigned>(header[i] ^ expected[i]);
    return diff == 0;
}

HttpOptions checked(HttpOptions options) {
    if (options.http.token.empty())
        if (const char* env = std::getenv("MIRVA_HTTP_TOKEN"))
            options.http.token = env;
    check_http_security(options.http);
    if (options.http.port < 0 || options.http.port > 65535)
        throw StartError("HTTP port " + std::to_string(options.http.port) + " is outside 0..65535");
    options.io_threads = std::max(1, options.io_threads);
    options.worker_threads = std::max(1, options.worker_threads);
    return options;
}

} // namespace

HttpApi::HttpApi(server::CameraServer& server, HttpOptions options)
    : server_(server), options_(checked(std::move(options))),
      workers_(std::make_unique<boost::asio::thread_pool>(static_cast<size_t>(options_.worker_threads))),
      io_(std::make_unique<boost::asio::io_context>()) {
    install_routes();
    listener_ = std::make_shared<Listener>(*io_, *this, options_.http.address, options_.http.port);
    port_ = listener_->port();
}

HttpApi::~HttpApi() { stop(); }

std::string HttpApi::url() const {
    const std::string& a = options_.http.address;
    const bool v6 = a.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + a + "]" : a) + ":" + std::to_string(port_) + "/";
}

size_t HttpApi::max_streams() const { return static_cast<size_t>(std::max(0, options_.http.max_streams)); }

void HttpApi::start() {
    if (started_ || stopped_)
        return;
    started_ = true;
    listener_->start();
    for (int i = 0; i < options_.io_threads; ++i)
        io_threads_.emplace_back([this] {
            for (;;) {
                try {
                    io_->run();
                    return;
                } catch (const std::exception& e) {  // no exception leaves the thread
                    printftostderr("camserver", "HTTP io thread: %s", e.what());
                }
            }
        });
}

void HttpApi::stop() {
    if (stopped_)
        return;
    stopped_ = true;
    listener_->stop();
    connections_.stop_all();
    if (started_ && !connections_.wait_empty(options_.stop_grace))
        printftostderr("camserver", "HTTP: %zu connections still open at stop: closed", connections_.size());
    io_->stop();
    for (auto& t : io_threads_)
        t.join();
    workers_->join();
    // Handlers still queued (a stream waiting for its next image, say) hold listeners on
    // the locations: they go now, while those locations still exist, and not with this
    // object after the server has shut its locations down.
    listener_.reset();
    io_.reset();
}

std::optional<Response> HttpApi::refuse_unauthorized(const std::string& method, const std::string& path,
                                                     const std::string& authorization) const {
    if (options_.http.token.empty() || (method != "PUT" && method != "POST"))
        return std::nullopt;
    if (token_matches(authorization, options_.http.token))
        return std::nullopt;
    Response res;
    res.set_header("WWW-Authenticate", "Bearer");
    reply_error(res, 401, method + " " + path + " needs the header Authorization: Bearer <token>");
    return res;
}

void HttpApi::handle(Request& req, Response& res) const {
    const Router::Match m = router_.find(req);
    switch (m.found) {
    case Router::Found::no_path:
        return reply_error(res, 404, "no such resource: " + percent_decode(req.path));
    case Router::Found::no_method:
        res.set_header("Allow", m.allow);
        return reply_error(res, 405, "method " + req.method + " not allowed on " + percent_decode(req.path) +
                                         " (allowed: " + m.allow + ")");
    case Router::Found::handler: break;
    }
    try {
        (*m.handler)(req, res);
    } catch (const std::exception& e) {
        res = Response{};
        reply_error(res, 500, req.method + " " + percent_decode(req.path) + " failed: " + e.what());
    } catch (...) {
        res = Response{};
        reply_error(res, 500, req.method + " " + percent_decode(req.path) + " failed: unknown error");
    }
}

void HttpApi::install_routes() {
    install_location_routes(router_, *this);
    install_image_routes(router_, *this);
    install_emulator_routes(router_);
    install_openapi_route(router_);
    if (!options_.web_dir.empty()) {
        std::error_code ec;
        if (std::filesystem::is_directory(options_.web_dir, ec))
            install_static_routes(router_, options_.web_dir);
        else
            printtostderr("camserver", ("web viewer directory " + options_.web_dir + " not found: no viewer at /").c_str());
    }
}

} // namespace mirva::camserver
