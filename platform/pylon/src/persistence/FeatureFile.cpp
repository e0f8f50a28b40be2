#include "persistence/FeatureFile.h"

#include <cctype>

#include <GenICam/GCException.h>

namespace Pylon::persistence {

namespace {

[[noreturn]] void Garbled(const std::string& source, int line, const std::string& problem) {
    throw INVALID_ARGUMENT_EXCEPTION("%s: line %d: %s", source.c_str(), line, problem.c_str());
}

bool IsBlank(const std::string& s) {
    return s.find_first_not_of(" \t") == std::string::npos;
}

// Feature and selector names are GenICam node names: letters, digits and underscores.
bool IsName(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            return false;
    return true;
}

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s.substr(0, 64)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            out += '?';
        else
            out += c;
    }
    return out + (s.size() > 64 ? "...'" : "'");
}

} // namespace

std::string FormatFile(const std::string& device_name, const std::vector<Record>& records) {
    std::string text;
    text += kFileGuidLine;
    text += '\n';
    text += kFileVersionLine;
    text += '\n';
    text += "# Device = " + device_name + '\n';
    for (const Record& r : records) {
        text += r.name;
        text += '\t';
        if (!r.selector.empty())
            text += '{' + r.selector + '=' + r.entry + "}\t";
        text += r.value;
        text += '\n';
    }
    return text;
}

std::vector<Record> ParseFile(const std::string& text, const std::string& source) {
    std::vector<Record> records;
    // Files written by some editors start with a UTF-8 byte order mark.
    std::size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int line_no = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (IsBlank(line) || line[line.find_first_not_of(" \t")] == '#')
            continue;
        if (line.find('\0') != std::string::npos)
            Garbled(source, line_no, "line holds a NUL byte");

        Record r;
        r.line = line_no;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            Garbled(source, line_no, "feature " + Quote(line) + " has no value (expected name, tab, value)");
        r.name = line.substr(0, tab);
        if (!IsName(r.name))
            Garbled(source, line_no, Quote(r.name) + " is not a feature name");
        std::string rest = line.substr(tab + 1);
        if (!rest.empty() && rest.front() == '{') {
            const std::size_t close = rest.find('}');
            if (close == std::string::npos)
                Garbled(source, line_no, "feature '" + r.name + "': selector " + Quote(rest) + " lacks its '}'");
            const std::string inside = rest.substr(1, close - 1);
            const std::size_t eq = inside.find('=');
            if (eq == std::string::npos)
                Garbled(source, line_no,
                        "feature '" + r.name + "': selector " + Quote(inside) + " is not of the form Selector=Entry");
            r.selector = inside.substr(0, eq);
            r.entry = inside.substr(eq + 1);
            if (!IsName(r.selector) || !IsName(r.entry))
                Garbled(source, line_no,
                        "feature '" + r.name + "': selector " + Quote(inside) + " is not of the form Selector=Entry");
            if (close + 1 >= rest.size() || rest[close + 1] != '\t')
                Garbled(source, line_no, "feature '" + r.name + "': no value after the selector");
            rest = rest.substr(close + 2);
        }
        r.value = std::move(rest);
        records.push_back(std::move(r));
    }
    return records;
}

} // namespace Pylon::persistence
