// Conversions between client values, numbers and the texts of the state file.
#pragma once

#include <optional>
#include <string>

#include <mirva/d_fct.h>

namespace mirva::detail {

// The value as a message shows it: 12, 1.5, "abc", true, a spectrum of 3 points, nothing.
std::string describe(const ClientValue& value);

// A number a client sent (number, boolean or numeric text); on failure *reason says why.
std::optional<double> client_number(const ClientValue& value, std::string* reason);

// Checks that x fits a property of type T: finite, integral and 32-bit for int (64-bit for
// int64_t), float range for float.
template <class T>
std::optional<T> number_as(double x, std::string* reason);

// Full-text number parse (surrounding blanks allowed); nothing when the text is not a number.
std::optional<double> parse_number(const std::string& text);

template <class T>
std::string format_number(T v);

// The refusal message: "NAME: value V refused: reason".
WriteResult refuse(WriteResult::Code code, const std::string& name, const ClientValue& value, const std::string& reason);

} // namespace mirva::detail
