// The camera server's HTTP API (contract in API.md): locations, properties, images,
// MJPEG streams, live sockets, the emulator's controls and the web viewer's static files,
// served asynchronously (Boost.Beast over Boost.Asio).
//
// Threads:
//  - io threads (options.io_threads): accept, read, write, timers and WebSocket traffic.
//    Every connection has its own strand; its functions run on it.
//  - handler workers (options.worker_threads): the route handlers and image encoding, so
//    that neither a property lock nor an encoder holds up the io threads.
// Handlers reach properties only through EqFct::with_property / for_each_property and
// locations through the server's list, which lives until CameraServer::shutdown():
// stop() must run before that.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <mirva/server/camera_server.h>
#include <mirva/server/config.h>

#include "connection_registry.h"
#include "encode_cache.h"
#include "http_message.h"
#include "router.h"

namespace boost::asio {
class io_context;
class thread_pool;
} // namespace boost::asio

namespace mirva::camserver {

class Listener;

// A reason the HTTP server cannot start (address refused, port taken); one clear line.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool is_loopback_address(const std::string& address);
// Refuses a non-loopback address without allow_remote and a token (StartError).
void check_http_security(const server::HttpConfig& http);

struct HttpOptions {
    server::HttpConfig http;     // address, port (0: any free port), allow_remote, token, max_streams
    std::string web_dir;         // static files served at "/" (empty: none)
    int io_threads = 2;
    int worker_threads = 2;
    size_t max_connections = 256;                   // more are closed at accept
    size_t max_header_bytes = 8 * 1024;             // request line and headers: 431 beyond
    size_t max_body_bytes = 64 * 1024;             // request body: 413 beyond
    std::chrono::milliseconds head_timeout{10000};  // from waiting for a request to its last header byte
    std::chrono::milliseconds body_timeout{10000};  // for the whole body
    std::chrono::milliseconds write_timeout{10000}; // for each reply, stream part or live message
    std::chrono::milliseconds stop_grace{2000};     // stop() lets replies in flight finish this long
};

class HttpApi {
public:
    // Checks the security settings and binds the listening socket (StartError on failure).
    HttpApi(server::CameraServer& server, HttpOptions options);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Starts the io threads and the handler workers (owner's thread).
    void start();
    // Stops accepting, ends streams and live sockets, lets replies in flight finish (within
    // stop_grace) and joins every thread (owner's thread, never a handler's). Idempotent.
    void stop();

    int port() const { return port_; }
    const std::string& address() const { return options_.http.address; }
    // http://ADDRESS:PORT/
    std::string url() const;

    // ---- Shared with the connections and the route files (any thread). ----
    server::CameraServer& camera_server() { return server_; }
    const HttpOptions& options() const { return options_; }
    ConnectionRegistry& connections() { return connections_; }
    EncodeCache& encode_cache() { return encode_cache_; }
    boost::asio::thread_pool& workers() { return *workers_; }
    size_t max_streams() const;
    // A refusal (401) of a request that needs the token and lacks it; nothing when it may pass.
    std::optional<Response> refuse_unauthorized(const std::string& method, const std::string& path,
                                                const std::string& authorization) const;
    // Runs the request's route (a handler worker): the reply, or the takeover of the connection.
    void handle(Request& request, Response& response) const;
    // The API description (GET /api/openapi.json).
    const Router& router() const { return router_; }

private:
    void install_routes();

    server::CameraServer& server_;
    HttpOptions options_;
    Router router_;                    // filled by the constructor, read-only afterwards
    ConnectionRegistry connections_;
    EncodeCache encode_cache_;
    std::unique_ptr<boost::asio::thread_pool> workers_;
    std::unique_ptr<boost::asio::io_context> io_;  // destroyed by stop(), before the members above: its handlers use them
    std::shared_ptr<Listener> listener_;           // released by stop(), before io_
    int port_ = 0;
    std::vector<std::thread> io_threads_;  // owner's thread starts and joins them
    bool started_ = false;                 // owner's thread
    bool stopped_ = false;                 // owner's thread
};

} // namespace mirva::camserver
