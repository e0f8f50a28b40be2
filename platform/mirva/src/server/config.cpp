// Reading the camera server's TOML configuration; every error names file, line and key.
#include <filesystem>
#include <mirva/server/config.h>

#include <toml++/toml.h>

#include <arpa/inet.h>
#include <net/if.h>

#include <cmath>
#include <fstream>
#include <sstream>

namespace mirva::server {
namespace {

class Reader {
public:
    explicit Reader(std::string source) : source_(std::move(source)) {}

    [[noreturn]] void fail(const toml::source_region& where, const std::string& key, const std::string& problem) const {
        std::ostringstream os;
        os << source_ << ":" << where.begin.line << ": " << key << ": " << problem;
        throw ConfigError(os.str());
    }

    // Refuses keys of table t that are not in allowed.
    void only_keys(const toml::table& t, const std::string& path, std::initializer_list<std::string_view> allowed) const {
        for (auto&& [key, node] : t) {
            bool ok = false;
            for (auto a : allowed)
                ok = ok || key.str() == a;
            if (!ok)
                fail(key.source(), join(path, key.str()), "unknown key");
        }
    }

    static std::string join(const std::string& path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }

    const toml::table* table(const toml::table& t, const std::string& path, std::string_view key) const {
        const toml::node* n = t.get(key);
        if (!n)
            return nullptr;
        if (!n->is_table())
            fail(n->source(), join(path, key), "must be a table");
        return n->as_table();
    }

    std::string text(const toml::table& t, const std::string& path, std::string_view key, bool required) const {
        const toml::node* n = t.get(key);
        if (!n) {
            if (required)
                fail(t.source(), join(path, key), "is missing");
            return {};
        }
        if (!n->is_string())
            fail(n->source(), join(path, key), "must be a text");
        return n->as_string()->get();
    }

    // An integer in [lo, hi]; absent gives fallback.
    int64_t integer(const toml::table& t, const std::string& path, std::string_view key, int64_t fallback, int64_t lo,
                    int64_t hi, bool required = false) const {
        const toml::node* n = t.get(key);
        if (!n) {
            if (required)
                fail(t.source(), join(path, key), "is missing");
            return fallback;
        }
        if (!n->is_integer())
            fail(n->source(), join(path, key), "must be an integer");
        int64_t v = n->as_integer()->get();
        if (v < lo || v > hi) {
            std::ostringstream os;
            os << "value " << v << " is outside " << lo << " ... " << hi;
            fail(n->source(), join(path, key), os.str());
        }
        return v;
    }

    // An array of texts; absent gives an empty list.
    std::vector<std::string> texts(const toml::table& t, const std::string& path, std::string_view key) const {
        std::vector<std::string> out;
        const toml::node* n = t.get(key);
        if (!n)
            return out;
        if (!n->is_array())
            fail(n->source(), join(path, key), "must be an array of texts, e.g. [\"a\", \"b\"]");
        size_t i = 0;
        for (const toml::node& item : *n->as_array()) {
            if (!item.is_string())
                fail(item.source(), join(path, key) + "[" + std::to_string(i) + "]", "must be a text");
            out.push_back(item.as_string()->get());
            ++i;
        }
        return out;
    }

    bool boolean(const toml::table& t, const std::string& path, std::string_view key, bool fallback) const {
        const toml::node* n = t.get(key);
        if (!n)
            return fallback;
        if (!n->is_boolean())
            fail(n->source(), join(path, key), "must be true or false");
        return n->as_boolean()->get();
    }

    // A property's initial value as the text the property restores from.
    std::string property_text(const toml::node& n, const std::string& key) const {
        if (n.is_string())
            return n.as_string()->get();
        if (n.is_integer())
            return std::to_string(n.as_integer()->get());
        if (n.is_boolean())
            return n.as_boolean()->get() ? "1" : "0";
        if (n.is_floating_point()) {
            double v = n.as_floating_point()->get();
            if (!std::isfinite(v))
                fail(n.source(), key, "must be a finite number");
            std::ostringstream os;
            os.precision(17);
            os << v;
            return os.str();
        }
        if (n.is_table())
            fail(n.source(), key, "is a table: quote property names that contain dots, e.g. \"FORMAT.OUT\" = 0");
        fail(n.source(), key, "must be a text, an integer, a number or true/false");
    }

private:
    std::string source_;
};

bool valid_location_name(const std::string& name) {
    if (name.empty() || name.size() > 63)
        return false;
    for (unsigned char c : name)
        if (!(std::isalnum(c) || c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

bool valid_property_name(const std::string& name) {
    if (name.empty() || name.size() > 63)
        return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == 0x7f)
            return false;
    return true;
}

} // namespace

ServerConfig parse_config(std::string_view text, const std::string& source_name, const std::set<int>& known_type_codes) {
    Reader r(source_name);
    toml::table root;
    try {
        root = toml::parse(text, source_name);
    } catch (const toml::parse_error& e) {
        std::ostringstream os;
        os << source_name << ":" << e.source().begin.line << ": " << e.description();
        throw ConfigError(os.str());
    }

    ServerConfig cfg;
    cfg.source = source_name;
    r.only_keys(root, "", {"server", "http", "camera", "gige", "location"});

    if (const toml::table* s = r.table(root, "", "server")) {
        r.only_keys(*s, "server", {"update_period_ms", "debug", "state_file", "state_save_period_s", "image_directory"});
        cfg.update_period = std::chrono::milliseconds(r.integer(*s, "server", "update_period_ms", 1000, 10, 60000));
        if (s->contains("debug")) {
            cfg.debug_mask = static_cast<int>(r.integer(*s, "server", "debug", 0, 0, 0x7fffffff));
            cfg.debug_mask_set = true;
        }
        std::string state = r.text(*s, "server", "state_file", false);
        if (!state.empty())
            cfg.state_file = state;
        cfg.state_save_period = std::chrono::seconds(r.integer(*s, "server", "state_save_period_s", 10, 1, 86400));
        std::string images = r.text(*s, "server", "image_directory", false);
        if (!images.empty()) {
            std::error_code ec;
            if (std::filesystem::exists(images, ec) && !std::filesystem::is_directory(images, ec))
                r.fail(s->get("image_directory")->source(), "server.image_directory",
                       "\"" + images + "\" is not a directory");
            cfg.image_directory = images;
        }
    }

    if (const toml::table* h = r.table(root, "", "http")) {
        r.only_keys(*h, "http", {"address", "port", "allow_remote", "token", "max_streams"});
        std::string address = r.text(*h, "http", "address", false);
        if (!address.empty())
            cfg.http.address = address;
        cfg.http.port = static_cast<int>(r.integer(*h, "http", "port", 8080, 0, 65535));
        cfg.http.allow_remote = r.boolean(*h, "http", "allow_remote", false);
        cfg.http.token = r.text(*h, "http", "token", false);
        cfg.http.max_streams = static_cast<int>(r.integer(*h, "http", "max_streams", cfg.http.max_streams, 0, 4096));
    }

    if (const toml::table* g = r.table(root, "", "gige")) {
        r.only_keys(*g, "gige", {"enabled", "addresses", "discovery", "interfaces"});
        cfg.gige.enabled = r.boolean(*g, "gige", "enabled", false);
        cfg.gige.addresses = r.texts(*g, "gige", "addresses");
        for (size_t i = 0; i < cfg.gige.addresses.size(); ++i) {
            in_addr parsed{};
            if (inet_pton(AF_INET, cfg.gige.addresses[i].c_str(), &parsed) != 1)
                r.fail(g->get("addresses")->source(), "gige.addresses[" + std::to_string(i) + "]",
                       "'" + cfg.gige.addresses[i] + "' is not an IPv4 address (dotted quad, e.g. 192.168.10.20)");
        }
        cfg.gige.discovery = r.boolean(*g, "gige", "discovery", false);
        cfg.gige.interfaces = r.texts(*g, "gige", "interfaces");
        for (size_t i = 0; i < cfg.gige.interfaces.size(); ++i) {
            const std::string& name = cfg.gige.interfaces[i];
            if (name.empty() || name.size() >= IFNAMSIZ || name.find_first_of(" /") != std::string::npos)
                r.fail(g->get("interfaces")->source(), "gige.interfaces[" + std::to_string(i) + "]",
                       "'" + name + "' is not an interface name (1 to " + std::to_string(IFNAMSIZ - 1) + " characters)");
        }
        if (cfg.gige.discovery && cfg.gige.interfaces.empty())
            r.fail(g->source(), "gige.discovery",
                   "discovery needs the interfaces to search (gige.interfaces): it never broadcasts on all of them");
    }

    auto array_of_tables = [&](std::string_view key) -> const toml::array* {
        const toml::node* n = root.get(key);
        if (!n)
            return nullptr;
        if (!n->is_array_of_tables())
            r.fail(n->source(), std::string(key), "must be written as [[" + std::string(key) + "]] tables");
        return n->as_array();
    };

    if (const toml::array* cams = array_of_tables("camera")) {
        std::set<std::string> serials;
        size_t i = 0;
        for (const toml::node& n : *cams) {
            const toml::table& t = *n.as_table();
            std::string path = "camera[" + std::to_string(i++) + "]";
            r.only_keys(t, path, {"serial", "model", "user_name", "ip_address", "mac_address", "pattern"});
            EmulatedCameraConfig c;
            const toml::node* sn = t.get("serial");
            if (sn && sn->is_integer())
                c.serial = std::to_string(sn->as_integer()->get());
            else
                c.serial = r.text(t, path, "serial", true);
            if (c.serial.empty())
                r.fail(t.source(), path + ".serial", "must not be empty");
            if (!serials.insert(c.serial).second)
                r.fail(t.source(), path + ".serial", "camera " + c.serial + " is configured twice");
            c.model = r.text(t, path, "model", true);
            c.user_name = r.text(t, path, "user_name", false);
            c.ip_address = r.text(t, path, "ip_address", false);
            c.mac_address = r.text(t, path, "mac_address", false);
            if (t.get("pattern")) {
                c.pattern = r.text(t, path, "pattern", false);
                if (c.pattern != "beam" && c.pattern != "counter")
                    r.fail(t.get("pattern")->source(), path + ".pattern",
                           "'" + c.pattern + "' is no pattern (beam or counter)");
            }
            cfg.cameras.push_back(std::move(c));
        }
    }

    if (const toml::array* locs = array_of_tables("location")) {
        std::set<std::string> names;
        size_t i = 0;
        for (const toml::node& n : *locs) {
            const toml::table& t = *n.as_table();
            std::string path = "location[" + std::to_string(i++) + "]";
            r.only_keys(t, path, {"name", "type", "properties"});
            LocationConfig loc;
            loc.name = r.text(t, path, "name", true);
            if (!valid_location_name(loc.name))
                r.fail(t.get("name")->source(), path + ".name",
                       "'" + loc.name + "' is not a location name (1 to 63 letters, digits, '_', '-', '.')");
            if (!names.insert(loc.name).second)
                r.fail(t.get("name")->source(), path + ".name", "location " + loc.name + " is configured twice");
            loc.type_code = static_cast<int>(r.integer(t, path, "type", 0, 0, 0x7fffffff, true));
            if (!known_type_codes.count(loc.type_code)) {
                std::ostringstream os;
                os << "unknown type code " << loc.type_code << " (known:";
                for (int code : known_type_codes)
                    os << " " << code;
                os << ")";
                r.fail(t.get("type")->source(), path + ".type", os.str());
            }
            if (const toml::table* props = r.table(t, path, "properties")) {
                for (auto&& [key, value] : *props) {
                    std::string name(key.str());
                    std::string kpath = path + ".properties." + name;
                    if (!valid_property_name(name))
                        r.fail(key.source(), kpath, "'" + name + "' is not a property name");
                    loc.properties[name] = r.property_text(value, kpath);
                }
            }
            cfg.locations.push_back(std::move(loc));
        }
    }
    return cfg;
}

ServerConfig load_config(const std::filesystem::path& file, const std::set<int>& known_type_codes) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw ConfigError(file.string() + ": cannot open the configuration file");
    std::ostringstream text;
    text << in.rdbuf();
    return parse_config(text.str(), file.string(), known_type_codes);
}

} // namespace mirva::server
