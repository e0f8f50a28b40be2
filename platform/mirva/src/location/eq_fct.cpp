// Property registry of a location, restore of stored values at registration, creation scope.
#include <mirva/eq_fct.h>

#include <algorithm>

#include <mirva/server.h>

namespace {
thread_local const mirva::LocationCreation* current_creation = nullptr;

std::string first_word(const char* text) {
    std::string t = text ? text : "";
    size_t b = t.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = t.find_first_of(" \t\n", b);
    return t.substr(b, e == std::string::npos ? std::string::npos : e - b);
}
} // namespace

namespace mirva {

LocationCreation::LocationCreation(std::string name, std::map<std::string, std::string> stored_values)
    : name_(std::move(name)), stored_(std::move(stored_values)), previous_(current_creation) {
    current_creation = this;
}

LocationCreation::~LocationCreation() { current_creation = previous_; }

const LocationCreation* LocationCreation::current() { return current_creation; }

} // namespace mirva

EqFct::EqFct() {
    if (const auto* scope = mirva::LocationCreation::current()) {
        name_ = scope->name();
        stored_values_ = scope->stored_values();
    }
}

EqFct::~EqFct() {
    // Properties that outlive the location must not call back into it.
    std::lock_guard lk(registry_mx_);
    for (auto& e : entries_) e.property->registered_.store(false);
    entries_.clear();
    by_name_.clear();
}

bool EqFct::register_(D_fct* property, int group) {
    for (auto& e : entries_) {
        if (e.property == property) {
            e.group = group;
            return false;
        }
    }
    entries_.push_back({property, group});
    by_name_.emplace(property->name_, property);
    if (!property->owner_) property->owner_ = this;
    property->registered_.store(true);
    return true;
}

std::optional<std::string> EqFct::register_at_construction_(D_fct* property) {
    {
        std::lock_guard lk(registry_mx_);
        register_(property, 0);
    }
    auto it = stored_values_.find(property->name_);
    if (it == stored_values_.end()) return std::nullopt;
    return it->second;
}

void EqFct::restore_into_(D_fct* property) {
    auto it = stored_values_.find(property->name());
    if (it == stored_values_.end()) return;
    if (property->restore_text(it->second)) {
        property->restored_.store(true);
        return;
    }
    printftostderr(name(), "location %s: stored value \"%s\" of property %s does not parse; the default stays",
                   name(), it->second.c_str(), property->name().c_str());
}

void EqFct::add_property(D_fct* property, int group) {
    if (!property) return;
    bool added;
    {
        std::lock_guard lk(registry_mx_);
        added = register_(property, group);
    }
    if (added) restore_into_(property);
}

void EqFct::rem_property(D_fct* property) {
    if (!property) return;
    std::lock_guard lk(registry_mx_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.property == property; });
    if (it == entries_.end()) return;
    entries_.erase(it);
    auto range = by_name_.equal_range(property->name_);
    for (auto m = range.first; m != range.second; ++m) {
        if (m->second == property) {
            by_name_.erase(m);
            break;
        }
    }
    property->registered_.store(false);
}

D_fct* EqFct::find_property(const char* text) {
    std::string key = first_word(text);
    std::lock_guard lk(registry_mx_);
    auto range = by_name_.equal_range(key);
    if (range.first == range.second) return nullptr;
    // Equal keys keep their insertion order: the first registered property of a name wins.
    return range.first->second;
}

bool EqFct::with_property(const std::string& name, const std::function<void(D_fct&)>& fn) const {
    std::lock_guard lk(registry_mx_);
    D_fct* p = const_cast<EqFct*>(this)->find_property(name.c_str());
    if (!p) return false;
    fn(*p);
    return true;
}

void EqFct::for_each_property(const std::function<void(D_fct&)>& fn) const {
    std::lock_guard lk(registry_mx_);
    for (size_t i = 0; i < entries_.size(); ++i) fn(*entries_[i].property);
}

int EqFct::property_group(const D_fct* property) const {
    std::lock_guard lk(registry_mx_);
    for (const auto& e : entries_) {
        if (e.property == property) return e.group;
    }
    return -1;
}

size_t EqFct::property_count() const {
    std::lock_guard lk(registry_mx_);
    return entries_.size();
}

void EqFct::set_error(int code) {
    std::lock_guard lk(registry_mx_);
    error_ = code;
}

int EqFct::error() const {
    std::lock_guard lk(registry_mx_);
    return error_;
}

void EqFct::interrupt_usr1(int) {}
void EqFct::update() {}
void EqFct::online() {}
void EqFct::init() {}
void EqFct::post_init() {}
void EqFct::cancel() {}
void EqFct::stop_host_threads() {}
