// Live frames: the WebSocket of a location, JPEG images and MJPEG streams, the spectra of
// the properties listing; against a server with two emulated cameras on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstring>

#include "live_client.h"
#include "test_server.h"

namespace {

using mirva::test::LiveClient;
using mirva::test::TestServer;
using nlohmann::json;
using ::testing::HasSubstr;

template <class T>
T field(const std::string& message, size_t at) {
    T v{};
    std::memcpy(&v, message.data() + at, sizeof v);  // little-endian, as this machine
    return v;
}

// Width and height of a JPEG (0, 0 when it is none).
std::pair<int, int> jpeg_size(const std::string& jpeg) {
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, space = 0;
    if (tjDecompressHeader3(h, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(), &w, &ht, &sub, &space) != 0)
        w = ht = 0;
    tjDestroy(h);
    return {w, ht};
}

TEST(LiveView, RawAndJpegMessagesCarryTheHeaderOfEachNewImage) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    ASSERT_TRUE(s.start_acquisition("CAM1"));

    LiveClient raw;
    ASSERT_TRUE(raw.connect(s.port(), "/api/locations/CAM1/live?format=raw"));
    uint32_t last_sequence = 0;
    for (int i = 0; i < 3; ++i) {
        auto m = raw.read();
        ASSERT_TRUE(m);
        ASSERT_TRUE(m->binary);
        ASSERT_EQ(m->data.size(), 128u + 1280u * 1024u);
        EXPECT_EQ(m->data.substr(0, 4), "MLV1");
        EXPECT_EQ(field<uint16_t>(m->data, 4), 128);
        EXPECT_EQ(field<uint16_t>(m->data, 6), 1);
        EXPECT_EQ(field<uint32_t>(m->data, 24), 1280u);
        EXPECT_EQ(field<uint32_t>(m->data, 28), 1024u);
        EXPECT_EQ(field<uint32_t>(m->data, 32), 1280u);
        EXPECT_EQ(field<uint32_t>(m->data, 36), 1024u);
        EXPECT_EQ(field<uint8_t>(m->data, 40), 1);   // bytes per pixel
        EXPECT_EQ(field<uint8_t>(m->data, 42), 0);   // Mono8
        EXPECT_EQ(field<uint8_t>(m->data, 43), 0);   // raw
        EXPECT_EQ(field<uint32_t>(m->data, 52), 1280u);  // region
        EXPECT_EQ(field<uint16_t>(m->data, 60), 1);      // binning
        EXPECT_GT(field<uint64_t>(m->data, 16), 1500000000ull * 1000000ull);  // µs since the epoch
        const uint32_t sequence = field<uint32_t>(m->data, 112);
        EXPECT_GT(sequence, last_sequence);  // each message a newer image
        last_sequence = sequence;
        for (size_t at = 116; at < 128; ++at)
            EXPECT_EQ(m->data[at], 0) << at;
    }
    raw.close();

    LiveClient jpeg;
    ASSERT_TRUE(jpeg.connect(s.port(), "/api/locations/CAM1/live?format=jpeg&quality=60&scale=0.5"));
    auto m = jpeg.read();
    ASSERT_TRUE(m);
    EXPECT_EQ(field<uint8_t>(m->data, 43), 1);
    EXPECT_EQ(field<uint32_t>(m->data, 24), 640u);
    EXPECT_EQ(field<uint32_t>(m->data, 28), 512u);
    EXPECT_EQ(field<uint32_t>(m->data, 32), 1280u);
    EXPECT_EQ(jpeg_size(m->data.substr(128)), std::make_pair(640, 512));
}

TEST(LiveView, UnknownLocationIsAnErrorTextAndBadParametersAre400) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    LiveClient nowhere;
    ASSERT_TRUE(nowhere.connect(s.port(), "/api/locations/NOPE/live"));
    auto m = nowhere.read();
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->binary);
    EXPECT_EQ(json::parse(m->data, nullptr, false).value("error", ""), "unknown location NOPE");
    EXPECT_FALSE(nowhere.read());  // then the server closes

    for (const char* query : {"format=png", "quality=0", "quality=101", "scale=0.05", "scale=2", "scale=x"}) {
        LiveClient bad;
        EXPECT_FALSE(bad.connect(s.port(), std::string("/api/locations/CAM1/live?") + query)) << query;
        EXPECT_EQ(bad.handshake_status(), 400) << query;
    }
    auto r = s.client().Get("/api/locations/CAM1/live");  // not an upgrade
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 426);

    // A location that delivers nothing: the socket stays open and silent (no message, no close).
    LiveClient quiet;
    ASSERT_TRUE(quiet.connect(s.port(), "/api/locations/CAM2/live"));
}

TEST(LiveView, JpegImagesAndStreamsForBrowsersAndPlayers) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    ASSERT_TRUE(s.start_acquisition("CAM2"));
    auto c = s.client();
    auto r = c.Get("/api/locations/CAM2/image?format=jpeg");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200);
    EXPECT_EQ(r->get_header_value("Content-Type"), "image/jpeg");
    EXPECT_EQ(jpeg_size(r->body), std::make_pair(1920, 1200));
    EXPECT_FALSE(r->get_header_value("X-Timestamp").empty());
    r = c.Get("/api/locations/CAM2/image?format=jpeg&scale=0.25&quality=50");
    EXPECT_EQ(jpeg_size(r->body), std::make_pair(480, 300));
    r = c.Get("/api/locations/CAM2/image?format=jpeg&quality=200");
    EXPECT_EQ(r->status, 400);
    EXPECT_THAT(r->body, HasSubstr("1..100"));

    const auto stream = c.read_stream("/api/locations/CAM2/stream?format=jpeg&max_fps=50", 3);
    EXPECT_EQ(stream.content_type, "multipart/x-mixed-replace; boundary=frame");
    ASSERT_GE(stream.parts, 3);
    const std::string& data = stream.data;
    const size_t head_end = data.find("\r\n\r\n");
    const std::string head = data.substr(0, head_end);
    EXPECT_THAT(head, HasSubstr("Content-Type: image/jpeg"));
    EXPECT_THAT(head, ::testing::ContainsRegex("X-Timestamp: [0-9]+\\.[0-9]{6}"));
    const size_t length = std::stoul(head.substr(head.find("Content-Length: ") + 16));
    EXPECT_EQ(jpeg_size(data.substr(head_end + 4, length)), std::make_pair(1920, 1200));
    EXPECT_EQ(c.Get("/api/locations/CAM2/stream?format=raw")->status, 400);
}

TEST(LiveView, StreamsAndLiveSocketsAreBoundedBySlots) {
    TestServer s;  // two_cameras.toml: max_streams = 4
    ASSERT_TRUE(s.wait_ready());
    // A socket or stream over the bound is refused before the upgrade, with the reason.
    std::vector<std::unique_ptr<LiveClient>> open;
    for (int i = 0; i < 4; ++i) {
        open.push_back(std::make_unique<LiveClient>());
        ASSERT_TRUE(open.back()->connect(s.port(), "/api/locations/CAM1/live")) << i;
    }
    LiveClient over;
    EXPECT_FALSE(over.connect(s.port(), "/api/locations/CAM1/live"));
    EXPECT_EQ(over.handshake_status(), 503);
    auto r = s.client().Get("/api/locations/CAM1/stream");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 503);
    EXPECT_THAT(r->body, HasSubstr("max_streams"));
    // A closed socket gives its slot back.
    open.back()->close();
    open.pop_back();
    EXPECT_TRUE(mirva::test::eventually([&] {
        LiveClient again;
        return again.connect(s.port(), "/api/locations/CAM1/live");
    }));
}

TEST(Properties, ListingGivesSpectraAsTheirPointCountUnlessAsked) {
    TestServer s;
    ASSERT_TRUE(s.wait_ready());
    auto find = [](const json& doc, const char* name) {
        for (const auto& p : doc["properties"])
            if (p["name"] == name)
                return p;
        return json();
    };
    auto listing = s.get_json("/api/locations/CAM1/properties");
    auto rate = find(listing, "IMGRATE");
    ASSERT_TRUE(rate.is_object());
    EXPECT_TRUE(rate["value"].is_null());
    EXPECT_TRUE(rate["points"].is_number_unsigned());
    auto full = find(s.get_json("/api/locations/CAM1/properties?spectra=1"), "IMGRATE");
    ASSERT_TRUE(full["value"].is_array());
    EXPECT_EQ(full["value"].size(), full["points"].get<size_t>());
    auto one = s.get_json("/api/locations/CAM1/properties/IMGRATE");
    ASSERT_TRUE(one["value"].is_array());
    EXPECT_EQ(one["value"].size(), one["points"].get<size_t>());
    EXPECT_EQ(s.client().Get("/api/locations/CAM1/properties?spectra=yes")->status, 400);
}

} // namespace
