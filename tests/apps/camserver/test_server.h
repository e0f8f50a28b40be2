// A camera server with the two emulated cameras of two_cameras.toml, run in-process on
// 127.0.0.1 with an ephemeral HTTP port, and the polling helpers of the API tests.
#pragma once

#include <nlohmann/json.hpp>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <mirva/image_files.h>
#include <mirva/server/config.h>
#include <pylon/PylonIncludes.h>
#include <pylon/emulator/Emulator.h>

#include "app.h"
#include "eq_pylon.h"
#include "http_client.h"

namespace mirva::test {

// Polls pred every 20 ms until it holds or the timeout passes.
inline bool eventually(const std::function<bool()>& pred, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// An answer, or nothing when the server could not be reached or broke off.
using Result = std::optional<cli::HttpReply>;

// The tests' HTTP client: one connection per request to 127.0.0.1:port.
class TestClient {
public:
    explicit TestClient(int port) : client_("127.0.0.1", port) {
        client_.set_timeouts(std::chrono::seconds(3), std::chrono::seconds(10));
    }
    void set_bearer_token_auth(std::string token) { client_.set_bearer_token(std::move(token)); }
    Result Get(const std::string& path) { return call("GET", path, "", ""); }
    Result Put(const std::string& path, const std::string& body, const std::string& type) { return call("PUT", path, body, type); }
    Result Post(const std::string& path, const std::string& body, const std::string& type) { return call("POST", path, body, type); }
    Result call(const std::string& method, const std::string& path, const std::string& body, const std::string& type,
                const std::map<std::string, std::string>& headers = {}) {
        try {
            return client_.request(method, path, body, type, headers);
        } catch (const cli::HttpError&) {
            return std::nullopt;
        }
    }
    // A streamed GET: the head (nothing on failure); on_head and on_data as HttpClient::get_streamed.
    Result Get(const std::string& path, const std::function<bool(const cli::HttpReply&)>& on_head,
               const std::function<bool(const char*, size_t)>& on_data) {
        Result head;
        try {
            client_.get_streamed(path, [&](const cli::HttpReply& h) {
                head = h;
                return on_head(h);
            }, on_data);
        } catch (const cli::HttpError&) {
        }
        return head;
    }

    // The start of a location's multipart stream: its Content-Type and the bytes read until
    // `parts` parts have begun (so all before the last are whole).
    struct StreamStart {
        std::string content_type;
        std::string data;
        int parts = 0;
    };
    StreamStart read_stream(const std::string& path, int parts) {
        StreamStart got;
        Get(path, [&](const cli::HttpReply& res) {
                got.content_type = res.get_header_value("Content-Type");
                return res.status == 200;
            },
            [&](const char* bytes, size_t n) {
                got.data.append(bytes, n);
                got.parts = 0;
                for (size_t at = got.data.find("--frame\r\n"); at != std::string::npos; at = got.data.find("--frame\r\n", at + 1))
                    ++got.parts;
                return got.parts < parts;
            });
        return got;
    }

private:
    cli::HttpClient client_;
};

class TestServer {
public:
    explicit TestServer(const std::string& token = "") {
        char dir_template[] = "/tmp/mirva_api_test_XXXXXX";
        if (!mkdtemp(dir_template))
            throw std::runtime_error("mkdtemp failed");
        dir_ = dir_template;
        std::filesystem::create_directories(dir_ / "web");
        std::ofstream(dir_ / "web" / "index.html") << "<!doctype html><title>viewer</title>";

        auto cfg = server::load_config(MIRVA_SOURCE_DIR "/tests/apps/camserver/two_cameras.toml", {CODE_PYLON});
        cfg.state_file = dir_ / "camserver.state";
        cfg.image_directory = dir_;
        cfg.http.token = token;
        mirva::set_image_directory(dir_.string());
        camserver::plug_emulated_cameras(cfg);
        camserver::AppOptions options;
        options.port = 0;
        options.web_dir = (dir_ / "web").string();
        app_ = std::make_unique<camserver::CamServerApp>(std::move(cfg), options);
        std::promise<std::string> listening;
        auto url = listening.get_future();
        thread_ = std::thread([this, &listening] {
            app_->run([&listening](const std::string& u) { listening.set_value(u); });
        });
        url_ = url.get();
        url_.pop_back();  // no trailing slash
        port_ = app_->port();
    }

    ~TestServer() {
        app_->stop();
        thread_.join();
        app_.reset();
        Pylon::Emulator::Instance().Reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    const std::string& url() const { return url_; }  // http://127.0.0.1:PORT
    int port() const { return port_; }
    const std::filesystem::path& dir() const { return dir_; }

    TestClient client() const { return TestClient(port_); }

    nlohmann::json get_json(const std::string& path) const {
        auto r = client().Get(path);
        if (!r || r->status != 200)
            return nullptr;
        return nlohmann::json::parse(r->body, nullptr, false);
    }

    nlohmann::json location(const std::string& name) const {
        auto doc = get_json("/api/locations");
        if (doc.is_object())
            for (const auto& l : doc["locations"])
                if (l["name"] == name)
                    return l;
        return nullptr;
    }

    bool online(const std::string& name) const {
        auto l = location(name);
        return l.is_object() && l["online"] == 1;
    }

    // Until both locations are on line and CAM1 publishes its features.
    bool wait_ready(std::chrono::milliseconds timeout = std::chrono::seconds(15)) const {
        return eventually([&] {
            return online("CAM1") && online("CAM2") &&
                   get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW").is_object() &&
                   get_json("/api/locations/CAM2/properties/EXPOSURETIMERAW").is_object();
        }, timeout);
    }

    // Starts acquisition and waits for the first image. The camera thread puts back the START
    // value saved at init when it first runs, which can undo a write made just before: the
    // request is repeated while START reads 0.
    bool start_acquisition(const std::string& loc, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        const std::string path = "/api/locations/" + loc + "/properties/START";
        return eventually([&] {
            auto c = client();
            auto start = get_json(path);
            if (start.is_object() && start["value"] == 0)
                c.Put(path, R"({"value": 1})", "application/json");
            auto r = c.Get("/api/locations/" + loc + "/image");
            return r && r->status == 200;
        }, timeout);
    }

private:
    Pylon::PylonAutoInitTerm pylon_;
    std::filesystem::path dir_;
    std::unique_ptr<camserver::CamServerApp> app_;
    std::thread thread_;
    std::string url_;
    int port_ = 0;
};

} // namespace mirva::test
