#include "genapi/TextFormat.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <strings.h>

namespace GenApi::detail {

std::string_view Trim(std::string_view text) noexcept {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool ParseInt64(std::string_view text, int64_t& out) noexcept {
    text = Trim(text);
    if (text.empty())
        return false;
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / base)
            return false;
        value = value * base + digit;
    }
    // Hex texts may use all 64 bits (register masks); decimal ones must fit int64.
    if (base == 10 && value > (negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()}))
        return false;
    out = static_cast<int64_t>(negative ? uint64_t{0} - value : value);
    return true;
}

bool ParseDouble(std::string_view text, double& out) noexcept {
    text = Trim(text);
    if (text.empty())
        return false;
    const std::string copy(text);
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || (errno == ERANGE && std::isinf(value)))
        return false;
    out = value;
    return true;
}

bool ParseBool(std::string_view text, bool& out) noexcept {
    text = Trim(text);
    const std::string copy(text);
    if (copy == "1" || strcasecmp(copy.c_str(), "true") == 0) {
        out = true;
        return true;
    }
    if (copy == "0" || strcasecmp(copy.c_str(), "false") == 0) {
        out = false;
        return true;
    }
    return false;
}

int64_t ToInt64(double value) noexcept {
    if (std::isnan(value))
        return 0;
    if (value >= 9.2233720368547758e18)
        return std::numeric_limits<int64_t>::max();
    if (value <= -9.2233720368547758e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}

std::string FormatDouble(double value) {
    char buffer[40];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value || std::isnan(value))
            break;
    }
    return buffer;
}

} // namespace GenApi::detail
