// mirva-camserver: the camera server. Reads its configuration, plugs in the emulated
// cameras it names, creates the camera locations and serves them over HTTP until
// SIGINT or SIGTERM, then shuts every location down in order.
#include <CLI/CLI.hpp>

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <mirva/image_files.h>
#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "app.h"
#include "eq_pylon.h"

#ifndef MIRVA_WEB_DIR
#define MIRVA_WEB_DIR "web"
#endif

int main(int argc, char** argv) {
    CLI::App cli{"MIRVA camera server: camera locations for GigE cameras, served over HTTP"};
    std::string config_path = "examples/demo.toml";
    mirva::camserver::AppOptions options;
    options.web_dir = MIRVA_WEB_DIR;
    std::string address;
    int port = -1;
    cli.add_option("config", config_path, "Configuration file (TOML)")->check(CLI::ExistingFile);
    cli.add_option("--address", address, "HTTP address (overrides [http] address)");
    cli.add_option("--port", port, "HTTP port, 0 for any free port (overrides [http] port)")->check(CLI::Range(0, 65535));
    cli.add_option("--web", options.web_dir, "Directory of the web viewer's files")->capture_default_str();
    CLI11_PARSE(cli, argc, argv);
    if (!address.empty())
        options.address = address;
    if (port >= 0)
        options.port = port;

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

        // The HTTP port is bound before any camera is touched: a taken port ends the start at once.
        mirva::camserver::CamServerApp app(cfg, options);
        mirva::camserver::plug_emulated_cameras(cfg);
        mirva::camserver::connect_gige_cameras(cfg);
        std::thread signal_thread([&] {
            int sig = 0;
            sigwait(&stop_signals, &sig);
            printftostderr("camserver", "signal %d: shutting down", sig);
            app.stop();
        });
        // Ends the signal thread's wait when no signal came, also when run() throws: a
        // joinable thread left behind would end the process without a word.
        struct SignalThreadEnd {
            std::thread& thread;
            ~SignalThreadEnd() {
                pthread_kill(thread.native_handle(), SIGTERM);
                thread.join();
            }
        } signal_thread_end{signal_thread};
        app.run([](const std::string& url) {
            printftostderr("camserver", "viewer: %s", url.c_str());
            std::printf("viewer: %s\n", url.c_str());
            std::fflush(stdout);
        });
    } catch (const mirva::camserver::StartError& e) {
        std::fprintf(stderr, "mirva-camserver: %s\n", e.what());
        return 1;
    } catch (const mirva::server::ConfigError& e) {
        std::fprintf(stderr, "mirva-camserver: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mirva-camserver: %s\n", e.what());
        return 1;
    }
    Pylon::Emulator::Instance().Reset();
    return 0;
}
