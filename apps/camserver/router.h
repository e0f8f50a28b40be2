// The table of routes: method + path pattern -> handler. Finds the handler of a request,
// or says why there is none (404 no such path, 405 the path takes other methods).
//
// Threads: routes are added before the server starts; dispatch() runs on the handler
// workers, many at a time, and only reads the table.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "http_message.h"

namespace mirva::camserver {

class Router {
public:
    // pattern: an ECMAScript regex matched against the whole path (still percent-encoded);
    // its groups come to the handler decoded in Request::matches.
    void Get(const std::string& pattern, Handler handler) { add("GET", pattern, std::move(handler)); }
    void Put(const std::string& pattern, Handler handler) { add("PUT", pattern, std::move(handler)); }
    void Post(const std::string& pattern, Handler handler) { add("POST", pattern, std::move(handler)); }
    void add(std::string method, const std::string& pattern, Handler handler);

    enum class Found { handler, no_path, no_method };
    struct Match {
        Found found = Found::no_path;
        const Handler* handler = nullptr;
        std::string allow;  // for no_method: the methods the path takes ("GET, HEAD")
    };
    // Fills request.matches on success. HEAD is served by a GET route.
    Match find(Request& request) const;

    // The path patterns and their methods, for the API description.
    std::vector<std::pair<std::string, std::string>> routes() const;

private:
    struct Route {
        std::string method;
        std::string pattern;
        std::regex regex;
        Handler handler;
    };
    std::vector<Route> routes_;
};

// %XX decoded ('+' stays itself unless plus_is_space).
std::string percent_decode(const std::string& text, bool plus_is_space = false);
// a=1&b=x%20y -> {a: 1, b: "x y"}; the first of repeated names wins.
std::map<std::string, std::string> parse_query(const std::string& query);

} // namespace mirva::camserver
