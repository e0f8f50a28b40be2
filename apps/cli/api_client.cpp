#include "api_client.h"

#include <cstdio>
#include <cstdlib>

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
    try {
        client_ = std::make_unique<HttpClient>(url_);
    } catch (const HttpError& e) {
        throw CliError(e.what());
    }
    client_->set_timeouts(std::chrono::seconds(3), std::chrono::seconds(10));
    if (const char* token = std::getenv("MIRVA_HTTP_TOKEN"); token && *token)
        client_->set_bearer_token(token);
}

ApiClient::~ApiClient() = default;

namespace {

// The answer, or CliError with the one line to print.
HttpReply ask(HttpClient& client, const std::string& url, const std::string& method, const std::string& path,
              const std::string& body = "") {
    try {
        return client.request(method, path, body, body.empty() ? "" : "application/json");
    } catch (const HttpError& e) {
        throw CliError("cannot reach the camera server at " + url + ": " + e.what());
    }
}

[[noreturn]] void refused(const HttpReply& r, const std::string& what) {
    json body = json::parse(r.body, nullptr, false);
    if (!body.is_discarded() && body.is_object() && body.contains("error") && body["error"].is_string())
        throw CliError(body["error"].get<std::string>());
    throw CliError(what + ": HTTP status " + std::to_string(r.status));
}

json answer(const HttpReply& r, const std::string& what) {
    if (r.status >= 400)
        refused(r, what);
    json body = json::parse(r.body, nullptr, false);
    if (body.is_discarded())
        throw CliError(what + ": the server's answer is not JSON");
    return body;
}

} // namespace

json ApiClient::get_json(const std::string& path) { return answer(ask(*client_, url_, "GET", path), "GET " + path); }

json ApiClient::put_json(const std::string& path, const json& body) {
    return answer(ask(*client_, url_, "PUT", path, body.dump()), "PUT " + path);
}

std::string ApiClient::get_bytes(const std::string& path, std::string* content_type) {
    HttpReply r = ask(*client_, url_, "GET", path);
    if (r.status >= 400)
        refused(r, "GET " + path);
    *content_type = r.get_header_value("Content-Type");
    return std::move(r.body);
}

} // namespace mirva::cli
