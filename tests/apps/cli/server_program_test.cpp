// The mirva-camserver executable as ./run demo starts it: the viewer line once it listens,
// a clean exit on SIGINT, and one clear message when the port is taken.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "http_client.h"

extern char** environ;

namespace {

using ::testing::HasSubstr;

// A copy of the test configuration whose state file and images go to a temporary directory.
class TempConfig {
public:
    TempConfig() {
        char dir_template[] = "/tmp/mirva_server_program_XXXXXX";
        if (!mkdtemp(dir_template)) throw std::runtime_error("mkdtemp failed");
        dir_ = dir_template;
        std::ifstream in(MIRVA_SOURCE_DIR "/tests/apps/camserver/two_cameras.toml");
        std::stringstream text;
        text << in.rdbuf();
        std::string toml = text.str();
        toml.replace(toml.find("[server]\n"), 9,
                     "[server]\nstate_file = \"" + (dir_ / "state").string() + "\"\nimage_directory = \"" + dir_.string() + "\"\n");
        std::ofstream(path()) << toml;
    }
    ~TempConfig() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string path() const { return (dir_ / "config.toml").string(); }

private:
    std::filesystem::path dir_;
};

// A child process with its stdout (and stderr) in a pipe.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(fd_);
    }
    // Reads output until a line matches re or the timeout passes; the whole output so far.
    bool read_until(const std::regex& re, std::chrono::milliseconds timeout, std::smatch* m) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (std::regex_search(output_, *m, re)) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) return std::regex_search(output_, *m, re);
            output_.append(buf, static_cast<size_t>(n));
        }
    }
    // Exit code after the process ends (-1 on timeout or a signal).
    int wait_exit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= deadline) return -1;
            char buf[4096];
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {  // keep draining the pipe so the child never blocks on it
                const ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0) output_.append(buf, static_cast<size_t>(n));
            }
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid() const { return pid_; }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    bool exited_ = false;
    std::string output_;
};

TEST(ServerProgram, PrintsTheViewerUrlServesAndStopsOnSigint) {
    TempConfig cfg;
    Child server({MIRVA_CAMSERVER_EXE, cfg.path(), "--port", "0"});
    ASSERT_GT(server.pid(), 0);
    std::smatch m;
    ASSERT_TRUE(server.read_until(std::regex(R"(viewer: http://127\.0\.0\.1:([0-9]+)/\n)"), std::chrono::seconds(30), &m))
        << server.output();
    const int port = std::stoi(m[1]);
    mirva::cli::HttpClient c("127.0.0.1", port);
    auto r = c.request("GET", "/api/locations");
    EXPECT_EQ(r.status, 200);
    EXPECT_THAT(r.body, HasSubstr("\"CAM2\""));
    kill(server.pid(), SIGINT);
    EXPECT_EQ(server.wait_exit(std::chrono::seconds(30)), 0) << server.output();
    EXPECT_THAT(server.output(), HasSubstr("all locations shut down"));
}

TEST(ServerProgram, TakenPortIsOneClearMessage) {
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(sock, 1), 0);
    socklen_t len = sizeof a;
    getsockname(sock, reinterpret_cast<sockaddr*>(&a), &len);
    const std::string port = std::to_string(ntohs(a.sin_port));

    TempConfig cfg;
    Child server({MIRVA_CAMSERVER_EXE, cfg.path(), "--port", port});
    EXPECT_EQ(server.wait_exit(std::chrono::seconds(30)), 1);
    EXPECT_EQ(server.output(), "mirva-camserver: cannot listen for HTTP on 127.0.0.1:" + port +
                                   " (port in use or address not available)\n");
    close(sock);
}

} // namespace
