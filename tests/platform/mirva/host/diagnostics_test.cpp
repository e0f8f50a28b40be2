// Diagnostic lines: one line per message, with time and prefix, from many threads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <thread>

#include <mirva/server.h>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(DiagnosticsTest, EveryMessageIsOneStampedLine) {
    testing::internal::CaptureStderr();
    printftostderr("CAM1", "online() g_sts():%d  up:%d", 0, 1);
    printftostderr("CAM1", "ends in a newline\n");
    printtostderr("pylon", "two\nparts");
    printftostderr("CAM1", "%s", std::string(2000, 'x').c_str());  // longer than any small buffer
    std::string err = testing::internal::GetCapturedStderr();
    auto lines = lines_of(err);
    ASSERT_EQ(lines.size(), 4u) << err;
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} .*)");
    for (const auto& l : lines) EXPECT_TRUE(std::regex_match(l, stamp)) << l;
    EXPECT_THAT(lines[0], testing::EndsWith(" CAM1: online() g_sts():0  up:1"));
    EXPECT_THAT(lines[1], testing::EndsWith(" CAM1: ends in a newline"));
    EXPECT_THAT(lines[2], testing::EndsWith(" pylon: two parts"));
    EXPECT_THAT(lines[3], testing::EndsWith(std::string(2000, 'x')));
}

TEST(DiagnosticsTest, LinesOfConcurrentThreadsDoNotInterleave) {
    constexpr int kThreads = 4, kEach = 200;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) printftostderr("T", "thread %d message %d %s\n", t, i, std::string(100, 'a' + t).c_str());
        });
    }
    for (auto& th : threads) th.join();
    auto lines = lines_of(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
    const std::regex whole(R"(^\S+ \S+ T: thread (\d) message \d+ ([a-d])\2{99}$)");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, whole)) << l;
        EXPECT_EQ(m[2].str()[0], 'a' + std::stoi(m[1].str()));
    }
}

TEST(DiagnosticsTest, AbortHandlerReturnsSoTheProcessGoesOn) {
    struct sigaction sa {}, old{};
    sa.sa_handler = writer_abrt_handler;
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(sigaction(SIGABRT, &sa, &old), 0);
    std::thread t([] { pthread_kill(pthread_self(), SIGABRT); });
    t.join();
    ASSERT_EQ(sigaction(SIGABRT, &old, nullptr), 0);
    SUCCEED();
}

// Runs in a child process started by DebugMaskComesFromTheEnvironment.
TEST(DiagnosticsTest, DebugMaskChild) {
    const char* expected = std::getenv("MIRVA_HOST_TEST_EXPECT_DEBUG");
    if (!expected) GTEST_SKIP() << "only run as a child process";
    EXPECT_EQ(MIRVA_debug.load(), std::atoi(expected));
}

TEST(DiagnosticsTest, DebugMaskComesFromTheEnvironment) {
    for (auto [text, value] : {std::pair{"0x28", 40}, std::pair{"17", 17}}) {
        std::string cmd = std::string("MIRVA_DEBUG=") + text + " MIRVA_HOST_TEST_EXPECT_DEBUG=" + std::to_string(value) +
                          " /proc/" + std::to_string(getpid()) +
                          "/exe --gtest_filter=DiagnosticsTest.DebugMaskChild >/dev/null 2>&1";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << text;
    }
}

} // namespace
