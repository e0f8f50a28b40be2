// Parsing and printing of node values as text (FromString/ToString, XML element texts).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace GenApi::detail {

std::string_view Trim(std::string_view text) noexcept;
// Decimal or 0x-hex, optional sign, surrounding blanks allowed; false when not an integer.
bool ParseInt64(std::string_view text, int64_t& out) noexcept;
// Any float strtod accepts (also integers and hex); false when not a number.
bool ParseDouble(std::string_view text, double& out) noexcept;
// "1", "0", "true", "false" (any case); false when none of these.
bool ParseBool(std::string_view text, bool& out) noexcept;
// A double as int64: truncated toward zero, saturated at the int64 limits, NaN as 0.
int64_t ToInt64(double value) noexcept;
// Shortest text that reads back as the same double.
std::string FormatDouble(double value);

} // namespace GenApi::detail
