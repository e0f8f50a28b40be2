// JPEG encoding of grey and colour images: decoded back they give the image's size and
// pixels within JPEG tolerance, as baseline JPEG that every browser shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "jpeg_encode.h"

namespace {

using mirva::camserver::encode_jpeg;

constexpr uint8_t kPadding = 255;

// A beam on a dark background, as a camera sees it: smooth, so that a quality-80 JPEG stays
// within a few counts. Rows are `pitch` bytes apart; the bytes past each row's pixels hold
// kPadding, which the encoder must never take for pixels.
struct TestImage {
    int width, height, channels, pitch;
    std::vector<uint8_t> bytes;
    uint8_t at(int x, int y, int c) const { return bytes[size_t(y) * pitch + size_t(x) * channels + c]; }
};

TestImage beam(int width, int height, int channels, int pitch) {
    TestImage img{width, height, channels, pitch, std::vector<uint8_t>(size_t(pitch) * height, kPadding)};
    const double cx = width * 0.45, cy = height * 0.55, sigma = std::max(8.0, std::max(width, height) / 6.0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double r2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (2 * sigma * sigma);
            const auto v = static_cast<uint8_t>(std::lround(12.0 + 190.0 * std::exp(-r2)));
            uint8_t* p = img.bytes.data() + size_t(y) * pitch + size_t(x) * channels;
            p[0] = v;
            if (channels == 3) {  // a reddish beam on a colour sensor
                p[1] = static_cast<uint8_t>(v * 3 / 4);
                p[2] = static_cast<uint8_t>(v / 2);
            }
        }
    return img;
}

struct Decoded {
    int width = 0, height = 0, subsampling = -1;
    std::vector<uint8_t> pixels;  // packed rows, img.channels per pixel
};

Decoded decode(const std::string& jpeg, int channels) {
    Decoded d;
    tjhandle h = tjInitDecompress();
    if (!h)
        return d;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    int colourspace = 0;
    if (tjDecompressHeader3(h, data, jpeg.size(), &d.width, &d.height, &d.subsampling, &colourspace) == 0) {
        d.pixels.resize(size_t(d.width) * d.height * channels);
        if (tjDecompress2(h, data, jpeg.size(), d.pixels.data(), d.width, 0, d.height,
                          channels == 1 ? TJPF_GRAY : TJPF_RGB, 0) != 0)
            d.pixels.clear();
    }
    tjDestroy(h);
    return d;
}

// True when the stream's frame header is the baseline one (SOF0), the kind every browser
// decodes, and no other frame kind (progressive, arithmetic) appears.
bool is_baseline(const std::string& jpeg) {
    bool baseline = false;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (static_cast<uint8_t>(jpeg[i]) != 0xFF)
            continue;
        const auto marker = static_cast<uint8_t>(jpeg[i + 1]);
        if (marker == 0xDA)  // start of scan: the frame header came before it
            break;
        if (marker == 0xC0)
            baseline = true;
        else if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return false;
    }
    return baseline;
}

// Encodes at quality 80 and checks the decoded image against the original.
void expect_round_trip(const TestImage& img, int expected_subsampling) {
    SCOPED_TRACE(std::to_string(img.width) + "x" + std::to_string(img.height) + " with " +
                 std::to_string(img.channels) + " channels, rows " + std::to_string(img.pitch) + " bytes apart");
    const std::string jpeg = encode_jpeg(img.width, img.height, img.channels, img.bytes.data(), img.pitch, 80);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(static_cast<uint8_t>(jpeg[0]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(jpeg[1]), 0xD8);
    EXPECT_EQ(static_cast<uint8_t>(jpeg[jpeg.size() - 2]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(jpeg[jpeg.size() - 1]), 0xD9);
    EXPECT_TRUE(is_baseline(jpeg));
    const Decoded d = decode(jpeg, img.channels);
    ASSERT_EQ(d.width, img.width);
    ASSERT_EQ(d.height, img.height);
    EXPECT_EQ(d.subsampling, expected_subsampling);
    ASSERT_EQ(d.pixels.size(), size_t(img.width) * img.height * img.channels);
    long total = 0;
    int worst = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x)
            for (int c = 0; c < img.channels; ++c) {
                const int got = d.pixels[(size_t(y) * img.width + x) * img.channels + c];
                const int diff = std::abs(got - img.at(x, y, c));
                total += diff;
                worst = std::max(worst, diff);
            }
    const double mean = double(total) / (double(img.width) * img.height * img.channels);
    // Rows read with the wrong pitch, or the padding taken for pixels, put errors of tens
    // to hundreds of counts into whole blocks; quality 80 of a smooth beam stays far below.
    EXPECT_LT(mean, 1.5);
    EXPECT_LE(worst, 12);
}

TEST(JpegEncode, GreyAndColourImagesDecodeBackToTheirSizeAndPixels) {
    // Sizes that are no multiple of the 8- or 16-pixel blocks, padded rows, and a camera's
    // full frame; the order makes the thread's output buffer grow, then serve smaller images.
    expect_round_trip(beam(37, 23, 1, 40), TJSAMP_GRAY);
    expect_round_trip(beam(1280, 1024, 1, 1280), TJSAMP_GRAY);
    expect_round_trip(beam(61, 45, 3, 61 * 3 + 5), TJSAMP_420);
    expect_round_trip(beam(640, 480, 3, 640 * 3), TJSAMP_420);
    expect_round_trip(beam(9, 7, 1, 9), TJSAMP_GRAY);
    expect_round_trip(beam(1, 1, 3, 3), TJSAMP_420);
}

TEST(JpegEncode, RefusesWhatItCannotEncodeNamingTheValue) {
    const std::vector<uint8_t> px(64 * 3, 0);
    auto message = [&](int w, int h, int channels, int pitch, int quality) {
        try {
            encode_jpeg(w, h, channels, px.data(), pitch, quality);
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_THAT(message(8, 8, 2, 16, 80), ::testing::HasSubstr("2 channels"));
    EXPECT_THAT(message(8, 8, 3, 23, 80), ::testing::HasSubstr("refused"));  // rows shorter than the pixels
    EXPECT_THAT(message(0, 8, 1, 8, 80), ::testing::HasSubstr("0x8"));
    EXPECT_THAT(message(8, 8, 1, 8, 0), ::testing::HasSubstr("quality 0"));
    EXPECT_THAT(message(8, 8, 1, 8, 101), ::testing::HasSubstr("quality 101"));
    EXPECT_EQ(message(8, 8, 1, 8, 100), "accepted");
}

} // namespace
