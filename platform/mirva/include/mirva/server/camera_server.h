// The camera server core: creates the configured locations, drives their lifecycle
// (init, post_init, then update() once per cycle), keeps the state file, and shuts
// every location down in order.
//
// Threads: start(), run() and shutdown() belong to the server's main (update) thread;
// stop() may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <mirva/eq_fct.h>
#include <mirva/server/config.h>
#include <mirva/server/state_store.h>

namespace mirva::server {

class CameraServer {
public:
    // Creates a location of the given type code (null for an unknown one).
    using LocationFactory = std::function<std::unique_ptr<EqFct>(int type_code)>;

    CameraServer(ServerConfig config, LocationFactory factory);
    ~CameraServer();
    CameraServer(const CameraServer&) = delete;
    CameraServer& operator=(const CameraServer&) = delete;

    // Restores the state file, creates every location in configuration order and runs
    // its init() and post_init().
    void start();
    // Runs update cycles until stop() is called; saves the state periodically.
    void run();
    // One update cycle: update() of every location, in order, under its lifecycle lock.
    void update_cycle();
    // Ends run() (any thread).
    void stop();
    // Saves the state, then cancels and destroys every location in order. Idempotent.
    void shutdown();
    // Records every location's property values and writes the state file.
    bool save_state();

    const ServerConfig& config() const { return config_; }
    // The locations in configuration order (valid until shutdown()).
    const std::vector<EqFct*>& locations() const { return locations_; }
    EqFct* find_location(const std::string& name) const;

private:
    PropertyValues configured_values(const std::string& location) const;

    ServerConfig config_;
    LocationFactory factory_;
    StateStore state_;
    std::vector<EqFct*> locations_;  // main thread; owned by the server's location list
    // Per location: its configured property names were checked against the properties it
    // took after its first set-up (each unknown name is reported once). Update thread only.
    std::vector<bool> names_checked_;
    void check_configured_names_(size_t index);
    std::mutex stop_mx_;
    std::condition_variable stop_cv_;
    bool stop_requested_ = false;    // guarded by stop_mx_
    bool started_ = false;
    bool shut_down_ = false;
};

} // namespace mirva::server
