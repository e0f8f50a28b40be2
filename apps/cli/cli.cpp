#include "cli.h"

#include <fnmatch.h>

#include <CLI/CLI.hpp>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
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

// A number as people read it: integers in full, other numbers to 6 significant digits
// without trailing zeros (31.2, 0.000125, 1.5e+09).
std::string number_text(double x) {
    if (!std::isfinite(x))
        return std::isnan(x) ? "nan" : (x > 0 ? "inf" : "-inf");
    if (x == std::trunc(x) && std::fabs(x) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", x);
        return buf;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", x);
    return buf;
}

// A value as the terminal shows it: texts without quotes, numbers for people, lists shortened.
std::string value_text(const json& v) {
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_number_float())
        return number_text(v.get<double>());
    if (v.is_array()) {
        if (v.size() > 8)
            return "[" + std::to_string(v.size()) + " points: " + value_text(v[0]) + " ... " + value_text(v.back()) + "]";
        std::string out = "[";
        for (size_t i = 0; i < v.size(); ++i)
            out += (i ? ", " : "") + value_text(v[i]);
        return out + "]";
    }
    return v.dump();
}

// A member of an object from the server, null when it has none (operator[] of a const object
// must not be asked for a missing key).
json member(const json& object, const char* key) {
    return object.is_object() && object.contains(key) ? object[key] : json();
}

// A feature's value as people read it: an address in its notation ("value_text"), a feature
// wider than 32 bits by its whole value ("value64"), else the value.
std::string shown_value(const json& p) {
    if (p.contains("value_text") && p["value_text"].is_string())
        return p["value_text"].get<std::string>();
    if (p.contains("value64") && p["value64"].is_number_integer())
        return value_text(p["value64"]);
    return value_text(p["value"]);
}

// "  (35..999985, step 35)" from the limits and increment an object carries; "" without limits.
// An address has none worth showing; a feature wider than 32 bits has its whole limits in min, max.
std::string limits_text(const json& p) {
    if (p.contains("value_text"))
        return "";
    const bool whole = p.contains("value64");
    const char* lo_key = !whole && p.contains("egu_min") ? "egu_min" : "min";
    const char* hi_key = !whole && p.contains("egu_max") ? "egu_max" : "max";
    std::string out;
    if (p.contains(lo_key) && p[lo_key].is_number() && p.contains(hi_key) && p[hi_key].is_number())
        out = value_text(p[lo_key]) + ".." + value_text(p[hi_key]);
    if (p.contains("inc") && p["inc"].is_number() && p["inc"].get<double>() > 0 &&
        !(p["inc"].get<double>() == 1 && p.value("type", 0) != 2))
        out += (out.empty() ? "step " : ", step ") + value_text(p["inc"]);
    if (p.contains("points") && p["points"].is_number())
        out += (out.empty() ? "" : ", ") + value_text(p["points"]) + " points";
    return out.empty() ? "" : "  (" + out + ")";
}

std::string unit_text(const json& p) {
    if (p.contains("unit") && p["unit"].is_string() && !p["unit"].get<std::string>().empty())
        return " " + p["unit"].get<std::string>();
    return "";
}

std::string pending_text(const json& p) {
    if (p.contains("changed") && p["changed"].is_boolean() && p["changed"].get<bool>() && p.contains("pending"))
        return "  (pending " + value_text(p.contains("pending64") ? p["pending64"] : p["pending"]) +
               " until the camera takes it)";
    return "";
}

// VALUE as JSON: a number when the whole text is one (unless as_text), else the text.
json value_of_argument(const std::string& text, bool as_text) {
    if (as_text)
        return text;
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

int cmd_list(ApiClient& api, std::ostream& out, bool as_json) {
    json doc = api.get_json("/api/locations");
    if (as_json) {
        out << doc.dump(2) << "\n";
        return 0;
    }
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
        std::snprintf(line, sizeof line, "%-12s %5s %6s %-12s %10s %7s %10s %-28s %s\n", value_text(member(l, "name")).c_str(),
                      value_text(member(l, "type")).c_str(), value_text(member(l, "online")).c_str(),
                      value_text(member(l, "camera_status")).c_str(), value_text(member(l, "frame_rate")).c_str(), fps,
                      value_text(member(l, "frame_counter")).c_str(), stream.c_str(),
                      value_text(member(l, "error_text")).c_str());
        out << line;
    }
    return 0;
}

int cmd_props(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& pattern, bool as_json) {
    json doc = api.get_json(location_path(loc) + "/properties");
    json properties = json::array(), features = json::array();
    for (auto& p : doc.value("properties", json::array()))
        if (matches(p.value("name", ""), pattern))
            properties.push_back(std::move(p));
    for (auto& f : doc.value("features", json::array()))
        if (matches(f.value("name", ""), pattern))
            features.push_back(std::move(f));
    if (properties.empty() && features.empty() && !pattern.empty())
        throw CliError("no property of location " + loc + " matches " + pattern);
    if (as_json) {
        out << json{{"location", loc}, {"properties", properties}, {"features", features}}.dump(2) << "\n";
        return 0;
    }
    for (const auto& p : properties) {
        // A spectrum in the listing carries its point count only.
        const std::string value = p.contains("points") && p["value"].is_null() ? "[spectrum]" : value_text(p["value"]);
        out << p.value("name", "") << " = " << value << limits_text(p)
            << (p.value("writable", false) ? "" : "  (read-only)") << pending_text(p) << "\n";
    }
    for (const auto& f : features) {
        out << f.value("name", "") << " = " << shown_value(f) << unit_text(f) << limits_text(f);
        if (f.contains("access") && f["access"] == 0)
            out << "  (read-only)";
        if (f.contains("categ") && f["categ"].is_string())
            out << "  [" << f["categ"].get<std::string>() << "]";
        out << pending_text(f) << "\n";
    }
    return 0;
}

int cmd_get(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& name, bool as_json) {
    json p = api.get_json(property_path(loc, name));
    if (as_json) {
        out << p.dump(2) << "\n";
        return 0;
    }
    out << shown_value(p) << pending_text(p) << "\n";
    return 0;
}

int cmd_set(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& name, const std::string& value,
            bool as_text, bool as_json) {
    json p = api.put_json(property_path(loc, name), json{{"value", value_of_argument(value, as_text)}});
    if (as_json) {
        out << p.dump(2) << "\n";
        return 0;
    }
    if (p.contains("value"))
        out << loc << " " << name << " = " << shown_value(p) << unit_text(p) << pending_text(p) << "\n";
    else  // 202: the camera went away as the value was written; the location keeps it
        out << loc << " " << name << ": " << value << " kept until the camera returns\n";
    if (p.contains("note") && p["note"].is_string())
        out << "note: " << p["note"].get<std::string>() << "\n";
    return 0;
}

int cmd_snap(ApiClient& api, std::ostream& out, const std::string& loc, const std::string& file, bool as_json) {
    std::string type;
    const std::string png = api.get_bytes(location_path(loc) + "/image", &type);
    if (type != "image/png")
        throw CliError("the server sent " + type + " instead of a PNG image");
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(png.data(), static_cast<std::streamsize>(png.size())) || !f.flush())
        throw CliError("cannot write " + file);
    if (as_json)
        out << json{{"location", loc}, {"file", file}, {"bytes", png.size()}, {"content_type", type}}.dump() << "\n";
    else
        out << file << ": " << png.size() << " bytes\n";
    return 0;
}

int cmd_watch(ApiClient& api, std::ostream& out, const std::string& loc, int count, int interval_ms, bool as_json) {
    const std::string path = location_path(loc) + "/properties?names=ONLINE,FRAME.RATE,FRAME.COUNTER";
    for (int n = 0; count <= 0 || n < count; ++n) {
        if (n > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));  // pacing of the display
        json doc = api.get_json(path);
        json online, rate, counter;
        for (const auto& p : doc.value("properties", json::array())) {
            const json name = member(p, "name");
            if (name == "ONLINE") online = member(p, "value");
            if (name == "FRAME.RATE") rate = member(p, "value");
            if (name == "FRAME.COUNTER") counter = member(p, "value");
        }
        if (as_json) {  // one object per line
            out << json{{"location", loc}, {"online", online}, {"frame_rate", rate}, {"frame_counter", counter}}.dump()
                << "\n" << std::flush;
            continue;
        }
        char line[160];
        std::snprintf(line, sizeof line, "\r%s: online %s  frame rate %s Hz  frame counter %s   ", loc.c_str(),
                      online.dump().c_str(), rate.is_number() ? number_text(rate.get<double>()).c_str() : "-",
                      counter.dump().c_str());
        out << line << std::flush;
    }
    if (!as_json)
        out << "\n";
    return 0;
}

// CONF.SAVE / CONF.LOAD: 1 requests it; the location sets 0 when done, -1 when it failed.
int cmd_conf(ApiClient& api, std::ostream& out, const std::string& loc, const char* property, const char* what,
             int timeout_s, bool as_json) {
    api.put_json(property_path(loc, property), json{{"value", 1}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (std::chrono::steady_clock::now() < deadline) {
        json p = api.get_json(property_path(loc, property));
        if (p["value"] == 0) {
            if (as_json)
                out << json{{"location", loc}, {"property", property}, {"value", 0}, {"done", what}}.dump() << "\n";
            else
                out << loc << ": features " << what << " (" << property << " = 0)\n";
            return 0;
        }
        if (p["value"] == -1)
            throw CliError(loc + ": the features were not " + what + " (" + property + " = -1, see the server's log)");
        // Off line the request waits for the camera: say so now rather than at the timeout.
        json online = api.get_json(property_path(loc, "ONLINE"));
        if (online["value"] == 0)
            throw CliError(loc + " is off line: " + property + " = 1 stays requested, and the features are " + what +
                           " when the camera returns");
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
    bool as_json = false, as_text = false;
    // Global options may stand anywhere on the line: the subcommands pass them up.
    app.fallthrough();
    app.add_option("--server", server, "Server URL (default http://127.0.0.1:8080 or MIRVA_CAM_SERVER)");
    app.add_flag("--json", as_json, "Print the server's answers as JSON");
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
    set->add_flag("--text,--string", as_text, "Send VALUE as a text even when it looks like a number");
    auto* snap = app.add_subcommand("snap", "Save the latest image as PNG");
    snap->add_option("LOC", loc, "Location")->required();
    snap->add_option("FILE", file, "PNG file to write")->required();
    auto* watch = app.add_subcommand("watch", "Frame rate and counter, updated in place until Ctrl-C");
    watch->add_option("LOC", loc, "Location")->required();
    watch->add_option("--count", count, "Stop after this many updates")->check(CLI::Range(0, std::numeric_limits<int>::max()));
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
        if (*list) return cmd_list(api, out, as_json);
        if (*props) return cmd_props(api, out, loc, pattern, as_json);
        if (*get) return cmd_get(api, out, loc, name, as_json);
        if (*set) return cmd_set(api, out, loc, name, value, as_text, as_json);
        if (*snap) return cmd_snap(api, out, loc, file, as_json);
        if (*watch) return cmd_watch(api, out, loc, count, interval_ms, as_json);
        if (*save) return cmd_conf(api, out, loc, "CONF.SAVE", "saved", timeout_s, as_json);
        if (*load) return cmd_conf(api, out, loc, "CONF.LOAD", "loaded", timeout_s, as_json);
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
