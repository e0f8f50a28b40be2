// Converter on monochrome sources: unpacking of every packing, bit selection and shift.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <pylon/ImageFormatConverter.h>

#include "PixelTestImages.h"

using namespace Pylon;
using namespace pixel_test;

namespace {

std::vector<uint8_t> convert(EPixelType source, EPixelType output, int shift, const std::vector<uint8_t>& src,
                             uint32_t w, uint32_t h, size_t padding = 0)
{
    CImageFormatConverter conv;
    conv.Initialize(source);
    conv.OutputPixelFormat = output;
    conv.AdditionalLeftShift = shift;
    std::vector<uint8_t> dst(conv.GetBufferSizeForConversion(source, w, h));
    conv.Convert(dst.data(), dst.size(), src.data(), src.size(), source, w, h, padding);
    return dst;
}

std::vector<uint16_t> as_words(const std::vector<uint8_t>& bytes)
{
    std::vector<uint16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

// One image of `w` x `h` 12-bit values in the given layout, each line padded.
std::vector<uint8_t> mono_image(EPixelType type, const std::vector<uint16_t>& px, uint32_t w, uint32_t h,
                                size_t padding)
{
    std::vector<uint8_t> image;
    for (uint32_t y = 0; y < h; ++y) {
        const std::vector<uint16_t> line(px.begin() + y * w, px.begin() + (y + 1) * w);
        const unsigned depth = BitDepth(type);
        std::vector<uint8_t> bytes;
        switch (type) {
        case PixelType_Mono10packed:
        case PixelType_Mono12packed: bytes = pack_two_in_three(line, depth); break;
        case PixelType_Mono10p:
        case PixelType_Mono12p: bytes = pack_lsb_stream(line, depth); break;
        default: bytes = words_le(line); break;
        }
        append_line(image, bytes, padding);
    }
    return image;
}

} // namespace

TEST(ConverterMono, Mono8CopiesAndDropsLinePadding)
{
    const std::vector<uint8_t> src = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono8, 0, src, 3, 2, 1), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    // Gapless lines are copied as one block.
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono8, 0, src, 4, 2), src);
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono16, 0, src, 3, 2, 1),
              (std::vector<uint8_t>{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0}));
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_RGB8packed, 0, {7, 200}, 2, 1),
              (std::vector<uint8_t>{7, 7, 7, 200, 200, 200}));
}

TEST(ConverterMono, ShiftSaturatesLeftAndDropsBitsRight)
{
    const std::vector<uint8_t> src = {0x10, 0x7F, 0x80, 0xFF};
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono8, 1, src, 4, 1), (std::vector<uint8_t>{0x20, 0xFE, 0xFF, 0xFF}));
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono8, -2, src, 4, 1), (std::vector<uint8_t>{0x04, 0x1F, 0x20, 0x3F}));
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono16, 8, {0xFF}, 1, 1), (std::vector<uint8_t>{0x00, 0xFF}));
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_Mono16, 9, {0xFF}, 1, 1), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST(ConverterMono, Mono12ToMono8TakesTheTopBitsOfTheSignificantOnes)
{
    const std::vector<uint8_t> src = words_le({0xABC, 0x00F, 0x0FF, 0xFFF});
    EXPECT_EQ(convert(PixelType_Mono12, PixelType_Mono8, 0, src, 4, 1), (std::vector<uint8_t>{0xAB, 0x00, 0x0F, 0xFF}));
    // Four more bits: low-level signals become visible, bright ones saturate.
    EXPECT_EQ(convert(PixelType_Mono12, PixelType_Mono8, 4, src, 4, 1), (std::vector<uint8_t>{0xFF, 0x0F, 0xFF, 0xFF}));
    EXPECT_EQ(convert(PixelType_Mono12, PixelType_Mono8, 2, src, 4, 1), (std::vector<uint8_t>{0xFF, 0x03, 0x3F, 0xFF}));
    EXPECT_EQ(convert(PixelType_Mono12, PixelType_Mono8, -1, src, 4, 1), (std::vector<uint8_t>{0x55, 0x00, 0x07, 0x7F}));
    EXPECT_EQ(convert(PixelType_Mono12, PixelType_RGB8packed, 0, words_le({0xABC}), 1, 1),
              (std::vector<uint8_t>{0xAB, 0xAB, 0xAB}));
}

TEST(ConverterMono, Mono16OutputHoldsTheRawValue)
{
    const std::vector<uint8_t> src = words_le({0xABC, 0x001, 0xFFF});
    EXPECT_EQ(as_words(convert(PixelType_Mono12, PixelType_Mono16, 0, src, 3, 1)),
              (std::vector<uint16_t>{0xABC, 0x001, 0xFFF}));
    EXPECT_EQ(as_words(convert(PixelType_Mono12, PixelType_Mono16, 4, src, 3, 1)),
              (std::vector<uint16_t>{0xABC0, 0x0010, 0xFFF0}));
    EXPECT_EQ(as_words(convert(PixelType_Mono12, PixelType_Mono16, 5, src, 3, 1)),
              (std::vector<uint16_t>{0xFFFF, 0x0020, 0xFFFF}));
    EXPECT_EQ(as_words(convert(PixelType_Mono12, PixelType_Mono16, -4, src, 3, 1)),
              (std::vector<uint16_t>{0xAB, 0x000, 0xFF}));
    EXPECT_EQ(convert(PixelType_Mono16, PixelType_Mono8, 0, words_le({0xABCD}), 1, 1), (std::vector<uint8_t>{0xAB}));
    EXPECT_EQ(as_words(convert(PixelType_Mono10, PixelType_Mono16, 0, words_le({0x3FF}), 1, 1)),
              (std::vector<uint16_t>{0x3FF}));
}

// Long lines (vector kernels plus scalar tails) against out = min((v << s) >> (d - 8), 255)
// for Mono8 and min(v << s, 65535) (or v >> -s) for Mono16, for every shift in range.
TEST(ConverterMono, LongLinesFollowTheShiftDefinition)
{
    const uint32_t w = 45;
    std::vector<uint16_t> px(w);
    uint32_t state = 99;
    for (auto& v : px) {
        state = state * 1103515245u + 12345u;
        v = static_cast<uint16_t>(state >> 12);
    }
    for (EPixelType type : {PixelType_Mono16, PixelType_Mono12, PixelType_Mono8}) {
        const unsigned d = BitDepth(type);
        std::vector<uint16_t> values;
        for (uint16_t v : px)
            values.push_back(static_cast<uint16_t>(v & ((1u << d) - 1)));
        std::vector<uint8_t> src;
        if (d == 8)
            for (uint16_t v : values)
                src.push_back(static_cast<uint8_t>(v));
        else
            src = words_le(values);
        for (int s = -31; s <= 31; ++s) {
            const auto mono8 = convert(type, PixelType_Mono8, s, src, w, 1);
            const auto mono16 = as_words(convert(type, PixelType_Mono16, s, src, w, 1));
            for (uint32_t x = 0; x < w; ++x) {
                const uint64_t shifted = s >= 0 ? (uint64_t{values[x]} << s) << 8 >> d : (uint64_t{values[x]} >> -s) << 8 >> d;
                ASSERT_EQ(mono8[x], std::min<uint64_t>(shifted, 255)) << BitDepth(type) << " bits, shift " << s << " x " << x;
                const uint64_t raw = s >= 0 ? uint64_t{values[x]} << s : uint64_t{values[x]} >> -s;
                ASSERT_EQ(mono16[x], std::min<uint64_t>(raw, 65535)) << BitDepth(type) << " bits, shift " << s;
            }
        }
    }
}

TEST(ConverterMono, ExtremeShiftsSaturateOrClear)
{
    const std::vector<uint8_t> src = words_le({0x0000, 0x0001, 0xFFFF});
    EXPECT_EQ(convert(PixelType_Mono16, PixelType_Mono8, 31, src, 3, 1), (std::vector<uint8_t>{0, 255, 255}));
    EXPECT_EQ(convert(PixelType_Mono16, PixelType_Mono8, -31, src, 3, 1), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(as_words(convert(PixelType_Mono16, PixelType_Mono16, 31, src, 3, 1)),
              (std::vector<uint16_t>{0, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(as_words(convert(PixelType_Mono16, PixelType_Mono16, -31, src, 3, 1)), (std::vector<uint16_t>{0, 0, 0}));
    EXPECT_EQ(convert(PixelType_Mono8, PixelType_RGB8packed, 31, {0, 1}, 2, 1),
              (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
}

TEST(ConverterMono, Mono8SignedKeepsTheOrder)
{
    EXPECT_EQ(convert(PixelType_Mono8signed, PixelType_Mono8, 0, {0x80, 0xFF, 0x00, 0x7F}, 4, 1),
              (std::vector<uint8_t>{0x00, 0x7F, 0x80, 0xFF}));
}

// Packed layouts at odd and even widths, with and without line padding; a 12-bit value
// pattern that makes every bit position visible.
class ConverterPackedMono : public ::testing::TestWithParam<EPixelType> {};

TEST_P(ConverterPackedMono, UnpacksEveryPixel)
{
    const EPixelType type = GetParam();
    const unsigned depth = BitDepth(type);
    for (uint32_t w : {1u, 2u, 3u, 5u, 8u, 13u, 37u, 64u}) {
        for (size_t padding : {size_t{0}, size_t{3}}) {
            const uint32_t h = 3;
            std::vector<uint16_t> px;
            for (uint32_t i = 0; i < w * h; ++i)
                px.push_back(static_cast<uint16_t>((i * 0x9E5u + 0x123u) & ((1u << depth) - 1)));
            const std::vector<uint8_t> src = mono_image(type, px, w, h, padding);
            ASSERT_EQ(src.size(), ComputeBufferSize(type, w, h, padding));
            EXPECT_EQ(as_words(convert(type, PixelType_Mono16, 0, src, w, h, padding)), px)
                << "width " << w << " padding " << padding;
            std::vector<uint8_t> top;
            for (uint16_t v : px)
                top.push_back(static_cast<uint8_t>(v >> (depth - 8)));
            EXPECT_EQ(convert(type, PixelType_Mono8, 0, src, w, h, padding), top) << "width " << w;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packings, ConverterPackedMono,
                         ::testing::Values(PixelType_Mono10packed, PixelType_Mono12packed, PixelType_Mono10p,
                                           PixelType_Mono12p, PixelType_Mono10, PixelType_Mono12),
                         [](const auto& info) { return std::to_string(info.index); });
