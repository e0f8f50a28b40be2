// Where the HTTP server agrees to listen, and how it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "http_api.h"

namespace {

using mirva::camserver::check_http_security;
using mirva::camserver::HttpApi;
using mirva::camserver::HttpOptions;
using mirva::camserver::is_loopback_address;
using mirva::camserver::StartError;
using ::testing::HasSubstr;

TEST(HttpSecurity, OnlyLoopbackWithoutRemoteSettingAndToken) {
    EXPECT_TRUE(is_loopback_address("127.0.0.1"));
    EXPECT_TRUE(is_loopback_address("127.3.2.1"));
    EXPECT_TRUE(is_loopback_address("::1"));
    EXPECT_TRUE(is_loopback_address("localhost"));
    EXPECT_FALSE(is_loopback_address("0.0.0.0"));
    EXPECT_FALSE(is_loopback_address("128.0.0.1"));
    EXPECT_FALSE(is_loopback_address("127.0.0.1.example"));

    mirva::server::HttpConfig http;
    http.address = "0.0.0.0";
    try {
        check_http_security(http);
        FAIL() << "0.0.0.0 accepted without allow_remote";
    } catch (const StartError& e) {
        EXPECT_THAT(e.what(), HasSubstr("0.0.0.0"));
        EXPECT_THAT(e.what(), HasSubstr("allow_remote"));
    }
    http.allow_remote = true;
    EXPECT_THROW(check_http_security(http), StartError);  // still no token
    http.token = "t";
    EXPECT_NO_THROW(check_http_security(http));
    http.allow_remote = false;
    EXPECT_THROW(check_http_security(http), StartError);
}

TEST(HttpSecurity, TakenPortIsOneClearError) {
    mirva::server::ServerConfig cfg;
    mirva::server::CameraServer server(cfg, [](int) { return nullptr; });
    HttpOptions first;
    first.http.port = 0;
    HttpApi a(server, first);
    ASSERT_GT(a.port(), 0);
    HttpOptions second;
    second.http.port = a.port();
    try {
        HttpApi b(server, second);
        FAIL() << "port " << a.port() << " bound twice";
    } catch (const StartError& e) {
        EXPECT_THAT(e.what(), HasSubstr("127.0.0.1:" + std::to_string(a.port())));
    }
    HttpOptions wrong;
    wrong.http.port = 70000;
    EXPECT_THROW(HttpApi(server, wrong), StartError);
}

} // namespace
