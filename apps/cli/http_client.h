// A small blocking HTTP/1.1 client over Boost.Beast: one connection per request, a deadline
// for connecting and one for each read or write. Used by mirva-cam and by the tests.
//
// Threads: one client belongs to one thread at a time.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace mirva::cli {

struct HttpReply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
    // "" when absent; name in any case.
    std::string get_header_value(const std::string& name) const;
};

// Why a request got no answer.
class HttpError : public std::runtime_error {
public:
    enum class Kind { bad_url, connection, timeout, write, read };
    HttpError(Kind kind, const std::string& what) : std::runtime_error(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class HttpClient {
public:
    // url: http://HOST:PORT (HttpError bad_url otherwise).
    explicit HttpClient(const std::string& url);
    HttpClient(std::string host, int port) : host_(std::move(host)), port_(port) {}

    void set_bearer_token(std::string token) { token_ = std::move(token); }
    void set_timeouts(std::chrono::milliseconds connect, std::chrono::milliseconds io) {
        connect_timeout_ = connect;
        io_timeout_ = io;
    }

    // The answer (any status); HttpError when there is none.
    HttpReply request(const std::string& method, const std::string& target, const std::string& body = "",
                      const std::string& content_type = "", const std::map<std::string, std::string>& headers = {});

    // A GET whose body comes in pieces: on_head gets the status and headers (false: stop),
    // on_data each piece (false: stop). Ends at the end of the body, when a callback stops,
    // or with HttpError.
    void get_streamed(const std::string& target, const std::function<bool(const HttpReply&)>& on_head,
                      const std::function<bool(const char*, size_t)>& on_data);

    const std::string& host() const { return host_; }
    int port() const { return port_; }

private:
    std::string host_;
    int port_ = 80;
    std::string token_;
    std::chrono::milliseconds connect_timeout_{3000};
    std::chrono::milliseconds io_timeout_{10000};
};

} // namespace mirva::cli
