// Camera parameter properties: pending client values, changed flag, limits, valid mark.
#include <mirva/d_cam_param.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "properties/client_value.h"

template <class T>
mirva::PropertySnapshot D_cam_param_number<T>::snapshot() const {
    mirva::PropertySnapshot s;
    this->fill_snapshot(s);
    std::lock_guard lk(this->mx_);
    auto as_client = [](T v) -> mirva::ClientValue {
        if constexpr (std::is_same_v<T, int>) return static_cast<int64_t>(v);
        else return static_cast<double>(v);
    };
    s.value = as_client(this->value_);
    s.pending = as_client(new_value_);
    s.changed = changed_;
    s.min = static_cast<double>(min_);
    s.max = static_cast<double>(max_);
    s.timestamp = static_cast<double>(this->stamp_);
    s.writable = true;
    return s;
}

// The value stays as it is; the back-end applies the pending value (and clamps it).
template <class T>
mirva::WriteResult D_cam_param_number<T>::client_write(const mirva::ClientValue& value) {
    std::string reason;
    auto x = mirva::detail::client_number(value, &reason);
    if (!x) return mirva::detail::refuse(mirva::WriteResult::bad_value, this->name(), value, reason);
    auto v = mirva::detail::number_as<T>(*x, &reason);
    if (!v) return mirva::detail::refuse(mirva::WriteResult::bad_value, this->name(), value, reason);
    std::lock_guard lk(this->mx_);
    new_value_ = *v;
    changed_ = true;
    ++client_writes_;
    return mirva::WriteResult::success();
}

template <class T>
std::optional<mirva::ClientValue> D_cam_param_number<T>::pending_write() const {
    std::lock_guard lk(this->mx_);
    if (!changed_ && new_value_ == this->value_) return std::nullopt;
    if constexpr (std::is_same_v<T, int>) return mirva::ClientValue{static_cast<int64_t>(new_value_)};
    else return mirva::ClientValue{static_cast<double>(new_value_)};
}

template <class T>
std::optional<std::string> D_cam_param_number<T>::stored_text() const {
    return mirva::detail::format_number<T>(this->value());
}

// A restored value counts as confirmed: value and pending value agree, nothing is pending,
// and the valid mark tells the back-end to write it to the camera.
template <class T>
bool D_cam_param_number<T>::restore_text(const std::string& text) {
    auto x = mirva::detail::parse_number(text);
    if (!x) return false;
    std::string reason;
    auto v = mirva::detail::number_as<T>(*x, &reason);
    if (!v) return false;
    {
        std::lock_guard lk(this->mx_);
        this->value_ = *v;
        new_value_ = *v;
        changed_ = false;
    }
    this->set_valid(true);
    return true;
}

template class D_cam_param_number<int>;
template class D_cam_param_number<float>;
template class D_cam_param_number<double>;

// ---------------------------------------------------------------- whole values

namespace {

// The exact integer a client sent: numbers, booleans and integral texts; a number past
// 2^53 arrives exact only as a JSON integer or a text.
std::optional<int64_t> whole_number(const mirva::ClientValue& value, std::string* reason) {
    if (auto* i = std::get_if<int64_t>(&value)) return *i;
    if (auto* t = std::get_if<std::string>(&value)) {
        const char* begin = t->c_str();
        while (*begin == ' ' || *begin == '\t') ++begin;
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(begin, &end, 10);
        const char* rest = end;
        while (*rest == ' ' || *rest == '\t') ++rest;
        if (end != begin && *rest == '\0') {
            if (errno == ERANGE) { *reason = "outside the 64-bit integer range"; return std::nullopt; }
            return static_cast<int64_t>(v);
        }
    }
    auto x = mirva::detail::client_number(value, reason);
    if (!x) return std::nullopt;
    if (std::isnan(*x)) { *reason = "not a number (NaN)"; return std::nullopt; }
    if (std::isinf(*x)) { *reason = "infinite"; return std::nullopt; }
    if (*x != std::trunc(*x)) { *reason = "an integral number is needed"; return std::nullopt; }
    if (*x < -9223372036854775808.0 || *x >= 9223372036854775808.0) {
        *reason = "outside the 64-bit integer range";
        return std::nullopt;
    }
    return static_cast<int64_t>(*x);
}

} // namespace

void D_cam_param_int::set_whole_limits(int64_t min, int64_t max) {
    std::lock_guard lk(mx_);
    whole_ = true;
    whole_min_ = min;
    whole_max_ = max;
}

void D_cam_param_int::set_whole_value(int64_t v) {
    std::lock_guard lk(mx_);
    if (whole_) whole_value_ = v;
}

void D_cam_param_int::clear_whole_pending(int64_t applied) {
    std::lock_guard lk(mx_);
    if (whole_pending_ == applied) whole_pending_.reset();
}

mirva::PropertySnapshot D_cam_param_int::snapshot() const {
    mirva::PropertySnapshot s = D_cam_param_number<int>::snapshot();
    std::lock_guard lk(mx_);
    if (!whole_) return s;
    s.whole_value = whole_value_;
    s.whole_pending = whole_pending_ ? *whole_pending_ : whole_value_;
    s.min = static_cast<double>(whole_min_);
    s.max = static_cast<double>(whole_max_);
    return s;
}

// The 32-bit pending value shows the write saturated; the whole value waits beside it.
mirva::WriteResult D_cam_param_int::client_write(const mirva::ClientValue& value) {
    if (!has_whole_value()) return D_cam_param_number<int>::client_write(value);
    std::string reason;
    auto v = whole_number(value, &reason);
    if (!v) return mirva::detail::refuse(mirva::WriteResult::bad_value, name(), value, reason);
    std::lock_guard lk(mx_);
    whole_pending_ = *v;
    new_value_ = saturate(*v);
    changed_ = true;
    ++client_writes_;
    return mirva::WriteResult::success();
}

std::optional<mirva::ClientValue> D_cam_param_int::pending_write() const {
    {
        std::lock_guard lk(mx_);
        if (whole_pending_) return mirva::ClientValue{*whole_pending_};
    }
    return D_cam_param_number<int>::pending_write();
}

namespace {
mirva::WriteResult refuse_const(const D_fct& p, const mirva::ClientValue& value) {
    return mirva::detail::refuse(mirva::WriteResult::read_only, p.name(), value, "the property is read-only");
}
} // namespace

mirva::WriteResult D_cam_param_int_const::client_write(const mirva::ClientValue& value) { return refuse_const(*this, value); }
mirva::WriteResult D_cam_param_int64_const::client_write(const mirva::ClientValue& value) { return refuse_const(*this, value); }
mirva::WriteResult D_cam_param_float_const::client_write(const mirva::ClientValue& value) { return refuse_const(*this, value); }
mirva::WriteResult D_cam_param_double_const::client_write(const mirva::ClientValue& value) { return refuse_const(*this, value); }
mirva::WriteResult D_cam_param_text_const::client_write(const mirva::ClientValue& value) { return refuse_const(*this, value); }

namespace {
template <class Base>
mirva::PropertySnapshot read_only_snapshot(const Base& p) {
    mirva::PropertySnapshot s = p.Base::snapshot();
    s.writable = false;
    return s;
}
} // namespace

mirva::PropertySnapshot D_cam_param_int_const::snapshot() const { return read_only_snapshot<mirva::D_value<int>>(*this); }
mirva::PropertySnapshot D_cam_param_int64_const::snapshot() const { return read_only_snapshot<mirva::D_value<int64_t>>(*this); }
mirva::PropertySnapshot D_cam_param_float_const::snapshot() const { return read_only_snapshot<mirva::D_value<float>>(*this); }
mirva::PropertySnapshot D_cam_param_double_const::snapshot() const { return read_only_snapshot<mirva::D_value<double>>(*this); }
mirva::PropertySnapshot D_cam_param_text_const::snapshot() const { return read_only_snapshot<D_string>(*this); }
