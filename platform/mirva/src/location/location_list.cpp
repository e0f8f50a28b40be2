// Process-wide location list with pinning walkers (eq_acq / eq_rel).
#include <mirva/location_list.h>

#include <algorithm>
#include <chrono>

#include <mirva/eq_fct.h>
#include <mirva/server.h>

namespace mirva {

struct LocationList::Slot {
    std::unique_ptr<EqFct> location;
    int pins = 0;  // guarded by LocationList::mx_
};

namespace {
// The locations this thread has pinned, by the index it used.
struct Pin {
    int index;
    std::shared_ptr<LocationList::Slot> slot;
};
thread_local std::vector<Pin> pinned_here;
} // namespace

LocationList& LocationList::instance() {
    static LocationList list;
    return list;
}

EqFct* LocationList::add(std::unique_ptr<EqFct> location) {
    if (!location) return nullptr;
    location->publish_properties();  // complete now: clients may see all its properties
    auto slot = std::make_shared<Slot>();
    slot->location = std::move(location);
    EqFct* raw = slot->location.get();
    std::lock_guard lk(mx_);
    slots_.push_back(std::move(slot));
    return raw;
}

std::unique_ptr<EqFct> LocationList::remove(EqFct* location) {
    std::unique_lock lk(mx_);
    auto it = std::find_if(slots_.begin(), slots_.end(), [&](const auto& s) { return s->location.get() == location; });
    if (it == slots_.end()) return nullptr;
    std::shared_ptr<Slot> slot = *it;
    slots_.erase(it);
    // Walkers hold a location only for a short look; report a walker that does not let go.
    while (!unpinned_.wait_for(lk, std::chrono::seconds(5), [&] { return slot->pins == 0; })) {
        printftostderr("locations", "waiting for a walker to release location %s", location->name());
    }
    lk.unlock();
    location->stop_host_threads();
    return std::move(slot->location);
}

size_t LocationList::size() const {
    std::lock_guard lk(mx_);
    return slots_.size();
}

std::vector<EqFct*> LocationList::locations() const {
    std::lock_guard lk(mx_);
    std::vector<EqFct*> out;
    out.reserve(slots_.size());
    for (const auto& s : slots_) out.push_back(s->location.get());
    return out;
}

EqFct* LocationList::find(const std::string& name) const {
    std::lock_guard lk(mx_);
    for (const auto& s : slots_) {
        if (name == s->location->name()) return s->location.get();
    }
    return nullptr;
}

EqFct* LocationList::acquire(int index) {
    std::lock_guard lk(mx_);
    if (index < 0 || static_cast<size_t>(index) >= slots_.size()) return nullptr;
    auto slot = slots_[static_cast<size_t>(index)];
    ++slot->pins;
    pinned_here.push_back({index, slot});
    return slot->location.get();
}

void LocationList::release(int index) {
    // The most recent pin of this index by this thread.
    auto it = std::find_if(pinned_here.rbegin(), pinned_here.rend(), [&](const Pin& p) { return p.index == index; });
    if (it == pinned_here.rend()) return;
    std::shared_ptr<Slot> slot = std::move(it->slot);
    pinned_here.erase(std::next(it).base());
    {
        std::lock_guard lk(mx_);
        --slot->pins;
    }
    unpinned_.notify_all();
}

} // namespace mirva

EqFct* eq_acq(int* index, void*) {
    if (!index) return nullptr;
    return mirva::LocationList::instance().acquire(*index);
}

void eq_rel(int index) { mirva::LocationList::instance().release(index); }
