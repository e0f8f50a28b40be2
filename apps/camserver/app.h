// The camera server application: emulated cameras, the server core and its HTTP API,
// wired in the order that keeps them safe (the HTTP server stops before the locations
// are shut down). Used by main() and by the tests, which run it in-process.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include <mirva/server/camera_server.h>
#include <mirva/server/config.h>

#include "http_api.h"

namespace mirva::camserver {

struct AppOptions {
    std::optional<std::string> address;  // overrides [http] address
    std::optional<int> port;             // overrides [http] port (0: any free port)
    std::string web_dir;                 // static files of the web viewer
};

// Plugs in the emulated cameras the configuration names (ConfigError on failure).
void plug_emulated_cameras(const server::ServerConfig& config);
// Adds the GigE Vision transport when the configuration's [gige] table enables it.
void connect_gige_cameras(const server::ServerConfig& config);

class CamServerApp {
public:
    // Binds the HTTP port (StartError when refused or taken); creates no location yet.
    CamServerApp(server::ServerConfig config, const AppOptions& options);
    ~CamServerApp();

    // The server's main thread: creates the locations, starts serving HTTP, calls
    // on_listening with the viewer URL, runs the update cycles until stop(), then
    // stops the HTTP server and shuts the locations down.
    void run(const std::function<void(const std::string& url)>& on_listening);
    // Ends run() (any thread).
    void stop();

    int port() const { return http_->port(); }
    std::string url() const { return http_->url(); }
    server::CameraServer& server() { return *server_; }

private:
    std::unique_ptr<server::CameraServer> server_;
    std::unique_ptr<HttpApi> http_;
};

} // namespace mirva::camserver
