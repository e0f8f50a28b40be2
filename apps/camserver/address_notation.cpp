#include "address_notation.h"

#include <cctype>
#include <cstdio>
#include <regex>

namespace mirva::camserver {

namespace {

bool is_plain_number(const std::string& text) {
    size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos)
        return false;
    if (text[i] == '-' || text[i] == '+')
        ++i;
    const size_t digits = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    if (i == digits)
        return false;
    return text.find_first_not_of(" \t", i) == std::string::npos;
}

} // namespace

std::string format_ipv4(int64_t value) {
    const auto u = static_cast<uint32_t>(value);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (u >> 24) & 255u, (u >> 16) & 255u, (u >> 8) & 255u, u & 255u);
    return text;
}

std::string format_mac(int64_t value) {
    const auto u = static_cast<uint64_t>(value);
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", static_cast<unsigned>((u >> 40) & 255u),
                  static_cast<unsigned>((u >> 32) & 255u), static_cast<unsigned>((u >> 24) & 255u),
                  static_cast<unsigned>((u >> 16) & 255u), static_cast<unsigned>((u >> 8) & 255u),
                  static_cast<unsigned>(u & 255u));
    return text;
}

std::optional<int64_t> parse_ipv4(const std::string& text) {
    static const std::regex dotted(R"(\s*(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})\s*)");
    std::smatch m;
    if (!std::regex_match(text, m, dotted))
        return std::nullopt;
    int64_t value = 0;
    for (int i = 1; i <= 4; ++i) {
        const int part = std::stoi(m[i].str());
        if (part > 255)
            return std::nullopt;
        value = value * 256 + part;
    }
    return value;
}

std::optional<int64_t> parse_mac(const std::string& text) {
    static const std::regex bytes(
        R"(\s*([0-9A-Fa-f]{2})([:-])([0-9A-Fa-f]{2})\2([0-9A-Fa-f]{2})\2([0-9A-Fa-f]{2})\2([0-9A-Fa-f]{2})\2([0-9A-Fa-f]{2})\s*)");
    std::smatch m;
    if (!std::regex_match(text, m, bytes))
        return std::nullopt;
    int64_t value = 0;
    for (int i : {1, 3, 4, 5, 6, 7})
        value = value * 256 + std::stoi(m[i].str(), nullptr, 16);
    return value;
}

std::optional<std::string> address_text(const std::string& representation, int64_t value) {
    if (representation == "IPV4Address")
        return format_ipv4(value);
    if (representation == "MACAddress")
        return format_mac(value);
    return std::nullopt;
}

std::optional<ClientValue> address_write(const std::string& representation, const ClientValue& value,
                                         std::string* error) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text || is_plain_number(*text))
        return value;
    if (representation == "IPV4Address") {
        if (auto v = parse_ipv4(*text))
            return ClientValue{*v};
        *error = "\"" + *text + "\" is no IPv4 address (four numbers 0..255 separated by dots, or its number)";
        return std::nullopt;
    }
    if (representation == "MACAddress") {
        if (auto v = parse_mac(*text))
            return ClientValue{*v};
        *error = "\"" + *text +
                 "\" is no MAC address (six hex bytes separated by colons, 00:30:53:12:34:56, or its number)";
        return std::nullopt;
    }
    return value;
}

} // namespace mirva::camserver
