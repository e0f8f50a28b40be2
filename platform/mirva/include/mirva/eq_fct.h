// A location of the camera server (an equipment function): a name, a type code,
// a registry of properties and the lifecycle calls that the server makes.
//
// Lifecycle, as the server drives it: constructor, init(), post_init(), then update()
// once per cycle and online() from the recovery thread, cancel() at shut-down, then
// destruction. The server serialises the lifecycle calls of one location with
// lifecycle_mutex(); calls of different locations may run at the same time.
//
// Construction: the server opens a creation scope (mirva::LocationCreation) that names
// the location and carries its stored property values; the EqFct constructor takes
// both, so that every property registered later (by its own constructor or by
// add_property) gets its stored value at registration.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <mirva/d_fct.h>

class EqFct {
public:
    EqFct();
    virtual ~EqFct();
    EqFct(const EqFct&) = delete;
    EqFct& operator=(const EqFct&) = delete;

    const char* name() const { return name_.c_str(); }

    // Registers a property (idempotent) and restores its stored value, if any.
    // group: 0 the location's own properties, 1 device information, 2 camera features.
    void add_property(D_fct* property, int group = 0);
    // Unregisters a property; the caller then destroys it. Its value is kept for a later
    // registration of the same name, and so is a client's write that was still pending.
    void rem_property(D_fct* property);
    // Writes again, as the client did, each pending write that removed properties left
    // (camera features removed with their camera): the owner calls it once their new
    // properties hold the camera's values, before its write pass. A write whose property
    // is not there again, or that the property now refuses, is dropped: it is printed, and
    // the returned list holds one message per dropped write.
    std::vector<std::string> reapply_pending_writes();
    // Keeps the pending client writes of the registered properties of a group for the next
    // reapply_pending_writes(), as their removal would: for a set-up that reads the camera's
    // values back into properties that clients can already write.
    void keep_pending_writes(int group);
    // The property named by the first word of text (the rest is ignored), or null.
    D_fct* find_property(const char* text);
    D_fct* find_property(const std::string& text) { return find_property(text.c_str()); }

    // Client access: runs fn under the registry lock, so the property cannot be removed meanwhile.
    bool with_property(const std::string& name, const std::function<void(D_fct&)>& fn) const;
    void for_each_property(const std::function<void(D_fct&)>& fn) const;  // in registration order
    int property_group(const D_fct* property) const;
    // True when name was a camera feature (group 2) of the last camera set-up: the
    // location keeps the names while the camera is away.
    bool was_feature(const std::string& name) const;
    // True when a property of that name was registered at any time since the start.
    bool ever_had_property(const std::string& name) const;

    void set_error(int code);
    int error() const;

    std::mutex& lifecycle_mutex() { return lifecycle_mx_; }

    // Lifecycle, overridden by the location classes.
    virtual int fct_code() = 0;
    virtual void interrupt_usr1(int sig);
    virtual void update();
    virtual void online();
    virtual void init();
    virtual void post_init();
    virtual void cancel();
    // Stops the threads the host runs for this location (they call its virtual operations,
    // so they must end before its destruction starts). LocationList::remove calls it
    // before handing a location back; the default has nothing to stop.
    virtual void stop_host_threads();

    // Number of registered properties (those this thread can see).
    size_t property_count() const;

    // A property that registers itself from its constructor is seen only by the thread
    // that constructs it until it is complete: until that thread's next registry call
    // (add_property, find_property, another registration, ...) or publish_properties().
    // So no client reaches a half-built property. LocationList::add publishes them all.
    void publish_properties();

private:
    friend class D_fct;
    struct Entry {
        D_fct* property;
        int group;
    };
    // Registration from a property constructor: returns the stored text to apply once the
    // property is fully constructed (a virtual restore cannot run from the base constructor).
    std::optional<std::string> register_at_construction_(D_fct* property);
    bool register_(D_fct* property, int group);  // true when newly registered; caller holds registry_mx_
    void restore_into_(D_fct* property);
    // Caller holds registry_mx_.
    void publish_own_() const;                    // this thread's properties become visible to all
    bool visible_(const D_fct* property) const;   // to this thread

    std::string name_;
    // name -> stored text: the values restored at registration. A property that is removed
    // leaves its last value here, so that it comes back with it when it is registered again
    // (camera features are removed when a camera goes away and created again when it returns).
    std::map<std::string, std::string> stored_values_;  // guarded by stored_mx_
    // name -> a client's write that the location had not applied when it removed the
    // property; written again by reapply_pending_writes(). Guarded by stored_mx_.
    std::map<std::string, mirva::ClientValue> pending_writes_;
    mutable std::mutex stored_mx_;
    mutable std::recursive_mutex registry_mx_;          // guards entries_, by_name_ and error_
    std::vector<Entry> entries_;                        // registration order
    std::multimap<std::string, D_fct*> by_name_;        // lookup index over entries_
    // Properties still under construction, with their constructing thread; guarded by registry_mx_.
    mutable std::vector<std::pair<const D_fct*, std::thread::id>> hidden_;
    int error_ = 0;
    // Feature names of the current or, while the camera is away, the last set-up;
    // guarded by registry_mx_ (camera thread and host threads add, clients read).
    std::set<std::string> last_features_;
    std::set<std::string> taken_names_;  // every name ever registered; guarded by registry_mx_
    std::mutex lifecycle_mx_;
};

namespace mirva {

// Creation scope of a location: while it lives on this thread, the EqFct constructor
// takes the location's name and stored property values from it.
class LocationCreation {
public:
    LocationCreation(std::string name, std::map<std::string, std::string> stored_values);
    ~LocationCreation();
    LocationCreation(const LocationCreation&) = delete;
    LocationCreation& operator=(const LocationCreation&) = delete;
    const std::string& name() const { return name_; }
    const std::map<std::string, std::string>& stored_values() const { return stored_; }
    static const LocationCreation* current();

private:
    std::string name_;
    std::map<std::string, std::string> stored_;
    const LocationCreation* previous_;
};

} // namespace mirva
