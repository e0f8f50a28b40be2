// Converter on colour sources: Bayer demosaicing, interleaved RGB orders and YUV 4:2:2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <pylon/ImageFormatConverter.h>
#include <pylon/PixelFormatTable.h>

#include "PixelTestImages.h"

using namespace Pylon;
using namespace pixel_test;

namespace {

std::vector<uint8_t> convert(EPixelType source, EPixelType output, int shift, const std::vector<uint8_t>& src,
                             uint32_t w, uint32_t h)
{
    CImageFormatConverter conv;
    conv.Initialize(source);
    conv.OutputPixelFormat = output;
    conv.AdditionalLeftShift = shift;
    std::vector<uint8_t> dst(conv.GetBufferSizeForConversion(source, w, h));
    conv.Convert(dst.data(), dst.size(), src.data(), src.size(), source, w, h, 0);
    return dst;
}

const char* quad_of(EBayerPattern p)
{
    switch (p) {
    case EBayerPattern::GR: return "GRBG";
    case EBayerPattern::RG: return "RGGB";
    case EBayerPattern::GB: return "GBRG";
    default: return "BGGR";
    }
}

// The source bytes of a Bayer mosaic in the layout of `type`.
std::vector<uint8_t> bayer_bytes(EPixelType type, const std::vector<uint16_t>& px, uint32_t w, uint32_t h)
{
    const SPixelFormatInfo* info = FindPixelFormat(type);
    std::vector<uint8_t> image;
    for (uint32_t y = 0; y < h; ++y) {
        const std::vector<uint16_t> line(px.begin() + y * w, px.begin() + (y + 1) * w);
        if (info->packing == EPixelPacking::TwoInThree)
            append_line(image, pack_two_in_three(line, info->bitDepth), 0);
        else if (info->packing == EPixelPacking::LsbStream)
            append_line(image, pack_lsb_stream(line, info->bitDepth), 0);
        else if (info->bitsPerPixel == 8)
            append_line(image, std::vector<uint8_t>(line.begin(), line.end()), 0);
        else
            append_line(image, words_le(line), 0);
    }
    return image;
}

std::vector<EPixelType> convertible_bayer_types()
{
    std::vector<EPixelType> out;
    for (const auto& info : kPixelFormatTable)
        if (info.colour == EPixelColour::Bayer)
            out.push_back(info.type);
    return out;
}

int luma(int r, int g, int b) { return (77 * r + 150 * g + 29 * b + 128) >> 8; }

} // namespace

class ConverterBayer : public ::testing::TestWithParam<EPixelType> {};

// A uniform colour survives demosaicing exactly, edges included; a wrong pattern mapping
// swaps or mixes the channels.
TEST_P(ConverterBayer, UniformColourIsReproducedEverywhere)
{
    const EPixelType type = GetParam();
    const SPixelFormatInfo* info = FindPixelFormat(type);
    const unsigned depth = info->bitDepth;
    const Rgb colour8{200, 100, 40};
    const Rgb colour{colour8.r << (depth - 8), colour8.g << (depth - 8), colour8.b << (depth - 8)};
    for (auto [w, h] : {std::pair{6u, 4u}, std::pair{5u, 3u}, std::pair{2u, 2u}, std::pair{37u, 5u}, std::pair{53u, 3u}}) {
        const auto px = mosaic(quad_of(info->bayer), w, h, [&](uint32_t, uint32_t) { return colour; });
        const auto src = bayer_bytes(type, px, w, h);

        const auto rgb = convert(type, PixelType_RGB8packed, 0, src, w, h);
        for (uint32_t i = 0; i < w * h; ++i) {
            ASSERT_EQ(rgb[3 * i], colour8.r) << info->name << " pixel " << i;
            ASSERT_EQ(rgb[3 * i + 1], colour8.g) << info->name << " pixel " << i;
            ASSERT_EQ(rgb[3 * i + 2], colour8.b) << info->name << " pixel " << i;
        }
        const auto mono = convert(type, PixelType_Mono8, 0, src, w, h);
        for (uint32_t i = 0; i < w * h; ++i)
            ASSERT_EQ(mono[i], luma(colour8.r, colour8.g, colour8.b)) << info->name;

        const auto mono16 = convert(type, PixelType_Mono16, 0, src, w, h);
        for (uint32_t i = 0; i < w * h; ++i)
            ASSERT_EQ(mono16[2 * i] | (mono16[2 * i + 1] << 8), luma(colour.r, colour.g, colour.b)) << info->name;
    }
}

// Bilinear interpolation is exact for a linear ramp away from the edges.
TEST_P(ConverterBayer, HorizontalAndVerticalRampsAreExactInside)
{
    const EPixelType type = GetParam();
    const SPixelFormatInfo* info = FindPixelFormat(type);
    const unsigned up = info->bitDepth - 8;
    const uint32_t w = 57, h = 7;
    for (bool horizontal : {true, false}) {
        auto value = [&](uint32_t x, uint32_t y) { return 20 + (horizontal ? 4 * static_cast<int>(x) : 12 * static_cast<int>(y)); };
        const auto px = mosaic(quad_of(info->bayer), w, h, [&](uint32_t x, uint32_t y) {
            const int v = value(x, y) << up;
            return Rgb{v, v, v};
        });
        const auto rgb = convert(type, PixelType_RGB8packed, 0, bayer_bytes(type, px, w, h), w, h);
        for (uint32_t y = 1; y + 1 < h; ++y)
            for (uint32_t x = 1; x + 1 < w; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(rgb[3 * (y * w + x) + c], value(x, y))
                        << info->name << (horizontal ? " horizontal" : " vertical") << " at " << x << "," << y;
    }
}

TEST_P(ConverterBayer, ShiftAppliesBeforeDemosaicing)
{
    const EPixelType type = GetParam();
    const SPixelFormatInfo* info = FindPixelFormat(type);
    const auto px = mosaic(quad_of(info->bayer), 4, 4, [](uint32_t, uint32_t) { return Rgb{3, 5, 200}; });
    const auto rgb = convert(type, PixelType_RGB8packed, static_cast<int>(info->bitDepth) - 8 + 4,
                             bayer_bytes(type, px, 4, 4), 4, 4);
    EXPECT_EQ(rgb[0], 48);
    EXPECT_EQ(rgb[1], 80);
    EXPECT_EQ(rgb[2], 255);
}

// Mono output is the luminance of the colour output, pixel for pixel, on a random mosaic;
// an 8-bit mosaic gives the same values in Mono16.
TEST_P(ConverterBayer, MonoIsTheLuminanceOfTheColourOutput)
{
    const EPixelType type = GetParam();
    const SPixelFormatInfo* info = FindPixelFormat(type);
    const uint32_t w = 53, h = 5;
    std::vector<uint16_t> px(w * h);
    uint32_t state = 12345;
    for (auto& v : px) {
        state = state * 1103515245u + 12345u;
        v = static_cast<uint16_t>((state >> 8) & ((1u << info->bitDepth) - 1));
    }
    const auto src = bayer_bytes(type, px, w, h);
    const auto rgb = convert(type, PixelType_RGB8packed, 0, src, w, h);
    const auto mono = convert(type, PixelType_Mono8, 0, src, w, h);
    for (uint32_t i = 0; i < w * h; ++i)
        ASSERT_EQ(mono[i], luma(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2])) << info->name << " pixel " << i;
    if (info->bitDepth == 8) {
        const auto mono16 = convert(type, PixelType_Mono16, 0, src, w, h);
        for (uint32_t i = 0; i < w * h; ++i)
            ASSERT_EQ(mono16[2 * i] | (mono16[2 * i + 1] << 8), mono[i]) << info->name << " pixel " << i;
    }
}

namespace {

// Bilinear demosaicing of one pixel of the mosaic px, written from its definition; the
// image is mirrored about its edge pixels (index -1 reads index 1), so a neighbour keeps
// its colour.
Rgb reference_colour(const char* quad, const std::vector<uint16_t>& px, uint32_t w, uint32_t h, int x, int y)
{
    auto fold = [](int i, uint32_t n) {
        if (i < 0)
            return n > 1 ? 1 : 0;
        return i >= int(n) ? (n > 1 ? int(n) - 2 : 0) : i;
    };
    auto v = [&](int i, int j) { return int{px[size_t(fold(j, h)) * w + size_t(fold(i, w))]}; };
    auto colour_at = [&](int i, int j) { return quad[(j & 1) * 2 + (i & 1)]; };
    int r = 0, g = 0, b = 0;
    auto set = [&](char which, int value) { (which == 'R' ? r : which == 'G' ? g : b) = value; };
    const char own = colour_at(x, y);
    set(own, v(x, y));
    if (own == 'G') {
        set(colour_at(x + 1, y), (v(x - 1, y) + v(x + 1, y) + 1) >> 1);
        set(colour_at(x, y + 1), (v(x, y - 1) + v(x, y + 1) + 1) >> 1);
    } else {
        set('G', (v(x - 1, y) + v(x + 1, y) + v(x, y - 1) + v(x, y + 1) + 2) >> 2);
        const int diagonals = v(x - 1, y - 1) + v(x + 1, y - 1) + v(x - 1, y + 1) + v(x + 1, y + 1);
        set(own == 'R' ? 'B' : 'R', (diagonals + 2) >> 2);
    }
    return Rgb{r, g, b};
}

} // namespace

// Random mosaics in widths around the vector steps of the line kernels (16 and 32 pixels,
// counted from the first X site of a line), so the vector part, the scalar rest and the
// edges are all compared with the definition, for lines that start with X and with green,
// in RGB8, Mono8 and (at the full source depth) Mono16.
TEST_P(ConverterBayer, RandomMosaicsMatchTheDefinitionInEveryWidth)
{
    const EPixelType type = GetParam();
    const SPixelFormatInfo* info = FindPixelFormat(type);
    const unsigned down = info->bitDepth - 8;
    std::mt19937 random(7);
    for (uint32_t w : {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 34u, 48u, 49u, 50u, 63u, 64u, 65u, 97u, 1281u}) {
        for (uint32_t h : {1u, 2u, 3u, 6u}) {
            std::vector<uint16_t> px(size_t{w} * h), px8(px.size());
            for (size_t i = 0; i < px.size(); ++i) {
                px[i] = static_cast<uint16_t>(random() & ((1u << info->bitDepth) - 1));
                px8[i] = static_cast<uint16_t>(px[i] >> down);
            }
            const auto src = bayer_bytes(type, px, w, h);
            const auto rgb = convert(type, PixelType_RGB8packed, 0, src, w, h);
            const auto mono = convert(type, PixelType_Mono8, 0, src, w, h);
            const auto mono16 = convert(type, PixelType_Mono16, 0, src, w, h);
            auto where = [&](uint32_t x, uint32_t y) {
                return std::string(info->name) + " " + std::to_string(w) + "x" + std::to_string(h) + " at " +
                       std::to_string(x) + "," + std::to_string(y);
            };
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    const Rgb want = reference_colour(quad_of(info->bayer), px8, w, h, int(x), int(y));
                    const Rgb want16 = reference_colour(quad_of(info->bayer), px, w, h, int(x), int(y));
                    const size_t i = size_t{y} * w + x;
                    ASSERT_EQ(mono[i], luma(want.r, want.g, want.b)) << where(x, y);
                    ASSERT_EQ(mono16[2 * i] | (mono16[2 * i + 1] << 8), luma(want16.r, want16.g, want16.b))
                        << where(x, y);
                    ASSERT_EQ(rgb[3 * i], want.r) << where(x, y);
                    ASSERT_EQ(rgb[3 * i + 1], want.g) << where(x, y);
                    ASSERT_EQ(rgb[3 * i + 2], want.b) << where(x, y);
                }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, ConverterBayer, ::testing::ValuesIn(convertible_bayer_types()),
                         [](const auto& info) {
                             return std::string(FindPixelFormat(info.param)->name);
                         });

TEST(ConverterColour, InterleavedOrdersToRgbAndLuminance)
{
    const std::vector<uint8_t> rgb = {255, 0, 0, 10, 20, 30};
    EXPECT_EQ(convert(PixelType_RGB8packed, PixelType_RGB8packed, 0, rgb, 2, 1), rgb);
    EXPECT_EQ(convert(PixelType_BGR8packed, PixelType_RGB8packed, 0, {0, 0, 255, 30, 20, 10}, 2, 1), rgb);
    EXPECT_EQ(convert(PixelType_RGBA8packed, PixelType_RGB8packed, 0, {255, 0, 0, 9, 10, 20, 30, 9}, 2, 1), rgb);
    EXPECT_EQ(convert(PixelType_BGRA8packed, PixelType_RGB8packed, 0, {0, 0, 255, 9, 30, 20, 10, 9}, 2, 1), rgb);
    EXPECT_EQ(convert(PixelType_RGB8packed, PixelType_Mono8, 0, rgb, 2, 1),
              (std::vector<uint8_t>{static_cast<uint8_t>(luma(255, 0, 0)), static_cast<uint8_t>(luma(10, 20, 30))}));
    EXPECT_EQ(convert(PixelType_RGB8packed, PixelType_Mono16, 2, {255, 255, 255}, 1, 1),
              (std::vector<uint8_t>{0xFC, 0x03}));
    EXPECT_EQ(convert(PixelType_RGB8packed, PixelType_RGB8packed, 1, rgb, 2, 1),
              (std::vector<uint8_t>{255, 0, 0, 20, 40, 60}));
}

namespace {

struct YuvCase {
    int y, u, v;
    Rgb rgb;
};

// Full-range BT.601 colours.
const YuvCase kYuvCases[] = {
    {128, 128, 128, {128, 128, 128}}, {255, 128, 128, {255, 255, 255}}, {0, 128, 128, {0, 0, 0}},
    {76, 85, 255, {255, 0, 0}},       {150, 44, 21, {0, 255, 0}},       {29, 255, 107, {0, 0, 255}},
};

void expect_near_rgb(const std::vector<uint8_t>& out, size_t pixel, const Rgb& want, const std::string& what)
{
    EXPECT_NEAR(out[3 * pixel], want.r, 2) << what;
    EXPECT_NEAR(out[3 * pixel + 1], want.g, 2) << what;
    EXPECT_NEAR(out[3 * pixel + 2], want.b, 2) << what;
}

} // namespace

TEST(ConverterColour, Yuv422KnownColoursInBothByteOrders)
{
    for (const YuvCase& c : kYuvCases) {
        const std::string what = "Y " + std::to_string(c.y) + " U " + std::to_string(c.u) + " V " + std::to_string(c.v);
        const auto y8 = static_cast<uint8_t>(c.y), u8 = static_cast<uint8_t>(c.u), v8 = static_cast<uint8_t>(c.v);
        const auto uyvy = convert(PixelType_YUV422packed, PixelType_RGB8packed, 0, {u8, y8, v8, y8}, 2, 1);
        expect_near_rgb(uyvy, 0, c.rgb, what);
        expect_near_rgb(uyvy, 1, c.rgb, what);
        const auto yuyv = convert(PixelType_YUV422_YUYV_Packed, PixelType_RGB8packed, 0, {y8, u8, y8, v8}, 2, 1);
        expect_near_rgb(yuyv, 0, c.rgb, what);
        expect_near_rgb(yuyv, 1, c.rgb, what);
    }
    // Each pixel of a pair keeps its own luminance.
    const auto pair = convert(PixelType_YUV422packed, PixelType_Mono8, 0, {128, 10, 128, 250}, 2, 1);
    EXPECT_NEAR(pair[0], 10, 1);
    EXPECT_NEAR(pair[1], 250, 1);
    // Long lines (vector kernel plus scalar tail) give the same bytes as pairs alone.
    std::vector<uint8_t> line;
    for (int i = 0; i < 2 * 37; ++i)
        line.push_back(static_cast<uint8_t>(i * 53 + 7));
    const auto whole = convert(PixelType_YUV422packed, PixelType_RGB8packed, 0, line, 37, 1);
    for (int pair = 0; pair < 18; ++pair) {
        const std::vector<uint8_t> one(line.begin() + 4 * pair, line.begin() + 4 * pair + 4);
        const auto alone = convert(PixelType_YUV422packed, PixelType_RGB8packed, 0, one, 2, 1);
        ASSERT_TRUE(std::equal(alone.begin(), alone.end(), whole.begin() + 6 * pair)) << "pair " << pair;
    }
    const auto whole_yuyv = convert(PixelType_YUV422_YUYV_Packed, PixelType_RGB8packed, 0, line, 37, 1);
    for (int pair = 0; pair < 18; ++pair) {
        const std::vector<uint8_t> one(line.begin() + 4 * pair, line.begin() + 4 * pair + 4);
        const auto alone = convert(PixelType_YUV422_YUYV_Packed, PixelType_RGB8packed, 0, one, 2, 1);
        ASSERT_TRUE(std::equal(alone.begin(), alone.end(), whole_yuyv.begin() + 6 * pair)) << "pair " << pair;
    }
    // Mono output of YUV is its Y, in Mono16 LSB-aligned.
    const auto y8 = convert(PixelType_YUV422packed, PixelType_Mono8, 0, line, 37, 1);
    const auto y16 = convert(PixelType_YUV422_YUYV_Packed, PixelType_Mono16, 0, line, 37, 1);
    for (size_t x = 0; x < 37; ++x) {
        ASSERT_EQ(y8[x], line[2 * x + 1]) << x;
        ASSERT_EQ(y16[2 * x] | (y16[2 * x + 1] << 8), line[2 * x]) << x;
    }
    // An odd last pixel borrows V from the pair before it.
    const auto odd = convert(PixelType_YUV422packed, PixelType_RGB8packed, 0, {85, 76, 255, 76, 85, 76}, 3, 1);
    expect_near_rgb(odd, 2, Rgb{255, 0, 0}, "odd width");
}

// Lines long enough for the vectorised kernels, with a tail they leave to the scalar code.
TEST(ConverterColour, LongLinesMatchThePerPixelDefinition)
{
    for (uint32_t w : {16u, 37u, 70u}) {
        const uint32_t h = 2;
        for (EPixelType type : {PixelType_RGB8packed, PixelType_BGR8packed, PixelType_RGBA8packed,
                                PixelType_BGRA8packed, PixelType_Mono8}) {
            const SPixelFormatInfo* info = FindPixelFormat(type);
            const unsigned step = info->bitsPerPixel / 8;
            std::vector<uint8_t> src(size_t{w} * h * step);
            for (size_t i = 0; i < src.size(); ++i)
                src[i] = static_cast<uint8_t>(i * 37 + 11);
            const auto rgb = convert(type, PixelType_RGB8packed, 0, src, w, h);
            for (uint32_t p = 0; p < w * h; ++p) {
                const uint8_t* s = &src[size_t{p} * step];
                Rgb want{s[0], step == 1 ? s[0] : s[1], step == 1 ? s[0] : s[2]};
                if (info->colour == EPixelColour::BGR || info->colour == EPixelColour::BGRA)
                    std::swap(want.r, want.b);
                ASSERT_EQ(rgb[3 * p], want.r) << info->name << " width " << w << " pixel " << p;
                ASSERT_EQ(rgb[3 * p + 1], want.g) << info->name << " width " << w << " pixel " << p;
                ASSERT_EQ(rgb[3 * p + 2], want.b) << info->name << " width " << w << " pixel " << p;
            }
            const auto mono = convert(type, PixelType_Mono8, 0, src, w, h);
            for (uint32_t p = 0; p < w * h; ++p) {
                const uint8_t* o = &rgb[3 * size_t{p}];
                ASSERT_EQ(mono[p], luma(o[0], o[1], o[2])) << info->name << " width " << w << " pixel " << p;
            }
            const auto mono16 = convert(type, PixelType_Mono16, 0, src, w, h);
            for (uint32_t p = 0; p < w * h; ++p)
                ASSERT_EQ(mono16[2 * p] | (mono16[2 * p + 1] << 8), mono[p]) << info->name << " pixel " << p;
        }
    }
}
