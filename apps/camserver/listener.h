// The listening socket: accepts connections and gives each one its session, refusing
// connections beyond the server's bound.
//
// Threads: the constructor binds on the owner's thread; everything after start() runs on
// the listener's strand.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>

#include <memory>
#include <string>

namespace mirva::camserver {

class HttpApi;

class Listener : public std::enable_shared_from_this<Listener> {
public:
    // Binds address:port (port 0: any free one); StartError when that fails.
    Listener(boost::asio::io_context& io, HttpApi& api, const std::string& address, int port);

    int port() const { return port_; }
    void start();  // any thread
    void stop();   // any thread: closes the listening socket on the strand

private:
    void accept();  // strand
    void on_accept(boost::system::error_code ec, boost::asio::ip::tcp::socket socket);  // strand

    boost::asio::io_context& io_;
    HttpApi& api_;
    boost::asio::strand<boost::asio::io_context::executor_type> strand_;
    boost::asio::ip::tcp::acceptor acceptor_;  // strand
    int port_ = 0;
};

} // namespace mirva::camserver
