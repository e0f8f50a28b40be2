// One HTTP connection: reads requests with a deadline for the head and one for the body,
// bounded header and body sizes, hands each request to a handler worker and writes the
// reply, keeps the connection alive between requests, or hands it over to a stream or a
// live socket.
//
// Threads: every member function but the constructor and stop() runs on the connection's
// strand (the executor of its socket); the handler runs on a handler worker and posts its
// reply back to the strand.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <memory>
#include <optional>

#include "connection_registry.h"
#include "http_message.h"

namespace mirva::camserver {

class HttpApi;

class HttpSession : public Connection, public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(boost::asio::ip::tcp::socket&& socket, HttpApi& api);
    ~HttpSession() override;

    void start();           // any thread
    void stop() override;   // any thread

private:
    void read_head();                                            // strand
    void on_head(boost::beast::error_code ec);                   // strand
    void read_body();                                            // strand
    void on_body(boost::beast::error_code ec);                   // strand
    void run_handler();                                          // strand
    void on_handled(std::shared_ptr<Response> response);         // strand
    void reply_error(int status, const std::string& message);    // strand: then closes
    void write(std::shared_ptr<Response> response, bool keep_alive);  // strand
    void linger();                                               // strand: closes after the client does
    void drain();                                                // strand
    void close();                                                // strand

    HttpApi& api_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    bool busy_ = false;      // a request is with its handler or its reply is being written
    bool stopping_ = false;  // stop() asked: close once idle
    bool registered_ = false;
};

} // namespace mirva::camserver
