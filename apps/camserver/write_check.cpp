#include "write_check.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace mirva::camserver {

namespace {

// Registration group of camera features (EqFct::add_property).
constexpr int features = 2;
// Feature kinds as the ".TYPE" sub-property gives them.
enum Kind { kind_int = 1, kind_float = 2, kind_enum = 3, kind_bool = 4, kind_string = 5, kind_command = 6 };

WriteVerdict refuse(int status, std::string message) { return {status, std::move(message)}; }

std::string format_number(double x) {
    std::ostringstream o;
    o.precision(9);
    o << x;
    return o.str();
}

// The number a client sent (number, boolean or numeric text, as the properties take it).
std::optional<double> number_of(const ClientValue& v) {
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
    if (auto* t = std::get_if<std::string>(&v)) {
        const char* begin = t->c_str();
        char* end = nullptr;
        double x = std::strtod(begin, &end);
        if (end == begin) return std::nullopt;
        while (*end == ' ' || *end == '\t') ++end;
        if (*end != '\0') return std::nullopt;
        return x;
    }
    return std::nullopt;
}

std::optional<PropertySnapshot> snapshot_of(const EqFct& location, const std::string& name) {
    std::optional<PropertySnapshot> s;
    location.with_property(name, [&](D_fct& p) {
        s = p.snapshot();
        s->group = location.property_group(&p);
    });
    return s;
}

// The location's own properties whose values have fixed limits.
struct OwnLimit {
    const char* name;
    double min, max;
    const char* meaning;
};
constexpr OwnLimit own_limits[] = {
    {"FORMAT.OUT", 0, 2, "0 Mono8, 1 Mono16, 2 RGB"},
    {"START", 0, 1, "0 stop, 1 acquire"},
    {"TCP.PORT", 0, 65535, "0 off, else a TCP port"},
    {"SERIAL", 0, 2147483647.0, "0 for any camera, else its serial number"},
};

// The location's parameters whose limits it sets from what the camera offers (the trigger
// sources) or that have fixed ones: a value outside them would stop acquisition or be put
// back without a word, so it is refused while the limits form a range.
constexpr const char* own_ranged[] = {"ACQ.TRIGGER.MODE", "ACQ.TRIGGER.SEL", "FRAME.TRIGGER.MODE",
                                      "FRAME.TRIGGER.SEL", "FORMAT.OUT.TRUNCATE", "BINNING.X", "BINNING.Y",
                                      "TRIGGER.GATE"};

// A whole number a 32-bit property takes; anything else the property refuses with its own reason.
std::optional<double> integer_of(const ClientValue& value) {
    auto x = number_of(value);
    if (x && std::isfinite(*x) && *x == std::floor(*x) && std::fabs(*x) <= 2147483648.0)
        return x;
    return std::nullopt;
}

// Longest file name the file system takes (NAME_MAX).
constexpr size_t max_file_name = 255;

std::optional<WriteVerdict> check_conf_file(const std::string& name, const std::string& text,
                                            const std::string& location) {
    auto bad = [&](const std::string& reason) {
        return refuse(400, name + ": file name \"" + text + "\" refused: " + reason +
                               "; the feature file lies in the working directory");
    };
    if (text.find('/') != std::string::npos) return bad("it contains \"/\"");
    if (text.find("..") != std::string::npos) return bad("it contains \"..\"");
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return refuse(400, name + ": file name refused: it contains the control character " +
                                   std::to_string(static_cast<int>(c)));
    // The feature file is "<location>_<text>": a save under a name the file system refuses
    // fails with the camera's node map in hand and takes the location off line.
    const size_t file = location.size() + 1 + text.size();
    if (file > max_file_name)
        return refuse(400, name + ": file name of " + std::to_string(text.size()) + " bytes refused: the feature file " +
                               location + "_... would have " + std::to_string(file) + " bytes, more than the " +
                               std::to_string(max_file_name) + " a file name may have");
    return std::nullopt;
}

std::optional<WriteVerdict> check_own(const PropertySnapshot& p, const D_fct& property, const ClientValue& value) {
    if (property.flags() & not_persisted)
        return refuse(403, p.name + ": the property is a status of the location and is read-only");
    if (p.name == "CONF.FILE")
        if (auto* t = std::get_if<std::string>(&value))
            return check_conf_file(p.name, *t, property.owner() ? property.owner()->name() : "");
    for (const auto& l : own_limits) {
        if (p.name != l.name)
            continue;
        auto x = integer_of(value);
        if (x && (*x < l.min || *x > l.max))
            return refuse(400, p.name + ": value " + format_number(*x) + " refused: outside " +
                                   format_number(l.min) + ".." + format_number(l.max) + " (" + l.meaning + ")");
    }
    for (const char* ranged : own_ranged) {
        if (p.name != ranged || !p.min || !p.max || !(*p.min < *p.max))
            continue;
        auto x = integer_of(value);
        if (x && (*x < *p.min || *x > *p.max))
            return refuse(400, p.name + ": value " + format_number(*x) + " refused: outside " +
                                   format_number(*p.min) + ".." + format_number(*p.max) +
                                   " (the limits the location shows)");
    }
    return std::nullopt;
}

// The entries of a selection list "Off|0;Continuous|1".
std::vector<std::string> entries_of(const std::string& sl) {
    std::vector<std::string> out;
    std::stringstream in(sl);
    std::string item;
    while (std::getline(in, item, ';'))
        if (!item.empty())
            out.push_back(item.substr(0, item.rfind('|')));
    return out;
}

std::optional<double> sub_number(const std::optional<PropertySnapshot>& s) {
    return s ? number_of(s->value) : std::nullopt;
}

WriteVerdict check_feature(const EqFct& location, const PropertySnapshot& main, const ClientValue& value) {
    // A feature whose name collides with a location property is published as NAME.PYLON;
    // its sub-properties keep the plain NAME.
    std::string base = main.name;
    auto type = snapshot_of(location, base + ".TYPE");
    constexpr std::string_view collision = ".PYLON";
    if (!type && base.size() > collision.size() && base.ends_with(collision)) {
        base.resize(base.size() - collision.size());
        type = snapshot_of(location, base + ".TYPE");
    }
    auto kind = sub_number(type);
    if (!kind)  // a sub-property, or a feature in the middle of its creation
        return {};
    if (auto access = sub_number(snapshot_of(location, base + ".ACCESS")); access && *access == 0)
        return refuse(403, main.name + ": the camera feature is read-only (" + base + ".ACCESS 0)");

    const int k = static_cast<int>(*kind);
    if (k == kind_string) {
        auto* t = std::get_if<std::string>(&value);
        auto egu = snapshot_of(location, base + ".EGU");
        if (t && egu && egu->max && *egu->max >= 0 && t->size() > *egu->max)
            return refuse(400, main.name + ": text of " + std::to_string(t->size()) +
                                   " characters refused: longer than the maximum length " + format_number(*egu->max));
        return {};
    }
    if (k == kind_enum) {
        auto* t = std::get_if<std::string>(&value);
        auto sl = snapshot_of(location, base + ".SL");
        auto* list = sl ? std::get_if<std::string>(&sl->value) : nullptr;
        if (!t || !list)
            return {};
        const auto entries = entries_of(*list);
        for (const auto& e : entries)
            if (e == *t)
                return {};
        std::string names;
        for (const auto& e : entries)
            names += (names.empty() ? "" : ", ") + e;
        return refuse(400, main.name + ": \"" + *t + "\" refused: it is none of the entries " + names);
    }
    if (k != kind_int && k != kind_float && k != kind_bool && k != kind_command)
        return {};
    auto x = number_of(value);
    if (!x || !std::isfinite(*x) || !main.min || !main.max)
        return {};  // the property itself refuses what is not a number
    const double lo = *main.min, hi = *main.max;
    // Out of limits: the camera's write pass clamps.
    if (*x < lo)
        return {200, main.name + ": value " + format_number(*x) + " is below the minimum " + format_number(lo) +
                         ": clamped to " + format_number(lo)};
    if (*x > hi)
        return {200, main.name + ": value " + format_number(*x) + " is above the maximum " + format_number(hi) +
                         ": clamped to " + format_number(hi)};
    if (k != kind_int && k != kind_float)
        return {};
    auto inc = sub_number(snapshot_of(location, base + ".INC"));
    if (!inc || !(*inc > 0))
        return {};
    // ".INC" holds 32 bits: a larger increment of a feature wider than that is not known here
    // (the camera refuses a value off it).
    if (main.whole_value && *inc >= 2147483647.0)
        return {};
    const double steps = (*x - lo) / *inc;
    const double below = std::floor(steps), above = std::ceil(steps);
    // Floats are held in single precision: a value within a small part of a step is on it.
    const double tolerance = k == kind_float ? 1e-3 : 0;
    if (steps - below <= tolerance || above - steps <= tolerance)
        return {};
    const double low_value = lo + below * *inc;
    double high_value = lo + above * *inc;
    std::string nearest = format_number(low_value) + " and " + format_number(high_value);
    if (high_value > hi)
        nearest = format_number(low_value) + " (the next step is above the maximum " + format_number(hi) + ")";
    return refuse(400, main.name + ": value " + format_number(*x) + " refused: not on the increment " +
                           format_number(*inc) + " from the minimum " + format_number(lo) +
                           "; the nearest valid values are " + nearest);
}

} // namespace

std::optional<WriteVerdict> check_property_name(const std::string& name) {
    if (name.find('\0') != std::string::npos)
        return refuse(400, "property name refused: it contains a NUL character");
    return std::nullopt;
}

WriteVerdict check_write(const EqFct& location, const std::string& name, const ClientValue& value) {
    if (auto bad = check_property_name(name))
        return *bad;
    if (auto* t = std::get_if<std::string>(&value); t && t->find('\0') != std::string::npos)
        return refuse(400, name + ": text refused: it contains a NUL character");

    std::optional<PropertySnapshot> main;
    std::optional<WriteVerdict> own;
    location.with_property(name, [&](D_fct& p) {
        main = p.snapshot();
        main->group = location.property_group(&p);
        if (main->group != features)
            own = check_own(*main, p, value);
    });
    if (!main)
        return {};
    if (main->group != features)
        return own ? *own : WriteVerdict{};
    return check_feature(location, *main, value);
}

std::optional<WriteVerdict> absent_feature(const EqFct& location, const std::string& name) {
    if (!location.was_feature(name))
        return std::nullopt;
    return refuse(503, "camera feature " + name + " of location " + location.name() +
                           " is not there: the location is off line, and its camera features return with the camera");
}

} // namespace mirva::camserver
