#include "router.h"

#include <algorithm>

namespace mirva::camserver {

std::string Request::get_header_value(const std::string& name) const {
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    auto it = headers.find(key);
    return it == headers.end() ? std::string() : it->second;
}

std::string percent_decode(const std::string& text, bool plus_is_space) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::map<std::string, std::string> parse_query(const std::string& query) {
    std::map<std::string, std::string> params;
    size_t at = 0;
    while (at <= query.size()) {
        size_t end = query.find('&', at);
        if (end == std::string::npos)
            end = query.size();
        const std::string item = query.substr(at, end - at);
        if (!item.empty()) {
            const size_t eq = item.find('=');
            const std::string name = percent_decode(item.substr(0, eq), true);
            const std::string value = eq == std::string::npos ? "" : percent_decode(item.substr(eq + 1), true);
            params.emplace(name, value);
        }
        at = end + 1;
    }
    return params;
}

void Router::add(std::string method, const std::string& pattern, Handler handler) {
    routes_.push_back(Route{std::move(method), pattern, std::regex(pattern, std::regex::ECMAScript | std::regex::optimize),
                            std::move(handler)});
}

Router::Match Router::find(Request& request) const {
    const std::string method = request.method == "HEAD" ? "GET" : request.method;
    Match m;
    std::vector<std::string> allowed;
    for (const Route& r : routes_) {
        std::smatch groups;
        if (!std::regex_match(request.path, groups, r.regex))
            continue;
        if (r.method == method) {
            request.matches.clear();
            for (size_t i = 0; i < groups.size(); ++i)
                request.matches.push_back(percent_decode(groups[i].str()));
            m.found = Found::handler;
            m.handler = &r.handler;
            return m;
        }
        if (std::find(allowed.begin(), allowed.end(), r.method) == allowed.end())
            allowed.push_back(r.method);
        if (r.method == "GET")
            allowed.push_back("HEAD");
    }
    if (allowed.empty())
        return m;
    m.found = Found::no_method;
    for (const auto& a : allowed)
        m.allow += (m.allow.empty() ? "" : ", ") + a;
    return m;
}

std::vector<std::pair<std::string, std::string>> Router::routes() const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const Route& r : routes_)
        out.emplace_back(r.method, r.pattern);
    return out;
}

} // namespace mirva::camserver
