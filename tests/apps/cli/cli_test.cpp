// mirva-cam against a camera server with two emulated cameras on loopback: output, exit
// codes and the one-line messages of failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "../camserver/test_server.h"
#include "cli.h"

namespace {

using mirva::test::eventually;
using mirva::test::TestServer;
using ::testing::HasSubstr;
using ::testing::Not;

struct Run {
    int code = -1;
    std::string out, err;
};

Run cli(std::vector<std::string> args) {
    args.insert(args.begin(), "mirva-cam");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    Run r;
    r.code = mirva::cli::run(static_cast<int>(argv.size()), argv.data(), out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

Run cli(const TestServer& s, std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", s.url()});
    return cli(std::move(args));
}

size_t lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

TEST(Cli, ReadsAndWritesProperties) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto r = cli(s, {"list"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("CAM1"));
    EXPECT_THAT(r.out, HasSubstr("CAM2"));
    EXPECT_THAT(r.out, HasSubstr("812"));
    EXPECT_THAT(r.out, HasSubstr(" FPS "));

    r = cli(s, {"props", "CAM1", "EXPOSURE*"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("EXPOSURETIMERAW = "));
    EXPECT_THAT(r.out, HasSubstr("[Acquisition Controls]"));
    EXPECT_THAT(r.out, Not(HasSubstr("ONLINE")));

    r = cli(s, {"get", "CAM1", "SERIAL"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "21000901\n");

    r = cli(s, {"set", "CAM1", "EXPOSURETIMERAW", "7000"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("CAM1 EXPOSURETIMERAW = "));
    EXPECT_TRUE(eventually([&] { return cli(s, {"get", "CAM1", "EXPOSURETIMERAW"}).out == "7000\n"; }));

    r = cli(s, {"set", "CAM1", "INTERFACE", "127.0.0.1"});  // a text stays a text
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("= 127.0.0.1"));
}

TEST(Cli, JsonAnywhereServerAnywhereTextsAndLimits) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    // --server and --json after the command.
    auto r = cli({"list", "--json", "--server", s.url()});
    ASSERT_EQ(r.code, 0) << r.err;
    auto doc = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << r.out;
    EXPECT_EQ(doc["locations"].size(), 2u);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"get", "CAM1", "SERIAL", "--json"}, {"props", "CAM1", "EXPOSURE*", "--json"},
          {"set", "CAM1", "EXPOSURETIMERAW", "7000", "--json"}, {"watch", "CAM1", "--count", "1", "--json"}}) {
        r = cli(s, args);
        EXPECT_EQ(r.code, 0) << args[0] << r.err;
        EXPECT_FALSE(nlohmann::json::parse(r.out, nullptr, false).is_discarded()) << args[0] << ": " << r.out;
    }
    EXPECT_EQ(nlohmann::json::parse(cli(s, {"get", "CAM1", "SERIAL", "--json"}).out)["value"], 21000901);

    // A text that looks like a number stays a text with --text.
    r = cli(s, {"set", "CAM1", "DEVICEUSERID", "12345", "--text"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("= 12345"));
    r = cli(s, {"set", "CAM1", "DEVICEUSERID", "12345"});  // without it, a number: refused by a text feature
    EXPECT_EQ(r.code, 1);

    // Limits, increment and unit beside the value; spectra as their point count.
    r = cli(s, {"props", "CAM1", "EXPOSURETIMERAW"});
    EXPECT_THAT(r.out, ::testing::ContainsRegex(R"re(EXPOSURETIMERAW = [0-9]+.*\([0-9]+\.\.[0-9]+, step [0-9]+\))re"));
    r = cli(s, {"props", "CAM1", "IMGRATE"});
    EXPECT_THAT(r.out, ::testing::ContainsRegex("IMGRATE = \\[spectrum\\]  \\([0-9]+ points\\)"));
    // Addresses whole and in their notation.
    r = cli(s, {"props", "CAM1", "GEVMACADDRESS"});
    EXPECT_THAT(r.out, ::testing::ContainsRegex("GEVMACADDRESS = 00:30:53(:[0-9A-F]{2}){3}  \\(read-only\\)"));
    r = cli(s, {"get", "CAM1", "GEVCURRENTIPADDRESS"});
    EXPECT_EQ(r.out, "127.0.0.91\n");
    // Numbers for people: no float noise in the list.
    r = cli(s, {"list"});
    EXPECT_THAT(r.out, Not(::testing::ContainsRegex("[0-9]\\.[0-9]{7,}")));
}

TEST(Cli, EveryFailureIsOneLineAndNonZero) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {Case{{"get", "CAM1", "NO.SUCH"}, "unknown property NO.SUCH"},
                          Case{{"get", "CAM9", "ONLINE"}, "unknown location CAM9"},
                          Case{{"set", "CAM1", "EXPOSURETIMERAW", "bright"}, "\"bright\" refused: a number is needed"},
                          Case{{"set", "CAM1", "START", "1.5"}, "integral"},
                          Case{{"set", "CAM1", "IMGRATE", "1"}, "read-only"},
                          Case{{"snap", "CAM1", "x.png"}, "no image yet"},
                          Case{{"props", "CAM1", "ZZZ*"}, "matches ZZZ*"}}) {
        auto r = cli(s, c.args);
        EXPECT_EQ(r.code, 1) << c.args[1];
        EXPECT_THAT(r.err, HasSubstr(c.message));
        EXPECT_EQ(lines(r.err), 1u) << r.err;
    }
    auto r = cli({"--server", "http://127.0.0.1:1", "list"});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err, HasSubstr("cannot reach the camera server at http://127.0.0.1:1"));
    EXPECT_EQ(lines(r.err), 1u);
    r = cli({"frobnicate"});
    EXPECT_NE(r.code, 0);
    // A count out of range names the range a person can read.
    r = cli({"--server", "http://127.0.0.1:1", "watch", "CAM1", "--count", "-1"});
    EXPECT_NE(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("0 to 2147483647"));
}

TEST(Cli, SnapWatchSaveAndLoad) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    ASSERT_EQ(cli(s, {"set", "CAM1", "START", "1"}).code, 0);
    ASSERT_TRUE(s.start_acquisition("CAM1"));
    const auto file = (s.dir() / "snap.png").string();
    auto snap = cli(s, {"snap", "CAM1", file});
    ASSERT_EQ(snap.code, 0) << snap.err;
    EXPECT_THAT(snap.out, HasSubstr("snap.png: "));
    std::ifstream f(file, std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");

    auto r = cli(s, {"watch", "CAM1", "--count", "3", "--interval", "20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\r'), 3);
    EXPECT_THAT(r.out, HasSubstr("frame counter"));

    r = cli(s, {"save", "CAM1", "--timeout", "20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("saved"));
    r = cli(s, {"load", "CAM1", "--timeout", "20"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("loaded"));

    // Off line the request waits for the camera: said at once, not after the timeout.
    ASSERT_EQ(s.client().Post("/api/emulator/cameras/21000901/unplug", "", "application/json")->status, 200);
    ASSERT_TRUE(eventually([&] { return !s.online("CAM1"); }));
    r = cli(s, {"save", "CAM1", "--timeout", "1"});
    EXPECT_EQ(r.code, 1);
    EXPECT_THAT(r.err, HasSubstr("CAM1 is off line: CONF.SAVE = 1 stays requested"));
    EXPECT_EQ(lines(r.err), 1u) << r.err;
}

// The installed programs themselves: exit status and message of the real executables.
Run run_program(const std::string& command) {
    Run r;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return r;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) r.err += buf;
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

// A server on 127.0.0.1 that answers one request with `reply` and closes.
class OneAnswerServer {
public:
    explicit OneAnswerServer(std::string reply) : reply_(std::move(reply)) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&at), size) != 0 || ::listen(fd_, 1) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &size) != 0)
            return;
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] {
            const int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            std::string request;
            char buffer[4096];
            // The head, then as many body bytes as it announces.
            for (ssize_t n; (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;) {
                request.append(buffer, static_cast<size_t>(n));
                const size_t head_end = request.find("\r\n\r\n");
                const size_t length_at = request.find("Content-Length: ");
                if (head_end != std::string::npos &&
                    (length_at == std::string::npos ||
                     request.size() >= head_end + 4 + std::stoul(request.substr(length_at + 16))))
                    break;
            }
            ::send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL);
            ::close(c);
        });
    }
    ~OneAnswerServer() {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    std::string reply_;
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A write the location keeps for a camera that went away (202) is said so, not shown as "= null".
TEST(Cli, AWriteKeptForTheCameraSaysSo) {
    const std::string body = R"({"name":"EXPOSURETIMERAW","note":"the camera went away; the value is written when it returns"})";
    OneAnswerServer server("HTTP/1.1 202 Accepted\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    const auto r = cli({"--server", server.url(), "set", "CAM1", "EXPOSURETIMERAW", "5000"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("CAM1 EXPOSURETIMERAW: 5000 kept until the camera returns"));
    EXPECT_THAT(r.out, HasSubstr("note: the camera went away"));
    EXPECT_THAT(r.out, Not(HasSubstr("null")));
}

// A listing from a server that leaves fields out shows them empty.
TEST(Cli, AListingWithoutSomeFieldsIsShown) {
    const std::string body = R"({"locations":[{"name":"CAM9"}]})";
    OneAnswerServer server("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    const auto r = cli({"--server", server.url(), "list"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("CAM9"));
}

TEST(CliProgram, UnreachableServerIsNamed) {
    auto r = run_program(std::string(MIRVA_CAM_EXE) + " --server http://127.0.0.1:1 get CAM1 ONLINE");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "mirva-cam: cannot reach the camera server at http://127.0.0.1:1: no server answers there (connection failed)\n");
}

TEST(ServerProgram, RefusesARemoteAddressWithoutToken) {
    auto r = run_program(std::string(MIRVA_CAMSERVER_EXE) + " " MIRVA_SOURCE_DIR "/tests/apps/camserver/two_cameras.toml --address 0.0.0.0 --port 0");
    EXPECT_NE(r.code, 0);
    EXPECT_THAT(r.err, HasSubstr("0.0.0.0 is not a loopback address"));
    EXPECT_EQ(lines(r.err), 1u) << r.err;
}

} // namespace
