// Encodings of delivered images, the live header's layout, and the shared encode cache.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "encode_cache.h"
#include "frame_encoding.h"
#include "live_header.h"

namespace {

using namespace mirva::camserver;
using mirva::DeliveredImage;

std::shared_ptr<DeliveredImage> image(int w, int h, int bpp, uint64_t sequence = 1) {
    auto img = std::make_shared<DeliveredImage>();
    img->width = w;
    img->height = h;
    img->bytes_per_pixel = bpp;
    img->sequence = sequence;
    img->pixels.resize(size_t(w) * h * bpp);
    for (size_t i = 0; i < img->pixels.size(); ++i)
        img->pixels[i] = static_cast<uint8_t>(i * 7);
    return img;
}

template <class T>
T at(const std::array<uint8_t, 128>& h, size_t offset) {
    T v{};
    std::memcpy(&v, h.data() + offset, sizeof v);
    return v;
}

TEST(FrameEncoding, RawScalingPicksPixelsAndMono16JpegUsesTheEffectiveBits) {
    auto img = image(4, 2, 2);
    const uint16_t px[8] = {0, 1023, 2, 3, 4, 5, 512, 7};
    std::memcpy(img->pixels.data(), px, sizeof px);
    img->header.img_ext_prm.ebitpp = 10;
    FrameFormat raw{Encoding::raw, 80, 500};
    auto e = encode_frame(img, raw);
    EXPECT_EQ(e.width, 2);
    EXPECT_EQ(e.height, 1);
    EXPECT_EQ(e.layout, PixelLayout::mono16);
    ASSERT_EQ(e.size(), 4u);
    uint16_t out[2];
    std::memcpy(out, e.data(), 4);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 2);
    auto full = encode_frame(img, FrameFormat{Encoding::raw, 80, 1000});
    EXPECT_TRUE(full.uses_image_pixels);  // no copy at full scale
    EXPECT_EQ(full.data(), img->pixels.data());

    auto jpeg = encode_frame(image(64, 48, 2), FrameFormat{Encoding::jpeg, 90, 1000});
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg.data()[0], 0xFF);
    EXPECT_EQ(jpeg.data()[1], 0xD8);

    std::string error;
    EXPECT_FALSE(frame_format_from("gif", "", "", true, &error));
    EXPECT_THAT(error, ::testing::HasSubstr("gif"));
    EXPECT_FALSE(frame_format_from("png", "", "", false, &error));
    EXPECT_FALSE(frame_format_from("jpeg", "80x", "", false, &error));
    auto f = frame_format_from("jpeg", "55", "0.25", false, &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->quality, 55);
    EXPECT_EQ(f->scale_permille, 250);
}

TEST(LiveHeader, FieldsAtTheirOffsets) {
    auto img = image(8, 4, 3, 0x1'0000'0005ull);
    auto& h = img->header;
    h.img_prm.frame = 77;
    h.img_prm.sec = 1700000000;
    h.img_prm.usec = 123456;
    h.img_ext_prm.ebitpp = 8;
    h.img_ext_prm.x_start = 16;
    h.img_ext_prm.y_start = 8;
    h.img_ext_prm.aoi_width = 8;
    h.img_ext_prm.aoi_height = 4;
    h.img_ext_prm.hbin = 2;
    h.img_ext_prm.vbin = 1;
    img->stats.valid = true;
    img->stats.cx = 3.5;
    img->stats.sum = 1e9;
    img->stats.saturated = 9;
    auto frame = encode_frame(img, FrameFormat{Encoding::raw, 80, 500});
    const auto b = live_header(frame, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), 4), "MLV1");
    EXPECT_EQ(at<uint64_t>(b, 8), 77u);
    EXPECT_EQ(at<uint64_t>(b, 16), 1700000000123456ull);
    EXPECT_EQ(at<uint32_t>(b, 24), 4u);
    EXPECT_EQ(at<uint32_t>(b, 28), 2u);
    EXPECT_EQ(at<uint32_t>(b, 32), 8u);
    EXPECT_EQ(at<uint8_t>(b, 40), 3);
    EXPECT_EQ(at<uint8_t>(b, 41), 8);
    EXPECT_EQ(at<uint8_t>(b, 42), 2);  // RGB8
    EXPECT_EQ(at<uint32_t>(b, 44), 16u);
    EXPECT_EQ(at<uint32_t>(b, 48), 8u);
    EXPECT_EQ(at<uint16_t>(b, 60), 2);
    EXPECT_EQ(at<float>(b, 64), 3.5f);
    EXPECT_EQ(at<uint32_t>(b, 92), 9u);
    EXPECT_EQ(at<double>(b, 96), 1e9);
    EXPECT_EQ(at<uint32_t>(b, 104), 1u);
    EXPECT_EQ(at<uint32_t>(b, 108), 3u);
    EXPECT_EQ(at<uint32_t>(b, 112), 5u);  // low 32 bits of the sequence
}

TEST(EncodeCache, EachImageIsEncodedOncePerFormatWhoeverAsks) {
    EncodeCache cache(4);
    auto img = image(320, 240, 1, 42);
    const FrameFormat jpeg{Encoding::jpeg, 80, 1000};
    std::vector<std::thread> viewers;
    std::vector<std::shared_ptr<const EncodedFrame>> got(6);
    for (size_t i = 0; i < got.size(); ++i)
        viewers.emplace_back([&, i] { got[i] = cache.get("CAM1", img, jpeg); });
    for (auto& t : viewers)
        t.join();
    EXPECT_EQ(cache.encodings(), 1u);
    for (const auto& g : got)
        EXPECT_EQ(g, got[0]);
    cache.get("CAM1", img, FrameFormat{Encoding::jpeg, 50, 1000});  // another quality
    cache.get("CAM2", img, jpeg);                                   // another location
    cache.get("CAM1", image(320, 240, 1, 43), jpeg);                // a newer image
    EXPECT_EQ(cache.encodings(), 4u);
    cache.get("CAM1", img, jpeg);
    EXPECT_EQ(cache.encodings(), 4u);
}

} // namespace
