// The HTTP layer itself, on a server without locations: slow senders, the bounds on
// connections, header and body sizes, 405 with Allow, HEAD and the API description.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "http_api.h"
#include "http_client.h"

namespace {

using mirva::camserver::HttpApi;
using mirva::camserver::HttpOptions;
using mirva::cli::HttpClient;
using mirva::cli::HttpReply;
using nlohmann::json;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

// A server without locations on an ephemeral loopback port.
class BareServer {
public:
    explicit BareServer(HttpOptions options = {}) : server_(config(), [](int) { return nullptr; }) {
        options.http.port = 0;
        api_ = std::make_unique<HttpApi>(server_, std::move(options));
        api_->start();
    }
    ~BareServer() { api_->stop(); }
    int port() const { return api_->port(); }
    HttpClient client(std::chrono::milliseconds io_timeout = 10s) const {
        HttpClient c("127.0.0.1", port());
        c.set_timeouts(1s, io_timeout);
        return c;
    }

private:
    static mirva::server::ServerConfig config() { return mirva::server::ServerConfig{}; }
    mirva::server::CameraServer server_;
    std::unique_ptr<HttpApi> api_;
};

// A plain TCP connection to the server, for clients that misbehave.
class RawConnection {
public:
    explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawConnection() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool connected() const { return connected_; }
    bool send_text(const std::string& text) { return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()); }
    // True when the server closed the connection within timeout (EOF or reset); what it sent is appended to *got.
    bool closed_by_server(std::chrono::milliseconds timeout, std::string* got = nullptr) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return true;
            if (got)
                got->append(buf, static_cast<size_t>(n));
        }
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(HttpLayer, SlowSendersNeitherBlockOtherRequestsNorStayForever) {
    HttpOptions options;
    options.head_timeout = 3s;
    BareServer s(options);
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 50; ++i) {
        slow.push_back(std::make_unique<RawConnection>(s.port()));
        ASSERT_TRUE(slow.back()->connected());
        ASSERT_TRUE(slow.back()->send_text("GET /api/locations HTTP/1.1\r\nHost: x\r\n"));
    }
    // One more header line every 2 s on every slow connection, while ordinary requests run.
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        while (!done) {
            for (int t = 0; t < 100 && !done; ++t)
                std::this_thread::sleep_for(20ms);  // the pace of a slow client, not a synchronisation
            for (auto& c : slow)
                c->send_text("X-Slow: 1\r\n");
        }
    });
    // Every ordinary request answers within 1 s (the client gives up after that).
    for (int i = 0; i < 20; ++i) {
        auto c = s.client(1s);
        HttpReply r;
        ASSERT_NO_THROW(r = c.request("GET", "/api/locations")) << "request " << i;
        EXPECT_EQ(r.status, 200);
        std::this_thread::sleep_for(100ms);  // spread the requests over the slow senders' lines
    }
    // The slow senders are cut off at their head's deadline, whatever they trickled.
    for (auto& c : slow)
        EXPECT_TRUE(c->closed_by_server(10s));
    done = true;
    trickle.join();
}

TEST(HttpLayer, ConnectionsBeyondTheBoundAreClosedAtOnce) {
    HttpOptions options;
    options.max_connections = 4;
    BareServer s(options);
    std::vector<std::unique_ptr<RawConnection>> idle;
    for (int i = 0; i < 4; ++i) {
        idle.push_back(std::make_unique<RawConnection>(s.port()));
        ASSERT_TRUE(idle.back()->connected());
    }
    // Each connection is counted once the server has taken it: a request on each proves it.
    for (auto& c : idle)
        ASSERT_TRUE(c->send_text("GET /api/locations HTTP/1.1\r\nHost: x\r\n\r\n"));
    RawConnection extra(s.port());
    std::string got;
    EXPECT_TRUE(extra.closed_by_server(5s, &got));
    EXPECT_TRUE(got.empty());
    idle.clear();
    EXPECT_TRUE([&] {  // the slots come free again
        for (int i = 0; i < 250; ++i) {
            try {
                if (s.client(1s).request("GET", "/api/locations").status == 200)
                    return true;
            } catch (const mirva::cli::HttpError&) {
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }());
}

TEST(HttpLayer, HeaderAndBodyLimitsMethodsAndHead) {
    BareServer s;
    auto c = s.client();
    // Header bytes over the bound: 431, named.
    auto r = c.request("GET", "/api/locations", "", "", {{"X-Big", std::string(10000, 'h')}});
    EXPECT_EQ(r.status, 431);
    EXPECT_THAT(r.body, HasSubstr("8192"));
    // Body over the bound: 413 whatever the content type; under it, no 413.
    const std::string big(70 * 1024, 'b');
    for (const char* type : {"application/json", "text/plain", "application/octet-stream", ""}) {
        r = c.request("PUT", "/api/locations/X/properties/START", big, type);
        EXPECT_EQ(r.status, 413) << type;
        EXPECT_THAT(r.body, HasSubstr("too large")) << type;
        r = c.request("PUT", "/api/locations/X/properties/START", std::string(1000, 'b'), type);
        EXPECT_EQ(r.status, 404) << type;  // reached the route: no such location
    }
    // A chunked body over the bound as well.
    RawConnection chunked(s.port());
    std::string request = "PUT /api/locations/X/properties/START HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i)
        request += "1000\r\n" + std::string(4096, 'c') + "\r\n";
    request += "0\r\n\r\n";
    chunked.send_text(request);
    std::string got;
    EXPECT_TRUE(chunked.closed_by_server(5s, &got));
    EXPECT_THAT(got, HasSubstr(" 413 "));

    // A method the path does not take: 405 with the methods it does.
    r = c.request("DELETE", "/api/locations");
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.get_header_value("Allow"), "GET, HEAD");
    EXPECT_THAT(r.body, HasSubstr("DELETE"));
    r = c.request("POST", "/api/locations/CAM1/properties/START", "{}", "application/json");
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.get_header_value("Allow"), "GET, HEAD, PUT");
    r = c.request("GET", "/api/emulator/cameras/1/plug");
    EXPECT_EQ(r.status, 405);
    EXPECT_EQ(r.get_header_value("Allow"), "POST");
    r = c.request("GET", "/api/no/such/thing");
    EXPECT_EQ(r.status, 404);

    // HEAD: the headers of the GET, no body.
    r = c.request("HEAD", "/api/locations");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.body.empty());
    EXPECT_EQ(r.get_header_value("Content-Type"), "application/json");

    // A keep-alive connection serves request after request.
    RawConnection keep(s.port());
    keep.send_text("GET /api/locations HTTP/1.1\r\nHost: x\r\n\r\nGET /api/openapi.json HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    got.clear();
    EXPECT_TRUE(keep.closed_by_server(5s, &got));
    EXPECT_THAT(got, HasSubstr("\"locations\""));
    EXPECT_THAT(got, HasSubstr("\"openapi\""));
}

TEST(HttpLayer, OpenApiDescribesTheRoutes) {
    BareServer s;
    auto r = s.client().request("GET", "/api/openapi.json");
    ASSERT_EQ(r.status, 200);
    json doc = json::parse(r.body, nullptr, false);
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["openapi"].get<std::string>().substr(0, 2), "3.");
    for (const char* path : {"/api/locations", "/api/locations/{loc}/properties", "/api/locations/{loc}/properties/{name}",
                             "/api/locations/{loc}/image", "/api/locations/{loc}/stream", "/api/locations/{loc}/live",
                             "/api/emulator/cameras", "/api/emulator/cameras/{serial}/plug"})
        EXPECT_TRUE(doc["paths"].contains(path)) << path;
    EXPECT_TRUE(doc["paths"]["/api/locations/{loc}/properties/{name}"].contains("put"));
}

TEST(HttpLayer, StopEndsIdleAndSlowConnections) {
    auto s = std::make_unique<BareServer>();
    RawConnection idle(s->port()), slow(s->port());
    ASSERT_TRUE(slow.send_text("GET /api/loc"));
    ASSERT_EQ(s->client().request("GET", "/api/locations").status, 200);
    const auto before = std::chrono::steady_clock::now();
    s.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);  // the stop grace, not the head deadline
    EXPECT_TRUE(idle.closed_by_server(1s));
    EXPECT_TRUE(slow.closed_by_server(1s));
}

} // namespace
