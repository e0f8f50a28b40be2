#include "properties/client_value.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace mirva::detail {

namespace {
template <class... F>
struct overloaded : F... { using F::operator()...; };
template <class... F>
overloaded(F...) -> overloaded<F...>;
} // namespace

std::string describe(const ClientValue& value) {
    return std::visit(overloaded{
        [](std::monostate) -> std::string { return "nothing"; },
        [](bool b) -> std::string { return b ? "true" : "false"; },
        [](int64_t i) -> std::string { return std::to_string(i); },
        [](double d) -> std::string {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", d);
            return buf;
        },
        [](const std::string& s) -> std::string {
            if (s.size() > 80) return "\"" + s.substr(0, 77) + "...\"";
            return "\"" + s + "\"";
        },
        [](const std::vector<double>& v) -> std::string {
            return "a spectrum of " + std::to_string(v.size()) + " points";
        },
    }, value);
}

std::optional<double> parse_number(const std::string& text) {
    const char* begin = text.c_str();
    while (*begin == ' ' || *begin == '\t') ++begin;
    if (*begin == '\0') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    double x = std::strtod(begin, &end);
    if (end == begin) return std::nullopt;
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r') ++end;
    if (*end != '\0') return std::nullopt;
    return x;
}

std::optional<double> client_number(const ClientValue& value, std::string* reason) {
    return std::visit(overloaded{
        [&](std::monostate) -> std::optional<double> { *reason = "no value given"; return std::nullopt; },
        [](bool b) -> std::optional<double> { return b ? 1.0 : 0.0; },
        [](int64_t i) -> std::optional<double> { return static_cast<double>(i); },
        [](double d) -> std::optional<double> { return d; },
        [&](const std::string& s) -> std::optional<double> {
            auto x = parse_number(s);
            if (!x) *reason = "a number is needed, not a text";
            return x;
        },
        [&](const std::vector<double>&) -> std::optional<double> {
            *reason = "a single number is needed, not a spectrum";
            return std::nullopt;
        },
    }, value);
}

template <>
std::optional<int> number_as<int>(double x, std::string* reason) {
    if (std::isnan(x)) { *reason = "not a number (NaN)"; return std::nullopt; }
    if (std::isinf(x)) { *reason = "infinite"; return std::nullopt; }
    if (x != std::trunc(x)) { *reason = "an integral number is needed"; return std::nullopt; }
    if (x < static_cast<double>(INT_MIN) || x > static_cast<double>(INT_MAX)) {
        *reason = "outside the 32-bit integer range";
        return std::nullopt;
    }
    return static_cast<int>(x);
}

template <>
std::optional<int64_t> number_as<int64_t>(double x, std::string* reason) {
    if (std::isnan(x)) { *reason = "not a number (NaN)"; return std::nullopt; }
    if (std::isinf(x)) { *reason = "infinite"; return std::nullopt; }
    if (x != std::trunc(x)) { *reason = "an integral number is needed"; return std::nullopt; }
    // 2^63 is the first double beyond the range; every double below it converts exactly.
    if (x < -9223372036854775808.0 || x >= 9223372036854775808.0) {
        *reason = "outside the 64-bit integer range";
        return std::nullopt;
    }
    return static_cast<int64_t>(x);
}

template <>
std::optional<float> number_as<float>(double x, std::string* reason) {
    if (std::isnan(x)) { *reason = "not a number (NaN)"; return std::nullopt; }
    if (std::isinf(x)) { *reason = "infinite"; return std::nullopt; }
    if (std::fabs(x) > static_cast<double>(FLT_MAX)) { *reason = "outside the range of a 32-bit float"; return std::nullopt; }
    return static_cast<float>(x);
}

template <>
std::optional<double> number_as<double>(double x, std::string* reason) {
    if (std::isnan(x)) { *reason = "not a number (NaN)"; return std::nullopt; }
    if (std::isinf(x)) { *reason = "infinite"; return std::nullopt; }
    return x;
}

template <>
std::string format_number<int>(int v) { return std::to_string(v); }

template <>
std::string format_number<int64_t>(int64_t v) { return std::to_string(v); }

template <>
std::string format_number<float>(float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
    return buf;
}

template <>
std::string format_number<double>(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

WriteResult refuse(WriteResult::Code code, const std::string& name, const ClientValue& value, const std::string& reason) {
    return WriteResult::refuse(code, name + ": value " + describe(value) + " refused: " + reason);
}

} // namespace mirva::detail
