// What an HTTP connection hands over to a stream or a live socket: its socket stream (with
// the strand it runs on) and the request that asked for the handover.
#pragma once

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

namespace mirva::camserver {

using BeastRequest = boost::beast::http::request<boost::beast::http::string_body>;

struct ConnectionHandover {
    boost::beast::tcp_stream stream;
    BeastRequest request;
};

} // namespace mirva::camserver
