#include "listener.h"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include "http_api.h"
#include "http_session.h"

namespace mirva::camserver {

namespace net = boost::asio;
using tcp = net::ip::tcp;

Listener::Listener(net::io_context& io, HttpApi& api, const std::string& address, int port)
    : io_(io), api_(api), strand_(net::make_strand(io)), acceptor_(strand_) {
    const std::string where = address + (port ? ":" + std::to_string(port) : std::string());
    boost::system::error_code ec;
    tcp::endpoint endpoint;
    const auto ip = net::ip::make_address(address == "localhost" ? "127.0.0.1" : address, ec);
    if (ec)
        throw StartError("cannot listen for HTTP on " + where + " (not an IP address)");
    endpoint = tcp::endpoint(ip, static_cast<unsigned short>(port));
    acceptor_.open(endpoint.protocol(), ec);
    // SO_REUSEADDR only (no SO_REUSEPORT): a second server must not share a taken port.
    if (!ec)
        acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor_.bind(endpoint, ec);
    if (!ec)
        acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        if (port == 0)
            throw StartError("cannot listen for HTTP on " + address + " (no free port)");
        throw StartError("cannot listen for HTTP on " + where + " (port in use or address not available)");
    }
    port_ = acceptor_.local_endpoint().port();
}

void Listener::start() {
    net::dispatch(strand_, [self = shared_from_this()] { self->accept(); });
}

void Listener::stop() {
    net::post(strand_, [self = shared_from_this()] {
        boost::system::error_code ec;
        self->acceptor_.close(ec);
    });
}

void Listener::accept() {
    if (!acceptor_.is_open())
        return;
    // Each connection gets its own strand.
    acceptor_.async_accept(net::make_strand(io_), [self = shared_from_this()](boost::system::error_code ec, tcp::socket s) {
        self->on_accept(ec, std::move(s));
    });
}

void Listener::on_accept(boost::system::error_code ec, tcp::socket socket) {
    if (ec == net::error::operation_aborted || !acceptor_.is_open())
        return;
    if (!ec) {
        if (api_.connections().stopping() || api_.connections().size() >= api_.options().max_connections) {
            boost::system::error_code ignored;
            socket.close(ignored);  // over the bound: the client sees the connection closed
        } else {
            std::make_shared<HttpSession>(std::move(socket), api_)->start();
        }
    }
    accept();  // a failed accept (e.g. out of descriptors) does not end the listener
}

} // namespace mirva::camserver
