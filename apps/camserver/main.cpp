// mirva-camserver: the camera server. Reads its configuration, plugs in the emulated
// cameras it names, creates the camera locations and runs them until SIGINT or SIGTERM,
// then shuts every location down in order.
#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <mirva/image_files.h>
#include <mirva/server.h>
#include <mirva/server/camera_server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "eq_pylon.h"

namespace {

std::unique_ptr<EqFct> create_location(int type_code) {
    if (type_code == CODE_PYLON)
        return std::make_unique<EqFctPylon>();
    return nullptr;
}

void plug_emulated_cameras(const mirva::server::ServerConfig& cfg) {
    auto& emulator = Pylon::Emulator::Instance();
    for (const auto& cam : cfg.cameras) {
        Pylon::Emulator::CameraConfig c;
        c.serialNumber = cam.serial;
        c.model = cam.model;
        c.userName = cam.user_name;
        c.ipAddress = cam.ip_address;
        c.macAddress = cam.mac_address;
        try {
            emulator.Plug(c);
        } catch (const GenICam::GenericException& e) {
            throw mirva::server::ConfigError(cfg.source + ": camera " + cam.serial + ": " + e.GetDescription());
        }
        printftostderr("camserver", "emulated camera %s (%s) plugged in", cam.serial.c_str(), cam.model.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"MIRVA camera server: camera locations for GigE cameras"};
    std::string config_path = "examples/demo.toml";
    app.add_option("config", config_path, "Configuration file (TOML)")->check(CLI::ExistingFile);
    CLI11_PARSE(app, argc, argv);

    // SIGINT and SIGTERM go to the signal thread only; every thread started later inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    Pylon::PylonAutoInitTerm pylon;
    try {
        auto cfg = mirva::server::load_config(config_path, {CODE_PYLON});
        if (cfg.debug_mask_set && !std::getenv("MIRVA_DEBUG"))
            MIRVA_debug = cfg.debug_mask;
        std::error_code ec;
        std::filesystem::create_directories(cfg.image_directory, ec);
        mirva::set_image_directory(cfg.image_directory.string());
        plug_emulated_cameras(cfg);

        mirva::server::CameraServer server(std::move(cfg), create_location);
        std::thread signal_thread([&] {
            int sig = 0;
            sigwait(&stop_signals, &sig);
            printftostderr("camserver", "signal %d: shutting down", sig);
            server.stop();
        });
        server.start();
        server.run();
        server.shutdown();
        pthread_kill(signal_thread.native_handle(), SIGTERM);  // ends its wait when no signal came
        signal_thread.join();
        Pylon::Emulator::Instance().Reset();
    } catch (const mirva::server::ConfigError& e) {
        std::fprintf(stderr, "mirva-camserver: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mirva-camserver: %s\n", e.what());
        return 1;
    }
    return 0;
}
