// The state file in TOML: [locations.NAME.values] and [locations.NAME.configured].
#include <mirva/server/state_store.h>

#include <fcntl.h>
#include <unistd.h>

#include <toml++/toml.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace mirva::server {
namespace {

PropertyValues read_values(const toml::table* t) {
    PropertyValues out;
    if (!t)
        return out;
    for (auto&& [key, node] : *t)
        if (node.is_string())
            out[std::string(key.str())] = node.as_string()->get();
    return out;
}

toml::table write_values(const PropertyValues& values) {
    toml::table t;
    for (const auto& [name, text] : values)
        t.insert_or_assign(name, text);
    return t;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &tm);
    return buf;
}

// Writes text to path through a temporary file in the same directory, fsync and rename.
bool write_atomically(const std::filesystem::path& path, const std::string& text, std::string& error) {
    std::filesystem::path tmp = path;
    tmp += ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + tmp.string() + ": " + std::strerror(errno);
        return false;
    }
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write " + tmp.string() + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = "cannot flush " + tmp.string() + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot rename " + tmp.string() + " to " + path.string() + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace

StateStore::StateStore(std::filesystem::path file, Report report) : file_(std::move(file)), report_(std::move(report)) {}

bool StateStore::load() {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec)) {
        report_("state file " + file_.string() + " not found: starting from the configuration");
        return true;
    }
    toml::table root;
    std::string problem;
    // The store writes through a temporary file and a rename, so an empty file never
    // is a saved state: it is what a failing disk or a careless hand leaves.
    if (std::filesystem::file_size(file_, ec) == 0 && !ec)
        problem = "the file is empty";
    else try {
        root = toml::parse_file(file_.string());
    } catch (const toml::parse_error& e) {
        std::ostringstream os;
        os << "line " << e.source().begin.line << ": " << e.description();
        problem = os.str();
    }
    const toml::table* locations = problem.empty() ? root["locations"].as_table() : nullptr;
    if (problem.empty() && !locations && !root.empty())
        problem = "no [locations] table";
    if (!problem.empty()) {
        std::filesystem::path aside = file_;
        aside += ".corrupt-" + timestamp();
        std::filesystem::rename(file_, aside, ec);
        report_("state file " + file_.string() + " is corrupt (" + problem + "); kept as " + aside.string() +
                (ec ? " (move failed: " + ec.message() + ")" : "") + "; starting from the configuration");
        return false;
    }
    std::lock_guard lk(mx_);
    locations_.clear();
    if (locations) {
        for (auto&& [name, node] : *locations) {
            const toml::table* t = node.as_table();
            if (!t)
                continue;
            LocationState st;
            st.values = read_values((*t)["values"].as_table());
            st.configured = read_values((*t)["configured"].as_table());
            locations_[std::string(name.str())] = std::move(st);
        }
    }
    report_("state file " + file_.string() + " restored (" + std::to_string(locations_.size()) + " locations)");
    return true;
}

PropertyValues StateStore::initial_values(const std::string& location, const PropertyValues& configured) const {
    PropertyValues out = configured;
    std::lock_guard lk(mx_);
    auto it = locations_.find(location);
    if (it == locations_.end())
        return out;
    const LocationState& st = it->second;
    for (const auto& [name, text] : st.values) {
        auto conf = configured.find(name);
        auto was = st.configured.find(name);
        bool config_edited = conf != configured.end() &&
                             (was == st.configured.end() || was->second != conf->second);
        if (!config_edited)
            out[name] = text;
    }
    return out;
}

void StateStore::record(const std::string& location, const PropertyValues& current, const PropertyValues& configured) {
    std::lock_guard lk(mx_);
    LocationState& st = locations_[location];
    for (const auto& [name, text] : current)
        st.values[name] = text;
    st.configured = configured;
}

bool StateStore::save() {
    toml::table root;
    {
        std::lock_guard lk(mx_);
        toml::table locations;
        for (const auto& [name, st] : locations_) {
            toml::table loc;
            loc.insert_or_assign("values", write_values(st.values));
            loc.insert_or_assign("configured", write_values(st.configured));
            locations.insert_or_assign(name, std::move(loc));
        }
        root.insert_or_assign("locations", std::move(locations));
    }
    std::ostringstream os;
    os << "# Property values of the camera server's locations, written by the server.\n" << root << "\n";
    std::string error;
    if (!write_atomically(file_, os.str(), error)) {
        report_("state file not saved: " + error);
        return false;
    }
    return true;
}

} // namespace mirva::server
