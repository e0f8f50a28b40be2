// Property registry of a location, restore of stored values at registration, creation scope.
#include <mirva/eq_fct.h>

#include <algorithm>

#include <mirva/server.h>

#include "properties/client_value.h"

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
    hidden_.clear();
    by_name_.clear();
}

void EqFct::publish_own_() const {
    if (hidden_.empty()) return;
    const auto me = std::this_thread::get_id();
    std::erase_if(hidden_, [&](const auto& h) { return h.second == me; });
}

bool EqFct::visible_(const D_fct* property) const {
    for (const auto& h : hidden_) {
        if (h.first == property) return h.second == std::this_thread::get_id();
    }
    return true;
}

void EqFct::publish_properties() {
    std::lock_guard lk(registry_mx_);
    hidden_.clear();
}

bool EqFct::register_(D_fct* property, int group) {
    publish_own_();
    std::erase_if(hidden_, [&](const auto& h) { return h.first == property; });
    if (group == 2) {
        // The first feature of a camera set-up starts a new list of feature names.
        if (std::none_of(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.group == 2 && e.property != property; }))
            last_features_.clear();
        last_features_.insert(property->name_);
    }
    for (auto& e : entries_) {
        if (e.property == property) {
            e.group = group;
            return false;
        }
    }
    entries_.push_back({property, group});
    taken_names_.insert(property->name_);
    by_name_.emplace(property->name_, property);
    if (!property->owner_) property->owner_ = this;
    property->registered_.store(true);
    return true;
}

std::optional<std::string> EqFct::register_at_construction_(D_fct* property) {
    {
        std::lock_guard lk(registry_mx_);
        register_(property, 0);
        hidden_.emplace_back(property, std::this_thread::get_id());
    }
    std::lock_guard lk(stored_mx_);
    auto it = stored_values_.find(property->name_);
    if (it == stored_values_.end()) return std::nullopt;
    return it->second;
}

void EqFct::restore_into_(D_fct* property) {
    std::string text;
    {
        std::lock_guard lk(stored_mx_);
        auto it = stored_values_.find(property->name());
        if (it == stored_values_.end()) return;
        text = it->second;
    }
    if (property->restore_text(text)) {
        property->restored_.store(true);
        return;
    }
    printftostderr(name(), "location %s: stored value \"%s\" of property %s does not parse; the default stays",
                   name(), text.c_str(), property->name().c_str());
}

void EqFct::add_property(D_fct* property, int group) {
    if (!property) return;
    {
        std::lock_guard lk(registry_mx_);
        if (std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.property == property; })) {
            register_(property, group);  // known: only the group changes
            return;
        }
    }
    restore_into_(property);  // before any client can see it
    std::lock_guard lk(registry_mx_);
    register_(property, group);
}

void EqFct::rem_property(D_fct* property) {
    if (!property) return;
    std::lock_guard lk(registry_mx_);
    publish_own_();
    std::erase_if(hidden_, [&](const auto& h) { return h.first == property; });
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.property == property; });
    if (it == entries_.end()) return;
    entries_.erase(it);
    // Remember the value for a later registration of a property of the same name.
    // A client's write that was not applied yet is not lost with the property either:
    // under the registry lock no client write can come between its capture and the removal.
    {
        auto text = property->stored_text();
        auto pending = property->pending_write();
        std::lock_guard slk(stored_mx_);
        if (text)
            stored_values_[property->name_] = *text;
        if (pending)
            pending_writes_[property->name_] = std::move(*pending);
        else
            pending_writes_.erase(property->name_);
    }
    auto range = by_name_.equal_range(property->name_);
    for (auto m = range.first; m != range.second; ++m) {
        if (m->second == property) {
            by_name_.erase(m);
            break;
        }
    }
    property->registered_.store(false);
}

std::vector<std::string> EqFct::reapply_pending_writes() {
    std::map<std::string, mirva::ClientValue> writes;
    {
        std::lock_guard lk(stored_mx_);
        writes.swap(pending_writes_);
    }
    std::vector<std::string> dropped;
    for (const auto& [name, value] : writes) {
        std::optional<mirva::WriteResult> result;
        with_property(name, [&](D_fct& p) { result = p.client_write(value); });
        std::string reason;
        if (!result)
            reason = "the property is not there any more";
        else if (result->code != mirva::WriteResult::ok)
            reason = result->message;
        if (reason.empty())
            continue;
        dropped.push_back("the write of " + mirva::detail::describe(value) + " to " + name +
                          ", made while the camera was away, is dropped: " + reason);
        printftostderr(this->name(), "%s", dropped.back().c_str());
    }
    return dropped;
}

void EqFct::keep_pending_writes(int group) {
    std::lock_guard lk(registry_mx_);
    for (const auto& e : entries_) {
        if (e.group != group)
            continue;
        if (auto pending = e.property->pending_write()) {
            std::lock_guard slk(stored_mx_);
            pending_writes_[e.property->name_] = std::move(*pending);
        }
    }
}

D_fct* EqFct::find_property(const char* text) {
    std::string key = first_word(text);
    std::lock_guard lk(registry_mx_);
    publish_own_();
    auto range = by_name_.equal_range(key);
    // Equal keys keep their insertion order: the first registered property of a name wins.
    for (auto m = range.first; m != range.second; ++m) {
        if (visible_(m->second)) return m->second;
    }
    return nullptr;
}

bool EqFct::with_property(const std::string& name, const std::function<void(D_fct&)>& fn) const {
    std::lock_guard lk(registry_mx_);
    D_fct* p = const_cast<EqFct*>(this)->find_property(name.c_str());
    // A client's name is the whole name: "START x" or "START" and a NUL are not START.
    if (!p || p->name() != name) return false;
    fn(*p);
    return true;
}

void EqFct::for_each_property(const std::function<void(D_fct&)>& fn) const {
    std::lock_guard lk(registry_mx_);
    publish_own_();
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (visible_(entries_[i].property)) fn(*entries_[i].property);
    }
}

bool EqFct::was_feature(const std::string& name) const {
    std::lock_guard lk(registry_mx_);
    return last_features_.count(name) != 0;
}

bool EqFct::ever_had_property(const std::string& name) const {
    std::lock_guard lk(registry_mx_);
    return taken_names_.count(name) != 0;
}

int EqFct::property_group(const D_fct* property) const {
    std::lock_guard lk(registry_mx_);
    publish_own_();
    for (const auto& e : entries_) {
        if (e.property == property) return visible_(property) ? e.group : -1;
    }
    return -1;
}

size_t EqFct::property_count() const {
    std::lock_guard lk(registry_mx_);
    publish_own_();
    return entries_.size() - static_cast<size_t>(std::count_if(entries_.begin(), entries_.end(),
                                                               [&](const Entry& e) { return !visible_(e.property); }));
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
