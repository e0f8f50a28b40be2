// Camera parameter properties: a current value that the camera confirms, a pending
// value that a client wrote, a changed flag, limits and a valid mark.
//
// A client write to D_cam_param_int / D_cam_param_float records the pending value
// and sets the changed flag; the current value changes only when the camera back-end
// applies the write (set_value). Writes outside the limits are recorded as pending
// (the back-end clamps them); a value of the wrong type, NaN or infinity is refused.
// A client write to D_cam_param_text replaces the text. The _const variants refuse
// client writes.
//
// The bodies of D_cam_param_int::set_value and D_cam_param_float::set_value belong to
// the camera back-end: they store the value and clear the changed flag once the value
// equals the pending value. Host code never calls them.
#pragma once

#include <climits>
#include <cfloat>
#include <cstdint>
#include <optional>

#include <mirva/d_fct.h>

template <class T>
class D_cam_param_number : public mirva::D_value<T> {
public:
    D_cam_param_number(const char* text, T min, T max, EqFct* owner)
        : mirva::D_value<T>(text, owner), min_(min), max_(max) { this->apply_stored_(); }

    T new_value() const { std::lock_guard lk(this->mx_); return new_value_; }
    void set_new_value(T v) { std::lock_guard lk(this->mx_); new_value_ = v; }
    bool changed() const { std::lock_guard lk(this->mx_); return changed_; }
    void set_changed(bool c) { std::lock_guard lk(this->mx_); changed_ = c; }
    // A write is pending: the pending value differs from the value, or the changed flag is set.
    bool is_changed() const { std::lock_guard lk(this->mx_); return new_value_ != this->value_ || changed_; }
    // Records the current value as the original value and, unless a client's write is
    // pending (changed flag set), as the pending value: a write made while the camera was
    // away is applied once it is back, not dropped by its initialisation.
    void new_init() {
        std::lock_guard lk(this->mx_);
        orig_value_ = this->value_;
        if (!changed_) new_value_ = this->value_;
    }
    T orig_value() const { std::lock_guard lk(this->mx_); return orig_value_; }
    // Pending value := value; changed flag := false.
    void reset_new_val() { std::lock_guard lk(this->mx_); new_value_ = this->value_; changed_ = false; }

    // Client writes so far. The back-end reads it before it takes a pending value to apply,
    // and gives it back to settle_applied().
    uint64_t client_writes() const { std::lock_guard lk(this->mx_); return client_writes_; }
    // The back-end wrote v to the camera for the pending write it took when client_writes()
    // was `taken`: v becomes the value, and the write is done unless a client wrote again
    // meanwhile. That newer write stays pending for the next pass instead of being lost.
    void settle_applied(T v, uint64_t taken) {
        mirva::D_value<T>::set_value(v);
        std::lock_guard lk(this->mx_);
        if (client_writes_ != taken) return;
        new_value_ = this->value_;
        changed_ = false;
    }

    // Makes v the pending value unless a client wrote since client_writes() was `taken`:
    // the back-end's own proposal never replaces a newer client write. True when taken.
    bool offer_pending(T v, uint64_t taken) {
        std::lock_guard lk(this->mx_);
        if (client_writes_ != taken) return false;
        new_value_ = v;
        return true;
    }

    T get_min() const { std::lock_guard lk(this->mx_); return min_; }
    T get_max() const { std::lock_guard lk(this->mx_); return max_; }
    void set_min(T v) { std::lock_guard lk(this->mx_); min_ = v; }
    void set_max(T v) { std::lock_guard lk(this->mx_); max_ = v; }
    void set_limits(T lo, T hi) { std::lock_guard lk(this->mx_); min_ = lo; max_ = hi; }

    mirva::PropertySnapshot snapshot() const override;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    std::optional<std::string> stored_text() const override;
    bool restore_text(const std::string& text) override;
    std::optional<mirva::ClientValue> pending_write() const override;

protected:
    T new_value_{};   // guarded by mx_
    T orig_value_{};  // guarded by mx_
    bool changed_ = false;  // guarded by mx_
    uint64_t client_writes_ = 0;  // guarded by mx_; counts client_write() calls that were taken
    T min_, max_;     // guarded by mx_
};

extern template class D_cam_param_number<int>;
extern template class D_cam_param_number<float>;
extern template class D_cam_param_number<double>;

class D_cam_param_int : public D_cam_param_number<int> {
public:
    D_cam_param_int(const char* text, int min, int max, EqFct* owner) : D_cam_param_number(text, min, max, owner) {}
    D_cam_param_int(const char* text, EqFct* owner) : D_cam_param_number(text, INT_MIN, INT_MAX, owner) {}
    void set_value(int v);  // defined by the camera back-end
    const char* class_name() const override { return "D_cam_param_int"; }

    // The whole value of a camera feature whose node holds more than 32 bits. The value,
    // pending value and limits stay 32-bit (saturated at the ends of that range) for the
    // host and the state file; beside them the back-end keeps the node's whole value and
    // limits, and a client's write keeps its whole value for the back-end to apply.
    // set_whole_limits marks the property as such; the others do nothing until then.
    void set_whole_limits(int64_t min, int64_t max);
    bool has_whole_value() const { std::lock_guard lk(mx_); return whole_; }
    void set_whole_value(int64_t v);
    std::optional<int64_t> whole_pending() const { std::lock_guard lk(mx_); return whole_pending_; }
    // The back-end has applied whole: the client's write is done unless a newer one came.
    void clear_whole_pending(int64_t applied);

    mirva::PropertySnapshot snapshot() const override;
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    std::optional<mirva::ClientValue> pending_write() const override;

    // A whole value as the 32-bit property holds it: saturated at the ends of the range.
    static int saturate(int64_t v) { return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v); }

private:
    bool whole_ = false;                     // guarded by mx_
    int64_t whole_value_ = 0;                // guarded by mx_
    int64_t whole_min_ = 0, whole_max_ = 0;  // guarded by mx_
    std::optional<int64_t> whole_pending_;   // guarded by mx_
};

class D_cam_param_float : public D_cam_param_number<float> {
public:
    D_cam_param_float(const char* text, float min, float max, EqFct* owner) : D_cam_param_number(text, min, max, owner) {}
    D_cam_param_float(const char* text, EqFct* owner) : D_cam_param_number(text, -FLT_MAX, FLT_MAX, owner) {}
    void set_value(float v);  // defined by the camera back-end
    const char* class_name() const override { return "D_cam_param_float"; }
};

class D_cam_param_double : public D_cam_param_number<double> {
public:
    D_cam_param_double(const char* text, double min, double max, EqFct* owner) : D_cam_param_number(text, min, max, owner) {}
    D_cam_param_double(const char* text, EqFct* owner) : D_cam_param_number(text, -DBL_MAX, DBL_MAX, owner) {}
    const char* class_name() const override { return "D_cam_param_double"; }
};

// A text parameter: client writes replace the text.
class D_cam_param_text : public D_string {
public:
    D_cam_param_text(const char* text, EqFct* owner) : D_string(text, owner) {}
    const char* class_name() const override { return "D_cam_param_text"; }
};

// Read-only variants: the camera back-end sets them; client writes are refused.
class D_cam_param_int_const : public mirva::D_value<int> {
public:
    D_cam_param_int_const(const char* text, EqFct* owner) : mirva::D_value<int>(text, owner) {}
    const char* class_name() const override { return "D_cam_param_int_const"; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    mirva::PropertySnapshot snapshot() const override;
    std::optional<std::string> stored_text() const override { return std::nullopt; }
};

// A count that may pass 2^31 in a long run (frames, packets): 64 bits.
class D_cam_param_int64_const : public mirva::D_value<int64_t> {
public:
    D_cam_param_int64_const(const char* text, EqFct* owner) : mirva::D_value<int64_t>(text, owner) {}
    const char* class_name() const override { return "D_cam_param_int64_const"; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    mirva::PropertySnapshot snapshot() const override;
    std::optional<std::string> stored_text() const override { return std::nullopt; }
};

class D_cam_param_float_const : public mirva::D_value<float> {
public:
    D_cam_param_float_const(const char* text, EqFct* owner) : mirva::D_value<float>(text, owner) {}
    const char* class_name() const override { return "D_cam_param_float_const"; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    mirva::PropertySnapshot snapshot() const override;
    std::optional<std::string> stored_text() const override { return std::nullopt; }
};

class D_cam_param_double_const : public mirva::D_value<double> {
public:
    D_cam_param_double_const(const char* text, EqFct* owner) : mirva::D_value<double>(text, owner) {}
    const char* class_name() const override { return "D_cam_param_double_const"; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    mirva::PropertySnapshot snapshot() const override;
    std::optional<std::string> stored_text() const override { return std::nullopt; }
};

class D_cam_param_text_const : public D_string {
public:
    D_cam_param_text_const(const char* text, EqFct* owner) : D_string(text, owner) {}
    const char* class_name() const override { return "D_cam_param_text_const"; }
    mirva::WriteResult client_write(const mirva::ClientValue& value) override;
    mirva::PropertySnapshot snapshot() const override;
    std::optional<std::string> stored_text() const override { return std::nullopt; }
};
