// The text of a feature file: header comment lines and one record per feature line,
//   Name<TAB>Value    or    Name<TAB>{Selector=Entry}<TAB>Value
#pragma once

#include <string>
#include <vector>

namespace Pylon::persistence {

inline constexpr const char* kFileGuidLine = "# {05D8C294-F295-4dfb-9D01-096BD04049F4}";
inline constexpr const char* kFileVersionLine = "# GenApi persistence file (version 3.0.0)";

struct Record {
    int line = 0;          // 1-based line of the text; 0 for values read from the camera
    std::string name;      // feature name
    std::string selector;  // empty when the value does not depend on a selector
    std::string entry;     // the selector's entry the value belongs to
    std::string value;     // value text as in the file
};

// The header lines and one line per record, each ending in '\n'.
std::string FormatFile(const std::string& device_name, const std::vector<Record>& records);

// Splits the text into records, skipping blank lines and '#' comments. A line that does not
// have the record form raises InvalidArgumentException "<source>: line N: <problem>".
std::vector<Record> ParseFile(const std::string& text, const std::string& source);

} // namespace Pylon::persistence
