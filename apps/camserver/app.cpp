#include "app.h"

#include <mirva/server.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>
#include <pylon/transport/GigETransport.h>

#include "eq_pylon.h"

namespace mirva::camserver {

namespace {

std::unique_ptr<EqFct> create_location(int type_code) {
    if (type_code == CODE_PYLON)
        return std::make_unique<EqFctPylon>();
    return nullptr;
}

HttpOptions http_options(const server::ServerConfig& config, const AppOptions& options) {
    HttpOptions h;
    h.http = config.http;
    if (options.address)
        h.http.address = *options.address;
    if (options.port)
        h.http.port = *options.port;
    h.web_dir = options.web_dir;
    return h;
}

} // namespace

void plug_emulated_cameras(const server::ServerConfig& cfg) {
    auto& emulator = Pylon::Emulator::Instance();
    for (const auto& cam : cfg.cameras) {
        Pylon::Emulator::CameraConfig c;
        c.serialNumber = cam.serial;
        c.model = cam.model;
        c.userName = cam.user_name;
        c.ipAddress = cam.ip_address;
        c.macAddress = cam.mac_address;
        c.pattern = Pylon::Emulator::PatternFromName(cam.pattern).value_or(Pylon::Emulator::EPattern::Beam);
        try {
            emulator.Plug(c);
        } catch (const GenICam::GenericException& e) {
            throw server::ConfigError(cfg.source + ": camera " + cam.serial + ": " + e.GetDescription());
        }
        printftostderr("camserver", "emulated camera %s (%s) plugged in", cam.serial.c_str(), cam.model.c_str());
    }
}

void connect_gige_cameras(const server::ServerConfig& cfg) {
    if (!cfg.gige.enabled)
        return;
    Pylon::Transport::GigEOptions options;
    options.addresses = cfg.gige.addresses;
    options.discovery = cfg.gige.discovery;
    options.interfaces = cfg.gige.interfaces;
    options.report = [](const std::string& problem) { printftostderr("camserver", "%s", problem.c_str()); };
    Pylon::CTlFactory::GetInstance().RegisterTransportLayer(Pylon::Transport::CreateGigETransportLayer(std::move(options)));
    std::string where;
    for (const auto& a : cfg.gige.addresses)
        where += " " + a;
    if (cfg.gige.discovery)
        for (const auto& i : cfg.gige.interfaces)
            where += " discovery:" + i;
    printftostderr("camserver", "GigE Vision cameras at:%s", where.empty() ? " (none)" : where.c_str());
}

CamServerApp::CamServerApp(server::ServerConfig config, const AppOptions& options) {
    HttpOptions h = http_options(config, options);
    server_ = std::make_unique<server::CameraServer>(std::move(config), create_location);
    http_ = std::make_unique<HttpApi>(*server_, std::move(h));
}

CamServerApp::~CamServerApp() {
    http_->stop();
    server_->shutdown();
}

void CamServerApp::run(const std::function<void(const std::string& url)>& on_listening) {
    server_->start();
    http_->start();
    if (on_listening)
        on_listening(http_->url());
    server_->run();
    http_->stop();  // no request may reach a location past this point
    server_->shutdown();
}

void CamServerApp::stop() { server_->stop(); }

} // namespace mirva::camserver
