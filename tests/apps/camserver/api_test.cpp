// The camera server's HTTP API against a server with two emulated cameras on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <set>

#include "test_server.h"

namespace {

using mirva::test::eventually;
using mirva::test::Result;
using mirva::test::TestServer;
using nlohmann::json;
using ::testing::AllOf;
using ::testing::HasSubstr;

json body_of(const Result& r) { return r ? json::parse(r->body, nullptr, false) : json(); }

// The error message of a JSON error answer ("" when the answer is not one).
std::string error_of(const Result& r) {
    auto b = body_of(r);
    return b.is_object() && b.contains("error") && b["error"].is_string() ? b["error"].get<std::string>() : "";
}

// Sends text as it stands on one connection to 127.0.0.1:port and returns all that the server
// sends until it closes the connection; nothing when it is still open after the timeout.
std::optional<std::string> exchange(int port, const std::string& text, std::chrono::milliseconds timeout) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::optional<std::string> got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size())) {
        std::string data;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                got = std::move(data);
                break;
            }
            data.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd);
    return got;
}

Result put_value(const TestServer& s, const std::string& loc, const std::string& name, const std::string& body) {
    return s.client().Put(("/api/locations/" + loc + "/properties/" + name).c_str(), body, "application/json");
}

TEST(HttpApi, LocationsListBothCamerasWithTheirState) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto doc = s.get_json("/api/locations");
    ASSERT_TRUE(doc.is_object());
    ASSERT_EQ(doc["locations"].size(), 2u);
    EXPECT_EQ(doc["locations"][0]["name"], "CAM1");
    EXPECT_EQ(doc["locations"][1]["name"], "CAM2");
    for (const auto& l : doc["locations"]) {
        EXPECT_EQ(l["type"], 812);
        EXPECT_EQ(l["online"], 1);
        for (const char* key : {"camera_status", "error_code", "error_text", "frame_rate", "frame_counter"})
            EXPECT_TRUE(l.contains(key)) << key;
        EXPECT_TRUE(l["frame_rate"].is_number());
        // The stream's counts are whole numbers (0, not 0.0).
        ASSERT_TRUE(l["stream"].is_object());
        for (const char* key : {"frames_completed", "frames_failed", "underruns", "missing_packets", "resent_packets"}) {
            EXPECT_TRUE(l["stream"][key].is_number_integer()) << key << ": " << l["stream"][key].dump();
        }
    }
    auto count = s.get_json("/api/locations/CAM1/properties/STREAM.FRAMES.COMPLETED");
    EXPECT_TRUE(count["value"].is_number_integer()) << count.dump();
    EXPECT_EQ(count["writable"], false);
}

TEST(HttpApi, PropertiesFoldFeatureGroupsAndFilterByName) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto doc = s.get_json("/api/locations/CAM1/properties");
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["location"], "CAM1");
    std::set<std::string> props, features;
    for (const auto& p : doc["properties"]) {
        props.insert(p["name"].get<std::string>());
        EXPECT_NE(p["group"], 2) << p["name"];
        if (p["name"] == "IMGRATE") {  // a spectrum: its point count in the listing
            EXPECT_TRUE(p["value"].is_null());
            EXPECT_TRUE(p["points"].is_number());
        }
        if (p["name"] == "ONLINE") {
            EXPECT_EQ(p["class"], "D_gen_sts");
            EXPECT_EQ(p["writable"], true);
        }
    }
    for (const auto& f : doc["features"])
        features.insert(f["name"].get<std::string>());
    EXPECT_TRUE(props.count("ONLINE") && props.count("FRAME.RATE") && props.count("UPDSETS"));
    ASSERT_TRUE(features.count("EXPOSURETIMERAW"));
    for (const auto& n : features)  // every sub-property went into its feature
        for (const char* suffix : {".TYPE", ".ACCESS", ".EGU", ".INC", ".DESC", ".CATEG", ".SL", ".NUM"})
            EXPECT_FALSE(n.size() > std::string(suffix).size() && n.ends_with(suffix)) << n;

    auto filtered = s.get_json("/api/locations/CAM1/properties?names=ONLINE,EXPOSURETIMERAW,PIXELFORMAT");
    ASSERT_EQ(filtered["properties"].size(), 1u);
    EXPECT_EQ(filtered["properties"][0]["name"], "ONLINE");
    ASSERT_EQ(filtered["features"].size(), 2u);
    json exposure, pixel_format;
    for (const auto& f : filtered["features"])
        (f["name"] == "EXPOSURETIMERAW" ? exposure : pixel_format) = f;
    EXPECT_EQ(exposure["type"], 1);
    EXPECT_EQ(exposure["access"], 1);
    EXPECT_EQ(exposure["egu_min"], 35);
    EXPECT_EQ(exposure["inc"], 5);
    EXPECT_EQ(exposure["categ"], "Acquisition Controls");
    EXPECT_TRUE(exposure["desc"].is_string());
    EXPECT_TRUE(exposure.contains("unit"));
    EXPECT_EQ(pixel_format["type"], 3);  // enumeration: selection number and list
    EXPECT_TRUE(pixel_format["num"].is_number());
    EXPECT_THAT(pixel_format["sl"].get<std::string>(), HasSubstr("Mono8"));

    // One property: a feature's main property carries the folded fields, a sub-property is plain.
    auto one = s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW");
    EXPECT_EQ(one["type"], 1);
    EXPECT_EQ(one["group"], 2);
    auto sub = s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW.TYPE");
    EXPECT_EQ(sub["value"], 1);
    EXPECT_FALSE(sub.contains("categ"));
}

TEST(HttpApi, ErrorAnswersAreJsonWithTheRightStatus) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto c = s.client();
    auto r = c.Get("/api/locations/NOPE/properties");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_THAT(error_of(r), HasSubstr("NOPE"));
    r = c.Get("/api/locations/CAM1/properties/NO.SUCH.NAME");
    EXPECT_EQ(r->status, 404);
    EXPECT_THAT(error_of(r), HasSubstr("NO.SUCH.NAME"));
    r = put_value(s, "CAM1", "NO.SUCH.NAME", R"({"value": 1})");
    EXPECT_EQ(r->status, 404);
    r = put_value(s, "NOPE", "START", R"({"value": 1})");
    EXPECT_EQ(r->status, 404);
    r = c.Get("/api/nothing/here");
    EXPECT_EQ(r->status, 404);
    EXPECT_THAT(error_of(r), HasSubstr("/api/nothing/here"));
    r = c.Get("/api/locations/NOPE/image");
    EXPECT_EQ(r->status, 404);

    struct Bad {
        const char* name;
        std::string body;
        const char* reason;
    };
    const std::string long_text(3000, 'x');
    for (const Bad& b : {Bad{"START", "{\"value\": ", "JSON"},
                         Bad{"START", "", "empty"},
                         Bad{"START", R"({"value": 1e400})", "1e400"},
                         Bad{"START", "[1]", "{\"value\""},
                         Bad{"START", R"({"other": 1})", "{\"value\""},
                         Bad{"START", R"({"value": [1, 2]})", "[1,2]"},
                         Bad{"START", R"({"value": {"a": 1}})", "a number, a text or a boolean"},
                         Bad{"START", R"({"value": "abc"})", "\"abc\""},
                         Bad{"START", R"({"value": "NaN"})", "NaN"},
                         Bad{"START", R"({"value": 1e300})", "32-bit"},
                         Bad{"START", R"({"value": 18446744073709551615})", "32-bit"},
                         Bad{"START", R"({"value": 1.5})", "integral"},
                         Bad{"ONLINE", R"({"value": 7})", "only 0"},
                         Bad{"INTERFACE", "{\"value\": \"" + long_text + "\"}", "longer than"},
                         Bad{"INTERFACE", R"({"value": 12})", "a text is needed"}}) {
        r = put_value(s, "CAM1", b.name, b.body);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 400) << b.body.substr(0, 60);
        EXPECT_THAT(error_of(r), HasSubstr(b.reason)) << b.body.substr(0, 60);
    }

    r = put_value(s, "CAM1", "IMGRATE", R"({"value": 1})");
    EXPECT_EQ(r->status, 403);
    EXPECT_THAT(error_of(r), HasSubstr("read-only"));
    r = put_value(s, "CAM1", "EXPOSURETIMERAW.TYPE", R"({"value": 2})");
    EXPECT_EQ(r->status, 403);

    r = put_value(s, "CAM1", "START", "{\"value\": \"" + std::string(70 * 1024, 'y') + "\"}");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 413);
    EXPECT_THAT(error_of(r), HasSubstr("too large"));

    r = c.Get("/api/locations/CAM1/stream?max_fps=fast");
    EXPECT_EQ(r->status, 400);
    // So slow that the period between parts would overflow the clock: refused, not streamed.
    r = c.Get("/api/locations/CAM1/stream?max_fps=1e-300");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), AllOf(HasSubstr("1e-300"), HasSubstr("0.001 to 50")));
    r = c.Get("/api/locations/CAM1/image?format=gif");
    EXPECT_EQ(r->status, 400);
    EXPECT_TRUE(s.online("CAM1"));  // none of it disturbed the location
}

// Writes that the location cannot take are refused before they reach it, and leave
// the location on line with its settings as they were.
TEST(HttpApi, WritesTheLocationCannotTakeAreRefusedAtTheDoor) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto feature = [&](const std::string& name) { return s.get_json("/api/locations/CAM1/properties/" + name); };
    const json exposure = feature("EXPOSURETIMERAW");
    ASSERT_TRUE(exposure.is_object());
    const int64_t inc = exposure["inc"], lo = exposure["min"], value = exposure["value"];
    ASSERT_GT(inc, 1);

    struct Bad {
        const char* name;
        std::string body;
        int status;
        std::string reason;
    };
    const std::string off_step = std::to_string(lo + 10 * inc + 1);
    const std::string nearest = std::to_string(lo + 10 * inc) + " and " + std::to_string(lo + 11 * inc);
    for (const Bad& b : {Bad{"FORMAT.OUT", R"({"value": 3})", 400, "0..2"},
                         Bad{"FORMAT.OUT", R"({"value": -1})", 400, "0..2"},
                         Bad{"START", R"({"value": 2})", 400, "0..1"},
                         Bad{"TCP.PORT", R"({"value": 70000})", 400, "0..65535"},
                         Bad{"SERIAL", R"({"value": -5})", 400, "-5"},
                         Bad{"ACQ.TRIGGER.SEL", R"({"value": 99})", 400, "99 refused: outside 0.."},
                         Bad{"FRAME.TRIGGER.MODE", R"({"value": 5})", 400, "0..1"},
                         Bad{"FORMAT.OUT.TRUNCATE", R"({"value": 99})", 400, "-32..31"},
                         Bad{"BINNING.X", R"({"value": 17})", 400, "1..16"},
                         Bad{"ERROR.TEXT", R"({"value": "fine"})", 403, "status"},
                         Bad{"CAMERA.STATUS", R"({"value": "Online"})", 403, "status"},
                         Bad{"FRAME.COUNTER", R"({"value": 0})", 403, "status"},
                         Bad{"CONF.FILE", R"({"value": "..elsewhere"})", 400, "\"..\""},
                         Bad{"CONF.FILE", R"({"value": "sub/file"})", 400, "\"/\""},
                         Bad{"CONF.FILE", R"({"value": "x\u0000y"})", 400, "NUL"},
                         Bad{"CONF.FILE", R"({"value": "x\ny"})", 400, "control character"},
                         Bad{"START%00", R"({"value": 1})", 400, "NUL"},
                         Bad{"EXPOSURETIMERAW", "{\"value\": " + off_step + "}", 400, nearest},
                         Bad{"DEVICEUSERID", "{\"value\": \"" + std::string(300, 'u') + "\"}", 400, "maximum length"},
                         Bad{"PIXELFORMAT", R"({"value": "Mono99"})", 400, "Mono8"}}) {
        auto r = put_value(s, "CAM1", b.name, b.body);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, b.status) << b.name << " " << b.body.substr(0, 60) << " " << r->body;
        EXPECT_THAT(error_of(r), HasSubstr(b.reason)) << b.name;
    }
    // A feature the camera does not let clients write.
    std::string read_only;
    const json listing = s.get_json("/api/locations/CAM1/properties");
    for (const auto& f : listing["features"])
        if (f["access"] == 0) {
            read_only = f["name"];
            break;
        }
    ASSERT_FALSE(read_only.empty());
    auto r = put_value(s, "CAM1", read_only, R"({"value": 1})");
    EXPECT_EQ(r->status, 403) << read_only;
    EXPECT_FALSE(body_of(s.client().Get(("/api/locations/CAM1/properties/" + read_only))).value("changed", false));

    // Out of limits: clamped, and the answer says so.
    r = put_value(s, "CAM1", "EXPOSURETIMERAW", R"({"value": 1})");
    ASSERT_EQ(r->status, 200);
    EXPECT_THAT(body_of(r).value("note", ""), HasSubstr("clamped to " + std::to_string(lo)));

    EXPECT_EQ(feature("FORMAT.OUT")["pending"], 0);
    EXPECT_EQ(feature("START")["value"], 0);
    EXPECT_EQ(feature("ACQ.TRIGGER.SEL")["pending"], 0);
    EXPECT_EQ(feature("FORMAT.OUT.TRUNCATE")["pending"], 0);
    EXPECT_TRUE(s.online("CAM1"));
    EXPECT_TRUE(eventually([&] { return feature("EXPOSURETIMERAW")["value"] == lo; })) << value;
    EXPECT_FALSE(std::filesystem::exists(s.dir() / "CAM1_x"));
}

TEST(HttpApi, TokenGuardsEveryWrite) {
    TestServer s("s3cret");
    auto c = s.client();
    auto r = c.Get("/api/locations");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    r = put_value(s, "CAM1", "DEBUG", R"({"value": 0})");
    EXPECT_EQ(r->status, 401);
    EXPECT_THAT(error_of(r), HasSubstr("Authorization"));
    r = c.Post("/api/emulator/cameras/21000901/stall", "", "application/json");
    EXPECT_EQ(r->status, 401);
    c.set_bearer_token_auth("wrong!");
    r = c.Put("/api/locations/CAM1/properties/DEBUG", R"({"value": 0})", "application/json");
    EXPECT_EQ(r->status, 401);
    c.set_bearer_token_auth("s3cret");
    r = c.Put("/api/locations/CAM1/properties/DEBUG", R"({"value": 0})", "application/json");
    EXPECT_EQ(r->status, 200);
}

TEST(HttpApi, ExposureWriteIsPendingUntilTheCameraTakesIt) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto r = put_value(s, "CAM1", "EXPOSURETIMERAW", R"({"value": 7000})");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    auto p = body_of(r);
    EXPECT_EQ(p["name"], "EXPOSURETIMERAW");
    EXPECT_TRUE((p["changed"] == true && p["pending"] == 7000) || p["value"] == 7000) << p.dump();
    EXPECT_TRUE(eventually([&] {
        auto q = s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW");
        return q.is_object() && q["value"] == 7000 && q["changed"] == false;
    })) << s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW").dump();
}

// At full width OffsetX allows 0 only. A write of 2 is on its increment and is answered as
// clamped to 0: the camera's write pass must do so, and the location stay on line with it.
TEST(HttpApi, AWriteOutsideLimitsThatAllowOneValueIsClampedAndTheLocationStaysOnLine) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    const json offset = s.get_json("/api/locations/CAM1/properties/OFFSETX");
    ASSERT_EQ(offset["min"], 0) << offset.dump();
    ASSERT_EQ(offset["max"], 0) << offset.dump();
    auto r = put_value(s, "CAM1", "OFFSETX", R"({"value": 2})");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_THAT(body_of(r).value("note", ""), HasSubstr("clamped to 0"));
    EXPECT_TRUE(eventually([&] {
        auto q = s.get_json("/api/locations/CAM1/properties/OFFSETX");
        return q.is_object() && q["value"] == 0 && q["changed"] == false;
    })) << s.get_json("/api/locations/CAM1/properties/OFFSETX").dump();
    // A later write still reaches the camera: the location did not go off line meanwhile.
    ASSERT_EQ(put_value(s, "CAM1", "EXPOSURETIMERAW", R"({"value": 7000})")->status, 200);
    EXPECT_TRUE(eventually([&] {
        auto q = s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW");
        return q.is_object() && q["value"] == 7000 && q["changed"] == false;
    }));
    EXPECT_TRUE(s.online("CAM1")) << s.location("CAM1").dump();
    EXPECT_EQ(s.location("CAM1")["error_code"], 0) << s.location("CAM1").dump();
}

// PNG header fields: width, height, bit depth, colour type.
struct PngHeader {
    uint32_t width = 0, height = 0;
    int bit_depth = 0, color_type = -1;
};
PngHeader png_header(const std::string& png) {
    PngHeader h;
    static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (png.size() < 33 || png.compare(0, 8, reinterpret_cast<const char*>(sig), 8) != 0 || png.compare(12, 4, "IHDR") != 0)
        return h;
    auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(png[at])) << 24) | (uint32_t(uint8_t(png[at + 1])) << 16) |
               (uint32_t(uint8_t(png[at + 2])) << 8) | uint32_t(uint8_t(png[at + 3]));
    };
    h.width = be32(16);
    h.height = be32(20);
    h.bit_depth = uint8_t(png[24]);
    h.color_type = uint8_t(png[25]);
    return h;
}

TEST(HttpApi, LocationSummaryMeasuresFramesPerSecond) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    EXPECT_EQ(s.location("CAM1")["fps"], 0);
    ASSERT_TRUE(s.start_acquisition("CAM1"));
    EXPECT_TRUE(eventually([&] {
        auto l = s.location("CAM1");
        return l["fps"].is_number() && l["fps"] > 0;
    })) << s.location("CAM1").dump();
}

TEST(HttpApi, ImagesArePngOrRawOnceTheCameraDelivers) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto c = s.client();
    auto r = c.Get("/api/locations/CAM1/image");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 404);
    EXPECT_THAT(error_of(r), HasSubstr("no image"));

    ASSERT_EQ(put_value(s, "CAM1", "START", R"({"value": 1})")->status, 200);
    ASSERT_TRUE(s.start_acquisition("CAM1"));
    ASSERT_TRUE(s.start_acquisition("CAM2"));

    r = c.Get("/api/locations/CAM1/image");
    EXPECT_EQ(r->get_header_value("Content-Type"), "image/png");
    auto h = png_header(r->body);
    EXPECT_EQ(h.width, 1280u);
    EXPECT_EQ(h.height, 1024u);
    EXPECT_EQ(h.bit_depth, 8);
    EXPECT_EQ(h.color_type, 0);  // grey
    EXPECT_EQ(r->get_header_value("X-Width"), "1280");
    EXPECT_EQ(r->get_header_value("X-Height"), "1024");
    EXPECT_EQ(r->get_header_value("X-Bytes-Per-Pixel"), "1");
    EXPECT_EQ(r->get_header_value("X-Region"), "0,0,1280,1024");
    EXPECT_EQ(r->get_header_value("X-Binning"), "1,1");
    EXPECT_FALSE(r->get_header_value("X-Frame").empty());
    EXPECT_THAT(r->get_header_value("X-Timestamp"), ::testing::MatchesRegex("[0-9]+\\.[0-9]{6}"));

    r = c.Get("/api/locations/CAM2/image");
    h = png_header(r->body);
    EXPECT_EQ(h.width, 1920u);
    EXPECT_EQ(h.height, 1200u);
    EXPECT_EQ(h.color_type, 2);  // RGB

    r = c.Get("/api/locations/CAM1/image?format=raw");
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "application/octet-stream");
    auto header = json::parse(r->get_header_value("X-Image-Header"), nullptr, false);
    ASSERT_TRUE(header.is_object());
    EXPECT_EQ(header["img_prm"]["w"], 1280);
    EXPECT_EQ(header["img_ext_prm"]["height"], 1024);
    EXPECT_EQ(header["img_ext_prm"]["length"], 1280 * 1024);
    EXPECT_EQ(r->body.size(), 1280u * 1024u);
}

// HEAD of a stream is its head alone: no parts follow, and the connection serves the next request.
TEST(HttpApi, HeadOfAStreamIsItsHeadWithoutParts) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    ASSERT_TRUE(s.start_acquisition("CAM1"));
    auto got = exchange(s.port(),
                        "HEAD /api/locations/CAM1/stream?max_fps=20 HTTP/1.1\r\nHost: x\r\n\r\n"
                        "GET /api/locations HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                        std::chrono::seconds(10));
    ASSERT_TRUE(got) << "the connection stayed open: the stream went on after the HEAD";
    EXPECT_THAT(*got, HasSubstr("multipart/x-mixed-replace; boundary=frame"));
    EXPECT_THAT(*got, ::testing::Not(HasSubstr("--frame")));
    EXPECT_THAT(*got, HasSubstr("\"locations\""));
}

TEST(HttpApi, StreamSendsOnePngPartPerNewImage) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    ASSERT_TRUE(s.start_acquisition("CAM1"));
    auto c = s.client();
    const auto stream = c.read_stream("/api/locations/CAM1/stream?max_fps=20", 3);  // two whole parts
    EXPECT_EQ(stream.content_type, "multipart/x-mixed-replace; boundary=frame");
    ASSERT_GE(stream.parts, 3);
    const std::string& data = stream.data;
    const size_t head_end = data.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    const std::string head = data.substr(0, head_end);
    EXPECT_THAT(head, HasSubstr("Content-Type: image/png"));
    EXPECT_THAT(head, HasSubstr("X-Frame: "));
    const auto len_at = head.find("Content-Length: ");
    ASSERT_NE(len_at, std::string::npos);
    const size_t length = std::stoul(head.substr(len_at + 16));
    const std::string png = data.substr(head_end + 4, length);
    EXPECT_EQ(png_header(png).width, 1280u);
    EXPECT_EQ(data.compare(head_end + 4 + length, 9, "\r\n--frame"), 0);
}

TEST(HttpApi, EmulatorUnplugTakesTheLocationOffLineAndPlugBringsItBack) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto c = s.client();
    auto cams = s.get_json("/api/emulator/cameras");
    ASSERT_EQ(cams["cameras"].size(), 2u);
    EXPECT_EQ(cams["cameras"][0]["serial"], "21000901");
    EXPECT_EQ(cams["cameras"][0]["plugged"], true);
    EXPECT_EQ(cams["cameras"][0]["model_name"].is_string(), true);

    EXPECT_EQ(c.Post("/api/emulator/cameras/999/unplug", "", "application/json")->status, 404);
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000901/line/9/pulse", "", "application/json")->status, 400);
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000901/line/1/pulse", "", "application/json")->status, 200);
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000902/stall", R"({"stalled": "yes"})", "application/json")->status, 400);
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000902/stall", R"({"stalled": false})", "application/json")->status, 200);
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000902/fail-next-grab", R"({"code": -1})", "application/json")->status, 400);

    auto r = c.Post("/api/emulator/cameras/21000901/unplug", "", "application/json");
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(body_of(r)["ok"], true);
    EXPECT_TRUE(eventually([&] { return !s.online("CAM1"); }));
    EXPECT_EQ(s.get_json("/api/emulator/cameras")["cameras"][1]["plugged"], false);  // unplugged ones last
    EXPECT_EQ(c.Post("/api/emulator/cameras/21000901/line/1/pulse", "", "application/json")->status, 409);
    EXPECT_TRUE(s.online("CAM2"));

    ASSERT_EQ(c.Post("/api/emulator/cameras/21000901/plug", "", "application/json")->status, 200);
    EXPECT_TRUE(eventually([&] { return s.online("CAM1"); }, std::chrono::seconds(20)));
}

TEST(HttpApi, FeaturesOfAnUnpluggedCameraAre503UntilItReturns) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto c = s.client();
    ASSERT_EQ(c.Post("/api/emulator/cameras/21000901/unplug", "", "application/json")->status, 200);
    const std::string path = "/api/locations/CAM1/properties/EXPOSURETIMERAW";
    ASSERT_TRUE(eventually([&] {
        auto r = c.Get(path);
        return r && r->status == 503;
    }));
    auto r = c.Get(path);
    EXPECT_THAT(error_of(r), AllOf(HasSubstr("off line"), HasSubstr("return with the camera")));
    r = put_value(s, "CAM1", "EXPOSURETIMERAW", R"({"value": 7000})");
    EXPECT_EQ(r->status, 503);
    EXPECT_EQ(c.Get("/api/locations/CAM1/properties/EXPOSURETIMERAWW")->status, 404);  // a typo stays one
    EXPECT_EQ(c.Get("/api/locations/CAM2/properties/EXPOSURETIMERAW")->status, 200);

    ASSERT_EQ(c.Post("/api/emulator/cameras/21000901/plug", "", "application/json")->status, 200);
    EXPECT_TRUE(eventually([&] {
        auto q = c.Get(path);
        return q && q->status == 200;
    }, std::chrono::seconds(20)));
}

TEST(HttpApi, FeaturesCarryTheCamerasDisplayNameLevelNotationAndCategoryPath) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto doc = s.get_json("/api/locations/CAM1/properties?names=EXPOSURETIMERAW,GEVCURRENTIPADDRESS,EVENTEXPOSUREEND,ONLINE");
    std::map<std::string, json> by_name;
    for (const auto& f : doc["features"])
        by_name[f["name"].get<std::string>()] = f;
    ASSERT_EQ(by_name.size(), 3u) << doc.dump();
    const json& exposure = by_name["EXPOSURETIMERAW"];
    EXPECT_EQ(exposure["display_name"], "Exposure Time (Raw)");
    EXPECT_EQ(exposure["visibility"], "Beginner");
    EXPECT_EQ(exposure["category_path"], json::array({"Acquisition Controls"}));
    EXPECT_EQ(by_name["GEVCURRENTIPADDRESS"]["representation"], "IPV4Address");
    EXPECT_EQ(by_name["EVENTEXPOSUREEND"]["visibility"], "Expert");
    EXPECT_EQ(by_name["EVENTEXPOSUREEND"]["category_path"], json::array({"Event Generation", "Exposure End Event Data"}));
    // Location properties and sub-properties have no camera presentation.
    ASSERT_EQ(doc["properties"].size(), 1u);
    EXPECT_FALSE(doc["properties"][0].contains("display_name"));
    EXPECT_FALSE(s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW.TYPE").contains("visibility"));
    EXPECT_EQ(s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW")["display_name"], "Exposure Time (Raw)");
}

// A MAC address holds 48 bits, an IPv4 address 32 unsigned ones: the feature's JSON carries
// the whole value and its usual notation, and they tell what the device information tells.
TEST(HttpApi, AddressFeaturesComeWholeAndAgreeWithTheDeviceInformation) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    for (const char* loc : {"CAM1", "CAM2"}) {
        SCOPED_TRACE(loc);
        auto doc = s.get_json(std::string("/api/locations/") + loc +
                              "/properties?names=GEVMACADDRESS,GEVCURRENTIPADDRESS,GEVCURRENTSUBNETMASK,"
                              "MACADDRESS,IPADDRESS,SUBNETMASK");
        std::map<std::string, json> by_name;
        for (const auto& list : {doc["features"], doc["properties"]})
            for (const auto& p : list)
                by_name[p["name"].get<std::string>()] = p;
        ASSERT_EQ(by_name.size(), 6u) << doc.dump();

        const json& mac = by_name["GEVMACADDRESS"];
        const std::string mac_text = by_name["MACADDRESS"]["value"];
        ASSERT_TRUE(mac.contains("value64")) << mac.dump();
        EXPECT_EQ(mac["value_text"], mac_text);
        EXPECT_GT(mac["value64"].get<int64_t>(), int64_t{1} << 32);  // "00:30:53:..." needs its upper bytes
        EXPECT_EQ(mac["value64"].get<int64_t>() >> 24, 0x003053);
        EXPECT_EQ(mac["max"].get<double>(), 281474976710655.0);

        EXPECT_EQ(by_name["GEVCURRENTIPADDRESS"]["value_text"], by_name["IPADDRESS"]["value"]);
        // 255.255.255.0 is past the property's 32 signed bits: whole only in value64
        const json& mask = by_name["GEVCURRENTSUBNETMASK"];
        EXPECT_EQ(mask["value_text"], by_name["SUBNETMASK"]["value"]);
        EXPECT_EQ(mask["value64"], 4294967040);
        EXPECT_EQ(mask["value"], 2147483647);
    }
    EXPECT_EQ(s.get_json("/api/locations/CAM1/properties/GEVCURRENTIPADDRESS")["value_text"], "127.0.0.91");
    EXPECT_EQ(s.get_json("/api/locations/CAM2/properties/GEVCURRENTIPADDRESS")["value_text"], "127.0.0.92");
    // The emulator's listing names the same addresses, defaults included.
    auto cams = s.get_json("/api/emulator/cameras")["cameras"];
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0]["ip_address"], "127.0.0.91");
    EXPECT_EQ(cams[0]["mac_address"], s.get_json("/api/locations/CAM1/properties/MACADDRESS")["value"]);
    // A feature that fits 32 bits has no whole value beside it.
    EXPECT_FALSE(s.get_json("/api/locations/CAM1/properties/EXPOSURETIMERAW").contains("value64"));

    // An address in its notation is parsed before the write: a malformed one is refused as
    // such, a good one reaches the feature (here refused as read-only).
    auto r = put_value(s, "CAM1", "GEVCURRENTIPADDRESS", R"({"value": "10.0.0.256"})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(error_of(r), AllOf(HasSubstr("10.0.0.256"), HasSubstr("IPv4")));
    r = put_value(s, "CAM1", "GEVCURRENTIPADDRESS", R"({"value": "10.0.0.1"})");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 403);
}

TEST(HttpApi, ViewerFilesAreServedAtTheRoot) {
    TestServer s;
    auto r = s.client().Get("/");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_THAT(r->get_header_value("Content-Type"), HasSubstr("text/html"));
    EXPECT_THAT(r->body, HasSubstr("<title>viewer</title>"));
}

} // namespace
