// The server core: location creation, the update loop, the state file and shut-down.
#include <mirva/server/camera_server.h>

#include <mirva/bcam_base.h>
#include <mirva/location_list.h>
#include <mirva/server.h>

namespace mirva::server {

CameraServer::CameraServer(ServerConfig config, LocationFactory factory)
    : config_(std::move(config)),
      factory_(std::move(factory)),
      state_(config_.state_file, [](const std::string& line) { printftostderr("camserver", "%s", line.c_str()); }) {}

CameraServer::~CameraServer() { shutdown(); }

PropertyValues CameraServer::configured_values(const std::string& location) const {
    for (const auto& loc : config_.locations)
        if (loc.name == location)
            return loc.properties;
    return {};
}

EqFct* CameraServer::find_location(const std::string& name) const {
    for (EqFct* loc : locations_)
        if (name == loc->name())
            return loc;
    return nullptr;
}

void CameraServer::start() {
    if (started_)
        return;
    started_ = true;
    state_.load();
    auto& list = LocationList::instance();
    for (const auto& cfg : config_.locations) {
        std::unique_ptr<EqFct> loc;
        {
            LocationCreation scope(cfg.name, state_.initial_values(cfg.name, cfg.properties));
            loc = factory_(cfg.type_code);
        }
        if (!loc)
            throw ConfigError(config_.source + ": location " + cfg.name + ": type code " +
                              std::to_string(cfg.type_code) + " cannot be created");
        EqFct* raw = loc.get();
        list.add(std::move(loc));
        locations_.push_back(raw);
        printftostderr("camserver", "location %s (type %d) created", cfg.name.c_str(), cfg.type_code);
    }
    // The camera registry is process-wide: one enumeration before the first init lets
    // every camera location book its camera at init.
    for (EqFct* loc : locations_) {
        if (auto* cam = dynamic_cast<bcam_base*>(loc)) {
            std::lock_guard lk(loc->lifecycle_mutex());
            cam->find_cameras_of_type(0);
            break;
        }
    }
    // Lifecycle order: every location's init, then its post_init (which brings it on line).
    for (EqFct* loc : locations_) {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->init();
    }
    for (EqFct* loc : locations_) {
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->post_init();
    }
}

void CameraServer::update_cycle() {
    for (size_t i = 0; i < locations_.size(); ++i) {
        EqFct* loc = locations_[i];
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->update();
        check_configured_names_(i);
    }
}

// A configured name that no property ever took (a typo, a feature of another model)
// would be silently ignored: once the location is set up (a camera location on line,
// with its features), each such name is reported once.
void CameraServer::check_configured_names_(size_t index) {
    names_checked_.resize(locations_.size(), false);
    if (names_checked_[index])
        return;
    EqFct* loc = locations_[index];
    if (auto* cam = dynamic_cast<bcam_base*>(loc); cam && cam->g_sts_.online() != 1)
        return;
    names_checked_[index] = true;
    for (const auto& [name, text] : configured_values(loc->name()))
        if (!loc->ever_had_property(name))
            printftostderr("camserver", "location %s: configured property %s = %s is not a property of this location "
                           "(none of that name was created since the start); the value is not used",
                           loc->name(), name.c_str(), text.c_str());
}

void CameraServer::run() {
    using clock = std::chrono::steady_clock;
    auto next_cycle = clock::now();
    auto next_save = clock::now() + config_.state_save_period;
    for (;;) {
        {
            std::unique_lock lk(stop_mx_);
            if (stop_cv_.wait_until(lk, next_cycle, [this] { return stop_requested_; }))
                return;
        }
        update_cycle();
        auto now = clock::now();
        next_cycle += config_.update_period;
        if (next_cycle < now)  // a slow cycle: start the next one a full period from now
            next_cycle = now + config_.update_period;
        if (now >= next_save) {
            save_state();
            next_save = now + config_.state_save_period;
        }
    }
}

void CameraServer::stop() {
    {
        std::lock_guard lk(stop_mx_);
        stop_requested_ = true;
    }
    stop_cv_.notify_all();
}

bool CameraServer::save_state() {
    for (EqFct* loc : locations_) {
        PropertyValues current;
        loc->for_each_property([&](D_fct& p) {
            if (auto text = p.stored_text())
                current[p.name()] = *text;
        });
        state_.record(loc->name(), current, configured_values(loc->name()));
    }
    return state_.save();
}

void CameraServer::shutdown() {
    if (shut_down_ || !started_)
        return;
    shut_down_ = true;
    save_state();
    for (EqFct* loc : locations_) {
        printftostderr("camserver", "location %s: shutting down", loc->name());
        std::lock_guard lk(loc->lifecycle_mutex());
        loc->cancel();
    }
    auto& list = LocationList::instance();
    for (EqFct* loc : locations_)
        list.remove(loc).reset();
    locations_.clear();
    printftostderr("camserver", "all locations shut down");
}

} // namespace mirva::server
