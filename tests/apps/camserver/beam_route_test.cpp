// The emulator's beam control and the beam statistics the locations publish: the spot moves
// where a client puts it, and STATS.* follow it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "test_server.h"

namespace {

using mirva::test::eventually;
using mirva::test::TestServer;
using nlohmann::json;
using ::testing::HasSubstr;

json body_of(const mirva::test::Result& r) { return r ? json::parse(r->body, nullptr, false) : json(); }

std::string error_of(const mirva::test::Result& r) {
    auto b = body_of(r);
    return b.is_object() && b.contains("error") && b["error"].is_string() ? b["error"].get<std::string>() : "";
}

mirva::test::Result post_beam(const TestServer& s, const std::string& serial, const std::string& body) {
    return s.client().Post(("/api/emulator/cameras/" + serial + "/beam").c_str(), body, "application/json");
}

double value_of(const TestServer& s, const std::string& loc, const std::string& name) {
    auto p = s.get_json("/api/locations/" + loc + "/properties/" + name);
    return p.is_object() && p["value"].is_number() ? p["value"].get<double>() : NAN;
}

TEST(BeamRoute, TheSpotGoesWhereAClientPutsItAndTheStatisticsFollow) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto r = post_beam(s, "21000901", R"({"pattern": "beam", "x": 400.5, "y": 300.25, "sigma_x": 20, "sigma_y": 15, "noise": false,
                                         "background": 0, "intensity": 0.5})");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    const json beam = body_of(r)["beam"];
    EXPECT_EQ(beam["x"], 400.5);
    EXPECT_EQ(beam["pattern"], "beam");
    EXPECT_EQ(beam["noise"], false);
    EXPECT_EQ(s.get_json("/api/emulator/cameras")["cameras"][0]["beam"]["sigma_y"], 15);

    ASSERT_TRUE(s.start_acquisition("CAM1"));
    EXPECT_TRUE(eventually([&] { return std::abs(value_of(s, "CAM1", "STATS.CX") - 400.5) < 0.1; }))
        << value_of(s, "CAM1", "STATS.CX");
    EXPECT_NEAR(value_of(s, "CAM1", "STATS.CY"), 300.25, 0.1);
    EXPECT_NEAR(value_of(s, "CAM1", "STATS.SX"), 20, 0.2);
    EXPECT_NEAR(value_of(s, "CAM1", "STATS.SY"), 15, 0.2);
    EXPECT_NEAR(value_of(s, "CAM1", "STATS.PEAK"), 0.5 * 255, 2);
    EXPECT_EQ(value_of(s, "CAM1", "STATS.SATURATED"), 0);
    // Only the fields given change; the statistics move with the spot.
    r = post_beam(s, "21000901", R"({"x": 200})");
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(body_of(r)["beam"]["y"], 300.25);
    EXPECT_TRUE(eventually([&] { return std::abs(value_of(s, "CAM1", "STATS.CX") - 200) < 0.1; }));

    // The statistics are the server's: clients cannot write them.
    r = s.client().Put("/api/locations/CAM1/properties/STATS.CX", R"({"value": 3})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_GE(r->status, 400);
    auto cx = s.get_json("/api/locations/CAM1/properties/STATS.CX");
    EXPECT_EQ(cx["writable"], false);
    // The threshold and window are settings, checked at the door.
    r = s.client().Put("/api/locations/CAM1/properties/STATS.WINDOW", R"({"value": "1 2 3"})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("'1 2 3'"));
    r = s.client().Put("/api/locations/CAM1/properties/STATS.THRESHOLD", R"({"value": -1})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("0 to 65535"));
}

TEST(BeamRoute, BadBeamsAreRefusedWithTheValueAndTheLimit) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto r = post_beam(s, "21000901", R"({"x": 5000})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("x 5000 refused: 0 to 1279"));
    r = post_beam(s, "21000901", R"({"sigma_x": -2})");
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("sigma_x -2 refused"));
    r = post_beam(s, "21000901", R"({"noise": "yes"})");
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("noise \"yes\" refused"));
    r = post_beam(s, "21000901", R"({"pattern": "stripes"})");
    EXPECT_EQ(r->status, 400);
    r = post_beam(s, "21000901", R"({"colour": 1})");
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), HasSubstr("unknown member colour"));
    r = post_beam(s, "21000901", "[1]");
    EXPECT_EQ(r->status, 400);
    EXPECT_EQ(post_beam(s, "999", "{}")->status, 404);
    // Nothing of a refused request changed the beam.
    EXPECT_EQ(s.get_json("/api/emulator/cameras")["cameras"][0]["beam"]["x"], 639.5);

    EXPECT_EQ(s.get_json("/api/emulator/cameras")["cameras"][1]["beam"]["pattern"], "counter");  // configured
    r = post_beam(s, "21000902", R"({"pattern": "beam"})");
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(s.get_json("/api/emulator/cameras")["cameras"][1]["beam"]["pattern"], "beam");
    ASSERT_EQ(s.client().Post("/api/emulator/cameras/21000902/unplug", "", "application/json")->status, 200);
    EXPECT_EQ(post_beam(s, "21000902", "{}")->status, 409);
}

} // namespace
