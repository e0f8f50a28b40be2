#include "http_api.h"

#include <arpa/inet.h>

#include <cstdlib>

#include <mirva/server.h>

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

void reply_json(httplib::Response& res, const json& body, int status) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void reply_error(httplib::Response& res, int status, const std::string& message) {
    reply_json(res, json{{"error", message}}, status);
}

EqFct* find_location_or_404(server::CameraServer& server, const std::string& name, httplib::Response& res) {
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

} // namespace

HttpApi::HttpApi(server::CameraServer& server, HttpOptions options)
    : server_(server), options_(std::move(options)), http_(std::make_unique<httplib::Server>()) {
    if (options_.http.token.empty())
        if (const char* env = std::getenv("MIRVA_HTTP_TOKEN"))
            options_.http.token = env;
    check_http_security(options_.http);
    if (options_.http.port < 0 || options_.http.port > 65535)
        throw StartError("HTTP port " + std::to_string(options_.http.port) + " is outside 0..65535");

    // SO_REUSEADDR only: httplib's default SO_REUSEPORT would let a second server share a taken port.
    http_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    });
    http_->set_payload_max_length(64 * 1024);
    http_->set_keep_alive_timeout(1);  // idle connections do not hold up a stop
    http_->set_read_timeout(5, 0);
    http_->set_write_timeout(5, 0);
    install_routes();

    if (options_.http.port == 0) {
        port_ = http_->bind_to_any_port(options_.http.address);
        if (port_ <= 0)
            throw StartError("cannot listen for HTTP on " + options_.http.address + " (no free port)");
    } else {
        if (!http_->bind_to_port(options_.http.address, options_.http.port))
            throw StartError("cannot listen for HTTP on " + options_.http.address + ":" +
                             std::to_string(options_.http.port) + " (port in use or address not available)");
        port_ = options_.http.port;
    }
}

HttpApi::~HttpApi() { stop(); }

std::string HttpApi::url() const {
    const std::string& a = options_.http.address;
    const bool v6 = a.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + a + "]" : a) + ":" + std::to_string(port_) + "/";
}

void HttpApi::start() {
    if (listener_.joinable() || stopping_.load())
        return;
    listener_ = std::thread([this] { http_->listen_after_bind(); });
    // httplib's stop() only ends a server that runs: wait until it does, so that a stop
    // right after the start cannot be lost.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!http_->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void HttpApi::stop() {
    {
        std::lock_guard lk(stop_mx_);
        stopping_.store(true);
    }
    stop_cv_.notify_all();
    http_->stop();
    if (listener_.joinable())
        listener_.join();  // httplib joins its workers before listen_after_bind returns
}

bool HttpApi::wait_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lk(stop_mx_);
    return !stop_cv_.wait_until(lk, deadline, [this] { return stopping_.load(); });
}

std::shared_ptr<void> HttpApi::take_stream_slot() {
    if (streams_.fetch_add(1) >= max_streams) {
        streams_.fetch_sub(1);
        return nullptr;
    }
    return std::shared_ptr<void>(static_cast<void*>(this), [this](void*) { streams_.fetch_sub(1); });
}

void HttpApi::install_routes() {
    auto& http = *http_;
    http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (options_.http.token.empty() || (req.method != "PUT" && req.method != "POST"))
            return httplib::Server::HandlerResponse::Unhandled;
        if (token_matches(req.get_header_value("Authorization"), options_.http.token))
            return httplib::Server::HandlerResponse::Unhandled;
        res.set_header("WWW-Authenticate", "Bearer");
        reply_error(res, 401, req.method + " " + req.path + " needs the header Authorization: Bearer <token>");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        reply_error(res, 500, req.method + " " + req.path + " failed: " + what);
    });
    http.set_error_handler(httplib::Server::HandlerWithResponse([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        std::string message;
        switch (res.status) {
        case 404: message = "no such resource: " + req.path; break;
        case 405: message = "method " + req.method + " not allowed on " + req.path; break;
        case 413: message = "request body too large (limit 65536 bytes)"; break;
        default: message = req.method + " " + req.path + ": HTTP status " + std::to_string(res.status); break;
        }
        reply_error(res, res.status, message);
        return httplib::Server::HandlerResponse::Handled;
    }));

    install_location_routes(http, *this);
    install_image_routes(http, *this);
    install_emulator_routes(http);

    if (!options_.web_dir.empty() && !http.set_mount_point("/", options_.web_dir))
        printtostderr("camserver", ("web viewer directory " + options_.web_dir + " not found: no viewer at /").c_str());
}

} // namespace mirva::camserver
