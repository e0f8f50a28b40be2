// A WebSocket client for the tests of the live view: connect, read one message at a time,
// each step bounded by a deadline.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <optional>
#include <string>

namespace mirva::test {

class LiveClient {
public:
    struct Message {
        bool binary = false;
        std::string data;
    };

    // Connects to ws://127.0.0.1:port/target; false when the handshake fails (e.g. 400).
    bool connect(int port, const std::string& target) {
        namespace beast = boost::beast;
        beast::error_code ec;
        auto& tcp = beast::get_lowest_layer(ws_);
        tcp.expires_after(std::chrono::seconds(5));
        tcp.async_connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                         static_cast<unsigned short>(port)),
                          [&](beast::error_code e) { ec = e; });
        run();
        if (ec)
            return false;
        ws_.async_handshake(response_, "127.0.0.1:" + std::to_string(port), target, [&](beast::error_code e) { ec = e; });
        run();
        if (ec)
            return false;
        tcp.expires_never();
        return true;
    }

    // The next message; nothing when the socket closes or stays silent too long.
    std::optional<Message> read() {
        namespace beast = boost::beast;
        beast::flat_buffer buffer;
        beast::error_code ec;
        beast::get_lowest_layer(ws_).expires_after(std::chrono::seconds(10));  // no message for this long: the read fails
        ws_.async_read(buffer, [&](beast::error_code e, size_t) { ec = e; });
        run();
        if (ec)
            return std::nullopt;
        return Message{ws_.got_binary(), beast::buffers_to_string(buffer.data())};
    }

    void close() {
        boost::beast::error_code ec;
        ws_.async_close(boost::beast::websocket::close_code::normal, [&](boost::beast::error_code e) { ec = e; });
        run();
    }

    int handshake_status() const { return static_cast<int>(response_.result_int()); }

private:
    void run() {
        io_.restart();
        io_.run();
    }

    boost::asio::io_context io_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_{io_};
    boost::beast::websocket::response_type response_;
};

} // namespace mirva::test
