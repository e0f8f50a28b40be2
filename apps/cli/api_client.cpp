#include "api_client.h"

#include <cstdio>
#include <cstdlib>

#include <httplib.h>

namespace mirva::cli {

using nlohmann::json;

std::string path_segment(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

ApiClient::ApiClient(std::string server_url) : url_(std::move(server_url)) {
    while (!url_.empty() && url_.back() == '/')
        url_.pop_back();
    client_ = std::make_unique<httplib::Client>(url_);
    if (!client_->is_valid())
        throw CliError("bad server URL " + url_ + " (expected http://HOST:PORT)");
    client_->set_connection_timeout(3, 0);
    client_->set_read_timeout(10, 0);
    if (const char* token = std::getenv("MIRVA_HTTP_TOKEN"); token && *token)
        client_->set_bearer_token_auth(token);
}

ApiClient::~ApiClient() = default;

namespace {

std::string reason(httplib::Error e) {
    switch (e) {
    case httplib::Error::Connection: return "no server answers there (connection failed)";
    case httplib::Error::ConnectionTimeout: return "the connection timed out";
    case httplib::Error::Read: return "the connection broke while reading the answer";
    case httplib::Error::Write: return "the connection broke while sending the request";
    default: return httplib::to_string(e);
    }
}

[[noreturn]] void unreachable(const std::string& url, httplib::Error e) {
    throw CliError("cannot reach the camera server at " + url + ": " + reason(e));
}

json answer(const httplib::Result& r, const std::string& url, const std::string& what) {
    if (!r)
        unreachable(url, r.error());
    json body = json::parse(r->body, nullptr, false);
    if (r->status >= 400) {
        if (!body.is_discarded() && body.is_object() && body.contains("error") && body["error"].is_string())
            throw CliError(body["error"].get<std::string>());
        throw CliError(what + ": HTTP status " + std::to_string(r->status));
    }
    if (body.is_discarded())
        throw CliError(what + ": the server's answer is not JSON");
    return body;
}

} // namespace

json ApiClient::get_json(const std::string& path) { return answer(client_->Get(path), url_, "GET " + path); }

json ApiClient::put_json(const std::string& path, const json& body) {
    return answer(client_->Put(path, body.dump(), "application/json"), url_, "PUT " + path);
}

std::string ApiClient::get_bytes(const std::string& path, std::string* content_type) {
    auto r = client_->Get(path);
    if (!r)
        unreachable(url_, r.error());
    if (r->status >= 400) {
        json body = json::parse(r->body, nullptr, false);
        if (!body.is_discarded() && body.is_object() && body.contains("error") && body["error"].is_string())
            throw CliError(body["error"].get<std::string>());
        throw CliError("GET " + path + ": HTTP status " + std::to_string(r->status));
    }
    *content_type = r->get_header_value("Content-Type");
    return std::move(r->body);
}

} // namespace mirva::cli
