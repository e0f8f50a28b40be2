// Feature values as the text of a feature file: which nodes have a value that can be
// saved, how a value is written as text, and how a text is checked and written back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <GenApi/Interfaces.h>

namespace Pylon::persistence {

enum class ValueKind { Integer, Float, Boolean, Enumeration, String, Register, None };

// The kind of value the node holds; None for categories, commands and unknown nodes.
// A node that is both an integer and a register counts as an integer.
ValueKind KindOf(GenApi::INode* node);

// The current value as file text. Empty optional when the value cannot be written back
// as it is (an enumeration whose current entry is not available).
std::optional<std::string> ReadText(GenApi::INode* node, ValueKind kind);

// A value parsed from file text, ready to be written.
using ParsedValue = std::variant<int64_t, double, bool, std::string, std::vector<uint8_t>>;

// Parses `text` for the node; on failure returns nothing and says why in `why`.
// Only the form is checked (number syntax, entry name exists, register length), not the
// limits, which may depend on other features written before.
std::optional<ParsedValue> ParseText(GenApi::INode* node, ValueKind kind, const std::string& text, std::string& why);

// The current value in parsed form, to tell whether a write would change anything; nothing
// when the node is not readable now.
std::optional<ParsedValue> ReadValue(GenApi::INode* node, ValueKind kind);

// Writes a parsed value through the node's interface (verified writes check limits).
void WriteValue(GenApi::INode* node, ValueKind kind, const ParsedValue& value, bool verify);

// For numeric kinds: whether the value lies inside the node's current limits.
// Other kinds: true.
bool InsideLimits(GenApi::INode* node, ValueKind kind, const ParsedValue& value);

// For numeric kinds: sets the node to its minimum (used to move an offset out of the way).
void WriteMinimum(GenApi::INode* node, ValueKind kind);

} // namespace Pylon::persistence
