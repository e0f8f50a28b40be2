// One request as a route handler sees it and the reply it fills in, independent of the
// connection that carries them (a handler is a plain function of these two).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mirva::camserver {

struct Request {
    std::string method;                         // "GET", "PUT", ...
    std::string path;                           // the target without its query, as sent
    std::vector<std::string> matches;           // [0] the path, [1..] the route's groups, percent-decoded
    std::map<std::string, std::string> params;  // query parameters, decoded
    std::map<std::string, std::string> headers; // header names in lower case
    std::string body;

    bool has_param(const std::string& name) const { return params.count(name) != 0; }
    std::string get_param_value(const std::string& name) const {
        auto it = params.find(name);
        return it == params.end() ? std::string() : it->second;
    }
    // "" when absent; name in any case.
    std::string get_header_value(const std::string& name) const;
};

struct ConnectionHandover;  // connection_handover.h

// A connection handed over by a route (a stream or a live socket): the function gets the
// connection's socket stream and the request and owns them from then on. Runs on the
// connection's strand.
using Takeover = std::function<void(ConnectionHandover& handover)>;

struct Response {
    int status = 200;
    std::string body;
    std::string content_type;
    std::vector<std::pair<std::string, std::string>> headers;
    Takeover takeover;  // set: the connection goes to it instead of a reply

    void set_content(std::string content, std::string type) {
        body = std::move(content);
        content_type = std::move(type);
    }
    void set_content(const char* data, size_t size, std::string type) { set_content(std::string(data, size), std::move(type)); }
    void set_header(std::string name, std::string value) { headers.emplace_back(std::move(name), std::move(value)); }
};

using Handler = std::function<void(const Request&, Response&)>;

} // namespace mirva::camserver
