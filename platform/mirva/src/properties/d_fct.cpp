// Base property, single-value properties, texts, limits with unit, spectra and the general status.
#include <mirva/d_fct.h>

#include <cmath>
#include <ctime>

#include <mirva/eq_fct.h>
#include <mirva/server.h>

#include "properties/client_value.h"

namespace {

const char* location_of(const EqFct* owner) { return owner ? owner->name() : ""; }

} // namespace

// ---------------------------------------------------------------- D_fct

D_fct::D_fct(const char* text, EqFct* owner, int flags) : owner_(owner), flags_(flags) {
    std::string t = text ? text : "";
    size_t b = t.find_first_not_of(" \t");
    if (b == std::string::npos) b = t.size();
    size_t e = t.find_first_of(" \t", b);
    if (e == std::string::npos) e = t.size();
    name_ = t.substr(b, e - b);
    size_t d = t.find_first_not_of(" \t", e);
    if (d != std::string::npos) description_ = t.substr(d);
    if (owner_) stored_for_restore_ = owner_->register_at_construction_(this);
}

D_fct::~D_fct() {
    if (registered_.load() && owner_) owner_->rem_property(this);
}

void D_fct::apply_stored_() {
    if (!stored_for_restore_) return;
    if (restore_text(*stored_for_restore_)) {
        restored_.store(true);
        return;  // kept: a more derived constructor applies it again with its own meaning
    }
    printftostderr(location_of(owner_), "location %s: stored value \"%s\" of property %s does not parse; the default stays",
                   location_of(owner_), stored_for_restore_->c_str(), name_.c_str());
    stored_for_restore_.reset();
}

void D_fct::set_descr_value(const char* text) {
    std::lock_guard lk(mx_);
    descr_value_ = text ? text : "";
}

std::string D_fct::descr_value() const {
    std::lock_guard lk(mx_);
    return descr_value_;
}

void D_fct::set_presentation(mirva::FeaturePresentation p) {
    std::lock_guard lk(mx_);
    presentation_ = std::move(p);
}

void D_fct::fill_snapshot(mirva::PropertySnapshot& s) const {
    {
        std::lock_guard lk(mx_);
        s.presentation = presentation_;
    }
    s.name = name_;
    s.description = description_;
    s.class_name = class_name();
    s.valid = get_valid();
    s.group = (owner_ && registered_.load()) ? owner_->property_group(this) : 0;
}

mirva::PropertySnapshot D_fct::snapshot() const {
    mirva::PropertySnapshot s;
    fill_snapshot(s);
    return s;
}

mirva::WriteResult D_fct::client_write(const mirva::ClientValue& value) {
    return mirva::detail::refuse(mirva::WriteResult::read_only, name_, value, "the property is read-only");
}

// ---------------------------------------------------------------- D_value<T>

namespace mirva {

template <class T>
void D_value<T>::set_value(T v) {
    set_value(v, std::time(nullptr));
}

template <class T>
void D_value<T>::set_value(T v, time_t seconds) {
    T old;
    {
        std::lock_guard lk(mx_);
        old = value_;
        value_ = v;
        stamp_ = seconds;
    }
    if (dmsg_enabled() && !(old == v)) {
        printftostderr(location_of(owner()), "%s changed from %s to %s", name().c_str(),
                       detail::format_number<T>(old).c_str(), detail::format_number<T>(v).c_str());
    }
}

template <class T>
const char* D_value<T>::class_name() const {
    if constexpr (std::is_same_v<T, int>) return "D_value<int>";
    else if constexpr (std::is_same_v<T, int64_t>) return "D_value<int64_t>";
    else if constexpr (std::is_same_v<T, float>) return "D_value<float>";
    else return "D_value<double>";
}

template <class T>
PropertySnapshot D_value<T>::snapshot() const {
    PropertySnapshot s;
    fill_snapshot(s);
    std::lock_guard lk(mx_);
    if constexpr (std::is_same_v<T, int> || std::is_same_v<T, int64_t>) s.value = static_cast<int64_t>(value_);
    else s.value = static_cast<double>(value_);
    s.timestamp = static_cast<double>(stamp_);
    s.writable = true;
    return s;
}

template <class T>
WriteResult D_value<T>::client_write(const ClientValue& value) {
    std::string reason;
    auto x = detail::client_number(value, &reason);
    if (!x) return detail::refuse(WriteResult::bad_value, name(), value, reason);
    auto v = detail::number_as<T>(*x, &reason);
    if (!v) return detail::refuse(WriteResult::bad_value, name(), value, reason);
    set_value(*v);
    return WriteResult::success();
}

template <class T>
std::optional<std::string> D_value<T>::stored_text() const {
    if (flags() & not_persisted) return std::nullopt;
    return detail::format_number<T>(value());
}

template <class T>
bool D_value<T>::restore_text(const std::string& text) {
    auto x = detail::parse_number(text);
    if (!x) return false;
    std::string reason;
    auto v = detail::number_as<T>(*x, &reason);
    if (!v) return false;
    std::lock_guard lk(mx_);
    value_ = *v;
    return true;
}

template class D_value<int>;
template class D_value<int64_t>;
template class D_value<float>;
template class D_value<double>;

} // namespace mirva

// ---------------------------------------------------------------- D_string

void D_string::set_value(const char* text) {
    std::lock_guard lk(mx_);
    value_ = text ? text : "";
    client_pending_ = false;
}

void D_string::confirm_client_text(const std::string& text) {
    std::lock_guard lk(mx_);
    if (value_ == text) client_pending_ = false;
}

std::optional<mirva::ClientValue> D_string::pending_write() const {
    std::lock_guard lk(mx_);
    if (!client_pending_) return std::nullopt;
    return mirva::ClientValue{value_};
}

mirva::PropertySnapshot D_string::snapshot() const {
    mirva::PropertySnapshot s;
    fill_snapshot(s);
    s.value = value();
    s.writable = true;
    return s;
}

mirva::WriteResult D_string::client_write(const mirva::ClientValue& value) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return mirva::detail::refuse(mirva::WriteResult::bad_value, name(), value, "a text is needed");
    if (text->size() > max_length()) {
        return mirva::WriteResult::refuse(mirva::WriteResult::bad_value,
                                          name() + ": text of " + std::to_string(text->size()) +
                                              " bytes refused: longer than the limit of " +
                                              std::to_string(max_length()) + " bytes");
    }
    std::lock_guard lk(mx_);
    value_ = *text;
    client_pending_ = true;
    return mirva::WriteResult::success();
}

std::optional<std::string> D_string::stored_text() const {
    if (flags() & mirva::not_persisted) return std::nullopt;
    return value();
}

bool D_string::restore_text(const std::string& text) {
    if (text.size() > max_length()) return false;
    std::lock_guard lk(mx_);
    value_ = text;
    return true;
}

// ---------------------------------------------------------------- D_ustr

void D_ustr::set_i1(int v) { std::lock_guard lk(mx_); i1_ = v; }
void D_ustr::set_f1(float v) { std::lock_guard lk(mx_); f1_ = v; }
void D_ustr::set_f2(float v) { std::lock_guard lk(mx_); f2_ = v; }
void D_ustr::set_str(const char* text) { std::lock_guard lk(mx_); str_ = text ? text : ""; }
int D_ustr::i1() const { std::lock_guard lk(mx_); return i1_; }
float D_ustr::f1() const { std::lock_guard lk(mx_); return f1_; }
float D_ustr::f2() const { std::lock_guard lk(mx_); return f2_; }
std::string D_ustr::str() const { std::lock_guard lk(mx_); return str_; }

mirva::PropertySnapshot D_ustr::snapshot() const {
    mirva::PropertySnapshot s;
    fill_snapshot(s);
    std::lock_guard lk(mx_);
    s.value = str_;
    s.min = f1_;
    s.max = f2_;
    return s;
}

// ---------------------------------------------------------------- D_spectrum

D_spectrum::D_spectrum(const char* text, int points, EqFct* owner, bool flag)
    : D_fct(text, owner, flag ? 1 : 0), capacity_(points > 0 ? points : 0) {
    ring_.reserve(static_cast<size_t>(capacity_));
}

void D_spectrum::fill(float sample) {
    if (capacity_ == 0) return;
    std::lock_guard lk(mx_);
    if (ring_.size() < static_cast<size_t>(capacity_)) {
        ring_.push_back(sample);
        next_ = ring_.size() % static_cast<size_t>(capacity_);
        full_ = ring_.size() == static_cast<size_t>(capacity_);
        return;
    }
    ring_[next_] = sample;
    next_ = (next_ + 1) % static_cast<size_t>(capacity_);
}

std::vector<float> D_spectrum::points() const {
    std::lock_guard lk(mx_);
    if (!full_) return ring_;
    std::vector<float> out;
    out.reserve(ring_.size());
    out.insert(out.end(), ring_.begin() + static_cast<std::ptrdiff_t>(next_), ring_.end());
    out.insert(out.end(), ring_.begin(), ring_.begin() + static_cast<std::ptrdiff_t>(next_));
    return out;
}

mirva::PropertySnapshot D_spectrum::snapshot() const {
    mirva::PropertySnapshot s;
    fill_snapshot(s);
    auto p = points();
    s.value = std::vector<double>(p.begin(), p.end());
    return s;
}

// ---------------------------------------------------------------- D_gen_sts

void D_gen_sts::online(int v) {
    client_off_.store(false);
    online_.store(v);
}

mirva::PropertySnapshot D_gen_sts::snapshot() const {
    mirva::PropertySnapshot s;
    fill_snapshot(s);
    s.value = static_cast<int64_t>(online());
    s.writable = true;
    return s;
}

mirva::WriteResult D_gen_sts::client_write(const mirva::ClientValue& value) {
    std::string reason;
    auto x = mirva::detail::client_number(value, &reason);
    if (!x) return mirva::detail::refuse(mirva::WriteResult::bad_value, name(), value, reason);
    if (*x != 0.0 && *x != 1.0) {
        return mirva::detail::refuse(mirva::WriteResult::bad_value, name(), value, "only 0 (off line) or 1 (on line) is allowed");
    }
    online(*x != 0.0 ? 1 : 0);
    client_off_.store(*x == 0.0);
    return mirva::WriteResult::success();
}
