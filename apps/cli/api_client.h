// The HTTP calls of mirva-cam, each returning the parsed answer or throwing CliError with
// the one line to print (unreachable server naming the URL, the server's own message).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "http_client.h"

namespace mirva::cli {

class CliError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ApiClient {
public:
    explicit ApiClient(std::string server_url);
    ~ApiClient();

    nlohmann::json get_json(const std::string& path);
    nlohmann::json put_json(const std::string& path, const nlohmann::json& body);
    // The body of a GET (binary); *content_type gets the answer's type.
    std::string get_bytes(const std::string& path, std::string* content_type);

    const std::string& url() const { return url_; }

private:
    std::string url_;
    std::unique_ptr<HttpClient> client_;
};

// Path segment with reserved characters percent-encoded.
std::string path_segment(const std::string& text);

} // namespace mirva::cli
