// The server's list of locations. The server core adds and removes locations; camera
// threads walk it with eq_acq/eq_rel (server.h), which pin one location at a time so
// that it is not destroyed while a walker uses it. No lock is held while a location is
// pinned, so a walk never waits for a location's lifecycle calls.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class EqFct;

namespace mirva {

class LocationList {
public:
    static LocationList& instance();

    // Appends a location; returns it.
    EqFct* add(std::unique_ptr<EqFct> location);
    // Takes a location out of the list; waits until no walker has it pinned, stops its
    // host threads (EqFct::stop_host_threads) and hands it back (the caller destroys it).
    // Null when the location is not in the list. Call it without the location's
    // lifecycle_mutex() held.
    std::unique_ptr<EqFct> remove(EqFct* location);
    size_t size() const;
    // The locations in list order (unpinned: only for the thread that adds and removes).
    std::vector<EqFct*> locations() const;
    EqFct* find(const std::string& name) const;

    // eq_acq / eq_rel: pin the location at index for the calling thread.
    EqFct* acquire(int index);
    void release(int index);

    struct Slot;

private:
    LocationList() = default;
    mutable std::mutex mx_;                   // guards slots_ and the pin counts
    std::condition_variable unpinned_;        // signalled when a pin count drops
    std::vector<std::shared_ptr<Slot>> slots_;
};

} // namespace mirva
