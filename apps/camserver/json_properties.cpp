#include "json_properties.h"

#include "address_notation.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace mirva::camserver {

namespace {

using nlohmann::json;

constexpr const char* sub_suffixes[] = {".TYPE", ".ACCESS", ".EGU", ".INC", ".NUM", ".SL", ".DESC", ".CATEG"};
// A feature whose name collides with a location property is published as NAME.PYLON;
// its sub-properties keep the plain NAME.
constexpr std::string_view collision_suffix = ".PYLON";

json number_json(double x) {
    if (!std::isfinite(x))
        return nullptr;  // JSON has no NaN or infinity
    return x;
}

struct Entry {
    PropertySnapshot snapshot;
};

std::vector<PropertySnapshot> snapshots(const EqFct& location) {
    std::vector<PropertySnapshot> out;
    location.for_each_property([&](D_fct& p) {
        out.push_back(p.snapshot());
        out.back().group = location.property_group(&p);
    });
    return out;
}

bool ends_with(const std::string& s, std::string_view suffix) {
    return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The fold of the feature properties: main name -> base name, and base name + suffix -> sub snapshot.
struct Fold {
    std::vector<const PropertySnapshot*> mains;
    std::map<std::string, std::string> base_of;              // main name -> base name
    std::map<std::string, const PropertySnapshot*> subs;     // full sub name -> snapshot
};

Fold fold(const std::vector<PropertySnapshot>& all) {
    std::set<std::string> names;
    for (const auto& s : all)
        if (s.group == feature_group)
            names.insert(s.name);
    auto is_main_name = [&](const std::string& base) {
        return names.count(base) || names.count(base + std::string(collision_suffix));
    };
    Fold f;
    for (const auto& s : all) {
        if (s.group != feature_group)
            continue;
        bool is_sub = false;
        for (const char* suffix : sub_suffixes) {
            if (ends_with(s.name, suffix) && is_main_name(s.name.substr(0, s.name.size() - std::strlen(suffix)))) {
                is_sub = true;
                break;
            }
        }
        if (is_sub) {
            f.subs[s.name] = &s;
            continue;
        }
        std::string base = s.name;
        if (ends_with(base, collision_suffix)) {
            std::string plain = base.substr(0, base.size() - collision_suffix.size());
            if (names.count(plain + ".TYPE") && !names.count(plain))
                base = plain;
        }
        f.mains.push_back(&s);
        f.base_of[s.name] = base;
    }
    return f;
}

std::optional<double> as_number(const ClientValue& v) {
    if (auto* i = std::get_if<int64_t>(&v)) return static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
    return std::nullopt;
}

// Adds the folded fields of the feature whose main property is main to object o.
void add_feature_fields(json& o, const PropertySnapshot& main, const Fold& f) {
    const std::string& base = f.base_of.at(main.name);
    auto sub = [&](const char* suffix) -> const PropertySnapshot* {
        auto it = f.subs.find(base + suffix);
        return it == f.subs.end() ? nullptr : it->second;
    };
    auto put_int = [&](const char* key, const PropertySnapshot* s) {
        if (!s) return;
        if (auto x = as_number(s->value)) o[key] = static_cast<int64_t>(*x);
    };
    auto put_number = [&](const char* key, const PropertySnapshot* s) {
        if (!s) return;
        if (auto x = as_number(s->value)) o[key] = number_json(*x);
    };
    auto put_text = [&](const char* key, const PropertySnapshot* s) {
        if (!s) return;
        if (auto* t = std::get_if<std::string>(&s->value)) o[key] = *t;
    };
    put_int("type", sub(".TYPE"));
    put_int("access", sub(".ACCESS"));
    if (const auto* egu = sub(".EGU")) {
        if (auto* t = std::get_if<std::string>(&egu->value)) o["unit"] = *t;
        if (egu->min) o["egu_min"] = number_json(*egu->min);
        if (egu->max) o["egu_max"] = number_json(*egu->max);
    }
    put_number("inc", sub(".INC"));
    put_int("num", sub(".NUM"));
    put_text("sl", sub(".SL"));
    put_text("desc", sub(".DESC"));
    put_text("categ", sub(".CATEG"));
}

} // namespace

json value_json(const ClientValue& value) {
    return std::visit([](const auto& v) -> json {
        using V = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<V, std::monostate>) return nullptr;
        else if constexpr (std::is_same_v<V, double>) return number_json(v);
        else if constexpr (std::is_same_v<V, std::vector<double>>) {
            json a = json::array();
            for (double x : v) a.push_back(number_json(x));
            return a;
        } else return v;
    }, value);
}

json snapshot_json(const PropertySnapshot& s) {
    json o = json::object();
    o["name"] = s.name;
    o["description"] = s.description;
    o["class"] = s.class_name;
    o["value"] = value_json(s.value);
    if (s.pending) o["pending"] = value_json(*s.pending);
    if (s.changed) o["changed"] = *s.changed;
    if (s.min) o["min"] = number_json(*s.min);
    if (s.max) o["max"] = number_json(*s.max);
    o["writable"] = s.writable;
    o["valid"] = s.valid;
    o["timestamp"] = number_json(s.timestamp);
    o["group"] = s.group;
    // The whole value of a feature wider than the property's 32 bits, exact as a JSON integer.
    if (s.whole_value) o["value64"] = *s.whole_value;
    if (s.whole_pending) o["pending64"] = *s.whole_pending;
    if (const auto& p = s.presentation) {
        o["display_name"] = p->display_name;
        o["visibility"] = p->visibility;
        if (!p->representation.empty())
            o["representation"] = p->representation;
        o["category_path"] = p->category_path;
        // Addresses also in their usual notation, of the whole value where there is one.
        std::optional<int64_t> number = s.whole_value;
        if (!number)
            if (auto* i = std::get_if<int64_t>(&s.value)) number = *i;
        if (number)
            if (auto text = address_text(p->representation, *number)) o["value_text"] = *text;
    }
    return o;
}

json location_properties_json(const EqFct& location, const std::set<std::string>* names, bool with_spectra) {
    const auto all = snapshots(location);
    const Fold f = fold(all);
    auto wanted = [&](const std::string& n) { return !names || names->count(n); };
    json props = json::array();
    for (const auto& s : all)
        if (s.group != feature_group && wanted(s.name)) {
            json o = snapshot_json(s);
            if (auto* points = std::get_if<std::vector<double>>(&s.value)) {
                o["points"] = points->size();
                if (!with_spectra)
                    o["value"] = nullptr;
            }
            props.push_back(std::move(o));
        }
    json features = json::array();
    for (const auto* m : f.mains) {
        if (!wanted(m->name))
            continue;
        json o = snapshot_json(*m);
        add_feature_fields(o, *m, f);
        features.push_back(std::move(o));
    }
    return json{{"location", location.name()}, {"properties", std::move(props)}, {"features", std::move(features)}};
}

std::optional<json> property_json(const EqFct& location, const std::string& name) {
    std::optional<PropertySnapshot> one;
    location.with_property(name, [&](D_fct& p) {
        one = p.snapshot();
        one->group = location.property_group(&p);
    });
    if (!one)
        return std::nullopt;
    json o = snapshot_json(*one);
    if (auto* points = std::get_if<std::vector<double>>(&one->value))
        o["points"] = points->size();
    if (one->group == feature_group) {
        const auto all = snapshots(location);
        const Fold f = fold(all);
        if (f.base_of.count(name))
            add_feature_fields(o, *one, f);
    }
    return o;
}

std::optional<ClientValue> client_value_from_body(const std::string& body, std::string* error) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
        *error = "the request body is empty: a JSON object {\"value\": ...} is needed";
        return std::nullopt;
    }
    json doc;
    try {
        doc = json::parse(body);
    } catch (const json::exception& e) {
        // The parser's words name the place and the trouble ("number overflow parsing '1e400'"),
        // without the library's "[json.exception...]" tag.
        std::string why = e.what();
        if (const size_t tag_end = why.find("] "); why.starts_with("[json.exception") && tag_end != std::string::npos)
            why.erase(0, tag_end + 2);
        if (why.size() > 200)  // "last read" may quote a whole long text
            why = why.substr(0, 197) + "...";
        *error = "the request body is not valid JSON (" + why + ")";
        return std::nullopt;
    }
    if (!doc.is_object() || !doc.contains("value")) {
        *error = "the request body must be a JSON object {\"value\": ...}";
        return std::nullopt;
    }
    const json& v = doc["value"];
    switch (v.type()) {
    case json::value_t::boolean: return ClientValue{v.get<bool>()};
    case json::value_t::number_integer: return ClientValue{v.get<int64_t>()};
    case json::value_t::number_unsigned: {
        auto u = v.get<uint64_t>();
        if (u <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return ClientValue{static_cast<int64_t>(u)};
        return ClientValue{static_cast<double>(u)};
    }
    case json::value_t::number_float: return ClientValue{v.get<double>()};
    case json::value_t::string: return ClientValue{v.get<std::string>()};
    default:
        *error = "value " + v.dump().substr(0, 80) + " refused: a number, a text or a boolean is needed";
        return std::nullopt;
    }
}

} // namespace mirva::camserver
