// The camera server's HTTP API (contract in API.md): locations, properties, images,
// the live stream, the emulator's controls and the web viewer's static files.
//
// Threads: httplib serves requests on its own pool; handlers reach properties only
// through EqFct::with_property / for_each_property and locations through the server's
// list, which lives until CameraServer::shutdown(). stop() must run before that.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <mirva/server/camera_server.h>
#include <mirva/server/config.h>

namespace httplib {
class Server;
}

namespace mirva::camserver {

// A reason the HTTP server cannot start (address refused, port taken); one clear line.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

bool is_loopback_address(const std::string& address);
// Refuses a non-loopback address without allow_remote and a token (StartError).
void check_http_security(const server::HttpConfig& http);

struct HttpOptions {
    server::HttpConfig http;// address, port (0: any free port), allow_remote, token
    std::string web_dir;    // static files served at "/" (empty: none)
};

class HttpApi {
public:
    // Checks the security settings and binds the listening socket (StartError on failure).
    HttpApi(server::CameraServer& server, HttpOptions options);
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Starts serving on its own thread.
    void start();
    // Ends streams, stops the server and joins its threads (any thread but a handler's). Idempotent.
    void stop();

    int port() const { return port_; }
    const std::string& address() const { return options_.http.address; }
    // http://ADDRESS:PORT/
    std::string url() const;

    // Shared with the route files.
    server::CameraServer& camera_server() { return server_; }
    bool stopping() const { return stopping_.load(); }
    // Waits until deadline or stop(); false when stopping.
    bool wait_until(std::chrono::steady_clock::time_point deadline);
    // A stream holds one of httplib's worker threads for as long as it runs: at most
    // max_streams at a time, so that streams never starve the other requests. Null when
    // all are taken; the slot is free again when the returned handle is destroyed.
    static constexpr int max_streams = 4;
    std::shared_ptr<void> take_stream_slot();

private:
    void install_routes();

    server::CameraServer& server_;
    HttpOptions options_;
    std::unique_ptr<httplib::Server> http_;
    int port_ = 0;
    std::thread listener_;             // owner's thread starts and joins it
    std::atomic<bool> stopping_{false};
    std::atomic<int> streams_{0};      // running streams (request threads)
    std::mutex stop_mx_;
    std::condition_variable stop_cv_;  // wakes waiting stream handlers at stop()
};

} // namespace mirva::camserver
