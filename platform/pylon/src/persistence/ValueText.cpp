#include "persistence/ValueText.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include <GenApi/Pointer.h>

namespace Pylon::persistence {

using namespace GenApi;

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Strings are written raw except for the characters that would break the line format.
std::string EscapeString(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

bool UnescapeString(const std::string& s, std::string& out, std::string& why) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') {
            out += s[i];
            continue;
        }
        if (++i == s.size()) {
            why = "string ends in a lone backslash";
            return false;
        }
        switch (s[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        default:
            why = std::string("unknown escape '\\") + s[i] + "' in string";
            return false;
        }
    }
    return true;
}

bool ParseInteger(const std::string& text, int64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    bool negative = false;
    if (first != last && (*first == '-' || *first == '+')) {
        negative = *first == '-';
        ++first;
    }
    int base = 10;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        base = 16;
        first += 2;
    }
    if (first == last)
        return false;
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(first, last, magnitude, base);
    if (ec != std::errc() || end != last)
        return false;
    if (negative) {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1)
            return false;
        value = magnitude == static_cast<uint64_t>(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    } else {
        if (base == 10 && magnitude > static_cast<uint64_t>(INT64_MAX))
            return false;
        value = static_cast<int64_t>(magnitude); // hex may spell a full 64-bit pattern
    }
    return true;
}

bool ParseFloat(const std::string& text, double& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+')
        ++first;
    if (first == last)
        return false;
    const auto [end, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && end == last && std::isfinite(value);
}

std::string FormatFloat(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : std::to_string(value);
}

} // namespace

ValueKind KindOf(INode* node) {
    if (!node || dynamic_cast<ICategory*>(node) || dynamic_cast<ICommand*>(node))
        return ValueKind::None;
    if (dynamic_cast<IEnumeration*>(node))
        return ValueKind::Enumeration;
    if (dynamic_cast<IBoolean*>(node))
        return ValueKind::Boolean;
    if (dynamic_cast<IInteger*>(node))
        return ValueKind::Integer;
    if (dynamic_cast<IFloat*>(node))
        return ValueKind::Float;
    if (dynamic_cast<IString*>(node))
        return ValueKind::String;
    if (dynamic_cast<IRegister*>(node))
        return ValueKind::Register;
    return ValueKind::None;
}

std::optional<std::string> ReadText(INode* node, ValueKind kind) {
    switch (kind) {
    case ValueKind::Integer:
        return std::to_string(dynamic_cast<IInteger&>(*node).GetValue());
    case ValueKind::Float:
        return FormatFloat(dynamic_cast<IFloat&>(*node).GetValue());
    case ValueKind::Boolean:
        return std::string(dynamic_cast<IBoolean&>(*node).GetValue() ? "1" : "0");
    case ValueKind::Enumeration: {
        IEnumEntry* entry = dynamic_cast<IEnumeration&>(*node).GetCurrentEntry();
        if (!entry || !IsAvailable(entry))
            return std::nullopt;
        return entry->GetSymbolic();
    }
    case ValueKind::String:
        return EscapeString(dynamic_cast<IString&>(*node).GetValue());
    case ValueKind::Register: {
        auto& reg = dynamic_cast<IRegister&>(*node);
        std::vector<uint8_t> bytes(static_cast<std::size_t>(reg.GetLength()));
        reg.Get(bytes.data(), static_cast<int64_t>(bytes.size()));
        std::string text = "0x";
        for (uint8_t b : bytes) {
            text += kHex[b >> 4];
            text += kHex[b & 0x0F];
        }
        return text;
    }
    case ValueKind::None:
        break;
    }
    return std::nullopt;
}

std::optional<ParsedValue> ParseText(INode* node, ValueKind kind, const std::string& raw, std::string& why) {
    // Blanks around a number or a name are tolerated; a string keeps them.
    std::string text = raw;
    if (kind != ValueKind::String) {
        const auto first = text.find_first_not_of(' ');
        text = first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
    }
    switch (kind) {
    case ValueKind::Integer: {
        int64_t v = 0;
        if (!ParseInteger(text, v)) {
            why = "'" + text + "' is not an integer";
            return std::nullopt;
        }
        return ParsedValue{v};
    }
    case ValueKind::Float: {
        double v = 0;
        if (!ParseFloat(text, v)) {
            why = "'" + text + "' is not a number";
            return std::nullopt;
        }
        return ParsedValue{v};
    }
    case ValueKind::Boolean:
        if (text == "1" || text == "true" || text == "True")
            return ParsedValue{true};
        if (text == "0" || text == "false" || text == "False")
            return ParsedValue{false};
        why = "'" + text + "' is not a boolean (0 or 1)";
        return std::nullopt;
    case ValueKind::Enumeration:
        if (text.empty() || !dynamic_cast<IEnumeration&>(*node).GetEntryByName(text)) {
            why = "'" + text + "' is not an entry of the enumeration";
            return std::nullopt;
        }
        return ParsedValue{text};
    case ValueKind::String: {
        std::string value;
        if (!UnescapeString(raw, value, why))
            return std::nullopt;
        return ParsedValue{value};
    }
    case ValueKind::Register: {
        auto& reg = dynamic_cast<IRegister&>(*node);
        const std::size_t length = static_cast<std::size_t>(reg.GetLength());
        if (text.size() != 2 + 2 * length || (text.compare(0, 2, "0x") != 0 && text.compare(0, 2, "0X") != 0)) {
            why = "register value must be 0x followed by " + std::to_string(2 * length) + " hex digits";
            return std::nullopt;
        }
        std::vector<uint8_t> bytes(length);
        for (std::size_t i = 0; i < length; ++i) {
            unsigned byte = 0;
            const char* first = text.data() + 2 + 2 * i;
            const auto [end, ec] = std::from_chars(first, first + 2, byte, 16);
            if (ec != std::errc() || end != first + 2) {
                why = "register value has a bad hex digit at byte " + std::to_string(i);
                return std::nullopt;
            }
            bytes[i] = static_cast<uint8_t>(byte);
        }
        return ParsedValue{std::move(bytes)};
    }
    case ValueKind::None:
        break;
    }
    why = "the feature has no value that can be loaded";
    return std::nullopt;
}

std::optional<ParsedValue> ReadValue(INode* node, ValueKind kind) {
    if (!IsReadable(node))
        return std::nullopt;
    switch (kind) {
    case ValueKind::Integer:
        return ParsedValue{dynamic_cast<IInteger&>(*node).GetValue()};
    case ValueKind::Float:
        return ParsedValue{dynamic_cast<IFloat&>(*node).GetValue()};
    case ValueKind::Boolean:
        return ParsedValue{dynamic_cast<IBoolean&>(*node).GetValue()};
    case ValueKind::Enumeration: {
        IEnumEntry* entry = dynamic_cast<IEnumeration&>(*node).GetCurrentEntry();
        if (!entry)
            return std::nullopt;
        return ParsedValue{std::string(entry->GetSymbolic())};
    }
    case ValueKind::String:
        return ParsedValue{std::string(dynamic_cast<IString&>(*node).GetValue())};
    case ValueKind::Register: {
        auto& reg = dynamic_cast<IRegister&>(*node);
        std::vector<uint8_t> bytes(static_cast<std::size_t>(reg.GetLength()));
        reg.Get(bytes.data(), static_cast<int64_t>(bytes.size()));
        return ParsedValue{std::move(bytes)};
    }
    case ValueKind::None:
        break;
    }
    return std::nullopt;
}

void WriteValue(INode* node, ValueKind kind, const ParsedValue& value, bool verify) {
    switch (kind) {
    case ValueKind::Integer:
        dynamic_cast<IInteger&>(*node).SetValue(std::get<int64_t>(value), verify);
        return;
    case ValueKind::Float:
        dynamic_cast<IFloat&>(*node).SetValue(std::get<double>(value), verify);
        return;
    case ValueKind::Boolean:
        dynamic_cast<IBoolean&>(*node).SetValue(std::get<bool>(value), verify);
        return;
    case ValueKind::Enumeration:
        dynamic_cast<IEnumeration&>(*node).FromString(std::get<std::string>(value), verify);
        return;
    case ValueKind::String:
        dynamic_cast<IString&>(*node).SetValue(std::get<std::string>(value), verify);
        return;
    case ValueKind::Register: {
        const auto& bytes = std::get<std::vector<uint8_t>>(value);
        dynamic_cast<IRegister&>(*node).Set(bytes.data(), static_cast<int64_t>(bytes.size()), verify);
        return;
    }
    case ValueKind::None:
        break;
    }
    throw LOGICAL_ERROR_EXCEPTION("Node '%s' has no value that can be loaded", node->GetName().c_str());
}

bool InsideLimits(INode* node, ValueKind kind, const ParsedValue& value) {
    if (kind == ValueKind::Integer) {
        auto& n = dynamic_cast<IInteger&>(*node);
        const int64_t v = std::get<int64_t>(value);
        return v >= n.GetMin() && v <= n.GetMax();
    }
    if (kind == ValueKind::Float) {
        auto& n = dynamic_cast<IFloat&>(*node);
        const double v = std::get<double>(value);
        return v >= n.GetMin() && v <= n.GetMax();
    }
    return true;
}

void WriteMinimum(INode* node, ValueKind kind) {
    if (kind == ValueKind::Integer) {
        auto& n = dynamic_cast<IInteger&>(*node);
        n.SetValue(n.GetMin(), true);
    } else if (kind == ValueKind::Float) {
        auto& n = dynamic_cast<IFloat&>(*node);
        n.SetValue(n.GetMin(), true);
    }
}

} // namespace Pylon::persistence
