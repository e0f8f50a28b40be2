// The camera server's configuration file (TOML): server settings, the emulated cameras
// to plug in at start, and the locations with their initial property values.
//
//   [server]
//   update_period_ms = 1000          # one update() of every location per cycle
//   debug = 0                        # MIRVA_debug mask (the environment's MIRVA_DEBUG wins)
//   state_file = "camserver.state"   # property values kept across restarts
//   state_save_period_s = 10
//   image_directory = "images"       # image, ROI and calibration files
//
//   [http]
//   address = "127.0.0.1"            # another address needs allow_remote = true and a token
//   port = 8080
//   allow_remote = false
//   token = ""                       # or the environment variable MIRVA_HTTP_TOKEN
//
//   [[camera]]                       # an emulated GigE camera plugged in at start
//   serial = "21000001"
//   model = "mono_area_1280x1024"
//   user_name = "beam-view-1"
//   ip_address = "127.0.0.11"
//   pattern = "beam"                 # what it shows: "beam" (default) or "counter", the
//                                    # gradient that carries the frame number
//
//   [gige]                           # real GigE Vision cameras (off by default)
//   enabled = false
//   addresses = ["192.168.10.20"]    # cameras asked by address: one unicast packet each
//   discovery = false                # broadcast discovery, only on the named interfaces
//   interfaces = ["eth1"]
//
//   [[location]]
//   name = "CAM1"
//   type = 812
//   [location.properties]            # initial values, by property name
//   SERIAL = 21000001
//   RESTORE_OLD = 1
//
// Any error (unknown key, wrong type, unknown type code, duplicate name) is one
// ConfigError whose message names the file, the line and the key.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mirva::server {

class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct EmulatedCameraConfig {
    std::string serial;
    std::string model;
    std::string user_name;
    std::string ip_address;
    std::string mac_address;
    std::string pattern = "beam";  // "beam" or "counter"
};

struct LocationConfig {
    std::string name;
    int type_code = 0;
    std::map<std::string, std::string> properties;  // property name -> value as text
};

struct HttpConfig {
    std::string address = "127.0.0.1";
    int port = 8080;
    bool allow_remote = false;
    std::string token;
    // MJPEG streams and live sockets at a time. Each holds at most one image in flight (up to
    // one frame of its camera, about 7 MB for 1920 x 1200 RGB raw, often shared with other
    // viewers), so this bounds their memory: 64 x 7 MB = 450 MB at worst.
    int max_streams = 64;
};

// The GigE Vision transport. While `enabled` is false no packet goes to any camera
// network; `addresses` never broadcast, `discovery` broadcasts on `interfaces` only.
struct GigEConfig {
    bool enabled = false;
    std::vector<std::string> addresses;  // dotted quads
    bool discovery = false;
    std::vector<std::string> interfaces; // host interface names
};

struct ServerConfig {
    std::string source;  // file name, for messages
    std::chrono::milliseconds update_period{1000};
    int debug_mask = 0;
    bool debug_mask_set = false;
    std::filesystem::path state_file = "camserver.state";
    std::chrono::seconds state_save_period{10};
    std::filesystem::path image_directory = ".";
    HttpConfig http;
    std::vector<EmulatedCameraConfig> cameras;
    GigEConfig gige;
    std::vector<LocationConfig> locations;
};

// Reads and checks a configuration; known_type_codes are the location types the server can create.
ServerConfig load_config(const std::filesystem::path& file, const std::set<int>& known_type_codes);
ServerConfig parse_config(std::string_view text, const std::string& source_name, const std::set<int>& known_type_codes);

} // namespace mirva::server
