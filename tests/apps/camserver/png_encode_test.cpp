// In-memory PNG encoding: what a decoder reads back is what went in, for every pixel layout.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <vector>

#include "png_encode.h"

namespace {

using mirva::camserver::encode_png;

struct Decoded {
    png_uint_32 width = 0, height = 0;
    int bit_depth = 0, color_type = 0;
    std::vector<uint8_t> pixels;  // 16-bit samples in host order
};

Decoded decode(const std::string& png) {
    Decoded d;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size())) << image.message;
    d.width = image.width;
    d.height = image.height;
    d.color_type = (image.format & PNG_FORMAT_FLAG_COLOR) ? 2 : 0;
    d.bit_depth = (image.format & PNG_FORMAT_FLAG_LINEAR) ? 16 : 8;
    if (image.format & PNG_FORMAT_FLAG_ALPHA) d.color_type |= 4;
    d.pixels.resize(PNG_IMAGE_SIZE(image));
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, d.pixels.data(), 0, nullptr)) << image.message;
    return d;
}

std::vector<uint8_t> pattern(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 13);
    return v;
}

TEST(PngEncode, GreyAndColourRoundTrip) {
    for (int bpp : {1, 3, 4}) {
        const int w = 37, h = 5;
        auto px = pattern(size_t(w) * h * bpp);
        auto d = decode(encode_png(w, h, bpp, px.data()));
        EXPECT_EQ(d.width, 37u);
        EXPECT_EQ(d.height, 5u);
        EXPECT_EQ(d.bit_depth, 8);
        EXPECT_EQ(d.color_type, bpp == 1 ? 0 : bpp == 3 ? 2 : 6);
        EXPECT_EQ(d.pixels, px) << bpp << " bytes per pixel";
    }
}

TEST(PngEncode, SixteenBitGreyKeepsHostOrderSamples) {
    const int w = 9, h = 3;
    std::vector<uint16_t> samples(size_t(w) * h);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(0x0102 + i * 0x1111);
    std::string png = encode_png(w, h, 2, reinterpret_cast<const uint8_t*>(samples.data()));
    ASSERT_GT(png.size(), 26u);
    EXPECT_EQ(uint8_t(png[24]), 16);  // IHDR bit depth
    // The first sample, big-endian in the file: its high byte first (checked by decoding).
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    image.format = PNG_FORMAT_LINEAR_Y;  // 16-bit grey, host order
    std::vector<uint16_t> back(samples.size());
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
    // The simplified reader linearises with the file's gamma; without a gAMA chunk it is 1:1.
    EXPECT_EQ(back, samples);
}

TEST(PngEncode, RefusesWhatItCannotEncode) {
    uint8_t px[8] = {};
    EXPECT_THROW(encode_png(2, 2, 5, px), std::runtime_error);
    EXPECT_THROW(encode_png(0, 2, 1, px), std::runtime_error);
    EXPECT_THROW(encode_png(2, 2, 1, nullptr), std::runtime_error);
}

} // namespace
