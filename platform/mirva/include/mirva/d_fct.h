// Properties of a location: the named values that clients read and write.
//
// Every property is built from a text "NAME description" (the first word is the name)
// and its owning location. With an owner it registers itself with that location at
// construction (and the location restores a stored value into it, see EqFct); without
// one it can be registered later with EqFct::add_property. It unregisters itself when
// destroyed.
//
// Thread rules: a property's value is guarded by the property's own mutex, so the
// camera thread, the update thread and client threads may use it at the same time.
// A client never holds a property pointer across calls: it reaches properties through
// EqFct::with_property / for_each_property, which hold the location's registry lock,
// so a property that the camera thread removes is never used after its removal.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class EqFct;

namespace mirva {

// A value as a client sends it (parsed from JSON by the server).
using ClientValue = std::variant<std::monostate, bool, int64_t, double, std::string, std::vector<double>>;

// Property flag: the value is run-time state (counters, status texts) that the state file
// does not keep; stored_text() gives nothing.
constexpr int not_persisted = 0x1000;

// Outcome of a client write; the message names the value and the reason.
struct WriteResult {
    enum Code { ok, bad_value, read_only } code = ok;
    std::string message;
    static WriteResult success() { return {}; }
    static WriteResult refuse(Code c, std::string text) { return {c, std::move(text)}; }
};

// How viewers present a camera feature, taken from the camera's description of it.
struct FeaturePresentation {
    std::string display_name;                // "Exposure Time (Raw)"
    std::string visibility;                  // "Beginner", "Expert", "Guru" or "Invisible"
    std::string representation;              // "Linear", "IPV4Address", "MACAddress", ...; empty for non-numbers
    std::vector<std::string> category_path;  // display names from the outermost category to the feature's own
};

// What a client sees of a property at one moment.
struct PropertySnapshot {
    std::string name;
    std::string description;
    std::string class_name;            // "D_int", "D_cam_param_float", ...
    ClientValue value;                 // current value (text, number, or spectrum points)
    std::optional<ClientValue> pending;  // pending client value (parameter properties)
    std::optional<bool> changed;       // changed flag (parameter properties)
    std::optional<double> min, max;    // limits where the property has them
    bool writable = false;
    bool valid = false;
    double timestamp = 0;              // seconds since the epoch of the last value change
    int group = 0;                     // registration group given to EqFct::add_property
    // A camera feature whose node holds more than the property's 32 bits (a MAC address, a
    // 64-bit counter): the node's whole value and the whole value a client wrote. min and
    // max then give the node's whole limits.
    std::optional<int64_t> whole_value;
    std::optional<int64_t> whole_pending;
    std::optional<FeaturePresentation> presentation;  // main properties of camera features
};

} // namespace mirva

class D_fct {
public:
    D_fct(const char* text, EqFct* owner, int flags = 0);
    virtual ~D_fct();
    D_fct(const D_fct&) = delete;
    D_fct& operator=(const D_fct&) = delete;

    const std::string& name() const { return name_; }
    const std::string& description() const { return description_; }
    // Text shown to clients beside the description (a spectrum's axis title, for example).
    void set_descr_value(const char* text);
    std::string descr_value() const;

    // Presentation of the camera feature whose main property this is (set by the back-end).
    void set_presentation(mirva::FeaturePresentation p);

    void set_valid(bool v) { valid_.store(v); }
    bool get_valid() const { return valid_.load(); }
    // Marks a property whose changes are reported as diagnostic messages.
    void dmsg_supported() { dmsg_.store(true); }
    bool dmsg_enabled() const { return dmsg_.load(); }

    EqFct* owner() const { return owner_; }

    // Client side (server API, command-line client, state file).
    virtual const char* class_name() const = 0;
    virtual mirva::PropertySnapshot snapshot() const;
    virtual mirva::WriteResult client_write(const mirva::ClientValue& value);
    // State file: the text that restores this property's value, or nothing for
    // properties that are not persisted (read-only device data, spectra).
    virtual std::optional<std::string> stored_text() const { return std::nullopt; }
    virtual bool restore_text(const std::string& text) { (void)text; return false; }
    // A value a client wrote that the location has not applied yet, or nothing. The
    // location keeps it when it removes the property (see EqFct::rem_property).
    virtual std::optional<mirva::ClientValue> pending_write() const { return std::nullopt; }
    // True once a stored value was restored into this property at its registration.
    bool was_restored() const { return restored_.load(); }
    int flags() const { return flags_; }

protected:
    void fill_snapshot(mirva::PropertySnapshot& s) const;  // name, description, class, valid
    // Applies the stored value that registration in the constructor found. Called by the
    // constructors of the classes that restore values (a base constructor cannot reach
    // the derived restore_text); a text that does not parse is reported and dropped.
    void apply_stored_();
    mutable std::mutex mx_;  // guards the value members of the derived classes

private:
    friend class EqFct;
    std::string name_;
    std::string description_;
    std::string descr_value_;       // guarded by mx_
    std::optional<mirva::FeaturePresentation> presentation_;  // guarded by mx_
    EqFct* owner_ = nullptr;
    std::atomic<bool> valid_{false};
    std::atomic<bool> dmsg_{false};
    std::atomic<bool> registered_{false};  // set and cleared by EqFct under its registry lock
    std::atomic<bool> restored_{false};
    std::optional<std::string> stored_for_restore_;  // constructing thread only
    int flags_ = 0;
};

namespace mirva {

// A property holding one value of type T (int, int64_t, float, double) with the time of its last change.
template <class T>
class D_value : public D_fct {
public:
    D_value(const char* text, EqFct* owner, int flags = 0) : D_fct(text, owner, flags) { apply_stored_(); }
    T value() const { std::lock_guard lk(mx_); return value_; }
    void set_value(T v);                 // stores v and stamps the time
    void set_value(T v, time_t seconds); // stores v with the given time stamp
    time_t time_stamp() const { std::lock_guard lk(mx_); return stamp_; }

    const char* class_name() const override;
    mirva::PropertySnapshot snapshot() const override;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    std::optional<std::string> stored_text() const override;
    bool restore_text(const std::string& text) override;

protected:
    T value_{};          // guarded by mx_
    time_t stamp_ = 0;   // guarded by mx_
};

extern template class D_value<int>;
extern template class D_value<int64_t>;
extern template class D_value<float>;
extern template class D_value<double>;

} // namespace mirva

class D_int : public mirva::D_value<int> {
public:
    using mirva::D_value<int>::D_value;
    const char* class_name() const override { return "D_int"; }
};

class D_double : public mirva::D_value<double> {
public:
    using mirva::D_value<double>::D_value;
    const char* class_name() const override { return "D_double"; }
};

class D_float : public mirva::D_value<float> {
public:
    using mirva::D_value<float>::D_value;
    const char* class_name() const override { return "D_float"; }
};

// A text property. Client writes replace the text (at most max_length() bytes).
class D_string : public D_fct {
public:
    D_string(const char* text, EqFct* owner, int flags = 0) : D_fct(text, owner, flags) { apply_stored_(); }
    std::string value() const { std::lock_guard lk(mx_); return value_; }
    // The owner's own write: it replaces a client's text that was still pending.
    void set_value(const char* text);
    void set_value(const std::string& text) { set_value(text.c_str()); }
    // The owner has applied text: a client's write of that text is no longer pending
    // (a newer client text stays pending).
    void confirm_client_text(const std::string& text);
    static constexpr size_t max_length() { return 1024; }

    const char* class_name() const override { return "D_string"; }
    mirva::PropertySnapshot snapshot() const override;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    std::optional<std::string> stored_text() const override;
    bool restore_text(const std::string& text) override;
    std::optional<mirva::ClientValue> pending_write() const override;

protected:
    std::string value_;  // guarded by mx_
    bool client_pending_ = false;  // a client wrote value_ and the owner has not applied it; mx_
};

// Two floats and a text: used for a feature's limits and unit (f1 = min, f2 = max, str = unit).
class D_ustr : public D_fct {
public:
    D_ustr(const char* text, EqFct* owner, int flags = 0) : D_fct(text, owner, flags) {}
    void set_i1(int v);
    void set_f1(float v);
    void set_f2(float v);
    void set_str(const char* text);
    int i1() const;
    float f1() const;
    float f2() const;
    std::string str() const;

    const char* class_name() const override { return "D_ustr"; }
    mirva::PropertySnapshot snapshot() const override;

private:
    int i1_ = 0;        // guarded by mx_
    float f1_ = 0, f2_ = 0;  // guarded by mx_
    std::string str_;   // guarded by mx_
};

// A fixed-size series of samples; fill() appends one, dropping the oldest when full.
class D_spectrum : public D_fct {
public:
    D_spectrum(const char* text, int points, EqFct* owner, bool flag = true);
    void fill(float sample);
    std::vector<float> points() const;  // oldest first
    int max_points() const { return capacity_; }

    const char* class_name() const override { return "D_spectrum"; }
    mirva::PropertySnapshot snapshot() const override;

private:
    int capacity_;
    std::vector<float> ring_;  // guarded by mx_
    size_t next_ = 0;          // guarded by mx_
    bool full_ = false;        // guarded by mx_
};

// General status of a location: on line (1) or off line (0). Clients may switch it.
class D_gen_sts : public D_fct {
public:
    D_gen_sts(const char* text, EqFct* owner, int flags = 0) : D_fct(text, owner, flags) {}
    int online() const { return online_.load(); }
    // Set by the location itself: clears the client's switch-off mark.
    void online(int v);
    // The location is off line because a client switched it off (not because of a fault):
    // automatic recovery leaves it alone until a client switches it on again.
    bool switched_off_by_client() const { return client_off_.load(); }

    const char* class_name() const override { return "D_gen_sts"; }
    mirva::PropertySnapshot snapshot() const override;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;

private:
    std::atomic<int> online_{0};
    std::atomic<bool> client_off_{false};
};

// Data passed to a property's set operation.
class EqData {
public:
    void set(int v) { value_ = v; }
    int get_int() const { return value_; }
private:
    int value_ = 0;
};

// An integer that the host forces to a value (the forced power of a camera).
class D_cam_force_int : public mirva::D_value<int> {
public:
    using mirva::D_value<int>::D_value;
    int set(const EqData& data) { set_value(data.get_int()); return 0; }
    const char* class_name() const override { return "D_cam_force_int"; }
};
