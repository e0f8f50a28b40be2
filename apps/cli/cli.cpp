#include "cli.h"

#include <fnmatch.h>

#include <CLI/CLI.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <thread>

#include "api_client.h"

namespace mirva::cli {

using nlohmann::json;

namespace {

std::string location_path(const std::string& loc) { return "/api/locations/" + path_segment(loc); }
std::string property_path(const std::string& loc, const std::string& name) {
    return location_path(loc) + "/properties/" + path_segment(name);
}

// A value as the terminal shows it: texts without quotes, numbers and lists as JSON.
std::string value_text(const json& v) {
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_array() && v.size() > 8)
        return "[" + std::to_string(v.size()) + " points: " + v[0].dump() + " ... " + v.back().dump() + "]";
    return v.dump();
}

std::string pending_text(const json& p) {
    if (p.contains("changed") && p["changed"].is_boolean() && p["changed"].get<bool>() && p.contains("pending"))
        return "  (pending " + value_text(p["pending"]) + " until the camera takes it)";
    return "";
}

// VALUE as JSON: a number when the whole text is one, else the text.
json value_of_argument(const std::string& text) {
    int64_t i = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), i);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty())
        return i;
    if (!text.empty() && !std::isspace(static_cast<unsigned char>(text[0]))) {
        char* stop = nullptr;
        const double d = std::strtod(text.c_str(), &stop);
        if (stop == text.c_str() + text.size() && std::isfinite(d))
            return d;
    }
    return text;
}

bool matches(const std::string& name, const std::string& pattern) {
    if (pattern.empty())
        return true;
    if (pattern.find_first_of("*?[") != std::string::npos)
        return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
    auto upper = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    return upper(name).find(upper(pattern)) != std::string::npos;
}

int cmd_list(ApiClient& api, std::ostream& out) {
    json doc = api.get_json("/api/locations");
    char line[256];
    std::snprintf(line, sizeof line, "%-12s %5s %6s %-12s %10s %7s %10s %-28s %s\n", "LOCATION", "TYPE", "ONLINE", "STATUS",
                  "FRAME.RATE", "FPS", "FRAMES", "STREAM(OK/FAIL/UND MISS/RES)", "ERROR");
    out << line;
    for (const auto& l : doc.value("locations", json::array())) {
        char fps[32] = "-";
        if (l.contains("fps") && l["fps"].is_number())
            std::snprintf(fps, sizeof fps, "%.1f", l["fps"].get<double>());
        // The camera stream's counts, when the server gives them.
        std::string stream = "-";
        if (l.contains("stream") && l["stream"].is_object()) {
            const json& st = l["stream"];
            auto count = [&](const char* key) { return st.contains(key) ? value_text(st[key]) : std::string("?"); };
            stream = count("frames_completed") + "/" + count("frames_failed") + "/" + count("underruns") + " " +
                     count("missing_packets") + "/" + count("resent_packets");
        }
        std::snprintf(line, sizeof line, "%-12s %5s %6s %-12s %10s %7s %10s %-28s %s\n", value_text(l["name"]).c_str(),
                      value_text(l["type"]).c_str(), value_text(l["online"]).c_str(),
                      value_text(l["camera_status"]).c_str(), value_text(l["frame_rate"]).c_str(), fps,
                      value_text(l["frame_counter"]).c_str(), stream.c_str(), value_text(l["error_text"]).c_str());
        out << line;
    }
    return 0;
}

int cmd_props(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& pattern) {
    json doc = api.get_json(location_path(loc) + "/properties");
    int shown = 0;
    for (const auto& p : doc.value("properties", json::array())) {
        const std::string name = p.value("name", "");
        if (!matches(name, pattern))
            continue;
        out << name << " = " << value_text(p["value"]) << (p.value("writable", false) ? "" : "  (read-only)")
            << pending_text(p) << "\n";
        ++shown;
    }
    for (const auto& f : doc.value("features", json::array())) {
        const std::string name = f.value("name", "");
        if (!matches(name, pattern))
            continue;
        out << name << " = " << value_text(f["value"]);
        if (f.contains("unit") && f["unit"].is_string() && !f["unit"].get<std::string>().empty())
            out << " " << f["unit"].get<std::string>();
        if (f.contains("access") && f["access"] == 0)
            out << "  (read-only)";
        if (f.contains("categ") && f["categ"].is_string())
            out << "  [" << f["categ"].get<std::string>() << "]";
        out << pending_text(f) << "\n";
        ++shown;
    }
    if (shown == 0 && !pattern.empty())
        throw CliError("no property of location " + loc + " matches " + pattern);
    return 0;
}

int cmd_get(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& name) {
    json p = api.get_json(property_path(loc, name));
    out << value_text(p["value"]) << pending_text(p) << "\n";
    return 0;
}

int cmd_set(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& name, const std::string& value) {
    json p = api.put_json(property_path(loc, name), json{{"value", value_of_argument(value)}});
    out << loc << " " << name << " = " << value_text(p["value"]) << pending_text(p) << "\n";
    return 0;
}

int cmd_snap(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& file) {
    std::string type;
    const std::string png = api.get_bytes(location_path(loc) + "/image", &type);
    if (type != "image/png")
        throw CliError("the server sent " + type + " instead of a PNG image");
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(png.data(), static_cast<std::streamsize>(png.size())) || !f.flush())
        throw CliError("cannot write " + file);
    out << file << ": " << png.size() << " bytes\n";
    return 0;
}

int cmd_watch(ApiClient& api, std::ostream& out, const std::string& loc, int count, int interval_ms) {
    const std::string path = location_path(loc) + "/properties?names=ONLINE,FRAME.RATE,FRAME.COUNTER";
    for (int n = 0; count <= 0 || n < count; ++n) {
        if (n > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));  // pacing of the display
        json doc = api.get_json(path);
        json online, rate, counter;
        for (const auto& p : doc.value("properties", json::array())) {
            if (p["name"] == "ONLINE") online = p["value"];
            if (p["name"] == "FRAME.RATE") rate = p["value"];
            if (p["name"] == "FRAME.COUNTER") counter = p["value"];
        }
        char line[160];
        std::snprintf(line, sizeof line, "\r%s: online %s  frame rate %7.2f Hz  frame counter %s   ", loc.c_str(),
                      online.dump().c_str(), rate.is_number() ? rate.get<double>() : 0.0, counter.dump().c_str());
        out << line << std::flush;
    }
    out << "\n";
    return 0;
}

// CONF.SAVE / CONF.LOAD: 1 requests it; the location sets 0 when done, -1 when it failed.
int cmd_conf(ApiClient& api, std::ostream& out, const std::string& loc, const char* property, const char* what,
             int timeout_s) {
    api.put_json(property_path(loc, property), json{{"value", 1}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (std::chrono::steady_clock::now() < deadline) {
        json p = api.get_json(property_path(loc, property));
        if (p["value"] == 0) {
            out << loc << ": features " << what << " (" << property << " = 0)\n";
            return 0;
        }
        if (p["value"] == -1)
            throw CliError(loc + ": the features were not " + what + " (" + property + " = -1, see the server's log)");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // poll period of the request
    }
    throw CliError(loc + ": " + property + " did not return to 0 or -1 within " + std::to_string(timeout_s) + " s");
}

} // namespace

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"mirva-cam: command-line client of the MIRVA camera server"};
    std::string server = "http://127.0.0.1:8080";
    if (const char* env = std::getenv("MIRVA_CAM_SERVER"); env && *env)
        server = env;
    app.add_option("--server", server, "Server URL (default http://127.0.0.1:8080 or MIRVA_CAM_SERVER)");
    app.require_subcommand(1);

    std::string loc, name, value, pattern, file;
    int count = 0, interval_ms = 500, timeout_s = 30;
    auto* list = app.add_subcommand("list", "Locations with on-line state, status, frame rate and counter");
    auto* props = app.add_subcommand("props", "Properties and features of a location");
    props->add_option("LOC", loc, "Location")->required();
    props->add_option("PATTERN", pattern, "Name filter: a part of the name or a glob (*, ?)");
    auto* get = app.add_subcommand("get", "Value of one property");
    get->add_option("LOC", loc, "Location")->required();
    get->add_option("NAME", name, "Property")->required();
    auto* set = app.add_subcommand("set", "Write a property (VALUE is sent as a number when it is one)");
    set->add_option("LOC", loc, "Location")->required();
    set->add_option("NAME", name, "Property")->required();
    set->add_option("VALUE", value, "New value")->required();
    auto* snap = app.add_subcommand("snap", "Save the latest image as PNG");
    snap->add_option("LOC", loc, "Location")->required();
    snap->add_option("FILE", file, "PNG file to write")->required();
    auto* watch = app.add_subcommand("watch", "Frame rate and counter, updated in place until Ctrl-C");
    watch->add_option("LOC", loc, "Location")->required();
    watch->add_option("--count", count, "Stop after this many updates")->check(CLI::NonNegativeNumber);
    watch->add_option("--interval", interval_ms, "Milliseconds between updates")->check(CLI::Range(10, 60000));
    auto* save = app.add_subcommand("save", "Save the camera's features to its feature file (CONF.SAVE)");
    save->add_option("LOC", loc, "Location")->required();
    auto* load = app.add_subcommand("load", "Load the camera's features from its feature file (CONF.LOAD)");
    load->add_option("LOC", loc, "Location")->required();
    for (auto* sub : {save, load})
        sub->add_option("--timeout", timeout_s, "Seconds to wait for the result")->check(CLI::Range(1, 3600));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err);
    }

    try {
        ApiClient api(server);
        if (*list) return cmd_list(api, out);
        if (*props) return cmd_props(api, out, loc, pattern);
        if (*get) return cmd_get(api, out, loc, name);
        if (*set) return cmd_set(api, out, loc, name, value);
        if (*snap) return cmd_snap(api, out, loc, file);
        if (*watch) return cmd_watch(api, out, loc, count, interval_ms);
        if (*save) return cmd_conf(api, out, loc, "CONF.SAVE", "saved", timeout_s);
        if (*load) return cmd_conf(api, out, loc, "CONF.LOAD", "loaded", timeout_s);
    } catch (const CliError& e) {
        err << "mirva-cam: " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << "mirva-cam: " << e.what() << "\n";
        return 1;
    }
    return 2;
}

} // namespace mirva::cli
